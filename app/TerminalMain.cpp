#include "app/Application.h"
#include "app/Faces.h"
#include "app/HistoryCommand.h"
#include "app/RestoreCommand.h"
#include "app/TerminalFace.h"
#include "app/TerminalSession.h"
#include "app/TerminalStation.h"
#include "workflow/JournalKeeper.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard output belongs to the face. The USB module's trace, written to standard output
// as well, would tear the bar and the JSON apart: it goes to /dev/null instead.
std::FILE* takeStandardOutput() {
    std::fflush(stdout);
    const int own = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (own < 0 || null < 0)
        return stdout;
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    ::fcntl(own, F_SETFD, FD_CLOEXEC);
    std::FILE* out = ::fdopen(own, "w");
    return out ? out : stdout;
}

TerminalFace::Style styleFor(TerminalOptions::Output output, std::FILE* out) {
    switch (output) {
    case TerminalOptions::Output::Json:
        return TerminalFace::Style::Json;
    case TerminalOptions::Output::Quiet:
        return TerminalFace::Style::Quiet;
    case TerminalOptions::Output::Auto:
        break;
    }
    const char* term = std::getenv("TERM");
    const bool dumb = term && qstrcmp(term, "dumb") == 0;
    return ::isatty(fileno(out)) && !dumb ? TerminalFace::Style::Bar : TerminalFace::Style::Lines;
}

// Under the guard, so no running updater holds a journal meanwhile.
int discardJournals(const Environment& env) {
    JournalKeeper keeper(JournalStore(env.journalFolder()), BackupStore::forDataHome(env.dataHome, env.home));
    for (const StoredJournal& gone : keeper.discardAll())
        std::printf("discarded %s; its saved data stays in %s\n", qPrintable(gone.path),
                    qPrintable(gone.journal.storeEntry));
    return exitstatus::kOk;
}

// The run's last word on the shared record: how many of its attempts it has not had.
void sayWaitingAttempts(Application& application, TerminalFace& face) {
    SharedRecordWatch* watch = application.sharedRecord();
    if (!watch)
        return;
    watch->look();
    const SharedRecordStatus& status = watch->status();
    face.say(sharedrecord::summaryLine(status), status.failing && status.waiting > 0);
    face.emitEvent("sharedRecord", {{QStringLiteral("reachable"), !status.failing}, {QStringLiteral("waiting"), status.waiting}});
}

} // namespace

int driveFromTerminal(Application& application, TerminalFace& face, const TerminalOptions& options) {
    if (application.station()) {
        auto* station = new TerminalStation(application, face, options);
        return runApplication(application, [station] { station->start(); },
                              [station](int loopStatus) { return station->exitCode(loopStatus); });
    }
    auto* session = new TerminalSession(application, face, options);
    return runApplication(application, [session] { session->start(); },
                          [session](int loopStatus) { return session->exitCode(loopStatus); });
}

int runTerminal(int& argc, char** argv, Launch launch) {
    new QCoreApplication(argc, argv);
    TerminalOptions options = launch.terminal;
    options.autoUpdate = launch.stationAuto;
    // Only reads the record: it works while an updater runs, so it takes no guard.
    if (options.history)
        return runHistory(options, launch.env.historyPath(), stdout, stderr);
    auto* guard = new InstanceGuard;
    if (std::optional<RunningInstance> running = takeGuard(*guard, InstanceGuard::Face::Terminal)) {
        std::fprintf(stderr, "hotspot-updater: %s\n", qPrintable(alreadyRunningText(*running, launch.env.bundlePath)));
        return refusedStartStatus(*running);
    }
    // A reader that goes away (`| head`) must not end the process in the middle of an image.
    std::signal(SIGPIPE, SIG_IGN);
    if (options.discardJournals)
        return discardJournals(launch.env);
    std::FILE* out = takeStandardOutput();
    if (options.restore) {
        const int status = runRestore(launch.env, options, out);
        std::fflush(out);
        return status;
    }
    startRunLog(launch);
    TerminalFace::Style style = styleFor(options.output, out);
    // A station's units print at once: lines, never one bar.
    if (launch.stationMaxUpdates > 0 && style == TerminalFace::Style::Bar)
        style = TerminalFace::Style::Lines;
    auto* face = new TerminalFace(style, out, stderr);
    auto* application = new Application(std::move(launch.env), face, launch.stationMaxUpdates);
    application->keepHistory(launch.historyDb);
    if (application->station())
        application->station()->limitToPorts(launch.stationPorts);
    const int status = driveFromTerminal(*application, *face, options);
    sayWaitingAttempts(*application, *face);
    std::fflush(out);
    return status;
}

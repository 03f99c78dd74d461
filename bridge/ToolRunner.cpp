#include "bridge/ToolRunner.h"

#include <QProcess>
#include <QStringDecoder>

#include <csignal>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

// Pids of children a run is waiting for, so killRunningTools can reach them from any thread.
std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

std::set<pid_t>& registry() {
    static std::set<pid_t> pids;
    return pids;
}

class RunningChild {
public:
    explicit RunningChild(pid_t pid) : m_pid(pid) {
        std::lock_guard guard(registryLock());
        registry().insert(m_pid);
    }
    ~RunningChild() {
        std::lock_guard guard(registryLock());
        registry().erase(m_pid);
    }
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

private:
    pid_t m_pid;
};

void configure(QProcess& process, bool capture) {
    // A tool must never wait for input from our terminal.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(capture ? QProcess::MergedChannels : QProcess::ForwardedChannels);
#if defined(__linux__) && !defined(__SANITIZE_THREAD__)
    // The child dies with the thread that started it; that thread waits for it, so this
    // only fires when we are gone (or killed) without reaching killRunningTools.
    // Not under ThreadSanitizer: Qt starts the child vfork-style (on our memory and thread
    // storage until exec), and instrumented code run there corrupts the starting thread's
    // race-detector state, which then reports false races (tests/tsan/ChildStartRepro.cpp).
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
#endif
}

} // namespace

namespace toolrunner {

std::optional<QByteArray> runTool(const QString& program, const QStringList& args, bool capture) {
    QProcess process;
    configure(process, capture);
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        throw ToolLaunchError(QStringLiteral("cannot start %1: %2")
                                  .arg(program, process.errorString())
                                  .toStdString());
    RunningChild registered(static_cast<pid_t>(process.processId()));

    if (!capture) {
        process.waitForFinished(-1);
        return std::nullopt;
    }
    // Collect while waiting, so a chatty child never blocks on a full pipe.
    QByteArray output;
    while (process.waitForReadyRead(-1))
        output += process.readAll();
    process.waitForFinished(-1);
    output += process.readAll();
    return output;
}

ToolResult decodeOutput(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

int runningToolCount() {
    std::lock_guard guard(registryLock());
    return static_cast<int>(registry().size());
}

} // namespace toolrunner

void killRunningTools() {
    std::lock_guard guard(registryLock());
    for (pid_t pid : registry())
        ::kill(pid, SIGKILL);
}

namespace {

ToolResult run(const QString& program, const QStringList& args, ToolResult* result) {
    std::optional<QByteArray> output = toolrunner::runTool(program, args, result != nullptr);
    return output ? toolrunner::decodeOutput(*output) : std::nullopt;
}

} // namespace

int AppDelegate::adbCommand(const std::optional<QStringList>& args, ToolResult* result) {
    if (!args)
        return -1;
    ToolResult text = run(adbPath(), *args, result);
    if (result)
        *result = std::move(text);
    return 0;
}

int AppDelegate::fastbootCommand(const std::optional<QStringList>& args, ToolResult* result) {
    if (!args)
        return -1;
    // Every caller reads fastboot's answer; a missing slot still gets it captured.
    ToolResult local;
    ToolResult* slot = result ? result : &local;
    *slot = run(fastbootPath(), *args, slot);
    return 0;
}

int AppDelegate::shellCommand(const std::optional<QString>& commandLine, ToolResult* result) {
    if (!commandLine)
        return -1;
    ToolResult text = run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), *commandLine}, result);
    if (result)
        *result = std::move(text);
    return 0;
}

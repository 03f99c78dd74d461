// The updater's terminal run with --yes on the simulated hotspot, as its own process so that
// the simulator can kill it (and the tool it runs) at any step. Waits take a millisecond.
//
//     update_kill_runner BUNDLE HOME [--station SYSFS [MAX [PORTS]] [--auto]]
//     update_kill_runner BUNDLE HOME --finish|--other PORT
//     update_kill_runner BUNDLE HOME --restore [ENTRY PORT [--other-calibration]]
//     update_kill_runner BUNDLE HOME --json
//
// With --station it is a station whose units are found in the simulator's sysfs tree, MAX of
// them (default 8) updating at once; --auto runs it hands-free until SIGTERM. --finish and --other answer whose unit is at PORT.
// Exits as the terminal does; the instance guard is left out, so runs of other tests on this
// machine do not refuse it.

#include "app/Application.h"
#include "app/Faces.h"
#include "app/RestoreCommand.h"
#include "app/TerminalFace.h"
#include "bridge/RunLog.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// A millisecond, or a hundredth of the wait: a station's units and its watch poll at once,
// and at a millisecond their tools would starve each other.
class QuickClock : public Clock {
public:
    explicit QuickClock(double scale) : m_scale(scale) {}
    void sleep(double seconds) override {
        std::this_thread::sleep_for(std::max(std::chrono::duration<double>(seconds * m_scale),
                                             std::chrono::duration<double>(0.001)));
    }

private:
    double m_scale;
};

} // namespace

int main(int argc, char** argv) {
    // A trailing --json prints the terminal's JSON objects instead of its lines.
    const bool json = argc >= 4 && std::strcmp(argv[argc - 1], "--json") == 0;
    if (json)
        --argc;
    const bool otherCalibration = argc == 7 && std::strcmp(argv[argc - 1], "--other-calibration") == 0;
    if (otherCalibration)
        --argc;
    // Then a trailing --auto runs a station hands-free, until a signal ends it.
    const bool handsFree = argc >= 6 && std::strcmp(argv[argc - 1], "--auto") == 0;
    if (handsFree)
        --argc;
    const bool station = (argc >= 5 && argc <= 7) && std::strcmp(argv[3], "--station") == 0;
    const bool answers = argc == 5 && (std::strcmp(argv[3], "--finish") == 0 || std::strcmp(argv[3], "--other") == 0);
    const bool restore = (argc == 4 || argc == 6) && std::strcmp(argv[3], "--restore") == 0;
    if (argc != 3 && !station && !answers && !restore) {
        std::fputs("usage: update_kill_runner BUNDLE HOME [--station SYSFS [MAX] | --finish PORT | --other PORT]\n", stderr);
        return 64;
    }
    new QCoreApplication(argc, argv);
    Environment env;
    env.bundlePath = QString::fromLocal8Bit(argv[1]);
    env.home = QString::fromLocal8Bit(argv[2]);
    env.hostTmp = *env.home;
    env.sysfsRoot = station ? QString::fromLocal8Bit(argv[4]) : *env.home + QStringLiteral("/sys"); // no host's devices
    env.driverPaths = {env.bundlePath + QStringLiteral("/Contents/Resources/version")}; // any file there
    env.systemKeysDir = *env.home + QStringLiteral("/no-keys");
    env.keyOwner = ::getuid();
    env.clock = std::make_shared<QuickClock>(station ? 0.01 : 0.0);
    env.toolLimits = ToolLimits{10.0, 5.0, 10.0, 3.0, 0.0};
    env.exitProgram = [](int code) { std::_Exit(code); };

    TerminalOptions options;
    options.yes = true;
    options.waitSeconds = 60;
    options.autoUpdate = handsFree;
    if (restore) {
        options.restore = true;
        options.restoreEntry = argc == 6 ? QString::fromLocal8Bit(argv[4]) : QString();
        options.restorePort = argc == 6 ? QString::fromLocal8Bit(argv[5]) : QString();
        options.restoreOtherCalibration = otherCalibration;
        options.output = json ? TerminalOptions::Output::Json : TerminalOptions::Output::Auto;
        // The unit at the port is found, and switched, through the simulator's sysfs tree.
        env.sysfsRoot = qEnvironmentVariable("HOTSPOT_SIM_DIR") + QStringLiteral("/sys");
        return runRestore(env, options, stdout);
    }
    if (answers)
        (std::strcmp(argv[3], "--finish") == 0 ? options.finishAt : options.otherAt) = QString::fromLocal8Bit(argv[4]);
    // A station's answers, beside its own arguments.
    if (station) {
        const QStringList finish = qEnvironmentVariable("KILL_RUNNER_FINISH").split(u'=');
        options.finishAt = finish.front();
        options.finishFrom = finish.value(1);
        options.otherAt = qEnvironmentVariable("KILL_RUNNER_OTHER");
    }
    // The run's log, where the application keeps it, in the test's home.
    runlog::start(*env.home + QStringLiteral("/.local/state/hotspot-updater/logs"), {QStringLiteral("update_kill_runner")}, false);
    auto* face = new TerminalFace(json ? TerminalFace::Style::Json : TerminalFace::Style::Lines, stdout, stderr);
    auto* application = new Application(std::move(env), face, !station ? 0 : argc >= 6 ? std::atoi(argv[5]) : Station::kDefaultMaxUpdates);
    application->keepHistory(QString());
    if (station && argc == 7)
        application->station()->limitToPorts(QString::fromLocal8Bit(argv[6]).split(u','));
    const int status = driveFromTerminal(*application, *face, options);
    std::fflush(stdout);
    return status;
}

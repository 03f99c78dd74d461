// A whole update on the simulated hotspot whose restarts and re-enumerations take no time,
// in process, with a clock that really sleeps. For each run prints one line:
// "<wall seconds from Start to the result> <sum of the waits the procedure made> <result status>"
//
//   hotspot-bench-update [RUNS]

#include "AppHarness.h"
#include "SimControl.h"
#include "usb/usbutils.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>

using namespace testing_support;

namespace {

constexpr const char* kScenario =
    R"({"base": "ftm", "restart_delay": {"probes": 0}, "reenum_delay": {"probes": 0}})";

int runOnce() {
    QTemporaryDir simDir;
    qputenv("HOTSPOT_SIM_DIR", simDir.path().toLocal8Bit());
    SimControl sim(simDir.path());
    QString error;
    if (!sim.loadScenario(QString::fromUtf8(kScenario), &error)) {
        std::fprintf(stderr, "hotspot-bench-update: %s\n", qPrintable(error));
        return 1;
    }
    TempBundle bundle;
    bundle.installTool(SimControl::adbPath(), QStringLiteral("adb"));
    bundle.installTool(SimControl::fastbootPath(), QStringLiteral("fastboot"));
    QByteArray version = "HS_FW_1.0.4\n";
    for (const char* part : {"aboot", "boot", "modem", "system"})
        version += bundle.addImage(part, QByteArray(part) + ".img", QByteArray(64 * 1024, part[0])) + '\n';
    bundle.writeVersion(version);

    AppHarness h(bundle);
    do_init_utils();
    h.runInitialize();
    h.runDetectPass();
    if (h.app().session().state() != SessionState::Offered) {
        std::fprintf(stderr, "hotspot-bench-update: the device was not offered for update\n");
        return 1;
    }
    h.clock->clear();
    h.clock->onSleep([](double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); });

    QElapsedTimer timer;
    timer.start();
    h.app().onUpdateButtonClick();
    // Wait for events rather than spin, so the GUI thread does not take a core from the tools.
    QTimer tick;
    tick.start(5);
    while (h.app().session().liveWorkers() != 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double wall = timer.nsecsElapsed() / 1e9;
    const std::vector<double> waits = h.clock->sleeps();
    std::printf("%.6f %.6f %d\n", wall, std::accumulate(waits.begin(), waits.end(), 0.0), stateNumber(h.app().session().state()));
    std::fflush(stdout);
    h.clock->onSleep(nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    application();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    for (int i = 0; i < runs; ++i)
        if (runOnce() != 0)
            return 1;
    return 0;
}

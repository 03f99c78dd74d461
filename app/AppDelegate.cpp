// The controller's lifecycle: launch, termination, the worker threads and the button.

#include "app/AppDelegate.h"
#include "app/RunLog.h"
#include "app/StringTable.h"
#include "app/TerminalOptions.h"
#include "bridge/Contract.h"
#include "bridge/ToolRunner.h"
#include "usb/usbutils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

namespace {

// The generation a detection worker was started in; 0 on every other thread.
thread_local uint64_t t_detectGeneration = 0;

// Host preparation and the final adb run must not abort start-up or exit when a tool
// (the shell, adb) cannot be started; their results are not looked at anyway.
template <class Step>
void ignoringLaunchErrors(const char* what, Step&& step) {
    try {
        step();
    } catch (const ToolLaunchError& e) {
        std::fprintf(stderr, "hotspot-updater: %s skipped: %s\n", what, e.what());
    }
}

} // namespace

AppDelegate::AppDelegate(Environment env, Face* face, QObject* parent)
    : QObject(parent), m_env(std::move(env)), m_face(face) {
    stringtable::install(resourcesPath());
    m_face->attach(*this, resourcesPath());
}

// Never reached in the application (the process ends around it); tests destroy the
// controller only once liveWorkers() is 0.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setStatus(0);
    m_face->applyWindowStyle();
    ignoringLaunchErrors("stopping the device agent", [this] { killDeviceAgent(); });
    updateStatusTxt(lookup("stat Initializing ..."));
    startAnim();
    updateWaringText(std::nullopt);
    enbaleButton(false);
    updateButtonTitle(lookup("btn Initializing"));
    updateProgressBar(-1);
    m_detectThread = false;
    startDetect();
    startInitialize();
}

void AppDelegate::applicationWillTerminate() {
    runlog::write("app", QStringLiteral("closing; the screen shows: %1").arg(m_shownStatus));
    // Its complaint when no server runs belongs in the log, not after a terminal's last line.
    ignoringLaunchErrors("stopping the adb server", [this] {
        ToolResult ignored;
        adbCommand(contract::adbKillServer(), &ignored);
    });
    // The device may have re-enumerated since the last rescan (after a mode-2 switch, say);
    // a stale record cannot be opened and the permanent switch would be lost.
    do_enum_devices();
    {
        std::lock_guard guard(m_switchLock);
        m_finalSwitchSent = true;
        usb_mode_switch_factory(kOwnVendor, kOwnProduct, USB_SWITCH_PRM_USR);
    }
    stopDetect();
    ignoringLaunchErrors("restoring the mode-switch agent", [this] { recoverDeviceAgent(); });
}

int AppDelegate::detectionSwitch(uint32_t mode) {
    std::lock_guard guard(m_switchLock);
    if (m_finalSwitchSent)
        return 0;
    return usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode);
}

int AppDelegate::startDetect() {
    if (m_detectThread)
        return 0;
    m_detectThread = true;
    // Bump the generation before clearing the flag: a worker from before the last
    // stopDetect that reads the flag after it was cleared then sees it is stale.
    m_detectGeneration.fetch_add(1);
    setDetectStopFlag(false);
    spawnWorker(&AppDelegate::detectProc);
    return 0;
}

void AppDelegate::stopDetect() {
    if (!m_detectThread)
        return;
    setDetectStopFlag(true);
    m_env.clock->sleep(1.0); // grace period, not a join
    m_detectThread = false;
}

bool AppDelegate::detectShouldStop() const {
    // Flag first, generation second: see startDetect.
    if (detectStopFlag())
        return true;
    return t_detectGeneration != 0 && t_detectGeneration != m_detectGeneration.load();
}

int AppDelegate::startInitialize() {
    if (status() != 0)
        return -1;
    spawnWorker(&AppDelegate::initializeProc);
    return 0;
}

int AppDelegate::startUpdate() {
    m_updateRunning.store(true);
    if (!spawnWorker(&AppDelegate::updateProc))
        endUpdate(1); // no worker: report it as an error raised
    return 0;
}

void AppDelegate::endUpdate(int32_t result) {
    m_updateRunning.store(false);
    updateWhenDone(result);
    if (m_pendingSignal != 0)
        QCoreApplication::exit(exitstatus::kSignal + m_pendingSignal);
}

void AppDelegate::requestTermination(int signal) {
    if (m_updateRunning.load()) {
        // Never cut an image write short; the update ends within its bounded waits.
        if (m_pendingSignal == 0)
            std::fprintf(stderr, "hotspot-updater: signal %d: ending once the update has finished\n", signal);
        m_pendingSignal = signal;
        return;
    }
    QCoreApplication::exit(exitstatus::kSignal + signal);
}

void AppDelegate::finishAfterEventLoop(double graceSeconds) {
    toolrunner::beginShutdown();
    QElapsedTimer timer;
    timer.start();
    while (toolrunner::runningToolCount() > 0 && timer.elapsed() < qint64(graceSeconds * 1000.0))
        QThread::msleep(10);
    // A detection pass that was still running may have started the server again.
    ignoringLaunchErrors("stopping the adb server", [this] {
        toolrunner::RunOptions options;
        options.duringShutdown = true;
        options.limitSeconds = m_env.toolLimits.listing;
        toolrunner::runTool(adbPath(), contract::adbKillServer(), options);
    });
}

void AppDelegate::onUpdateButtonClick() {
    if (status() == 4) {
        QCoreApplication::exit(0);
        return;
    }
    if (status() == 3) {
        exchangeStatus(3, 1);
        return;
    }
    if (status() != 2)
        return;
    // The detection worker may have seen the device leave since the state was read.
    if (!exchangeStatus(2, 3))
        return;
    startAnim();
    updateWaringText(QStringLiteral("warning Please do not remove, update is in progress."));
    enbaleButton(false);
    updateButtonTitle(lookup("btn Processing"));
    setTextLabel(std::nullopt, true);
    m_face->updateStarted();
    updateStatusTxt(QStringLiteral("Device Start Updating..."));
    startUpdate();
}

bool AppDelegate::spawnWorker(void (AppDelegate::*body)()) {
    const uint64_t generation = body == &AppDelegate::detectProc ? m_detectGeneration.load() : 0;
    m_liveWorkers.fetch_add(1);
    try {
        std::thread([this, body, generation] {
            t_detectGeneration = generation;
            // Nothing may escape a worker: an uncaught exception would abort the process.
            // The update body handles its own failures; a tool that cannot be started
            // during the package check or detection ends that worker here.
            try {
                (this->*body)();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "hotspot-updater: worker ended: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "hotspot-updater: worker ended by an unknown error\n");
            }
            m_liveWorkers.fetch_sub(1); // last use of the controller on this thread
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        m_liveWorkers.fetch_sub(1);
        std::fprintf(stderr, "hotspot-updater: cannot start a worker: %s\n", e.what());
        return false;
    }
}

void AppDelegate::logStatus(int32_t from, int32_t to) {
    if (from != to)
        runlog::write("state", QStringLiteral("%1 -> %2").arg(from).arg(to));
}

void copyVersion(char (&dest)[260], const QByteArray& utf8) {
    // At most 255 bytes and the NUL; a version never runs past the buffer.
    constexpr size_t kMaxBytes = 255;
    const size_t n = qstrnlen(utf8.constData(), std::min<size_t>(utf8.size(), kMaxBytes));
    std::memcpy(dest, utf8.constData(), n);
    std::memset(dest + n, 0, 256 - n);
}

QString versionText(const char (&version)[260]) {
    return QString::fromUtf8(version, static_cast<qsizetype>(strnlen(version, 256)));
}

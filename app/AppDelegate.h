#pragma once
// The one controller of the application. Its member functions are defined in the file of
// their subsystem: app/ (lifecycle, screen), bridge/ (tools, probes, host, data),
// workflow/ (package check, detection, update, completion).

#include "app/Environment.h"
#include "app/Face.h"
#include "workflow/ImageTable.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class BackupStore;
struct BackupRun;
class QMessageBox;

// A tool that could not be started. The update procedure catches it; elsewhere the
// caller handles it (see the callers).
class ToolLaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Result slot of a tool run: nullopt when the output was not valid UTF-8.
using ToolResult = std::optional<QString>;

class AppDelegate : public QObject {
public:
    // The face (window or terminal) must outlive the controller.
    AppDelegate(Environment env, Face* face, QObject* parent = nullptr);
    ~AppDelegate() override;

    const Environment& environment() const { return m_env; }
    QString resourcesPath() const { return m_env.bundlePath + QStringLiteral("/Contents/Resources"); }

    // ---- lifecycle (app/AppDelegate.cpp) ----
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    void applicationWillTerminate();
    int startDetect();
    void stopDetect();
    int startInitialize();
    int startUpdate();
    void onUpdateButtonClick();
    // A termination signal: ends the application as closing the window does, or, while an
    // update runs, once the update has ended (every step of it is bounded).
    void requestTermination(int signal);
    bool updateRunning() const { return m_updateRunning.load(); }
    // After the event loop: ends the workers' running tools and refuses new ones (waiting at
    // most `graceSeconds` for the runs to return), then stops any adb server a late detection
    // pass started. The workers themselves are left to the process's end.
    void finishAfterEventLoop(double graceSeconds);
    // A mode switch for the detection loop; after the termination's permanent switch none
    // goes out any more (returns 0 then), so that one stays the device's last command.
    int detectionSwitch(uint32_t mode);
    void onNotifyUSBDeviceAdded() {}
    void onNotifyUSBDeviceRemoved() {}

    int32_t status() const { return m_status.load(); }
    void setStatus(int32_t s) { logStatus(m_status.exchange(s), s); }
    // Moves the state from `expected` to `desired` only if nobody changed it meanwhile.
    bool exchangeStatus(int32_t expected, int32_t desired) {
        const bool moved = m_status.compare_exchange_strong(expected, desired);
        if (moved)
            logStatus(expected, desired);
        return moved;
    }
    bool detectStopFlag() const { return m_detectStopFlag.load(); }
    void setDetectStopFlag(bool f) { m_detectStopFlag.store(f); }
    // The detection worker's loop condition: true once this worker was asked to stop, even
    // when a later startDetect has already cleared the flag for its successor. From a thread
    // that is not a detection worker it is just detectStopFlag().
    bool detectShouldStop() const;

    // Workers still running their body (for an orderly shutdown in tests).
    int liveWorkers() const { return m_liveWorkers.load(); }
    bool detectThreadRecorded() const { return m_detectThread; }

    // ---- screen (app/Screen.cpp) ----
    void updateStatusTxt(const QString& text);
    void updateInfoTxt(const QString& text);
    void setTextLabel(const std::optional<QString>& text, bool showImage);
    void updateWaringText(const std::optional<QString>& key);
    void updateButtonTitle(const std::optional<QString>& title);
    void enbaleButton(bool enabled);
    void updateProgressBar(double fraction);
    void startAnim();
    void stopAnim();
    void updateStartAnim(bool start);
    void popupAlert(const QString& key);
    // The alert's answer: the first button ends the application.
    static constexpr qint64 kAlertFirstButton = 1000;
    static constexpr qint64 kAlertOtherButton = 1001;
    void alertDidEnd(QMessageBox* alert, qint64 returnCode, void* contextInfo);

    // String-table lookup: the key itself when the table or the entry is missing.
    static QString lookup(const char* key);
    // Fills the one "%s" of a looked-up text with `arg` (never used as a printf format).
    static QString fill(const QString& format, const QString& arg);
    // lookup(key) with its "%s" filled.
    static QString lookupFilled(const char* key, const QString& arg);

    // Runs `fn` on the GUI thread and waits for it; direct when already there.
    void post(const std::function<void()>& fn);
    // Receives the calls that post() hands over from workers.
    bool event(QEvent* e) override;
    // Posting forms used by workers.
    void postStatus(const QString& text) { post([&] { updateStatusTxt(text); }); }
    void postInfo(const QString& text) { post([&] { updateInfoTxt(text); }); }
    void postWarning(const std::optional<QString>& key) { post([&] { updateWaringText(key); }); }
    void postButtonTitle(const std::optional<QString>& t) { post([&] { updateButtonTitle(t); }); }
    void postEnableButton(bool e) { post([&] { enbaleButton(e); }); }
    void postProgress(double x) { post([&] { updateProgressBar(x); }); }
    void postStartAnim(bool s) { post([&] { updateStartAnim(s); }); }
    void postAlert(const QString& key) { post([&] { popupAlert(key); }); }

    // ---- tool runner (bridge/ToolRunner.cpp) ----
    // -1 when the list is absent (slot untouched), else 0 whatever the tool did.
    // Throws ToolLaunchError when the tool cannot be started.
    int adbCommand(const std::optional<QStringList>& args, ToolResult* result);
    int fastbootCommand(const std::optional<QStringList>& args, ToolResult* result);
    int shellCommand(const std::optional<QString>& commandLine, ToolResult* result);
    QString adbPath() const { return m_env.bundlePath + QStringLiteral("/Contents/Resources/adb"); }
    QString fastbootPath() const {
        return m_env.bundlePath + QStringLiteral("/Contents/Resources/fastboot");
    }

    // ---- device probes (bridge/DeviceProbes.cpp) ----
    uint64_t detectDevice();
    int32_t detectAdb();
    int32_t detectDeviceBootMode();
    int32_t rebootDevice();
    int32_t switchDevice();
    int32_t flash(const QString& partition, const QString& imagePath);
    int32_t fastbootReboot();
    int32_t fastbootRebootBootloader();
    static QString parseVersionNumber(const QString& text);

    // ---- host preparation (bridge/HostPreparation.cpp) ----
    int32_t prepareAdb();
    bool isDriverInstalled();
    bool killDeviceAgent();
    bool recoverDeviceAgent();
    bool isDeviceAgentAlive();
    // The command that puts the device-access rule in effect for the logged-in user.
    QString accessFixCommand() const;

    // ---- device data (bridge/DeviceData.cpp) ----
    bool backAdbData();
    bool restoreAdbData();
    void setAsideStaleCopies();
    // This run's entry in the store when some of its copies are not back on the device.
    QString unrestoredBackup() const;
    BackupStore backupStore() const;
    // Where the completion step tells the user the unrestored copies are; set by the update
    // worker before it posts its result.
    QString m_keptBackup;
    QString wifiBackupPath() const { return m_env.hostTmp + QStringLiteral("/tq738hw_wifi_bk"); }
    QString configBackupPath() const {
        return m_env.hostTmp + QStringLiteral("/tq738hw_usr_cfg_bk");
    }

    // ---- workflow ----
    void initializeProc();                                  // workflow/PackageCheck.cpp
    static std::optional<QString> getMd5Sum(const QString& path);
    void detectProc();                                      // workflow/DetectionLoop.cpp
    void detectPass();
    // The host refused us the device (a node or a tool's "no permissions"): said once, until
    // the device leaves or becomes reachable.
    void showNoPermission();
    // Set by the last detectAdb: a device list said "no permissions".
    bool accessDenied() const { return m_accessDenied.load(); }
    // Set by the last detectAdb: adb lists the device, but not (yet) as "device". It already
    // shows its adb personality: switching it again would only restart its connection.
    bool adbListedNotReady() const { return m_adbListedNotReady.load(); }
    void updateProc();                                      // workflow/UpdateProcedure.cpp
    void updateWhenDone(int32_t code);                      // workflow/Completion.cpp

    // Controller data.
    std::atomic<uint64_t> m_total{0};
    char m_tool_version[260] = {};
    char m_dev_version[260] = {};
    ImageEntry s_image_table[kImageTableSize] = {};

private:
    // Starts `body` on a detached thread, counted in liveWorkers(); false when none started.
    bool spawnWorker(void (AppDelegate::*body)());
    void endUpdate(int32_t result); // GUI thread
    static void logStatus(int32_t from, int32_t to);

    Environment m_env;
    Face* m_face;
    std::shared_ptr<BackupRun> m_backupRun; // the update worker's current run
    QString m_shownStatus; // GUI thread: the status line as last shown
    std::atomic<int32_t> m_status{0};
    std::atomic<bool> m_detectStopFlag{false};
    std::atomic<uint64_t> m_detectGeneration{0}; // bumped by each startDetect
    std::atomic<int> m_liveWorkers{0};
    std::atomic<bool> m_accessDenied{false};
    std::atomic<bool> m_adbListedNotReady{false};
    std::atomic<bool> m_updateRunning{false};
    int m_pendingSignal = 0; // GUI thread only: a termination deferred until the update ends
    std::mutex m_switchLock;
    bool m_finalSwitchSent = false; // under m_switchLock
    std::atomic<bool> m_permissionShown{false};
    bool m_detectThread = false; // GUI thread only
};

// Bounded copy into a version buffer: at most 255 bytes and the NUL.
void copyVersion(char (&dest)[260], const QByteArray& utf8);
// The text copyVersion stored.
QString versionText(const char (&version)[260]);

// The detection worker: twice a second, bring an attached device to adb, read its
// firmware version and offer the update or report it up to date.

#include "app/AppDelegate.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "usb/usbutils.h"
#include "workflow/VersionCompare.h"

#include <QDebug>
#include <cstring>

namespace {

constexpr double kPassPeriod = 0.5;
constexpr double kSettle = 1.0;
constexpr double kVersionRetryPause = 5.0;
constexpr int kVersionRetries = 10;

// Stop requests are honoured between passes and during the version retries.
bool stopRequested(const AppDelegate& d) { return d.detectShouldStop(); }

// Runs `fn` on the GUI thread only while the state is still `state`. The check runs there
// together with the change, so no button press can fall between the two.
void postWhileStatus(AppDelegate& d, int32_t state, const std::function<void()>& fn) {
    d.post([&d, state, &fn] {
        if (d.status() == state)
            fn();
    });
}

void showSearchingIf(AppDelegate& d, int32_t state) {
    postWhileStatus(d, state, [&d] {
        d.updateStatusTxt(AppDelegate::lookup("stat Searching device ..."));
        d.updateButtonTitle(AppDelegate::lookup("btn Searching"));
    });
}

void readDeviceVersion(AppDelegate& d);

} // namespace

void AppDelegate::detectProc() {
    if (stopRequested(*this))
        return;
    QString lastLaunchError;
    for (;;) {
        try {
            detectPass();
        } catch (const ToolLaunchError& e) {
            // A tool missing from the bundle: keep searching (the pass period paces the
            // retries) and say so once on stderr rather than every half second.
            if (lastLaunchError != QString::fromUtf8(e.what())) {
                lastLaunchError = QString::fromUtf8(e.what());
                qWarning("hotspot-updater: %s", e.what());
            }
            showSearchingIf(*this, 1);
        }
        if (stopRequested(*this))
            return;
    }
}

void AppDelegate::detectPass() {
    Clock& clock = *m_env.clock;
    clock.sleep(kPassPeriod);
    const int32_t observed = status();
    if (observed != 1 && observed != 2)
        return;

    const uint64_t mask = detectDevice();
    if (mask == 0) {
        // The user may have pressed Start since the state was read: leave an update alone.
        if (!exchangeStatus(observed, 1))
            return;
        m_permissionShown.store(false);
        std::memset(m_dev_version, 0, 256);
        // The version shown here is the package's, so it carries the package's label (as after
        // the package check), not the one meant for the device's version.
        const QString info = QStringLiteral("%1:\n\t%2")
                                 .arg(lookup("info Version after update"), QString::fromUtf8(m_tool_version));
        postWhileStatus(*this, 1, [this, &info] {
            updateStatusTxt(lookup("stat Searching device ..."));
            updateStartAnim(true);
            enbaleButton(false);
            updateButtonTitle(lookup("btn Searching"));
            updateInfoTxt(info);
        });
        return;
    }
    if (mask == 3 || status() != 1)
        return;

    // While the permission message stands, retry quietly rather than cycle the texts.
    const bool quiet = m_permissionShown.load();
    if (!quiet) {
        postStatus(lookup("stat Detecting device ..."));
        postButtonTitle(lookup("btn Detecting ..."));
    }
    clock.sleep(kSettle);

    const int32_t tool = detectAdb();
    if (tool == 0 && accessDenied()) {
        showNoPermission();
        return;
    }
    if (tool != 0)
        m_permissionShown.store(false);
    switch (tool) {
    case 2:
        postStatus(lookup("stat Reboot device ..."));
        fastbootReboot();
        return;
    case 1:
        switch (detectDeviceBootMode()) {
        case 0:
        case 3:
            readDeviceVersion(*this);
            return;
        case 1:
        case 2:
        case 4:
            postStatus(lookup("stat Reboot device ..."));
            adbCommand(contract::adbReboot(), nullptr);
            clock.sleep(kSettle);
            return;
        default:
            postStatus(lookup("stat Unable to detect device boot mode !"));
            prepareAdb();
            clock.sleep(kSettle);
            return;
        }
    case 0: {
        if (!quiet)
            postStatus(lookupFilled("stat detect Switching to [%s] mode ...", contract::kModeAdb));
        const int switched = detectionSwitch(USB_SWITCH_TMP_USR_ADB);
        clock.sleep(kSettle);
        if (switched == USB_SWITCH_ACCESS_DENIED)
            showNoPermission();
        else if (switched < 0)
            postStatus(lookupFilled("stat detect Fail to switch [%s] mode !", contract::kModeAdb));
        return;
    }
    default:
        return;
    }
}

void AppDelegate::showNoPermission() {
    if (m_permissionShown.exchange(true))
        return;
    const QString info = lookupFilled("info No permission to use the device. To allow it, run: %s",
                                      accessFixCommand());
    postWhileStatus(*this, 1, [this, &info] {
        updateStatusTxt(lookup("stat No permission to use the device !"));
        updateInfoTxt(info);
    });
}

namespace {

void readDeviceVersion(AppDelegate& d) {
    d.postStatus(AppDelegate::lookup("stat Reading version ..."));
    ToolResult answer;
    d.adbCommand(contract::adbFirmwareVersion(), &answer);
    auto hasReply = [&answer] { return output::hasVersionReply(*answer); };
    // An answer that is not text ends the pass silently, on any attempt.
    if (!answer)
        return;
    for (int repeats = 0; !hasReply() && repeats < kVersionRetries; ++repeats) {
        d.environment().clock->sleep(kVersionRetryPause);
        if (stopRequested(d))
            return;
        d.adbCommand(contract::adbFirmwareVersion(), &answer);
        if (!answer)
            return;
    }
    if (!hasReply()) {
        d.postStatus(AppDelegate::lookup("stat Fail to read version number !"));
        return;
    }
    if (answer->size() <= contract::kVersionReplyPrefix.size())
        return; // nothing after the prefix
    copyVersion(d.m_dev_version, output::versionFromReply(*answer).toUtf8());

    const bool newer = version::compare(d.m_tool_version, d.m_dev_version) > 0;
    const int32_t outcome = newer ? 2 : 4;
    if (!d.exchangeStatus(1, outcome))
        return;
    QString info = QStringLiteral("%1\n\t%2\n%3\n\t%4")
                       .arg(AppDelegate::lookup("info Current version"), QString::fromUtf8(d.m_dev_version),
                            AppDelegate::lookup("info Version after update"),
                            QString::fromUtf8(d.m_tool_version));
    if (!newer)
        info += u'\n' + AppDelegate::lookup("info Your vesion is up to date");
    // Each post is skipped once the user has moved on (Start pressed after the button came
    // up), so a late title or status does not overwrite the update screen.
    postWhileStatus(d, outcome, [&d, &info] { d.updateInfoTxt(info); });
    postWhileStatus(d, outcome, [&d] { d.updateStartAnim(false); });
    postWhileStatus(d, outcome, [&d] { d.enbaleButton(true); });
    postWhileStatus(d, outcome, [&d, newer] {
        d.updateButtonTitle(AppDelegate::lookup(newer ? "btn Start" : "btn Close"));
    });
    postWhileStatus(d, outcome, [&d, newer] {
        d.updateStatusTxt(AppDelegate::lookup(newer ? "stat Device Ready !" : "info Your vesion is up to date"));
    });
}

} // namespace

// The detection worker: twice a second, bring an attached device to adb, read its
// firmware version and offer the update or report it up to date.

#include "workflow/DetectionLoop.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "bridge/RunLog.h"
#include "usb/usbutils.h"
#include "workflow/DeviceSession.h"
#include "workflow/Messages.h"
#include "workflow/Services.h"
#include "workflow/VersionCompare.h"

#include <QDebug>
#include <QLocale>
#include <optional>

using messages::lookup;
using messages::lookupFilled;

namespace {

constexpr double kPassPeriod = 0.5;
constexpr double kSettle = 1.0;
constexpr double kVersionRetryPause = 5.0;
constexpr int kVersionRetries = 10;

} // namespace

void DetectionLoop::showSearchingIf(int32_t state) {
    m_session.postWhileState(state, [this] {
        m_session.showStatus(lookup("stat Searching device ..."));
        m_session.showButtonTitle(lookup("btn Searching"));
    });
}

void DetectionLoop::run() {
    // Stop requests are honoured between passes and during the version retries.
    if (m_session.detectionShouldStop())
        return;
    QString lastLaunchError;
    for (;;) {
        try {
            pass();
        } catch (const ToolLaunchError& e) {
            // A tool missing from the bundle: keep searching (the pass period paces the
            // retries) and say so once on stderr rather than every half second.
            if (lastLaunchError != QString::fromUtf8(e.what())) {
                lastLaunchError = QString::fromUtf8(e.what());
                qWarning("hotspot-updater: %s", e.what());
            }
            showSearchingIf(1);
        }
        if (m_session.detectionShouldStop())
            return;
    }
}

void DetectionLoop::deviceGone(int32_t observed) {
    // The user may have pressed Start since the state was read: leave an update alone.
    if (!m_session.exchangeState(observed, 1))
        return;
    m_session.clearPermissionShown();
    m_session.setFinishOffered(false);
    m_session.setDeviceVersion(QString());
    // The version shown here is the package's, so it carries the package's label (as after
    // the package check), not the one meant for the device's version.
    const QString info =
        QStringLiteral("%1:\n\t%2").arg(lookup("info Version after update"), m_session.packageVersion());
    m_session.postWhileState(1, [this, &info] {
        m_session.showStatus(lookup("stat Searching device ..."));
        m_session.animate(true);
        m_session.enableButton(false);
        m_session.showButtonTitle(lookup("btn Searching"));
        m_session.showInfo(info);
    });
}

void DetectionLoop::pass() {
    const DeviceProbes& probes = m_services.probes;
    m_services.sleep(kPassPeriod);
    const int32_t observed = m_session.state();
    if (observed != 1 && observed != 2)
        return;

    const uint64_t mask = m_session.recordPresence(probes.presence());
    if (mask == 0) {
        lookForBootLoader(observed);
        return;
    }
    if (mask == 3 || m_session.state() != 1)
        return;

    // While the permission message stands, retry quietly rather than cycle the texts.
    const bool quiet = m_session.snapshot().accessRefused;
    if (!quiet) {
        m_session.showStatus(lookup("stat Detecting device ..."));
        m_session.showButtonTitle(lookup("btn Detecting ..."));
    }
    m_services.sleep(kSettle);

    const AdbVerdict verdict = m_session.recordVerdict(probes.detectAdb());
    if (verdict.tool == AdbVerdict::None && verdict.accessDenied) {
        showNoPermission();
        return;
    }
    if (verdict.tool == AdbVerdict::None && verdict.listedNotReady)
        return; // offline or unauthorized for now: wait for it
    if (verdict.tool != AdbVerdict::None)
        m_session.clearPermissionShown();
    switch (verdict.tool) {
    case AdbVerdict::Fastboot:
        // In its boot loader with an update open: the update is finished, never restarted over.
        if (const std::optional<UpdateJournal> journal = m_services.journal.pending(); journal && atItsPort(*journal)) {
            offerFinish(*journal);
            return;
        }
        m_session.showStatus(lookup("stat Reboot device ..."));
        probes.fastbootReboot();
        return;
    case AdbVerdict::Adb: {
        const BootModeReading mode = probes.bootMode();
        if (mode.unreadable)
            m_session.showStatus(QStringLiteral("Unable to detect current mode")); // not a message key
        switch (mode.code) {
        case 0:
        case 3:
            readDeviceVersion();
            return;
        case 1:
        case 2:
        case 4:
            m_session.showStatus(lookup("stat Reboot device ..."));
            probes.rebootForwarded();
            m_services.sleep(kSettle);
            return;
        default:
            m_session.showStatus(lookup("stat Unable to detect device boot mode !"));
            // On a station the server is every unit's: it is prepared once, at the check.
            if (m_services.port.isEmpty())
                m_services.host.prepareAdb();
            m_services.sleep(kSettle);
            return;
        }
    }
    case AdbVerdict::None: {
        if (!quiet)
            m_session.showStatus(lookupFilled("stat detect Switching to [%s] mode ...", contract::kModeAdb));
        const int switched = m_services.detectionSwitch(USB_SWITCH_TMP_USR_ADB);
        m_services.sleep(kSettle);
        if (switched == USB_SWITCH_ACCESS_DENIED)
            showNoPermission();
        else if (switched < 0)
            m_session.showStatus(lookupFilled("stat detect Fail to switch [%s] mode !", contract::kModeAdb));
        return;
    }
    default:
        return;
    }
}

void DetectionLoop::lookForBootLoader(int32_t observed) {
    const std::optional<UpdateJournal> journal = m_services.journal.pending();
    if (journal && atItsPort(*journal) &&
        m_session.recordVerdict(m_services.probes.detectAdb()).tool == AdbVerdict::Fastboot) {
        offerFinish(*journal);
        return;
    }
    deviceGone(observed);
}

// Where the host tells ports apart, a device at another port is another unit.
bool DetectionLoop::atItsPort(const UpdateJournal& journal) const {
    if (journal.port.isEmpty())
        return true;
    const QString port = m_services.portNow();
    return port.isEmpty() || port == journal.port;
}

void DetectionLoop::offerFinish(const UpdateJournal& journal) {
    if (!m_session.exchangeState(1, 2))
        return;
    m_session.setFinishOffered(true);
    const QString when = QLocale().toString(journal.changed.toLocalTime(), QLocale::ShortFormat);
    QString info = lookupFilled("info An update to %s did not finish.", journal.packageVersion) + u'\n' +
                   lookupFilled("info It stopped on %s.", when) + u'\n' +
                   lookup("info Press Finish to write the firmware again and put your data back.");
    if (journal.resumes >= JournalKeeper::kResumesBeforeAsking)
        info += u'\n' + lookupFilled("info It was already resumed %s times.", QString::number(journal.resumes));
    runlog::write("journal", QStringLiteral("finish offered at \"%1\"").arg(phaseName(journal.phase)));
    DeviceSession& s = m_session;
    s.postWhileState(2, [&s, &info] {
        s.showInfo(info);
        s.animate(false);
        s.enableButton(true);
        s.showButtonTitle(lookup("btn Finish"));
        s.showStatus(lookup("stat The last update did not finish !"));
        s.versionRead(true);
    });
}

void DetectionLoop::showNoPermission() {
    if (!m_session.markPermissionShown())
        return;
    const QString info = lookupFilled("info No permission to use the device. To allow it, run: %s",
                                      HostPreparation::accessFixCommand());
    m_session.postWhileState(1, [this, &info] {
        m_session.showStatus(lookup("stat No permission to use the device !"));
        m_session.showInfo(info);
    });
}

void DetectionLoop::readDeviceVersion() {
    const DeviceProbes& probes = m_services.probes;
    m_session.showStatus(lookup("stat Reading version ..."));
    ToolResult answer = probes.firmwareVersion();
    auto hasReply = [&answer] { return output::hasVersionReply(*answer); };
    // An answer that is not text ends the pass silently, on any attempt.
    if (!answer)
        return;
    for (int repeats = 0; !hasReply() && repeats < kVersionRetries; ++repeats) {
        m_services.sleep(kVersionRetryPause);
        if (m_session.detectionShouldStop())
            return;
        answer = probes.firmwareVersion();
        if (!answer)
            return;
    }
    if (!hasReply()) {
        m_session.showStatus(lookup("stat Fail to read version number !"));
        return;
    }
    if (answer->size() <= contract::kVersionReplyPrefix.size())
        return; // nothing after the prefix
    m_session.setDeviceVersion(output::versionFromReply(*answer));
    const QString deviceVersion = m_session.deviceVersion();
    const QString packageVersion = m_session.packageVersion();
    // Running the package of an unfinished update: its data may still be to put back.
    if (const std::optional<UpdateJournal> journal = m_services.journal.pending();
        journal && journal->packageVersion == deviceVersion && atItsPort(*journal)) {
        offerFinish(*journal);
        return;
    }
    m_session.setFinishOffered(false);

    const bool newer = version::compare(packageVersion, deviceVersion) > 0;
    const int32_t outcome = newer ? 2 : 4;
    if (!m_session.exchangeState(1, outcome))
        return;
    QString info = QStringLiteral("%1\n\t%2\n%3\n\t%4")
                       .arg(lookup("info Current version"), deviceVersion, lookup("info Version after update"),
                            packageVersion);
    if (!newer)
        info += u'\n' + lookup("info Your vesion is up to date");
    // Each post is skipped once the user has moved on (Start pressed after the button came
    // up), so a late title or status does not overwrite the update screen.
    DeviceSession& s = m_session;
    s.postWhileState(outcome, [&s, &info] { s.showInfo(info); });
    s.postWhileState(outcome, [&s] { s.animate(false); });
    s.postWhileState(outcome, [&s] { s.enableButton(true); });
    s.postWhileState(outcome, [&s, newer] { s.showButtonTitle(lookup(newer ? "btn Start" : "btn Close")); });
    s.postWhileState(outcome, [&s, newer] {
        s.showStatus(lookup(newer ? "stat Device Ready !" : "info Your vesion is up to date"));
    });
    s.postWhileState(outcome, [&s, newer] { s.versionRead(newer); });
}

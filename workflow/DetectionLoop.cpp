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
#include "workflow/UnitEvidence.h"
#include "workflow/VersionCompare.h"
#include "usb/usbport.h"

#include <QDebug>
#include <QLocale>
#include <algorithm>
#include <optional>

using messages::lookup;
using messages::lookupFilled;

namespace {

constexpr double kPassPeriod = 0.5;
constexpr double kSettle = 1.0;
constexpr double kVersionRetryPause = 5.0;
constexpr int kVersionRetries = 10;
// A minute of passes: longer than the update's longest wait for a restarting device.
constexpr int kPassesLongerThanARestart = 120;

} // namespace

void DetectionLoop::showSearchingIf(SessionState state) {
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
            showSearchingIf(SessionState::Searching);
        }
        if (m_session.detectionShouldStop())
            return;
    }
}

void DetectionLoop::deviceGone(SessionState observed) {
    // The user may have pressed Start since the state was read: leave an update alone.
    if (!m_session.move(observed, SessionState::Searching))
        return;
    // Whatever shows next at this port may be another unit.
    m_services.journal.unitDeparted();
    m_session.clearPermissionShown();
    m_session.setFinishOffered(false);
    m_session.setQuestion(std::nullopt);
    m_session.setDeviceVersion(QString());
    // The version shown here is the package's, so it carries the package's label (as after
    // the package check), not the one meant for the device's version.
    const QString info =
        QStringLiteral("%1:\n\t%2").arg(lookup("info Version after update"), m_session.packageVersion());
    m_session.postWhileState(SessionState::Searching, [this, &info] {
        m_session.showStatus(lookup("stat Searching device ..."));
        m_session.animate(true);
        m_session.enableButton(false);
        m_session.showButtonTitle(lookup("btn Searching"));
        m_session.showInfo(info);
    });
    if (observed == SessionState::Finished)
        m_session.unitLeft();
}

void DetectionLoop::pass() {
    const DeviceProbes& probes = m_services.probes;
    m_services.sleep(kPassPeriod);
    const SessionState observed = m_session.state();
    if (observed == SessionState::Finished) {
        watchEndedUnit();
    } else {
        m_seenSinceEnd = false;
        m_passesAbsent = 0;
        m_numbersSeen.reset();
    }
    if (observed != SessionState::Searching && observed != SessionState::Offered)
        return;

    const uint64_t mask = m_session.recordPresence(probes.presenceAsShown());
    if (mask == 0) {
        lookForBootLoader(observed);
        return;
    }
    if (mask == 3 || m_session.state() != SessionState::Searching)
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
        if (m_services.journal.anyOpen() && takenByJournal(sighting(true, QString())))
            return;
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

// Only a station's units outlive their end: the one device's window closes instead. A unit
// often restarts as its update ends, so it has left once it was seen after its end and is
// then gone from both identities and from fastboot for two passes in a row, or once it stays
// gone longer than any restart the update waits for. A swap faster than that shows as new
// numbers: the kernel numbers every enumeration anew.
void DetectionLoop::watchEndedUnit() {
    if (m_services.port.isEmpty())
        return;
    const bool there = m_services.probes.presenceAsShown() != 0 ||
                       m_services.probes.detectAdb().tool == AdbVerdict::Fastboot;
    const std::optional<usbport::Numbers> numbers =
        there ? usbport::numbersAt(m_services.env.sysfsRoot, m_services.port) : std::nullopt;
    const bool replaced = m_seenSinceEnd && numbers && m_numbersSeen && *numbers != *m_numbersSeen;
    if (numbers && !m_numbersSeen)
        runlog::write("station", QStringLiteral("the unit at %1 is device %2 of bus %3 since its end")
                                     .arg(m_services.port)
                                     .arg(numbers->device)
                                     .arg(numbers->bus));
    if (numbers)
        m_numbersSeen = numbers;
    m_seenSinceEnd = m_seenSinceEnd || there;
    m_passesAbsent = there ? 0 : m_passesAbsent + 1;
    if (!replaced && m_passesAbsent < (m_seenSinceEnd ? 2 : kPassesLongerThanARestart))
        return;
    m_seenSinceEnd = false;
    m_passesAbsent = 0;
    m_numbersSeen.reset();
    runlog::write("station", QStringLiteral("the unit at %1 %2")
                                 .arg(m_services.port, replaced ? QStringLiteral("was unplugged and another plugged in")
                                                                : QStringLiteral("left")));
    deviceGone(SessionState::Finished);
}

void DetectionLoop::lookForBootLoader(SessionState observed) {
    if (m_services.journal.anyOpen() &&
        m_session.recordVerdict(m_services.probes.detectAdb()).tool == AdbVerdict::Fastboot) {
        // The offer, or the question, stands while its boot loader does.
        if (observed == SessionState::Offered || takenByJournal(sighting(true, QString())))
            return;
        // Another unit's boot loader: it starts its firmware and is then found as usual.
        m_services.probes.fastbootReboot();
    }
    deviceGone(observed);
}

UnitSighting DetectionLoop::sighting(bool inBootLoader, const QString& version) const {
    UnitSighting seen;
    seen.inBootLoader = inBootLoader;
    seen.version = version;
    const ListedPorts listed = m_services.probes.listedPorts();
    QStringList everywhere = listed.all() + usbport::list(m_services.env.sysfsRoot);
    everywhere.removeDuplicates();
    // A host that names no port at all tells no units apart: the one it shows is alone.
    seen.attached = std::max(1, int(everywhere.size()));
    // The port of the tool that sees the unit, else sysfs's, else the only one listed: the
    // lists are read once here (portNow() would read them again).
    const QStringList here = inBootLoader ? listed.fastboot : listed.adb;
    const QString inSysfs = usbport::find(m_services.env.sysfsRoot);
    seen.port = !m_services.port.isEmpty()       ? m_services.port
                : here.size() == 1               ? here.front()
                : !inSysfs.isEmpty()             ? inSysfs
                : listed.all().size() == 1       ? listed.all().front()
                                                 : QString();
    if (!inBootLoader)
        seen.calibration = m_services.data.readCalibration();
    return seen;
}

bool DetectionLoop::takenByJournal(const UnitSighting& seen) {
    const std::vector<OpenJournal> open = m_services.journal.openJournals(seen.port);
    std::vector<JournalEvidence> evidence;
    for (const OpenJournal& journal : open) {
        const bool atItsPlace = !journal.journal.port.isEmpty() && !seen.port.isEmpty()
                                    ? journal.journal.port == seen.port
                                    : seen.attached == 1;
        evidence.push_back({matchCalibration(journal.journal, seen, journal.calibrations), journal.watched, atItsPlace,
                            !seen.inBootLoader && seen.version == journal.journal.packageVersion});
    }
    const IdentityDecision decision = decideIdentity(seen.inBootLoader, evidence);
    const QString about = decision.journal < 0 ? QString() : QStringLiteral(" (%1)").arg(open[decision.journal].path);
    runlog::write("journal", QStringLiteral("the unit at \"%1\": %2%3").arg(seen.port, decision.why, about));
    if (decision.kind == IdentityDecision::Kind::NewUnit)
        return false;
    if (decision.kind == IdentityDecision::Kind::Finish) {
        // Another unit of this process holds that journal now: looked at again next pass.
        if (m_services.journal.adopt(open[decision.journal]))
            offerFinish(open[decision.journal].journal);
        return true;
    }
    // Asked about the first that no other unit's question holds; the others are named too.
    QStringList ports;
    for (const int i : decision.candidates)
        ports << open[i].journal.port;
    for (const int i : decision.candidates) {
        if (!m_services.journal.adopt(open[i]))
            continue;
        ports.move(ports.indexOf(open[i].journal.port), 0);
        askWhose(open[i].journal, seen.port, ports);
        return true;
    }
    return true;
}

QString DetectionLoop::stoppedText(const UpdateJournal& journal) {
    const QString when = QLocale().toString(journal.changed.toLocalTime(), QLocale::ShortFormat);
    return lookupFilled("info An update to %s did not finish.", journal.packageVersion) + u'\n' +
           lookupFilled("info It stopped on %s.", when);
}

void DetectionLoop::askWhose(const UpdateJournal& journal, const QString& port, const QStringList& journalPorts) {
    if (!m_session.move(SessionState::Searching, SessionState::Offered))
        return;
    const UnitQuestion question{port, journal.changed, journal.packageVersion, journal.port, journalPorts};
    m_session.setQuestion(question);
    m_session.setFinishOffered(false);
    QString info = stoppedText(journal) + u'\n';
    if (!journal.port.isEmpty() && !port.isEmpty() && journal.port != port)
        info += lookupFilled("info That update ran at the port %s; this hotspot is at another.", journal.port) + u'\n';
    info += lookup("info Finish it only if this is that hotspot: its saved data then goes onto this one.");
    runlog::write("journal", QStringLiteral("asked whether the unit at \"%1\" is the journal's").arg(port));
    DeviceSession& s = m_session;
    s.postWhileState(SessionState::Offered, [&s, &info, &question] {
        s.showInfo(info);
        s.animate(false);
        s.enableButton(false);
        s.showButtonTitle(lookup("btn Finish"));
        // The question itself is the window's to ask, with its two answers.
        s.showStatus(lookup("stat The last update did not finish !"));
        s.unitQuestionAsked(question);
    });
}

void DetectionLoop::offerFinish(const UpdateJournal& journal) {
    if (!m_session.move(SessionState::Searching, SessionState::Offered))
        return;
    m_session.setFinishOffered(true);
    m_session.setQuestion(std::nullopt);
    QString info = stoppedText(journal) + u'\n' +
                   lookup("info Press Finish to write the firmware again and put your data back.");
    if (JournalKeeper::resumedTooOften(journal))
        info += u'\n' + lookupFilled("info It was already resumed %s times.", QString::number(journal.resumes));
    runlog::write("journal", QStringLiteral("finish offered at \"%1\"").arg(phaseName(journal.phase)));
    DeviceSession& s = m_session;
    s.postWhileState(SessionState::Offered, [&s, &info] {
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
    m_session.postWhileState(SessionState::Searching, [this, &info] {
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
    // With an update unfinished, the unit may be the one it stopped on: evidence decides.
    if (m_services.journal.anyOpen() && takenByJournal(sighting(false, deviceVersion)))
        return;
    m_session.setFinishOffered(false);

    const bool newer = version::compare(packageVersion, deviceVersion) > 0;
    const SessionState outcome = newer ? SessionState::Offered : SessionState::Finished;
    if (!m_session.move(SessionState::Searching, outcome))
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

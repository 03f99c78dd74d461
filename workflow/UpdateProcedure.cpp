#include "workflow/UpdateProcedure.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "bridge/RunLog.h"
#include "usb/usbutils.h"
#include "workflow/Completion.h"
#include "workflow/DeviceSession.h"
#include "workflow/Messages.h"
#include "workflow/PackageReader.h"
#include "workflow/Services.h"
#include "workflow/UpdateSlots.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

// The update worker: boot loader, flash every image, restart, back to the user
// personality, restore the saved data, restart again, read the new version.
// Every wait is a fixed sleep on the injected clock; every poll is bounded.

namespace {

// Result codes handed to the completion step.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultError = 1;
constexpr int32_t kResultNoDevice = 2;
constexpr int32_t kResultNotStarted = 3;
constexpr int32_t kResultFtmFailed = 4;
constexpr int32_t kResultFastbootFailed = 5;
constexpr int32_t kResultUsrFailed = 6;
constexpr int32_t kResultWriteFailed = 7;

constexpr int32_t kToolNone = AdbVerdict::None;
constexpr int32_t kToolAdb = AdbVerdict::Adb;
constexpr int32_t kToolFastboot = AdbVerdict::Fastboot;

constexpr int kPollAttempts = 10;
constexpr double kPollWait = 5.0;
constexpr double kSettleWait = 1.0;
constexpr double kAfterImageWait = 0.5;

// Share of the bar that the image writing covers: from 0.05 to 0.90.
constexpr double kWriteStart = 0.05;
constexpr double kWriteSpan = 0.85;

QString fixedText(const char* buf, size_t capacity) {
    return QString::fromUtf8(buf, static_cast<qsizetype>(strnlen(buf, capacity)));
}

// One run of the procedure. A phase returns a result code when the run ends there.
class UpdateRun {
public:
    UpdateRun(DeviceSession& session, const Services& services)
        : m_session(session), m_services(services), m_probes(services.probes),
          m_package(session.package()) {}
    bool wroteImages() const { return m_wroteImages; }
    bool journalOpen() const { return m_journalOpen; }

    int32_t run() {
        if (m_session.finishOffered())
            return resume();
        int32_t tool = kToolNone;
        if (auto end = start(tool)) return *end;
        // Nothing is written before the device's data is saved, and only adb can save it.
        if (tool != kToolAdb) return kResultNoDevice;
        if (auto end = saveData()) return *end;
        if (auto end = intoBootLoader()) return *end;
        return fromBootLoader();
    }

private:
    using End = std::optional<int32_t>;

    void show(const char* key) { m_session.showStatus(messages::lookup(key)); }
    void show(const char* key, const QString& arg) { m_session.showStatus(messages::lookupFilled(key, arg)); }
    void progress(double x) { m_session.showProgress(x); }
    void sleep(double seconds) { m_services.sleep(seconds); }
    void switchMode(uint32_t mode) { m_services.switchAfterRescan(mode); }
    int32_t detectAdb() { return m_session.recordVerdict(m_probes.detectAdb()).tool; }
    // A device adb lists but cannot use yet is on its way: a switch would only restart it.
    void switchToAdbUnlessListed() {
        if (!m_session.lastVerdict().listedNotReady) switchMode(USB_SWITCH_TMP_USR_ADB);
    }

    // A: is the device there at all, and through which tool.
    End start(int32_t& tool) {
        m_services.data.setAsideStaleCopies();
        progress(0.0);
        show("stat Upgrading ...");
        sleep(kSettleWait);
        tool = detectAdb();
        if (tool == kToolNone) return kResultNoDevice;
        progress(0.01);
        return std::nullopt;
    }

    int32_t fromBootLoader() {
        writeImages();
        if (auto end = firstRestart()) return *end;
        if (auto end = backToUser()) return *end;
        return readVersion();
    }

    // An update that did not finish: its journal's copies go back, whatever the device holds
    // now; every image is written again unless all of them were.
    int32_t resume() {
        const std::optional<UpdateJournal> journal = m_services.journal.resume();
        if (!journal || !adoptCopies(*journal)) return kResultError;
        int32_t tool = kToolNone;
        if (auto end = start(tool)) return *end;
        if (tool == kToolAdb && journal->phase >= JournalPhase::Restarted) {
            m_mask = m_session.recordPresence(m_probes.presence());
            if (auto end = backToUser()) return *end;
            return readVersion();
        }
        if (tool == kToolAdb) {
            if (auto end = intoBootLoader()) return *end;
        }
        return fromBootLoader();
    }

    // The journal's entry becomes this run's backup, if every copy is still what was saved.
    bool adoptCopies(const UpdateJournal& journal) {
        BackupRun& run = m_session.backupRun();
        run = BackupRun();
        const std::optional<BackupManifest> manifest = BackupStore::readManifest(journal.storeEntry);
        if (!manifest || manifest->files.size() != journal.files.size())
            return setAsideJournal(QStringLiteral("%1 does not hold the copies it names").arg(journal.storeEntry));
        for (const BackupFile& file : manifest->files) {
            const JournalFile saved{file.devicePath, BackupStore::sha256(journal.storeEntry + u'/' + file.name).value_or(QString())};
            if (std::find(journal.files.cbegin(), journal.files.cend(), saved) == journal.files.cend())
                return setAsideJournal(QStringLiteral("%1 no longer holds what was saved").arg(journal.storeEntry));
        }
        run.entry = journal.storeEntry;
        run.manifest = *manifest;
        m_journalOpen = true;
        return true;
    }

    // Copies that changed are no unit's data any more: the journal is never acted on again.
    bool setAsideJournal(const QString& why) {
        m_session.showNotice(setAsideNotice(m_services.journal.setAside(why)));
        return false;
    }

    // B: save the device data into a new entry, under a journal written before any copy is
    // made. A file the device has but that could not be saved leaves the device untouched.
    End saveData() {
        const DeviceData& data = m_services.data;
        BackupRun& run = m_session.backupRun();
        if (!data.openEntry(run, m_session.deviceVersion(), m_session.packageVersion())) return kResultError;
        UpdateJournal journal;
        journal.packageVersion = m_session.packageVersion();
        journal.versionSha256 =
            BackupStore::sha256(package::versionFilePath(m_services.env.bundlePath)).value_or(QString());
        journal.storeEntry = run.entry;
        journal.port = m_services.portNow();
        journal.images = imagesToWrite();
        // Without a journal a crash would leave no trace of where the data went: no write.
        if (!m_services.journal.begin(journal)) {
            runlog::write("journal", QStringLiteral("no journal could be written below %1").arg(m_services.journal.journals().folder()));
            return kResultError;
        }
        m_journalOpen = true;
        if (!data.saveFiles(run)) {
            m_services.journal.abandon();
            m_journalOpen = false;
            return kResultError;
        }
        std::vector<JournalFile> files;
        for (const BackupFile& file : run.manifest.files)
            files.push_back({file.devicePath, file.sha256});
        // Journals that saved exactly this data: the device still holds it, so they are done.
        m_services.journal.closeMatching(files);
        m_services.journal.saved(files);
        return std::nullopt;
    }

    // Reboots into the boot loader until fastboot lists the device.
    End intoBootLoader() {
        m_services.journal.advance(JournalPhase::BootLoader);
        show("stat Switching to [%s] mode ...", contract::kModeFastboot);
        m_probes.rebootToBootLoader();
        sleep(kPollWait);
        progress(0.03);
        int32_t tool = kToolNone;
        for (int i = 0; i < kPollAttempts; ++i) {
            sleep(kPollWait);
            tool = detectAdb();
            if (tool == kToolFastboot) break;
            if (tool == kToolAdb) m_probes.rebootToBootLoader(); // the firmware still runs
        }
        if (tool != kToolFastboot) return kResultFastbootFailed;
        return std::nullopt;
    }

    // C: flash the images in table order. A failed write ends the walk but not the run.
    void writeImages() {
        show("stat Device attached with [%s] mode !", contract::kModeFastboot);
        sleep(kSettleWait);
        progress(kWriteStart);
        const uint64_t total = m_package ? m_package->total() : 0;
        uint64_t written = 0;
        m_writing = kResultOk;
        if (!m_package) return;
        int index = 0;
        for (const ImageEntry& entry : m_package->images()) {
            if (!shouldWrite(entry)) continue;
            m_wroteImages = true;
            m_services.journal.advance(JournalPhase::Image, ++index);
            const QString file = fixedText(entry.file, sizeof entry.file);
            const QString name = fixedText(entry.name, sizeof entry.name);
            show("stat Writing [%s] ...", name);
            if (!m_probes.flash(name, m_package->checkedPath(entry))) {
                m_writing = kResultWriteFailed;
                return;
            }
            written += static_cast<uint64_t>(entry.size);
            progress(writeFraction(written, total));
            sleep(kAfterImageWait);
        }
    }

    // Written share of the package; only verified images are written, and they make the total.
    static double writeFraction(uint64_t written, uint64_t total) {
        const double share =
            total == 0 ? 1.0 : std::min(1.0, static_cast<double>(written) / static_cast<double>(total));
        return kWriteStart + kWriteSpan * share;
    }

    int imagesToWrite() const {
        if (!m_package) return 0;
        return static_cast<int>(std::count_if(m_package->images().cbegin(), m_package->images().cend(),
                                              [](const ImageEntry& entry) { return shouldWrite(entry); }));
    }

    // D: leave the boot loader, wait for the device on the bus, then for adb.
    End firstRestart() {
        // A failed write leaves the journal at its image: a resume writes them all again.
        if (m_writing == kResultOk) m_services.journal.advance(JournalPhase::Restarted);
        show("stat Switching back to [%s] mode ...", contract::kModeFtm);
        sleep(kPollWait);
        m_probes.fastbootReboot();
        show("stat Wait Restart ...");
        sleep(kPollWait);
        progress(0.92);

        bool onBus = false;
        for (int i = 0; i < kPollAttempts; ++i) {
            m_mask = m_session.recordPresence(m_probes.presence());
            if (m_mask != 0) {
                onBus = true;
                break;
            }
            if (detectAdb() == kToolFastboot) m_probes.fastbootReboot(); // still in the boot loader
            sleep(kPollWait);
        }
        if (!onBus) return kResultFtmFailed;

        // The mask seen above decides whether a switch to the adb personality can be sent.
        for (int i = 0; i < kPollAttempts; ++i) {
            if (detectAdb() == kToolAdb) return std::nullopt;
            if (m_mask & presence::kOwnIdentity) switchToAdbUnlessListed();
            sleep(kPollWait);
        }
        return kResultFtmFailed;
    }

    // E: mode files (only under the Qualcomm-vendor identity), restore, final restart.
    End backToUser() {
        progress(0.94);
        if (m_mask & presence::kQualcommIdentity) {
            show("stat Switching back to [%s] mode ...", contract::kModeUsr);
            if (!m_probes.writeModeFile(contract::adbWriteEtcModeFile())) return kResultUsrFailed;
            show("stat Switching back to [%s] mode ...", contract::kModeUsr);
            if (!m_probes.writeModeFile(contract::adbWriteTmpModeFile())) return kResultUsrFailed;
        }
        m_services.data.restore(m_session.backupRun());
        confirmDataBack();
        progress(0.95);
        sleep(kPollWait);
        m_probes.reboot();
        show("stat Wait Restart ...");
        sleep(kPollWait);

        uint64_t finalMask = 0;
        for (int i = 0; i < kPollAttempts; ++i) {
            finalMask = m_session.recordPresence(m_probes.presence());
            if (finalMask != 0) break;
            sleep(kPollWait);
        }
        if (finalMask == 0) return kResultUsrFailed;
        if (!(finalMask & presence::kOwnIdentity)) return kResultUsrFailed;
        return std::nullopt;
    }

    // The journal goes only once the device's files read back as the copies.
    void confirmDataBack() {
        if (!m_journalOpen || !m_services.data.confirmBack(m_session.backupRun())) return;
        m_services.journal.advance(JournalPhase::DataBack);
        m_services.journal.close();
        m_journalOpen = false;
    }

    bool versionReplyOk() const {
        return !m_slot || output::hasVersionReply(*m_slot);
    }

    // F: reach adb once more and read the version the device now reports.
    int32_t readVersion() {
        progress(0.97);
        int32_t tool = detectAdb();
        for (int i = 0; tool != kToolAdb && i < kPollAttempts; ++i) {
            switchToAdbUnlessListed();
            sleep(kPollWait);
            tool = detectAdb();
        }
        if (tool != kToolAdb) {
            sleep(kSettleWait);
            show("stat Fail to switch [%s] mode !", contract::kModeAdb);
            return m_writing;
        }
        progress(0.98);
        show("stat updated Reading version ...");

        m_slot = m_probes.firmwareVersion();
        for (int repeats = 0; !versionReplyOk() && repeats < kPollAttempts; ++repeats) {
            sleep(kPollWait);
            m_slot = m_probes.firmwareVersion();
        }
        if (!versionReplyOk()) {
            show("stat updated Fail to read version number !");
        } else if (const QString version = m_slot ? output::versionFromReply(*m_slot) : QString();
                   !version.isEmpty()) {
            // A reply with nothing after "OK " reads no version: the old one is not shown as new.
            m_session.setDeviceVersion(version);
            m_session.setNewVersionRead(true);
        }
        progress(1.0);
        return m_writing;
    }

    DeviceSession& m_session;
    const Services& m_services;
    const DeviceProbes& m_probes;
    const std::shared_ptr<const Package> m_package;
    ToolResult m_slot;           // the version reply
    int32_t m_writing = kResultOk;
    bool m_wroteImages = false;  // a flash was attempted: the device's file systems may be gone
    bool m_journalOpen = false;  // this run's journal is written and not closed
    uint64_t m_mask = 0;         // presence mask seen after the first restart
};

} // namespace

void runUpdate(DeviceSession& session, const Services& services) {
    int32_t result = kResultError;
    session.setNewVersionRead(false);
    // On a station, at most so many at once; one that never got its turn touched nothing.
    const UpdateSlots::Hold turn(services.turns, [&session] {
        session.showStatus(messages::lookup("stat Waiting for its turn ..."));
    });
    if (!turn.held()) {
        session.setFinishOffered(false);
        session.animate(false);
        session.post([&session] {
            session.setUpdateRunning(false);
            showUpdateResult(session, kResultNotStarted);
        });
        return;
    }
    UpdateRun run(session, services);
    try {
        result = run.run();
    } catch (const std::exception&) {
        result = kResultError; // a tool that could not be started, or any other error
    } catch (...) {
        result = kResultError;
    }
    // Once images were written, copies that did not go back are the user's only ones.
    session.setKeptNote(run.wroteImages() ? session.backupRun().unrestoredEntry() : QString());
    // Still open: the device may be back later, and Retry or the next run finishes it.
    if (run.journalOpen())
        services.journal.keepPending();
    session.setFinishOffered(false);
    // Always leave the device in its permanent user personality, whatever happened.
    services.switchAfterRescan(USB_SWITCH_PRM_USR);
    session.animate(false);
    session.post([&session, result] {
        session.setUpdateRunning(false);
        showUpdateResult(session, result);
    });
}

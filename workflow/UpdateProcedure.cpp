#include "workflow/UpdateProcedure.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "bridge/RunLog.h"
#include "usb/usbutils.h"
#include "workflow/Completion.h"
#include "workflow/DeviceSession.h"
#include "workflow/FoundCopy.h"
#include "workflow/Messages.h"
#include "workflow/PackageReader.h"
#include "workflow/Services.h"
#include "workflow/BusTurns.h"
#include "workflow/UpdateSlots.h"

#include <QCryptographicHash>
#include <QDir>

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

// The update worker: boot loader, flash every image, restart, back to the user
// personality, restore the saved data, restart again, read the new version.
// Every wait is a fixed sleep on the injected clock; every poll is bounded.

namespace {

using Images = UpdateOutcome::Images;
using Data = UpdateOutcome::Data;

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

// One run of the procedure. A phase returns a result when the run ends there; what the run
// achieved on the way (images, data, version) is gathered in the outcome.
class UpdateRun {
public:
    UpdateRun(DeviceSession& session, const Services& services)
        : m_session(session), m_services(services), m_probes(services.probes),
          m_package(session.package()) {}
    bool journalOpen() const { return m_journalOpen; }

    UpdateOutcome run() { return endedBy(steps()); }
    // The outcome of a run that ended with `result` (an error raised ends it anywhere).
    UpdateOutcome endedBy(UpdateResult result) {
        m_outcome.result = result;
        settleOutcome();
        return m_outcome;
    }

private:
    using End = std::optional<UpdateResult>;

    UpdateResult steps() {
        if (m_session.finishOffered())
            return resume();
        int32_t tool = kToolNone;
        if (auto end = start(tool)) return *end;
        // Nothing is written before the device's data is saved, and only adb can save it.
        if (tool != kToolAdb) return UpdateResult::NoDevice;
        if (auto end = saveData()) return *end;
        if (auto end = intoBootLoader(true)) return *end;
        return fromBootLoader();
    }

    // Data that did not go back once images were written is never a success; an update that
    // wrote nothing needed none back.
    void settleOutcome() {
        if (m_outcome.images == Images::None) {
            m_outcome.data = Data::NotNeeded;
            return;
        }
        if (m_outcome.data != Data::Back)
            m_outcome.data = m_session.backupRun().manifest.files.empty() ? Data::NotNeeded : Data::NotBack;
        if (m_outcome.result == UpdateResult::Updated && m_outcome.data == Data::NotBack)
            m_outcome.result = UpdateResult::DataNotBack;
    }

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
    // The journal's next phase, told to whoever records the attempt as well.
    bool advance(JournalPhase phase, int image = 0) {
        m_session.phaseReached(image > 0 ? QStringLiteral("%1 %2").arg(phaseName(phase)).arg(image) : phaseName(phase));
        return m_services.journal.advance(phase, image);
    }
    // Once the device may have been written, a journal that cannot be written does not stop
    // the update (stopping half-written is worse): it is reported, and every copy stays.
    void record(bool written, const char* what) {
        if (written) return;
        m_outcome.journalKept = false;
        runlog::write("journal", QStringLiteral("the journal could not be written at \"%1\": every copy stays").arg(QLatin1String(what)));
    }

    // A: is the device there at all, and through which tool.
    End start(int32_t& tool) {
        m_services.data.setAsideStaleCopies();
        progress(0.0);
        show("stat Upgrading ...");
        sleep(kSettleWait);
        tool = detectAdb();
        if (tool == kToolNone) return UpdateResult::NoDevice;
        progress(0.01);
        return std::nullopt;
    }

    UpdateResult fromBootLoader() {
        writeImages();
        if (auto end = firstRestart()) return *end;
        learnFreshCalibration();
        if (auto end = backToUser()) return *end;
        return readVersion();
    }

    // An update that did not finish, on a unit shown (or said) to be its own: what the unit
    // holds now is saved first, then every image is written again unless all of them were,
    // and the journal's copies go back.
    UpdateResult resume() {
        const std::optional<UpdateJournal> journal = m_services.journal.resume();
        if (!journal) return UpdateResult::JournalFailed;
        if (!adoptCopies(*journal)) return UpdateResult::Error;
        m_resumed = journal;
        int32_t tool = kToolNone;
        if (auto end = start(tool)) return *end;
        if (tool == kToolAdb) {
            if (auto end = saveWhatItHolds()) return *end;
        }
        if (tool == kToolAdb && journal->phase >= JournalPhase::Restarted) {
            m_outcome.images = Images::All;
            m_mask = m_session.recordPresence(m_probes.presence());
            if (auto end = backToUser()) return *end;
            return readVersion();
        }
        if (tool == kToolAdb) {
            if (auto end = intoBootLoader(false)) return *end;
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

    // Before a finish writes or pushes anything, the unit's present data goes into an entry
    // of its own, named by the journal: whoever's it is, none of it is lost.
    End saveWhatItHolds() {
        BackupRun found;
        if (!m_services.data.openEntry(found, m_session.deviceVersion(), m_session.packageVersion()))
            return UpdateResult::Error;
        found.manifest.port = m_services.portNow();
        found.manifest.journal = m_services.journal.path();
        found.manifest.found = true;
        if (!m_services.journal.found(found.entry)) {
            runlog::write("journal", QStringLiteral("%1 could not be named by the journal: not finishing").arg(found.entry));
            return UpdateResult::JournalFailed;
        }
        if (!m_services.data.saveFiles(found)) return UpdateResult::Error;
        m_foundEntry = found.entry;
        return std::nullopt;
    }

    // B: save the device data into a new entry, under a journal written before any copy is
    // made. A file the device has but that could not be saved leaves the device untouched.
    End saveData() {
        const DeviceData& data = m_services.data;
        BackupRun& run = m_session.backupRun();
        if (!data.openEntry(run, m_session.deviceVersion(), m_session.packageVersion())) return UpdateResult::Error;
        run.manifest.port = m_services.portNow();
        UpdateJournal journal;
        journal.packageVersion = m_session.packageVersion();
        journal.versionSha256 = packageDigest();
        journal.storeEntry = run.entry;
        journal.port = run.manifest.port;
        journal.images = imagesToWrite();
        journal.attempt = m_session.attemptId();
        m_session.phaseReached(phaseName(JournalPhase::Saving));
        // Without a journal a crash would leave no trace of where the data went: no write.
        if (!m_services.journal.begin(journal)) {
            runlog::write("journal", QStringLiteral("no journal could be written below %1").arg(m_services.journal.journals().folder()));
            QDir(run.entry).removeRecursively(); // still empty: no copy was made
            run = BackupRun();
            return UpdateResult::JournalFailed;
        }
        m_journalOpen = true;
        run.manifest.journal = m_services.journal.path();
        if (!data.saveFiles(run)) {
            m_services.journal.abandon();
            m_journalOpen = false;
            return UpdateResult::Error;
        }
        std::vector<JournalFile> files;
        for (const BackupFile& file : run.manifest.files)
            files.push_back({file.devicePath, file.sha256});
        // Journals and entries that saved exactly this data: the device still holds it.
        m_services.journal.closeMatching(files);
        m_session.phaseReached(phaseName(JournalPhase::Saved));
        if (!m_services.journal.saved(files)) return stopUnrecorded("saved");
        const QStringList named = m_services.journal.namedEntries();
        data.backupStore().dropSameData(run.manifest.serial, run.entry, named);
        data.backupStore().rotate(run.manifest.serial, named);
        return std::nullopt;
    }

    // Before the boot loader, a journal that cannot be written stops the update: nothing is
    // written to a device whose update could not be found again.
    End stopUnrecorded(const char* what) {
        runlog::write("journal", QStringLiteral("the journal could not be written at \"%1\": nothing is written").arg(QLatin1String(what)));
        m_services.journal.letGo();
        m_journalOpen = false;
        return UpdateResult::JournalFailed;
    }

    // The version file as the check read it, not as it may stand now.
    QString packageDigest() const {
        if (m_package && !m_package->digest().isEmpty()) return m_package->digest();
        return BackupStore::sha256(package::versionFilePath(m_services.env.bundlePath)).value_or(QString());
    }

    // Reboots into the boot loader until fastboot lists the device. `firstTime`: the journal
    // must say so before the device goes.
    End intoBootLoader(bool firstTime) {
        const bool recorded = advance(JournalPhase::BootLoader);
        if (firstTime && !recorded) return stopUnrecorded("boot loader");
        record(recorded, "boot loader");
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
        if (tool != kToolFastboot) return UpdateResult::FastbootFailed;
        return std::nullopt;
    }

    // C: flash the images in table order. A failed write ends the walk but not the run.
    void writeImages() {
        show("stat Device attached with [%s] mode !", contract::kModeFastboot);
        sleep(kSettleWait);
        progress(kWriteStart);
        const uint64_t total = m_package ? m_package->total() : 0;
        uint64_t written = 0;
        m_writing = UpdateResult::Updated;
        if (!m_package) return;
        int index = 0;
        const int count = imagesToWrite();
        const BusTurns::Place inLine(m_services.bus, m_services.port);
        for (const ImageEntry& entry : m_package->images()) {
            if (!shouldWrite(entry)) continue;
            m_outcome.images = Images::Some;
            record(advance(JournalPhase::Image, ++index), "image");
            const QString name = fixedText(entry.name, sizeof entry.name);
            bool flashed = false;
            {
                BusTurns::Hold onTheBus(inLine, [this] { show("stat Waiting for the bus ..."); });
                show("stat Writing [%s] ...", name);
                flashed = m_probes.flash(name, m_package->checkedPath(entry), [&onTheBus] { onTheBus.release(); });
            }
            if (!flashed) {
                m_writing = UpdateResult::WriteFailed;
                return;
            }
            written += static_cast<uint64_t>(entry.size);
            progress(writeFraction(written, total));
            sleep(kAfterImageWait);
        }
        if (index == count) m_outcome.images = Images::All;
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
        if (m_writing == UpdateResult::Updated) record(advance(JournalPhase::Restarted), "restarted");
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
        if (!onBus) return UpdateResult::FtmFailed;

        // The mask seen above decides whether a switch to the adb personality can be sent.
        for (int i = 0; i < kPollAttempts; ++i) {
            if (detectAdb() == kToolAdb) return std::nullopt;
            if (m_mask & presence::kOwnIdentity) switchToAdbUnlessListed();
            sleep(kPollWait);
        }
        return UpdateResult::FtmFailed;
    }

    // What the writing left of the calibration, read before anything goes back: the same on
    // every unit written with this package, so a unit found with it later is known to be a
    // written one whose data did not go back.
    void learnFreshCalibration() {
        if (m_writing != UpdateResult::Updated || m_outcome.images != Images::All) return;
        const std::optional<QString> digest = calibrationNow();
        if (!digest) return;
        for (const BackupFile& file : m_session.backupRun().manifest.files)
            if (file.devicePath == contract::kWifiBoardData && file.sha256 == *digest)
                return; // the writing left the unit its own: nothing to learn
        m_services.journal.learnFresh(packageDigest(), *digest);
    }

    // The SHA-256 of the calibration the device holds now; nullopt when it cannot be read.
    std::optional<QString> calibrationNow() const {
        const std::optional<QByteArray> now = m_services.data.readCalibration();
        if (!now) return std::nullopt;
        return QString::fromLatin1(QCryptographicHash::hash(*now, QCryptographicHash::Sha256).toHex());
    }

    // E: mode files (only under the Qualcomm-vendor identity), restore, final restart.
    End backToUser() {
        progress(0.94);
        if (m_mask & presence::kQualcommIdentity) {
            show("stat Switching back to [%s] mode ...", contract::kModeUsr);
            if (!m_probes.writeModeFile(contract::adbWriteEtcModeFile())) return UpdateResult::UsrFailed;
            show("stat Switching back to [%s] mode ...", contract::kModeUsr);
            if (!m_probes.writeModeFile(contract::adbWriteTmpModeFile())) return UpdateResult::UsrFailed;
        }
        putDataBack();
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
        if (finalMask == 0) return UpdateResult::UsrFailed;
        if (!(finalMask & presence::kOwnIdentity)) return UpdateResult::UsrFailed;
        return std::nullopt;
    }

    // The copies go back, and count as back only once the device's files read back as the
    // copies; the journal goes only then.
    void putDataBack() {
        BackupRun& run = m_session.backupRun();
        const bool pushed = m_services.data.restore(run);
        // Read back even after a failed push: the copies that did go back are known as such.
        const bool readBack = m_services.data.confirmBack(run);
        if (!pushed || !readBack) {
            runlog::write("update", QStringLiteral("the saved data did not read back from the device: its copies stay in %1").arg(run.entry));
            m_outcome.data = Data::NotBack;
            rememberWhatThePushLeft();
            return;
        }
        m_outcome.data = Data::Back;
        if (!m_journalOpen) return;
        // A failed write leaves the unit half-written: its journal stays at its image, for the
        // Retry that writes every image again.
        if (m_writing != UpdateResult::Updated) return;
        record(advance(JournalPhase::DataBack), "data back");
        record(m_services.journal.close(), "closed");
        m_journalOpen = false;
        dropFoundIfUnneeded(run);
    }

    // What the finish found goes only when the read-back shows none of it lost: each file is
    // the unit's own, now back on it, or the calibration the writing leaves. Settings set up
    // by hand again, or anything the user vouched for, stay.
    void dropFoundIfUnneeded(const BackupRun& own) {
        if (m_foundEntry.isEmpty() || m_session.question()) return;
        const std::optional<BackupManifest> found = BackupStore::readManifest(m_foundEntry);
        const std::optional<QString> fresh = m_resumed ? m_services.journal.calibrations(*m_resumed).fresh : std::nullopt;
        if (found && foundCopyUnneeded(*found, own.manifest, fresh))
            m_services.journal.dropFound(m_foundEntry);
        else
            runlog::write("journal", QStringLiteral("%1 stays: it holds data that is not back on the unit").arg(m_foundEntry));
    }

    // What a failed push left of the calibration marks this unit as the journal's from now on.
    void rememberWhatThePushLeft() {
        if (!m_journalOpen) return;
        if (const std::optional<QString> digest = calibrationNow())
            record(m_services.journal.leftByPush(*digest), "after the push");
    }

    bool versionReplyOk() const {
        return !m_slot || output::hasVersionReply(*m_slot);
    }

    // F: reach adb once more and read the version the device now reports.
    UpdateResult readVersion() {
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
            m_outcome.versionRead = true;
        }
        progress(1.0);
        return m_writing;
    }

    DeviceSession& m_session;
    const Services& m_services;
    const DeviceProbes& m_probes;
    const std::shared_ptr<const Package> m_package;
    UpdateOutcome m_outcome;
    ToolResult m_slot;           // the version reply
    UpdateResult m_writing = UpdateResult::Updated;
    bool m_journalOpen = false;  // this run's journal is written and not closed
    QString m_foundEntry;        // what a finish found on the unit
    std::optional<UpdateJournal> m_resumed; // the journal a finish took up
    uint64_t m_mask = 0;         // presence mask seen after the first restart
};

} // namespace

void runUpdate(DeviceSession& session, const Services& services) {
    UpdateOutcome outcome;
    session.setNewVersionRead(false);
    // On a station, at most so many at once; one that never got its turn touched nothing.
    const UpdateSlots::Hold turn(services.turns, [&session] {
        session.showStatus(messages::lookup("stat Waiting for its turn ..."));
    });
    if (!turn.held()) {
        session.setFinishOffered(false);
        session.animate(false);
        session.setQuestion(std::nullopt);
        session.post([&session] {
            session.setUpdateRunning(false);
            showUpdateResult(session, UpdateOutcome{UpdateResult::NotStarted});
        });
        return;
    }
    UpdateRun run(session, services);
    try {
        outcome = run.run();
    } catch (...) {
        outcome = run.endedBy(UpdateResult::Error); // a tool that could not be started, or any other error
    }
    // Once images were written, copies that did not go back are the user's only ones.
    session.setKeptNote(outcome.data == UpdateOutcome::Data::NotBack ? session.backupRun().unrestoredEntry() : QString());
    // Still open: the device may be back later, and Retry or the next run finishes it.
    if (run.journalOpen())
        services.journal.keepPending();
    session.setFinishOffered(false);
    session.setQuestion(std::nullopt);
    // Always leave the device in its permanent user personality, whatever happened.
    services.switchAfterRescan(USB_SWITCH_PRM_USR);
    session.animate(false);
    session.post([&session, &outcome] {
        session.setUpdateRunning(false);
        showUpdateResult(session, outcome);
    });
}

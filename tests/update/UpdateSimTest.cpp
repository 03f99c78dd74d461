// The update from a Start press to its final screen, on the simulated hotspot, with the
// clock recording the waits. Checked through what the device was asked (the simulator's
// record) and through what the window showed after every post of the worker.

#include "bridge/RunLog.h"
#include "bridge/BackupStore.h"
#include "bridge/JournalStore.h"
#include "tests/workflow/SimFixture.h"
#include "usb/usbutils.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

const QString kWifi = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");
const QString kConfig = QStringLiteral("/etc/config.db");
const QString kConfigRestored = QStringLiteral("/etc/new_config.db");
const QByteArray kUserConfig = "ssid=Kitchen\nkey=hunter2\n";

QByteArray cmd(const unsigned char (&bytes)[31]) {
    return QByteArray(reinterpret_cast<const char*>(bytes), 31);
}
const QByteArray kMode1 = cmd(switch_cmd2_prm_usr);
const QByteArray kMode2 = cmd(switch_cmd2_tmp_usr_adb);

QString usr(const char* key) { return messages::lookupFilled(key, QStringLiteral("USR")); }
QString filled(const char* key, const char* arg) { return messages::lookupFilled(key, QString::fromUtf8(arg)); }

// What the window showed: the status line and the bar's value, as they changed from post to
// post. A worker's posts reach the GUI thread as events, so the screen is taken just before
// each of them, and once more at the end.
class PostLog : public QObject {
public:
    explicit PostLog(AppHarness& h) : m_h(h) { QCoreApplication::instance()->installEventFilter(this); }
    ~PostLog() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject* target, QEvent*) override {
        if (dynamic_cast<BlockingPost*>(target))
            take();
        return false;
    }

    void take() {
        const Screen s = m_h.screen();
        if (statuses.isEmpty() || statuses.last() != s.status)
            statuses << s.status;
        if (!s.barIndeterminate && (m_lastIndeterminate || s.barValue != m_lastValue))
            progress.push_back(s.barValue);
        m_lastIndeterminate = s.barIndeterminate;
        m_lastValue = s.barValue;
    }

    QStringList statuses;
    std::vector<double> progress;

private:
    AppHarness& m_h;
    bool m_lastIndeterminate = true;
    double m_lastValue = -1;
};

struct Image {
    const char* partition;
    int size;
};

class UpdateSimTest : public SimFixture {
protected:
    void TearDown() override {
        log.reset(); // before the application it watches
        SimFixture::TearDown();
    }

    // Loads the scenario, writes the package, checks it and lets detection offer Start.
    // Images named in `missing` are gone by the time of the check.
    void ready(const QString& scenario, const std::vector<Image>& images = kFourImages,
               const QStringList& missing = {}) {
        loadScenario(scenario);
        std::vector<ImageFile> specs;
        for (const Image& image : images) {
            const QByteArray name(image.partition);
            specs.push_back({name, name + ".img", QByteArray(image.size, name.at(0))});
            if (!missing.contains(QString::fromUtf8(name)))
                m_total += image.size;
        }
        writePackage("HS_FW_1.0.4", specs);
        for (const QString& name : missing)
            ASSERT_TRUE(QFile::remove(bundle.resources() + u'/' + name + QStringLiteral(".img")));
        checkAndDetect();
    }

    // The package check, then detection until Start is offered.
    void checkAndDetect() {
        AppHarness& h = start();
        h.runInitialize();
        ASSERT_EQ(h.app().session().state(), SessionState::Searching);
        h.runDetectPass();
        ASSERT_EQ(h.app().session().state(), SessionState::Offered);
        ASSERT_EQ(h.deviceVersion(), "1.0.3");
        sim->clearRecords();
        h.clock->clear();
    }

    // Presses Start (or Retry) and serves the worker until it has left.
    void press() {
        AppHarness& h = harness();
        log.reset();
        log = std::make_unique<PostLog>(h);
        h.app().onUpdateButtonClick();
        AppHarness::pumpUntil([&] { return h.app().session().liveWorkers() == 0; });
        log->take();
    }

    // The window's question whose unit this is, answered by its button; the finish it may
    // start is served until its worker has left.
    void answerQuestion(bool itsUnit) {
        AppHarness& h = harness();
        const QList<QMessageBox*> boxes = h.window().findChildren<QMessageBox*>(QStringLiteral("unitQuestion"));
        ASSERT_EQ(boxes.size(), 1);
        auto* answer = boxes.first()->findChild<QAbstractButton*>(itsUnit ? QStringLiteral("finishWithSavedData")
                                                                           : QStringLiteral("anotherHotspot"));
        ASSERT_NE(answer, nullptr);
        log.reset();
        log = std::make_unique<PostLog>(h);
        answer->click();
        AppHarness::pumpUntil([&] { return h.app().session().liveWorkers() == 0; });
        log->take();
    }

    // The tool runs of the update in order, each as "adb ..." / "fastboot ..." argument list.
    QList<QStringList> toolRuns(bool withProbes = false) const {
        QList<QStringList> runs;
        for (const SimRecord& r : sim->records()) {
            if ((r.kind != QLatin1String("adb") && r.kind != QLatin1String("fastboot")) || r.event != QLatin1String("run"))
                continue;
            if (!withProbes && r.args.value(0) == QLatin1String("devices"))
                continue;
            runs << (QStringList{r.kind} + r.args);
        }
        return runs;
    }
    int countRuns(const QStringList& run) const { return toolRuns(true).count(run); }
    QList<QStringList> flashes() const {
        QList<QStringList> out;
        for (const QStringList& r : toolRuns())
            if (r.value(1) == QLatin1String("flash"))
                out << r;
        return out;
    }

    // The mode commands of every switch (the second CBW of each exchange).
    QList<QByteArray> switches() const {
        QList<QByteArray> out;
        for (const QByteArray& c : sim->cbws())
            if (c != cmd(switch_cmd1))
                out << c;
        return out;
    }

    // The closing permanent switch reaches a device that shows its own identity: then it
    // is the last command the device got.
    void expectModeOneLast() const {
        const QList<QByteArray> s = switches();
        ASSERT_FALSE(s.isEmpty());
        EXPECT_EQ(s.last(), kMode1);
        EXPECT_EQ(s.count(kMode1), 1);
    }
    // A device not under its own identity at the end gets no switch at all from the closing.
    void expectNoModeOne() const { EXPECT_FALSE(switches().contains(kMode1)); }

    void expectRetryScreen(const QString& status) {
        AppHarness& h = harness();
        const Screen s = h.screen();
        EXPECT_EQ(s.status, status);
        EXPECT_EQ(s.info, L("info Please check device, reconnect it and try again.") + keptNote());
        EXPECT_EQ(h.app().session().state(), SessionState::Updating);
        EXPECT_EQ(s.buttonTitle, L("btn Retry"));
        EXPECT_TRUE(s.buttonEnabled);
        EXPECT_TRUE(h.window().closeEnabled());
    }
    void expectCloseScreen(const QString& status) {
        AppHarness& h = harness();
        const Screen s = h.screen();
        EXPECT_EQ(s.status, status);
        EXPECT_EQ(h.app().session().state(), SessionState::Finished);
        EXPECT_EQ(s.buttonTitle, L("btn Close"));
        EXPECT_TRUE(s.buttonEnabled);
        EXPECT_TRUE(h.window().closeEnabled());
    }
    // Null `version`: written, but no version read after the update, so none is shown.
    void expectSuccessScreen(const char* version) {
        expectCloseScreen(L("stat Success upgrade device !"));
        const Screen s = harness().screen();
        EXPECT_EQ(s.info, version ? L("info Current version") + "\n\t" + version + "\n" + L("info Your vesion is up to date")
                                  : L("info The firmware was written, but its new version could not be read."));
        EXPECT_EQ(harness().app().session().newVersionRead(), version != nullptr);
        EXPECT_EQ(s.warning, L("warning Update is finished."));
    }

    // What the update writes for a partition: the check's private copy of its image.
    QString image(const char* partition) {
        const std::shared_ptr<const Package> package = harness().app().session().package();
        for (const ImageEntry& entry : package->images())
            if (qstrcmp(entry.name, partition) == 0)
                return package->checkedPath(entry);
        return {};
    }
    QStringList flashRun(const char* partition) {
        return {QStringLiteral("fastboot"), QStringLiteral("flash"), QString::fromUtf8(partition), image(partition)};
    }
    // Progress after the images written so far, as the procedure computes it.
    double after(int64_t written) const { return 0.05 + 0.85 * (double(written) / double(m_total)); }
    QString hostCopy(const char* name) { return harness().scratch() + u'/' + QString::fromUtf8(name); }
    // The durable store's entries of a device, oldest first; the newest one.
    QStringList backupEntries(const QString& device = QStringLiteral("0123456789ABCDEF")) {
        const QDir dir(harness().home() + QStringLiteral("/.local/share/hotspot-updater/backups/") + device);
        QStringList out;
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            out << dir.filePath(name);
        return out;
    }
    QString backupEntry() { return backupEntries().value(backupEntries().size() - 1); }
    // The journals of updates not finished.
    QStringList openJournals() {
        const QDir dir(harness().home() + QStringLiteral("/.local/state/hotspot-updater/journals"));
        return dir.entryList({QStringLiteral("*.json")}, QDir::Files);
    }
    static QJsonObject backupManifest(const QString& entry) {
        QFile f(entry + QStringLiteral("/manifest.json"));
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    // Once images were written, copies that did not go back are named on the final screen.
    QString keptNote() {
        const QString entry = backupEntry();
        bool restored = true;
        for (const QJsonValue& f : backupManifest(entry).value("files").toArray())
            restored = restored && f.toObject().value("restored").toBool();
        if (flashes().isEmpty() || restored)
            return {};
        return "\n" + messages::lookupFilled("info Device data not restored, a copy is kept in %s", entry);
    }
    static mode_t modeOf(const QString& path) {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        return status.st_mode;
    }
    int sleeps(double s) { return harness().clock->count(s); }

    static inline const std::vector<Image> kFourImages = {
        {"aboot", 1024}, {"boot", 4096}, {"modem", 16384}, {"system", 2048}};

    std::unique_ptr<PostLog> log;
    int64_t m_total = 0;
};

const QStringList kEtcModeRun = {"adb", "shell", "echo 1 > /etc/mode.cfg && echo OK"};
const QStringList kTmpModeRun = {"adb", "shell", "echo 1 > /tmp/mode.cfg && echo OK"};
const QStringList kVersionRun = {"adb", "shell", "cmmd info firmware_ver"};
const QStringList kRebootRun = {"adb", "shell", "sys_reboot"};
const QStringList kBootloaderRun = {"adb", "shell", "sys_reboot", "bootloader"};
const QStringList kFastbootRebootRun = {"fastboot", "reboot"};

// ---- the whole road ----

TEST_F(UpdateSimTest, FullRoadFromStartToSuccess) {
    ready(QStringLiteral(R"({"base": "ftm", "files": {"/etc/config.db": "ssid=Kitchen\nkey=hunter2\n"}})"));
    const QByteArray boardData = sim->deviceFile(kWifi);
    press();
    AppHarness& h = harness();

    // Commands, in order (probes left out; they follow below).
    QList<QStringList> runs = toolRuns();
    ASSERT_EQ(runs.size(), 17) << runs.size();
    const QString entry = backupEntry();
    // What the writing left of the calibration, read before anything goes back: learned once
    // for the package, through a private folder that is gone afterwards.
    const QStringList fresh = runs.takeAt(8);
    EXPECT_EQ(fresh.mid(0, 3), (QStringList{"adb", "pull", kWifi}));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(fresh.value(3)).path()));
    EXPECT_EQ(runs[0], (QStringList{"adb", "pull", kWifi, entry + "/bdata.SD31.bin.part"}));
    EXPECT_EQ(runs[1], (QStringList{"adb", "pull", kConfig, entry + "/config.db.part"}));
    EXPECT_EQ(runs[2], kBootloaderRun);
    EXPECT_EQ(runs[3], flashRun("aboot"));
    EXPECT_EQ(runs[4], flashRun("boot"));
    EXPECT_EQ(runs[5], flashRun("modem"));
    EXPECT_EQ(runs[6], flashRun("system"));
    EXPECT_EQ(runs[7], kFastbootRebootRun);
    EXPECT_EQ(runs[8], kEtcModeRun);
    EXPECT_EQ(runs[9], kTmpModeRun);
    EXPECT_EQ(runs[10], (QStringList{"adb", "push", entry + "/bdata.SD31.bin", kWifi}));
    EXPECT_EQ(runs[11], (QStringList{"adb", "push", entry + "/config.db", kConfigRestored}));
    // Read back: the journal closes only on the device's own bytes.
    EXPECT_EQ(runs[12], (QStringList{"adb", "pull", kWifi, entry + "/bdata.SD31.bin.check"}));
    EXPECT_EQ(runs[13], (QStringList{"adb", "pull", kConfigRestored, entry + "/config.db.check"}));
    EXPECT_EQ(runs[14], kRebootRun);
    EXPECT_EQ(runs[15], kVersionRun);
    EXPECT_TRUE(openJournals().isEmpty());

    // The device: every image written once with its size, data restored, new firmware.
    const QJsonObject parts = sim->partitions();
    for (const Image& i : kFourImages) {
        const QJsonObject p = parts.value(QString::fromUtf8(i.partition)).toObject();
        EXPECT_EQ(p.value("size").toInt(), i.size) << i.partition;
        EXPECT_EQ(p.value("writes").toInt(), 1) << i.partition;
    }
    EXPECT_EQ(sim->deviceFile(kConfigRestored), kUserConfig);
    EXPECT_EQ(sim->deviceFile(kWifi), boardData);
    // The copies stay in the store, private, with what the manifest says of them.
    const QJsonObject manifest = backupManifest(entry);
    EXPECT_EQ(manifest.value("serial").toString(), QStringLiteral("0123456789ABCDEF"));
    EXPECT_EQ(manifest.value("deviceVersion").toString(), QStringLiteral("1.0.3"));
    EXPECT_EQ(manifest.value("packageVersion").toString(), QStringLiteral("1.0.4"));
    EXPECT_EQ(manifest.value("unit").toString(), QCryptographicHash::hash(boardData, QCryptographicHash::Sha256).toHex());
    const QJsonArray files = manifest.value("files").toArray();
    ASSERT_EQ(files.size(), 2);
    for (const QByteArray& saved : {boardData, kUserConfig}) {
        const QJsonObject f = files[saved == boardData ? 0 : 1].toObject();
        EXPECT_EQ(f.value("size").toInteger(), saved.size());
        EXPECT_EQ(f.value("md5").toString(), QCryptographicHash::hash(saved, QCryptographicHash::Md5).toHex());
        EXPECT_EQ(f.value("sha256").toString(), QCryptographicHash::hash(saved, QCryptographicHash::Sha256).toHex());
        EXPECT_TRUE(f.value("restored").toBool());
        EXPECT_EQ(modeOf(entry + '/' + f.value("name").toString()), S_IFREG | 0600);
    }
    EXPECT_EQ(modeOf(entry), S_IFDIR | 0700);
    EXPECT_FALSE(QFileInfo::exists(hostCopy("tq738hw_wifi_bk")));
    EXPECT_EQ(sim->firmwareVersion(), QStringLiteral("1.0.4"));
    // The mode files made it come back in its user personality; mode 2 reached adb, mode 1 last.
    EXPECT_EQ(switches(), (QList<QByteArray>{kMode2, kMode1}));

    // What the window showed, in order.
    EXPECT_EQ(log->statuses,
              (QStringList{QStringLiteral("Device Start Updating..."), L("stat Upgrading ..."),
                           filled("stat Switching to [%s] mode ...", "Fastboot"),
                           filled("stat Device attached with [%s] mode !", "Fastboot"),
                           filled("stat Writing [%s] ...", "aboot"), filled("stat Writing [%s] ...", "boot"),
                           filled("stat Writing [%s] ...", "modem"), filled("stat Writing [%s] ...", "system"),
                           filled("stat Switching back to [%s] mode ...", "FTM"), L("stat Wait Restart ..."),
                           usr("stat Switching back to [%s] mode ..."), L("stat Wait Restart ..."),
                           L("stat updated Reading version ..."), L("stat Success upgrade device !")}));
    const std::vector<double> expected = {0.0,         0.01,        0.03,          0.05, after(1024),
                                          after(5120), after(21504), after(23552), 0.92, 0.94,
                                          0.95,        0.97,        0.98,          1.0};
    ASSERT_EQ(log->progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_DOUBLE_EQ(log->progress[i], expected[i]) << "step " << i;
    EXPECT_DOUBLE_EQ(log->progress[7], 0.90);
    EXPECT_EQ(h.screen().percent, QStringLiteral("100 %"));

    expectSuccessScreen("1.0.4");
    EXPECT_EQ(h.deviceVersion(), "1.0.4");
    expectModeOneLast();
    EXPECT_FALSE(h.screen().barAnimating);

    // The waits, in order: settle; into the boot loader and two polls until it answers; settle;
    // one half second per image; restart, wait, one empty poll; restore, reboot, wait, two empty
    // polls (the simulator's restart takes two bus probes); one mode-2 repeat until adb answers.
    EXPECT_EQ(h.clock->sleeps(), (std::vector<double>{1.0, 5.0, 5.0, 5.0, 1.0, 0.5, 0.5, 0.5, 0.5, //
                                                      5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0}));
}

// ---- the start of the road ----

struct StaleCase {
    const char* name;
    const char* scenario;
    bool inBootLoader;
};
void PrintTo(const StaleCase& c, std::ostream* os) { *os << c.name; } // names, not bytes, in the log

class UpdateStaleCopies : public UpdateSimTest, public ::testing::WithParamInterface<StaleCase> {};

// Copies an earlier run left at the shared names (maybe of another device) go into the
// store under the unknown device and never onto this one: neither when the device starts
// in its boot loader (no backup at all) nor when this run's pull of the settings makes nothing.
TEST_P(UpdateStaleCopies, AreSetAsideNeverPushed) {
    ready(QString::fromUtf8(GetParam().scenario));
    if (GetParam().inBootLoader)
        sim->setPersonality(QStringLiteral("bootloader"));
    const QByteArray boardData = sim->deviceFile(kWifi);
    for (const auto& [name, bytes] : {std::pair{"tq738hw_wifi_bk", "board-of-device-A"}, {"tq738hw_usr_cfg_bk", "ssid=A"}}) {
        QFile f(hostCopy(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    press();

    const QList<QStringList> runs = toolRuns();
    for (const QStringList& r : runs) {
        EXPECT_FALSE(r.contains(hostCopy("tq738hw_wifi_bk")));
        EXPECT_FALSE(r.contains(hostCopy("tq738hw_usr_cfg_bk")));
        EXPECT_NE(r.value(2), kConfigRestored);
    }
    EXPECT_TRUE(sim->deviceFile(kConfigRestored).isNull());
    EXPECT_EQ(sim->deviceFile(kWifi), boardData); // its own, in both cases
    const QStringList aside = backupEntries(QStringLiteral("unknown device"));
    ASSERT_EQ(aside.size(), 1);
    QFile moved(aside.first() + QStringLiteral("/config.db"));
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), QByteArray("ssid=A"));
    EXPECT_FALSE(QFileInfo::exists(hostCopy("tq738hw_usr_cfg_bk")));
    if (GetParam().inBootLoader) {
        // Its data cannot be saved from there, and no journal says whose it is: nothing is written.
        EXPECT_TRUE(flashes().isEmpty());
        expectRetryScreen(L("stat Device not found !"));
        expectNoModeOne();
    } else {
        EXPECT_EQ(runs.count((QStringList{"adb", "push", backupEntry() + "/bdata.SD31.bin", kWifi})), 1);
        expectSuccessScreen("1.0.4");
        expectModeOneLast();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Starts, UpdateStaleCopies,
    ::testing::Values(StaleCase{"InBootLoader", "ftm", true},
                      StaleCase{"SettingsAbsentOnDevice", R"({"base": "ftm", "files": {"/etc/config.db": null}})", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateSimTest, NoToolListsTheDevice) {
    ready(QStringLiteral("usr-adb"));
    sim->setPersonality(QStringLiteral("usr")); // on the bus, but neither tool reaches it
    press();
    EXPECT_TRUE(toolRuns().isEmpty());
    EXPECT_EQ(log->progress, (std::vector<double>{0.0}));
    expectRetryScreen(L("stat Device not found !"));
    expectModeOneLast();
}

TEST_F(UpdateSimTest, BootLoaderNeverReached) {
    ready(QStringLiteral(R"({"base": "usr-adb", "faults": {"ignore_bootloader_request": true}})"));
    press();
    EXPECT_EQ(countRuns(kBootloaderRun), 11); // the first request and one per poll
    EXPECT_TRUE(flashes().isEmpty());
    EXPECT_EQ(sleeps(5.0), 11);
    expectRetryScreen(filled("stat Fail to switch [%s] mode !", "Fastboot"));
    expectModeOneLast();
}

// ---- writing ----

TEST_F(UpdateSimTest, EmptyImageIsPassedOverSilently) {
    ready(QStringLiteral("ftm"), {{"aboot", 1024}, {"spare", 0}, {"boot", 4096}, {"modem", 16384}, {"system", 2048}});
    press();
    for (const QStringList& r : toolRuns())
        EXPECT_NE(r.value(2), QStringLiteral("spare"));
    EXPECT_FALSE(log->statuses.contains(filled("stat Writing [%s] ...", "spare")));
    EXPECT_EQ(sleeps(0.5), 4);
    ASSERT_GE(log->progress.size(), 8u);
    EXPECT_DOUBLE_EQ(log->progress[4], after(1024));
    EXPECT_DOUBLE_EQ(log->progress[5], after(5120));
    EXPECT_DOUBLE_EQ(log->progress[7], 0.90);
    expectSuccessScreen("1.0.4");
}

TEST_F(UpdateSimTest, ImageMissingAtTheCheckIsNotWrittenEvenWhenBackAtStart) {
    ready(QStringLiteral("ftm"), {{"aboot", 1024}, {"boot", 4096}, {"modem", 16384}, {"system", 2048}, {"extra", 512}},
          {QStringLiteral("extra")});
    EXPECT_EQ(packageTotal(harness().app()), uint64_t(m_total)); // the check did not count it
    bundle.writeResource(QStringLiteral("extra.img"), QByteArray(512, 'x'));
    press();
    EXPECT_EQ(flashes(), (QList<QStringList>{flashRun("aboot"), flashRun("boot"), flashRun("modem"), flashRun("system")}));
    EXPECT_DOUBLE_EQ(log->progress[7], 0.90);
    expectSuccessScreen("1.0.4");
}

// The bytes written are the bytes the check hashed: an image replaced in the bundle after the
// check never reaches the device, and the copies live in a folder of this process alone.
TEST_F(UpdateSimTest, ImageReplacedAfterTheCheckNeverReachesTheDevice) {
    ready(QStringLiteral("ftm"));
    const QByteArray checked = QCryptographicHash::hash(QByteArray(4096, 'b'), QCryptographicHash::Md5).toHex();
    bundle.writeResource(QStringLiteral("boot.img"), QByteArray(4096, 'X'));
    press();
    EXPECT_EQ(sim->partitions().value("boot").toObject().value("md5").toString().toLatin1(), checked);
    expectSuccessScreen("1.0.4");
    const QFileInfo copies(QFileInfo(image("boot")).path());
    EXPECT_EQ(copies.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                       QFile::WriteUser | QFile::ExeUser),
              QFileDevice::Permissions());
    EXPECT_FALSE(copies.path().startsWith(bundle.path()));
}

// The check's walk ends at a line without partition name; nothing after it was verified,
// so a corrupt image there is never written.
TEST_F(UpdateSimTest, CorruptImageAfterAGapLineIsNeverWritten) {
    loadScenario(QStringLiteral(R"({"base": "ftm", "partitions": ["aboot"]})"));
    const QByteArray good = bundle.addImage("aboot", "aboot.img", QByteArray(1024, 'a'));
    QByteArray corrupt = bundle.addImage("system", "system.img", QByteArray(2048, 's'));
    corrupt.replace(corrupt.size() - 4, 4, "0000");
    bundle.writeVersion("HS_FW_1.0.4\n" + good + "\n,gap.img,0,00\n" + corrupt + "\n");
    m_total = 1024;
    checkAndDetect();
    press();
    EXPECT_EQ(flashes(), (QList<QStringList>{flashRun("aboot")}));
    EXPECT_FALSE(sim->partitions().contains("system"));
    EXPECT_FALSE(log->statuses.contains(filled("stat Writing [%s] ...", "system")));
    expectSuccessScreen("1.0.4");
}

struct WriteFailure {
    const char* scenario;
    int32_t code;
};

class UpdateWriteFailure : public UpdateSimTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(UpdateWriteFailure, LaterImagesUnwrittenDeviceStillRestarted) {
    ready(QString::fromUtf8(GetParam().scenario), {{"aboot", 1024}, {"boot", 4096}, {"system", 2048}});
    press();
    const QList<QStringList> runs = toolRuns();
    EXPECT_TRUE(runs.contains(flashRun("aboot")));
    EXPECT_TRUE(runs.contains(flashRun("boot")));
    EXPECT_FALSE(runs.contains(flashRun("system")));
    EXPECT_TRUE(runs.contains(kFastbootRebootRun));
    EXPECT_EQ(sleeps(0.5), 1);
    EXPECT_FALSE(sim->partitions().contains("system"));
    const QJsonObject aboot = sim->partitions().value("aboot").toObject();
    EXPECT_EQ(aboot.value("writes").toInt(), 1);
    switch (GetParam().code) {
    case 7:
        // Half-written with its data back: its journal stays, for the Retry that writes again.
        expectRetryScreen(L("stat Fail to write image !"));
        EXPECT_EQ(openJournals().size(), 1);
        EXPECT_TRUE(runs.contains(kVersionRun));
        expectModeOneLast();
        break;
    case 4:
        expectRetryScreen(filled("stat Fail to switch back [%s] mode !", "FTM"));
        expectNoModeOne(); // gone from the bus
        break;
    case 6:
        expectRetryScreen(usr("stat Fail to switch back [%s] mode !"));
        expectNoModeOne(); // still under the Qualcomm-vendor identity
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UpdateWriteFailure,
    ::testing::Values(
        WriteFailure{R"({"base": "ftm", "faults": {"flash_fail": ["boot"]}})", 7},
        WriteFailure{R"({"base": "ftm", "faults": {"flash_fail": ["boot"], "no_return_after_restart": 2}})", 4},
        WriteFailure{R"({"base": "ftm", "faults": {"flash_fail": ["boot"], "mode_write_refused": ["/etc/mode.cfg"]}})",
                     6},
        // The cable pulled while an image is written: fastboot waits for ever, its run is ended
        // at its limit. Plugged back, the device is restarted and the write failure reported;
        // left out, the restart never comes.
        WriteFailure{R"({"base": "ftm", "faults": {"pulled_during_flash": ["boot"]}, "replug_after": 0.3})", 7},
        WriteFailure{R"({"base": "ftm", "faults": {"pulled_during_flash": ["boot"]}})", 4}));

// ---- first restart ----

TEST_F(UpdateSimTest, NoReturnAfterFirstRestart) {
    ready(QStringLiteral("no-return"));
    press();
    // The boot loader is asked again on every poll it still answers; here it is gone.
    EXPECT_EQ(sleeps(5.0), 1 + 2 + 2 + 10); // into the boot loader (twice polled), restart, ten polls
    EXPECT_FALSE(toolRuns().contains(kEtcModeRun));
    EXPECT_FALSE(toolRuns().contains(kVersionRun));
    expectRetryScreen(filled("stat Fail to switch back [%s] mode !", "FTM"));
    expectNoModeOne(); // nothing of the device on the bus
}

TEST_F(UpdateSimTest, BackUnderOwnIdentityButAdbNeverReaches) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": {"restart_personality": {"2": "usr"}, "switch_ignored": true}})"));
    press();
    // Ten mode-2 switches while waiting for adb, then the closing mode 1.
    const QList<QByteArray> s = switches();
    EXPECT_EQ(s.count(kMode2), 10);
    expectRetryScreen(filled("stat Fail to switch back [%s] mode !", "FTM"));
    expectModeOneLast();
}

TEST_F(UpdateSimTest, QualcommIdentityAfterFirstRestartWritesModeFilesWithoutSwitching) {
    ready(QStringLiteral("ftm"));
    press();
    // No switch before the final restart: adb reached the device as it came back.
    const QList<SimRecord> records = sim->records();
    bool rebooted = false;
    for (const SimRecord& r : records) {
        if (r.kind == "adb" && r.args == kRebootRun.mid(1))
            rebooted = true;
        if (r.event == "cbw") {
            EXPECT_TRUE(rebooted) << "switch sent before the final restart";
        }
    }
    EXPECT_EQ(countRuns(kEtcModeRun), 1);
    EXPECT_EQ(countRuns(kTmpModeRun), 1);
    EXPECT_EQ(log->statuses.count(usr("stat Switching back to [%s] mode ...")), 1); // shown twice, same text
    expectSuccessScreen("1.0.4");
}

TEST_F(UpdateSimTest, OwnIdentityAfterFirstRestartSwitchesAndSkipsModeFiles) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": {"restart_personality": {"2": "usr", "3": "usr"}}})"));
    press();
    EXPECT_EQ(countRuns(kEtcModeRun), 0);
    EXPECT_EQ(countRuns(kTmpModeRun), 0);
    EXPECT_FALSE(log->statuses.contains(usr("stat Switching back to [%s] mode ...")));
    // One mode 2 after the first restart, one after the final one, then mode 1.
    EXPECT_EQ(switches(), (QList<QByteArray>{kMode2, kMode2, kMode1}));
    expectSuccessScreen("1.0.4");
}

// ---- to USR and the final restart ----

TEST_F(UpdateSimTest, QualcommIdentityAfterFinalRestart) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": {"restart_personality": {"3": "ftm"}}})"));
    press();
    EXPECT_FALSE(toolRuns().contains(kVersionRun));
    EXPECT_DOUBLE_EQ(log->progress.back(), 0.95);
    expectRetryScreen(usr("stat Fail to switch back [%s] mode !"));
    expectNoModeOne(); // only the Qualcomm-vendor identity on the bus
}

TEST_F(UpdateSimTest, NotBackOnTheBusAfterFinalRestart) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": {"no_return_after_restart": 3}})"));
    press();
    EXPECT_FALSE(toolRuns().contains(kVersionRun));
    EXPECT_GE(sleeps(5.0), 10);
    expectRetryScreen(usr("stat Fail to switch back [%s] mode !"));
    expectNoModeOne();
}

struct ModeFileFault {
    const char* name;
    const char* faults;
    int etcRuns;
    int tmpRuns;
};

class UpdateModeFileRefused : public UpdateSimTest, public ::testing::WithParamInterface<ModeFileFault> {};

TEST_P(UpdateModeFileRefused, EndsWithUsrFailure) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": %1})").arg(QString::fromUtf8(GetParam().faults)));
    press();
    EXPECT_EQ(countRuns(kEtcModeRun), GetParam().etcRuns);
    EXPECT_EQ(countRuns(kTmpModeRun), GetParam().tmpRuns);
    EXPECT_EQ(countRuns({"adb", "push"}), 0);
    EXPECT_FALSE(toolRuns().contains(kRebootRun));
    expectRetryScreen(usr("stat Fail to switch back [%s] mode !"));
    expectNoModeOne(); // the device stays in its Qualcomm-vendor personality
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdateModeFileRefused,
    ::testing::Values(ModeFileFault{"EtcRefused", R"({"mode_write_refused": ["/etc/mode.cfg"]})", 1, 0},
                      ModeFileFault{"TmpRefused", R"({"mode_write_refused": ["/tmp/mode.cfg"]})", 1, 1},
                      ModeFileFault{"LowerCaseOk", R"({"mode_write_lowercase": true})", 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- reading the version ----

TEST_F(UpdateSimTest, AdbNeverBackAtTheEndStillReportsTheWriting) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": {"switch_ignored": true}})"));
    press();
    EXPECT_EQ(switches().count(kMode2), 10);
    EXPECT_FALSE(toolRuns().contains(kVersionRun));
    EXPECT_TRUE(log->statuses.contains(filled("stat Fail to switch [%s] mode !", "ADB")));
    EXPECT_DOUBLE_EQ(log->progress.back(), 0.97);
    const std::vector<double> waits = harness().clock->sleeps();
    ASSERT_GE(waits.size(), 11u);
    EXPECT_EQ(waits.back(), 1.0);
    EXPECT_EQ(std::vector<double>(waits.end() - 11, waits.end() - 1), std::vector<double>(10, 5.0));
    expectSuccessScreen(nullptr); // never the version read before the update
    expectModeOneLast();
}

TEST_F(UpdateSimTest, VersionNeverReadShowsNoVersion) {
    ready(QStringLiteral("ftm"));
    sim->setFault(QStringLiteral("version_reply"), QStringLiteral("no_ok"));
    press();
    EXPECT_EQ(countRuns(kVersionRun), 11);
    EXPECT_TRUE(log->statuses.contains(L("stat updated Fail to read version number !")));
    EXPECT_DOUBLE_EQ(log->progress.back(), 1.0);
    expectSuccessScreen(nullptr);
}

struct VersionReply {
    const char* name;
    const char* faults;
    int runs;
    const char* shown; // null: no version read
};

// Detection has read the version once already; the simulator counts every read.
class UpdateVersionReply : public UpdateSimTest, public ::testing::WithParamInterface<VersionReply> {};

TEST_P(UpdateVersionReply, ReadsWhatFollowsTheFirstThreeCharacters) {
    ready(QStringLiteral("ftm"));
    sim->patch(QJsonDocument::fromJson(QByteArray(R"({"faults": )") + GetParam().faults + "}").object());
    press();
    EXPECT_EQ(countRuns(kVersionRun), GetParam().runs);
    EXPECT_FALSE(log->statuses.contains(L("stat updated Fail to read version number !")));
    expectSuccessScreen(GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UpdateVersionReply,
    ::testing::Values(VersionReply{"LowerCaseOk", R"({"version_reply": "lowercase"})", 1, "1.0.4"},
                      VersionReply{"OkFromThirdTry", R"({"version_ok_from_try": 4})", 3, "1.0.4"},
                      VersionReply{"NothingAfterOk", R"({"version_reply": "prefix_only"})", 1, nullptr},
                      VersionReply{"BlankAfterOk", R"({"version_reply": "empty"})", 1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- errors ----

TEST_F(UpdateSimTest, MissingToolEndsWithError) {
    ready(QStringLiteral("usr-adb"));
    ASSERT_TRUE(QFile::remove(bundle.resources() + QStringLiteral("/fastboot")));
    press();
    EXPECT_TRUE(toolRuns(true).isEmpty());
    EXPECT_EQ(harness().screen().info, L("info Please check device, reconnect it and try again."));
    expectCloseScreen(L("stat Fail to upgrade by some error !"));
    expectModeOneLast();
}

// ---- device data ----

struct BackupCase {
    const char* name;
    const char* scenario;
    bool earlierCopy; // an earlier run under the same serial (maybe another unit) left intact copies
    bool writes;
    bool foreignFolder = false; // the device's folder in the store belongs to another user
};

class UpdateBackup : public UpdateSimTest, public ::testing::WithParamInterface<BackupCase> {};

// A calibration that could not be copied stops the update before the boot loader, whatever
// the store holds under the serial every unit shares; one the device does not have is no loss.
TEST_P(UpdateBackup, NoWritingWithoutASavedCalibration) {
    ready(QString::fromUtf8(GetParam().scenario));
    if (GetParam().earlierCopy) {
        sim->setFault(QStringLiteral("pull_error"), QJsonValue::Null);
        bool saved = false;
        harness().runOnWorker([&] { saved = harness().services().data.backUp(harness().session().backupRun(), {}, {}); });
        ASSERT_TRUE(saved);
        sim->patch(QJsonDocument::fromJson(R"({"faults": {"pull_error": ["/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"]}})").object());
        sim->clearRecords();
    }
    const QString deviceFolder = harness().services().data.backupStore().deviceFolder(QStringLiteral("0123456789ABCDEF"));
    QTemporaryDir logs;
    if (GetParam().foreignFolder) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "only root can give a folder to another user";
        ASSERT_TRUE(QDir().mkpath(deviceFolder));
        ASSERT_EQ(::chown(QFile::encodeName(deviceFolder).constData(), 65534, 65534), 0);
        runlog::start(logs.path(), {}, false);
    }
    press();
    const QList<QStringList> runs = toolRuns();
    if (GetParam().foreignFolder) {
        QFile logFile(runlog::path());
        const QString log = logFile.open(QIODevice::ReadOnly) ? QString::fromUtf8(logFile.readAll()) : QString();
        runlog::stop();
        EXPECT_TRUE(log.contains(deviceFolder + QStringLiteral(" belongs to user 65534"))) << log.toStdString();
        EXPECT_TRUE(QDir(deviceFolder).isEmpty());
        EXPECT_FALSE(runs.contains(kBootloaderRun));
        return;
    }
    EXPECT_EQ(runs.value(0).mid(0, 3), (QStringList{"adb", "pull", kWifi}));
    EXPECT_EQ(runs.value(1).mid(0, 3), (QStringList{"adb", "pull", kConfig}));
    EXPECT_EQ(runs.contains(kBootloaderRun), GetParam().writes);
    // Only this run's copy of the settings goes back; no calibration is pushed.
    EXPECT_EQ(countRuns({"adb", "push", backupEntry() + "/config.db", kConfigRestored}), GetParam().writes ? 1 : 0);
    for (const QStringList& r : runs)
        EXPECT_FALSE(r.value(1) == QLatin1String("push") && r.value(3) == kWifi);
    if (GetParam().writes) {
        EXPECT_EQ(flashes().size(), 4);
        expectSuccessScreen("1.0.4");
    } else {
        EXPECT_TRUE(flashes().isEmpty());
        EXPECT_TRUE(sim->partitions().isEmpty());
        EXPECT_EQ(sim->personality(), QStringLiteral("ftm")); // untouched
        expectCloseScreen(L("stat Fail to upgrade by some error !"));
        EXPECT_EQ(harness().screen().info, L("info Please check device, reconnect it and try again."));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, UpdateBackup,
    ::testing::Values(BackupCase{"CopyFailed", "pull-error", false, false},
                      BackupCase{"CopyFailedAfterAnotherUnitsUpdate", "pull-error", true, false},
                      BackupCase{"AbsentOnDevice",
                                 R"({"base": "ftm", "files": {"/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin": null}})",
                                 false, true},
                      BackupCase{"FolderOfAnotherUser", "ftm", false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Data that did not go back is never a success: a refused push, or a push whose bytes do not
// read back, keeps the copies and the journal, says where, and Try Again puts the data back.
struct NotBackCase {
    const char* name;
    const char* faults;
    bool calibrationBack; // its copy reads back; the settings' does not
    // The settings the unit holds at Try Again: as the writing left them, set up by hand, or
    // set up again as they were saved.
    enum class Settings { LeftByWriting, ByHand, SameAgain } settings = Settings::LeftByWriting;
    // What the finish found on the unit stays in the store: some of it is not back on the unit.
    bool foundStays = true;
};
void PrintTo(const NotBackCase& c, std::ostream* os) { *os << c.name; }

class UpdateDataNotBack : public UpdateSimTest, public ::testing::WithParamInterface<NotBackCase> {};

TEST_P(UpdateDataNotBack, IsNoSuccessAndTryAgainPutsItBack) {
    ready(QStringLiteral(R"({"base": "ftm", "faults": %1})").arg(QString::fromUtf8(GetParam().faults)));
    const QByteArray boardData = sim->deviceFile(kWifi);
    press();
    const QString entry = backupEntry();
    ASSERT_FALSE(entry.isEmpty());
    const QJsonArray files = backupManifest(entry).value("files").toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject().value("restored").toBool(), GetParam().calibrationBack) << "counted once read back";
    EXPECT_EQ(files[1].toObject().value("restored").toBool(), !GetParam().calibrationBack);
    EXPECT_TRUE(QFileInfo::exists(entry + "/config.db"));
    EXPECT_EQ(openJournals().size(), 1);
    const Screen s = harness().screen();
    EXPECT_EQ(s.status, L("stat The firmware was written, but your data did not go back !"));
    EXPECT_EQ(s.info, L("info Press Try Again to put your data back.") + keptNote());
    EXPECT_EQ(harness().app().session().state(), SessionState::Updating);
    EXPECT_EQ(s.buttonTitle, L("btn Retry"));

    // Try Again: the unit is known by what the writing, or the push, left on it, and its own
    // data goes back.
    sim->clearFaults();
    QFile settings(entry + QStringLiteral("/config.db"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray saved = settings.readAll();
    using Settings = NotBackCase::Settings;
    if (GetParam().settings != Settings::LeftByWriting)
        sim->setDeviceFile(kConfig, GetParam().settings == Settings::ByHand ? QByteArray("ssid=ByHand\n") : saved);
    const QByteArray held = sim->deviceFile(kConfig);
    harness().app().onUpdateButtonClick();
    for (int pass = 0; pass < 10 && harness().app().session().state() == SessionState::Searching; ++pass)
        harness().runDetectPass();
    ASSERT_EQ(harness().screen().buttonTitle, L("btn Finish"));
    press();
    expectSuccessScreen("1.0.4");
    EXPECT_EQ(sim->deviceFile(kWifi), boardData);
    EXPECT_EQ(sim->deviceFile(kConfigRestored), saved);
    EXPECT_TRUE(openJournals().isEmpty());
    QStringList found;
    for (const QString& e : backupEntries())
        if (backupManifest(e).value("found").toBool())
            found << e;
    ASSERT_EQ(found.size(), GetParam().foundStays ? 1 : 0);
    if (GetParam().foundStays) {
        QFile copy(found.first() + QStringLiteral("/config.db"));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), held) << "the settings the unit held are not lost";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Restore, UpdateDataNotBack,
    ::testing::Values(NotBackCase{"SettingsPushRefused", R"({"push_error": ["/etc/new_config.db"]})", true},
                      NotBackCase{"SettingsPushRefusedThenSetUpByHand", R"({"push_error": ["/etc/new_config.db"]})", true,
                                  NotBackCase::Settings::ByHand},
                      NotBackCase{"SettingsPushRefusedThenSetUpAgainAsSaved", R"({"push_error": ["/etc/new_config.db"]})",
                                  true, NotBackCase::Settings::SameAgain, false},
                      NotBackCase{"CalibrationReadsBackOtherBytes",
                                  R"({"push_corrupts": ["/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"]})", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The journal folder cannot be written (a full disk does the same) at each of its writes in
// turn. Before the device may have been written the update stops with nothing written; after
// it, stopping half-written would be worse: the update goes on, says so, and every copy stays.
struct JournalLossCase {
    const char* name;
    int afterWait;           // the folder goes after this many waits; 0: during the settings' copy
    int32_t code;
    bool written;
};
void PrintTo(const JournalLossCase& c, std::ostream* os) { *os << c.name; }

class UpdateJournalLost : public UpdateSimTest, public ::testing::WithParamInterface<JournalLossCase> {
protected:
    // The folder becomes a file: nothing can be written in it, not even by root.
    void breakJournals() {
        const QString folder = harness().home() + QStringLiteral("/.local/state/hotspot-updater/journals");
        if (QFileInfo(folder).isFile())
            return;
        QDir().mkpath(folder);
        ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".gone")));
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
};

TEST_P(UpdateJournalLost, StopsBeforeTheBootLoaderOrGoesOnKeepingEveryCopy) {
    const JournalLossCase& c = GetParam();
    ready(c.afterWait == 0 ? QStringLiteral(R"({"base": "ftm", "faults": {"hang": "pull /etc/config.db", "hang_seconds": 0.3}})")
                           : QStringLiteral("ftm"));
    const QByteArray boardData = sim->deviceFile(kWifi);
    AppHarness& h = harness();
    std::atomic<int> waits{0};
    h.clock->onSleep([&](double) {
        if (++waits == c.afterWait)
            QMetaObject::invokeMethod(qApp, [this] { breakJournals(); }, Qt::BlockingQueuedConnection);
    });
    log.reset();
    h.app().onUpdateButtonClick();
    AppHarness::pumpUntil([&] {
        if (c.afterWait == 0 && toolRuns().contains(QStringList{"adb", "pull", kConfig, backupEntry() + "/config.db.part"}))
            breakJournals();
        return h.app().session().liveWorkers() == 0;
    });
    h.clock->onSleep(nullptr);

    EXPECT_EQ(h.screen().status, c.code == 9 ? L("stat The update could not be recorded, so nothing was written !")
                                             : L("stat Success upgrade device !"));
    EXPECT_EQ(!flashes().isEmpty(), c.written);
    EXPECT_EQ(toolRuns().contains(kBootloaderRun), c.written);
    EXPECT_EQ(sim->deviceFile(kWifi), boardData);
    if (c.code == 9) {
        EXPECT_EQ(h.app().session().state(), SessionState::Updating) << "Try Again once the disk has room";
        return;
    }
    EXPECT_TRUE(h.screen().info.contains(L("info The update journal could not be written; every copy of your data is kept.")));
    for (const QString& name : {QStringLiteral("bdata.SD31.bin"), QStringLiteral("config.db")})
        EXPECT_TRUE(QFileInfo::exists(backupEntry() + u'/' + name)) << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Writes, UpdateJournalLost,
    ::testing::Values(JournalLossCase{"BeforeItIsCreated", 1, 9, false},
                      JournalLossCase{"BeforeTheCopiesAreRecorded", 0, 9, false},
                      JournalLossCase{"AfterTheFirstImage", 5, 0, true},
                      JournalLossCase{"BeforeTheDataGoesBack", 11, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A link planted at one shared name is neither followed nor stops the other copy.
TEST_F(UpdateSimTest, PlantedLinkAtASharedNameIsNotFollowed) {
    ready(QStringLiteral("ftm"));
    const QString victim = harness().scratch() + QStringLiteral("/victim");
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("precious");
    v.close();
    ASSERT_TRUE(QFile::link(victim, hostCopy("tq738hw_usr_cfg_bk")));
    press();
    QFile check(victim);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("precious"));
    EXPECT_TRUE(QFileInfo(hostCopy("tq738hw_usr_cfg_bk")).isSymLink());
    const QString entry = backupEntry();
    EXPECT_EQ(countRuns({"adb", "push", entry + "/bdata.SD31.bin", kWifi}), 1);
    EXPECT_EQ(countRuns({"adb", "push", entry + "/config.db", kConfigRestored}), 1);
    expectSuccessScreen("1.0.4");
}

// Ten runs of a unit whose copies all went back are kept, and every run whose copies did not;
// another unit's runs (told apart by the calibration's digest) are not counted against them,
// nor is a run whose calibration was not read (each such run is a unit of its own), nor an
// entry an open journal names.
TEST_F(UpdateSimTest, StoreKeepsTheLastTenConfirmedRunsAndEveryUnconfirmedOne) {
    ready(QStringLiteral("ftm"));
    const BackupStore store = harness().services().data.backupStore();
    // Per day: c all copies back, u none back, p one of two back, n no manifest, o another
    // unit's, all back, e all back but no calibration read.
    const QByteArray days = "ooeupnccccccccccc";
    const QString unit = QString::fromLatin1(QCryptographicHash::hash(sim->deviceFile(kWifi), QCryptographicHash::Sha256).toHex());
    for (int day = 1; day <= days.size(); ++day) {
        const QString entry = store.createEntry(QStringLiteral("0123456789ABCDEF"),
                                                QDateTime(QDate(2020, 1, day), QTime(12, 0), Qt::UTC));
        ASSERT_FALSE(entry.isEmpty());
        const char kind = days[day - 1];
        if (kind == 'n')
            continue;
        BackupManifest m;
        for (const QString& name : {QStringLiteral("bdata.SD31.bin"), QStringLiteral("config.db")}) {
            QFile f(entry + u'/' + name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("older");
            f.close();
            m.files.push_back(*BackupStore::seal(f.fileName(), entry, name));
            m.files.back().restored = kind == 'c' || kind == 'o' || kind == 'e' || (kind == 'p' && m.files.size() == 1);
        }
        m.unit = kind == 'o' ? QStringLiteral("another unit") : kind == 'e' ? QString() : unit;
        ASSERT_TRUE(store.writeManifest(entry, m));
    }
    press();
    expectSuccessScreen("1.0.4");
    // Eleven confirmed of this unit before this run (whose own is not confirmed yet when the
    // store rotates): the oldest goes; the unconfirmed ones, the other unit's and the one
    // without a calibration stay.
    const QStringList entries = backupEntries();
    ASSERT_EQ(entries.size(), 17);
    QStringList kept;
    for (const QString& entry : entries.mid(0, 16))
        kept << QFileInfo(entry).fileName().mid(6, 2);
    EXPECT_EQ(kept, (QStringList{"01", "02", "03", "04", "05", "06", "08", "09", "10", "11", "12", "13", "14", "15", "16", "17"}));
    EXPECT_TRUE(keptNote().isEmpty()); // this run's own entry, confirmed after the rotation
}

// ---- retry ----

struct RetryCase {
    const char* name;
    const char* scenario;
    int32_t code;
};

class UpdateRetry : public UpdateSimTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UpdateRetry, RetryLeadsBackToSearchingAndASecondRun) {
    ready(QString::fromUtf8(GetParam().scenario));
    if (GetParam().code == 2)
        sim->unplug();
    press();
    AppHarness& h = harness();
    ASSERT_EQ(h.app().session().state(), SessionState::Updating);
    ASSERT_EQ(h.screen().buttonTitle, L("btn Retry"));

    // The user reconnects the device and presses Retry.
    loadScenario(QStringLiteral("ftm"));
    h.app().onUpdateButtonClick();
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    h.runDetectPass();
    ASSERT_EQ(h.app().session().state(), SessionState::Offered);
    EXPECT_EQ(h.screen().buttonTitle, L("btn Start"));
    sim->clearRecords();
    press();
    expectSuccessScreen("1.0.4");
    expectModeOneLast();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, UpdateRetry,
    ::testing::Values(RetryCase{"NotFound", "ftm", 2}, RetryCase{"NoReturn", "no-return", 4},
                      RetryCase{"NoBootLoader", "ignores-bootloader", 5},
                      RetryCase{"ModeFileRefused", "mode-write-refused", 6}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- an update that did not finish ----

// At the package check: a journal that cannot be trusted is set aside and the user told
// where; one whose update never reached its device is closed, but its copies stay until the
// unit is seen holding the same data: a phase alone proves nothing.
TEST_F(UpdateSimTest, JournalsOfEarlierRunsAreReviewedAtTheCheck) {
    const QString folder = harness().home() + QStringLiteral("/.local/state/hotspot-updater/journals");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile broken(folder + QStringLiteral("/update-broken.json"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{\"format\": 1,");
    broken.close();
    const BackupStore store(harness().home() + QStringLiteral("/.local/share/hotspot-updater/backups"));
    UpdateJournal saving;
    saving.packageVersion = QStringLiteral("1.0.4");
    saving.versionSha256 = QString(64, u'a');
    saving.storeEntry = store.createEntry(QStringLiteral("0123456789ABCDEF"), QDateTime::currentDateTimeUtc().addDays(-1));
    saving.created = saving.changed = QDateTime::currentDateTimeUtc();
    ASSERT_TRUE(JournalStore(folder).create(saving).has_value());
    loadScenario(QStringLiteral("ftm"));
    QFile copy(saving.storeEntry + QStringLiteral("/bdata.SD31.bin"));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(sim->deviceFile(kWifi));
    copy.close();

    ready(QStringLiteral("ftm"));
    EXPECT_EQ(harness().screen().buttonTitle, L("btn Start"));
    EXPECT_TRUE(openJournals().isEmpty());
    EXPECT_TRUE(copy.exists());
    press();
    EXPECT_FALSE(QFileInfo::exists(saving.storeEntry)) << "the unit holds that data: the copy goes";
    const QStringList aside = QDir(folder).entryList({QStringLiteral("update-broken.json.set-aside-*")});
    ASSERT_EQ(aside.size(), 1);
    const QList<QMessageBox*> notices = harness().window().findChildren<QMessageBox*>(QStringLiteral("notice"));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.first()->text().contains(folder + u'/' + aside.first()));
}

struct LateCase {
    const char* name;
    const char* scenario;
    int32_t code;
    bool newRun; // finished by the next start of the application, not by Try Again
    // Never back on adb after the writing, the unit never showed what the writing leaves; or
    // it showed it, but Try Again follows the user's reconnecting and a new run watched
    // nothing: nothing tells it from another unit on the package, so the user is asked.
    bool asked;
};

void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class UnfinishedUpdate : public UpdateSimTest, public ::testing::WithParamInterface<LateCase> {};

// The device is back after the update gave up on it: running the new firmware, without its
// data. Try Again, or the next start, offers to finish (or asks whether it is that unit), and
// the journal's copies go back; what the unit held before that is kept until it is known to
// be only what the writing left.
TEST_P(UnfinishedUpdate, IsFinishedWithItsOwnData) {
    ready(QStringLiteral(R"({"base": "%1", "files": {"/etc/config.db": "ssid=Kitchen\nkey=hunter2\n"}})")
              .arg(QString::fromUtf8(GetParam().scenario)));
    const QByteArray boardData = sim->deviceFile(kWifi);
    press();
    ASSERT_EQ(harness().app().session().state(), SessionState::Updating);
    ASSERT_EQ(openJournals().size(), 1);

    // Back late, with what writing its file system left: the factory's data.
    sim->clearFaults();
    sim->setPersonality(QStringLiteral("ftm"));
    const QByteArray factory = sim->deviceFile(kWifi);
    ASSERT_NE(factory, boardData);
    ASSERT_EQ(sim->firmwareVersion(), QStringLiteral("1.0.4"));
    log.reset(); // it watches the application that may end here
    AppHarness& h = GetParam().newRun ? startAgain() : harness();
    if (GetParam().newRun)
        h.runInitialize();
    else
        h.app().onUpdateButtonClick();
    ASSERT_EQ(h.app().session().state(), SessionState::Searching);
    h.runDetectPass();
    ASSERT_EQ(h.app().session().state(), SessionState::Offered);
    EXPECT_EQ(h.screen().buttonTitle, L("btn Finish"));
    EXPECT_EQ(h.screen().status, L("stat The last update did not finish !"));
    EXPECT_EQ(h.window().findChildren<QMessageBox*>(QStringLiteral("unitQuestion")).size(), GetParam().asked ? 1 : 0);
    EXPECT_TRUE(h.screen().info.startsWith(filled("info An update to %s did not finish.", "1.0.4")));
    sim->clearRecords();

    if (GetParam().asked) {
        h.app().onUpdateButtonClick(); // the button is no answer
        EXPECT_EQ(h.app().session().state(), SessionState::Offered);
        answerQuestion(true);
    } else {
        press();
    }
    expectSuccessScreen("1.0.4");
    EXPECT_EQ(sim->deviceFile(kWifi), boardData);
    EXPECT_EQ(sim->deviceFile(kConfigRestored), kUserConfig);
    EXPECT_TRUE(openJournals().isEmpty());
    // What the unit held at the finish was saved first, and stays: its settings are not the
    // unit's own, and nothing shows they are only what the writing left.
    const QStringList entries = backupEntries();
    ASSERT_EQ(entries.size(), 2);
    for (const QJsonValue& f : backupManifest(entries.first()).value("files").toArray())
        EXPECT_TRUE(f.toObject().value("restored").toBool());
    QFile found(entries.last() + QStringLiteral("/bdata.SD31.bin"));
    ASSERT_TRUE(found.open(QIODevice::ReadOnly));
    EXPECT_EQ(found.readAll(), factory);
    expectModeOneLast();
}

// A copy changed in the store since it was saved is no unit's data: the journal is set aside
// and the user told where, and nothing is pushed or written.
TEST_F(UpdateSimTest, JournalWhoseCopyChangedIsSetAsideNotActedOn) {
    ready(QStringLiteral("no-return"));
    press();
    ASSERT_EQ(openJournals().size(), 1);
    QFile copy(backupEntry() + QStringLiteral("/bdata.SD31.bin"));
    ASSERT_TRUE(copy.open(QIODevice::Append));
    copy.write("changed");
    copy.close();
    sim->clearFaults();
    sim->setPersonality(QStringLiteral("ftm"));
    AppHarness& h = harness();
    h.app().onUpdateButtonClick();
    h.runDetectPass();
    ASSERT_EQ(h.screen().buttonTitle, L("btn Finish"));
    sim->clearRecords();

    answerQuestion(true);
    expectCloseScreen(L("stat Fail to upgrade by some error !"));
    EXPECT_TRUE(toolRuns().isEmpty());
    EXPECT_TRUE(openJournals().isEmpty());
    const QList<QMessageBox*> notices = h.window().findChildren<QMessageBox*>(QStringLiteral("notice"));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.first()->text().contains(QStringLiteral(".set-aside-")));
}

INSTANTIATE_TEST_SUITE_P(
    Late, UnfinishedUpdate,
    ::testing::Values(LateCase{"NoReturnByTryAgain", "no-return", 4, false, true},
                      LateCase{"NoReturnByNewRun", "no-return", 4, true, true},
                      LateCase{"ModeFileRefusedByTryAgain", "mode-write-refused", 6, false, true},
                      LateCase{"ModeFileRefusedByNewRun", "mode-write-refused", 6, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

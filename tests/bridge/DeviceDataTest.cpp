#include "BridgeFixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

namespace {

const QString kWifiDevice = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");
const QString kSerial = QStringLiteral("0123456789ABCDEF");
const QByteArray kAbsent = "adb: error: failed to stat remote object '/x': No such file or directory\n";
const QByteArray kCopyFailed = "adb: error: failed to copy '/x' to '/y': remote read failed: Input/output error\n";

// adb for a reachable device. A pull writes "<device path> content" to its target unless
// the reply file pull-<wifi|cfg>.nofile exists; pulls and pushes print pull-/push-<which>.out.
class DataTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        writeTool("fastboot", "");
        const QString replies = path("replies");
        writeTool("adb", QStringLiteral("R='%1'\n"
                                        "case \"$2$3\" in *bdata*) which=wifi;; *config*) which=cfg;; esac\n"
                                        "case \"$1\" in\n"
                                        "devices) printf 'List of devices attached\\n0123456789ABCDEF\\tdevice\\n\\n';;\n"
                                        "pull) cat \"$R/pull-$which.out\" 2>/dev/null\n"
                                        "  [ -e \"$R/pull-$which.nofile\" ] || printf '%s content' \"$2\" > \"$3\";;\n"
                                        "push) cat \"$R/push-$which.out\" 2>/dev/null;;\n"
                                        "esac")
                             .arg(replies));
    }
    void reply(const QString& name, const QByteArray& bytes) { replyFile(name, bytes); }
    void clearReplies() {
        QDir(path("replies")).removeRecursively();
        QDir().mkpath(path("replies"));
    }
    QStringList adbTransfers() const {
        QStringList transfers = runs("adb");
        transfers.removeAll(QStringLiteral("devices|"));
        return transfers;
    }
    QStringList hostTmpEntries() const {
        return QDir(hostTmp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    QString store() const { return home() + QStringLiteral("/.local/share/hotspot-updater/backups"); }
    // A device's entries, oldest first, as full paths.
    QStringList entries() const {
        const QDir dir(store() + u'/' + kSerial);
        QStringList out;
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            out << dir.filePath(name);
        return out;
    }
    static QJsonObject manifest(const QString& entry) {
        return QJsonDocument::fromJson(readFile(entry + QStringLiteral("/manifest.json"))).object();
    }
    static QStringList savedNames(const QString& entry) {
        QStringList names;
        for (const QJsonValue& f : manifest(entry).value("files").toArray())
            names << f.toObject().value("name").toString();
        return names;
    }
    static QStringList restoredNames(const QString& entry) {
        QStringList names;
        for (const QJsonValue& f : manifest(entry).value("files").toArray())
            if (f.toObject().value("restored").toBool())
                names << f.toObject().value("name").toString();
        return names;
    }
};

mode_t modeOf(const QString& file) {
    struct stat status {};
    ::lstat(QFile::encodeName(file).constData(), &status);
    return status.st_mode;
}

// ---- backup ----

TEST_F(DataTest, BackupGoesIntoAPrivateEntryNotTheSharedFolder) {
    EXPECT_TRUE(backUp());
    ASSERT_EQ(entries().size(), 1);
    const QString entry = entries().first();
    for (const QString& dir : {store() + "/..", store(), store() + '/' + kSerial, entry})
        EXPECT_EQ(modeOf(dir), S_IFDIR | 0700) << dir.toStdString();
    EXPECT_EQ(readFile(entry + "/config.db"), "/etc/config.db content");
    EXPECT_TRUE(hostTmpEntries().isEmpty());
    EXPECT_EQ(adbTransfers().first(), "pull|" + kWifiDevice + '|' + entry + "/bdata.SD31.bin.part|");
}

TEST_F(DataTest, BothNeedTheDeviceOnAdb) {
    writeTool("fastboot", "echo 'MDM9615 fastboot'");
    EXPECT_FALSE(backUp());
    EXPECT_FALSE(QFileInfo::exists(store()));
    EXPECT_TRUE(restore()) << "nothing to put back";
    EXPECT_TRUE(runs("adb").isEmpty());
}

struct PullCase {
    const char* name;
    QByteArray wifiOut;
    bool wifiNoFile;
    QByteArray cfgOut;
    bool cfgNoFile;
    bool earlierRun; // an earlier run under the same serial left intact copies
    bool mayWrite;
    QStringList saved;
};
void PrintTo(const PullCase& c, std::ostream* os) { *os << c.name; } // names, not bytes, in the log

class DataPull : public DataTest, public ::testing::WithParamInterface<PullCase> {};

// Each file is judged on its own; an absent file is nothing to lose, a failed copy stops
// the update: an earlier copy under the serial every unit shares may be another unit's.
TEST_P(DataPull, EachFileJudgedOnItsOwn) {
    const PullCase& c = GetParam();
    if (c.earlierRun) {
        ASSERT_TRUE(backUp());
    }
    const qsizetype before = entries().size();
    reply("pull-wifi.out", c.wifiOut);
    reply("pull-cfg.out", c.cfgOut);
    if (c.wifiNoFile)
        reply("pull-wifi.nofile", "");
    if (c.cfgNoFile)
        reply("pull-cfg.nofile", "");
    EXPECT_EQ(backUp(), c.mayWrite);
    if (c.saved.isEmpty()) {
        EXPECT_EQ(entries().size(), before); // an entry without copies is not kept
        return;
    }
    ASSERT_EQ(entries().size(), before + 1);
    EXPECT_EQ(savedNames(entries().last()), c.saved);
    EXPECT_EQ(QDir(entries().last()).entryList(QDir::Files).filter(".part"), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, DataPull,
    ::testing::Values(
        PullCase{"BothSaved", "", false, "", false, false, true, {"bdata.SD31.bin", "config.db"}},
        PullCase{"CapitalisedErrorIsNoFailure", "Error? 1 file pulled\n", false, "", false, false, true,
                 {"bdata.SD31.bin", "config.db"}},
        PullCase{"CalibrationAbsent", kAbsent, true, "", false, false, true, {"config.db"}},
        PullCase{"CalibrationAbsentOldWording", "adb: error: remote object '/x' does not exist\n", true, "", false,
                 false, true, {"config.db"}},
        PullCase{"CalibrationCopyFailed", kCopyFailed, false, "", false, false, false, {"config.db"}},
        PullCase{"CalibrationLeftNoFile", "", true, "", false, false, false, {"config.db"}},
        PullCase{"CalibrationFailedAfterAnEarlierRun", kCopyFailed, false, "", false, true, false, {"config.db"}},
        PullCase{"SettingsAbsent", "", false, kAbsent, true, false, true, {"bdata.SD31.bin"}},
        PullCase{"SettingsCopyFailed", "", false, kCopyFailed, false, false, false, {"bdata.SD31.bin"}},
        PullCase{"SettingsFailedAfterAnEarlierRun", "", false, kCopyFailed, false, true, false, {"bdata.SD31.bin"}},
        PullCase{"NeitherOnTheDevice", kAbsent, true, kAbsent, true, false, true, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// An open journal's entry is never rotated away, however many newer ones were confirmed back.
TEST_F(DataTest, RotationKeepsTheEntriesAnOpenJournalNames) {
    const BackupStore store = data().backupStore();
    QStringList made;
    for (int day = 1; day <= BackupStore::kKeepRuns + 2; ++day) {
        made << store.createEntry(kSerial, QDateTime(QDate(2020, 1, day), QTime(12, 0), Qt::UTC));
        writeFile(made.back() + "/bdata.SD31.bin", "calibration");
        BackupManifest manifest;
        manifest.unit = QStringLiteral("unit");
        manifest.files.push_back(*BackupStore::seal(made.back() + "/bdata.SD31.bin", made.back(), "bdata.SD31.bin"));
        manifest.files.back().restored = true;
        ASSERT_TRUE(store.writeManifest(made.back(), manifest));
    }
    store.rotate(kSerial, {made.first()});
    EXPECT_TRUE(QFileInfo::exists(made[0])) << "named by an open journal";
    EXPECT_FALSE(QFileInfo::exists(made[1])) << "the oldest of the eleven others";
    EXPECT_TRUE(QFileInfo::exists(made[2]));
}

// ---- restore ----

// Pushed is not restored: a copy counts only once it reads back equal from the device (this
// fake device answers the settings' new name with other bytes).
TEST_F(DataTest, RestorePushesThisRunsCopiesAndCountsOnlyWhatReadsBack) {
    ASSERT_TRUE(backUp());
    const QString entry = entries().first();
    ASSERT_TRUE(data().restore(m_run));
    EXPECT_TRUE(restoredNames(entry).isEmpty());
    const QStringList transfers = adbTransfers();
    ASSERT_EQ(transfers.size(), 4);
    EXPECT_EQ(transfers.mid(2), (QStringList{"push|" + entry + "/bdata.SD31.bin|" + kWifiDevice + '|',
                                             "push|" + entry + "/config.db|/etc/new_config.db|"}));
    EXPECT_FALSE(data().confirmBack(m_run));
    EXPECT_EQ(restoredNames(entry), (QStringList{"bdata.SD31.bin"}));
    EXPECT_EQ(m_run.unrestoredEntry(), entry);
    EXPECT_EQ(readFile(entry + "/config.db"), "/etc/config.db content"); // kept, durable
}

struct PushCase {
    const char* name;
    const char* failingReply; // reply file that reports an error, or a copy to damage
    int pushes;
    QStringList restored;
};
void PrintTo(const PushCase& c, std::ostream* os) { *os << c.name; } // names, not bytes, in the log

class DataPush : public DataTest, public ::testing::WithParamInterface<PushCase> {};

TEST_P(DataPush, FailedRestoreKeepsTheCopyAndSaysWhere) {
    ASSERT_TRUE(backUp());
    const QString entry = entries().first();
    const QString failing = QString::fromUtf8(GetParam().failingReply);
    if (failing.startsWith("push-"))
        reply(failing, "adb: error: failed to copy\n");
    else
        writeFile(entry + '/' + failing, "changed since");
    EXPECT_FALSE(data().restore(m_run));
    EXPECT_EQ(adbTransfers().filter("push|").size(), GetParam().pushes);
    EXPECT_EQ(restoredNames(entry), GetParam().restored);
    EXPECT_EQ(m_run.unrestoredEntry(), entry);
}

INSTANTIATE_TEST_SUITE_P(Failures, DataPush,
                         ::testing::Values(PushCase{"CalibrationPushFails", "push-wifi.out", 1, {}},
                                           PushCase{"SettingsPushFails", "push-cfg.out", 2, {}},
                                           PushCase{"CopyChangedInTheStore", "bdata.SD31.bin", 0, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

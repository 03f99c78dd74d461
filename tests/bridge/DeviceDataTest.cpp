#include "BridgeFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

const QString kWifiDevice = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");

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
    QString wifiCopy() const { return m_app->wifiBackupPath(); }
    QString cfgCopy() const { return m_app->configBackupPath(); }
    QStringList adbTransfers() const {
        QStringList transfers = runs("adb");
        transfers.removeAll(QStringLiteral("devices|"));
        return transfers;
    }
    QStringList hostTmpEntries() const {
        return QDir(hostTmp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
};

mode_t modeOf(const QString& file) {
    struct stat status {};
    ::lstat(QFile::encodeName(file).constData(), &status);
    return status.st_mode;
}

// ---- backup ----

TEST_F(DataTest, BackupCopiesBothFilesPrivately) {
    EXPECT_TRUE(m_app->backAdbData());
    EXPECT_EQ(readFile(wifiCopy()), kWifiDevice.toUtf8() + " content");
    EXPECT_EQ(readFile(cfgCopy()), "/etc/config.db content");
    EXPECT_EQ(modeOf(wifiCopy()), S_IFREG | 0600);
    EXPECT_EQ(modeOf(cfgCopy()), S_IFREG | 0600);
    EXPECT_EQ(hostTmpEntries(), (QStringList{"tq738hw_usr_cfg_bk", "tq738hw_wifi_bk"}));

    const QStringList transfers = adbTransfers();
    ASSERT_EQ(transfers.size(), 2);
    EXPECT_TRUE(transfers[0].startsWith("pull|" + kWifiDevice + "|" + hostTmp() + "/"));
    EXPECT_TRUE(transfers[0].endsWith("/tq738hw_wifi_bk|"));
    EXPECT_TRUE(transfers[1].startsWith("pull|/etc/config.db|" + hostTmp() + "/"));
}

TEST_F(DataTest, BothNeedTheDeviceOnAdb) {
    writeTool("fastboot", "echo 'MDM9615 fastboot'");
    EXPECT_FALSE(m_app->backAdbData());
    EXPECT_TRUE(hostTmpEntries().isEmpty());
    writeFile(wifiCopy(), "board");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_TRUE(runs("adb").isEmpty());
    EXPECT_TRUE(QFile::exists(wifiCopy()));
}

TEST_F(DataTest, FailedFirstPullStopsTheBackup) {
    writeFile(cfgCopy(), "earlier settings");
    reply("pull-wifi.out", "adb: error: remote object does not exist\n");
    EXPECT_FALSE(m_app->backAdbData());
    EXPECT_EQ(adbTransfers().size(), 1);
    EXPECT_FALSE(QFile::exists(wifiCopy()));
    EXPECT_EQ(readFile(cfgCopy()), "earlier settings");
    EXPECT_EQ(hostTmpEntries(), QStringList{"tq738hw_usr_cfg_bk"});
}

TEST_F(DataTest, CapitalisedErrorIsNotAFailure) {
    reply("pull-wifi.out", "Error? 1 file pulled\n");
    EXPECT_TRUE(m_app->backAdbData());
    EXPECT_EQ(adbTransfers().size(), 2);
}

TEST_F(DataTest, PullThatLeavesNoFileIsNoBackup) {
    reply("pull-wifi.nofile", "");
    EXPECT_FALSE(m_app->backAdbData());
    EXPECT_EQ(adbTransfers().size(), 1);
    EXPECT_TRUE(hostTmpEntries().isEmpty());
}

TEST_F(DataTest, FailedSecondPullGoesUnnoticed) {
    writeFile(cfgCopy(), "earlier settings");
    reply("pull-cfg.out", "adb: error: failed to stat remote object\n");
    reply("pull-cfg.nofile", "");
    EXPECT_TRUE(m_app->backAdbData());
    EXPECT_EQ(readFile(cfgCopy()), "earlier settings");
}

TEST_F(DataTest, PlantedLinkIsNeverWrittenThrough) {
    const QString victim = path("victim");
    for (const QString& copy : {wifiCopy(), cfgCopy()}) {
        QDir(hostTmp()).removeRecursively();
        QDir().mkpath(hostTmp());
        writeFile(victim, "precious");
        ASSERT_TRUE(QFile::link(victim, copy));
        EXPECT_FALSE(m_app->backAdbData());
        EXPECT_EQ(readFile(victim), "precious");
        EXPECT_TRUE(QFileInfo(copy).isSymLink());
    }
    EXPECT_TRUE(adbTransfers().isEmpty());
}

// ---- restore ----

TEST_F(DataTest, RestorePushesBothAndRemovesTheCopies) {
    writeFile(wifiCopy(), "board");
    writeFile(cfgCopy(), "settings");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_EQ(adbTransfers(), (QStringList{"push|" + wifiCopy() + "|" + kWifiDevice + "|",
                                           "push|" + cfgCopy() + "|/etc/new_config.db|"}));
    EXPECT_TRUE(hostTmpEntries().isEmpty());
}

TEST_F(DataTest, RestoreWithoutBoardDataRunsNothing) {
    writeFile(cfgCopy(), "settings");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_TRUE(runs("adb").isEmpty());
    EXPECT_TRUE(runs("fastboot").isEmpty());
    EXPECT_TRUE(QFile::exists(cfgCopy()));
}

TEST_F(DataTest, FailedBoardDataPushKeepsBothCopies) {
    writeFile(wifiCopy(), "board");
    writeFile(cfgCopy(), "settings");
    reply("push-wifi.out", "adb: error: failed to copy\n");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_EQ(adbTransfers().size(), 1);
    EXPECT_EQ(readFile(wifiCopy()), "board");
    EXPECT_EQ(readFile(cfgCopy()), "settings");
}

TEST_F(DataTest, FailedSettingsPushKeepsTheSettings) {
    writeFile(wifiCopy(), "board");
    writeFile(cfgCopy(), "settings");
    reply("push-cfg.out", "adb: error: failed to copy\n");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_EQ(adbTransfers().size(), 2);
    EXPECT_FALSE(QFile::exists(wifiCopy()));
    EXPECT_EQ(readFile(cfgCopy()), "settings");
}

TEST_F(DataTest, MissingSettingsCopyIsPushedAnyway) {
    writeFile(wifiCopy(), "board");
    reply("push-cfg.out", "adb: error: cannot stat\n");
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_EQ(adbTransfers().size(), 2);
    EXPECT_TRUE(hostTmpEntries().isEmpty());
}

TEST_F(DataTest, RestoreNeverPushesThroughALink) {
    writeFile(path("victim"), "secret");
    QFile::link(path("victim"), wifiCopy());
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_TRUE(runs("adb").isEmpty());

    QFile::remove(wifiCopy());
    writeFile(wifiCopy(), "board");
    QFile::link(path("victim"), cfgCopy());
    EXPECT_FALSE(m_app->restoreAdbData());
    EXPECT_EQ(adbTransfers(), QStringList{"push|" + wifiCopy() + "|" + kWifiDevice + "|"});
    EXPECT_TRUE(QFileInfo(cfgCopy()).isSymLink());
    EXPECT_EQ(readFile(path("victim")), "secret");
}

} // namespace

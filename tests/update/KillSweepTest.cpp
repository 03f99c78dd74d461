// The host dies (the updater and the tool it runs, by SIGKILL) at every step of an update on
// the simulated hotspot; then the updater runs again with --yes. Every row must end with the
// package on the device, both data files back byte for byte, no journal open and no copy in
// the store that is not confirmed back. With HOTSPOT_SWEEP_TABLE set, the rows are written
// there as a Markdown table (scripts/bench --kill-sweep prints it).

#include "tests/update/RunnerFixture.h"
#include "workflow/JournalKeeper.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>
#include <vector>

using namespace testing_support;

namespace {

const QByteArray kUserConfig = "ssid=Kitchen\nkey=hunter2\n";

struct KillRow {
    const char* step;
    const char* command; // the tool run it strikes: any whose line holds this
    int nth;
    const char* at;      // before, during or after the run's effect
};
void PrintTo(const KillRow& row, std::ostream* os) { *os << row.step; }

const KillRow kRows[] = {
    {"pulling the calibration", "adb pull /lib/firmware", 1, "during"},
    {"pulling the settings", "adb pull /etc/config.db", 1, "during"},
    {"after the backup", "sys_reboot bootloader", 1, "before"},
    {"on the way to the boot loader", "sys_reboot bootloader", 1, "after"},
    {"writing the first image", "fastboot flash aboot", 1, "during"},
    {"between images", "fastboot flash boot", 1, "before"},
    {"writing the last image", "fastboot flash system", 1, "during"},
    {"leaving the boot loader", "fastboot reboot", 1, "after"},
    {"writing the mode files", "echo 1 > /etc/mode.cfg", 1, "after"},
    {"pushing the calibration", "adb push", 1, "during"},
    {"pushing the settings", "adb push", 2, "during"},
    {"reading the data back", ".check", 1, "before"},
    {"the final restart", "adb shell sys_reboot", 2, "after"},
    {"before the final version read", "cmmd info firmware_ver", 2, "before"},
};

struct KillOutcome {
    KillRow row;
    QString firstEnd{}; // how the killed run ended
    QString rerun{};    // what the next run did
    int rerunStatus = -1;
    bool imagesWritten = false;
    bool dataBack = false;
    int openJournals = -1;
    int unconfirmedCopies = -1;
};
std::vector<KillOutcome>& outcomes() {
    static std::vector<KillOutcome> all;
    return all;
}

class KillSweep : public RunnerFixture, public ::testing::WithParamInterface<KillRow> {};

TEST_P(KillSweep, TheNextRunFinishesTheUpdate) {
    const KillRow& row = GetParam();
    const QJsonObject kill{{"command", row.command}, {"nth", row.nth}, {"at", row.at}};
    const QJsonObject scenario{{"base", "ftm"},
                               {"files", QJsonObject{{"/etc/config.db", QString::fromUtf8(kUserConfig)}}},
                               {"faults", QJsonObject{{"kill_host", kill}}}};
    loadScenario(QString::fromUtf8(QJsonDocument(scenario).toJson(QJsonDocument::Compact)));
    writeFourImages();
    const QByteArray boardData = sim->deviceFile(kWifi);

    KillOutcome o{row};
    runUpdater(&o.firstEnd);
    const qsizetype firstOutput = m_output.size();
    o.rerunStatus = runUpdater();
    const QByteArray rerun = m_output.mid(firstOutput);
    o.rerun = rerun.contains("did not finish") ? QStringLiteral("finished it")
              : rerun.contains("Success")      ? QStringLiteral("updated anew")
                                               : QStringLiteral("found it up to date");
    o.imagesWritten = imagesWritten();
    o.dataBack = sim->deviceFile(kWifi) == boardData && sim->deviceFile(kConfigRestored) == kUserConfig;
    o.openJournals = countOpenJournals();
    o.unconfirmedCopies = countUnconfirmedCopies();
    outcomes().push_back(o);

    EXPECT_EQ(o.firstEnd, QStringLiteral("killed")) << m_output.toStdString();
    EXPECT_EQ(o.rerunStatus, 0) << m_output.toStdString();
    EXPECT_TRUE(o.imagesWritten);
    EXPECT_TRUE(o.dataBack);
    EXPECT_EQ(o.openJournals, 0);
    EXPECT_EQ(o.unconfirmedCopies, 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, KillSweep, ::testing::ValuesIn(kRows), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.step))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

// A journal resumed three times already is not resumed on --yes alone: the user is asked, and
// without a terminal to answer nothing is touched. Discarding it keeps its copies.
TEST_F(KillSweep, AfterThreeResumesTheUserIsAsked) {
    const QJsonObject kill{{"command", "fastboot flash boot"}, {"at", "during"}};
    loadScenario(QString::fromUtf8(QJsonDocument(QJsonObject{{"base", "ftm"}, {"faults", QJsonObject{{"kill_host", kill}}}})
                                       .toJson(QJsonDocument::Compact)));
    writeFourImages();
    ASSERT_EQ(runUpdater(), -1);
    const QString folder = m_home.path() + QStringLiteral("/.local/state/hotspot-updater/journals");
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files);
    ASSERT_EQ(names.size(), 1);
    QFile file(folder + u'/' + names.first());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QJsonObject journal = QJsonDocument::fromJson(file.readAll()).object();
    journal.insert("resumes", 3);
    file.resize(0);
    file.write(QJsonDocument(journal).toJson());
    file.close();

    sim->clearRecords();
    EXPECT_EQ(runUpdater(), 3) << m_output.toStdString();
    for (const QStringList& run : sim->toolRuns(QStringLiteral("fastboot")))
        EXPECT_NE(run.value(0), QStringLiteral("flash"));
    EXPECT_EQ(countOpenJournals(), 1);

    JournalKeeper keeper(JournalStore(folder), BackupStore(m_home.path() + QStringLiteral("/.local/share/hotspot-updater/backups")));
    const std::vector<StoredJournal> discarded = keeper.discardAll();
    ASSERT_EQ(discarded.size(), 1u);
    EXPECT_EQ(countOpenJournals(), 0);
    EXPECT_TRUE(QFileInfo::exists(discarded.front().journal.storeEntry + QStringLiteral("/bdata.SD31.bin")));
}

class TableWriter : public ::testing::Environment {
public:
    void TearDown() override {
        const QByteArray path = qgetenv("HOTSPOT_SWEEP_TABLE");
        QFile out(QString::fromLocal8Bit(path));
        if (path.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        out.write("| host killed | first run | next run | its exit | images written | data back | journals open | "
                  "unconfirmed copies |\n|---|---|---|---|---|---|---|---|\n");
        for (const KillOutcome& o : outcomes())
            out.write(QStringLiteral("| %1 (%2 `%3`) | %4 | %5 | %6 | %7 | %8 | %9 | %10 |\n")
                          .arg(QString::fromUtf8(o.row.step), QString::fromUtf8(o.row.at),
                               QString::fromUtf8(o.row.command), o.firstEnd, o.rerun, QString::number(o.rerunStatus),
                               o.imagesWritten ? "yes" : "NO", o.dataBack ? "yes" : "NO",
                               QString::number(o.openJournals), QString::number(o.unconfirmedCopies))
                          .toUtf8());
    }
};

const auto* const kTableWriter = ::testing::AddGlobalTestEnvironment(new TableWriter);

} // namespace

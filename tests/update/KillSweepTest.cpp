// The host dies (the updater and the tool it runs, by SIGKILL) at every step of an update on
// the simulated hotspot; then the updater runs again with --yes. Every row must end with the
// package on the device, both data files back byte for byte, no journal open and no copy in
// the store that is not confirmed back. Where nothing shows whether the unit is the one the
// update stopped on, --yes leaves it untouched and the user's --finish finishes it. Then a
// second unit is plugged in where the first was killed: it keeps its own data, the first one's
// copies stay, and the first, plugged back, is finished with its own. With
// HOTSPOT_SWEEP_TABLE set, the rows are written there as a Markdown table (scripts/bench
// --kill-sweep prints it).

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
#include <map>
#include <vector>

using namespace testing_support;

namespace {

const QByteArray kUserConfig = "ssid=Kitchen\nkey=hunter2\n";

struct KillRow {
    const char* step;
    const char* command; // the tool run it strikes: any whose line holds this
    int nth;
    const char* at;      // before, during or after the run's effect
    // Nothing but its port shows the unit is the one the killed run stopped on (the port
    // counts only while the run that wrote it still watches): the next run asks.
    bool asks = false;
    // Finished on a unit adb reaches: what it held is saved first, and stays, as its settings
    // are not its own (the writing or a cut push left them).
    bool keepsFound = false;
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
    {"leaving the boot loader", "fastboot reboot", 1, "after", true, true},
    // Written, its data not back, and the process that watched it gone: only the port is left.
    {"writing the mode files", "echo 1 > /etc/mode.cfg", 1, "after", true, true},
    {"pushing the calibration", "adb push", 1, "during", false, true},
    {"pushing the settings", "adb push", 2, "during", false, true},
    {"reading the data back", ".check", 1, "before", false, true},
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
    int foundCopies = 0; // what a finish found on the unit, kept when the user vouched for it
};
std::vector<KillOutcome>& outcomes() {
    static std::vector<KillOutcome> all;
    return all;
}

// A unit with the user's settings, whose update's host is killed as `kill` says.
QString killScenario(const QJsonObject& kill) {
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"base", "ftm"},
                                                       {"files", QJsonObject{{"/etc/config.db", QString::fromUtf8(kUserConfig)}}},
                                                       {"faults", QJsonObject{{"kill_host", kill}}}})
                                 .toJson(QJsonDocument::Compact));
}

class KillRunnerFixture : public RunnerFixture {
protected:
    // The host killed while `boot` is written, the unit left in its boot loader with its data
    // gone; returns the calibration it had.
    QByteArray killedWhileWriting() {
        loadScenario(killScenario({{"command", "fastboot flash boot"}, {"at", "during"}}));
        writeFourImages();
        const QByteArray boardData = sim->deviceFile(kWifi);
        EXPECT_EQ(runUpdater(), -1);
        return boardData;
    }
};

class KillSweep : public KillRunnerFixture, public ::testing::WithParamInterface<KillRow> {};

TEST_P(KillSweep, TheNextRunFinishesTheUpdate) {
    const KillRow& row = GetParam();
    loadScenario(killScenario({{"command", row.command}, {"nth", row.nth}, {"at", row.at}}));
    writeFourImages();
    const QByteArray boardData = sim->deviceFile(kWifi);

    KillOutcome o{row};
    runUpdater(&o.firstEnd);
    const qsizetype firstOutput = m_output.size();
    o.rerunStatus = runUpdater();
    if (row.asks) {
        EXPECT_EQ(o.rerunStatus, 15) << m_output.toStdString();
        EXPECT_TRUE(m_output.mid(firstOutput).contains("--finish 1-1")) << "says how to decide";
        EXPECT_EQ(sim->deviceFile(kConfigRestored), QByteArray()) << "untouched";
        o.rerunStatus = runUpdater(nullptr, {QStringLiteral("--finish"), QStringLiteral("1-1")});
    }
    const QByteArray rerun = m_output.mid(firstOutput);
    o.rerun = row.asks                         ? QStringLiteral("asked (exit 15); `--finish 1-1` finished it")
              : rerun.contains("did not finish") ? QStringLiteral("finished it")
              : rerun.contains("Success")      ? QStringLiteral("updated anew")
                                               : QStringLiteral("found it up to date");
    o.imagesWritten = imagesWritten();
    o.dataBack = sim->deviceFile(kWifi) == boardData && sim->deviceFile(kConfigRestored) == kUserConfig;
    o.openJournals = countOpenJournals();
    o.unconfirmedCopies = countUnconfirmedCopies(&o.foundCopies);
    outcomes().push_back(o);

    EXPECT_EQ(o.firstEnd, QStringLiteral("killed")) << m_output.toStdString();
    EXPECT_EQ(o.rerunStatus, 0) << m_output.toStdString();
    EXPECT_TRUE(o.imagesWritten);
    EXPECT_TRUE(o.dataBack);
    EXPECT_EQ(o.openJournals, 0);
    EXPECT_EQ(o.unconfirmedCopies, 0);
    EXPECT_EQ(o.foundCopies, row.keepsFound ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, KillSweep, ::testing::ValuesIn(kRows), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.step))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

// Another unit where the killed one was.
struct SecondUnit {
    const char* name;
    const char* scenario; // the second unit, with a calibration and settings of its own
    int status;           // its run's exit
    bool updated;         // its run updated it (with its own data back)
    const char* afterOther = "up to date"; // what the run told it is another hotspot says
};
void PrintTo(const SecondUnit& u, std::ostream* os) { *os << u.name; }

class KillSweepSecondUnit : public KillRunnerFixture, public ::testing::WithParamInterface<SecondUnit> {};

TEST_P(KillSweepSecondUnit, KeepsItsOwnDataAndTheFirstIsFinishedWithItsOwn) {
    const QByteArray boardData = killedWhileWriting();
    ASSERT_EQ(countOpenJournals(), 1);
    // Unit A is taken away, as it is: its state is put aside for when it comes back.
    const QString state = sim->stateDir() + QStringLiteral("/state.json");
    const QString unitA = m_home.path() + QStringLiteral("/unit-a.json");
    ASSERT_TRUE(QFile::copy(state, unitA));

    loadScenario(QString::fromUtf8(GetParam().scenario));
    const QString portB = sim->ports().first();
    const QByteArray calibrationB = sim->deviceFile(kWifi, portB);
    EXPECT_EQ(runUpdater(), GetParam().status) << m_output.toStdString();
    if (GetParam().status == 15) {
        // The user says it is another hotspot: then it is looked at as any other.
        EXPECT_EQ(runUpdater(nullptr, {QStringLiteral("--other"), portB}), 0) << m_output.toStdString();
        EXPECT_TRUE(m_output.contains(GetParam().afterOther)) << m_output.toStdString();
    }
    EXPECT_EQ(sim->deviceFile(kWifi, portB), calibrationB) << "B keeps its own calibration";
    EXPECT_EQ(imagesWritten(portB), GetParam().updated);
    if (GetParam().updated)
        EXPECT_EQ(sim->deviceFile(kConfigRestored, portB), QByteArray("ssid=B\n"));
    else
        for (const QStringList& run : sim->toolRuns(QStringLiteral("adb")))
            EXPECT_NE(run.value(0), QStringLiteral("push")) << "nothing goes onto B";
    EXPECT_EQ(countOpenJournals(), 1) << "A's journal waits for A";
    EXPECT_GE(countUnconfirmedCopies(), 2) << "A's copies stay";

    // A is plugged back, still in its boot loader: finished with its own data.
    ASSERT_TRUE(QFile::remove(state));
    ASSERT_TRUE(QFile::copy(unitA, state));
    sim->clearRecords();
    EXPECT_EQ(runUpdater(), 0) << m_output.toStdString();
    EXPECT_TRUE(imagesWritten());
    EXPECT_EQ(sim->deviceFile(kWifi), boardData);
    EXPECT_EQ(sim->deviceFile(kConfigRestored), kUserConfig);
    EXPECT_EQ(countOpenJournals(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Units, KillSweepSecondUnit,
    ::testing::Values(
        // The package's version and a calibration of its own: nothing shows it is not A
        // wiped, nor that it is, so --yes leaves it untouched.
        SecondUnit{"OnThePackageAtTheSamePort", R"({"base": "ftm", "firmware_version": "1.0.4", "files": {"/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin": "calibration of B", "/etc/config.db": "ssid=B\n"}})", 15, false},
        // An older version and its own calibration: another unit, updated with its own data.
        SecondUnit{"OnAnOlderVersionAtTheSamePort", R"({"base": "ftm", "files": {"/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin": "calibration of B", "/etc/config.db": "ssid=B\n"}})", 0, true},
        // A boot loader at another port than the journal's may be the killed unit moved: --yes
        // leaves it; told it is another, it is brought out of it and updated.
        SecondUnit{"InItsBootLoaderAtAnotherPort",
                   R"({"base": "ftm", "units": [{"port": "1-2", "personality": "bootloader", "files": {"/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin": "calibration of B", "/etc/config.db": "ssid=B\n"}}]})", 15, true, "Success"}),
    [](const auto& info) { return std::string(info.param.name); });

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

// Written, but the data did not read back: its own exit status and JSON, never a success, and
// the copies stay until the next run puts them back.
TEST_F(KillSweep, DataNotBackHasItsOwnExitStatusAndJson) {
    loadScenario(QStringLiteral(R"({"base": "ftm", "faults": {"push_corrupts": ["/etc/new_config.db"]}})"));
    writeFourImages();
    const qsizetype from = m_output.size();
    EXPECT_EQ(runUpdater(nullptr, {QStringLiteral("--json")}), 28);
    QJsonObject result;
    for (const QByteArray& line : m_output.mid(from).split('\n'))
        if (const QJsonObject event = QJsonDocument::fromJson(line).object(); event.value("event") == "result")
            result = event;
    EXPECT_EQ(result.value("outcome").toString(), QStringLiteral("failed")) << m_output.mid(from).toStdString();
    EXPECT_EQ(result.value("result").toInt(), 8);
    EXPECT_EQ(result.value("data").toString(), QStringLiteral("not back"));
    EXPECT_EQ(result.value("images").toString(), QStringLiteral("all"));
    EXPECT_EQ(countOpenJournals(), 1);
    EXPECT_EQ(countUnconfirmedCopies(), 1);

    sim->clearFaults();
    EXPECT_EQ(runUpdater(), 0) << m_output.toStdString();
    EXPECT_EQ(countOpenJournals(), 0);
    int found = 0;
    EXPECT_EQ(countUnconfirmedCopies(&found), 0);
    EXPECT_EQ(found, 2) << "what the unit held stays: its settings were what the writing left, not its own";
}

// The way out of any mix-up: the stored copies listed by id, and one put back on the unit at
// a port, confirmed by reading it back. What the unit holds is saved first; the question says
// whose data it is and when it is not the unit's own, which --yes alone never puts there. A
// port without a unit, a number for an id and bytes that do not read back are said.
TEST_F(KillSweep, RestorePutsChosenCopiesBackOnTheUnitAtAPort) {
    const QByteArray boardData = killedWhileWriting();
    sim->setPersonality(QStringLiteral("ftm")); // back in its firmware, its data gone
    sim->setDeviceFile(kWifi, "factory");

    qsizetype from = m_output.size();
    ASSERT_EQ(runUpdater(nullptr, {QStringLiteral("--restore"), QStringLiteral("--json")}), 0);
    QJsonObject listed;
    for (const QByteArray& line : m_output.mid(from).split('\n'))
        if (const QJsonObject event = QJsonDocument::fromJson(line).object(); event.value("event") == "entry")
            listed = event;
    const QString id = listed.value("id").toString();
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(boardData, QCryptographicHash::Sha256).toHex());
    ASSERT_FALSE(id.isEmpty()) << m_output.mid(from).toStdString();
    EXPECT_EQ(listed.value("calibration").toString(), digest);
    EXPECT_EQ(listed.value("saved_at_port").toString(), QStringLiteral("1-1"));
    EXPECT_FALSE(listed.value("confirmed").toBool());
    from = m_output.size();
    ASSERT_EQ(runUpdater(nullptr, {QStringLiteral("--restore")}), 0);
    EXPECT_TRUE(m_output.mid(from).startsWith(id.toUtf8() + "  ")) << m_output.mid(from).toStdString();

    const struct {
        const char* entry;
        const char* port;
        bool otherCalibration;
        const char* fault; // on the device, while the copies go back
        bool cdrom;        // plugged in normally: its CD-ROM personality, out of adb's reach
        int status;
        bool calibrationBack;
        const char* says;
    } rows[] = {
        {"1", "1-1", true, nullptr, false, 64, false, "not by a number"},
        {nullptr, "1-1", false, nullptr, false, 15, false, "holds another calibration"},
        {nullptr, "1-9", true, nullptr, false, 12, false, "no hotspot that adb reaches at 1-9"},
        {nullptr, "1-1", true, "push_corrupts", false, 28, false, "did not read back"},
        {nullptr, "1-1", true, nullptr, true, 0, true, "read back from the hotspot at 1-1"},
        // Its own calibration now: --yes alone puts it back.
        {nullptr, "1-1", false, nullptr, false, 0, true, "read back from the hotspot at 1-1"},
    };
    int savedBefore = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.says));
        if (row.fault)
            sim->setFault(QString::fromLatin1(row.fault), QJsonArray{kWifi});
        else
            sim->clearFaults();
        if (row.cdrom)
            sim->setPersonality(QStringLiteral("usr"));
        const QByteArray held = sim->deviceFile(kWifi);
        sim->clearRecords();
        QStringList args{QStringLiteral("--restore"), row.entry ? QString::fromLatin1(row.entry) : id, QString::fromLatin1(row.port)};
        if (row.otherCalibration)
            args << QStringLiteral("--other-calibration");
        from = m_output.size();
        EXPECT_EQ(runUpdater(nullptr, args), row.status) << m_output.mid(from).toStdString();
        const QByteArray said = m_output.mid(from);
        EXPECT_TRUE(said.contains(row.says)) << said.toStdString();
        EXPECT_EQ(sim->deviceFile(kWifi) == boardData, row.calibrationBack);
        bool pushed = false;
        for (const QStringList& run : sim->toolRuns(QStringLiteral("adb")))
            pushed = pushed || run.contains(QStringLiteral("push"));
        EXPECT_EQ(pushed, row.status == 0 || row.status == 28);
        if (row.status == 15) {
            // The question names the entry's port, date and calibration, and says it is not the unit's.
            EXPECT_TRUE(said.contains("port 1-1 on 20")) << said.toStdString();
            EXPECT_TRUE(said.contains(digest.left(12).toUtf8())) << said.toStdString();
            EXPECT_TRUE(said.contains("--other-calibration")) << "says how to decide";
        }
        if (!pushed)
            continue;
        // What the unit held went into an entry of its own before anything was pushed.
        ++savedBefore;
        const QDir store(m_home.path() + QStringLiteral("/.local/share/hotspot-updater/backups/0123456789ABCDEF"));
        const QString newest = store.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).constLast();
        QFile copy(store.filePath(newest) + QStringLiteral("/bdata.SD31.bin"));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), held);
    }
    EXPECT_EQ(sim->deviceFile(kConfigRestored), kUserConfig);
    int found = 0;
    EXPECT_EQ(countUnconfirmedCopies(&found), 0) << "read back, the copies count as restored";
    EXPECT_EQ(found, 2 * savedBefore) << "what each restore replaced stays";
}

// An entry keeps its id when a newer update adds entries, and --json answers in JSON: the
// question (whose data, the unit's own or not), and the result with the entry that holds what
// the unit held before.
TEST_F(KillSweep, RestoreByIdSurvivesANewerUpdateAndAnswersInJson) {
    const QByteArray boardData = killedWhileWriting();
    sim->setPersonality(QStringLiteral("ftm"));
    ASSERT_EQ(runUpdater(), 0) << m_output.toStdString();
    const QDir store(m_home.path() + QStringLiteral("/.local/share/hotspot-updater/backups/0123456789ABCDEF"));
    const QStringList first = store.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    ASSERT_EQ(first.size(), 1);
    const QString id = first.first();
    // Another unit at that port, on an older version: its update saves its data into a newer entry.
    loadScenario(QStringLiteral(R"({"base": "ftm", "files": {"/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin": "calibration of B"}})"));
    ASSERT_EQ(runUpdater(), 0) << m_output.toStdString();
    ASSERT_EQ(store.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).size(), 2);

    const auto events = [this](qsizetype from) {
        std::map<QString, QJsonObject> byName;
        for (const QByteArray& line : m_output.mid(from).split('\n'))
            if (const QJsonObject event = QJsonDocument::fromJson(line).object(); !event.isEmpty())
                byName[event.value("event").toString()] = event;
        return byName;
    };
    for (const bool otherCalibration : {false, true}) {
        QStringList args{QStringLiteral("--restore"), id, QStringLiteral("1-1")};
        if (otherCalibration)
            args << QStringLiteral("--other-calibration");
        const qsizetype from = m_output.size();
        EXPECT_EQ(runUpdater(nullptr, args << QStringLiteral("--json")), otherCalibration ? 0 : 15);
        std::map<QString, QJsonObject> said = events(from);
        EXPECT_EQ(said["question"].value("id").toString(), id) << m_output.mid(from).toStdString();
        EXPECT_FALSE(said["question"].value("its_own").toBool());
        EXPECT_EQ(said["question"].value("calibration").toString(),
                  QString::fromLatin1(QCryptographicHash::hash(boardData, QCryptographicHash::Sha256).toHex()));
        EXPECT_EQ(said["result"].value("outcome").toString(), otherCalibration ? "restored" : "untouched");
        EXPECT_EQ(said["result"].value("saved_before").isString(), otherCalibration);
        EXPECT_EQ(sim->deviceFile(kWifi) == boardData, otherCalibration);
    }
}

class TableWriter : public ::testing::Environment {
public:
    void TearDown() override {
        const QByteArray path = qgetenv("HOTSPOT_SWEEP_TABLE");
        QFile out(QString::fromLocal8Bit(path));
        if (path.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        out.write("| host killed | first run | next run | its exit | images written | data back | journals open | "
                  "unconfirmed copies | found copies kept |\n|---|---|---|---|---|---|---|---|---|\n");
        for (const KillOutcome& o : outcomes())
            out.write(QStringLiteral("| %1 (%2 `%3`) | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 |\n")
                          .arg(QString::fromUtf8(o.row.step), QString::fromUtf8(o.row.at),
                               QString::fromUtf8(o.row.command), o.firstEnd, o.rerun, QString::number(o.rerunStatus),
                               o.imagesWritten ? "yes" : "NO", o.dataBack ? "yes" : "NO",
                               QString::number(o.openJournals), QString::number(o.unconfirmedCopies))
                          .arg(o.foundCopies)
                          .toUtf8());
    }
};

const auto* const kTableWriter = ::testing::AddGlobalTestEnvironment(new TableWriter);

} // namespace

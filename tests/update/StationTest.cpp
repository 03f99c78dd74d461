// A station of four units on one simulated hub, updated by one terminal run with --yes: one
// unit's write fails, one loses its cable in the middle of an image, the other two are updated
// with their own data back, and nothing the updater ran or sent reached another unit's port.

#include "bridge/AttemptHistory.h"
#include "workflow/AttemptRecorder.h"
#include "tests/update/RunnerFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const QString kGood1 = QStringLiteral("1-2.1");
const QString kWriteFails = QStringLiteral("1-2.2");
const QString kPulled = QStringLiteral("1-2.3");
const QString kGood2 = QStringLiteral("1-2.4");

// Each unit's own calibration and settings.
QJsonObject ownData(const QString& port) {
    return {{kWifi, QStringLiteral("calibration of ") + port},
            {QStringLiteral("/etc/config.db"), QStringLiteral("ssid=") + port + u'\n'}};
}

QJsonObject unit(const QString& port, const QJsonObject& faults = {}) {
    return {{"port", port}, {"files", ownData(port)}, {"faults", faults}};
}

class Station : public RunnerFixture {
protected:
    void loadHub(const QJsonArray& units) {
        loadScenario(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"base", "usr-cdrom"}, {"units", units}}).toJson(QJsonDocument::Compact)));
        writeFourImages();
    }
    // A station run started in the background (`max` at once, when given), returned once its
    // first image is being written or a minute has passed.
    void startUntilFirstWrite(QProcess& run, const QString& max = QString()) {
        QStringList args{bundle.path(), m_home.path(), QStringLiteral("--station"), sim->sysfsRoot()};
        if (!max.isEmpty())
            args << max;
        run.setProgram(QStringLiteral(HOTSPOT_KILL_RUNNER));
        run.setArguments(args);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start();
        QElapsedTimer waited;
        waited.start();
        while (flashedPorts().isEmpty() && waited.elapsed() < 60000)
            QThread::msleep(5);
    }
    // The record of attempts the runs kept in this test's home.
    std::vector<Attempt> attempts() const {
        QString why;
        const std::unique_ptr<AttemptHistory> record =
            AttemptHistory::open(m_home.path() + QStringLiteral("/.local/state/hotspot-updater/history.sqlite"), &why);
        return record ? record->list({}) : std::vector<Attempt>{};
    }
    // Units taken from their ports and plugged in at others (`to[i]` gets the unit at
    // `from[i]`), their faults gone: a hub's cables swapped or moved.
    void moveUnits(const QStringList& from, const QStringList& to) {
        sim->moveUnits(from, to);
        for (const QString& port : to)
            sim->clearFaults(port);
    }
    bool pushedTo(const QString& port) const {
        for (const SimRecord& record : sim->records(QStringLiteral("adb")))
            if (record.port == port && record.args.contains(QStringLiteral("push")))
                return true;
        return false;
    }
    // A hands-free run (`args` after the hub's sysfs tree), started in the background.
    void startHandsFree(QProcess& run, const QStringList& args = {}) {
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral(HOTSPOT_KILL_RUNNER), QStringList{bundle.path(), m_home.path(), QStringLiteral("--station"),
                                                                   sim->sysfsRoot()} + args);
    }
    // Reads the run's output into `output` until `done` holds; a minute is only a net for a hang.
    static bool waitUntil(QProcess& run, QByteArray& output, const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 60000 && run.state() != QProcess::NotRunning) {
            run.waitForReadyRead(20);
            output += run.readAll();
        }
        return done();
    }
    // The newest run log the runs kept in this test's home.
    QString runLog() const {
        const QDir logs(m_home.path() + QStringLiteral("/.local/state/hotspot-updater/logs"));
        const QStringList names = logs.entryList({QStringLiteral("run-*.log")}, QDir::Files, QDir::Name);
        QFile log(names.isEmpty() ? QString() : logs.filePath(names.last()));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    // The ports fastboot wrote to, in order.
    QStringList flashedPorts() const {
        QStringList ports;
        for (const SimRecord& record : sim->records(QStringLiteral("fastboot")))
            if (record.event == QLatin1String("run") && record.args.contains(QStringLiteral("flash")))
                ports << record.port;
        return ports;
    }
};

TEST_F(Station, OneUnitFailingOrPulledEndsItsOwnRowOnly) {
    loadHub({unit(kGood1), unit(kWriteFails, {{"flash_fail", "boot"}}),
             unit(kPulled, {{"pulled_during_flash", QJsonArray{"modem"}}}), unit(kGood2)});

    EXPECT_EQ(runUpdater(nullptr, {QStringLiteral("--station"), sim->sysfsRoot()}), 14) << m_output.toStdString();

    for (const QString& port : {kGood1, kGood2}) {
        SCOPED_TRACE(port.toStdString());
        EXPECT_TRUE(imagesWritten(port));
        EXPECT_EQ(sim->deviceFile(kWifi, port), ownData(port).value(kWifi).toString().toUtf8());
        EXPECT_EQ(sim->deviceFile(kConfigRestored, port), ownData(port).value("/etc/config.db").toString().toUtf8());
        EXPECT_TRUE(m_output.contains((port + QStringLiteral("  updated to 1.0.4")).toUtf8())) << m_output.toStdString();
    }
    EXPECT_FALSE(imagesWritten(kWriteFails));
    EXPECT_FALSE(imagesWritten(kPulled));
    EXPECT_TRUE(m_output.contains((kWriteFails + QStringLiteral("  failed: ")).toUtf8()));
    EXPECT_TRUE(m_output.contains((kPulled + QStringLiteral("  failed: ")).toUtf8()));
    // The pulled unit's update may have written it: its journal stays for a finish.
    EXPECT_GE(countOpenJournals(), 1);

    // Every run that went to a unit named it by its port, and reached that unit only.
    int addressed = 0;
    for (const SimRecord& record : sim->records()) {
        if (record.event != QLatin1String("run") || record.port.isEmpty())
            continue;
        ++addressed;
        EXPECT_EQ(record.args.mid(0, 2), (QStringList{QStringLiteral("-s"), QStringLiteral("usb:") + record.port}))
            << record.args.join(u' ').toStdString();
    }
    EXPECT_GT(addressed, 40);
    // The same switches reached each unit updated: none took another's command block.
    EXPECT_EQ(sim->cbws(kGood1).size(), sim->cbws(kGood2).size());
    EXPECT_GT(sim->cbws(kGood1).size(), 0);
}

// Only the chosen ports: a hotspot elsewhere gets no unit and nothing is sent to it.
TEST_F(Station, OnlyTheChosenPortsAreTouched) {
    loadHub({unit(kGood1), unit(kWriteFails), unit(kGood2)});
    EXPECT_EQ(runUpdater(nullptr, {QStringLiteral("--station"), sim->sysfsRoot(), QStringLiteral("8"),
                                   QStringLiteral("1-2.4,1-2.[1]")}),
              0)
        << m_output.toStdString();
    EXPECT_TRUE(imagesWritten(kGood1));
    EXPECT_TRUE(imagesWritten(kGood2));
    EXPECT_FALSE(m_output.contains(kWriteFails.toUtf8())) << "no row";
    for (const SimRecord& record : sim->records())
        EXPECT_NE(record.port, kWriteFails) << record.kind.toStdString() << " " << record.args.join(u' ').toStdString();
}

// A unit plugged in while another is written joins the station and is updated too.
TEST_F(Station, AUnitPluggedInLaterJoins) {
    loadHub({unit(kGood1), unit(kGood2)});
    sim->unplug(kGood2);
    QProcess run;
    startUntilFirstWrite(run);
    sim->plug(kGood2);
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray output = run.readAll();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(imagesWritten(kGood1));
    EXPECT_TRUE(imagesWritten(kGood2)) << output.toStdString();
}

// Hands-free, all day: units plugged in one after another are updated with no keystroke,
// each with its own data; one plugged back is left alone; a write that fails is tried once
// more, then its unit waits until it leaves, and its port takes the next one; a unit swapped
// for another between two looks is noticed; the run ends with SIGTERM, a line for every unit
// that came, each counted once, and 14 for the unit that failed although a good one followed.
TEST_F(Station, HandsFreeUpdatesEachUnitAsItComes) {
    loadHub({unit(kGood1), unit(kGood2, {{"flash_fail", "boot"}})});
    sim->unplug(kGood2);
    QProcess run;
    startHandsFree(run, {QStringLiteral("--auto")});
    QByteArray output;
    const auto waitUntil = [&run, &output](const std::function<bool()>& done) { return Station::waitUntil(run, output, done); };
    const auto flashes = [this](const QString& port) { return int(flashedPorts().count(port)); };
    // A unit is done once its line says so (its version changes before its data goes back).
    const auto updated = [&output](const QString& port, int times) {
        return output.count((port + QStringLiteral("  updated to 1.0.4")).toUtf8()) >= times;
    };
    ASSERT_TRUE(waitUntil([&] { return updated(kGood1, 1); })) << output.toStdString();

    // Its write fails, and fails again when tried once more: the unit then waits for its
    // departure instead of holding its port. Plugged in again, it is updated.
    sim->plug(kGood2);
    ASSERT_TRUE(waitUntil([&] { return output.count("1-2.4  failed: ") >= 2; })) << output.toStdString();
    sim->unplug(kGood2);
    ASSERT_TRUE(waitUntil([&] { return output.contains("1-2.4  unplugged; waiting for the next hotspot"); }))
        << output.toStdString();
    sim->clearFault(QStringLiteral("flash_fail"), kGood2);
    sim->plug(kGood2);
    ASSERT_TRUE(waitUntil([&] { return updated(kGood2, 1); })) << output.toStdString();
    EXPECT_EQ(sim->deviceFile(kWifi, kGood2), ownData(kGood2).value(kWifi).toString().toUtf8());

    // Another unit at the first port, swapped in between two looks of the station (once it
    // has looked at the updated one), then the first one back, up to date.
    const auto left = [&output](int times) { return output.count("1-2.1  unplugged; waiting for the next hotspot") >= times; };
    ASSERT_TRUE(waitUntil([&] { return runLog().contains("the unit at 1-2.1 is device"); })) << runLog().toStdString();
    const int before = flashes(kGood1);
    sim->replaceUnit({{"firmware_version", "1.0.3"}, {"files", QJsonObject{{kWifi, "calibration of the next unit"}}}},
                     kGood1, true);
    ASSERT_TRUE(waitUntil([&] { return updated(kGood1, 2); })) << output.toStdString();
    EXPECT_TRUE(left(1));
    EXPECT_EQ(sim->deviceFile(kWifi, kGood1), QByteArray("calibration of the next unit"));
    const int updatedTwice = flashes(kGood1);
    EXPECT_GT(updatedTwice, before);
    sim->unplug(kGood1);
    ASSERT_TRUE(waitUntil([&] { return left(2); })) << output.toStdString();
    sim->plug(kGood1);
    ASSERT_TRUE(waitUntil([&] { return output.contains("1-2.1  up to date (1.0.4)"); })) << output.toStdString();
    EXPECT_EQ(flashes(kGood1), updatedTwice) << "updated again";

    ::kill(int(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(30000));
    output += run.readAll();
    EXPECT_EQ(run.exitCode(), 14) << output.toStdString();
    EXPECT_TRUE(output.contains("3 updated, 1 up to date, 1 failed (1-2.4)")) << output.toStdString();
    // Every attempt is in the record, each unit by its own calibration.
    const std::vector<Attempt> recorded = attempts();
    ASSERT_EQ(recorded.size(), 5u);
    QStringList units;
    int successes = 0;
    for (const Attempt& attempt : recorded) {
        successes += attempt.result == 0;
        units << attempt.unit;
    }
    EXPECT_EQ(successes, 3);
    units.removeDuplicates();
    EXPECT_EQ(units.size(), 3) << units.join(u' ').toStdString();
}

// The host dies while a station writes one unit; the other was up to date. The next station
// run finishes the unit from its journal, at its port only: the other unit, listed first (the
// unit in its boot loader shows only to fastboot), neither takes the journal nor is touched.
TEST_F(Station, TheNextRunFinishesTheUnitAtItsJournalsPort) {
    const QJsonObject kill{{"command", "fastboot -s usb:1-2.1 flash boot"}, {"at", "during"}};
    QJsonObject upToDate = unit(kGood2);
    upToDate.insert("firmware_version", "1.0.4");
    loadHub({unit(kGood1, {{"kill_host", kill}}), upToDate});
    const QStringList station{QStringLiteral("--station"), sim->sysfsRoot()};
    ASSERT_EQ(runUpdater(nullptr, station), -1) << m_output.toStdString();
    EXPECT_EQ(countOpenJournals(), 1);
    sim->clearRecords();
    // The killed run's attempt is recorded where it stopped.
    std::vector<Attempt> recorded = attempts();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].port, kGood1);
    EXPECT_EQ(recorded[0].phase, QStringLiteral("image 2"));
    EXPECT_FALSE(recorded[0].finished());
    EXPECT_FALSE(recorded[0].unit.isEmpty());

    EXPECT_EQ(runUpdater(nullptr, station), 0) << m_output.toStdString();
    // Its finish goes on with the same row, the unit and the start of the first run kept.
    const std::vector<Attempt> finished = attempts();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].id, recorded[0].id);
    EXPECT_EQ(finished[0].result, 0);
    EXPECT_EQ(finished[0].versionAfter, QStringLiteral("1.0.4"));
    EXPECT_EQ(finished[0].started, recorded[0].started);
    EXPECT_EQ(finished[0].unit, recorded[0].unit);
    EXPECT_TRUE(imagesWritten(kGood1));
    EXPECT_EQ(sim->deviceFile(kWifi, kGood1), ownData(kGood1).value(kWifi).toString().toUtf8());
    EXPECT_EQ(sim->deviceFile(kConfigRestored, kGood1), ownData(kGood1).value("/etc/config.db").toString().toUtf8());
    EXPECT_EQ(sim->deviceFile(kWifi, kGood2), ownData(kGood2).value(kWifi).toString().toUtf8());
    for (const SimRecord& record : sim->records(QStringLiteral("adb")))
        EXPECT_FALSE(record.port == kGood2 && record.args.contains(QStringLiteral("push"))) << record.args.join(u' ').toStdString();
    EXPECT_EQ(countOpenJournals(), 0);
    EXPECT_EQ(countUnconfirmedCopies(), 0);
}

// Two units written and refused their data are swapped, and a third moved to a free port; the
// next run, with --yes, neither gives a unit another's data nor calls a written unit up to
// date: each is left untouched and asked about. Told which it is, the moved one is finished
// with its own data.
TEST_F(Station, WrittenUnitsWithoutTheirDataSwappedOrMovedAreAskedAbout) {
    const QJsonObject refused{{"push_error", QJsonArray{kWifi, QStringLiteral("/etc/config.db")}}};
    loadHub({unit(kGood1, refused), unit(kWriteFails, refused), unit(kPulled, refused)});
    const QStringList station{QStringLiteral("--station"), sim->sysfsRoot()};
    EXPECT_NE(runUpdater(nullptr, station), 0) << m_output.toStdString();
    ASSERT_EQ(countOpenJournals(), 3) << m_output.toStdString();
    for (const QString& port : {kGood1, kWriteFails, kPulled})
        ASSERT_TRUE(imagesWritten(port));
    const QByteArray fresh = sim->deviceFile(kWifi, kGood1);
    ASSERT_EQ(sim->deviceFile(kWifi, kWriteFails), fresh) << "the writing leaves every unit the same calibration";

    moveUnits({kGood1, kWriteFails, kPulled}, {kWriteFails, kGood1, kGood2});
    sim->clearRecords();
    const qsizetype before = m_output.size();
    EXPECT_EQ(runUpdater(nullptr, station), 15) << m_output.toStdString();
    const QByteArray second = m_output.mid(before);
    for (const QString& port : {kGood1, kWriteFails, kGood2}) {
        EXPECT_FALSE(pushedTo(port)) << port.toStdString();
        EXPECT_EQ(sim->deviceFile(kWifi, port), fresh) << port.toStdString();
        EXPECT_TRUE(second.contains(("--finish " + port + "=WHERE").toUtf8())) << second.toStdString();
    }
    EXPECT_FALSE(second.contains("up to date")) << second.toStdString();
    EXPECT_TRUE(second.contains("they ran at 1-2.1, 1-2.3, 1-2.2") || second.contains("they ran at 1-2.1, 1-2.2, 1-2.3"))
        << second.toStdString();
    EXPECT_EQ(countOpenJournals(), 3);

    // --finish naming the port alone does not say which of the three it is.
    qputenv("KILL_RUNNER_FINISH", kGood2.toUtf8());
    EXPECT_EQ(runUpdater(nullptr, station), 15);
    EXPECT_FALSE(pushedTo(kGood2));
    // The user says the unit now at 1-2.4 is the one that ran at 1-2.3.
    qputenv("KILL_RUNNER_FINISH", (kGood2 + u'=' + kPulled).toUtf8());
    const int finished = runUpdater(nullptr, station);
    qunsetenv("KILL_RUNNER_FINISH");
    EXPECT_EQ(finished, 15) << "the swapped pair still waits for an answer";
    EXPECT_EQ(sim->deviceFile(kWifi, kGood2), ownData(kPulled).value(kWifi).toString().toUtf8());
    const QByteArray third = m_output.right(6000);
    EXPECT_TRUE(third.contains("1-2.4  updated")) << third.toStdString();
    EXPECT_EQ(sim->deviceFile(kConfigRestored, kGood2), ownData(kPulled).value("/etc/config.db").toString().toUtf8());
    EXPECT_EQ(countOpenJournals(), 2);
}

// Ctrl-C while one unit writes and, one at a time, the others wait for their turn: the
// running update finishes and is told as such, no other starts, and those are "not started",
// no failure.
TEST_F(Station, ASignalLetsTheRunningUpdateFinishAndStartsNoOther) {
    loadHub({unit(kGood1), unit(kWriteFails), unit(kPulled)});
    QProcess run;
    startUntilFirstWrite(run, QStringLiteral("1"));
    ASSERT_FALSE(flashedPorts().isEmpty());
    const QString writing = flashedPorts().first();
    ::kill(pid_t(run.processId()), SIGINT);
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray output = run.readAll();

    EXPECT_EQ(run.exitCode(), 128 + SIGINT) << output.toStdString();
    EXPECT_TRUE(imagesWritten(writing)) << output.toStdString();
    EXPECT_EQ(flashedPorts().count(writing), flashedPorts().size());
    EXPECT_TRUE(output.contains((writing + QStringLiteral("  updated to 1.0.4")).toUtf8())) << output.toStdString();
    for (const QString& port : {kGood1, kWriteFails, kPulled}) {
        if (port != writing) {
            EXPECT_TRUE(output.contains((port + QStringLiteral("  not started")).toUtf8())) << output.toStdString();
        }
    }
    EXPECT_FALSE(output.contains("  failed: ")) << output.toStdString();
}

// Hands-free, SIGTERM while one unit writes and the other waits its turn: the write finishes
// after the signal and still gets its object and its count, the other is not started, and the
// run ends 0, as its log says last.
TEST_F(Station, HandsFreeSignalWhileAUnitWritesCountsItsEnd) {
    loadHub({unit(kGood1), unit(kGood2)});
    QProcess run;
    startHandsFree(run, {QStringLiteral("1"), QStringLiteral("--auto"), QStringLiteral("--json")});
    QByteArray output;
    ASSERT_TRUE(waitUntil(run, output, [this] { return !flashedPorts().isEmpty(); })) << output.toStdString();
    const QString writing = flashedPorts().first();
    ::kill(pid_t(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(60000));
    output += run.readAll();

    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    QJsonObject result;
    QMap<QString, QString> outcomes;
    for (const QByteArray& line : output.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("event") == "unit")
            outcomes.insert(event.value("port").toString(), event.value("outcome").toString());
        if (event.value("event") == "result")
            result = event;
    }
    EXPECT_EQ(outcomes.value(writing), "success") << output.toStdString();
    EXPECT_EQ(outcomes.value(writing == kGood1 ? kGood2 : kGood1), "not-started") << output.toStdString();
    EXPECT_EQ(result.value("updated").toInt(), 1) << output.toStdString();
    EXPECT_EQ(result.value("units").toInt(), 2);
    EXPECT_EQ(result.value("exit").toInt(), 0);
    EXPECT_TRUE(result.value("failed").toArray().isEmpty());
    const QString log = runLog();
    EXPECT_TRUE(log.contains(" exit status 0\n")) << log.toStdString();
    EXPECT_FALSE(log.contains("exit status 143")) << log.toStdString();
}

} // namespace

// A port whose last five finished attempts hold three failures is pointed out; older ones and
// unfinished ones do not count.
TEST(FailingPort, ThreeOfTheLastFiveFinishedIsPointedOut) {
    const struct {
        std::vector<int> results; // oldest first; -1: unfinished
        bool pointedOut;
    } rows[] = {
        {{0, 7, 7, 7}, true},
        {{7, 7, 0, 0}, false},
        {{7, 7, 7, 0, 0, 0, 0, 0}, false}, // older than the last five
        {{7, 7, 0, 0, 7, -1, -1}, true},
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        QString why;
        const std::unique_ptr<AttemptHistory> record = AttemptHistory::open(dir.filePath("history.sqlite"), &why);
        ASSERT_TRUE(record) << why.toStdString();
        QDateTime at = QDateTime::currentDateTimeUtc().addSecs(-3600);
        for (const int result : row.results) {
            Attempt attempt;
            attempt.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            attempt.port = QStringLiteral("1-2.3");
            attempt.started = at = at.addSecs(60);
            attempt.result = result;
            if (result >= 0)
                attempt.ended = at.addSecs(30);
            ASSERT_TRUE(record->write(attempt));
        }
        const QString text = attempts::failingPort(*record, QStringLiteral("1-2.3"));
        EXPECT_EQ(!text.isEmpty(), row.pointedOut) << text.toStdString();
        EXPECT_TRUE(attempts::failingPort(*record, QStringLiteral("1-2.4")).isEmpty());
    }
}

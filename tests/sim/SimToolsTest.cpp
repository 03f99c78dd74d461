// The stand-in adb and fastboot, run as processes the way the application runs them.

#include "SimTestDir.h"
#include "core/SharedBus.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringDecoder>
#include <QThread>

#include <csignal>
#include <functional>

#include <sys/stat.h>

namespace {

const QString kBoardData = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");

struct ToolRun {
    QByteArray output; // stdout and stderr together, as the application reads them
    int status = -1;
};

// underHost: under a shell standing in for the updater, which says "survived" when it lives
// on. A status of -N: ended by signal N.
ToolRun run(const QString& tool, const QStringList& args, bool underHost = false)
{
    const QString path = tool == QLatin1String("adb") ? SimControl::adbPath() : SimControl::fastbootPath();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (underHost)
        p.start(QStringLiteral("sh"), QStringList{"-c", "\"$0\" \"$@\" && echo survived", path} + args);
    else
        p.start(path, args);
    p.waitForFinished(-1);
    return {p.readAll(), p.exitStatus() == QProcess::CrashExit ? -p.exitCode() : p.exitCode()};
}

ToolRun adb(const QStringList& args)
{
    return run(QStringLiteral("adb"), args);
}

ToolRun fastboot(const QStringList& args)
{
    return run(QStringLiteral("fastboot"), args);
}

bool adbLists()
{
    return adb({"devices"}).output.contains("0123456789ABCDEF\tdevice");
}

QString writeImage(const QString& dir, const QString& name, int size)
{
    QFile f(dir + QLatin1Char('/') + name);
    f.open(QIODevice::WriteOnly);
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 7 + size);
    f.write(data);
    return f.fileName();
}

TEST(SimTools, AnswersTheDeviceContractInTheFactoryPersonality)
{
    SimTestDir sim(QStringLiteral("ftm"));
    const ToolRun devices = adb({"devices"});
    EXPECT_TRUE(devices.output.endsWith("List of devices attached\n0123456789ABCDEF\tdevice\n\n"));
    EXPECT_EQ(fastboot({"devices"}).output, QByteArray());
    EXPECT_EQ(adb({"shell", "cat /tmp/bootmode"}).output, QByteArray("0\n"));
    EXPECT_EQ(adb({"shell", "cat /sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5"}).output,
              QByteArray("Result:100\n"));
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("OK HS_FW_1.0.3\n"));
    EXPECT_EQ(adb({"shell", "echo 1 > /tmp/mode.cfg && echo OK"}).output, QByteArray("OK\n"));
    EXPECT_EQ(sim.control.deviceFile("/tmp/mode.cfg"), QByteArray("1\n"));
    EXPECT_TRUE(adb({"shell", "no_such_thing"}).output.contains("not found"));
    EXPECT_FALSE(adb({"frobnicate"}).output.isEmpty());

    // Every run is recorded with its whole argument list.
    const QList<QStringList> runs = sim.control.toolRuns(QStringLiteral("adb"));
    ASSERT_EQ(runs.size(), 7);
    EXPECT_EQ(runs[2], (QStringList{"shell", "cat /sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5"}));
    EXPECT_EQ(sim.control.toolRuns(QStringLiteral("fastboot")), (QList<QStringList>{{"devices"}}));
}

TEST(SimTools, BackupAndRestoreMoveTheBytes)
{
    SimTestDir sim(QStringLiteral("ftm"));
    const QString host = sim.path() + QStringLiteral("/wifi_bk");
    const ToolRun pulled = adb({"pull", "/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin", host});
    EXPECT_TRUE(pulled.output.contains("1 file pulled, 0 skipped."));
    QFile f(host);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray board = f.readAll();
    EXPECT_EQ(board, sim.control.deviceFile("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"));

    sim.control.setDeviceFile("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin", "wiped");
    EXPECT_TRUE(adb({"push", host, "/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"}).output.contains("1 file pushed"));
    EXPECT_EQ(sim.control.deviceFile("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"), board);
    adb({"push", host, "/etc/new_config.db"});
    EXPECT_EQ(sim.control.deviceFile("/etc/new_config.db"), board);

    sim.control.setFault(QStringLiteral("pull_error"), QStringLiteral("/etc/config.db"));
    EXPECT_TRUE(adb({"pull", "/etc/config.db", host}).output.contains("error"));
    sim.control.setFault(QStringLiteral("push_error"));
    EXPECT_TRUE(adb({"push", host, "/etc/new_config.db"}).output.contains("error"));
}

TEST(SimTools, UpdateRoadFlashesRecordsAndComesBackWithTheNewVersion)
{
    SimTestDir sim(QStringLiteral("ftm"));
    sim.control.set(QStringLiteral("partitions"), QJsonArray{"boot", "system"});
    const QString boot = writeImage(sim.path(), QStringLiteral("boot.img"), 5000);
    const QString system = writeImage(sim.path(), QStringLiteral("system.img"), 12345);

    adb({"shell", "sys_reboot", "bootloader"});
    // Restart delay of two probes: gone for two device listings, then in the boot loader.
    EXPECT_EQ(fastboot({"devices"}).output, QByteArray());
    EXPECT_EQ(fastboot({"devices"}).output, QByteArray());
    EXPECT_EQ(fastboot({"devices"}).output, QByteArray("MDM9615\tfastboot\n"));

    const auto data = [&] {
        return QByteArrayList{sim.control.deviceFile(kBoardData), sim.control.deviceFile("/etc/config.db"),
                              sim.control.deviceFile("/etc/new_config.db")};
    };
    sim.control.setDeviceFile("/etc/new_config.db", "ssid=New\n");
    const QByteArrayList calibrated = data();
    const ToolRun flashed = fastboot({"flash", "boot", boot});
    EXPECT_TRUE(flashed.output.contains("Finished. Total time"));
    EXPECT_EQ(data(), calibrated);
    QFile img(system);
    img.open(QIODevice::ReadOnly);
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(img.readAll(), QCryptographicHash::Md5).toHex());
    fastboot({"flash", "system", system});
    const QJsonObject parts = sim.control.partitions();
    EXPECT_EQ(parts.value("system").toObject().value("size").toInt(), 12345);
    EXPECT_EQ(parts.value("system").toObject().value("md5").toString(), md5);
    EXPECT_EQ(parts.value("boot").toObject().value("size").toInt(), 5000);
    EXPECT_EQ(sim.control.deviceFile("/etc/mode.cfg"), QByteArray("0\n")); // flashing resets them
    // The root file system holds the calibration and settings: they go back to the factory's.
    const QByteArrayList factory = data();
    EXPECT_EQ(factory[0].size(), calibrated[0].size());
    EXPECT_NE(factory[0], calibrated[0]);
    EXPECT_EQ(factory[1], QByteArray("ssid=Hotspot\nkey=\nchannel=1\n"));
    EXPECT_TRUE(factory[2].isNull());

    fastboot({"reboot"});
    sim.control.advance(2);
    EXPECT_EQ(sim.control.personality(), QStringLiteral("ftm")); // mode files say 0
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("OK HS_FW_1.0.4\n"));

    adb({"shell", "echo 1 > /etc/mode.cfg && echo OK"});
    adb({"shell", "echo 1 > /tmp/mode.cfg && echo OK"});
    adb({"shell", "sys_reboot"});
    EXPECT_FALSE(adbLists());
    EXPECT_FALSE(adbLists());
    EXPECT_FALSE(adbLists()); // back, but in USR with its CD-ROM: adb does not see it
    EXPECT_EQ(sim.control.personality(), QStringLiteral("usr"));
    EXPECT_EQ(sim.control.restarts(), 3);
}

TEST(SimTools, FaultsFireAtTheirStep)
{
    SimTestDir sim(QStringLiteral("ftm"));
    sim.control.setFault(QStringLiteral("version_ok_from_try"), 3);
    EXPECT_FALSE(adb({"shell", "cmmd info firmware_ver"}).output.contains("OK "));
    EXPECT_FALSE(adb({"shell", "cmmd info firmware_ver"}).output.contains("OK "));
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("OK HS_FW_1.0.3\n"));

    sim.control.setFault(QStringLiteral("version_reply"), QStringLiteral("lowercase"));
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("ok HS_FW_1.0.3\n"));
    sim.control.setFault(QStringLiteral("version_reply"), QStringLiteral("empty"));
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("OK \n"));

    sim.control.setFault(QStringLiteral("mode_write_refused"), QJsonArray{"/etc/mode.cfg"});
    EXPECT_FALSE(adb({"shell", "echo 1 > /etc/mode.cfg && echo OK"}).output.contains("OK"));
    EXPECT_EQ(sim.control.deviceFile("/etc/mode.cfg"), QByteArray("0\n"));

    sim.control.setFault(QStringLiteral("invalid_utf8"), QStringLiteral("firmware_ver"));
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8(adb({"shell", "cmmd info firmware_ver"}).output));
    EXPECT_TRUE(utf8.hasError());

    // The second restart never comes back.
    sim.control.setFault(QStringLiteral("no_return_after_restart"), 2);
    sim.control.setFault(QStringLiteral("flash_fail"), QStringLiteral("modem"));
    adb({"shell", "sys_reboot", "bootloader"});
    sim.control.advance(3);
    const QString image = writeImage(sim.path(), QStringLiteral("modem.img"), 100);
    const ToolRun failed = fastboot({"flash", "modem", image});
    EXPECT_TRUE(failed.output.contains("FAILED"));
    EXPECT_FALSE(failed.output.toLower().contains("finished"));
    EXPECT_FALSE(sim.control.partitions().contains("modem"));
    fastboot({"reboot"});
    sim.control.advance(10);
    EXPECT_EQ(sim.control.personality(), QStringLiteral("restarting"));
    EXPECT_TRUE(sim.control.identities().isEmpty());
}

QByteArray hostFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SimTools, KillHostStrikesOnceAtItsStep)
{
    using Look = std::function<QByteArray(SimTestDir&, const QString& host)>;
    const Look hostSide = [](SimTestDir&, const QString& host) { return hostFile(host); };
    const Look deviceSide = [](SimTestDir& sim, const QString&) { return sim.control.deviceFile("/etc/new_config.db"); };
    // The system partition's digest, whether it counts as written, and the settings' first line.
    const Look system = [](SimTestDir& sim, const QString&) {
        const bool counted = sim.control.device().value("flashed").toArray().contains("system");
        return sim.control.partitions().value("system").toObject().value("md5").toString().toLatin1()
            + (counted ? " counted " : " - ") + sim.control.deviceFile("/etc/config.db").split('\n').first();
    };
    const Look personality = [](SimTestDir& sim, const QString&) { return sim.control.personality().toLatin1(); };
    const QByteArray config = "ssid=Hotspot-5G31\nkey=simulated-secret\nchannel=6\n";
    const QByteArray source(100, 'p'); // pushed and flashed from the host
    const QByteArray md5 = QCryptographicHash::hash(source, QCryptographicHash::Md5).toHex();
    const QStringList pull{"adb", "pull", "/etc/config.db", "HOST"}, push{"adb", "push", "HOST", "/etc/new_config.db"},
        flash{"fastboot", "flash", "system", "HOST"}, reboot{"fastboot", "reboot"};
    const struct {
        QStringList args; // HOST: the file on the host's side
        const char* command;
        const char* at;
        int nth;
        Look look;
        QByteArray expected;
    } rows[] = {
        {pull, "/etc/config.db", "before", 1, hostSide, ""},
        {pull, "/etc/config.db", "during", 1, hostSide, config.left(config.size() / 2)},
        {pull, "adb pull", "after", 2, hostSide, config},
        {push, "new_config", "before", 1, deviceSide, ""},
        {push, "new_config", "during", 1, deviceSide, source.left(50)},
        {push, "new_config", "after", 1, deviceSide, source},
        {flash, "flash system", "before", 1, system, " - ssid=Hotspot-5G31"},
        {flash, "flash system", "during", 1, system, "torn - ssid=Hotspot"}, // torn, and wiped all the same
        {flash, "flash system", "after", 1, system, md5 + " counted ssid=Hotspot"},
        {reboot, "fastboot reboot", "before", 1, personality, "bootloader"},
        {reboot, "fastboot reboot", "during", 1, personality, "restarting"},
        {reboot, "fastboot reboot", "after", 1, personality, "restarting"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(row.args.join(' '), row.at).toStdString());
        const QString start = row.args.first() == "adb" ? QStringLiteral("ftm") : QStringLiteral("bootloader");
        SimTestDir sim(start);
        const QString host = sim.path() + QStringLiteral("/host");
        QFile file(host);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
        file.close();
        QStringList args = row.args.mid(1);
        args.replaceInStrings(QStringLiteral("HOST"), host);
        sim.control.setFault(QStringLiteral("kill_host"), QJsonObject{{"command", row.command}, {"at", row.at}, {"nth", row.nth}});
        for (int i = 1; i < row.nth; ++i)
            EXPECT_TRUE(run(row.args.first(), args, true).output.endsWith("survived\n"));
        if (row.args.value(1) == "pull")
            QFile::remove(host);

        const ToolRun killed = run(row.args.first(), args, true);
        EXPECT_EQ(killed.status, -SIGKILL);
        EXPECT_EQ(killed.output, QByteArray());
        EXPECT_EQ(row.look(sim, host), row.expected);
        EXPECT_EQ(sim.control.records(row.args.first()).last().json.value("kill_host").toString(), row.at);

        // Struck once: the updater's next run goes through.
        sim.control.setPersonality(start);
        EXPECT_TRUE(run(row.args.first(), args, true).output.endsWith("survived\n"));
    }
}

TEST(SimTools, NoReachableDevice)
{
    SimTestDir sim(QStringLiteral("usr-cdrom"));
    EXPECT_TRUE(adb({"devices"}).output.endsWith("List of devices attached\n\n"));
    EXPECT_TRUE(adb({"shell", "sys_reboot"}).output.contains("error: no devices/emulators found"));
    // fastboot waits like the real one (for ever by default); here it gives up at once.
    sim.control.set(QStringLiteral("fastboot_wait"), 0);
    EXPECT_TRUE(fastboot({"reboot"}).output.contains("< waiting for any device >"));
    EXPECT_EQ(sim.control.restarts(), 0);

    sim.control.loadScenario(QStringLiteral("adb-unreachable"));
    EXPECT_FALSE(adbLists());
    EXPECT_EQ(sim.control.identities(), QStringList{"05c6:9025"});
}

// Three units with the one serial: only the port tells them apart, and a run that names
// none is refused rather than sent to any of them.
// A unit's state file as stored now: each rewrite puts a new file in its place.
ino_t unitFileId(const QString& dir, const char* port)
{
    struct stat st {};
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/units/") + QLatin1String(port) + QStringLiteral(".json"));
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(SimTools, HubUnitsAnswerOnlyAtTheirPort)
{
    SimTestDir sim(QStringLiteral(R"({"personality": "bootloader", "fastboot_wait": 0, "units": [
        {"port": "1-2.1"}, {"port": "1-2.2", "faults": {"flash_fail": "boot"}}, {"port": "1-2.3", "firmware_version": "0.9"}]})"));
    const QStringList ports{"1-2.1", "1-2.2", "1-2.3"};
    ASSERT_EQ(sim.control.ports(), ports);
    EXPECT_EQ(fastboot({"devices", "-l"}).output, QByteArray("MDM9615                fastboot usb:1-2.1\n"
                                                             "MDM9615                fastboot usb:1-2.2\n"
                                                             "MDM9615                fastboot usb:1-2.3\n"));
    const QString boot = writeImage(sim.path(), QStringLiteral("boot.img"), 700);
    const ToolRun ambiguous = fastboot({"flash", "boot", boot});
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_TRUE(ambiguous.output.contains("more than one device"));
    EXPECT_TRUE(fastboot({"-s", "usb:1-2.1", "flash", "boot", boot}).output.contains("Finished"));
    EXPECT_TRUE(fastboot({"-s", "usb:1-2.2", "flash", "boot", boot}).output.contains("FAILED")); // its own fault
    const ToolRun missing = fastboot({"-s", "usb:1-9", "flash", "boot", boot});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.output.contains("< waiting for usb:1-9 >"));
    EXPECT_EQ(sim.control.partitions("1-2.1").value("boot").toObject().value("size").toInt(), 700);
    EXPECT_TRUE(sim.control.partitions("1-2.2").isEmpty());
    EXPECT_TRUE(sim.control.partitions("1-2.3").isEmpty());
    QStringList recorded;
    for (const SimRecord& r : sim.control.records(QStringLiteral("fastboot")))
        recorded << r.port;
    EXPECT_EQ(recorded, (QStringList{"", "", "1-2.1", "1-2.2", ""}));

    sim.control.setPersonality(QStringLiteral("ftm"), "1-2.1");
    sim.control.setPersonality(QStringLiteral("ftm"), "1-2.3");
    const QByteArray devices = adb({"devices", "-l"}).output;
    EXPECT_TRUE(devices.contains("0123456789ABCDEF       device usb:1-2.1 product:"));
    EXPECT_TRUE(devices.contains("0123456789ABCDEF       device usb:1-2.3 product:"));
    EXPECT_TRUE(adb({"devices"}).output.endsWith("0123456789ABCDEF\tdevice\n0123456789ABCDEF\tdevice\n\n"));
    const ToolRun refused = adb({"shell", "cmmd info firmware_ver"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.output.endsWith("error: more than one device/emulator\n"));
    EXPECT_EQ(adb({"-s", "usb:1-2.3", "shell", "cmmd info firmware_ver"}).output, QByteArray("OK HS_FW_0.9\n"));
    EXPECT_TRUE(adb({"-s", "usb:1-2.2", "shell", "ls"}).output.endsWith("error: device 'usb:1-2.2' not found\n"));
    EXPECT_EQ(adb({"-s"}).status, 1);
    const QString host = writeImage(sim.path(), QStringLiteral("settings"), 40);
    const QList<ino_t> others{unitFileId(sim.path(), "1-2.1"), unitFileId(sim.path(), "1-2.2")};
    const ino_t own = unitFileId(sim.path(), "1-2.3");
    EXPECT_EQ(adb({"-s", "usb:1-2.3", "push", host, "/etc/new_config.db"}).status, 0);
    EXPECT_EQ(sim.control.deviceFile("/etc/new_config.db", "1-2.3").size(), 40);
    // A run on one unit rewrites that unit's state alone.
    EXPECT_EQ(QList<ino_t>({unitFileId(sim.path(), "1-2.1"), unitFileId(sim.path(), "1-2.2")}), others);
    EXPECT_NE(unitFileId(sim.path(), "1-2.3"), own);
    EXPECT_TRUE(sim.control.deviceFile("/etc/new_config.db", "1-2.1").isNull());

    // Unplugged, a unit leaves every listing; the others stay. Back, it is a new connection.
    sim.control.unplug("1-2.3");
    sim.control.plug("1-2.3");
    EXPECT_TRUE(adb({"devices", "-l"}).output.contains("usb:1-2.3 product:MDM9615 model:Mobile_Hotspot device:mdm9615 transport_id:3\n"));
    sim.control.unplug("1-2.1");
    EXPECT_FALSE(adb({"devices", "-l"}).output.contains("usb:1-2.1"));
    EXPECT_EQ(adb({"shell", "cmmd info firmware_ver"}).output, QByteArray("OK HS_FW_0.9\n"));
    EXPECT_EQ(fastboot({"devices", "-l"}).output, QByteArray("MDM9615                fastboot usb:1-2.2\n"));
    EXPECT_EQ(sim.control.records(QStringLiteral("adb")).last().port, QStringLiteral("1-2.3"));
    EXPECT_EQ(fastboot({"-s", "usb:1-2.2", "reboot"}).status, 0);
    EXPECT_EQ(QList<int>({sim.control.restarts("1-2.1"), sim.control.restarts("1-2.2"), sim.control.restarts("1-2.3")}),
              QList<int>({0, 1, 0}));

    QString error;
    EXPECT_FALSE(sim.control.loadScenario(R"({"units": [{"port": "1-2"}, {"port": "1-2"}]})", &error));
    EXPECT_FALSE(sim.control.loadScenario(R"({"units": [{"port": "usb:1"}]})", &error));
    EXPECT_EQ(sim.control.ports(), ports); // a refused scenario leaves the hub as it was
}

// One bus for the hub: two writes at once take about twice as long as one alone, and a write
// killed in the middle gives its share back to the one left.
TEST(SimTools, HubUnitsShareOneBus)
{
    SimTestDir sim(QStringLiteral(R"({"personality": "bootloader", "fastboot_wait": 0, "bus_mbps": 2,
        "units": [{"port": "1-2.1"}, {"port": "1-2.2"}]})"));
    const QString image = writeImage(sim.path(), QStringLiteral("boot.img"), 1000000); // 0.5 s alone
    const auto start = [&](const QString& port) {
        auto* p = new QProcess;
        p->start(SimControl::fastbootPath(), {"-s", "usb:" + port, "flash", "boot", image});
        return p;
    };
    const auto seconds = [](const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; };
    QElapsedTimer clock;
    // What a run costs besides its bytes (much more under a sanitizer): the ratios leave it out.
    const QString tiny = writeImage(sim.path(), QStringLiteral("tiny.img"), 1);
    clock.start();
    EXPECT_EQ(fastboot({"-s", "usb:1-2.1", "flash", "boot", tiny}).status, 0);
    const double overhead = seconds(clock);
    clock.restart();
    EXPECT_EQ(fastboot({"-s", "usb:1-2.1", "flash", "boot", image}).status, 0);
    const double alone = seconds(clock) - overhead;
    EXPECT_GT(alone + overhead, 0.45);

    clock.restart();
    QProcess* first = start("1-2.1");
    QProcess* second = start("1-2.2");
    for (QProcess* p : {first, second}) {
        p->waitForFinished(-1);
        EXPECT_EQ(p->exitCode(), 0);
        delete p;
    }
    const double together = seconds(clock) - overhead;
    EXPECT_GT(together / alone, 1.6);
    EXPECT_LT(together / alone, 2.6);
    EXPECT_EQ(sim.control.partitions("1-2.2").value("boot").toObject().value("size").toInt(), 1000000);

    // Killed after a quarter of a second (a quarter of its share sent), the other has 0.75 MB
    // left at the whole rate: about 0.6 s in all, 1 s had the share stayed taken.
    clock.restart();
    QProcess* killed = start("1-2.1");
    QProcess* survivor = start("1-2.2");
    QThread::msleep(250);
    killed->kill();
    killed->waitForFinished(-1);
    survivor->waitForFinished(-1);
    EXPECT_EQ(survivor->exitCode(), 0);
    EXPECT_LT(seconds(clock), 0.85);
    EXPECT_EQ(sim::SharedBus(sim.path(), 2).activeTransfers(), 0); // the killed one's entry is gone
    delete killed;
    delete survivor;

    // The unit's own write into its flash follows the send and takes its own time.
    sim.control.set(QStringLiteral("flash_mbps"), 2, QStringLiteral("1-2.1"));
    clock.restart();
    EXPECT_EQ(fastboot({"-s", "usb:1-2.1", "flash", "boot", image}).status, 0);
    EXPECT_GT(seconds(clock), 0.95); // 0.5 s sent, 0.5 s written
}

TEST(SimTools, ConcurrentRunsShareOneConsistentState)
{
    SimTestDir sim(QStringLiteral("ftm"));
    constexpr int kPushes = 8;
    constexpr int kListings = 8;
    QList<QProcess*> running;
    for (int i = 0; i < kPushes; ++i) {
        const QString host = writeImage(sim.path(), QStringLiteral("f%1").arg(i), 100 + i);
        auto* p = new QProcess;
        p->start(SimControl::adbPath(), {"push", host, QStringLiteral("/data/f%1").arg(i)});
        running << p;
    }
    for (int i = 0; i < kListings; ++i) {
        auto* p = new QProcess;
        p->start(SimControl::adbPath(), {"devices"});
        running << p;
    }
    for (QProcess* p : running) {
        p->waitForFinished(-1);
        EXPECT_EQ(p->exitCode(), 0);
        delete p;
    }
    for (int i = 0; i < kPushes; ++i)
        EXPECT_EQ(sim.control.deviceFile(QStringLiteral("/data/f%1").arg(i)).size(), 100 + i);
    EXPECT_EQ(sim.control.probes(), kListings);
    EXPECT_EQ(sim.control.records(QStringLiteral("adb")).size(), kPushes + kListings);
    QFile state(sim.path() + QStringLiteral("/state.json"));
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QJsonDocument::fromJson(state.readAll()).isObject());
}

TEST(SimTools, ScenariosBuildOnEachOther)
{
    QString error;
    const QJsonObject qcom = SimControl::readScenario(QStringLiteral("bootloader-qcom"), &error);
    EXPECT_EQ(qcom.value("personality").toString(), QStringLiteral("bootloader"));
    EXPECT_EQ(qcom.value("bootloader_identity").toString(), QStringLiteral("05c6:9025"));
    EXPECT_TRUE(SimControl::readScenario(QStringLiteral("no-such-scenario"), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(SimControl::readScenario(QStringLiteral("{broken"), &error).isEmpty());

    SimTestDir sim(QStringLiteral("{\"personality\": \"usr_adb\", \"firmware_version\": \"2.0\"}"));
    EXPECT_EQ(sim.control.personality(), QStringLiteral("usr_adb"));
    EXPECT_EQ(sim.control.firmwareVersion(), QStringLiteral("2.0"));
}

} // namespace

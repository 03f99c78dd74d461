// Every fault the simulated hotspot can inject, at every step of the update where it can
// strike, against the whole update on the injected clock. Each row must end on its final
// screen within the bounded waits, lose no copy of the device's data, and leave the
// permanent switch as the last USB command whenever the device can still take one. With
// HOTSPOT_SWEEP_TABLE set, the rows are written there as a Markdown table
// (scripts/bench --sweep prints it).

#include "tests/workflow/SimFixture.h"
#include "usb/usbutils.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <set>

using namespace testing_support;

namespace {

const QString kWifi = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");
const QString kConfig = QStringLiteral("/etc/config.db");
const QString kConfigRestored = QStringLiteral("/etc/new_config.db");
const QByteArray kMode1(reinterpret_cast<const char*>(switch_cmd2_prm_usr), 31);

// The waits of an update without faults, in order: the steps a strike can follow, with the
// result code when the device vanishes there (its cable pulled; fastboot then waits for ever,
// as the real one does) and when adb or fastboot has gone missing there (-1: not swept).
struct Wait {
    double seconds;
    const char* step;
    int unplugged, noAdb, noFastboot;
};
const std::vector<Wait> kWaits = {
    {1.0, "start", 2, 1, 1},
    {5.0, "boot-loader request", 5, -1, -1},
    {5.0, "fastboot poll", 5, 1, 1},
    {1.0, "in the boot loader", 4, 1, 1},
    {0.5, "aboot written", 4, -1, -1},
    {0.5, "boot written", 4, -1, -1},
    {0.5, "modem written", 4, -1, -1},
    {0.5, "system written", 4, -1, -1},
    {5.0, "leaving the boot loader", 4, -1, -1},
    {5.0, "fastboot reboot", 4, -1, -1},
    {5.0, "bus poll", 4, 1, 1},
    {5.0, "restore", 6, -1, -1},
    {5.0, "final restart", 6, -1, -1},
    {5.0, "final bus poll", 6, 1, 1},
    // Unplugged here, the device was back with its own identity: only the version is not read.
    {5.0, "adb poll after mode 2", 0, -1, -1},
};

// Every bounded poll at its limit (10 attempts of 5 s, six of them) and every fixed pause:
// the most a run can wait.
constexpr double kLongestRun = 1 + (5 + 50) + (1 + 4 * 0.5) + (5 + 5 + 50 + 50) + (5 + 5 + 50) + (50 + 1 + 50);
// Tool runs that wait for a vanished device end after a second: a run of the simulated
// tools takes some tens of milliseconds.
const ToolLimits kLimits{1.0, 1.0, 1.0, 1.0, 0.0};
// Real time after which a row counts as hung: far beyond its bounded tool runs.
constexpr qint64 kHangMs = 60000;

// What happens at the wait `atWait`; None lays the row's patch on before Start instead.
enum class Strike { None, Patch, Unplug, RemoveAdb, RemoveFastboot };

struct Row {
    std::string fault; // what goes wrong
    std::string step;  // where it strikes
    std::string patch; // scenario settings and faults
    int code;          // the result code the update ends with
    Strike strike = Strike::None;
    int atWait = 0;    // the strike follows this wait of kWaits (1 = the first)
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.fault << " / " << row.step << " / " << row.patch; }

// Faults of the USB side: the closing switch, too, may not reach the device.
const std::set<std::string> kSwitchFaults = {"open_fails", "claim_fails", "altinterface_fails", "bulk_read_fails",
                                             "silent_storage", "node_access"};

std::string faults(const char* json) { return std::string(R"({"faults": )") + json + "}"; }

std::vector<Row> rows() {
    const std::string wifi = kWifi.toStdString();
    std::vector<Row> r = {
        {"none", "-", "{}", 0},
        // Each write failing.
        {"flash_fail", "aboot (first image)", faults(R"({"flash_fail": ["aboot"]})"), 7},
        {"flash_fail", "system (last image)", faults(R"({"flash_fail": ["system"]})"), 7},
        {"pull_error", "calibration backup", R"({"faults": {"pull_error": [")" + wifi + R"("]}})", 1},
        {"pull_error", "configuration backup", faults(R"({"pull_error": ["/etc/config.db"]})"), 1},
        {"push_error", "calibration restore", R"({"faults": {"push_error": [")" + wifi + R"("]}})", 8},
        {"push_error", "configuration restore", faults(R"({"push_error": ["/etc/new_config.db"]})"), 8},
        {"push_corrupts", "calibration restore", R"({"faults": {"push_corrupts": [")" + wifi + R"("]}})", 8},
        {"mode_write_refused", "/etc/mode.cfg", faults(R"({"mode_write_refused": ["/etc/mode.cfg"]})"), 6},
        {"mode_write_refused", "/tmp/mode.cfg", faults(R"({"mode_write_refused": ["/tmp/mode.cfg"]})"), 6},
        {"mode_write_lowercase", "both mode files", faults(R"({"mode_write_lowercase": true})"), 6},
        // Each restart not returning, or returning otherwise.
        {"no_return_after_restart", "into the boot loader", faults(R"({"no_return_after_restart": 1})"), 5},
        {"no_return_after_restart", "out of the boot loader", faults(R"({"no_return_after_restart": 2})"), 4},
        {"no_return_after_restart", "final restart", faults(R"({"no_return_after_restart": 3})"), 6},
        {"restart_personality", "out of the boot loader as usr", faults(R"({"restart_personality": {"2": "usr"}})"), 6},
        {"restart_personality", "final restart as ftm", faults(R"({"restart_personality": {"3": "ftm"}})"), 6},
        {"ignore_bootloader_request", "boot-loader request", faults(R"({"ignore_bootloader_request": true})"), 5},
        {"bootloader_identity", "05c6:9025 in the boot loader", R"({"bootloader_identity": "05c6:9025"})", 0},
        {"both_identities", "whole update", faults(R"({"both_identities": true})"), 0},
        {"adb_unreachable", "whole update", faults(R"({"adb_unreachable": true})"), 2},
        // The version answer.
        {"version_reply", "no OK", faults(R"({"version_reply": "no_ok"})"), 0},
        {"version_reply", "lower case", faults(R"({"version_reply": "lowercase"})"), 0},
        {"version_reply", "empty", faults(R"({"version_reply": "empty"})"), 0},
        {"version_reply", "prefix only", faults(R"({"version_reply": "prefix_only"})"), 0},
        {"version_ok_from_try", "12th read", faults(R"({"version_ok_from_try": 12})"), 0},
        // The USB side of the mode switch.
        {"open_fails", "every switch", faults(R"({"open_fails": true})"), 0},
        {"claim_fails", "first 3 claims", faults(R"({"claim_fails": 3})"), 0},
        {"claim_fails", "every claim", faults(R"({"claim_fails": true})"), 0},
        {"altinterface_fails", "every switch", faults(R"({"altinterface_fails": true})"), 0},
        {"bulk_write_fails", "first 2 writes", faults(R"({"bulk_write_fails": 2})"), 0},
        {"bulk_read_fails", "every read", faults(R"({"bulk_read_fails": true})"), 0},
        {"drop_status_after_switch", "every switch", faults(R"({"drop_status_after_switch": true})"), 0},
        {"switch_ignored", "every switch", faults(R"({"switch_ignored": true})"), 0},
        // Reads run to their timeout in real time: only from the last switch on.
        {"silent_storage", "from the closing switch on", faults(R"({"silent_storage": true})"), 0, Strike::Patch, 15},
        // Tool output that is far too much, and runs that hang.
        {"large_output", "adb devices, 1 MiB", faults(R"({"large_output": "adb devices", "large_output_bytes": 1048576})"), 0},
        {"hang", "aboot flash, for ever", faults(R"({"hang": "flash aboot"})"), 7},
        {"hang", "calibration backup, for ever", faults(R"({"hang": "pull /lib/firmware"})"), 1},
        {"hang", "calibration restore, for ever", faults(R"({"hang": "push"})"), 8},
        {"hang", "/etc/mode.cfg, for ever", faults(R"({"hang": "/etc/mode.cfg"})"), 6},
        {"pulled_during_flash", "modem, not back", faults(R"({"pulled_during_flash": ["modem"]})"), 4},
        {"pulled_during_flash", "modem, back 1 s later", R"({"replug_after": 1, "faults": {"pulled_during_flash": ["modem"]}})", 7},
        // The Linux host: its storage driver, device-node permissions, adb's device states and
        // a restarting device that stays on the bus for a moment.
        {"kernel_driver", "none (every other row: usb-storage)", R"({"kernel_driver": ""})", 0},
        {"node_access", "read only", R"({"node_access": "ro"})", 2},
        {"node_access", "none", R"({"node_access": "none"})", 2},
        {"adb_state", "unauthorized at Start", R"({"adb_state": "unauthorized"})", 2},
        {"adb_state", "offline after the first restart", R"({"adb_state": "offline"})", 4, Strike::Patch, 10},
        {"adb_state", "authorizing after the final restart", R"({"adb_state": "authorizing"})", 0, Strike::Patch, 13},
        {"linger", "each restart, shorter than a wait", R"({"linger": {"probes": 1}})", 0},
        {"linger", "each restart, longer than a wait", R"({"linger": {"probes": 2}})", 6},
    };
    // Output that is not UTF-8, from each command of the update.
    for (const auto& [command, code] : std::vector<std::pair<const char*, int>>{
             {"fastboot devices", 5}, {"adb devices", 2}, {"adb pull", 0}, {"sys_reboot bootloader", 0},
             {"fastboot flash", 7}, {"fastboot reboot", 0}, {"mode.cfg", 0}, {"adb push", 0}, {"firmware_ver", 0}}) {
        const QJsonObject patch{{"faults", QJsonObject{{"invalid_utf8", QString::fromUtf8(command)}}}};
        r.push_back({"invalid_utf8", command, QJsonDocument(patch).toJson(QJsonDocument::Compact).toStdString(), code});
    }
    // The device vanishing, and a tool going missing, after the waits of the update.
    for (int i = 0; i < int(kWaits.size()); ++i) {
        const Wait& w = kWaits[size_t(i)];
        const std::string after = std::string("after ") + w.step;
        r.push_back({"unplugged", after, "{}", w.unplugged, Strike::Unplug, i + 1});
        if (w.noAdb >= 0)
            r.push_back({"adb missing", after, "{}", w.noAdb, Strike::RemoveAdb, i + 1});
        if (w.noFastboot >= 0)
            r.push_back({"fastboot missing", after, "{}", w.noFastboot, Strike::RemoveFastboot, i + 1});
    }
    return r;
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name = std::to_string(info.index) + "_" + info.param.fault + "_" + info.param.step;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

struct Outcome {
    Row row;
    int code;
    QString screen;
    int state;
    QString modeOneLast;
    bool dataKept;
    double waited; // injected-clock seconds
};

std::vector<Outcome>& outcomes() {
    static std::vector<Outcome> all;
    return all;
}

// The completion step's texts, back to the result codes they stand for.
int codeOf(const QString& status) {
    const std::map<QString, int> codes = {
        {messages::lookup("stat Success upgrade device !"), 0},
        {messages::lookup("stat Fail to upgrade by some error !"), 1},
        {messages::lookup("stat Device not found !"), 2},
        {messages::lookupFilled("stat Fail to switch back [%s] mode !", QStringLiteral("FTM")), 4},
        {messages::lookupFilled("stat Fail to switch [%s] mode !", QStringLiteral("Fastboot")), 5},
        {messages::lookupFilled("stat Fail to switch back [%s] mode !", QStringLiteral("USR")), 6},
        {messages::lookup("stat Fail to write image !"), 7},
        {messages::lookup("stat The firmware was written, but your data did not go back !"), 8},
        {messages::lookup("stat The update could not be recorded, so nothing was written !"), 9},
    };
    const auto it = codes.find(status);
    return it == codes.end() ? -1 : it->second;
}

class FaultSweep : public SimFixture, public ::testing::WithParamInterface<Row> {
protected:
    void ready() {
        loadScenario(QStringLiteral(R"({"base": "ftm", "files": {"/etc/config.db": "ssid=Kitchen\nkey=hunter2\n"}})"));
        std::vector<ImageFile> images;
        for (const char* part : {"aboot", "boot", "modem", "system"})
            images.push_back({part, QByteArray(part) + ".img", QByteArray(4096, part[0])});
        writePackage("HS_FW_1.0.4", images);
        HarnessOptions options;
        options.toolLimits = kLimits;
        AppHarness& h = start(options);
        h.runInitialize();
        ASSERT_EQ(h.app().session().state(), SessionState::Searching);
        h.runDetectPass();
        ASSERT_EQ(h.app().session().state(), SessionState::Offered);
        m_data = {{kWifi, kWifi, sim->deviceFile(kWifi)}, {kConfig, kConfigRestored, sim->deviceFile(kConfig)}};
        sim->clearRecords();
        h.clock->clear();
    }

    // Each wait lets the device's probe-counted delays move on, as real seconds would; once an
    // image is written the device's files are gone, as on the real one; the row's strike
    // follows its wait.
    void arm(const Row& row) {
        if (row.strike == Strike::None)
            sim->patch(QJsonDocument::fromJson(QByteArray::fromStdString(row.patch)).object());
        harness().clock->onSleep([this, row](double) {
            sim->advance(1);
            if (!m_wiped && !sim->partitions().isEmpty()) {
                for (const DataFile& file : m_data)
                    sim->setDeviceFile(file.path, {});
                m_wiped = true;
            }
            if (++m_waits != row.atWait)
                return;
            if (row.strike == Strike::Patch)
                sim->patch(QJsonDocument::fromJson(QByteArray::fromStdString(row.patch)).object());
            else if (row.strike == Strike::Unplug)
                sim->unplug();
            else
                QFile::remove(bundle.resources() + (row.strike == Strike::RemoveAdb ? "/adb" : "/fastboot"));
        });
    }

    // Presses Start and serves the worker until it leaves; a stuck worker ends the program,
    // since nothing can be torn down under it.
    void press() {
        AppHarness& h = harness();
        QElapsedTimer timer;
        timer.start();
        h.app().onUpdateButtonClick();
        AppHarness::pumpUntil([&] {
            if (timer.elapsed() > kHangMs) {
                ADD_FAILURE() << "the update did not end in " << kHangMs << " ms";
                std::_Exit(1);
            }
            return h.app().session().liveWorkers() == 0;
        });
        h.clock->onSleep(nullptr);
    }

    // Each file of the device's data is untouched on the device (no image was written), back
    // on the device where the restore puts it, or kept in the durable store.
    bool dataKept() {
        const QString store = harness().home() + QStringLiteral("/.local/share/hotspot-updater/backups");
        for (const DataFile& file : m_data) {
            if (sim->deviceFile(m_wiped ? file.restoreTo : file.path) == file.content)
                continue;
            if (!storeHolds(store, QFileInfo(file.path).fileName(), file.content))
                return false;
        }
        return true;
    }
    static bool storeHolds(const QString& store, const QString& name, const QByteArray& content) {
        QDirIterator it(store, {name}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly) && f.readAll() == content)
                return true;
        }
        return false;
    }

    // "yes" when the closing permanent switch was the last command the device got; when not,
    // why not.
    QString modeOneLast() {
        const QList<QByteArray> cbws = sim->cbws();
        if (!cbws.isEmpty() && cbws.last() == kMode1)
            return QStringLiteral("yes");
        if (!sim->plugged())
            return QStringLiteral("no: unplugged");
        if (!sim->identities().contains(QStringLiteral("11f6:102a")))
            return QStringLiteral("no: not under its own identity");
        return QStringLiteral("no: the switch failed");
    }

    struct DataFile {
        QString path, restoreTo;
        QByteArray content;
    };
    std::vector<DataFile> m_data;
    std::atomic<int> m_waits{0};
    std::atomic<bool> m_wiped{false};
};

TEST_P(FaultSweep, EndsOnItsFinalScreenWithinTheWaitsKeepingTheData) {
    const Row& row = GetParam();
    ready();
    arm(row);
    press();
    AppHarness& h = harness();

    const QString screen = h.screen().status;
    const std::vector<double> sleeps = h.clock->sleeps();
    const Outcome o{row,         codeOf(screen), screen, stateNumber(h.app().session().state()), modeOneLast(), dataKept(),
                    std::accumulate(sleeps.begin(), sleeps.end(), 0.0)};
    outcomes().push_back(o);

    if (row.fault == "none") {
        std::vector<double> expected;
        for (const Wait& w : kWaits)
            expected.push_back(w.seconds);
        EXPECT_EQ(sleeps, expected) << "the steps of kWaits no longer match the update";
    }
    EXPECT_EQ(o.code, row.code) << "final screen: " << o.screen.toStdString();
    // A failed write leaves the unit half-written: Retry, as for the switches and the data.
    EXPECT_EQ(o.state, o.code == 2 || (o.code >= 4 && o.code <= 9) ? 3 : 4);
    EXPECT_TRUE(h.screen().buttonEnabled);
    EXPECT_FALSE(h.screen().barAnimating);
    EXPECT_LE(o.waited, kLongestRun);
    EXPECT_TRUE(o.dataKept);
    // The permanent switch goes out once and nothing follows it; a device under its own
    // identity gets it unless its USB side fails.
    const QList<QByteArray> cbws = sim->cbws();
    EXPECT_LE(cbws.count(kMode1), 1);
    if (cbws.contains(kMode1)) {
        EXPECT_EQ(cbws.last(), kMode1);
    }
    if (!kSwitchFaults.count(row.fault) && sim->plugged() && sim->identities().contains(QStringLiteral("11f6:102a"))) {
        EXPECT_EQ(o.modeOneLast, QStringLiteral("yes"));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultSweep, ::testing::ValuesIn(rows()), rowName);

// Writes the table when asked; the rows ran in this process.
class TableWriter : public ::testing::Environment {
public:
    void TearDown() override {
        const QByteArray path = qgetenv("HOTSPOT_SWEEP_TABLE");
        if (path.isEmpty())
            return;
        QFile out(QString::fromLocal8Bit(path));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        out.write("| fault | strikes | result | final screen | state | permanent switch last | data kept | "
                  "waits (s) |\n|---|---|---|---|---|---|---|---|\n");
        for (const Outcome& o : outcomes()) {
            out.write(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 |\n")
                          .arg(QString::fromStdString(o.row.fault), QString::fromStdString(o.row.step),
                               QString::number(o.code), o.screen,
                               QString::number(o.state), o.modeOneLast, o.dataKept ? "yes" : "NO",
                               QString::number(o.waited, 'f', 1))
                          .toUtf8());
        }
    }
};

const auto* const kTableWriter = ::testing::AddGlobalTestEnvironment(new TableWriter);

} // namespace

#include "BridgeFixture.h"
#include "bridge/OutputText.h"
#include "usb/usbport.h"
#include "usb/usbutils.h"

#include <limits>
#include <tuple>

namespace {

const QByteArray kInvalidUtf8 = "\xff\xfe";

using ProbeTest = BridgeTest;

// ---- detectAdb ----

TEST_F(ProbeTest, DeviceInBootLoaderIsReportedWithoutAskingAdb) {
    writeTool("fastboot", "echo 'MDM9615\tfastboot'");
    writeTool("adb", "echo 0123456789ABCDEF device");
    EXPECT_EQ(probes().detectAdb().tool, 2);
    EXPECT_EQ(runs("fastboot"), QStringList{"devices|"});
    EXPECT_TRUE(runs("adb").isEmpty());
}

TEST_F(ProbeTest, AdbListingDecidesWhenFastbootDoesNotListTheDevice) {
    struct Case {
        QByteArray fastboot, adb;
        int32_t expected;
    } cases[] = {
        {"", "List of devices attached\n0123456789ABCDEF\tdevice\n\n", 1},
        {"OTHER\tfastboot\n", "List of devices attached\nemulator-5554\tdevice\n\n", 0},
        {"mdm9615\tfastboot\n", "List of devices attached\n\n", 0},
        {kInvalidUtf8, "0123456789ABCDEF\tdevice\n", 1}, // unreadable lists name nothing
        {"", "0123456789ABCDEF\t" + kInvalidUtf8, 0},
    };
    for (const Case& c : cases) {
        writeTool("fastboot", replyFile("fastboot", c.fastboot));
        writeTool("adb", replyFile("adb", c.adb));
        EXPECT_EQ(probes().detectAdb().tool, c.expected) << c.fastboot.toStdString() << c.adb.toStdString();
    }
    EXPECT_EQ(runs("adb").size(), std::size(cases));
}

// With a port, only the long lists' line naming that port counts, by the same rules.
TEST_F(ProbeTest, ProbesForAPortJudgeOnlyTheLineOfThatPort) {
    const QByteArray other = "0123456789ABCDEF       device usb:1-2.30 product:MDM9615\n";
    struct Case {
        QByteArray fastboot, adb;
        AdbVerdict expected;
    } cases[] = {
        {"MDM9615                fastboot usb:1-2.3\n", "", {2, false, false}},
        {"MDM9615                fastboot usb:1-2.30\n", other, {0, false, false}},
        {"", other + "0123456789ABCDEF       device usb:1-2.3 product:MDM9615\n", {1, false, false}},
        {"", "0123456789ABCDEF       offline usb:1-2.3 transport_id:3\n" + other, {0, false, true}},
        {"", "0123456789ABCDEF       no permissions (udev?); see [http://x] usb:1-2.3\n", {0, true, true}},
        {"no permissions; see [http://x] fastboot usb:1-2.30\n", "", {0, false, false}},
        {"", "emulator-5554          device usb:1-2.3\n0123456789ABCDEF\tdevice\n", {0, false, false}},
    };
    const Tools atPort = tools().forPort("1-2.3");
    const DeviceProbes probes(atPort, path("nosys"));
    for (const Case& c : cases) {
        writeTool("fastboot", replyFile("fastboot", c.fastboot));
        writeTool("adb", replyFile("adb", c.adb));
        const AdbVerdict v = probes.detectAdb();
        EXPECT_EQ(std::tuple(v.tool, v.accessDenied, v.listedNotReady),
                  std::tuple(c.expected.tool, c.expected.accessDenied, c.expected.listedNotReady))
            << c.fastboot.toStdString() << c.adb.toStdString();
    }
    EXPECT_EQ(runs("adb").first(), "devices|-l|");
    do_init_utils();
    EXPECT_EQ(probes.presence(), 0u); // no tree: nothing at the port
}

// ---- detectDeviceBootMode ----

struct BootModeCase {
    QByteArray bootMode;
    std::optional<QByteArray> mpp5; // nullopt: the reading must not be asked
    int32_t expected;
    bool statusShown;
};

void PrintTo(const BootModeCase& c, std::ostream* os) {
    *os << "boot mode ";
    PrintTo(c.bootMode, os);
    *os << ", mpp5 ";
    if (c.mpp5)
        PrintTo(*c.mpp5, os);
    else
        *os << "not asked";
}

class BootModeTest : public BridgeTest, public ::testing::WithParamInterface<BootModeCase> {};

TEST_P(BootModeTest, ReadsTheCodeAndTheMpp5Override) {
    const BootModeCase& c = GetParam();
    const QString bootReply = replyFile("bootmode", c.bootMode);
    const QString mppReply = replyFile("mpp5", c.mpp5.value_or(QByteArray()));
    writeTool("adb", QStringLiteral("case \"$2\" in\n"
                                    "'cat /tmp/bootmode') %1 ;;\n"
                                    "'cat /sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5') %2 ;;\n"
                                    "esac")
                         .arg(bootReply, mppReply));
    const BootModeReading reading = probes().bootMode();
    EXPECT_EQ(reading.code, c.expected);
    EXPECT_EQ(runs("adb").size(), c.mpp5 ? 2 : 1);
    EXPECT_EQ(reading.unreadable, c.statusShown);
}

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Readings, BootModeTest,
    ::testing::Values(
        BootModeCase{"3\n", "Result:65535\n", 3, false},
        BootModeCase{"4\n", "Result:65535\n", 0, false},
        BootModeCase{"1", "Result: 65535", 0, false},
        BootModeCase{"1\n", "Result:100\n", 1, false},
        BootModeCase{"2\n", "Result:65535\n", 2, false},
        BootModeCase{"4", "XXXXXXX65535", 0, false}, // the prefix is not compared
        BootModeCase{"sh: cat: not found\n", "Result:65535", 0, false},
        BootModeCase{"Error 7", "Result:1", 0, false},
        BootModeCase{" \t\n-7x", "Result:1", -7, false},
        BootModeCase{"+12", "Result:1", 12, false},
        BootModeCase{"99999999999", "Result:1", kIntMax, false},
        BootModeCase{"-99999999999", "Result:1", kIntMin, false},
        BootModeCase{"3\n", "Result:", -1, false},
        BootModeCase{"3\n", "Resu", -1, false},
        BootModeCase{"3\n", "", -1, false},
        BootModeCase{"error: device offline\n", std::nullopt, -1, true},
        BootModeCase{kInvalidUtf8, std::nullopt, -1, true},
        BootModeCase{"3\n", "error: closed\n", -1, true},
        BootModeCase{"3\n", "Result:" + kInvalidUtf8, -1, true}));

// ---- boot-mode commands ----

TEST_F(ProbeTest, RebootAndSwitchFailOnlyOnAnErrorLine) {
    struct Case {
        QByteArray out;
        int32_t expected;
    } cases[] = {{"", 0}, {"error: closed\n", -1}, {"Error: closed\n", 0}, {kInvalidUtf8, 0}};
    for (const Case& c : cases) {
        writeTool("adb", replyFile("adb", c.out));
        EXPECT_EQ(probes().reboot(), c.expected == 0) << c.out.toStdString();
        EXPECT_EQ(probes().rebootToBootLoader(), c.expected == 0) << c.out.toStdString();
    }
    EXPECT_EQ(runs("adb").mid(0, 2), (QStringList{"shell|sys_reboot|", "shell|sys_reboot|bootloader|"}));
}

TEST_F(ProbeTest, FlashSucceedsOnlyWhenFinished) {
    struct Case {
        QByteArray out;
        int exitStatus;
        int32_t expected;
    } cases[] = {
        {"sending 'boot'...\nOKAY\nfinished. total time: 0.5s\n", 0, 0},
        {"error: write failed\nfinished. total time: 0.1s\n", 0, 0},
        {"FAILED (remote: bad image)\n", 1, -1},
        {"", 0, -1},
        {"Sending 'boot' (96 KB)  OKAY [  0.385s]\nFinished. Total time: 1.208s\n", 0, 0},
        {"finished" + kInvalidUtf8, 0, -1},
        // Older fastboot prints "finished" after a failure, with either status.
        {"writing 'boot'...\nFAILED (remote: flash write failure)\nfinished. total time: 0.2s\n", 0, -1},
        {"writing 'boot'...\nFAILED (remote: flash write failure)\nfinished. total time: 0.2s\n", 1, -1},
        {"OKAY\nfinished. total time: 0.5s\n", 1, -1},
        // "Failed" in another case is a word of the log, not the tool's verdict.
        {"OKAY (partition was not Failed)\nFinished. Total time: 0.1s\n", 0, 0},
    };
    for (const Case& c : cases) {
        writeTool("fastboot", replyFile("fastboot", c.out) + QStringLiteral("; exit %1").arg(c.exitStatus));
        EXPECT_EQ(probes().flash("boot", "/images dir/boot.img"), c.expected == 0)
            << c.out.toStdString() << " exit " << c.exitStatus;
    }
    EXPECT_EQ(runs("fastboot").first(), QStringLiteral("flash|boot|/images dir/boot.img|"));
}

TEST_F(ProbeTest, FastbootRebootsNeverFail) {
    writeTool("fastboot", "echo 'error: no device'; exit 1");
    probes().fastbootReboot();
    probes().fastbootRebootBootloader();
    EXPECT_EQ(runs("fastboot"), (QStringList{"reboot|", "reboot-bootloader|"}));
}

// ---- parseVersionNumber ----

TEST(ParseVersionNumber, TrimsWhiteSpaceAndTakesTheLastPiece) {
    EXPECT_EQ(output::parseVersionNumber(" \t\r\nOK TQ738_HW1_2.0.13\r\n "), "2.0.13");
    EXPECT_EQ(output::parseVersionNumber("  1.0.2\n"), "1.0.2");
    EXPECT_EQ(output::parseVersionNumber("TQ738_"), "");
    EXPECT_EQ(output::parseVersionNumber(""), "");
    EXPECT_EQ(output::parseVersionNumber("a_ b"), " b");
    EXPECT_EQ(output::parseVersionNumber(QStringLiteral("\u2028\u0085x_3.1\u2029\u00a0\u3000\v\f")), "3.1");
}

// ---- detectDevice ----

TEST_F(ProbeTest, NoDeviceOnTheBusGivesAnEmptyMask) {
    do_init_utils();
    EXPECT_EQ(probes().presence(), 0u);
}

} // namespace

// ---- the port path ----

TEST_F(ProbeTest, PortIsTheOneHotspotFolderOfTheBus) {
    struct Folder {
        const char* name;
        const char* vendor;
        const char* product;
        const char* devnum = "7";
    };
    struct Case {
        std::vector<Folder> folders;
        const char* port;
        const char* listed;     // every hotspot's port, for a station
        uint64_t presenceAt1_1; // what the probes of a unit at 1-1 see there, without a rescan
    } cases[] = {
        {{}, "", "", 0},
        {{{"usb1", "1d6b", "0002"}, {"1-2.3", "11f6", "102a"}, {"1-2.3:1.0", "11f6", "102a"}}, "1-2.3", "1-2.3", 0},
        {{{"2-1", "05c6", "9025\n"}, {"1-1", "046d", "c52b"}}, "2-1", "2-1", 0},
        {{{"1-1", "11f6", "102a"}, {"1-4", "05c6", "9025"}}, "", "1-1 1-4", presence::kOwnIdentity}, // two units: neither is the one
        {{{"1-1", "11f6", "zz"}}, "", "", 0},
        {{{"1-1", "05c6", "9025"}}, "1-1", "1-1", presence::kQualcommIdentity},
        {{{"1-1", "05c6", "9025", ""}}, "1-1", "1-1", 0}, // not enumerated yet: no device number
    };
    const Tools atPort = tools().forPort("1-1");
    do_init_utils();
    int n = 0;
    for (const Case& c : cases) {
        const QString root = path(QStringLiteral("sys%1").arg(n++));
        for (const Folder& f : c.folders) {
            const QString folder = root + QStringLiteral("/bus/usb/devices/") + QLatin1String(f.name);
            ASSERT_TRUE(QDir().mkpath(folder));
            for (const auto& [file, value] :
                 {std::pair{"idVendor", f.vendor}, {"idProduct", f.product}, {"devnum", f.devnum}}) {
                QFile out(folder + u'/' + QLatin1String(file));
                ASSERT_TRUE(out.open(QIODevice::WriteOnly));
                out.write(QByteArray(value) + '\n');
            }
        }
        EXPECT_EQ(usbport::find(root), QLatin1String(c.port)) << n;
        QStringList listed = usbport::list(root);
        listed.sort();
        EXPECT_EQ(listed.join(u' '), QLatin1String(c.listed)) << n;
        EXPECT_EQ(DeviceProbes(atPort, root).presenceAsShown(), c.presenceAt1_1) << n;
    }
}

// A station takes ports from the tools' long lists; only port-shaped ones name a folder.
TEST(PortNames, FromLongListsAndChecked) {
    const ToolResult listing = QStringLiteral("MDM9615                fastboot usb:1-2.1\n"
                                              "MDM9615                fastboot usb:../../tmp\n"
                                              "0123456789ABCDEF       device usb:2-1.4.2 product:MDM9615\nusb:\n");
    EXPECT_EQ(output::portsListed(listing), (QStringList{"1-2.1", "../../tmp", "2-1.4.2"}));
    EXPECT_TRUE(output::portsListed(std::nullopt).isEmpty());
    for (const char* good : {"1-2", "1-2.3", "12-1.4.2"})
        EXPECT_TRUE(usbport::isPortName(QLatin1String(good))) << good;
    for (const char* bad : {"usb1", "1-2.3:1.0", "../../tmp", "1-2/../x", "", "1-", "-2"})
        EXPECT_FALSE(usbport::isPortName(QLatin1String(bad))) << bad;
}

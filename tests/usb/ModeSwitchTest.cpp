#include "UsbTestSupport.h"

#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <utility>

using fakeusb::Call;
using Bytes = std::vector<unsigned char>;

namespace {

// A command block wrapper as the device expects it: "USBC", tag, no data, LUN 0, 6-byte block.
Bytes cbw(Bytes tag, Bytes block)
{
    Bytes bytes = {0x55, 0x53, 0x42, 0x43};
    bytes.insert(bytes.end(), tag.begin(), tag.end());
    bytes.insert(bytes.end(), {0, 0, 0, 0, 0x00, 0x00, 0x06});
    bytes.insert(bytes.end(), block.begin(), block.end());
    bytes.resize(31, 0);
    return bytes;
}

const Bytes kTestUnitReady = cbw({0x00, 0x78, 0x07, 0x93}, {0, 0, 0, 0, 0, 0});
const Bytes kSecondTag = {0x08, 0xF8, 0x8A, 0x87};
const Bytes kModeCommands[3] = {
    cbw(kSecondTag, {0xEE, 0x00, 0x05, 0, 0, 0}),
    cbw(kSecondTag, {0xED, 0x00, 0x01, 0, 0, 0}),
    cbw(kSecondTag, {0xEE, 0x00, 0x04, 0, 0, 0}),
};

Bytes bytesOf(const unsigned char* data, size_t size)
{
    return Bytes(data, data + size);
}

const Lines kLookupHit = {
    "[usbutils]do_mode_switch -> matching device...",
    "[usbutils]find_device -> 11f6:102a",
    "[usbutils]find_device -> enum:05c6:9025",
    "[usbutils]find_device -> enum:11f6:102a",
    "[usbutils]find_device -> ok.",
};

Lines withLookup(const Lines& tail)
{
    Lines lines = kLookupHit;
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

std::string switchLine(const char* text)
{
    return std::string("[usbutils]do_mode_switch -> ") + text;
}

class ModeSwitchTest : public UsbTest {
protected:
    void SetUp() override
    {
        UsbTest::SetUp();
        const int bus = fakeusb::addBus("001");
        qualcomm_ = fakeusb::addDevice(bus, kQualcommVendor, kQualcommProduct);
        device_ = fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
        scan();
    }

    int run(uint32_t mode, Lines* lines = nullptr)
    {
        int result = 1;
        Lines out = traced([&] { result = usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode); });
        if (lines)
            *lines = std::move(out);
        return result;
    }

    std::vector<fakeusb::CallRecord> writes() const
    {
        std::vector<fakeusb::CallRecord> result;
        for (const auto& rec : fakeusb::handleCalls())
            if (rec.call == Call::BulkWrite)
                result.push_back(rec);
        return result;
    }

    int qualcomm_ = 0;
    int device_ = 0;
};

TEST(SwitchCommands, TablesHoldTheExactWrappers)
{
    EXPECT_EQ(bytesOf(switch_cmd1, sizeof switch_cmd1), kTestUnitReady);
    const unsigned char* entries[3] = {switch_cmd2_tmp_ftm, switch_cmd2_prm_usr, switch_cmd2_tmp_usr_adb};
    for (uint32_t mode = 0; mode < 3; ++mode) {
        EXPECT_EQ(switch_cmd_table[mode].cmd, entries[mode]) << mode;
        EXPECT_EQ(switch_cmd_table[mode].len, 31) << mode;
        EXPECT_EQ(bytesOf(entries[mode], 31), kModeCommands[mode]) << mode;
    }
    // The permanent switch to USR, written out in full.
    const Bytes prmUsr = {0x55, 0x53, 0x42, 0x43, 0x08, 0xF8, 0x8A, 0x87, 0, 0, 0, 0, 0x00, 0x00, 0x06, 0xED,
                          0x00, 0x01, 0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0,    0,    0};
    EXPECT_EQ(bytesOf(switch_cmd2_prm_usr, 31), prmUsr);
}

class ModeBytesTest : public ModeSwitchTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(ModeBytesTest, WritesTestUnitReadyThenTheModeCommand)
{
    const uint32_t mode = GetParam();
    EXPECT_EQ(run(mode), 0);
    const auto sent = writes();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, kTestUnitReady);
    EXPECT_EQ(sent[1].bytes, kModeCommands[mode]);
    for (const auto& rec : sent) {
        EXPECT_EQ(rec.arg, 0x01);
        EXPECT_EQ(rec.size, 31);
        EXPECT_EQ(rec.timeout, 1000);
        EXPECT_EQ(rec.device, device_);
    }
}

INSTANTIATE_TEST_SUITE_P(AllModes, ModeBytesTest,
                         testing::Values(USB_SWITCH_TMP_FTM, USB_SWITCH_PRM_USR, USB_SWITCH_TMP_USR_ADB));

TEST_F(ModeSwitchTest, SuccessfulExchange)
{
    const Bytes reply = {0x55, 0x53, 0x42, 0x53, 0x00, 0x78, 0x07, 0x93, 0, 0, 0, 0, 0x00};
    Lines lines;
    EXPECT_EQ(run(USB_SWITCH_PRM_USR, &lines), 0);
    EXPECT_EQ(lines, withLookup({switchLine("switching......"), switchLine("ok.")}));

    const auto calls = fakeusb::handleCalls();
    std::vector<std::pair<Call, int>> seen;
    for (const auto& rec : calls)
        seen.emplace_back(rec.call, rec.arg);
    EXPECT_EQ(seen, (std::vector<std::pair<Call, int>>{
                        {Call::Open, 0},
                        {Call::GetDriver, 0},
                        {Call::ClaimInterface, 0},
                        {Call::SetAltinterface, 0},
                        {Call::BulkWrite, 0x01},
                        {Call::BulkRead, 0x81},
                        {Call::BulkWrite, 0x01},
                        {Call::BulkRead, 0x81},
                        {Call::ReleaseInterface, 0},
                        {Call::Close, 0},
                    }));
    for (const auto& rec : calls) {
        EXPECT_EQ(rec.device, device_);
        if (rec.call == Call::BulkRead) {
            EXPECT_EQ(rec.size, 16);
            EXPECT_EQ(rec.timeout, 1000);
        }
    }
    EXPECT_EQ(bytesOf(read_buf, reply.size()), reply);
    EXPECT_EQ(fakeusb::openHandles(), 0);
}

// One 1 ms wait before every step after the open: eight on the way through.
TEST_F(ModeSwitchTest, WaitsOneMillisecondBeforeEachStep)
{
    EXPECT_EQ(run(USB_SWITCH_TMP_USR_ADB), 0);
    std::vector<Call> seen;
    for (const auto& rec : fakeusb::handleCallsAndSleeps()) {
        seen.push_back(rec.call);
        if (rec.call == Call::Sleep) {
            EXPECT_EQ(rec.arg, 1000);
        }
    }
    const Call w = Call::Sleep;
    EXPECT_EQ(seen, (std::vector<Call>{Call::Open, w, Call::GetDriver, Call::ClaimInterface, w, Call::SetAltinterface, w,
                                       Call::BulkWrite, w, Call::BulkRead, w, Call::BulkWrite, w,
                                       Call::BulkRead, w, Call::ReleaseInterface, w, Call::Close}));

    fakeusb::clearCalls();
    fakeusb::queueResults(Call::ClaimInterface, {-EBUSY, -EBUSY});
    run(USB_SWITCH_TMP_USR_ADB);
    seen.clear();
    for (const auto& rec : fakeusb::handleCallsAndSleeps())
        seen.push_back(rec.call);
    EXPECT_EQ(seen, (std::vector<Call>{Call::Open, w, Call::GetDriver, Call::ClaimInterface, Call::SetConfiguration, w,
                                       Call::ClaimInterface, w, Call::Close}));
}

// How an exchange ends when one step fails: script, lines after the lookup, result, calls.
struct FailureRow {
    const char* name;
    std::vector<std::pair<Call, std::vector<int>>> script;
    Lines tail;
    int result;
    std::vector<Call> calls;
    uint32_t mode = USB_SWITCH_TMP_USR_ADB;
    const char* driver = ""; // kernel driver holding interface 0
};

void PrintTo(const FailureRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<Call> kFullExchange = {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::SetAltinterface,
                                         Call::BulkWrite, Call::BulkRead,       Call::BulkWrite,
                                         Call::BulkRead,  Call::ReleaseInterface, Call::Close};

std::vector<Call> exchangeUpTo(size_t transfers)
{
    std::vector<Call> calls(kFullExchange.begin(), kFullExchange.begin() + 4 + long(transfers));
    calls.push_back(Call::ReleaseInterface);
    calls.push_back(Call::Close);
    return calls;
}

const FailureRow kFailureRows[] = {
    {"SecondClaimSucceeds",
     {{Call::ClaimInterface, {-EBUSY, 0}}},
     {switchLine("claim interface failed."), switchLine("switching......"), switchLine("ok.")},
     0,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::SetConfiguration, Call::ClaimInterface, Call::SetAltinterface,
      Call::BulkWrite, Call::BulkRead, Call::BulkWrite, Call::BulkRead, Call::ReleaseInterface, Call::Close}},
    {"BothClaimsFail",
     {{Call::ClaimInterface, {-EBUSY, -EBUSY}}},
     {switchLine("claim interface failed."), switchLine("claim interface failed. again!")},
     0,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::SetConfiguration, Call::ClaimInterface, Call::Close}},
    {"BadMode", {}, {switchLine("bad usb mode!")}, 0, {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::Close}, 3},
    {"BadModeFromNegative", {}, {switchLine("bad usb mode!")}, 0, {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::Close},
     0xFFFFFFFFu},
    {"BadModeAfterSecondClaim",
     {{Call::ClaimInterface, {-EBUSY, 0}}},
     {switchLine("claim interface failed."), switchLine("bad usb mode!")},
     0,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::SetConfiguration, Call::ClaimInterface, Call::Close},
     3},
    {"SetAltinterfaceFails",
     {{Call::SetAltinterface, {-EIO}}},
     {switchLine("set altinterface failed.")},
     0,
     exchangeUpTo(0)},
    {"FirstWriteFails",
     {{Call::BulkWrite, {-ETIMEDOUT}}},
     {switchLine("switching......"), switchLine("bulk write cmd1 failed.")},
     0,
     exchangeUpTo(1)},
    {"FirstReadFails",
     {{Call::BulkRead, {-ETIMEDOUT}}},
     {switchLine("switching......"), switchLine("bulk read failed.")},
     0,
     exchangeUpTo(2)},
    {"SecondWriteFails",
     {{Call::BulkWrite, {31, -EPIPE}}},
     {switchLine("switching......"), switchLine("bulk write cmd2 failed.")},
     0,
     exchangeUpTo(3)},
    {"SecondReadFails",
     {{Call::BulkRead, {13, -ETIMEDOUT}}},
     {switchLine("switching......"), switchLine("bulk read failed.")},
     0,
     exchangeUpTo(4)},
    {"ShortTransfersCountAsDone",
     {{Call::BulkWrite, {5, 0}}, {Call::BulkRead, {0, 1}}},
     {switchLine("switching......"), switchLine("ok.")},
     0,
     kFullExchange},
    {"ReleaseFails",
     {{Call::ReleaseInterface, {-ENODEV}}},
     {switchLine("switching......"), switchLine("ok."), switchLine("release interface failed.")},
     0,
     kFullExchange},
    {"DeviceLeavesAfterSecondCommand",
     {{Call::BulkRead, {13, -ENODEV}}, {Call::ReleaseInterface, {-ENODEV}}},
     {switchLine("switching......"), switchLine("bulk read failed."), switchLine("release interface failed.")},
     0,
     kFullExchange},
    // Linux's storage driver holds the CD-ROM interface: it is detached, then claimed.
    {"KernelDriverDetached",
     {},
     {switchLine("kernel driver usb-storage attached."), switchLine("kernel driver detached."),
      switchLine("switching......"), switchLine("ok.")},
     0,
     {Call::Open, Call::GetDriver, Call::DetachKernelDriver, Call::ClaimInterface, Call::SetAltinterface,
      Call::BulkWrite, Call::BulkRead, Call::BulkWrite, Call::BulkRead, Call::ReleaseInterface, Call::Close},
     USB_SWITCH_PRM_USR,
     "usb-storage"},
    {"DetachFailsClaimStillTried",
     {{Call::DetachKernelDriver, {-ENODEV}}},
     {switchLine("kernel driver usb-storage attached."), switchLine("detach kernel driver failed."),
      switchLine("claim interface failed."), switchLine("claim interface failed. again!")},
     0,
     {Call::Open, Call::GetDriver, Call::DetachKernelDriver, Call::ClaimInterface, Call::SetConfiguration,
      Call::ClaimInterface, Call::Close},
     USB_SWITCH_TMP_USR_ADB,
     "usb-storage"},
    // Another program's claim is not ours to break.
    {"HeldByAnotherProgram",
     {{Call::ClaimInterface, {-EBUSY, -EBUSY}}},
     {switchLine("claim interface failed."), switchLine("claim interface failed. again!")},
     0,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::SetConfiguration, Call::ClaimInterface, Call::Close},
     USB_SWITCH_TMP_USR_ADB,
     "usbfs"},
    // A node opened read-only: every request on it is refused.
    {"NoPermissionToAsk",
     {{Call::GetDriver, {-EPERM}}},
     {switchLine("permission denied.")},
     USB_SWITCH_ACCESS_DENIED,
     {Call::Open, Call::GetDriver, Call::Close}},
    {"NoPermissionToClaim",
     {{Call::ClaimInterface, {-EACCES}}},
     {switchLine("claim interface failed."), switchLine("permission denied.")},
     USB_SWITCH_ACCESS_DENIED,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::Close}},
    {"CloseFails",
     {{Call::Close, {-EIO}}},
     {switchLine("switching......"), switchLine("ok."), switchLine("close device failed.")},
     -10,
     kFullExchange},
    {"CloseFailsAfterBadMode",
     {{Call::Close, {-EIO}}},
     {switchLine("bad usb mode!"), switchLine("close device failed.")},
     -10,
     {Call::Open, Call::GetDriver, Call::ClaimInterface, Call::Close},
     3},
};

class SwitchFailureTest : public ModeSwitchTest, public testing::WithParamInterface<FailureRow> {};

TEST_P(SwitchFailureTest, EndsWithOneOutcomeAndClosesTheDevice)
{
    const FailureRow& row = GetParam();
    if (*row.driver)
        fakeusb::bindDriver(device_, row.driver);
    for (const auto& [call, results] : row.script)
        fakeusb::queueResults(call, results);
    Lines lines;
    EXPECT_EQ(run(row.mode, &lines), row.result);
    EXPECT_EQ(lines, withLookup(row.tail));
    EXPECT_EQ(handleCallKinds(), row.calls);
    EXPECT_EQ(fakeusb::openHandles(), 0);
    for (const auto& rec : fakeusb::handleCalls()) {
        if (rec.call == Call::SetConfiguration) {
            EXPECT_EQ(rec.arg, 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SwitchFailureTest, testing::ValuesIn(kFailureRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The status is read, never judged: a failed TEST UNIT READY still leads to the mode command.
TEST_F(ModeSwitchTest, FailedStatusReplyIsNotJudged)
{
    fakeusb::setReadReply({0x55, 0x53, 0x42, 0x53, 0x00, 0x78, 0x07, 0x93, 0, 0, 0, 0, 0x01});
    Lines lines;
    EXPECT_EQ(run(USB_SWITCH_TMP_USR_ADB, &lines), 0);
    EXPECT_EQ(lines.back(), switchLine("ok."));
    EXPECT_EQ(writes().size(), 2u);
}

TEST_F(ModeSwitchTest, NoDeviceWithTheIdentity)
{
    fakeusb::removeDevice(device_);
    scan();
    Lines lines;
    EXPECT_EQ(run(USB_SWITCH_TMP_USR_ADB, &lines), -1);
    EXPECT_EQ(lines, (Lines{switchLine("matching device..."), "[usbutils]find_device -> 11f6:102a",
                            "[usbutils]find_device -> enum:05c6:9025", "[usbutils]find_device -> not found.",
                            switchLine("special device not found.")}));
    EXPECT_TRUE(fakeusb::handleCalls().empty());
}

TEST_F(ModeSwitchTest, DeviceThatCannotBeOpened)
{
    fakeusb::queueResults(Call::Open, {-EIO});
    Lines lines;
    EXPECT_EQ(run(USB_SWITCH_PRM_USR, &lines), -2);
    EXPECT_EQ(lines, withLookup({switchLine("special device can not open.")}));

    for (int refusal : {-EACCES, -EPERM}) {
        fakeusb::queueResults(Call::Open, {refusal});
        EXPECT_EQ(run(USB_SWITCH_PRM_USR, &lines), USB_SWITCH_ACCESS_DENIED);
        EXPECT_EQ(lines, withLookup({switchLine("special device can not open."), switchLine("permission denied.")}));
    }
    fakeusb::clearCalls();

    // Unplugged since the last rescan: the stale record is still listed, opening it fails.
    fakeusb::removeDevice(device_);
    EXPECT_EQ(run(USB_SWITCH_PRM_USR), -2);
    EXPECT_EQ(handleCallKinds(), (std::vector<Call>{Call::Open}));
}

// By port: the one record whose bus folder and file name carry the numbers sysfs gives the
// port, and only while it shows the identity asked for.
TEST_F(ModeSwitchTest, SwitchAtAPortReachesOnlyTheDeviceThere)
{
    const int other = fakeusb::addDevice(fakeusb::addBus("002"), kOwnVendor, kOwnProduct);
    scan();
    QTemporaryDir sys;
    for (auto [port, bus, device] : {std::tuple{"1-1", 1, qualcomm_}, {"1-2", 1, device_}, {"2-1", 2, other},
                                     {"1-4", 1, other}}) { // 1-4: the number of a device on another bus
        const auto folder = std::filesystem::path(sys.path().toStdString()) / "bus/usb/devices" / port;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "busnum") << bus << '\n';
        std::ofstream(folder / "devnum") << device << '\n';
    }
    const std::string root = sys.path().toStdString();
    const auto switchAt = [&](const char* port) {
        int result = 0;
        traced([&] { result = usb_mode_switch_at(root.c_str(), port, kOwnVendor, kOwnProduct, USB_SWITCH_PRM_USR); });
        return result;
    };
    EXPECT_EQ(switchAt("2-1"), 0);
    const auto sent = writes();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::tuple(sent[0].device, sent[1].device, sent[1].bytes),
              std::tuple(other, other, kModeCommands[USB_SWITCH_PRM_USR]));
    fakeusb::clearCalls();
    for (const char* port : {"1-1", "1-4", "1-9", "../1-2", ""})
        EXPECT_EQ(switchAt(port), -1) << port;
    EXPECT_TRUE(fakeusb::handleCalls().empty());
    EXPECT_EQ(traced([&] { EXPECT_EQ(do_find_device_at(root.c_str(), "1-2", kOwnVendor, kOwnProduct), 1); }),
              (Lines{"[usbutils]find_device -> 11f6:102a at 1-2", "[usbutils]find_device -> ok."}));
}

} // namespace

// The stand-in USB library: the identities each personality shows, the mass-storage
// exchange on interface 0, re-enumeration after a switch, and its faults.

#include "SimTestDir.h"
#include "bridge/DeviceProbes.h"
#include "bridge/ModeSwitch.h"
#include "usb/usbutils.h"

#include <gtest/gtest.h>
#include <usb.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

QByteArray cbw(quint32 tag, std::initializer_list<uchar> command, uchar lun = 0, uchar cbLength = 6)
{
    QByteArray b(31, '\0');
    auto* p = reinterpret_cast<uchar*>(b.data());
    std::memcpy(p, "USBC", 4);
    qToLittleEndian<quint32>(tag, p + 4);
    p[13] = lun;
    p[14] = cbLength;
    int i = 15;
    for (uchar c : command)
        p[i++] = c;
    return b;
}

const QByteArray kTestUnitReady = cbw(0x93077800, {0, 0, 0, 0, 0, 0});
const QByteArray kTmpUsrAdb = cbw(0x878AF808, {0xEE, 0, 4, 0, 0, 0});
const QByteArray kPrmUsr = cbw(0x878AF808, {0xED, 0, 1, 0, 0, 0});

QStringList busIds()
{
    QStringList ids;
    for (usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device* d = bus->devices; d; d = d->next)
            ids << QString::asprintf("%04x:%04x", d->descriptor.idVendor, d->descriptor.idProduct);
    return ids;
}

struct usb_device* findOwn()
{
    for (usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* d = bus->devices; d; d = d->next) {
            if (d->descriptor.idVendor == 0x11F6 && d->descriptor.idProduct == 0x102A)
                return d;
        }
    }
    return nullptr;
}

// "class/subclass/protocol" of each interface of the own identity, with the storage
// interface's endpoints.
QStringList ownInterfaces()
{
    QStringList out;
    const struct usb_device* d = findOwn();
    if (!d || !d->config)
        return out;
    for (int n = 0; n < d->config->bNumInterfaces; ++n) {
        const usb_interface_descriptor& alt = d->config->interface[n].altsetting[0];
        QString text = QString::asprintf("%d/%d/%d", alt.bInterfaceClass, alt.bInterfaceSubClass, alt.bInterfaceProtocol);
        if (alt.bInterfaceClass == USB_CLASS_MASS_STORAGE)
            text += QString::asprintf(" %02x,%02x", alt.endpoint[0].bEndpointAddress, alt.endpoint[1].bEndpointAddress);
        out << text;
    }
    return out;
}

int write(usb_dev_handle* h, const QByteArray& bytes)
{
    return usb_bulk_write(h, 0x01, bytes.constData(), int(bytes.size()), 1000);
}

// Returns the read's result; the status wrapper lands in csw.
int read(usb_dev_handle* h, QByteArray& csw)
{
    csw = QByteArray(16, '\0');
    const int r = usb_bulk_read(h, 1, csw.data(), 16, 1000);
    csw.truncate(qMax(0, r));
    return r;
}

class SimUsb : public ::testing::Test {
protected:
    void start(const QString& scenario)
    {
        sim = std::make_unique<SimTestDir>(scenario);
        usb_init();
        usb_find_busses();
        usb_find_devices();
    }
    usb_dev_handle* openOwn()
    {
        struct usb_device* d = findOwn();
        EXPECT_NE(d, nullptr);
        usb_dev_handle* h = d ? usb_open(d) : nullptr;
        EXPECT_NE(h, nullptr);
        if (h) {
            // The host's storage driver holds the CD-ROM interface until it is detached.
            EXPECT_EQ(usb_detach_kernel_driver_np(h, 0), 0);
            EXPECT_EQ(usb_claim_interface(h, 0), 0);
        }
        return h;
    }
    std::unique_ptr<SimTestDir> sim;
};

TEST_F(SimUsb, EachPersonalityShowsItsIdentityBesideAHub)
{
    start(QStringLiteral("ftm"));
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002", "05c6:9025"}));

    sim->control.setPersonality(QStringLiteral("usr"));
    EXPECT_EQ(usb_find_devices(), 2); // one left, one came
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002", "11f6:102a"}));
    // The CD-ROM: storage and three serial ports; the network personality adds ECM and adb.
    EXPECT_EQ(ownInterfaces(), (QStringList{"8/6/80 81,01", "255/0/0", "255/0/0", "255/0/0"}));
    sim->control.setPersonality(QStringLiteral("usr_adb"));
    usb_find_devices();
    EXPECT_EQ(ownInterfaces(), (QStringList{"8/6/80 81,01", "2/6/0", "10/0/0", "255/0/0", "255/0/0", "255/66/1"}));

    sim->control.setPersonality(QStringLiteral("bootloader"));
    usb_find_devices();
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002"}));

    sim->control.set(QStringLiteral("bootloader_identity"), QStringLiteral("05c6:9025"));
    usb_find_devices();
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002", "05c6:9025"}));

    sim->control.setPersonality(QStringLiteral("ftm"));
    sim->control.setFault(QStringLiteral("both_identities"));
    usb_find_devices();
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002", "05c6:9025", "11f6:102a"}));
}

TEST_F(SimUsb, RescanCountsChangesAndKeepsRecordsOfDevicesStillThere)
{
    start(QStringLiteral("usr-cdrom"));
    struct usb_device* before = findOwn();
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(usb_find_devices(), 0);
    EXPECT_EQ(findOwn(), before);

    sim->control.unplug();
    EXPECT_EQ(usb_find_devices(), 1);
    EXPECT_EQ(findOwn(), nullptr);
    EXPECT_EQ(usb_find_devices(), 0);
    sim->control.plug();
    EXPECT_EQ(usb_find_devices(), 1);
    EXPECT_NE(findOwn(), nullptr);
    EXPECT_EQ(usb_find_busses(), 0); // the one bus is known already
}

TEST_F(SimUsb, ValidWrappersAreAnsweredWithTheirTagAndBadOnesRefused)
{
    start(QStringLiteral("usr-cdrom"));
    usb_dev_handle* h = openOwn();
    ASSERT_NE(h, nullptr);
    QByteArray csw;

    ASSERT_EQ(write(h, kTestUnitReady), 31);
    ASSERT_EQ(read(h, csw), 13);
    EXPECT_EQ(csw.left(4), QByteArray("USBS"));
    EXPECT_EQ(qFromLittleEndian<quint32>(csw.constData() + 4), 0x93077800u);
    EXPECT_EQ(csw.at(12), 0);

    // A wrapper that is meaningful but not supported earns a failed status.
    ASSERT_EQ(write(h, cbw(7, {0, 0, 0, 0, 0, 0}, /*lun*/ 1)), 31);
    ASSERT_EQ(read(h, csw), 13);
    EXPECT_EQ(qFromLittleEndian<quint32>(csw.constData() + 4), 7u);
    EXPECT_EQ(csw.at(12), 1);
    ASSERT_EQ(write(h, cbw(8, {0, 0, 0, 0, 0, 0}, 0, /*cbLength*/ 10)), 31);
    ASSERT_EQ(read(h, csw), 13);
    EXPECT_EQ(csw.at(12), 1);

    // An invalid wrapper stalls the endpoints: no status to read.
    QByteArray bad = kTestUnitReady;
    bad[3] = 'X';
    EXPECT_EQ(write(h, bad), -EPIPE);
    EXPECT_EQ(read(h, csw), -EPIPE);
    EXPECT_EQ(write(h, kTestUnitReady.left(30)), -EPIPE);
    EXPECT_EQ(usb_release_interface(h, 0), 0);
    EXPECT_EQ(usb_close(h), 0);

    const QList<SimRecord> cbws = sim->control.records(QStringLiteral("usb"));
    QList<SimRecord> written;
    for (const SimRecord& r : cbws)
        if (r.event == QLatin1String("cbw"))
            written << r;
    ASSERT_EQ(written.size(), 5);
    EXPECT_EQ(written[0].bytes, kTestUnitReady);
    EXPECT_EQ(written[0].status, 0);
    EXPECT_EQ(written[3].bytes, bad);
    EXPECT_EQ(written[3].status, -1);
    EXPECT_EQ(written[3].json.value("refused").toString(), QStringLiteral("signature"));
    EXPECT_EQ(sim->control.personality(), QStringLiteral("usr")); // nothing switched
}

TEST_F(SimUsb, ModeTwoLeavesTheBusAndReturnsWithAdbAfterTheDelay)
{
    start(QStringLiteral("usr-cdrom"));
    sim->control.set(QStringLiteral("reenum_delay"), QJsonObject{{"probes", 2}});
    usb_dev_handle* h = openOwn();
    ASSERT_NE(h, nullptr);
    QByteArray csw;
    ASSERT_EQ(write(h, kTestUnitReady), 31);
    ASSERT_EQ(read(h, csw), 13);
    ASSERT_EQ(write(h, kTmpUsrAdb), 31);
    ASSERT_EQ(read(h, csw), 13); // it answers before it goes
    EXPECT_EQ(qFromLittleEndian<quint32>(csw.constData() + 4), 0x878AF808u);
    EXPECT_EQ(usb_release_interface(h, 0), -ENODEV);
    usb_close(h);

    EXPECT_EQ(sim->control.personality(), QStringLiteral("restarting"));
    EXPECT_EQ(usb_find_devices(), 1); // gone
    EXPECT_EQ(findOwn(), nullptr);
    EXPECT_EQ(usb_find_devices(), 0); // still gone: the second probe of the delay
    EXPECT_EQ(usb_find_devices(), 1); // back
    EXPECT_NE(findOwn(), nullptr);
    EXPECT_EQ(sim->control.personality(), QStringLiteral("usr_adb"));
    EXPECT_TRUE(sim->control.adbReaches());
    EXPECT_EQ(sim->control.deviceFile("/etc/mode.cfg"), QByteArray("1\n")); // temporary: untouched
}

TEST_F(SimUsb, PermanentSwitchSetsTheModeFiles)
{
    start(QStringLiteral("usr-adb"));
    sim->control.setDeviceFile("/etc/mode.cfg", "0\n");
    usb_dev_handle* h = openOwn();
    ASSERT_NE(h, nullptr);
    QByteArray csw;
    ASSERT_EQ(write(h, kPrmUsr), 31);
    ASSERT_EQ(read(h, csw), 13);
    usb_close(h);
    sim->control.advance(2);
    EXPECT_EQ(sim->control.personality(), QStringLiteral("usr"));
    EXPECT_EQ(sim->control.deviceFile("/etc/mode.cfg"), QByteArray("1\n"));
    EXPECT_EQ(sim->control.deviceFile("/tmp/mode.cfg"), QByteArray("1\n"));
}

TEST_F(SimUsb, InjectedFaultsHitTheirStep)
{
    start(QStringLiteral("usr-cdrom"));
    sim->control.setFault(QStringLiteral("claim_fails"), 1);
    sim->control.setFault(QStringLiteral("drop_status_after_switch"));
    struct usb_device* d = findOwn();
    ASSERT_NE(d, nullptr);
    usb_dev_handle* h = usb_open(d);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(usb_detach_kernel_driver_np(h, 0), 0);
    EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY);
    EXPECT_EQ(usb_claim_interface(h, 0), 0); // only the first claim fails
    QByteArray csw;
    ASSERT_EQ(write(h, kTestUnitReady), 31);
    EXPECT_EQ(read(h, csw), 13);
    ASSERT_EQ(write(h, kTmpUsrAdb), 31);
    EXPECT_EQ(read(h, csw), -ENODEV); // gone before its status
    usb_close(h);

    // Writing to a device that is not on the bus any more fails, and an open of a stale record too.
    EXPECT_EQ(usb_open(d), nullptr);
    sim->control.setFault(QStringLiteral("open_fails"));
    sim->control.advance(2);
    usb_find_devices();
    ASSERT_NE(findOwn(), nullptr);
    EXPECT_EQ(usb_open(findOwn()), nullptr);
}

// A Linux host: the storage driver binds the CD-ROM interface at every enumeration, and a
// node without the access rule in effect refuses us.
TEST_F(SimUsb, LinuxHostBindsItsDriverAndGuardsTheNode)
{
    start(QStringLiteral("usr-cdrom"));
    usb_dev_handle* h = usb_open(findOwn());
    ASSERT_NE(h, nullptr);
    char driver[64] = {};
    EXPECT_EQ(usb_get_driver_np(h, 0, driver, sizeof driver), 0);
    EXPECT_STREQ(driver, "usb-storage");
    EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY);
    EXPECT_EQ(usb_set_configuration(h, 1), -EBUSY);
    EXPECT_EQ(usb_detach_kernel_driver_np(h, 0), 0);
    EXPECT_EQ(usb_get_driver_np(h, 0, driver, sizeof driver), -ENODATA);
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    usb_close(h);
    sim->control.unplug();
    sim->control.plug(); // enumerates anew: bound again
    usb_find_devices();
    h = usb_open(findOwn());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY);
    usb_close(h);

    sim->control.set(QStringLiteral("node_access"), QStringLiteral("ro"));
    h = usb_open(findOwn());
    ASSERT_NE(h, nullptr); // opened read-only, as the library falls back to
    EXPECT_EQ(usb_get_driver_np(h, 0, driver, sizeof driver), -EPERM);
    EXPECT_EQ(usb_detach_kernel_driver_np(h, 0), -EPERM);
    EXPECT_EQ(usb_claim_interface(h, 0), -EPERM);
    usb_close(h);
    sim->control.set(QStringLiteral("node_access"), QStringLiteral("none"));
    errno = 0;
    EXPECT_EQ(usb_open(findOwn()), nullptr);
    EXPECT_EQ(errno, EACCES);
}

// The port lookup's view: busnum and devnum under <state>/sys/bus/usb/devices/<port>.
QByteArray sysfs(const SimTestDir& sim, const QString& port, const char* file)
{
    QFile f(sim.control.sysfsRoot() + QStringLiteral("/bus/usb/devices/") + port + QLatin1Char('/')
            + QLatin1String(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct usb_device* atPort(const SimTestDir& sim, const QString& port)
{
    const int devnum = sysfs(sim, port, "devnum").trimmed().toInt();
    for (struct usb_device* d = usb_get_busses()->devices; d; d = d->next) {
        if (d->devnum == devnum && devnum > 0)
            return d;
    }
    return nullptr;
}

// Three CD-ROM units on one hub: each listed under its own number, found through the sysfs
// tree by port; a switch command and a fault reach only their own unit.
TEST_F(SimUsb, HubUnitsAreFoundByPortAndSwitchAlone)
{
    start(QStringLiteral(R"({"base": "usr-cdrom", "units": [{"port": "1-2.1"},
        {"port": "1-2.2", "faults": {"claim_fails": true}}, {"port": "1-2.3"}]})"));
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002", "11f6:102a", "11f6:102a", "11f6:102a"}));
    for (const QString port : {"1-2.1", "1-2.2", "1-2.3"}) {
        SCOPED_TRACE(port.toStdString());
        EXPECT_EQ(sysfs(*sim, port, "busnum"), QByteArray("1\n"));
        EXPECT_EQ(sysfs(*sim, port, "idVendor") + sysfs(*sim, port, "idProduct"), QByteArray("11f6\n102a\n"));
        ASSERT_NE(atPort(*sim, port), nullptr);
    }
    EXPECT_NE(atPort(*sim, "1-2.1"), atPort(*sim, "1-2.2"));
    usb_dev_handle* faulty = usb_open(atPort(*sim, "1-2.2"));
    ASSERT_NE(faulty, nullptr);
    ASSERT_EQ(usb_detach_kernel_driver_np(faulty, 0), 0);
    EXPECT_EQ(usb_claim_interface(faulty, 0), -EBUSY);
    usb_close(faulty);

    const QByteArray devnumBefore = sysfs(*sim, "1-2.1", "devnum");
    usb_dev_handle* h = usb_open(atPort(*sim, "1-2.1"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(usb_detach_kernel_driver_np(h, 0), 0);
    ASSERT_EQ(usb_claim_interface(h, 0), 0);
    ASSERT_EQ(write(h, kTmpUsrAdb), 31);
    EXPECT_EQ(sim->control.personality("1-2.1"), QStringLiteral("restarting"));
    EXPECT_EQ(sim->control.personality("1-2.2"), QStringLiteral("usr"));
    EXPECT_EQ(sim->control.personality("1-2.3"), QStringLiteral("usr"));
    EXPECT_EQ(sim->control.cbws("1-2.1"), QList<QByteArray>{kTmpUsrAdb});
    EXPECT_TRUE(sim->control.cbws("1-2.2").isEmpty());

    // Off the bus for its switch: gone from the list and the tree, the others stay. The open
    // handle outlives its record and finds the device gone.
    usb_find_devices();
    EXPECT_EQ(busIds().size(), 3);
    EXPECT_FALSE(QFileInfo::exists(sim->control.sysfsRoot() + "/bus/usb/devices/1-2.1"));
    EXPECT_EQ(sysfs(*sim, "1-2.2", "idProduct"), QByteArray("102a\n"));
    EXPECT_EQ(usb_device(h), nullptr);
    EXPECT_EQ(usb_set_altinterface(h, 0), -ENODEV);
    EXPECT_EQ(usb_close(h), 0);
    usb_find_devices(); // back with adb, under a new number
    EXPECT_NE(sysfs(*sim, "1-2.1", "devnum"), devnumBefore);
    ASSERT_NE(atPort(*sim, "1-2.1"), nullptr);
    EXPECT_EQ(sim->control.personality("1-2.1"), QStringLiteral("usr_adb"));

    sim->control.unplug("1-2.3");
    usb_find_devices();
    EXPECT_EQ(busIds().size(), 3);
    EXPECT_EQ(atPort(*sim, "1-2.3"), nullptr);
    EXPECT_FALSE(QFileInfo::exists(sim->control.sysfsRoot() + "/bus/usb/devices/1-2.3"));
    EXPECT_TRUE(QFileInfo::exists(sim->control.sysfsRoot() + "/bus/usb/devices/1-2.2"));
}

// The bridge on a hub: tools, probes and switches for one port reach that unit and no other.
TEST_F(SimUsb, BridgeForAPortReachesOnlyItsUnit)
{
    start(QStringLiteral(R"({"base": "usr-cdrom", "units": [{"port": "1-2.1"}, {"port": "1-2.2"},
        {"port": "1-2.3", "firmware_version": "0.9"}]})"));
    do_init_utils();
    const Tools tools(SimControl::binDir(), ToolLimits{});
    const QString root = sim->control.sysfsRoot();
    const Tools toB = tools.forPort("1-2.2"), toC = tools.forPort("1-2.3"), toNone = tools.forPort("1-9");
    const DeviceProbes b(toB, root), c(toC, root), none(toNone, root);
    EXPECT_EQ(b.presence(), presence::kOwnIdentity);
    ModeSwitch switches;
    EXPECT_EQ(switches.detectionSwitch(USB_SWITCH_TMP_USR_ADB, {root, "1-2.2"}), 0);
    switches.sendAfterRescan(USB_SWITCH_TMP_USR_ADB, {root, "1-2.3"});
    EXPECT_EQ(switches.detectionSwitch(USB_SWITCH_TMP_USR_ADB, {root, "1-9"}), -1);
    EXPECT_EQ(none.presence(), 0u);
    for (int pass = 0; pass < 4 && b.detectAdb().tool != AdbVerdict::Adb; ++pass)
        b.presence(); // back on the bus with adb after a rescan or two
    EXPECT_EQ(c.detectAdb().tool, AdbVerdict::Adb);
    EXPECT_EQ(none.detectAdb().tool, AdbVerdict::None);
    // Two units listed with one serial: only the port tells them apart.
    EXPECT_EQ(b.firmwareVersion(), QStringLiteral("OK HS_FW_1.0.3\n"));
    EXPECT_EQ(c.firmwareVersion(), QStringLiteral("OK HS_FW_0.9\n"));
    EXPECT_EQ(sim->control.personality("1-2.1"), QStringLiteral("usr"));
    EXPECT_EQ(sim->control.cbws("1-2.2").size() + sim->control.cbws("1-2.3").size(), 4);
    EXPECT_EQ(sim->control.cbws().size(), 4);
    for (const SimRecord& r : sim->control.records("adb") + sim->control.records("fastboot")) // named, or none
        EXPECT_EQ(r.port, r.args.value(0) == QLatin1String("-s") ? r.args.value(1).mid(4) : QString());
}

// Two units switch while a third never answers its command block and a fourth thread rescans:
// the module's lock covers the list only, so the silent unit holds up neither switch. Run
// under ThreadSanitizer and AddressSanitizer too (a handle used after a rescan freed its
// record, or a shared status buffer, shows there).
TEST_F(SimUsb, UnitsSwitchAtOnceBesideOneThatNeverAnswers)
{
    start(QStringLiteral(R"({"base": "usr-cdrom", "units": [{"port": "1-2.1"}, {"port": "1-2.2"},
        {"port": "1-2.3", "faults": {"silent_storage": true}}]})"));
    do_init_utils();
    const QByteArray root = sim->control.sysfsRoot().toUtf8();
    const auto switchAt = [&](const char* port, bool* delivered) {
        return usb_mode_switch_at(root.constData(), port, kOwnVendor, kOwnProduct, USB_SWITCH_TMP_USR_ADB, delivered);
    };
    std::atomic<bool> silentDone{false}, othersDone{false};
    bool silentDelivered = true;
    std::thread silent([&] {
        EXPECT_EQ(switchAt("1-2.3", &silentDelivered), 0);
        silentDone = true;
    });
    // It has its command block and waits for a status that never comes (1 s).
    while (sim->control.cbws("1-2.3").isEmpty())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread rescans([&] {
        while (!othersDone) {
            do_enum_devices();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    bool delivered[2] = {false, false}, beforeSilent[2] = {false, false};
    std::thread first([&] {
        EXPECT_EQ(switchAt("1-2.1", &delivered[0]), 0);
        beforeSilent[0] = !silentDone;
    });
    std::thread second([&] {
        EXPECT_EQ(switchAt("1-2.2", &delivered[1]), 0);
        beforeSilent[1] = !silentDone;
    });
    first.join();
    second.join();
    othersDone = true;
    rescans.join();
    silent.join();

    EXPECT_TRUE(delivered[0] && delivered[1]);
    EXPECT_TRUE(beforeSilent[0] && beforeSilent[1]);
    EXPECT_FALSE(silentDelivered);
    EXPECT_EQ(sim->control.cbws("1-2.1"), (QList<QByteArray>{kTestUnitReady, kTmpUsrAdb}));
    EXPECT_EQ(sim->control.cbws("1-2.2"), (QList<QByteArray>{kTestUnitReady, kTmpUsrAdb}));
    EXPECT_EQ(sim->control.cbws("1-2.3"), QList<QByteArray>{kTestUnitReady});
}

// The exit sweep leaves out a unit whose last command, taken, was the permanent switch, and
// sends it to one whose permanent switch did not go through or came before another command.
TEST_F(SimUsb, ExitSweepRepeatsNoPermanentSwitchThatWentThrough)
{
    start(QStringLiteral(R"({"base": "usr-cdrom", "units": [{"port": "1-2.1"},
        {"port": "1-2.2", "faults": {"bulk_read_fails": 1}}, {"port": "1-2.3"}]})"));
    do_init_utils();
    const QString root = sim->control.sysfsRoot();
    ModeSwitch switches;
    switches.sendAfterRescan(USB_SWITCH_PRM_USR, {root, "1-2.1"});
    switches.sendAfterRescan(USB_SWITCH_PRM_USR, {root, "1-2.2"}); // its first status is lost
    switches.sendAfterRescan(USB_SWITCH_PRM_USR, {root, "1-2.3"});
    sim->control.advance(4);
    switches.detectionSwitch(USB_SWITCH_TMP_USR_ADB, {root, "1-2.3"});
    sim->control.advance(4);
    switches.sendFinal({{root, "1-2.1"}, {root, "1-2.2"}, {root, "1-2.3"}});
    EXPECT_EQ(sim->control.cbws("1-2.1"), (QList<QByteArray>{kTestUnitReady, kPrmUsr}));
    EXPECT_EQ(sim->control.cbws("1-2.2").count(kPrmUsr), 1); // the first went unsent: cmd2 never left
    EXPECT_EQ(sim->control.cbws("1-2.2").last(), kPrmUsr);
    EXPECT_EQ(sim->control.cbws("1-2.3").last(), kPrmUsr);
    EXPECT_EQ(sim->control.cbws("1-2.3").count(kPrmUsr), 2);
}

// One unit sits at port 1-1.
TEST_F(SimUsb, OneUnitIsAtPortOneDashOne)
{
    start(QStringLiteral("ftm"));
    EXPECT_EQ(sysfs(*sim, "1-1", "idVendor") + sysfs(*sim, "1-1", "idProduct"), QByteArray("05c6\n9025\n"));
    ASSERT_NE(atPort(*sim, "1-1"), nullptr);
    EXPECT_EQ(atPort(*sim, "1-1")->descriptor.idProduct, 0x9025);
    sim->control.unplug();
    usb_find_devices();
    EXPECT_EQ(QDir(sim->control.sysfsRoot() + "/bus/usb/devices").entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"usb1"});
}

TEST_F(SimUsb, NoStateFolderMeansOnlyTheHub)
{
    start(QStringLiteral("ftm"));
    qunsetenv("HOTSPOT_SIM_DIR");
    usb_find_devices();
    EXPECT_EQ(busIds(), (QStringList{"1d6b:0002"}));
}

} // namespace

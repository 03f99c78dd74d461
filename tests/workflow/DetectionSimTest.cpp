// The detection loop against the simulated hotspot, in process.

#include "SimFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QJsonObject>
#include <QPushButton>
#include <cerrno>

namespace {

using namespace testing_support;

const QStringList kReboot{"shell", "sys_reboot"};
const QStringList kVersionRead{"shell", "cmmd info firmware_ver"};

class Detection : public SimFixture {
protected:
    // Controller in state `state` with the package version `tool`, as the package check leaves it.
    AppHarness& ready(const QByteArray& tool = "1.0.4", SessionState state = SessionState::Searching) {
        AppHarness& h = start();
        h.setReady(tool, state);
        return h;
    }
    // Runs passes until the state leaves 1 (or gives up after `max`).
    int passesUntilDecided(int max = 12) {
        for (int n = 1; n <= max; ++n) {
            harness().runDetectPass();
            if (harness().app().session().state() != SessionState::Searching)
                return n;
        }
        return -1;
    }
    void expectOffered(const QByteArray& device, const QByteArray& tool) {
        AppHarness& h = harness();
        EXPECT_EQ(h.app().session().state(), SessionState::Offered);
        EXPECT_EQ(h.deviceVersion(), device);
        const Screen s = h.screen();
        EXPECT_EQ(s.status, L("stat Device Ready !"));
        EXPECT_EQ(s.buttonTitle, L("btn Start"));
        EXPECT_TRUE(s.buttonEnabled);
        EXPECT_FALSE(s.barAnimating);
        EXPECT_EQ(s.info, L("info Current version") + "\n\t" + QString::fromUtf8(device) + "\n" +
                              L("info Version after update") + "\n\t" + QString::fromUtf8(tool));
    }
    void expectSearching() {
        AppHarness& h = harness();
        EXPECT_EQ(h.app().session().state(), SessionState::Searching);
        EXPECT_EQ(h.deviceVersion(), "");
        const Screen s = h.screen();
        EXPECT_EQ(s.status, L("stat Searching device ..."));
        EXPECT_EQ(s.buttonTitle, L("btn Searching"));
        EXPECT_FALSE(s.buttonEnabled);
        EXPECT_TRUE(s.barAnimating);
        // The package's version under the package's label, not the device's.
        EXPECT_EQ(s.info, L("info Version after update") + ":\n\t" + QString::fromUtf8(h.toolVersion()));
    }
};

TEST_F(Detection, CdRomPersonalityIsSwitchedThenOffered) {
    loadScenario("usr-cdrom");
    AppHarness& h = ready();
    h.runDetectPass();
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_FALSE(sim->cbws().isEmpty()); // the mode-switch command went out
    EXPECT_GT(passesUntilDecided(), 0);
    EXPECT_EQ(sim->personality(), "usr_adb");
    expectOffered("1.0.3", "1.0.4");
    // The host's storage driver held the interface; it was taken off before the claim.
    QStringList usb;
    for (const SimRecord& r : sim->records("usb"))
        usb << r.json.value("event").toString();
    EXPECT_EQ(usb.mid(0, 4), (QStringList{"open", "get_driver", "detach_kernel_driver", "claim"}));
}

// Listed by adb is not reachable: only the "device" state takes commands. Each state here
// holds for two listings, then the device comes up.
class AdbStates : public Detection, public testing::WithParamInterface<const char*> {};

TEST_P(AdbStates, OnlyTheDeviceStateIsReachable) {
    loadScenario("usr-adb"); // its own identity: a switch would only restart the connection
    sim->set("adb_state", QString::fromLatin1(GetParam()));
    sim->set("adb_state_listings", 2);
    AppHarness& h = ready();
    h.runDetectPass();
    h.runDetectPass();
    EXPECT_EQ(adbRuns().count(QStringList{"devices"}), 2);
    EXPECT_EQ(adbRuns().count(QStringList{"shell", "cat /tmp/bootmode"}), 0);
    EXPECT_TRUE(sim->cbws().isEmpty());
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_NE(h.screen().status, L("stat No permission to use the device !"));
    EXPECT_EQ(passesUntilDecided(), 1);
    expectOffered("1.0.3", "1.0.4");
}

INSTANTIATE_TEST_SUITE_P(Listed, AdbStates,
                         testing::Values("offline", "unauthorized", "authorizing", "recovery", "sideload"));

// Without the access rule in effect the host refuses the device: one message naming the
// fix, no cycling through the search texts, and on as soon as access is granted.
TEST_F(Detection, NoPermissionIsSaidOnceUntilAccessIsGranted) {
    for (const char* scenario : {"usr-cdrom", "ftm"}) {
        SCOPED_TRACE(scenario);
        loadScenario(scenario);
        sim->set("node_access", QString::fromLatin1(scenario == QByteArray("ftm") ? "ro" : "none"));
        AppHarness& h = ready();
        h.runDetectPass();
        const Screen refused = h.screen();
        EXPECT_EQ(refused.status, L("stat No permission to use the device !"));
        EXPECT_TRUE(refused.info.contains("udevadm trigger")) << refused.info.toStdString();
        h.app().session().showStatus("marker");
        h.runDetectPass();
        EXPECT_EQ(h.screen().status, "marker"); // retried quietly
        EXPECT_EQ(h.app().session().state(), SessionState::Searching);

        sim->set("node_access", QStringLiteral("rw"));
        EXPECT_GT(passesUntilDecided(), 0);
        expectOffered("1.0.3", "1.0.4");
        h.app().session().setState(SessionState::Searching);
    }
}

TEST_F(Detection, PackageCheckThenDetection) {
    loadScenario("ftm");
    writePackage("HS_FW_1.0.4", {{"boot", "boot.img", QByteArray(5000, 'b')}, {"modem", "modem.img", "m"}});
    AppHarness& h = start();
    h.runInitialize();
    ASSERT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_EQ(packageTotal(h.app()), 5001u);
    EXPECT_EQ(adbRuns(), (QList<QStringList>{{"kill-server"}, {"start-server"}}));
    ASSERT_EQ(passesUntilDecided(), 1);
    expectOffered("1.0.3", "1.0.4");
}

TEST_F(Detection, BootLoaderWithIdentityIsRebootedWithoutAdb) {
    loadScenario("bootloader-qcom");
    AppHarness& h = ready();
    h.runDetectPass();
    EXPECT_EQ(fastbootRuns(), (QList<QStringList>{{"devices"}, {"reboot"}}));
    EXPECT_TRUE(adbRuns().isEmpty());
    EXPECT_EQ(h.screen().status, L("stat Reboot device ..."));
    EXPECT_GT(passesUntilDecided(), 0);
    expectOffered("1.0.3", "1.0.4");
}

TEST_F(Detection, BootLoaderWithoutIdentityLooksLikeNoDevice) {
    loadScenario("bootloader");
    ready().runDetectPass();
    expectSearching();
    EXPECT_TRUE(adbRuns().isEmpty());
    EXPECT_TRUE(fastbootRuns().isEmpty());
}

TEST_F(Detection, BootMode2IsRebootedIntoFirmware) {
    loadScenario("bootmode2");
    AppHarness& h = ready();
    h.runDetectPass();
    EXPECT_TRUE(ran(adbRuns(), kReboot));
    EXPECT_FALSE(ran(adbRuns(), QStringList{"shell", "sys_reboot", "bootloader"}));
    EXPECT_EQ(sim->restarts(), 1);
    EXPECT_EQ(h.clock->sleeps(), (std::vector<double>{0.5, 1.0, 1.0}));
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_GT(passesUntilDecided(), 0);
    expectOffered("1.0.3", "1.0.4");
}

// A rebooting unit stays on the bus (adb: "offline") for a moment: the passes that still see
// it must not take it for a device that answers.
TEST_F(Detection, RebootingDeviceStillListedIsNotReadYet) {
    loadScenario("bootmode2");
    sim->set("linger", QJsonObject{{"probes", 3}});
    AppHarness& h = ready();
    h.runDetectPass();
    ASSERT_EQ(sim->restarts(), 1);
    h.runDetectPass();
    EXPECT_EQ(adbRuns().count(kVersionRead), 0);
    EXPECT_EQ(sim->restarts(), 1);
    EXPECT_GT(passesUntilDecided(), 0);
    expectOffered("1.0.3", "1.0.4");
}

// A device that never answers its mass-storage commands costs each switch its 1 s read
// timeout, and the loop goes on.
TEST_F(Detection, SilentDeviceCostsOneTimeoutPerPass) {
    loadScenario("usr-cdrom");
    sim->setFault("silent_storage");
    AppHarness& h = ready();
    QElapsedTimer timer;
    timer.start();
    h.runDetectPass();
    EXPECT_GE(timer.elapsed(), 1000);
    EXPECT_LT(timer.elapsed(), 10000);
    bool timedOut = false;
    for (const SimRecord& r : sim->records("usb"))
        timedOut = timedOut || (r.event == "csw" && r.result == -ETIMEDOUT);
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(sim->personality(), "usr");
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
}

TEST_F(Detection, UnreadableBootModeRestartsTheAdbServer) {
    loadScenario("ftm");
    sim->setDeviceFile("/sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5", "Result:");
    AppHarness& h = ready();
    h.runDetectPass();
    EXPECT_TRUE(ran(adbRuns(), QStringList{"kill-server"}));
    EXPECT_TRUE(ran(adbRuns(), QStringList{"start-server"}));
    EXPECT_FALSE(ran(adbRuns(), kVersionRead));
    EXPECT_EQ(h.screen().status, L("stat Unable to detect device boot mode !"));
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_TRUE(QFile::exists(h.home() + "/.android/adb_usb.ini"));
}

TEST_F(Detection, BothIdentitiesAreLeftAlone) {
    loadScenario("both-identities");
    AppHarness& h = ready();
    const Screen before = h.screen();
    for (SessionState state : {SessionState::Searching, SessionState::Offered}) {
        h.app().session().setState(state);
        h.runDetectPass();
        EXPECT_EQ(h.app().session().state(), state);
    }
    EXPECT_TRUE(adbRuns().isEmpty());
    EXPECT_TRUE(fastbootRuns().isEmpty());
    EXPECT_EQ(h.screen().status, before.status);
}

TEST_F(Detection, UnplugWhileOfferedReturnsToSearching) {
    loadScenario("ftm");
    AppHarness& h = ready();
    ASSERT_GT(passesUntilDecided(), 0);
    ASSERT_EQ(h.app().session().state(), SessionState::Offered);
    sim->unplug();
    h.runDetectPass();
    expectSearching();
}

TEST_F(Detection, UnplugWhenFinishedChangesNothing) {
    loadScenario("unplugged");
    AppHarness& h = ready("1.0.4", SessionState::Finished);
    h.app().session().setDeviceVersion(QString::fromUtf8("1.0.4"));
    const Screen before = h.screen();
    h.runDetectPass();
    EXPECT_EQ(h.app().session().state(), SessionState::Finished);
    EXPECT_EQ(h.deviceVersion(), "1.0.4");
    EXPECT_EQ(h.screen().status, before.status);
    EXPECT_EQ(h.screen().buttonTitle, before.buttonTitle);
}

TEST_F(Detection, VersionAnswerOnThirdTry) {
    loadScenario("version-late");
    AppHarness& h = ready();
    ASSERT_EQ(passesUntilDecided(), 1);
    EXPECT_EQ(h.clock->count(5.0), 2);
    EXPECT_EQ(adbRuns().count(kVersionRead), 3);
    expectOffered("1.0.3", "1.0.4");
}

TEST_F(Detection, NoVersionAnswerAfterElevenTries) {
    loadScenario("version-no-ok");
    AppHarness& h = ready();
    h.runDetectPass();
    EXPECT_EQ(adbRuns().count(kVersionRead), 11);
    EXPECT_EQ(h.clock->count(5.0), 10);
    EXPECT_EQ(h.screen().status, L("stat Fail to read version number !"));
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
}

TEST_F(Detection, StopRequestEndsTheVersionRetries) {
    loadScenario("version-no-ok");
    AppHarness& h = ready();
    h.clock->onSleep([&h](double s) {
        if (s == 5.0)
            h.app().session().requestDetectionStop();
    });
    h.runDetectProc();
    EXPECT_EQ(adbRuns().count(kVersionRead), 1);
}

TEST_F(Detection, LowerCaseOkIsAccepted) {
    loadScenario("version-lowercase");
    ready();
    ASSERT_EQ(passesUntilDecided(), 1);
    expectOffered("1.0.3", "1.0.4");
}

TEST_F(Detection, OkFollowedByLineEndGivesEmptyDeviceVersion) {
    loadScenario("ftm");
    sim->setFault("version_reply", "empty");
    AppHarness& h = ready();
    ASSERT_EQ(passesUntilDecided(), 1);
    expectOffered("", "1.0.4");
    EXPECT_EQ(h.deviceVersion(), "");
}

TEST_F(Detection, LongVersionIsCutTo255Bytes) {
    const QByteArray longVersion(300, 'v');
    loadScenario(QStringLiteral(R"({"base": "ftm", "firmware_version": "%1"})").arg(QString::fromLatin1(longVersion)));
    AppHarness& h = ready("w");
    ASSERT_EQ(passesUntilDecided(), 1);
    EXPECT_EQ(h.deviceVersion(), longVersion.left(255));
    expectOffered(longVersion.left(255), "w");
}

TEST_F(Detection, NumericVersionsCompareByValue) {
    loadScenario(R"({"base": "ftm", "firmware_version": "9"})");
    ready("10");
    ASSERT_EQ(passesUntilDecided(), 1);
    expectOffered("9", "10");
}

TEST_F(Detection, EqualVersionIsUpToDate) {
    loadScenario("up-to-date");
    AppHarness& h = ready();
    ASSERT_EQ(passesUntilDecided(), 1);
    EXPECT_EQ(h.app().session().state(), SessionState::Finished);
    const Screen s = h.screen();
    EXPECT_EQ(s.status, L("info Your vesion is up to date"));
    EXPECT_EQ(s.buttonTitle, L("btn Close"));
    EXPECT_TRUE(s.buttonEnabled);
    EXPECT_EQ(s.info, L("info Current version") + "\n\t1.0.4\n" + L("info Version after update") +
                          "\n\t1.0.4\n" + L("info Your vesion is up to date"));
}

TEST_F(Detection, StopFlagBeforeFirstPass) {
    loadScenario("ftm");
    AppHarness& h = ready();
    h.app().session().requestDetectionStop();
    h.runDetectProc();
    EXPECT_TRUE(h.clock->sleeps().empty());
    EXPECT_EQ(sim->probes(), 0);
}

TEST_F(Detection, IdleWhileInitialisingOrUpdating) {
    loadScenario("ftm");
    AppHarness& h = ready("1.0.4", SessionState::Checking);
    h.runDetectPass();
    h.app().session().setState(SessionState::Updating);
    h.runDetectPass();
    EXPECT_EQ(h.app().session().state(), SessionState::Updating);
    EXPECT_EQ(sim->probes(), 0);
}

// Start pressed the moment the button comes up: the rest of the outcome must not
// overwrite the update screen.
TEST_F(Detection, StartPressedWhileTheOfferIsShownWins) {
    struct PressOnEnable : QObject {
        Application* app;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::EnabledChange && static_cast<QWidget*>(o)->isEnabled())
                app->session().move(SessionState::Offered, SessionState::Updating);
            return false;
        }
    };
    loadScenario("ftm");
    AppHarness& h = ready();
    h.face().updateButton()->setEnabled(false);
    PressOnEnable press;
    press.app = &h.app();
    h.face().updateButton()->installEventFilter(&press);
    h.runDetectPass();
    h.face().updateButton()->removeEventFilter(&press);
    EXPECT_EQ(h.app().session().state(), SessionState::Updating);
    EXPECT_NE(h.screen().buttonTitle, L("btn Start"));
    EXPECT_NE(h.screen().status, L("stat Device Ready !"));
}

TEST_F(Detection, MissingAdbKeepsTheLoopSearching) {
    loadScenario("ftm");
    QFile::remove(bundle.resources() + "/adb");
    AppHarness& h = ready();
    h.clock->onSleep([&h](double) {
        if (h.clock->sleeps().size() >= 4)
            h.app().session().requestDetectionStop();
    });
    h.runDetectProc(); // must neither throw nor spin without the pass period
    EXPECT_EQ(h.app().session().state(), SessionState::Searching);
    EXPECT_EQ(h.clock->count(0.5), 2);
    EXPECT_EQ(h.screen().status, L("stat Searching device ..."));
}

// ---- long runs: thousands of passes leave descriptors, threads and memory where they were ----

struct Footprint {
    qsizetype fds = 0;
    qsizetype threads = 0;
    qint64 residentKb = 0;
};

Footprint footprint() {
    Footprint f;
    f.fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    f.threads = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot | QDir::Dirs).size();
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                f.residentKb = line.mid(6).trimmed().split(' ').front().toLongLong();
    return f;
}

struct LongRun {
    const char* scenario;
    SessionState state;
    int passes;
};
void PrintTo(const LongRun& r, std::ostream* os) { *os << r.scenario << ", " << r.passes << " passes"; }

class DetectionLongRun : public Detection, public ::testing::WithParamInterface<LongRun> {};

TEST_P(DetectionLongRun, DescriptorsThreadsAndMemoryStayFlat) {
    const LongRun& run = GetParam();
    loadScenario(run.scenario);
    AppHarness& h = ready("1.0.4", run.state);
    constexpr int kWarmUp = 100;
    Footprint before, after;
    int passes = 0;
    h.clock->onSleep([&](double seconds) {
        if (seconds != 0.5)
            return;
        ++passes;
        if (passes == kWarmUp)
            before = footprint();
        if (passes == kWarmUp + run.passes) {
            after = footprint();
            h.app().session().requestDetectionStop();
        }
    });
    h.runDetectProc();
    ASSERT_EQ(passes, kWarmUp + run.passes);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back on purpose; elsewhere a leak of even 1 KB a pass shows.
    EXPECT_LT(after.residentKb - before.residentKb, run.passes) << before.residentKb << " kB before";
#endif
}

INSTANTIATE_TEST_SUITE_P(Passes, DetectionLongRun,
                         ::testing::Values(LongRun{"unplugged", SessionState::Searching, 2000}, // searching, nothing on the bus
                                           LongRun{"ftm", SessionState::Offered, 2000},       // Start offered, device attached
                                           // switched every pass but adb never comes: tools and USB each time
                                           LongRun{R"({"base": "usr-cdrom", "faults": {"switch_ignored": true}})", SessionState::Searching, 60}));

} // namespace

#pragma once
// In-process tests on the simulated hotspot: a real Application whose bundle carries the
// simulator's adb and fastboot and a package, whose USB library is the simulator's
// (link hotspot_simusb), and whose clock records the waits instead of sleeping.
//
// Typical use:
//   class MyTest : public SimFixture {};
//   TEST_F(MyTest, X) {
//       loadScenario("ftm");
//       writePackage("HS_FW_1.0.4", {{"boot", "boot.img", QByteArray(4096, 'b')}});
//       AppHarness& h = start();      // window, application; nothing runs yet
//       h.runInitialize();            // or h.setReady("1.0.4") to skip the package check
//       h.runDetectPass();
//       EXPECT_EQ(h.app().session().state(), SessionState::Offered);
//       EXPECT_EQ(sim.toolRuns("adb").size(), ...);
//   }

#include "AppHarness.h"
#include "SimControl.h"
#include "usb/usbutils.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testing_support {

struct ImageFile {
    QByteArray partition;
    QByteArray file;
    QByteArray content;
};

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        ASSERT_TRUE(m_simDir.isValid());
        // Before any child starts: the stand-in tools and library find the device here.
        qputenv("HOTSPOT_SIM_DIR", m_simDir.path().toLocal8Bit());
        sim = std::make_unique<SimControl>(m_simDir.path());
        bundle.installTool(SimControl::adbPath(), QStringLiteral("adb"));
        bundle.installTool(SimControl::fastbootPath(), QStringLiteral("fastboot"));
    }

    void TearDown() override {
        m_harness.reset(); // waits for every worker
    }

    // Starts the device afresh from a scenario (name, file or JSON text).
    void loadScenario(const QString& nameFileOrText) {
        QString error;
        ASSERT_TRUE(sim->loadScenario(nameFileOrText, &error)) << error.toStdString();
    }

    // Writes the package into the bundle: the version line, then one line per image.
    void writePackage(const QByteArray& versionLine, const std::vector<ImageFile>& images) {
        QByteArray text = versionLine + '\n';
        for (const ImageFile& image : images)
            text += bundle.addImage(image.partition, image.file, image.content) + '\n';
        bundle.writeVersion(text);
    }

    // The application on this bundle; created once per test. The USB library is opened as
    // the package check would have, so detection passes can run without it.
    AppHarness& start(HarnessOptions options = {}) {
        if (!m_harness) {
            if (options.home.isEmpty())
                options.home = m_home.path();
            m_options = options;
            m_harness = std::make_unique<AppHarness>(bundle, options);
            do_init_utils();
        }
        return *m_harness;
    }
    AppHarness& harness() { return start(); }
    // The application ends and starts again on the same home: what the last run left (its
    // journals, its backups) is there for the next.
    AppHarness& startAgain() {
        m_harness.reset();
        return start(m_options);
    }

    // Shorthands for the record.
    QList<QStringList> adbRuns() const { return sim->toolRuns(QStringLiteral("adb")); }
    QList<QStringList> fastbootRuns() const { return sim->toolRuns(QStringLiteral("fastboot")); }
    static bool ran(const QList<QStringList>& runs, const QStringList& args) { return runs.contains(args); }

    TempBundle bundle;
    std::unique_ptr<SimControl> sim;

private:
    QTemporaryDir m_simDir;
    QTemporaryDir m_home;
    HarnessOptions m_options;
    std::unique_ptr<AppHarness> m_harness;
};

} // namespace testing_support

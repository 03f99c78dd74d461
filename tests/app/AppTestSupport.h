#pragma once
// A real application and window over a temporary bundle, a clock that never waits and a
// trace file that fake tools, the clock and redirected stdout append to in order.

#include "app/Application.h"
#include "app/MainWindow.h"
#include "workflow/Messages.h"
#include "app/WindowFace.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <vector>

// Records every sleep instead of sleeping. Sleeps of the GUI thread also go to the trace.
class TestClock : public Clock {
public:
    void sleep(double seconds) override;
    void traceTo(const QString& path);
    std::vector<double> guiSleeps() const;

private:
    mutable std::mutex m_lock;
    std::vector<double> m_guiSleeps;
    QString m_trace;
};

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString resources() const { return m_dir.path() + QStringLiteral("/HotspotUpdater/Contents/Resources"); }
    QString tracePath() const { return m_dir.path() + QStringLiteral("/trace.log"); }
    QStringList traceLines() const;

    // Copies the shipped string table and pictures into the bundle and makes a new
    // application over it (the table is loaded at construction).
    void useShippedResources();
    // Same with the test table that holds stray per-cent signs.
    void useTestTable();
    // A fake adb that appends "adb <args>" to the trace.
    void installFakeAdb();
    void rebuildController();

    // Pumps GUI events until no worker runs; false if they did not end in time.
    bool drainWorkers();
    // Pumps GUI events until `done` holds; false if it did not in time.
    bool pumpUntil(const std::function<bool()>& done);

    QTemporaryDir m_dir;
    std::shared_ptr<TestClock> m_clock;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<WindowFace> m_face;
    std::unique_ptr<Application> m_app;
};

#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cstdio>
#include <stdexcept>
#include <thread>

void TestClock::sleep(double seconds) {
    std::lock_guard guard(m_lock);
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
        m_guiSleeps.push_back(seconds);
        if (!m_trace.isEmpty()) {
            std::fflush(stdout); // whatever was printed before the sleep comes first
            QFile f(m_trace);
            if (f.open(QIODevice::Append))
                f.write(QStringLiteral("sleep %1\n").arg(seconds).toUtf8());
        }
    }
    std::this_thread::yield();
}

void TestClock::traceTo(const QString& path) {
    std::lock_guard guard(m_lock);
    m_trace = path;
}

std::vector<double> TestClock::guiSleeps() const {
    std::lock_guard guard(m_lock);
    return m_guiSleeps;
}

void AppFixture::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    ASSERT_TRUE(QDir().mkpath(resources()));
    ASSERT_TRUE(QDir().mkpath(m_dir.path() + QStringLiteral("/home")));
    ASSERT_TRUE(QDir().mkpath(m_dir.path() + QStringLiteral("/host")));
    qputenv("HOTSPOT_TEST_TRACE", tracePath().toUtf8());
    m_clock = std::make_shared<TestClock>();
    rebuildController();
}

void AppFixture::rebuildController() {
    if (m_app) {
        ASSERT_TRUE(drainWorkers());
    }
    m_app.reset();
    m_window = std::make_unique<MainWindow>();
    m_face = std::make_unique<WindowFace>(m_window.get());
    Environment env;
    env.bundlePath = m_dir.path() + QStringLiteral("/HotspotUpdater");
    env.home = m_dir.path() + QStringLiteral("/home");
    env.sysfsRoot = m_dir.path() + QStringLiteral("/sys"); // no host's devices
    env.hostTmp = m_dir.path() + QStringLiteral("/host");
    env.clock = m_clock;
    env.exitProgram = [](int code) { throw std::runtime_error("exit " + std::to_string(code)); };
    m_app = std::make_unique<Application>(std::move(env), m_face.get());
}

void AppFixture::TearDown() {
    if (!m_app)
        return;
    m_app->session().requestDetectionStop();
    if (!drainWorkers()) {
        ADD_FAILURE() << "workers still running; leaving the application alive";
        (void)m_app.release();
        (void)m_face.release();
        (void)m_window.release();
        return;
    }
    m_app.reset();
    m_face.reset();
    m_window.reset();
    qunsetenv("HOTSPOT_TEST_TRACE");
}

QStringList AppFixture::traceLines() const {
    QFile f(tracePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

static void copyInto(const QString& from, const QString& to, const QStringList& names) {
    for (const QString& name : names) {
        QFile::remove(to + QLatin1Char('/') + name);
        ASSERT_TRUE(QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name)) << qPrintable(name);
    }
}

void AppFixture::useShippedResources() {
    const QString shipped = QStringLiteral(HOTSPOT_SHIPPED_RESOURCES_DIR);
    copyInto(shipped, resources(), QDir(shipped).entryList({QStringLiteral("Localizable_*.qm")}, QDir::Files));
    copyInto(shipped, resources(),
             {QStringLiteral("error.png"),
              QStringLiteral("error@2x.png"), QStringLiteral("warning.png"),
              QStringLiteral("warning@2x.png"), QStringLiteral("updating.png"),
              QStringLiteral("updating@2x.png")});
    rebuildController();
}

void AppFixture::useTestTable() {
    copyInto(QStringLiteral(HOTSPOT_TEST_TABLE_DIR), resources(), {QStringLiteral("Localizable_en.qm")});
    rebuildController();
}

void AppFixture::installFakeAdb() {
    QFile adb(resources() + QStringLiteral("/adb"));
    ASSERT_TRUE(adb.open(QIODevice::WriteOnly));
    adb.write("#!/bin/sh\necho \"adb $*\" >> \"$HOTSPOT_TEST_TRACE\"\n");
    adb.close();
    adb.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool AppFixture::pumpUntil(const std::function<bool()>& done) {
    // A safety net against a hang, not a measure of speed.
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::yield();
    }
    return true;
}

bool AppFixture::drainWorkers() {
    return pumpUntil([this] { return m_app->session().liveWorkers() == 0; });
}

#pragma once
// A real Application in the test process: offscreen window, temporary bundle and home,
// a clock that records its sleeps instead of sleeping, and helpers that run worker bodies
// while the GUI thread serves their blocking posts. Needs no simulator; SimFixture.h adds it.

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"
#include "app/ProgressBarView.h"
#include "app/StationWindow.h"
#include "app/StationWindowFace.h"
#include "workflow/DetectionLoop.h"
#include "workflow/Messages.h"
#include "workflow/PackageCheck.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

// Readable values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << '"' << b.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace testing_support {

// One QApplication for the whole test program, on the offscreen platform.
inline QApplication& application() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's own choices (the station's hands-free box) never reach a test.
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    static int argc = 1;
    static char name[] = "hotspot-tests";
    static char* argv[] = {name, nullptr};
    return *new QApplication(argc, argv); // lives until the process ends
}

// Records every sleep and returns at once.
class RecordingClock : public Clock {
public:
    void sleep(double seconds) override {
        std::function<void(double)> hook;
        {
            std::lock_guard lock(m_mutex);
            m_sleeps.push_back(seconds);
            hook = m_onSleep;
        }
        if (hook)
            hook(seconds);
    }
    // Called on the sleeping thread after each recorded sleep (e.g. to request a stop).
    void onSleep(std::function<void(double)> hook) {
        std::lock_guard lock(m_mutex);
        m_onSleep = std::move(hook);
    }
    std::vector<double> sleeps() const {
        std::lock_guard lock(m_mutex);
        return m_sleeps;
    }
    int count(double seconds) const {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (double s : m_sleeps)
            n += s == seconds;
        return n;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_sleeps.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_sleeps;
    std::function<void(double)> m_onSleep;
};

// Thrown by the test environment's exitProgram instead of ending the test program.
struct ProgramExit : std::runtime_error {
    explicit ProgramExit(int c) : std::runtime_error("program exit"), code(c) {}
    int code;
};

// A bundle folder with its resources, the package's version file and images.
class TempBundle {
public:
    TempBundle() { QDir().mkpath(resources()); }
    QString path() const { return m_dir.path(); }
    QString resources() const { return m_dir.path() + QStringLiteral("/Contents/Resources"); }

    void writeResource(const QString& name, const QByteArray& bytes) const {
        QFile f(resources() + u'/' + name);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + name.toStdString());
    }
    void writeVersion(const QByteArray& bytes) const { writeResource(QStringLiteral("version"), bytes); }
    // Writes an image and returns its version-file line "name,file,size,md5".
    QByteArray addImage(const QByteArray& partition, const QByteArray& file, const QByteArray& content) const {
        writeResource(QString::fromUtf8(file), content);
        return partition + ',' + file + ',' + QByteArray::number(content.size()) + ',' +
               QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    }
    // Copies an executable (adb or fastboot) into the resources under `name`.
    void installTool(const QString& source, const QString& name) const {
        const QString dest = resources() + u'/' + name;
        QFile::remove(dest);
        if (!QFile::copy(source, dest))
            throw std::runtime_error("cannot copy " + source.toStdString());
        QFile::setPermissions(dest, QFile::permissions(dest) | QFile::ExeOwner | QFile::ReadOwner);
    }

private:
    QTemporaryDir m_dir;
};

// What the window shows.
struct Screen {
    QString status;
    QString info;
    bool infoVisible = false;
    bool imageVisible = false;
    QString warning;
    bool warningVisible = false;
    QString buttonTitle;
    bool buttonEnabled = false;
    bool barIndeterminate = false;
    bool barAnimating = false;
    double barValue = 0.0;
    QString percent;
};

struct HarnessOptions {
    bool driverInstalled = true;
    // Short enough that a tool waiting for a vanished device ends quickly, long enough
    // for a loaded machine.
    ToolLimits toolLimits{10.0, 5.0, 10.0, 3.0, 0.0};
    // The only owner a trusted key file may have.
    uid_t keyOwner = ::getuid();
    // A home that outlives this harness (a next run of the application); else its own.
    QString home{};
    // Above 0: a station with its window, updating that many at once.
    int stationMaxUpdates = 0;
    // Where the ports are found (a simulated hub's tree); else an empty one.
    QString sysfsRoot{};
};

class AppHarness {
public:
    AppHarness(const TempBundle& bundle, HarnessOptions options = {}) : m_home(options.home) {
        application();
        QDir().mkpath(home());
        Environment env;
        env.bundlePath = bundle.path();
        env.home = home();
        env.hostTmp = m_scratch.path();
        env.sysfsRoot = options.sysfsRoot.isEmpty() ? m_scratch.path() + QStringLiteral("/sys") // no host's devices
                                                    : options.sysfsRoot;
        const QString rule = m_scratch.path() + QStringLiteral("/70-hotspot-updater.rules");
        if (options.driverInstalled) {
            QFile f(rule);
            if (!f.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write the driver rule");
        }
        env.driverPaths = {rule};
        // The machine's key folder is the test's own; key files are the test user's.
        env.systemKeysDir = systemKeys();
        env.keyOwner = options.keyOwner;
        env.clock = clock;
        env.toolLimits = options.toolLimits;
        env.exitProgram = [](int code) { throw ProgramExit(code); };
        Face* face = nullptr;
        if (options.stationMaxUpdates > 0) {
            m_stationWindow = std::make_unique<StationWindow>();
            m_stationFace = std::make_unique<StationWindowFace>(m_stationWindow.get());
            face = m_stationFace.get();
        } else {
            m_window = std::make_unique<MainWindow>();
            m_face = std::make_unique<WindowFace>(m_window.get());
            face = m_face.get();
        }
        m_delegate = std::make_unique<Application>(std::move(env), face, options.stationMaxUpdates);
    }

    ~AppHarness() {
        // Workers post to the GUI thread: serve them until every one has left.
        m_delegate->session().requestDetectionStop();
        if (Station* station = m_delegate->station())
            station->stop();
        pumpUntil([this] { return liveWorkers() == 0; });
    }

    // The workers of the application's session and of every station unit.
    int liveWorkers() {
        int live = session().liveWorkers();
        if (Station* station = m_delegate->station()) {
            for (const std::unique_ptr<DeviceWorkflow>& unit : station->units())
                live += unit->session().liveWorkers();
        }
        return live;
    }

    Application& app() { return *m_delegate; }
    MainWindow& window() { return *m_window; }
    StationWindow& stationWindow() { return *m_stationWindow; }
    WindowFace& face() { return *m_face; }
    QString home() const { return m_home.isEmpty() ? m_scratch.path() + QStringLiteral("/home") : m_home; }
    QString scratch() const { return m_scratch.path(); }
    QString systemKeys() const { return m_scratch.path() + QStringLiteral("/etc-keys"); }

    // Runs `body` on a thread of its own, as a worker, while this thread serves its posts.
    // An exception escaping the body is rethrown here.
    void runOnWorker(const std::function<void()>& body) {
        std::atomic<bool> done{false};
        std::exception_ptr error;
        std::thread worker([&] {
            try {
                body();
            } catch (...) {
                error = std::current_exception();
            }
            done.store(true);
            wake();
        });
        pumpUntil([&] { return done.load(); });
        worker.join();
        if (error)
            std::rethrow_exception(error);
    }
    void runInitialize() {
        runOnWorker([this] { runPackageCheck(session(), m_delegate->workflow().services()); });
    }
    void runDetectPass() { runOnWorker([this] { detection().pass(); }); }
    void runDetectProc() { runOnWorker([this] { detection().run(); }); }
    DetectionLoop detection() { return DetectionLoop(session(), m_delegate->workflow().services()); }
    DeviceSession& session() { return m_delegate->session(); }
    const Services& services() { return m_delegate->workflow().services(); }

    // Serves posted events until `condition` holds; the condition is checked after every
    // batch. Between batches the thread sleeps in the event loop until a post or the next
    // millisecond tick: spinning would take a core from the worker and its tools.
    static void pumpUntil(const std::function<bool()>& condition) {
        QTimer tick;
        tick.start(1);
        while (!condition()) {
            QCoreApplication::sendPostedEvents();
            if (condition())
                break;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    // Sets what the package check would have left: the package version, state 1.
    void setReady(const QByteArray& toolVersion, SessionState state = SessionState::Searching) {
        session().setPackage(std::make_shared<const Package>(QString::fromUtf8(toolVersion), std::vector<ImageEntry>(), 0));
        session().setState(state);
    }
    QByteArray deviceVersion() const { return m_delegate->session().deviceVersion().toUtf8(); }
    QByteArray toolVersion() const { return m_delegate->session().packageVersion().toUtf8(); }

    Screen screen() const {
        const WindowFace& d = *m_face;
        Screen s;
        s.status = d.statusLabel()->text();
        s.info = d.infoLabel()->text();
        s.infoVisible = !d.infoLabel()->isHidden();
        s.imageVisible = !d.pictureView()->isHidden();
        s.warning = d.warningLabel()->text();
        s.warningVisible = !d.warningLabel()->isHidden();
        s.buttonTitle = d.updateButton()->text();
        s.buttonEnabled = d.updateButton()->isEnabled();
        s.barIndeterminate = d.progressBar()->isIndeterminate();
        s.barAnimating = d.progressBar()->isAnimating();
        s.barValue = d.progressBar()->value();
        s.percent = d.percentLabel()->text();
        return s;
    }

    std::shared_ptr<RecordingClock> clock = std::make_shared<RecordingClock>();

private:
    static void wake() {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
    }

    QString m_home;
    QTemporaryDir m_scratch;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<WindowFace> m_face;
    std::unique_ptr<StationWindow> m_stationWindow;
    std::unique_ptr<StationWindowFace> m_stationFace;
    std::unique_ptr<Application> m_delegate;
};

// The package as the check left it, its table padded with empty entries to kImageTableSize.
inline uint64_t packageTotal(Application& app) {
    const auto package = app.session().package();
    return package ? package->total() : 0;
}
inline std::vector<ImageEntry> packageImages(Application& app) {
    const auto package = app.session().package();
    std::vector<ImageEntry> images = package ? package->images() : std::vector<ImageEntry>();
    images.resize(std::max<std::size_t>(images.size(), kImageTableSize), ImageEntry{});
    return images;
}

inline QString L(const char* key) { return messages::lookup(key); }

} // namespace testing_support

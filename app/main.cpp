#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/RunLog.h"
#include "app/SignalHandler.h"
#include "usb/usbutils.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// How long the workers' tool runs get, once ended, to return.
constexpr double kToolGrace = 2.0;

// The running executable, before any application object exists (Linux: its real path).
QString executablePath(const char* argv0) {
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? self.canonicalFilePath() : QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
}

void startLog(const QStringList& arguments, const Environment& env, bool verbose) {
    const QStringList header = {
        QStringLiteral("hotspot-updater %1, Qt %2").arg(QStringLiteral(HOTSPOT_VERSION), QString::fromLatin1(qVersion())),
        QStringLiteral("started %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)),
        QStringLiteral("command line: %1").arg(arguments.join(QLatin1Char(' '))),
        QStringLiteral("bundle: %1").arg(env.bundlePath),
        QStringLiteral("language: %1").arg(QLocale::system().name()),
    };
    if (!runlog::start(runlog::defaultFolder(), header, verbose))
        std::fprintf(stderr, "hotspot-updater: cannot write a log in %s\n", qPrintable(runlog::defaultFolder()));
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Environment env = Environment::fromProcess(executablePath(argv[0]));
    const CommandLine options = CommandLine::parse(arguments, env.bundlePath);
    if (options.finish) {
        std::fputs(options.finish->text.toLocal8Bit().constData(), options.finish->toStderr ? stderr : stdout);
        return options.finish->status;
    }

    QApplication app(argc, argv);
    MainWindow window;
    startLog(arguments, env, options.verbose);
    usb_set_trace_sink([](const char* line) {
        const QString text = QString::fromUtf8(line).trimmed();
        runlog::writeOnce("usb", text, text);
    });
    // Lives until the process ends: detached workers may still be using it at exit.
    auto* delegate = new AppDelegate(std::move(env), &window);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, delegate,
                     [delegate] { delegate->applicationWillTerminate(); });
    // Logout, kill and Ctrl-C end us like closing the window does.
    SignalHandler signalHandler([delegate](int signal) { delegate->requestTermination(signal); });

    window.show();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    const int status = app.exec();
    runlog::write("app", QStringLiteral("exit status %1").arg(status));

    // The termination sequence has run. End the workers' tools, without destroying anything
    // they use, then end the process.
    delegate->finishAfterEventLoop(kToolGrace);
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}

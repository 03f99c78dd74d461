#include "bridge/ToolRunner.h"
#include "bridge/RunLog.h"
#include "bridge/Contract.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <atomic>
#include <csignal>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

constexpr int kPollMs = 50;

// Runs in progress, each with the flag its waiting thread polls.
struct Registry {
    std::mutex lock;
    std::set<std::atomic<bool>*> cancels;
    std::atomic<bool> shuttingDown{false};
};

Registry& registry() {
    static Registry r;
    return r;
}

class RunningChild {
public:
    // Registered and checked under one lock: once beginShutdown has returned, either a run
    // is counted (and will be ended) or it never starts.
    explicit RunningChild(const QString& program, bool duringShutdown) {
        std::lock_guard guard(registry().lock);
        if (registry().shuttingDown.load() && !duringShutdown)
            throw ToolLaunchError(
                QStringLiteral("%1 not started: the application is ending").arg(program).toStdString());
        registry().cancels.insert(&m_cancel);
    }
    ~RunningChild() {
        std::lock_guard guard(registry().lock);
        registry().cancels.erase(&m_cancel);
    }
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;
    bool cancelled() const { return m_cancel.load(); }

private:
    std::atomic<bool> m_cancel{false};
};

void configure(QProcess& process, bool capture) {
    // A tool must never wait for input from our terminal.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(capture ? QProcess::MergedChannels : QProcess::ForwardedChannels);
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // A group of its own: ended whole on expiry, and out of reach of the terminal's Ctrl-C.
        ::setpgid(0, 0);
#ifdef __linux__
        // The child dies with the thread that started it; that thread waits for it, so this
        // only fires when we are gone (or killed) without ending it ourselves.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        if (::getppid() != parent)
            ::_exit(127);
    });
}

// Called only by the thread that owns `process`, while it has not been reaped: the group id
// is still the child's own.
void endGroup(QProcess& process) {
    const auto pid = static_cast<pid_t>(process.processId());
    if (pid > 0)
        ::kill(-pid, SIGKILL);
    process.kill();
}

QByteArray stopLine(const QString& program, const char* why, double limit) {
    const QString name = QFileInfo(program).fileName();
    if (limit > 0 && !why)
        return QStringLiteral("\nerror: %1 gave no answer within %2 s and was stopped\n")
            .arg(name).arg(limit).toUtf8();
    return QStringLiteral("\nerror: %1 was stopped: %2\n").arg(name, QLatin1String(why)).toUtf8();
}

} // namespace

namespace toolrunner {

RunOutput runTool(const QString& program, const QStringList& args, const RunOptions& options) {
    RunningChild registered(program, options.duringShutdown);
    QProcess process;
    configure(process, options.capture);
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        throw ToolLaunchError(QStringLiteral("cannot start %1: %2")
                                  .arg(program, process.errorString())
                                  .toStdString());

    // Waiting for the end also collects the output, so a chatty child never blocks on a
    // full pipe.
    QElapsedTimer timer;
    timer.start();
    QByteArray stopped;
    bool marked = !options.capture || options.mark.isEmpty() || !options.onMark;
    while (!process.waitForFinished(kPollMs) && process.state() != QProcess::NotRunning) {
        if (!marked && process.peek(process.bytesAvailable()).toLower().contains(options.mark)) {
            marked = true;
            options.onMark();
        }
        const bool expired = options.limitSeconds > 0 && timer.elapsed() > qint64(options.limitSeconds * 1000.0);
        if (registered.cancelled() || expired) {
            stopped = stopLine(program, expired ? nullptr : "the application is ending", options.limitSeconds);
            endGroup(process);
            process.waitForFinished(-1);
            break;
        }
    }
    RunOutput out;
    if (stopped.isEmpty() && process.exitStatus() == QProcess::NormalExit)
        out.exitStatus = process.exitCode();
    if (options.capture)
        out.bytes = process.readAll() + stopped;
    return out;
}

double limitFor(const ToolLimits& limits, const QString& tool, const QStringList& args) {
    const QString command = args.value(0);
    if (tool == QLatin1String("sh"))
        return limits.command;
    if (contract::kHostWideCommands.contains(command))
        return limits.listing;
    if (command == QLatin1String("pull") || command == QLatin1String("push"))
        return limits.transfer;
    if (tool == QLatin1String("fastboot") && command == QLatin1String("flash")) {
        const double mib = double(QFileInfo(args.value(2)).size()) / (1024.0 * 1024.0);
        return limits.flashBase + limits.flashPerMiB * mib;
    }
    return limits.command;
}

ToolResult decodeOutput(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

int runningToolCount() {
    std::lock_guard guard(registry().lock);
    return static_cast<int>(registry().cancels.size());
}

void cancelRunningTools() {
    std::lock_guard guard(registry().lock);
    for (std::atomic<bool>* cancel : registry().cancels)
        cancel->store(true);
}

void beginShutdown() {
    {
        std::lock_guard guard(registry().lock);
        registry().shuttingDown.store(true);
    }
    cancelRunningTools();
}

} // namespace toolrunner

Tools::Tools(QString resourcesDir, ToolLimits limits) : m_resources(std::move(resourcesDir)), m_limits(limits) {}

Tools Tools::forPort(const QString& port) const {
    Tools addressed = *this;
    addressed.m_port = port;
    return addressed;
}

ToolRun Tools::run(const QString& tool, const QString& program, const QStringList& commandArgs, bool capture,
                   const std::function<void()>& sent) const {
    toolrunner::RunOptions options;
    options.capture = capture;
    if (sent) {
        options.mark = contract::kFlashWriting;
        options.onMark = sent;
    }
    options.limitSeconds = toolrunner::limitFor(m_limits, tool, commandArgs);
    const bool addressed = !m_port.isEmpty() && tool != QLatin1String("sh")
                           && !contract::kHostWideCommands.contains(commandArgs.value(0));
    const QStringList args = addressed ? contract::toPort(m_port) + commandArgs : commandArgs;
    QElapsedTimer took;
    took.start();
    toolrunner::RunOutput output;
    try {
        output = toolrunner::runTool(program, args, options);
    } catch (const ToolLaunchError& e) {
        runlog::write("tool", QString::fromStdString(e.what()));
        throw;
    }
    // The device's configuration and calibration hold the owner's Wi-Fi password.
    static const QStringList privatePaths = {contract::kWifiBoardData, contract::kConfigDb,
                                             contract::kConfigDbRestored};
    runlog::toolRun(program, args, output.bytes ? QString::fromUtf8(*output.bytes) : QString(), took.elapsed(),
                    privatePaths);
    return {output.bytes ? toolrunner::decodeOutput(*output.bytes) : std::nullopt, output.exitStatus};
}

ToolRun Tools::adb(const QStringList& args) const {
    return run(QStringLiteral("adb"), adbPath(), args, true);
}

void Tools::adbForwarded(const QStringList& args) const {
    run(QStringLiteral("adb"), adbPath(), args, false);
}

ToolRun Tools::fastboot(const QStringList& args) const {
    return run(QStringLiteral("fastboot"), fastbootPath(), args, true);
}

ToolRun Tools::fastboot(const QStringList& args, const std::function<void()>& sent) const {
    return run(QStringLiteral("fastboot"), fastbootPath(), args, true, sent);
}

ToolRun Tools::shell(const QString& commandLine) const {
    return run(QStringLiteral("sh"), QStringLiteral("/bin/sh"), {QStringLiteral("-c"), commandLine}, true);
}

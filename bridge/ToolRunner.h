#pragma once
// Running the device tools and shell command lines as child processes: runTool does the
// running; Tools knows where the bundle's adb and fastboot are and how long each run may take.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <stdexcept>

// A tool that could not be started. The update procedure catches it; elsewhere the
// caller handles it (see the callers).
class ToolLaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A tool's output as text: nullopt when it was not valid UTF-8 (or not captured).
using ToolResult = std::optional<QString>;

// How long a tool run may take before it is ended (with its children) and counted as that
// step's failure. Real tools can wait for ever: fastboot for a device that went away, adb for
// one that stopped answering. Generous, so a slow but working device never trips them.
struct ToolLimits {
    double listing = 20.0;    // adb/fastboot "devices", adb "kill-server"/"start-server"
    double command = 60.0;    // adb "shell", fastboot "reboot", shell command lines
    double transfer = 120.0;  // adb "pull"/"push" (device files of KiB to a few MiB)
    double flashBase = 60.0;  // fastboot "flash": this much ...
    double flashPerMiB = 2.0; // ... plus this per MiB of the image (0.5 MiB/s)
};

// One finished run of a device tool.
struct ToolRun {
    ToolResult text;
    // The tool's exit status; -1 when it did not exit by itself (ended, crashed).
    int exitStatus = 0;
};

// The bundle's device tools and the shell, each run bounded by its limit and written to the
// run log. Safe to use from several threads at once.
class Tools {
public:
    Tools(QString resourcesDir, ToolLimits limits);

    // The same tools for the device at one USB port path ("1-2.3"): every adb and fastboot run
    // that goes to a device is addressed to that port; listings and the server's runs are not.
    Tools forPort(const QString& port) const;
    // Empty: runs are not addressed (the one device on the host).
    QString port() const { return m_port; }

    // Captured: standard output and error merged. Throws ToolLaunchError.
    ToolRun adb(const QStringList& args) const;
    // Output left on our own standard output and error (a reboot nobody reads the answer of).
    void adbForwarded(const QStringList& args) const;
    ToolRun fastboot(const QStringList& args) const;
    // The same; `sent` is called as the device begins to store an image it received.
    ToolRun fastboot(const QStringList& args, const std::function<void()>& sent) const;
    ToolRun shell(const QString& commandLine) const;

    QString adbPath() const { return m_resources + QStringLiteral("/adb"); }
    QString fastbootPath() const { return m_resources + QStringLiteral("/fastboot"); }

private:
    ToolRun run(const QString& tool, const QString& program, const QStringList& args, bool capture,
                const std::function<void()>& sent = {}) const;

    QString m_resources;
    ToolLimits m_limits;
    QString m_port;
};

namespace toolrunner {

struct RunOptions {
    bool capture = true;
    // Seconds before the tool and its children are ended; 0 for no limit. An ended run's
    // captured output gets an "error: ..." line, so every caller reads it as a failure.
    double limitSeconds = 0.0;
    // Started even after beginShutdown (the last adb "kill-server").
    bool duringShutdown = false;
    // Called once, on the waiting thread, when the captured output first holds `mark` (in any
    // case) while the tool still runs.
    QByteArray mark;
    std::function<void()> onMark;
};

struct RunOutput {
    std::optional<QByteArray> bytes; // nullopt when not captured
    int exitStatus = -1;             // -1 when the tool did not exit by itself
};

// Runs `program` with `args` and waits for it. With `capture`, standard output and standard
// error arrive merged in write order and are returned whole; without it they go where ours go.
// The tool runs in a process group of its own, so a Ctrl-C meant for us never reaches it
// mid-write. Throws ToolLaunchError when the program cannot be started, or after beginShutdown.
RunOutput runTool(const QString& program, const QStringList& args, const RunOptions& options);

// The limit that fits one run of a device tool ("adb", "fastboot") or of the shell ("sh").
double limitFor(const ToolLimits& limits, const QString& tool, const QStringList& args);

// Tool output as text: nullopt when the bytes are not valid UTF-8.
ToolResult decodeOutput(const QByteArray& bytes);

// Runs that have not returned yet.
int runningToolCount();

// The application is ending: every running tool is ended by the thread that waits for it
// (never signalled from elsewhere, so no reaped id is ever signalled), and no new tool starts.
// Once runningToolCount() is 0 afterwards, none of ours ever runs again.
void beginShutdown();

// Ends every running tool, as beginShutdown does, without refusing new ones (tests).
void cancelRunningTools();

} // namespace toolrunner

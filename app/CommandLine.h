#pragma once
// The application's command line, read before any window exists so that --help and
// --version work without a display.

#include "app/TerminalOptions.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct CommandLine {
    bool verbose = false; // the run's log also goes to standard error
    // --station: every hotspot attached, at most this many updating at once; 0 without it.
    int stationMaxUpdates = 0;
    // --ports: the station's port patterns; empty: every port.
    QStringList stationPorts;
    // --auto: the station starts each offered update itself.
    bool stationAuto = false;
    // --history-db: the server that keeps every station's record of attempts beside this
    // machine's; empty: the configuration file's, if any (see bridge/HistoryPlace.h).
    QString historyDb;

    // Set when the process ends right away: what to print, where, and the exit status.
    struct Finish {
        QString text;
        bool toStderr = false;
        int status = 0;
    };
    std::optional<Finish> finish;
    // Set when the arguments ask for the terminal face, with what they ask of it.
    std::optional<TerminalOptions> terminal;

    // `arguments` includes the program name first; `bundlePath` locates the firmware
    // package whose version --version names. Every bad command line, the terminal options'
    // combinations included, ends with exitstatus::kUsage.
    static CommandLine parse(const QStringList& arguments, const QString& bundlePath);
};

namespace cmdline {

// Every option the program takes: --help, --version and the run options. The manual page
// lists the same (a test compares them).
QList<QCommandLineOption> allOptions();
// Their names, short and long, without dashes.
QStringList optionNames();
// --verbose, --cli and the options only the terminal face reads.
QList<QCommandLineOption> runOptions();
// --max: 1 to kMaxStationUpdates hotspots updating at once.
constexpr int kMaxStationUpdates = 64;
std::optional<int> maxUpdates(const QString& text);
// --ports and the station window's list: shell patterns over port paths separated by commas;
// nullopt when one is not such a pattern (an empty one between commas included). A blank
// text is the empty list: every port.
std::optional<QStringList> portPatterns(const QString& text);
// True when the arguments ask for the terminal face (--cli, or any of its options).
bool wantsTerminal(const QStringList& arguments);
// --since: an ISO date (its local midnight) or local date and time; nullopt for anything else.
std::optional<QDateTime> sinceTime(const QString& text);
// With --history, --station takes a station's name (--station NAME or --station=NAME): takes it
// out of `arguments` and returns it; nullopt when there is none.
std::optional<QString> takeHistoryStation(QStringList& arguments);
// Fills `options` from the arguments; the reason when they are not acceptable.
std::optional<QString> readTerminalOptions(const QStringList& arguments, TerminalOptions& options);

} // namespace cmdline

#include "app/CommandLine.h"

#include "bridge/HistoryPlace.h"
#include "workflow/PackageReader.h"
#include "usb/usbport.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

QString versionText(const QString& bundlePath) {
    QString text = QStringLiteral("hotspot-updater %1\n").arg(QStringLiteral(HOTSPOT_VERSION));
    const std::optional<QString> package = package::readVersionText(package::versionFilePath(bundlePath));
    const QStringList pieces = package ? package::cutPieces(*package) : QStringList();
    text += pieces.size() >= package::kMinPieces
                ? QStringLiteral("firmware package %1\n").arg(pieces.front().trimmed())
                : QStringLiteral("no firmware package in %1\n").arg(bundlePath);
    return text;
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments, const QString& bundlePath) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of a USB-attached mobile WiFi hotspot.\n"
                       "Each run writes a log to %1.")
            .arg(QStringLiteral("$XDG_STATE_HOME/hotspot-updater/logs (default ~/.local/state/hotspot-updater/logs)")));
    parser.addOptions(cmdline::allOptions());
    const QString help = QStringLiteral("help");
    const QString version = QStringLiteral("version");

    CommandLine line;
    QStringList args = arguments;
    if (args.isEmpty())
        args << QStringLiteral("hotspot-updater");
    const auto refuse = [&line](const QString& reason) {
        line.finish = Finish{QStringLiteral("hotspot-updater: %1\nTry 'hotspot-updater --help'.\n").arg(reason), true,
                             exitstatus::kUsage};
        return line;
    };
    QStringList parsed = args;
    cmdline::takeHistoryStation(parsed);
    if (!parser.parse(parsed))
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Read before the application object exists: the usage line names us itself.
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: hotspot-updater"));
        line.finish = Finish{text, false, 0};
        return line;
    }
    if (parser.isSet(version)) {
        line.finish = Finish{versionText(bundlePath), false, 0};
        return line;
    }
    const bool station = parser.isSet(QStringLiteral("station"));
    const std::optional<int> max = cmdline::maxUpdates(parser.value(QStringLiteral("max")));
    if (!max)
        return refuse(QStringLiteral("--max takes a number of hotspots from 1 to %1").arg(cmdline::kMaxStationUpdates));
    if (parser.isSet(QStringLiteral("max")) && !station)
        return refuse(QStringLiteral("--max is for --station"));
    if (parser.isSet(QStringLiteral("ports")) && !station)
        return refuse(QStringLiteral("--ports is for --station"));
    const std::optional<QStringList> ports = cmdline::portPatterns(parser.value(QStringLiteral("ports")));
    // Given, an empty list would mean every port: refused like any other list that is none.
    if (!ports || (parser.isSet(QStringLiteral("ports")) && ports->isEmpty()))
        return refuse(QStringLiteral("--ports takes port patterns such as 1-2.* separated by commas, not '%1'")
                          .arg(parser.value(QStringLiteral("ports"))));
    line.stationPorts = *ports;
    line.stationAuto = parser.isSet(QStringLiteral("auto"));
    if (line.stationAuto && !station)
        return refuse(QStringLiteral("--auto is for --station"));
    if (line.stationAuto && parser.isSet(QStringLiteral("check")))
        return refuse(QStringLiteral("--auto cannot be used with --check"));
    if (station && parser.isSet(QStringLiteral("restore")))
        return refuse(QStringLiteral("--station cannot be used with --restore"));
    if (station && parser.isSet(QStringLiteral("discard-journals")))
        return refuse(QStringLiteral("--station cannot be used with --discard-journals"));
    if (station && parser.isSet(QStringLiteral("history")))
        return refuse(QStringLiteral("--station cannot be used with --history"));
    line.historyDb = parser.value(QStringLiteral("history-db"));
    QString badServer;
    if (parser.isSet(QStringLiteral("history-db")) && !history::serverUrl(line.historyDb, &badServer))
        return refuse(QStringLiteral("--history-db: ") + badServer);
    line.stationMaxUpdates = station ? *max : 0;
    if (cmdline::wantsTerminal(args)) {
        TerminalOptions terminal;
        if (const std::optional<QString> error = cmdline::readTerminalOptions(args, terminal))
            return refuse(*error);
        line.terminal = terminal;
    }
    line.verbose = parser.isSet(QStringLiteral("verbose"));
    return line;
}

namespace cmdline {

namespace {

constexpr int kMaxWaitSeconds = 24 * 60 * 60;

const QStringList kTerminalOnly = {QStringLiteral("check"), QStringLiteral("yes"), QStringLiteral("wait"),
                                   QStringLiteral("quiet"), QStringLiteral("json"), QStringLiteral("discard-journals"),
                                   QStringLiteral("finish"), QStringLiteral("other"), QStringLiteral("restore"),
                                   QStringLiteral("entry"), QStringLiteral("port"), QStringLiteral("other-calibration"),
                                   QStringLiteral("history"),
                                   QStringLiteral("since"), QStringLiteral("unit"), QStringLiteral("csv")};

std::optional<int> countFrom(const QString& text, int low, int high) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high)
        return std::nullopt;
    return n;
}

std::optional<int> waitSeconds(const QString& text) {
    return countFrom(text, 1, kMaxWaitSeconds);
}

// --history reads the record and touches nothing else: no option of a run goes with it.
std::optional<QString> readHistoryOptions(const QCommandLineParser& parser, TerminalOptions& options) {
    for (const char* name : {"check", "yes", "quiet", "discard-journals", "finish", "other", "restore"})
        if (parser.isSet(QString::fromLatin1(name)))
            return QStringLiteral("--history cannot be used with --%1").arg(QString::fromLatin1(name));
    if (parser.isSet(QStringLiteral("station")))
        return QStringLiteral("--station takes a station's name with --history");
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool csv = parser.isSet(QStringLiteral("csv"));
    if (json && csv)
        return QStringLiteral("--json and --csv cannot be used together");
    options.historyFormat = json  ? TerminalOptions::HistoryFormat::Json
                            : csv ? TerminalOptions::HistoryFormat::Csv
                                  : TerminalOptions::HistoryFormat::Table;
    if (parser.isSet(QStringLiteral("since"))) {
        const QString text = parser.value(QStringLiteral("since"));
        const std::optional<QDateTime> since = sinceTime(text);
        if (!since)
            return QStringLiteral("--since takes a date such as 2026-12-09 or a date and time such as 2026-12-09T14:00, not '%1'")
                .arg(text);
        options.historyFilter.since = *since;
    }
    options.historyFilter.port = parser.value(QStringLiteral("port"));
    if (parser.isSet(QStringLiteral("port")) && !usbport::isPortName(options.historyFilter.port))
        return QStringLiteral("'%1' is not a USB port path such as 1-2.3").arg(options.historyFilter.port);
    options.historyFilter.unit = parser.value(QStringLiteral("unit")).trimmed();
    if (parser.isSet(QStringLiteral("unit")) && options.historyFilter.unit.isEmpty())
        return QStringLiteral("--unit takes the unit's digest, or its start");
    return std::nullopt;
}

} // namespace

QList<QCommandLineOption> allOptions() {
    QList<QCommandLineOption> options{
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")},
        {QStringLiteral("version"), QStringLiteral("Show the version and the firmware package's version and exit.")},
    };
    return options + runOptions();
}

QStringList optionNames() {
    QStringList names;
    for (const QCommandLineOption& option : allOptions())
        names += option.names();
    return names;
}

QList<QCommandLineOption> runOptions() {
    return {
        {QStringLiteral("verbose"), QStringLiteral("Also print the run's log on standard error.")},
        {QStringLiteral("cli"), QStringLiteral("Run in the terminal, without a window.")},
        {QStringLiteral("check"),
         QStringLiteral("Report the device's and the package's versions; change nothing.")},
        {QStringLiteral("yes"), QStringLiteral("Start an offered update without asking.")},
        {QStringLiteral("wait"), QStringLiteral("Wait at most <seconds> for the device (default 120)."),
         QStringLiteral("seconds"), QStringLiteral("120")},
        {QStringLiteral("quiet"), QStringLiteral("Print only errors.")},
        {QStringLiteral("json"), QStringLiteral("Print one JSON object per event.")},
        {QStringLiteral("station"),
         QStringLiteral("Update every hotspot attached at once, each followed by its USB port. With --history, "
                        "--station <name>: only the attempts of that station.")},
        {QStringLiteral("ports"),
         QStringLiteral("With --station: only the hotspots at ports matching these patterns (such as 1-2.*,3-1)."),
         QStringLiteral("patterns")},
        {QStringLiteral("max"), QStringLiteral("With --station: update at most <count> at once (default 8)."),
         QStringLiteral("count"), QStringLiteral("8")},
        {QStringLiteral("auto"),
         QStringLiteral("With --station: update each hotspot as soon as it is found, with no keystroke, until ended.")},
        {QStringLiteral("discard-journals"),
         QStringLiteral("Give up unfinished updates without finishing them; their saved data stays in the backup store.")},
        {QStringLiteral("finish"),
         QStringLiteral("The hotspot at <port> is the one whose update stopped: finish it with the data saved from it. "
                        "Where several updates could be its own, <port>=<where> names the port that one ran at."),
         QStringLiteral("port")},
        {QStringLiteral("other"),
         QStringLiteral("The hotspot at <port> is not the one whose update stopped: update it as another hotspot."),
         QStringLiteral("port")},
        {QStringLiteral("restore"),
         QStringLiteral("List the stored copies of device data; with --entry and --port, put one back on a hotspot.")},
        {QStringLiteral("entry"), QStringLiteral("With --restore: the copies to put back, by the id the list shows (or their folder)."),
         QStringLiteral("id")},
        {QStringLiteral("other-calibration"),
         QStringLiteral("With --restore --yes: put the copies on the hotspot even though they hold another calibration than its own.")},
        {QStringLiteral("port"),
         QStringLiteral("With --restore: the USB port of the hotspot to put them on. With --history: only the attempts there."),
         QStringLiteral("port")},
        {QStringLiteral("history"),
         QStringLiteral("Print the record of update attempts, oldest first: a table, or with --json or --csv.")},
        {QStringLiteral("since"),
         QStringLiteral("With --history: only the attempts started since <date> (2026-12-09 or 2026-12-09T14:00, local time)."),
         QStringLiteral("date")},
        {QStringLiteral("unit"), QStringLiteral("With --history: only the attempts on the unit whose digest starts with <id>."),
         QStringLiteral("id")},
        {QStringLiteral("csv"), QStringLiteral("With --history: print CSV with a header line.")},
        {QStringLiteral("history-db"),
         QStringLiteral("Also keep the record of attempts on this PostgreSQL server (postgresql://user@host:5432/db, "
                        "with libpq's parameters such as ?sslmode=require), shared by every station; with --history, read "
                        "every station's record from it. Put its password in ~/.pgpass (or PGPASSFILE), not in the URL."),
         QStringLiteral("url")},
    };
}

std::optional<QDateTime> sinceTime(const QString& text) {
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (text.size() == 10 && date.isValid())
        return date.startOfDay();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (text.size() > 10 && time.isValid())
        return time;
    return std::nullopt;
}

std::optional<QStringList> portPatterns(const QString& text) {
    // Digits, dots, dashes, wildcards and bracket classes that close: a pattern that could
    // never match a port is refused, not waited on.
    static const QRegularExpression shape(QStringLiteral("^([0-9.*?-]|\\[!?[0-9.-]+\\])+$"));
    QStringList patterns;
    if (text.trimmed().isEmpty())
        return patterns;
    for (const QString& part : text.split(u',')) {
        const QString pattern = part.trimmed();
        if (!shape.match(pattern).hasMatch())
            return std::nullopt;
        patterns << pattern;
    }
    return patterns;
}

std::optional<int> maxUpdates(const QString& text) {
    return countFrom(text, 1, kMaxStationUpdates);
}

bool wantsTerminal(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOptions(runOptions());
    parser.parse(arguments); // unknown options are refused by the full parse, not here
    if (parser.isSet(QStringLiteral("cli")))
        return true;
    for (const QString& name : kTerminalOnly) {
        if (parser.isSet(name))
            return true;
    }
    return false;
}

std::optional<QString> takeHistoryStation(QStringList& arguments) {
    if (!arguments.contains(QStringLiteral("--history")))
        return std::nullopt;
    const QString option = QStringLiteral("--station");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(option + u'=')) {
            const QString name = arguments.takeAt(i).mid(option.size() + 1);
            return name;
        }
        if (arguments[i] == option && i + 1 < arguments.size() && !arguments[i + 1].startsWith(u'-')) {
            arguments.removeAt(i);
            return arguments.takeAt(i);
        }
    }
    return std::nullopt;
}

std::optional<QString> readTerminalOptions(const QStringList& given, TerminalOptions& options) {
    QStringList arguments = given;
    const std::optional<QString> station = takeHistoryStation(arguments);
    if (station && station->trimmed().isEmpty())
        return QStringLiteral("--station takes a station's name with --history");
    options.historyFilter.station = station.value_or(QString()).trimmed();
    QCommandLineParser parser;
    parser.addOptions(runOptions());
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front());
    const std::optional<int> wait = waitSeconds(parser.value(QStringLiteral("wait")));
    if (!wait)
        return QStringLiteral("--wait takes a number of seconds from 1 to %1").arg(kMaxWaitSeconds);
    options.check = parser.isSet(QStringLiteral("check"));
    options.yes = parser.isSet(QStringLiteral("yes"));
    options.waitSeconds = *wait;
    options.discardJournals = parser.isSet(QStringLiteral("discard-journals"));
    const QStringList finish = parser.value(QStringLiteral("finish")).split(u'=');
    if (finish.size() > 2)
        return QStringLiteral("--finish takes PORT or PORT=WHERE");
    options.finishAt = finish.front();
    options.finishFrom = finish.value(1);
    if (finish.size() == 2 && options.finishFrom.isEmpty())
        return QStringLiteral("--finish takes PORT or PORT=WHERE");
    options.otherAt = parser.value(QStringLiteral("other"));
    for (const QString& port : {options.finishAt, options.finishFrom, options.otherAt})
        if (!port.isEmpty() && !usbport::isPortName(port))
            return QStringLiteral("'%1' is not a USB port path such as 1-2.3").arg(port);
    if (!options.finishAt.isEmpty() && options.finishAt == options.otherAt)
        return QStringLiteral("--finish and --other cannot name the same port");
    options.restore = parser.isSet(QStringLiteral("restore"));
    options.history = parser.isSet(QStringLiteral("history"));
    options.historyDb = parser.value(QStringLiteral("history-db"));
    if (!options.restore && parser.isSet(QStringLiteral("entry")))
        return QStringLiteral("--entry is for --restore");
    options.restoreOtherCalibration = parser.isSet(QStringLiteral("other-calibration"));
    if (options.restoreOtherCalibration && !parser.isSet(QStringLiteral("entry")))
        return QStringLiteral("--other-calibration is for --restore --entry");
    if (!options.restore && !options.history && parser.isSet(QStringLiteral("port")))
        return QStringLiteral("--port is for --restore or --history");
    if (options.history)
        return readHistoryOptions(parser, options);
    for (const char* name : {"since", "unit", "csv"})
        if (parser.isSet(QString::fromLatin1(name)))
            return QStringLiteral("--%1 is for --history").arg(QString::fromLatin1(name));
    options.restoreEntry = parser.value(QStringLiteral("entry"));
    options.restorePort = parser.value(QStringLiteral("port"));
    if (options.restoreEntry.isEmpty() != options.restorePort.isEmpty())
        return QStringLiteral("--restore puts copies back with both --entry and --port");
    if (!options.restorePort.isEmpty() && !usbport::isPortName(options.restorePort))
        return QStringLiteral("'%1' is not a USB port path such as 1-2.3").arg(options.restorePort);
    if (options.restore && (options.check || options.discardJournals))
        return QStringLiteral("--restore cannot be used with --check or --discard-journals");
    if (options.discardJournals && (options.check || options.yes))
        return QStringLiteral("--discard-journals cannot be used with --check or --yes");
    if (options.check && options.yes)
        return QStringLiteral("--check and --yes cannot be used together");
    const bool quiet = parser.isSet(QStringLiteral("quiet"));
    const bool json = parser.isSet(QStringLiteral("json"));
    if (quiet && json)
        return QStringLiteral("--quiet and --json cannot be used together");
    options.output = json    ? TerminalOptions::Output::Json
                     : quiet ? TerminalOptions::Output::Quiet
                             : TerminalOptions::Output::Auto;
    return std::nullopt;
}

} // namespace cmdline

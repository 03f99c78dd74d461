#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace cmdline {

namespace {

constexpr int kMaxWaitSeconds = 24 * 60 * 60;

const QStringList kTerminalOnly = {QStringLiteral("check"), QStringLiteral("yes"), QStringLiteral("wait"),
                                   QStringLiteral("quiet"), QStringLiteral("json")};

std::optional<int> waitSeconds(const QString& text) {
    bool ok = false;
    const int seconds = text.toInt(&ok);
    if (!ok || seconds < 1 || seconds > kMaxWaitSeconds)
        return std::nullopt;
    return seconds;
}

} // namespace

void addTerminalOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {QStringLiteral("cli"), QStringLiteral("Run in the terminal, without a window.")},
        {QStringLiteral("check"),
         QStringLiteral("Report the device's and the package's versions; change nothing.")},
        {QStringLiteral("yes"), QStringLiteral("Start an offered update without asking.")},
        {QStringLiteral("wait"), QStringLiteral("Wait at most <seconds> for the device (default 120)."),
         QStringLiteral("seconds"), QStringLiteral("120")},
        {QStringLiteral("quiet"), QStringLiteral("Print only errors.")},
        {QStringLiteral("json"), QStringLiteral("Print one JSON object per event.")},
    });
}

bool wantsTerminal(const QStringList& arguments) {
    QCommandLineParser parser;
    addTerminalOptions(parser);
    parser.parse(arguments); // unknown options are the window's business here
    if (parser.isSet(QStringLiteral("cli")))
        return true;
    for (const QString& name : kTerminalOnly) {
        if (parser.isSet(name))
            return true;
    }
    return false;
}

std::optional<QString> readTerminalOptions(const QStringList& arguments, TerminalOptions& options) {
    QCommandLineParser parser;
    addTerminalOptions(parser);
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

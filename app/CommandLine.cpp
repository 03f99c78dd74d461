#include "app/CommandLine.h"

#include "workflow/PackageReader.h"

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
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and the firmware package's version and exit."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Also print the run's log on standard error."));
    parser.addOptions({help, version, verbose});

    CommandLine line;
    QStringList args = arguments;
    if (args.isEmpty())
        args << QStringLiteral("hotspot-updater");
    if (!parser.parse(args)) {
        line.finish = Finish{QStringLiteral("hotspot-updater: %1\nTry 'hotspot-updater --help'.\n")
                                 .arg(parser.errorText()),
                             true, 2};
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.finish = Finish{QStringLiteral("hotspot-updater: unexpected argument '%1'\nTry 'hotspot-updater --help'.\n")
                                 .arg(parser.positionalArguments().first()),
                             true, 2};
        return line;
    }
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
    line.verbose = parser.isSet(verbose);
    return line;
}

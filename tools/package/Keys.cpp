// Which package keys a command trusts: the folder given with --keys, or else the bundle's
// own keys and the machine's, as the application takes them (root's files only).

#include "Commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString ownBundle() {
    QDir dir(QFileInfo(QCoreApplication::applicationFilePath()).absolutePath());
    if (!dir.cdUp() || !dir.cdUp())
        return {};
    return QFileInfo(dir.filePath(QStringLiteral("Contents/Resources"))).isDir() ? dir.path() : QString();
}

QCommandLineOption keysOption() {
    return QCommandLineOption(QStringLiteral("keys"),
                              QStringLiteral("Trust the public keys (*.pub) in this folder instead of the installed ones."),
                              QStringLiteral("dir"));
}

std::optional<package::TrustedKeys> trustedKeys(const QCommandLineParser& parser, const QString& bundle) {
    package::TrustedKeys::Source source;
    if (parser.isSet(QStringLiteral("keys")))
        source.folders = {parser.value(QStringLiteral("keys"))};
    else
        source = package::TrustedKeys::Source::installed(
            bundle.isEmpty() ? QString() : QDir(bundle).filePath(QStringLiteral("Contents/Resources")),
            package::kSystemKeysDir, 0);
    package::TrustedKeys keys = package::TrustedKeys::load(source, [](const QString& line) {
        QTextStream(stderr) << "hotspot-package: " << line << "\n";
    });
    // A mistyped --keys must not turn the check into the unsigned one.
    if (parser.isSet(QStringLiteral("keys")) && keys.empty())
        return std::nullopt;
    return keys;
}

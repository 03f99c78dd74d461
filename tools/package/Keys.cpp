// Which package keys a command trusts: the bundle's own keys and the machine's, as the
// application takes them (root's files only), and the folder given with --keys beside them.

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
                              QStringLiteral("Trust the public keys (*.pub) in this folder too, beside the installed ones."),
                              QStringLiteral("dir"));
}

package::TrustedKeys::Source installedKeys(const QString& bundle) {
    return package::TrustedKeys::Source::installed(
        bundle.isEmpty() ? QString() : QDir(bundle).filePath(QStringLiteral("Contents/Resources")),
        package::kSystemKeysDir, 0);
}

package::TrustedKeys loadKeys(const package::TrustedKeys::Source& source) {
    return package::TrustedKeys::load(source, [](const QString& line) {
        QTextStream(stderr) << "hotspot-package: " << line << "\n";
    });
}

std::optional<package::TrustedKeys> trustedKeys(const QCommandLineParser& parser, const QString& bundle) {
    package::TrustedKeys::Source source = installedKeys(bundle);
    if (parser.isSet(QStringLiteral("keys"))) {
        // A mistyped --keys must not leave the check to the installed keys alone.
        if (!QFileInfo(parser.value(QStringLiteral("keys"))).isDir())
            return std::nullopt;
        source.add(parser.value(QStringLiteral("keys")));
    }
    return loadKeys(source);
}

#include "bridge/HistoryPlace.h"
#include "bridge/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>

#include <sys/stat.h>

namespace history {

namespace {

// As ssh refuses a key file: a password is kept only where its owner alone reaches it.
std::optional<QString> exposedPassword(const QString& config, const QString& url) {
    struct stat status {};
    if (::stat(QFile::encodeName(config).constData(), &status) != 0)
        return QStringLiteral("cannot read %1").arg(config);
    if ((status.st_mode & 077) == 0 || !namesPassword(url))
        return std::nullopt;
    return QStringLiteral("%1 holds a password that others can read (mode %2): make it private with "
                          "'chmod 600 %1', or better, move the password to ~/.pgpass")
        .arg(config)
        .arg(status.st_mode & 0777, 4, 8, QLatin1Char('0'));
}

} // namespace

QString configPath() {
    return configFolder() + QStringLiteral("/history.conf");
}

QString stationName(const QString& config) {
    QString name;
    if (QFileInfo::exists(config))
        name = QSettings(config, QSettings::IniFormat).value(QStringLiteral("station/name")).toString().trimmed();
    return name.isEmpty() ? QSysInfo::machineHostName() : name;
}

std::optional<HistoryPlace> place(const QString& localPath, const QString& option, const QString& config, QString* why) {
    HistoryPlace place{localPath, {}};
    QString text = option;
    QString from = QStringLiteral("--history-db");
    if (text.isEmpty() && QFileInfo::exists(config)) {
        QSettings settings(config, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError) {
            *why = QStringLiteral("cannot read %1").arg(config);
            return std::nullopt;
        }
        // Unquoted commas (several hosts) make a list of the value.
        const QVariant value = settings.value(QStringLiteral("history/db"));
        text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString();
        from = config;
        if (const std::optional<QString> exposed = exposedPassword(config, text)) {
            *why = *exposed;
            return std::nullopt;
        }
    }
    if (text.isEmpty())
        return place;
    QString reason;
    const std::optional<QString> url = serverUrl(text, &reason);
    if (!url) {
        *why = from + QStringLiteral(": ") + reason;
        return std::nullopt;
    }
    place.server = *url;
    return place;
}

} // namespace history

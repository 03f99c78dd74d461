#include "core/Records.h"

#include <QDateTime>
#include <QJsonArray>

#include <unistd.h>

namespace sim {

namespace {
QJsonObject base(const QString& kind, const QString& event, const QString& personality)
{
    return QJsonObject{
        {"kind", kind},
        {"event", event},
        {"personality", personality},
        {"pid", double(::getpid())},
        // A tool's parent is the updater that ran it: tests tell two updaters' runs apart.
        {"ppid", double(::getppid())},
        {"time_ms", double(QDateTime::currentMSecsSinceEpoch())},
    };
}
} // namespace

QJsonObject toolRecord(const QString& tool, const QStringList& args, const QString& personality)
{
    QJsonObject r = base(tool, QStringLiteral("run"), personality);
    r.insert(QStringLiteral("args"), QJsonArray::fromStringList(args));
    return r;
}

QJsonObject usbRecord(const QString& event, const QString& identity, int result,
                      const QString& personality)
{
    QJsonObject r = base(QStringLiteral("usb"), event, personality);
    r.insert(QStringLiteral("identity"), identity);
    r.insert(QStringLiteral("result"), result);
    return r;
}

} // namespace sim

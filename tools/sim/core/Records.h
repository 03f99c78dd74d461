#pragma once
// Records of what the device was asked, one JSON object per line of records.jsonl.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sim {

QJsonObject toolRecord(const QString& tool, const QStringList& args, const QString& personality);
QJsonObject usbRecord(const QString& event, const QString& identity, int result,
                      const QString& personality);

} // namespace sim

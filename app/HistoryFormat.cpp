#include "app/HistoryFormat.h"

#include <QJsonDocument>
#include <QStringList>

namespace historyformat {

namespace {

// The unit's digest is long; its start tells units apart on one bench.
constexpr int kShortDigest = 12;

QString utcText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QString orDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QStringList tableRow(const Attempt& a) {
    const QString versions = (a.versionBefore.isEmpty() ? QStringLiteral("?") : a.versionBefore) + QStringLiteral(" -> ") +
                             (a.versionAfter.isEmpty() ? QStringLiteral("?") : a.versionAfter);
    return {a.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            orDash(a.port),
            orDash(a.unit.left(kShortDigest)),
            versions,
            orDash(a.packageVersion),
            orDash(a.outcome),
            orDash(a.phase),
            duration(a)};
}

// The keys of toJson(), in the CSV's column order.
const char* const kKeys[] = {"id",             "started",       "ended",  "station", "port",  "unit",
                             "versionBefore",  "versionAfter",  "packageVersion",     "packageDigest",
                             "signer",         "phase",         "phaseMs", "result",  "outcome", "runLog"};

QString csvValue(const QJsonValue& value) {
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isDouble())
        return QString::number(value.toInt());
    return value.toString(); // null (running: no end) is an empty field
}

} // namespace

QString duration(const Attempt& a) {
    if (!a.started.isValid() || !a.ended.isValid())
        return QStringLiteral("-");
    const qint64 secs = std::max<qint64>(a.started.secsTo(a.ended), 0);
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2").arg(secs / 60 % 60).arg(secs % 60, 2, 10, QLatin1Char('0'));
    if (secs < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2").arg(secs / 3600).arg(minutesAndSeconds.rightJustified(5, QLatin1Char('0')));
}

QString table(const std::vector<Attempt>& attempts, bool withStation) {
    std::vector<QStringList> rows{{QStringLiteral("STARTED"), QStringLiteral("PORT"), QStringLiteral("UNIT"),
                                   QStringLiteral("VERSIONS"), QStringLiteral("PACKAGE"), QStringLiteral("OUTCOME"),
                                   QStringLiteral("PHASE"), QStringLiteral("TOOK")}};
    for (const Attempt& a : attempts)
        rows.push_back(tableRow(a));
    if (withStation) {
        rows.front().insert(1, QStringLiteral("STATION"));
        for (std::size_t i = 1; i < rows.size(); ++i)
            rows[i].insert(1, orDash(attempts[i - 1].station));
    }
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        text += line + u'\n';
    }
    return text;
}

QJsonObject toJson(const Attempt& a) {
    return {{QStringLiteral("id"), a.id},
            {QStringLiteral("started"), utcText(a.started)},
            {QStringLiteral("ended"), a.ended.isValid() ? QJsonValue(utcText(a.ended)) : QJsonValue()},
            {QStringLiteral("station"), a.station},
            {QStringLiteral("port"), a.port},
            {QStringLiteral("unit"), a.unit},
            {QStringLiteral("versionBefore"), a.versionBefore},
            {QStringLiteral("versionAfter"), a.versionAfter},
            {QStringLiteral("packageVersion"), a.packageVersion},
            {QStringLiteral("packageDigest"), a.packageDigest},
            {QStringLiteral("signer"), a.signer},
            {QStringLiteral("phase"), a.phase},
            {QStringLiteral("phaseMs"), a.phaseMs},
            {QStringLiteral("result"), a.result},
            {QStringLiteral("outcome"), a.outcome},
            {QStringLiteral("runLog"), a.runLog}};
}

QString jsonLines(const std::vector<Attempt>& attempts) {
    QString text;
    for (const Attempt& a : attempts)
        text += QString::fromUtf8(QJsonDocument(toJson(a)).toJson(QJsonDocument::Compact)) + u'\n';
    return text;
}

QString csvField(const QString& text) {
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); }))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString csv(const std::vector<Attempt>& attempts) {
    QStringList header;
    for (const char* key : kKeys)
        header << QString::fromLatin1(key);
    QString text = header.join(u',') + QStringLiteral("\r\n");
    for (const Attempt& a : attempts) {
        const QJsonObject object = toJson(a);
        QStringList fields;
        for (const char* key : kKeys)
            fields << csvField(csvValue(object.value(QLatin1String(key))));
        text += fields.join(u',') + QStringLiteral("\r\n");
    }
    return text;
}

} // namespace historyformat

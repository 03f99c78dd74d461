#include "bridge/UpdateJournal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr std::array<std::pair<JournalPhase, const char*>, 7> kPhaseNames{{
    {JournalPhase::Saving, "saving"},
    {JournalPhase::Saved, "saved"},
    {JournalPhase::BootLoader, "boot loader"},
    {JournalPhase::Image, "image"},
    {JournalPhase::Restarted, "restarted"},
    {JournalPhase::DataBack, "data back"},
    {JournalPhase::Done, "done"},
}};

QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// Reads the fields of one JSON object; the first fault found is the one reported.
class FieldReader {
public:
    FieldReader(QJsonObject json, QString where, QString& error)
        : m_json(std::move(json)), m_where(std::move(where)), m_error(error) {}

    void fail(const QString& why) {
        if (m_error.isEmpty())
            m_error = m_where + why;
    }

    QJsonValue value(const char* key, QJsonValue::Type type, const char* typeName) {
        const QJsonValue value = m_json.value(QLatin1String(key));
        if (value.type() != type) {
            fail(QStringLiteral("\"%1\" is %2, not %3")
                     .arg(QLatin1String(key),
                          value.isUndefined() ? QStringLiteral("missing")
                                              : QStringLiteral("of another type"),
                          QLatin1String(typeName)));
            return {};
        }
        return value;
    }

    QString text(const char* key) {
        const QString text = value(key, QJsonValue::String, "a text").toString();
        // A "\ud800" escape makes a half character that no file could hold again.
        if (!text.isValidUtf16())
            fail(QStringLiteral("\"%1\" holds half a character").arg(QLatin1String(key)));
        return text;
    }

    QString digest(const char* key) {
        static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
        const QString text = this->text(key);
        if (!sha256.match(text).hasMatch())
            fail(QStringLiteral("\"%1\" is not 64 lower-case hex digits").arg(QLatin1String(key)));
        return text;
    }

    int count(const char* key) {
        const double number = value(key, QJsonValue::Double, "a number").toDouble();
        if (number < 0 || number > std::numeric_limits<int>::max() ||
            std::floor(number) != number) {
            fail(QStringLiteral("\"%1\" is not a count").arg(QLatin1String(key)));
            return 0;
        }
        return static_cast<int>(number);
    }

    QDateTime time(const char* key) {
        static const QRegularExpression utc(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d{3})?Z$"));
        const QString text = this->text(key);
        const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!utc.match(text).hasMatch() || !time.isValid())
            fail(QStringLiteral("\"%1\" is not a UTC time").arg(QLatin1String(key)));
        return time.toUTC();
    }

    JournalPhase phase(const char* key) {
        const QString name = text(key);
        for (const auto& [phase, phaseText] : kPhaseNames)
            if (name == QLatin1String(phaseText))
                return phase;
        fail(QStringLiteral("\"%1\" names no phase").arg(QLatin1String(key)));
        return JournalPhase::Saving;
    }

    QJsonArray list(const char* key) { return value(key, QJsonValue::Array, "a list").toArray(); }

private:
    QJsonObject m_json;
    QString m_where;
    QString& m_error;
};

std::vector<JournalFile> readFiles(const QJsonArray& list, QString& error) {
    std::vector<JournalFile> files;
    for (qsizetype i = 0; i < list.size(); ++i) {
        FieldReader file(list[i].toObject(), QStringLiteral("files[%1]: ").arg(i), error);
        if (!list[i].isObject())
            file.fail(QStringLiteral("not an object"));
        files.push_back({file.text("devicePath"), file.digest("sha256")});
        if (files.back().devicePath.isEmpty())
            file.fail(QStringLiteral("\"devicePath\" is empty"));
    }
    return files;
}

QStringList readEntries(const QJsonArray& list, FieldReader& field) {
    QStringList entries;
    for (const QJsonValue& value : list) {
        entries << value.toString();
        if (!value.isString() || !entries.back().startsWith(u'/'))
            field.fail(QStringLiteral("\"foundEntries\" holds something that is not an absolute path"));
    }
    return entries;
}

QStringList readDigests(const QJsonArray& list, FieldReader& field) {
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    QStringList digests;
    for (const QJsonValue& value : list) {
        digests << value.toString();
        if (!sha256.match(digests.back()).hasMatch())
            field.fail(QStringLiteral("\"afterPush\" holds something that is not 64 lower-case hex digits"));
    }
    return digests;
}

QString attemptOf(const QJsonValue& value, FieldReader& field) {
    if (value.isUndefined())
        return {};
    static const QRegularExpression shape(QStringLiteral("^[0-9a-f-]{1,64}$"));
    if (!value.isString() || !shape.match(value.toString()).hasMatch())
        field.fail(QStringLiteral("\"attempt\" is not an attempt's id"));
    return value.toString();
}

UpdateJournal readJournal(const QJsonObject& json, QString& error) {
    FieldReader field(json, QString(), error);
    const int format = field.count("format");
    if (error.isEmpty() && (format < 1 || format > UpdateJournal::kFormat))
        field.fail(QStringLiteral("format %1 is not 1 to %2").arg(format).arg(UpdateJournal::kFormat));
    UpdateJournal journal;
    journal.port = field.text("port");
    journal.packageVersion = field.text("packageVersion");
    journal.versionSha256 = field.digest("versionSha256");
    journal.storeEntry = field.text("storeEntry");
    journal.files = readFiles(field.list("files"), error);
    if (format >= 2) {
        journal.foundEntries = readEntries(field.list("foundEntries"), field);
        journal.afterPush = readDigests(field.list("afterPush"), field);
    }
    journal.phase = field.phase("phase");
    journal.image = field.count("image");
    journal.images = field.count("images");
    journal.resumes = field.count("resumes");
    journal.created = field.time("created");
    journal.changed = field.time("changed");
    journal.attempt = attemptOf(json.value(QStringLiteral("attempt")), field);
    // Relative, the entry would be looked for wherever the next run starts.
    if (!journal.storeEntry.startsWith(u'/'))
        field.fail(QStringLiteral("\"storeEntry\" is not an absolute path"));
    if (journal.image > journal.images)
        field.fail(QStringLiteral("image %1 of %2").arg(journal.image).arg(journal.images));
    if (journal.phase == JournalPhase::Image && journal.image < 1)
        field.fail(QStringLiteral("the phase \"image\" has no image"));
    return journal;
}

} // namespace

QString phaseName(JournalPhase phase) {
    for (const auto& [known, name] : kPhaseNames)
        if (known == phase)
            return QLatin1String(name);
    return {};
}

QByteArray UpdateJournal::toJson() const {
    QJsonArray list;
    for (const JournalFile& file : files)
        list.append(QJsonObject{{"devicePath", file.devicePath}, {"sha256", file.sha256}});
    QJsonObject json{{"format", kFormat},
                           {"port", port},
                           {"packageVersion", packageVersion},
                           {"versionSha256", versionSha256},
                           {"storeEntry", storeEntry},
                           {"files", list},
                           {"foundEntries", QJsonArray::fromStringList(foundEntries)},
                           {"afterPush", QJsonArray::fromStringList(afterPush)},
                           {"phase", phaseName(phase)},
                           {"image", image},
                           {"images", images},
                           {"resumes", resumes},
                           {"created", timeText(created)},
                           {"changed", timeText(changed)}};
    if (!attempt.isEmpty())
        json.insert(QStringLiteral("attempt"), attempt);
    return QJsonDocument(json).toJson();
}

JournalReading parseJournal(const QByteArray& bytes) {
    // The JSON parser would take some invalid sequences in; the journal never holds any.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    if (utf8.hasError())
        return {std::nullopt, QStringLiteral("not UTF-8")};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, QStringLiteral("not JSON: %1 at %2")
                                  .arg(parseError.errorString())
                                  .arg(parseError.offset)};
    if (!document.isObject())
        return {std::nullopt, QStringLiteral("not a JSON object")};
    QString error;
    UpdateJournal journal = readJournal(document.object(), error);
    if (!error.isEmpty())
        return {std::nullopt, error};
    return {std::move(journal), {}};
}

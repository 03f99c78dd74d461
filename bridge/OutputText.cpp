#include "bridge/OutputText.h"

#include "bridge/Contract.h"

#include <limits>

namespace output {

bool mentions(const ToolResult& result, const QString& text) {
    return result && result->contains(text, Qt::CaseSensitive);
}

bool reportsError(const ToolResult& result) {
    return mentions(result, contract::kError);
}

int32_t readInt(QStringView text) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t magnitude = 0; // saturates just past the int32 range
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > kMax + 1)
            magnitude = kMax + 1;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

QString adbDeviceState(const ToolResult& listing, const QString& serial) {
    if (!listing)
        return QString();
    for (QStringView line : QStringView(*listing).split(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab > 0 && line.first(tab).trimmed() == serial)
            return line.mid(tab + 1).trimmed().toString();
    }
    return QString();
}

ToolResult lineAtPort(const ToolResult& longListing, const QString& port) {
    if (!longListing)
        return std::nullopt;
    const QString word = contract::kUsbPortPrefix + port;
    for (QStringView line : QStringView(*longListing).split(u'\n')) {
        for (QStringView token : line.split(u' ', Qt::SkipEmptyParts)) {
            if (token.trimmed() == word)
                return line.toString();
        }
    }
    return QString();
}

QStringList portsListed(const ToolResult& longListing) {
    QStringList ports;
    if (!longListing)
        return ports;
    for (QStringView line : QStringView(*longListing).split(u'\n')) {
        for (QStringView token : line.split(u' ', Qt::SkipEmptyParts)) {
            const QStringView word = token.trimmed();
            if (word.startsWith(contract::kUsbPortPrefix) && word.size() > contract::kUsbPortPrefix.size())
                ports << word.mid(contract::kUsbPortPrefix.size()).toString();
        }
    }
    return ports;
}

QString adbDeviceStateAt(const ToolResult& longListing, const QString& serial, const QString& port) {
    const ToolResult line = lineAtPort(longListing, port);
    if (!line)
        return QString();
    // The state may have spaces of its own ("no permissions (...); see [...]").
    const QString text = line->simplified();
    const QString ours = serial + u' ';
    const qsizetype end = text.indexOf(u' ' + contract::kUsbPortPrefix + port);
    if (!text.startsWith(ours) || end < ours.size())
        return QString();
    return text.mid(ours.size(), end - ours.size()).trimmed();
}

bool listsNoPermission(const ToolResult& listing) {
    return mentions(listing, QStringLiteral("no permissions"));
}

bool hasVersionReply(const QString& reply) {
    return reply.contains(contract::kVersionReplyPrefix, Qt::CaseInsensitive);
}

QString versionFromReply(const QString& reply) {
    const QString rest = reply.mid(contract::kVersionReplyPrefix.size());
    return rest.isEmpty() ? QString() : parseVersionNumber(rest);
}

QString parseVersionNumber(const QString& text) {
    // trimmed() drops every QChar::isSpace character, line and paragraph separators included.
    return text.trimmed().split(u'_').constLast();
}

} // namespace output

#include "bridge/ServerAddress.h"

#include <QRegularExpression>
#include <QUrl>
#include <libpq-fe.h>
#include <memory>

namespace history {

namespace {

const QString kMask = QStringLiteral("***");
const QString kExample = QStringLiteral("postgresql://user@host:5432/dbname");

struct Span {
    qsizetype from = 0;
    qsizetype length = 0;
};

// Where passwords sit in `text`, first to last. A URL's user part runs to its last '@', so a
// password whose '@', '/' or '#' was left unencoded is covered whole.
std::vector<Span> passwordSpans(const QString& text) {
    std::vector<Span> spans;
    const QString separator = QStringLiteral("://");
    for (qsizetype start = text.indexOf(separator); start >= 0;) {
        const qsizetype rest = start + separator.size();
        const qsizetype next = text.indexOf(separator, rest);
        const qsizetype end = next < 0 ? text.size() : next;
        const qsizetype at = text.lastIndexOf(u'@', end - 1);
        const qsizetype colon = text.indexOf(u':', rest);
        if (at >= rest && colon >= 0 && colon < at)
            spans.push_back({colon + 1, at - colon - 1});
        start = next;
    }
    static const QRegularExpression pair(QStringLiteral("(?:^|[?&\\s])password=([^&\\s]*)"));
    for (auto it = pair.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        spans.push_back({match.capturedStart(1), match.capturedLength(1)});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    return spans;
}

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

} // namespace

QString masked(const QString& text) {
    QString out = text;
    const std::vector<Span> spans = passwordSpans(text);
    // From the last, so earlier positions still hold.
    for (auto it = spans.rbegin(); it != spans.rend(); ++it)
        if (it->length > 0)
            out.replace(it->from, it->length, kMask);
    return out;
}

QString masked(const QString& message, const QString& url) {
    QString out = masked(message);
    for (const Span& span : passwordSpans(url)) {
        const QString secret = url.mid(span.from, span.length);
        for (const QString& form : {secret, QUrl::fromPercentEncoding(secret.toUtf8())})
            if (!form.isEmpty())
                out.replace(form, kMask);
    }
    return out;
}

std::optional<std::vector<ServerParameter>> serverParameters(const QString& url, QString* why) {
    const QString text = url.trimmed();
    const auto refuse = [&](const QString& reason) {
        *why = QStringLiteral("'%1' is not a history server's address such as %2%3").arg(masked(text), kExample, reason);
        return std::nullopt;
    };
    if (!text.startsWith(QLatin1String("postgresql://")) && !text.startsWith(QLatin1String("postgres://")))
        return refuse({});
    char* error = nullptr;
    Options options(PQconninfoParse(text.toUtf8().constData(), &error), &PQconninfoFree);
    if (!options) {
        const QString reason = error ? QString::fromUtf8(error).simplified() : QStringLiteral("out of memory");
        PQfreemem(error);
        return refuse(QStringLiteral(": ") + masked(reason, text));
    }
    std::vector<ServerParameter> parameters;
    QString password;
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
        if (!option->val)
            continue;
        parameters.push_back({QString::fromUtf8(option->keyword), QString::fromUtf8(option->val)});
        if (parameters.back().keyword == QLatin1String("password"))
            password = parameters.back().value;
    }
    // libpq ends the user part at the first '@' or '/': the rest of such a password would be
    // taken for the host and shown in every message about it.
    for (const Span& span : passwordSpans(text))
        if (QUrl::fromPercentEncoding(text.mid(span.from, span.length).toUtf8()) != password)
            return refuse(QStringLiteral(": its password must have each '@', '/', '#' or '%' written as %40, %2F, %23 or %25"));
    return parameters;
}

std::optional<QString> serverUrl(const QString& text, QString* why) {
    if (!serverParameters(text, why))
        return std::nullopt;
    return text.trimmed();
}

bool namesPassword(const QString& url) {
    QString why;
    const auto parameters = serverParameters(url, &why);
    // One that does not parse may hold one all the same.
    if (!parameters)
        return masked(url) != url;
    return std::any_of(parameters->begin(), parameters->end(),
                       [](const ServerParameter& p) { return p.keyword == QLatin1String("password"); });
}

} // namespace history

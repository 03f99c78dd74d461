#include "workflow/Messages.h"

#include <QCoreApplication>

namespace messages {

QString lookup(const char* key) {
    return QCoreApplication::translate("Localizable", key);
}

QString fill(const QString& format, const QString& arg) {
    // Plain replacement: a table entry is data, never a printf format.
    QString text = format;
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at >= 0)
        text.replace(at, 2, arg);
    return text;
}

QString lookupFilled(const char* key, const QString& arg) {
    return fill(lookup(key), arg);
}

} // namespace messages

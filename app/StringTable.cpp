#include "app/StringTable.h"

#include <QCoreApplication>
#include <QTranslator>
#include <memory>

namespace {

std::unique_ptr<QTranslator>& current() {
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

} // namespace

namespace stringtable {

bool install(const QString& resourcesDir, const QLocale& locale) {
    if (current()) {
        QCoreApplication::removeTranslator(current().get());
        current().reset();
    }
    auto translator = std::make_unique<QTranslator>();
    const QString name = QStringLiteral("Localizable");
    const bool found = translator->load(locale, name, QStringLiteral("_"), resourcesDir) ||
                       translator->load(name + QStringLiteral("_en"), resourcesDir);
    if (!found)
        return false;
    QCoreApplication::installTranslator(translator.get());
    current() = std::move(translator);
    return true;
}

} // namespace stringtable

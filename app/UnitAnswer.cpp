#include "app/UnitAnswer.h"

#include <QLocale>

GivenAnswer givenAnswer(const UnitQuestion& question, const TerminalOptions& options) {
    const QString& port = question.port;
    if (port.isEmpty())
        return GivenAnswer::None;
    if (port == options.otherAt)
        return GivenAnswer::Another;
    if (port != options.finishAt)
        return GivenAnswer::None;
    if (options.finishFrom.isEmpty())
        return question.journalPorts.size() > 1 ? GivenAnswer::NotEnough : GivenAnswer::ItsUnit;
    if (!question.journalPorts.contains(options.finishFrom))
        return GivenAnswer::NotEnough;
    return question.journalPort == options.finishFrom ? GivenAnswer::ItsUnit : GivenAnswer::Another;
}

QString elsewhere(const UnitQuestion& question) {
    return question.journalPort.isEmpty() || question.journalPort == question.port
               ? QString()
               : QStringLiteral(" at ") + question.journalPort;
}

QString howToDecide(const UnitQuestion& question) {
    const QString port = question.port.isEmpty() ? QStringLiteral("PORT") : question.port;
    const QString when = QLocale().toString(question.stopped.toLocalTime(), QLocale::ShortFormat);
    if (question.journalPorts.size() > 1)
        return QStringLiteral("may be the hotspot of any of %1 updates that did not finish (they ran at %2), and "
                              "nothing shows which: it was left untouched. Run again with --finish %3=WHERE, WHERE "
                              "being the port its update ran at, to finish that update on it with the data saved "
                              "then, or with --other %3 to update it as another hotspot")
            .arg(question.journalPorts.size())
            .arg(question.journalPorts.join(QStringLiteral(", ")), port);
    return QStringLiteral("may be the hotspot whose update stopped%1 on %2, and nothing shows whether it is: it was "
                          "left untouched. Run again with --finish %3 to finish that update on it with the data saved "
                          "then, or with --other %3 to update it as another hotspot")
        .arg(elsewhere(question), when, port);
}

#include "app/MessageBoxes.h"
#include "app/Application.h"
#include "workflow/DeviceWorkflow.h"
#include "workflow/Messages.h"

#include <QLocale>

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace messageboxes {

void openAlert(QWidget* parent, const QString& text, const QString& resourcesPath, Application& application) {
    auto* alert = new QMessageBox(parent);
    alert->setObjectName(QStringLiteral("alert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setText(text);
    // The untranslated "OK" is deliberate: the alert must be answerable without a table.
    QPushButton* ok = alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    // QIcon picks error@2x.png by itself on a high-density screen.
    const QIcon icon(resourcesPath + QStringLiteral("/error.png"));
    if (!icon.isNull())
        alert->setIconPixmap(icon.pixmap(QSize(64, 64), alert->devicePixelRatioF()));
    QObject::connect(alert, &QMessageBox::buttonClicked, alert,
                     [a = &application, ok](QAbstractButton* b) { a->alertAnswered(b == ok); });
    alert->open();
}

void openNotice(QWidget* parent, const QString& text) {
    auto* notice = new QMessageBox(QMessageBox::Information, QString(), text, QMessageBox::Ok, parent);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setModal(false);
    notice->show();
}

QMessageBox* openUnitQuestion(QWidget* parent, const UnitQuestion& question, DeviceWorkflow& unit) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("unitQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Question);
    const QString when = QLocale().toString(question.stopped.toLocalTime(), QLocale::ShortFormat);
    box->setText(messages::lookupFilled("stat Is this the hotspot whose update stopped on %s ?", when));
    QString info = messages::lookupFilled("info Its saved data goes onto it only if it is. The update was to %s.",
                                          question.packageVersion);
    // A unit at another port than its update's is the case to think twice about: said in the box.
    if (!question.journalPort.isEmpty() && !question.port.isEmpty() && question.journalPort != question.port)
        info = messages::lookupFilled("info That update ran at the port %s; this hotspot is at another.",
                                      question.journalPort) +
               u'\n' + info;
    box->setInformativeText(info);
    QPushButton* finish = box->addButton(messages::lookup("btn Finish with the saved data"), QMessageBox::ActionRole);
    finish->setObjectName(QStringLiteral("finishWithSavedData"));
    QPushButton* other = box->addButton(messages::lookup("btn Update it as another hotspot"), QMessageBox::ActionRole);
    other->setObjectName(QStringLiteral("anotherHotspot"));
    // No default, no escape, and Return presses neither: the data goes one way or the other
    // only by a choice.
    box->setDefaultButton(static_cast<QPushButton*>(nullptr));
    finish->setAutoDefault(false);
    other->setAutoDefault(false);
    const std::optional<UnitQuestion> standing = unit.session().question();
    const quint64 asked = standing ? standing->asked : ~quint64(0); // none stands: no answer applies
    box->setProperty("asked", asked);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [&unit, finish, asked](QAbstractButton* b) { unit.answer(b == finish, asked); });
    box->open();
    return box;
}

void closeUnitQuestion(QMessageBox* box) {
    // Without an escape button the box refuses a close: it is taken down instead.
    box->hide();
    box->deleteLater();
}

} // namespace messageboxes

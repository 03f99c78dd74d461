#include "app/MessageBoxes.h"
#include "app/Application.h"

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

} // namespace messageboxes

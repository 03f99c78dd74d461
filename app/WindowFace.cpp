#include "app/WindowFace.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ProgressBarView.h"

#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kAlertFirstButton = 1000;
constexpr qint64 kAlertOtherButton = 1001;

QString percentText(double fraction) {
    // A fraction outside [0, 1] (or not a number) would overflow the integer and
    // show nonsense; the bar never shows more than its range.
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return QString::asprintf("%d %%", static_cast<int>(100.0 * clamped));
}

} // namespace

WindowFace::WindowFace(MainWindow* w)
    : window(w),
      progressBar(w->ui.progressBar),
      updateButton(w->ui.updateButton),
      statusLable(w->ui.statusLable),
      precentLable(w->ui.precentLable),
      infoLable(w->ui.infoLable),
      warningLable(w->ui.warningLable),
      imgView(w->ui.imgView),
      warningImage(w->ui.warningImage) {}

void WindowFace::attach(AppDelegate& controller, const QString& resourcesPath) {
    m_controller = &controller;
    m_resources = resourcesPath;
    QObject::connect(updateButton, &QPushButton::clicked, &controller,
                     [c = &controller] { c->onUpdateButtonClick(); });
    window->ui.retranslateUi(window); // the window's own texts (accessible names) too
    window->setPictureFolder(resourcesPath);
}

void WindowFace::applyWindowStyle() {
    window->applyWindowStyle();
}

void WindowFace::showStatus(const QString& text) {
    statusLable->setText(text);
}

void WindowFace::showInfo(const QString& text) {
    infoLable->setText(text);
}

void WindowFace::setTextLabel(const std::optional<QString>& text, bool showImage) {
    if (text) {
        infoLable->setText(*text);
        infoLable->show();
    } else {
        infoLable->hide();
    }
    if (showImage)
        window->ensurePictures();
    imgView->setVisible(showImage);
}

void WindowFace::showWarning(const std::optional<QString>& text) {
    if (!text) {
        warningLable->hide();
        warningImage->hide();
        return;
    }
    window->ensurePictures();
    warningLable->setText(*text);
    warningLable->show();
    warningImage->show();
}

void WindowFace::showButtonTitle(const QString& title) {
    updateButton->setText(title);
}

void WindowFace::enableButton(bool enabled) {
    updateButton->setEnabled(enabled);
}

void WindowFace::showProgress(double fraction) {
    if (fraction < 0) {
        progressBar->setIndeterminate(true);
        precentLable->setText(QStringLiteral("0 %"));
        return;
    }
    if (fraction == 0) {
        progressBar->setIndeterminate(false);
        progressBar->setValue(0.0);
        precentLable->setText(QStringLiteral("0 %"));
    }
    // A positive fraction alone leaves an indeterminate bar indeterminate.
    precentLable->setText(percentText(fraction));
    progressBar->setValue(fraction);
}

void WindowFace::startAnim() {
    progressBar->setIndeterminate(true);
    progressBar->startAnimation();
}

void WindowFace::stopAnim() {
    progressBar->stopAnimation();
}

void WindowFace::showAlert(const QString& text) {
    auto* alert = new QMessageBox(window);
    alert->setObjectName(QStringLiteral("alert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setText(text);
    // The untranslated "OK" is deliberate: the alert must be answerable without a table.
    QPushButton* ok = alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    // QIcon picks error@2x.png by itself on a high-density screen.
    const QIcon icon(m_resources + QStringLiteral("/error.png"));
    if (!icon.isNull())
        alert->setIconPixmap(icon.pixmap(QSize(64, 64), alert->devicePixelRatioF()));
    AppDelegate* controller = m_controller;
    QObject::connect(alert, &QMessageBox::buttonClicked, alert, [controller, alert, ok](QAbstractButton* b) {
        controller->alertDidEnd(alert, b == ok ? kAlertFirstButton : kAlertOtherButton, nullptr);
    });
    alert->open();
}

void WindowFace::updateStarted() {
    window->setCloseEnabled(false);
}

void WindowFace::updateEnded(int32_t) {
    // Every outcome: the bar stands still, and the window may be closed again.
    progressBar->setIndeterminate(true);
    progressBar->stopAnimation();
    window->setCloseEnabled(true);
}

#include "app/WindowFace.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/ProgressBarView.h"

#include <QLabel>
#include <QPushButton>

WindowFace::WindowFace(MainWindow* w)
    : m_window(w),
      m_progressBar(w->ui().progressBar),
      m_updateButton(w->ui().updateButton),
      m_statusLabel(w->ui().statusLable),
      m_percentLabel(w->ui().precentLable),
      m_infoLabel(w->ui().infoLable),
      m_warningLabel(w->ui().warningLable),
      m_pictureView(w->ui().imgView),
      m_warningImage(w->ui().warningImage) {}

void WindowFace::attach(Application& application, const QString& resourcesPath) {
    m_application = &application;
    m_resources = resourcesPath;
    QObject::connect(m_updateButton, &QPushButton::clicked, &application,
                     [a = &application] { a->onUpdateButtonClick(); });
    m_window->retranslate(); // the window's own texts (accessible names) too
    m_window->setPictureFolder(resourcesPath);
}

void WindowFace::applyWindowStyle() {
    m_window->applyWindowStyle();
}

void WindowFace::showStatus(const QString& text) {
    m_statusLabel->setText(text);
}

void WindowFace::showInfo(const QString& text) {
    m_infoLabel->setText(text);
}

void WindowFace::setTextLabel(const std::optional<QString>& text, bool showImage) {
    if (text) {
        m_infoLabel->setText(*text);
        m_infoLabel->show();
    } else {
        m_infoLabel->hide();
    }
    if (showImage)
        m_window->ensurePictures();
    m_pictureView->setVisible(showImage);
}

void WindowFace::showWarning(const std::optional<QString>& text) {
    if (!text) {
        m_warningLabel->hide();
        m_warningImage->hide();
        return;
    }
    m_window->ensurePictures();
    m_warningLabel->setText(*text);
    m_warningLabel->show();
    m_warningImage->show();
}

void WindowFace::showButtonTitle(const QString& title) {
    m_updateButton->setText(title);
}

void WindowFace::enableButton(bool enabled) {
    m_updateButton->setEnabled(enabled);
}

void WindowFace::showProgress(double fraction) {
    m_progressBar->showFraction(fraction);
    m_percentLabel->setText(ProgressBarView::percentText(fraction));
}

void WindowFace::startAnimation() {
    m_progressBar->setIndeterminate(true);
    m_progressBar->startAnimation();
}

void WindowFace::stopAnimation() {
    m_progressBar->stopAnimation();
}

void WindowFace::showAlert(const QString& text) {
    messageboxes::openAlert(m_window, text, m_resources, *m_application);
}

void WindowFace::showNotice(const QString& text) {
    messageboxes::openNotice(m_window, text);
}

void WindowFace::updateStarted() {
    m_window->setCloseEnabled(false);
}

void WindowFace::unitQuestionAsked(const UnitQuestion& question) {
    messageboxes::openUnitQuestion(m_window, question, m_application->workflow());
}

void WindowFace::updateEnded(const UpdateOutcome&) {
    // Every outcome: the bar stands still, and the window may be closed again.
    m_progressBar->setIndeterminate(true);
    m_progressBar->stopAnimation();
    m_window->setCloseEnabled(true);
}

#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QIcon>

namespace {

constexpr QSize kWindowSize(480, 300);

QPixmap picture(const QString& path, QSize size, qreal dpr) {
    // QIcon finds the @2x file next to the 1x one by itself.
    return QIcon(path).pixmap(size, dpr);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    ui.setupUi(this);
    // The warning row keeps its place when hidden, so the bar and button never jump.
    for (QWidget* w : {static_cast<QWidget*>(ui.warningImage), static_cast<QWidget*>(ui.warningLable)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    ui.imgView->hide();
    applyWindowStyle();
}

void MainWindow::applyWindowStyle() {
    const Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                  Qt::WindowStaysOnTopHint;
    if (windowFlags() != flags) {
        const bool shown = isVisible();
        setWindowFlags(flags); // hides a shown window
        if (shown)
            show();
    }
    setFixedSize(kWindowSize);
}

void MainWindow::loadPictures(const QString& resourcesDir) {
    const qreal dpr = devicePixelRatioF();
    ui.warningImage->setPixmap(picture(resourcesDir + QStringLiteral("/warning.png"), {20, 20}, dpr));
    ui.imgView->setPixmap(picture(resourcesDir + QStringLiteral("/updating.png"), {200, 130}, dpr));
    const QIcon icon(resourcesDir + QStringLiteral("/app-icon.png"));
    if (!icon.isNull())
        setWindowIcon(icon);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeEnabled)
        event->accept();
    else
        event->ignore();
}

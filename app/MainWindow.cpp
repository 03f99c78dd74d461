#include "app/MainWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QTimer>

namespace {

constexpr QSize kWindowSize(480, 300);

QPixmap picture(const QString& path, QSize size, qreal dpr) {
    // QIcon finds the @2x file next to the 1x one by itself.
    return QIcon(path).pixmap(size, dpr);
}

// The status line is the window's status bar for assistive technology: its name is the
// current status, and QLabel reports every change as a name change, which screen
// readers track for a status bar (the live region of this window).
class StatusLineAccessible : public QAccessibleWidget {
public:
    explicit StatusLineAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* statusLineFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("QLabel") && object && object->objectName() == QLatin1String("statusLable"))
        return new StatusLineAccessible(static_cast<QLabel*>(object));
    return nullptr;
}

} // namespace

void MainWindow::announceStatusChanges() {
    static const bool installed = [] {
        QAccessible::installFactory(statusLineFactory);
        return true;
    }();
    (void)installed;
}

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    announceStatusChanges();
    m_ui.setupUi(this);
    // The warning row keeps its place when hidden, so the bar and button never jump.
    for (QWidget* w : {static_cast<QWidget*>(m_ui.warningImage), static_cast<QWidget*>(m_ui.warningLable)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    m_ui.imgView->hide();
    // The button is where the keyboard starts; Enter presses it (see keyPressEvent).
    m_ui.updateButton->setFocus();
    applyWindowStyle();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The default button of a plain window: Enter presses it from anywhere, when enabled.
    // (A disabled button loses focus, so it cannot take the key itself.)
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier && m_ui.updateButton->isEnabled()) {
        m_ui.updateButton->animateClick();
        return;
    }
    QWidget::keyPressEvent(event);
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

void MainWindow::setPictureFolder(const QString& resourcesDir) {
    m_pictureFolder = resourcesDir;
    m_picturesLoaded = false;
    // Reading them loads the image plugins: behind the window's first appearance.
    QTimer::singleShot(0, this, [this] { ensurePictures(); });
}

void MainWindow::ensurePictures() {
    if (m_picturesLoaded)
        return;
    m_picturesLoaded = true;
    const qreal dpr = devicePixelRatioF();
    m_ui.warningImage->setPixmap(picture(m_pictureFolder + QStringLiteral("/warning.png"), {20, 20}, dpr));
    m_ui.imgView->setPixmap(picture(m_pictureFolder + QStringLiteral("/updating.png"), {160, 104}, dpr));
    const QIcon icon(m_pictureFolder + QStringLiteral("/app-icon.png"));
    if (!icon.isNull())
        setWindowIcon(icon);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeEnabled)
        event->accept();
    else
        event->ignore();
}

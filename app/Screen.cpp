// The screen operations: every visible change of the window goes through one of these,
// always on the GUI thread (workers reach them through post()).

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ProgressBarView.h"
#include "app/RunLog.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

constexpr qint64 kAlertFirstButton = 1000;
constexpr qint64 kAlertOtherButton = 1001;

// A worker's call waiting to run on the GUI thread. This is the blocking hand-off that
// Qt::BlockingQueuedConnection offers, built from standard primitives so that
// ThreadSanitizer sees the ordering (Qt's own hand-off is not instrumented).
struct PostedCall {
    explicit PostedCall(const std::function<void()>* f) : fn(f) {}
    const std::function<void()>* fn;
    std::mutex lock;
    std::condition_variable ran;
    bool done = false;
};

class PostedCallEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x4b1);
    explicit PostedCallEvent(PostedCall* c) : QEvent(kType), call(c) {}
    PostedCall* const call;
};

// Taken once by the worker after making the event and once by the GUI thread before
// reading it, so the event's contents are ordered for the sanitizer too.
std::mutex& handOffLock() {
    static std::mutex lock;
    return lock;
}

QString percentText(double fraction) {
    // A fraction outside [0, 1] (or not a number) would overflow the integer and
    // show nonsense; the bar never shows more than its range.
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return QString::asprintf("%d %%", static_cast<int>(100.0 * clamped));
}

} // namespace

void AppDelegate::updateStatusTxt(const QString& text) {
    if (text != statusLable->text())
        runlog::write("screen", text);
    statusLable->setText(text);
}

void AppDelegate::updateInfoTxt(const QString& text) {
    infoLable->setText(text);
}

void AppDelegate::setTextLabel(const std::optional<QString>& text, bool showImage) {
    if (text) {
        infoLable->setText(*text);
        infoLable->show();
    } else {
        infoLable->hide();
    }
    imgView->setVisible(showImage);
}

void AppDelegate::updateWaringText(const std::optional<QString>& key) {
    if (!key || key->isEmpty()) {
        warningLable->hide();
        warningImage->hide();
        return;
    }
    warningLable->setText(lookup(key->toUtf8().constData()));
    warningLable->show();
    warningImage->show();
}

void AppDelegate::updateButtonTitle(const std::optional<QString>& title) {
    if (title)
        updateButton->setText(*title);
}

void AppDelegate::enbaleButton(bool enabled) {
    updateButton->setEnabled(enabled);
}

void AppDelegate::updateProgressBar(double fraction) {
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

void AppDelegate::startAnim() {
    progressBar->setIndeterminate(true);
    progressBar->startAnimation();
}

void AppDelegate::stopAnim() {
    progressBar->stopAnimation();
}

void AppDelegate::updateStartAnim(bool start) {
    if (start)
        startAnim();
    else
        stopAnim();
}

void AppDelegate::popupAlert(const QString& key) {
    auto* alert = new QMessageBox(window);
    alert->setObjectName(QStringLiteral("alert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setText(lookup(key.toUtf8().constData()));
    // The untranslated "OK" is deliberate: the alert must be answerable without a table.
    QPushButton* ok = alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    // QIcon picks error@2x.png by itself on a high-density screen.
    const QIcon icon(resourcesPath() + QStringLiteral("/error.png"));
    if (!icon.isNull())
        alert->setIconPixmap(icon.pixmap(QSize(64, 64), alert->devicePixelRatioF()));
    QObject::connect(alert, &QMessageBox::buttonClicked, this, [this, alert, ok](QAbstractButton* b) {
        alertDidEnd(alert, b == ok ? kAlertFirstButton : kAlertOtherButton, nullptr);
    });
    alert->open();
}

void AppDelegate::alertDidEnd(QMessageBox*, qint64 returnCode, void*) {
    if (returnCode == kAlertFirstButton)
        QCoreApplication::exit(0);
}

QString AppDelegate::lookup(const char* key) {
    return QCoreApplication::translate("Localizable", key);
}

QString AppDelegate::fill(const QString& format, const QString& arg) {
    // Plain replacement: a table entry is data, never a printf format.
    QString text = format;
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at >= 0)
        text.replace(at, 2, arg);
    return text;
}

QString AppDelegate::lookupFilled(const char* key, const QString& arg) {
    return fill(lookup(key), arg);
}

void AppDelegate::post(const std::function<void()>& fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    PostedCall call{&fn};
    auto* event = new PostedCallEvent(&call);
    { std::lock_guard publish(handOffLock()); }
    QCoreApplication::postEvent(this, event);
    std::unique_lock wait(call.lock);
    call.ran.wait(wait, [&call] { return call.done; });
}

bool AppDelegate::event(QEvent* e) {
    {
        // Before anything of the event is read: pairs with the worker's publish.
        std::lock_guard receive(handOffLock());
    }
    if (e->type() != PostedCallEvent::kType)
        return QObject::event(e);
    PostedCall* call = static_cast<PostedCallEvent*>(e)->call;
    (*call->fn)();
    // Notify under the lock: the worker's stack frame holding `call` ends once it sees done.
    std::lock_guard finish(call->lock);
    call->done = true;
    call->ran.notify_one();
    return true;
}

// The screen operations: every visible change goes through one of these to the face (window
// or terminal), always on the GUI thread (workers reach them through post()).

#include "app/AppDelegate.h"
#include "app/RunLog.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace {

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

} // namespace

void AppDelegate::updateStatusTxt(const QString& text) {
    if (text != m_shownStatus)
        runlog::write("screen", text);
    m_shownStatus = text;
    m_face->showStatus(text);
}

void AppDelegate::updateInfoTxt(const QString& text) {
    m_face->showInfo(text);
}

void AppDelegate::setTextLabel(const std::optional<QString>& text, bool showImage) {
    m_face->setTextLabel(text, showImage);
}

void AppDelegate::updateWaringText(const std::optional<QString>& key) {
    if (!key || key->isEmpty())
        m_face->showWarning(std::nullopt);
    else
        m_face->showWarning(lookup(key->toUtf8().constData()));
}

void AppDelegate::updateButtonTitle(const std::optional<QString>& title) {
    if (title)
        m_face->showButtonTitle(*title);
}

void AppDelegate::enbaleButton(bool enabled) {
    m_face->enableButton(enabled);
}

void AppDelegate::updateProgressBar(double fraction) {
    m_face->showProgress(fraction);
}

void AppDelegate::startAnim() {
    m_face->startAnim();
}

void AppDelegate::stopAnim() {
    m_face->stopAnim();
}

void AppDelegate::updateStartAnim(bool start) {
    if (start)
        startAnim();
    else
        stopAnim();
}

void AppDelegate::popupAlert(const QString& key) {
    m_face->showAlert(lookup(key.toUtf8().constData()));
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

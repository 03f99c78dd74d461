#include "workflow/BlockingPost.h"

#include <QCoreApplication>
#include <QEvent>
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

bool BlockingPost::onOwnThread() const {
    return QThread::currentThread() == thread();
}

void BlockingPost::operator()(const std::function<void()>& fn) {
    if (onOwnThread()) {
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

bool BlockingPost::event(QEvent* e) {
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

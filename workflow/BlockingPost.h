#pragma once
// Runs a worker's call on the GUI thread and waits for it: the one way a worker changes what
// the user sees. Made on the GUI thread.

#include <QObject>
#include <functional>

class BlockingPost : public QObject {
public:
    // Runs `fn` on this object's thread and waits; direct when already there.
    void operator()(const std::function<void()>& fn);
    bool onOwnThread() const;

protected:
    bool event(QEvent* e) override;
};

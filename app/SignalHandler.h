#pragma once
// Turns the signals that end a desktop program (SIGTERM at logout or from kill, SIGHUP when
// its terminal goes, SIGINT for Ctrl-C) into a call on the event loop's thread, where the
// application can end itself through its normal termination sequence.

#include <QObject>
#include <functional>

class QSocketNotifier;

class SignalHandler : public QObject {
public:
    // Installs the handlers; `onSignal` runs on this object's thread with the signal number.
    explicit SignalHandler(std::function<void(int)> onSignal, QObject* parent = nullptr);
    ~SignalHandler() override;

    static const int kSignals[3];

private:
    void drain();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};

#pragma once
// Drives the application from a terminal as a user drives the window: waits for the update to
// be offered (or for the device to be reported up to date), starts it when allowed, and ends
// the application with an exit status that tells what happened. The outcomes are the
// session's own events, never the texts on the screen.

#include "app/TerminalOptions.h"
#include "workflow/SessionListener.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <optional>

class Application;
class QSocketNotifier;
class TerminalFace;

class TerminalSession : public QObject, private SessionListener {
public:
    // Both must outlive the session.
    TerminalSession(Application& application, TerminalFace& face, const TerminalOptions& options);

    // After the application's launch: starts the wait for the device.
    void start();
    // The outcome's exit status; when the application ended before any (a signal), says so
    // and returns the event loop's `loopStatus`.
    int exitCode(int loopStatus);

private:
    enum class Phase { Waiting, Asking, Updating, Done, Ended };

    // The session's outcomes; acted on at the next tick, once the screen shows them.
    void packageCheckFailed(bool driverMissing) override;
    void versionRead(bool updateOffered) override;
    void updateEnded(const UpdateOutcome& outcome) override;
    void unitQuestionAsked(const UnitQuestion& question) override;

    void stop();
    void settle();
    void offered();
    void ask(bool finishing);
    // Whose unit is it: answered by --finish or --other naming its port, at the terminal, or
    // not at all (the unit is left untouched).
    void askWhose();
    void readFromTerminal();
    void readAnswer();
    void startUpdate();
    void waitPassed();
    QJsonObject versions(bool deviceRead) const;
    void conclude(int code, const char* outcome, const QString& message, QJsonObject fields = {});

    enum class Outcome { None, PackageFailed, DriverMissing, Offered, UpToDate, Question };

    Application& m_application;
    Outcome m_outcome = Outcome::None; // the latest, not yet acted on
    TerminalFace& m_face;
    TerminalOptions m_options;
    Phase m_phase = Phase::Waiting;
    std::optional<int> m_exit;
    QTimer m_tick;
    QTimer m_wait;
    QSocketNotifier* m_stdin = nullptr;
    QByteArray m_answer;
    QJsonObject m_offer; // versions when the update was offered
    UnitQuestion m_question;
    bool m_askingWhose = false; // the prompt on the terminal is the question
};

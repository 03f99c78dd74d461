#include "app/TerminalSession.h"
#include "app/UnitAnswer.h"
#include "workflow/JournalKeeper.h"
#include "app/Application.h"
#include "app/TerminalFace.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QLocale>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kTickMs = 50;

} // namespace

TerminalSession::TerminalSession(Application& application, TerminalFace& face, const TerminalOptions& options)
    : m_application(application), m_face(face), m_options(options) {
    application.session().subscribe(this);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, [this] { settle(); });
    m_wait.setSingleShot(true);
    m_wait.setInterval(options.waitSeconds * 1000);
    connect(&m_wait, &QTimer::timeout, this, [this] { waitPassed(); });
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

void TerminalSession::stop() {
    // The application is ending (an outcome, or a signal): nothing may start any more, not
    // even from an answer that arrives while the workers are let out.
    m_face.mute();
    m_tick.stop();
    m_wait.stop();
    if (m_stdin)
        m_stdin->setEnabled(false);
    if (m_phase != Phase::Done)
        m_phase = Phase::Ended;
}

void TerminalSession::start() {
    m_tick.start();
    m_wait.start();
}

void TerminalSession::packageCheckFailed(bool driverMissing) {
    m_outcome = driverMissing ? Outcome::DriverMissing : Outcome::PackageFailed;
}

void TerminalSession::versionRead(bool updateOffered) {
    m_outcome = updateOffered ? Outcome::Offered : Outcome::UpToDate;
}

void TerminalSession::settle() {
    // Acts on what a user of the window would see: each outcome comes once every line of it
    // is out.
    if (m_phase != Phase::Waiting)
        return;
    const Outcome outcome = std::exchange(m_outcome, Outcome::None);
    const SessionState state = m_application.session().state();
    switch (outcome) {
    case Outcome::Offered:
        if (state == SessionState::Offered)
            offered();
        break;
    case Outcome::Question:
        if (state == SessionState::Offered)
            askWhose();
        break;
    case Outcome::UpToDate:
        if (state == SessionState::Finished)
            conclude(exitstatus::kOk, "up-to-date", QString(), versions(true));
        break;
    case Outcome::DriverMissing:
        conclude(exitstatus::kDeviceAccess, "device-access", m_face.status());
        break;
    case Outcome::PackageFailed:
        conclude(exitstatus::kPackage, "package", m_face.status());
        break;
    case Outcome::None:
        break;
    }
}

void TerminalSession::offered() {
    // Kept for the result: while the question waits, the device may leave and its version go.
    m_offer = versions(true);
    const bool finishing = m_application.session().finishOffered();
    const bool mustAsk = m_application.workflow().finishNeedsTheUser();
    if (m_options.check) {
        conclude(exitstatus::kOk, "update-available", QString(), m_offer);
    } else if (m_options.yes && !mustAsk) {
        startUpdate();
    } else if (::isatty(STDIN_FILENO)) {
        ask(finishing);
    } else {
        conclude(exitstatus::kDeclined, "declined",
                 finishing ? QStringLiteral("an update did not finish; run the command again with --yes at a terminal to finish it")
                           : QStringLiteral("an update is available; run the command again with --yes to start it"),
                 m_offer);
    }
}

void TerminalSession::unitQuestionAsked(const UnitQuestion& question) {
    m_question = question;
    m_outcome = Outcome::Question;
}

void TerminalSession::askWhose() {
    const QString port = m_question.port;
    const QString when = QLocale().toString(m_question.stopped.toLocalTime(), QLocale::ShortFormat);
    const GivenAnswer given = givenAnswer(m_question, m_options);
    if (given == GivenAnswer::ItsUnit || given == GivenAnswer::Another) {
        const bool itsUnit = given == GivenAnswer::ItsUnit;
        m_face.say(itsUnit ? QStringLiteral("the hotspot at %1 is finished with the data saved when its update stopped on %2")
                                 .arg(port, when)
                           : QStringLiteral("the hotspot at %1 is updated as another hotspot").arg(port),
                   false);
        if (itsUnit) {
            m_phase = Phase::Updating;
            m_wait.stop();
        }
        m_application.workflow().answer(itsUnit);
        return;
    }
    if (given == GivenAnswer::None && ::isatty(STDIN_FILENO)) {
        m_askingWhose = true;
        m_phase = Phase::Asking;
        m_wait.stop();
        m_face.prompt(QStringLiteral("Is this the hotspot whose update stopped%2 on %1? "
                                     "y: finish it with the data saved then; n: update it as another hotspot [y/n] ")
                          .arg(when, elsewhere(m_question)));
        readFromTerminal();
        return;
    }
    const QString place = port.isEmpty() ? QStringLiteral("attached") : QStringLiteral("at ") + port;
    conclude(exitstatus::kUnitQuestion, "unit-question",
             QStringLiteral("the hotspot %1 %2").arg(place, howToDecide(m_question)),
             QJsonObject{{QStringLiteral("port"), port},
                         {QStringLiteral("journal_ports"), QJsonArray::fromStringList(m_question.journalPorts)},
                         {QStringLiteral("stopped"), m_question.stopped.toString(Qt::ISODate)}});
}

void TerminalSession::ask(bool finishing) {
    m_askingWhose = false;
    m_phase = Phase::Asking;
    m_wait.stop();
    m_face.prompt(finishing ? QStringLiteral("Finish the update that did not finish? [y/N] ")
                            : QStringLiteral("Start the update? [y/N] "));
    readFromTerminal();
}

void TerminalSession::readFromTerminal() {
    m_answer.clear();
    if (!m_stdin) {
        m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_stdin, &QSocketNotifier::activated, this, [this] { readAnswer(); });
    }
    m_stdin->setEnabled(true);
}

void TerminalSession::readAnswer() {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n > 0) {
        m_answer.append(buffer, n);
        if (!m_answer.contains('\n'))
            return;
    } else {
        m_face.prompt(QStringLiteral("\n")); // end of input: the next message on a line of its own
    }
    m_stdin->setEnabled(false);
    const QByteArray answer = m_answer.left(m_answer.indexOf('\n')).trimmed().toLower();
    const bool yes = answer == "y" || answer == "yes";
    if (m_askingWhose) {
        if (!yes && answer != "n" && answer != "no") {
            conclude(exitstatus::kUnitQuestion, "unit-question", QStringLiteral("no answer: the hotspot was left untouched"),
                     QJsonObject{{QStringLiteral("port"), m_question.port}});
            return;
        }
        m_phase = yes ? Phase::Updating : Phase::Waiting;
        if (!yes)
            m_wait.start();
        m_application.workflow().answer(yes);
        return;
    }
    if (!yes) {
        conclude(exitstatus::kDeclined, "declined", QStringLiteral("the update was not started"), m_offer);
        return;
    }
    startUpdate();
}

void TerminalSession::startUpdate() {
    m_phase = Phase::Updating;
    m_wait.stop();
    m_application.onUpdateButtonClick();
    if (m_application.session().state() == SessionState::Updating)
        return;
    // The device left between the offer and the start: wait for it again.
    m_phase = Phase::Waiting;
    m_wait.start();
}

void TerminalSession::updateEnded(const UpdateOutcome& outcome) {
    // Subscribed after the faces: the bar is finished first.
    if (m_phase != Phase::Updating)
        return;
    // A device version read before the update is not claimed as the device's now.
    QJsonObject fields = versions(m_application.session().newVersionRead());
    fields.insert(QStringLiteral("result"), outcome.code());
    fields.insert(QStringLiteral("images"), imagesName(outcome.images));
    fields.insert(QStringLiteral("data"), dataName(outcome.data));
    fields.insert(QStringLiteral("version_read"), outcome.versionRead);
    fields.insert(QStringLiteral("journal_kept"), outcome.journalKept);
    if (outcome.result == UpdateResult::Updated) {
        conclude(exitstatus::kOk, "success", QString(), fields);
        return;
    }
    // The window would offer Retry here: the terminal's retry is the same command again.
    const bool retry = m_application.session().state() == SessionState::Updating;
    const QString advice = retry ? QStringLiteral(" Run the command again to retry.") : QString();
    conclude(exitstatus::forUpdateResult(outcome.code()), "failed", m_face.status() + advice, fields);
}

void TerminalSession::waitPassed() {
    if (m_phase != Phase::Waiting)
        return;
    if (m_application.session().snapshot().accessRefused) {
        conclude(exitstatus::kDeviceAccess, "device-access", m_face.status());
        return;
    }
    conclude(exitstatus::kNoDevice, "no-device",
             QStringLiteral("no device's version was read within %1 s (last: %2)")
                 .arg(m_options.waitSeconds)
                 .arg(m_face.status()));
}

QJsonObject TerminalSession::versions(bool deviceRead) const {
    // One snapshot: the detection worker may clear the device's version meanwhile.
    const SessionSnapshot now = m_application.session().snapshot();
    QJsonObject v{{QStringLiteral("package_version"), now.packageVersion}};
    if (deviceRead) {
        v.insert(QStringLiteral("device_version"), now.deviceVersion);
        v.insert(QStringLiteral("update_available"), now.state == SessionState::Offered);
    }
    return v;
}

void TerminalSession::conclude(int code, const char* outcome, const QString& message, QJsonObject fields) {
    m_phase = Phase::Done;
    m_exit = code;
    m_tick.stop();
    m_wait.stop();
    m_face.finishBar();
    if (!message.isEmpty())
        m_face.say(message, code != exitstatus::kOk);
    fields.insert(QStringLiteral("outcome"), QString::fromLatin1(outcome));
    fields.insert(QStringLiteral("exit"), code);
    if (!message.isEmpty())
        fields.insert(QStringLiteral("message"), message);
    m_face.emitEvent("result", fields);
    // The same ending as closing the window: the termination sequence runs on the way out.
    QCoreApplication::exit(code);
}

int TerminalSession::exitCode(int loopStatus) {
    if (!m_exit)
        conclude(loopStatus, "interrupted", QStringLiteral("ended before an outcome"));
    return *m_exit;
}

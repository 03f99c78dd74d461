#include "app/TerminalStation.h"
#include "app/Application.h"
#include "app/UnitAnswer.h"
#include "bridge/HistoryKeeper.h"
#include "workflow/JournalKeeper.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QLocale>
#include <algorithm>
#include <utility>

namespace {

constexpr int kTickMs = 50;
// After the last unit joined, so long without a new one before the station may end: the
// watch looks once a second.
constexpr qint64 kQuietMs = 2500;

} // namespace

// One unit as the terminal follows it: its face, and what it ended with.
class TerminalStation::Unit : public SessionListener {
public:
    enum class Outcome { None, Offered, UpToDate, Ended, Question };
    enum class End { Running, Updated, UpToDate, Failed, NotStarted, Declined, Available, NoDevice, Untouched };

    Unit(DeviceWorkflow& unit, std::unique_ptr<TerminalFace> face) : workflow(unit), face(std::move(face)) {
        joined.start();
        unit.session().subscribe(this->face.get());
        unit.session().subscribe(this);
    }

    void versionRead(bool updateOffered) override {
        outcome = updateOffered ? Outcome::Offered : Outcome::UpToDate;
        outcomeArrival = arrival;
    }
    // Started by the user's answer, by --yes or by the autopilot: followed the same.
    void updateStarted() override { updating = true; }
    void updateEnded(const UpdateOutcome& ended) override {
        outcome = Outcome::Ended;
        outcomeArrival = arrival;
        result = ended;
        endStatus = face->status(); // before a retry shows anything else
    }
    // Its port waits for the next unit: worth a line, so whoever swaps units knows when.
    void unitLeft() override {
        ++arrival;
        face->say(QStringLiteral("unplugged; waiting for the next hotspot"));
        face->emitEvent("left", {});
    }
    void unitQuestionAsked(const UnitQuestion& asked) override {
        outcome = Outcome::Question;
        outcomeArrival = arrival;
        question = asked;
    }

    DeviceSession& session() const { return workflow.session(); }
    bool ended() const { return end != End::Running; }
    void finish(End how, QString text) {
        end = how;
        endArrival = outcomeArrival;
        message = std::move(text);
    }
    QJsonObject versions(bool deviceRead) const {
        const SessionSnapshot now = session().snapshot();
        QJsonObject v{{QStringLiteral("package_version"), now.packageVersion}};
        if (deviceRead)
            v.insert(QStringLiteral("device_version"), now.deviceVersion);
        return v;
    }

    DeviceWorkflow& workflow;
    std::unique_ptr<TerminalFace> face;
    Outcome outcome = Outcome::None; // the latest, not yet acted on
    // Which unit at this port: each departure starts the next; the latest outcome is that of
    // `outcomeArrival`.
    int arrival = 0;
    int outcomeArrival = 0;
    int endArrival = 0; // the unit `end` is of
    UpdateOutcome result;
    QString endStatus;
    UnitQuestion question;
    bool updating = false;
    End end = End::Running;
    QString message;
    QJsonObject fields;
    QElapsedTimer joined;
};

// Hands-free: how each unit that came ended, one entry per unit (a retry's end replaces the
// unit's earlier one), in the order they first ended.
struct TerminalStation::Tally {
    struct Entry {
        const Unit* unit;
        int arrival;
        QString port;
        Unit::End end;
    };
    std::vector<Entry> units;

    void record(const Unit& unit, Unit::End end) {
        const auto same = std::find_if(units.begin(), units.end(), [&unit](const Entry& e) {
            return e.unit == &unit && e.arrival == unit.endArrival;
        });
        if (same != units.end())
            same->end = end;
        else
            units.push_back({&unit, unit.endArrival, unit.workflow.port(), end});
    }
    int count(Unit::End end) const {
        return int(std::count_if(units.cbegin(), units.cend(), [end](const Entry& e) { return e.end == end; }));
    }
    QStringList ports(Unit::End end) const {
        QStringList named;
        for (const Entry& e : units)
            if (e.end == end)
                named << e.port;
        return named;
    }
};

namespace {

using End = TerminalStation::Unit::End;

const char* outcomeName(End end) {
    switch (end) {
    case End::Updated: return "success";
    case End::UpToDate: return "up-to-date";
    case End::Failed: return "failed";
    case End::NotStarted: return "not-started";
    case End::Declined: return "declined";
    case End::Available: return "update-available";
    case End::NoDevice: return "no-device";
    case End::Untouched: return "unit-question";
    case End::Running: break;
    }
    return "interrupted";
}

} // namespace

TerminalStation::TerminalStation(Application& application, TerminalFace& face, const TerminalOptions& options)
    : m_application(application), m_face(face), m_options(options), m_tally(std::make_unique<Tally>()) {
    application.station()->subscribe(this);
    application.session().subscribe(this);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, [this] { settle(); });
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

TerminalStation::~TerminalStation() = default;

void TerminalStation::start() {
    if (m_options.autoUpdate)
        m_application.station()->autopilot().setEnabled(true);
    m_sinceStart.start();
    m_sinceJoin.start();
    m_tick.start();
}

void TerminalStation::unitJoined(DeviceWorkflow& unit) {
    m_units.push_back(std::make_unique<Unit>(unit, m_face.forPort(unit.port())));
    m_sinceJoin.restart();
}

void TerminalStation::packageCheckFailed(bool driverMissing) {
    m_packageFailed = driverMissing;
}

void TerminalStation::stop() {
    // Whatever the workers still post while they leave is no news.
    m_face.mute();
    for (const std::unique_ptr<Unit>& unit : m_units)
        unit->face->mute();
    m_tick.stop();
}

void TerminalStation::settle() {
    if (m_packageFailed) {
        conclude();
        return;
    }
    for (const std::unique_ptr<Unit>& unit : m_units)
        settle(*unit);
    // Hands-free, the station runs until a signal ends it.
    if (m_options.autoUpdate)
        return;
    if (m_units.empty()) {
        if (waitedOut(m_sinceStart))
            conclude();
        return;
    }
    // Held back for a signal's end: the application ends once the running updates have, and
    // the status is the signal's.
    if (m_application.station()->heldBack())
        return;
    const bool allEnded = std::all_of(m_units.cbegin(), m_units.cend(), [](const auto& u) { return u->ended(); });
    if (allEnded && !m_application.station()->updating() && m_sinceJoin.elapsed() > kQuietMs)
        conclude();
}

// Acts on a unit's latest outcome once its screen shows it, as the one-device terminal does.
void TerminalStation::settle(Unit& unit) {
    if (m_options.autoUpdate && unit.ended())
        report(unit);
    if (unit.ended())
        return;
    DeviceSession& session = unit.session();
    switch (std::exchange(unit.outcome, Unit::Outcome::None)) {
    case Unit::Outcome::Offered:
        // Hands-free, the autopilot presses.
        if (session.state() == SessionState::Offered && !m_options.autoUpdate)
            offered(unit);
        return;
    case Unit::Outcome::Question:
        if (session.state() == SessionState::Offered)
            askWhose(unit);
        return;
    case Unit::Outcome::UpToDate:
        if (session.state() == SessionState::Finished) {
            unit.fields = unit.versions(true);
            unit.finish(End::UpToDate, QStringLiteral("up to date (%1)").arg(session.deviceVersion()));
        }
        return;
    case Unit::Outcome::Ended:
        if (unit.updating)
            unitUpdateEnded(unit);
        return;
    case Unit::Outcome::None:
        break;
    }
    if (!m_options.autoUpdate && !unit.updating && session.state() != SessionState::Updating &&
        waitedOut(unit.joined)) {
        unit.fields = unit.versions(false);
        unit.finish(End::NoDevice, QStringLiteral("no version read within %1 s (last: %2)")
                                       .arg(m_options.waitSeconds)
                                       .arg(unit.face->status()));
    }
}

void TerminalStation::offered(Unit& unit) {
    unit.fields = unit.versions(true);
    const QString versions = QStringLiteral("%1 -> %2").arg(unit.session().deviceVersion(), unit.session().packageVersion());
    if (m_options.check) {
        unit.finish(End::Available, QStringLiteral("update available: %1").arg(versions));
        return;
    }
    if (unit.workflow.finishNeedsTheUser()) {
        const std::optional<UpdateJournal> journal = unit.workflow.services().journal.pending();
        unit.finish(End::Declined, QStringLiteral("an update did not finish after %1 resumes; finish it with "
                                                  "hotspot-updater --cli at a terminal")
                                       .arg(journal ? journal->resumes : JournalKeeper::kResumesBeforeAsking));
        return;
    }
    if (!m_options.yes) {
        unit.finish(End::Declined, unit.session().finishOffered() ? QStringLiteral("an update did not finish; run again with --yes to finish it")
                                             : QStringLiteral("update available: %1; run again with --yes to start it").arg(versions));
        return;
    }
    // Not started when the unit left between the offer and the press: it is offered again.
    unit.updating = unit.workflow.press() == DeviceWorkflow::Press::Started;
}

// A unit that may be an unfinished update's is answered by --finish or --other naming its port;
// --yes never answers for the user, so without either it stays untouched.
void TerminalStation::askWhose(Unit& unit) {
    const QString port = unit.workflow.port();
    const GivenAnswer given = givenAnswer(unit.question, m_options);
    if (given == GivenAnswer::ItsUnit || given == GivenAnswer::Another) {
        unit.updating = unit.workflow.answer(given == GivenAnswer::ItsUnit) == DeviceWorkflow::Press::Started;
        return;
    }
    unit.fields = unit.versions(true);
    unit.fields.insert(QStringLiteral("journal_ports"), QJsonArray::fromStringList(unit.question.journalPorts));
    unit.finish(End::Untouched, howToDecide(unit.question));
    // Left untouched, it holds no journal: another unit of the run may show it is its own.
    unit.workflow.services().journal.letGo();
}

// An update that ended since the last tick, before the application ends: its unit's line and
// count come from what it ended with, not from how far the run had seen it.
void TerminalStation::settleEnded() {
    for (const std::unique_ptr<Unit>& unit : m_units) {
        if (!unit->ended() && unit->updating && unit->outcome == Unit::Outcome::Ended) {
            unit->outcome = Unit::Outcome::None;
            unitUpdateEnded(*unit);
        }
    }
}

void TerminalStation::unitUpdateEnded(Unit& unit) {
    unit.updating = false;
    // Its turn never came (the station was ending): nothing was touched, and nothing failed.
    if (unit.result.result == UpdateResult::NotStarted) {
        unit.fields = unit.versions(false);
        unit.finish(End::NotStarted, QStringLiteral("not started"));
        return;
    }
    // A version read before the update is not claimed as the unit's now.
    unit.fields = unit.versions(unit.session().newVersionRead());
    unit.fields.insert(QStringLiteral("result"), unit.result.code());
    unit.fields.insert(QStringLiteral("images"), imagesName(unit.result.images));
    unit.fields.insert(QStringLiteral("data"), dataName(unit.result.data));
    unit.fields.insert(QStringLiteral("version_read"), unit.result.versionRead);
    if (unit.result.result == UpdateResult::Updated) {
        unit.finish(End::Updated, unit.session().newVersionRead()
                                      ? QStringLiteral("updated to %1").arg(unit.session().deviceVersion())
                                      : QStringLiteral("updated; its new version could not be read"));
        return;
    }
    unit.finish(End::Failed, QStringLiteral("failed: %1").arg(unit.endStatus));
}

// Hands-free: a unit's line as soon as it ends; its port is then followed for the next one.
void TerminalStation::report(Unit& unit) {
    sayEnd(unit);
    m_tally->record(unit, unit.end);
    unit.end = End::Running;
    unit.fields = {};
}

void TerminalStation::sayEnd(Unit& unit) {
    const bool bad = unit.end != End::Updated && unit.end != End::UpToDate && unit.end != End::Available &&
                     unit.end != End::NotStarted;
    // Quiet prints only the units that went wrong.
    m_face.say(QStringLiteral("%1  %2").arg(unit.workflow.port(), unit.message),
               bad && m_face.style() == TerminalFace::Style::Quiet);
    QJsonObject fields = unit.fields;
    fields.insert(QStringLiteral("port"), unit.workflow.port());
    fields.insert(QStringLiteral("outcome"), QString::fromLatin1(outcomeName(unit.end)));
    fields.insert(QStringLiteral("message"), unit.message);
    m_face.emitEvent("unit", fields);
}

bool TerminalStation::waitedOut(const QElapsedTimer& since) const {
    return since.elapsed() > qint64(m_options.waitSeconds) * 1000;
}

int TerminalStation::statusOfAll() const {
    if (m_packageFailed)
        return *m_packageFailed ? exitstatus::kDeviceAccess : exitstatus::kPackage;
    if (m_units.empty())
        return exitstatus::kNoDevice;
    const auto any = [this](End end) {
        return std::any_of(m_units.cbegin(), m_units.cend(), [end](const auto& u) { return u->end == end; });
    };
    if (any(End::Failed))
        return exitstatus::kStationFailures;
    if (any(End::Untouched))
        return exitstatus::kUnitQuestion;
    if (any(End::NoDevice))
        return exitstatus::kNoDevice;
    if (any(End::Declined))
        return exitstatus::kDeclined;
    return exitstatus::kOk;
}

// One line (or object) per port, in port order; returns how many were updated.
int TerminalStation::summarize() {
    std::vector<Unit*> byPort;
    for (const std::unique_ptr<Unit>& unit : m_units)
        byPort.push_back(unit.get());
    std::sort(byPort.begin(), byPort.end(),
              [](const Unit* a, const Unit* b) { return a->workflow.port() < b->workflow.port(); });
    int updated = 0;
    for (Unit* unit : byPort) {
        if (!unit->ended())
            unit->finish(End::Running, QStringLiteral("interrupted: %1").arg(unit->face->status()));
        updated += unit->end == End::Updated ? 1 : 0;
        sayEnd(*unit);
    }
    sayFailingPorts();
    return updated;
}

// From the record: a port that fails often is pointed out once the units are summed up.
void TerminalStation::sayFailingPorts() {
    AttemptRecorder* recorder = m_application.recorder();
    if (!recorder)
        return;
    QStringList ports;
    for (const std::unique_ptr<Unit>& unit : m_units)
        ports << unit->workflow.port();
    ports.sort();
    for (const QString& port : ports) {
        const QString failing = attempts::failingPort(recorder->keeper().local(), port);
        if (!failing.isEmpty()) {
            m_face.say(failing, true);
            m_face.emitEvent("port", {{QStringLiteral("port"), port}, {QStringLiteral("message"), failing}});
        }
    }
}

// Hands-free, ended by a signal as it always is: how every unit that came ended, each counted
// once by its last end, and a failure when any unit's last end was one (a unit that failed and
// was then updated is no failure; a later good unit at its port does not hide it).
int TerminalStation::concludeAuto() {
    const Tally& tally = *m_tally;
    const int updated = tally.count(End::Updated);
    const QStringList failed = tally.ports(End::Failed);
    QString counts = QStringLiteral("%1 updated, %2 up to date, %3 failed")
                         .arg(updated)
                         .arg(tally.count(End::UpToDate))
                         .arg(failed.size());
    if (!failed.isEmpty())
        counts += QStringLiteral(" (%1)").arg(failed.join(QStringLiteral(", ")));
    if (const int notStarted = tally.count(End::NotStarted); notStarted > 0)
        counts += QStringLiteral(", %1 not started").arg(notStarted);
    m_face.say(counts, true);
    sayFailingPorts();
    const int code = !failed.isEmpty()                ? exitstatus::kStationFailures
                     : tally.count(End::Untouched) > 0 ? exitstatus::kUnitQuestion
                                                       : exitstatus::kOk;
    m_face.emitEvent("result", {{QStringLiteral("outcome"), QStringLiteral("station")},
                                {QStringLiteral("exit"), code},
                                {QStringLiteral("units"), int(tally.units.size())},
                                {QStringLiteral("updated"), updated},
                                {QStringLiteral("failed"), QJsonArray::fromStringList(failed)}});
    return code;
}

void TerminalStation::conclude() {
    const int code = statusOfAll();
    m_exit = code;
    m_tick.stop();
    QJsonObject fields{{QStringLiteral("outcome"), QStringLiteral("station")},
                       {QStringLiteral("exit"), code},
                       {QStringLiteral("units"), int(m_units.size())},
                       {QStringLiteral("updated"), summarize()}};
    QString message;
    if (m_packageFailed)
        message = m_face.status();
    else if (m_units.empty())
        message = QStringLiteral("no hotspot was found within %1 s").arg(m_options.waitSeconds);
    if (!message.isEmpty()) {
        m_face.say(message, true);
        fields.insert(QStringLiteral("message"), message);
    }
    m_face.emitEvent("result", fields);
    // The same ending as closing the window: the termination sequence runs on the way out.
    QCoreApplication::exit(code);
}

int TerminalStation::exitCode(int loopStatus) {
    if (!m_exit)
        settleEnded();
    if (!m_exit && m_options.autoUpdate && !m_packageFailed) {
        for (const std::unique_ptr<Unit>& unit : m_units)
            if (unit->ended())
                report(*unit);
        m_exit = concludeAuto();
    }
    if (!m_exit) {
        // Ended by a signal, once the running updates had: each unit as far as it got.
        const int updated = summarize();
        m_face.say(QStringLiteral("ended before every hotspot's update did"), true);
        m_face.emitEvent("result", {{QStringLiteral("outcome"), QStringLiteral("interrupted")},
                                    {QStringLiteral("exit"), loopStatus},
                                    {QStringLiteral("units"), int(m_units.size())},
                                    {QStringLiteral("updated"), updated}});
        m_exit = loopStatus;
    }
    return *m_exit;
}

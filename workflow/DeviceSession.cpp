#include "workflow/DeviceSession.h"
#include "bridge/RunLog.h"
#include "workflow/Messages.h"
#include "workflow/VersionCompare.h"

#include <cstdio>
#include <exception>
#include <system_error>
#include <thread>

namespace {

// The generation a detection worker was started in; 0 on every other thread.
thread_local uint64_t t_detectGeneration = 0;

} // namespace

void DeviceSession::setState(SessionState s) {
    logState(m_state.exchange(s), s);
}

bool DeviceSession::move(SessionState expected, SessionState desired) {
    if (!isAllowedMove(expected, desired)) {
        runlog::write("state", QStringLiteral("%1%2 -> %3 is no move of a session: refused")
                                   .arg(m_port.isEmpty() ? QString() : m_port + QStringLiteral(": "))
                                   .arg(stateNumber(expected))
                                   .arg(stateNumber(desired)));
        return false;
    }
    const bool moved = m_state.compare_exchange_strong(expected, desired);
    if (moved)
        logState(expected, desired);
    return moved;
}

void DeviceSession::logState(SessionState from, SessionState to) const {
    if (from == to)
        return;
    const QString change = QStringLiteral("%1 -> %2").arg(stateNumber(from)).arg(stateNumber(to));
    runlog::write("state", m_port.isEmpty() ? change : m_port + QStringLiteral(": ") + change);
}

SessionSnapshot DeviceSession::snapshot() const {
    SessionSnapshot s;
    s.state = state();
    s.accessRefused = m_permissionShown.load();
    std::lock_guard guard(m_lock);
    if (m_package)
        s.packageVersion = m_package->version();
    s.deviceVersion = m_deviceVersion;
    return s;
}

void DeviceSession::setPackage(std::shared_ptr<const Package> package) {
    std::lock_guard guard(m_lock);
    m_package = std::move(package);
}

std::shared_ptr<const Package> DeviceSession::package() const {
    std::lock_guard guard(m_lock);
    return m_package;
}

QString DeviceSession::packageVersion() const {
    std::lock_guard guard(m_lock);
    return m_package ? m_package->version() : QString();
}

QString DeviceSession::deviceVersion() const {
    std::lock_guard guard(m_lock);
    return m_deviceVersion;
}

void DeviceSession::setDeviceVersion(const QString& version) {
    const QString kept = version::bounded(version);
    std::lock_guard guard(m_lock);
    m_deviceVersion = kept;
}

AdbVerdict DeviceSession::recordVerdict(AdbVerdict verdict) {
    std::lock_guard guard(m_lock);
    m_verdict = verdict;
    return verdict;
}

AdbVerdict DeviceSession::lastVerdict() const {
    std::lock_guard guard(m_lock);
    return m_verdict;
}

void DeviceSession::setQuestion(const std::optional<UnitQuestion>& question) {
    std::lock_guard guard(m_lock);
    m_question = question;
    if (m_question)
        m_question->asked = ++m_questionsAsked;
}

std::optional<UnitQuestion> DeviceSession::question() const {
    std::lock_guard guard(m_lock);
    return m_question;
}

void DeviceSession::setKeptNote(const QString& entry) {
    std::lock_guard guard(m_lock);
    m_keptNote = entry;
}

QString DeviceSession::keptNote() const {
    std::lock_guard guard(m_lock);
    return m_keptNote;
}

bool DeviceSession::spawnWorker(std::function<void()> body, bool detection) {
    const uint64_t generation = detection ? m_detectGeneration.load() : 0;
    m_liveWorkers.fetch_add(1);
    try {
        std::thread([this, body = std::move(body), generation] {
            t_detectGeneration = generation;
            // Nothing may escape a worker: an uncaught exception would abort the process.
            // The update body handles its own failures; a tool that cannot be started
            // during the package check or detection ends that worker here.
            try {
                body();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "hotspot-updater: worker ended: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "hotspot-updater: worker ended by an unknown error\n");
            }
            m_liveWorkers.fetch_sub(1); // last use of the session on this thread
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        m_liveWorkers.fetch_sub(1);
        std::fprintf(stderr, "hotspot-updater: cannot start a worker: %s\n", e.what());
        return false;
    }
}

bool DeviceSession::beginDetection() {
    if (m_detectRecorded)
        return false;
    m_detectRecorded = true;
    // Bump the generation before clearing the flag: a worker from before the last stop that
    // reads the flag after it was cleared then sees it is stale.
    m_detectGeneration.fetch_add(1);
    m_detectStop.store(false);
    return true;
}

bool DeviceSession::detectionShouldStop() const {
    // Flag first, generation second: see beginDetection.
    if (m_detectStop.load())
        return true;
    return t_detectGeneration != 0 && t_detectGeneration != m_detectGeneration.load();
}

void DeviceSession::tell(const std::function<void(SessionListener&)>& call) {
    m_post([this, &call] {
        for (SessionListener* listener : m_listeners)
            call(*listener);
    });
}

void DeviceSession::postWhileState(SessionState expected, const std::function<void()>& fn) {
    m_post([this, expected, &fn] {
        if (state() == expected)
            fn();
    });
}

void DeviceSession::showStatus(const QString& text) {
    m_post([this, &text] {
        if (text != m_shownStatus)
            runlog::write("screen", text);
        m_shownStatus = text;
        for (SessionListener* listener : m_listeners)
            listener->showStatus(text);
    });
}

void DeviceSession::showInfo(const QString& text) {
    tell([&text](SessionListener& l) { l.showInfo(text); });
}

void DeviceSession::setTextLabel(const std::optional<QString>& text, bool showImage) {
    tell([&](SessionListener& l) { l.setTextLabel(text, showImage); });
}

void DeviceSession::showWarning(const std::optional<QString>& key) {
    const std::optional<QString> text =
        key && !key->isEmpty() ? std::optional(messages::lookup(key->toUtf8().constData())) : std::nullopt;
    tell([&text](SessionListener& l) { l.showWarning(text); });
}

void DeviceSession::showButtonTitle(const std::optional<QString>& title) {
    if (title)
        tell([&title](SessionListener& l) { l.showButtonTitle(*title); });
}

void DeviceSession::enableButton(bool enabled) {
    tell([enabled](SessionListener& l) { l.enableButton(enabled); });
}

void DeviceSession::showProgress(double fraction) {
    tell([fraction](SessionListener& l) { l.showProgress(fraction); });
}

void DeviceSession::animate(bool running) {
    tell([running](SessionListener& l) { running ? l.startAnimation() : l.stopAnimation(); });
}

void DeviceSession::showAlert(const QString& key) {
    const QString text = messages::lookup(key.toUtf8().constData());
    tell([&text](SessionListener& l) { l.showAlert(text); });
}

void DeviceSession::showNotice(const QString& text) {
    tell([&text](SessionListener& l) { l.showNotice(text); });
}

void DeviceSession::packageCheckFailed(bool driverMissing) {
    tell([driverMissing](SessionListener& l) { l.packageCheckFailed(driverMissing); });
}

void DeviceSession::versionRead(bool updateOffered) {
    tell([updateOffered](SessionListener& l) { l.versionRead(updateOffered); });
}

void DeviceSession::updateStarted() {
    tell([](SessionListener& l) { l.updateStarted(); });
}

void DeviceSession::unitQuestionAsked(const UnitQuestion& question) {
    tell([&question](SessionListener& l) { l.unitQuestionAsked(question); });
}

void DeviceSession::updateEnded(const UpdateOutcome& outcome) {
    tell([&outcome](SessionListener& l) { l.updateEnded(outcome); });
}

void DeviceSession::phaseReached(const QString& phase) {
    tell([&phase](SessionListener& l) { l.phaseReached(phase); });
}

void DeviceSession::setAttemptId(const QString& id) {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_attemptId = id;
}

QString DeviceSession::attemptId() const {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_attemptId;
}

void DeviceSession::unitLeft() {
    tell([](SessionListener& l) { l.unitLeft(); });
}

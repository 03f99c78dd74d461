#include "app/StationRow.h"
#include "app/MessageBoxes.h"
#include "app/ProgressBarView.h"
#include "app/StationWindow.h"
#include "workflow/DeviceWorkflow.h"
#include "workflow/Messages.h"

#include "bridge/HistoryKeeper.h"
#include "workflow/AttemptRecorder.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr std::size_t kAttemptsShown = 5;

StationWindow::Tone toneOf(StationRow::Outcome outcome) {
    switch (outcome) {
    case StationRow::Outcome::Updated:
    case StationRow::Outcome::UpToDate:
        return StationWindow::Tone::Done;
    case StationRow::Outcome::Failed:
        return StationWindow::Tone::Failed;
    case StationRow::Outcome::DataNotBack:
        return StationWindow::Tone::DataNotBack;
    case StationRow::Outcome::NotStarted: // nothing was touched: no failure
    case StationRow::Outcome::None:
        break;
    }
    return StationWindow::Tone::Plain;
}

} // namespace

StationRow::StationRow(StationWindow& window, DeviceWorkflow& unit, std::function<void()> changed,
                       AttemptRecorder* recorder)
    : m_window(window), m_unit(unit), m_port(unit.port()), m_changed(std::move(changed)), m_recorder(recorder) {
    m_window.addRow(m_port);
    QObject::connect(m_window.actionButton(m_port), &QPushButton::clicked, &m_window, [this] {
        if (!m_frozen)
            m_unit.press(); // Close never reaches here: the button is hidden then
    });
}

bool StationRow::updating() const {
    return m_unit.session().updateRunning();
}

bool StationRow::offersStart() const {
    return !m_frozen && m_enabled && m_unit.session().state() == SessionState::Offered;
}

void StationRow::freeze() {
    m_frozen = true;
    refresh();
}

void StationRow::showStatus(const QString& text) {
    m_status = text;
    refresh();
}

void StationRow::showInfo(const QString& text) {
    m_info = text;
    refresh();
}

void StationRow::setTextLabel(const std::optional<QString>& text, bool) {
    m_info = text.value_or(QString());
    refresh();
}

void StationRow::showButtonTitle(const QString& title) {
    m_title = title;
    refresh();
}

void StationRow::enableButton(bool enabled) {
    m_enabled = enabled;
    refresh();
}

void StationRow::showProgress(double fraction) {
    m_window.progressBar(m_port)->showFraction(fraction);
    m_window.setText(m_port, StationWindow::Progress, ProgressBarView::percentText(fraction));
}

void StationRow::startAnimation() {
    ProgressBarView* bar = m_window.progressBar(m_port);
    bar->setIndeterminate(true);
    bar->startAnimation();
}

void StationRow::stopAnimation() {
    m_window.progressBar(m_port)->stopAnimation();
}

void StationRow::showNotice(const QString& text) {
    messageboxes::openNotice(&m_window, m_port + QStringLiteral(": ") + text);
}

void StationRow::versionRead(bool updateOffered) {
    refresh();
    showOutcome(updateOffered ? Outcome::None : Outcome::UpToDate);
}

void StationRow::updateStarted() {
    m_window.progressBar(m_port)->setHalted(false);
    showOutcome(Outcome::None);
}

// A word or two; the status beside it says how, and the tool tip all the session said.
void StationRow::showOutcome(Outcome outcome) {
    m_outcome = outcome;
    QString text;
    switch (outcome) {
    case Outcome::Updated:
        text = m_unit.session().newVersionRead()
                   ? messages::lookupFilled("res Updated to %s", m_unit.session().deviceVersion())
                   : messages::lookup("res Updated");
        break;
    case Outcome::UpToDate:
        text = messages::lookup("res Up to date");
        break;
    case Outcome::Failed:
        text = messages::lookup("res Failed");
        break;
    case Outcome::DataNotBack:
        text = messages::lookup("res Data not back");
        break;
    case Outcome::NotStarted:
        text = messages::lookup("res Not started");
        break;
    case Outcome::None:
        break;
    }
    m_window.setText(m_port, StationWindow::Result, text, text.isEmpty() ? QString() : m_status + u'\n' + m_info);
    m_window.setTone(m_port, toneOf(outcome));
    m_changed();
}

void StationRow::updateEnded(const UpdateOutcome& outcome) {
    // The completion has shown the outcome in the status line: success or what failed. A
    // full bar only for a success; any other outcome stands still, as in the one window.
    // The bar stands where the update stopped: stripes would read as still at work.
    ProgressBarView* bar = m_window.progressBar(m_port);
    bar->stopAnimation();
    bar->setIndeterminate(false);
    const bool updated = outcome.result == UpdateResult::Updated;
    bar->setHalted(!updated);
    // Done here: the row says so until the unit leaves and its port waits for the next one.
    if (updated)
        m_status = messages::lookup("stat Updated — you can unplug it");
    refresh();
    showRecord();
    showOutcome(updated                                         ? Outcome::Updated
                : outcome.result == UpdateResult::DataNotBack ? Outcome::DataNotBack
                : outcome.result == UpdateResult::NotStarted  ? Outcome::NotStarted
                                                                : Outcome::Failed);
}

void StationRow::unitQuestionAsked(const UnitQuestion& question) {
    refresh();
    m_window.setTone(m_port, StationWindow::Tone::Question);
    if (m_questionBox)
        messageboxes::closeUnitQuestion(m_questionBox);
    if (!m_frozen)
        m_questionBox = messageboxes::openUnitQuestion(&m_window, question, m_unit);
}

void StationRow::closeStaleQuestion() {
    if (!m_questionBox)
        return;
    const std::optional<UnitQuestion> standing = m_unit.session().question();
    if (m_unit.session().state() == SessionState::Offered && standing &&
        standing->asked == m_questionBox->property("asked").toULongLong())
        return;
    messageboxes::closeUnitQuestion(m_questionBox);
}

void StationRow::showRecord() {
    if (!m_recorder)
        return;
    const AttemptHistory& record = m_recorder->keeper().local();
    const QString failing = attempts::failingPort(record, m_port);
    QStringList tip;
    if (!failing.isEmpty())
        tip << failing;
    const QString unit = attempts::unitOf(m_unit.session().backupRun());
    if (!unit.isEmpty()) {
        AttemptFilter filter;
        filter.unit = unit;
        const std::vector<Attempt> attempts = record.list(filter);
        tip << messages::lookup("info This hotspot's updates:");
        for (auto it = attempts.size() > kAttemptsShown ? attempts.end() - kAttemptsShown : attempts.begin();
             it != attempts.end(); ++it)
            tip << QStringLiteral("%1  %2 → %3  %4")
                       .arg(QLocale().toString(it->started.toLocalTime(), QLocale::ShortFormat),
                            it->versionBefore, it->versionAfter.isEmpty() ? it->packageVersion : it->versionAfter,
                            it->outcome);
    }
    m_window.setPortRecord(m_port, !failing.isEmpty(), tip.join(u'\n'));
}

void StationRow::unitLeft() {
    m_window.progressBar(m_port)->setHalted(false);
    showOutcome(Outcome::None);
}

void StationRow::refresh() {
    closeStaleQuestion();
    m_window.setText(m_port, StationWindow::Status, m_status, m_info.isEmpty() ? m_status : m_info);
    m_window.setText(m_port, StationWindow::Version, m_unit.session().deviceVersion());
    // Searching has nothing to press, and a finished unit's "Close" would end nothing here.
    const SessionState state = m_unit.session().state();
    QPushButton* button = m_window.actionButton(m_port);
    const bool shown = state == SessionState::Offered || state == SessionState::Updating;
    button->setText(m_title);
    button->setVisible(shown);
    m_window.setText(m_port, StationWindow::Action, shown ? m_title : QString());
    button->setEnabled(m_enabled && !m_frozen);
    m_changed();
}

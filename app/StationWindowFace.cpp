#include "app/StationWindowFace.h"
#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "app/SharedRecordWatch.h"
#include "app/StationRow.h"
#include "app/StationWindow.h"
#include "bridge/UserFolders.h"
#include "workflow/Messages.h"

#include <QCheckBox>
#include "app/CommandLine.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QPushButton>
#include <algorithm>
#include <functional>

namespace {

// The user's choices of the station window, in $XDG_CONFIG_HOME/hotspot-updater/ (looked up
// each time: QSettings' own user scope is fixed at its first use in a process).
QSettings stationSettings() {
    return QSettings(configFolder() + QStringLiteral("/station.conf"), QSettings::IniFormat);
}

const QString kAutoUpdateKey = QStringLiteral("auto-update");
const QString kPortsKey = QStringLiteral("ports");

} // namespace

StationWindowFace::StationWindowFace(StationWindow* window, bool handsFree, QStringList ports)
    : m_window(window), m_handsFree(handsFree), m_ports(std::move(ports)) {}

StationWindowFace::~StationWindowFace() = default;

void StationWindowFace::attach(Application& application, const QString& resourcesPath) {
    m_application = &application;
    m_resources = resourcesPath;
    application.station()->subscribe(this);
    QObject::connect(m_window->startAllButton(), &QPushButton::clicked, &application, [this] {
        if (!m_closing)
            m_application->station()->startAll();
    });
    m_window->setCloseGuard([this] { return closeRequested(); });
    followAutoUpdateBox();
    followPortsEdit();
    m_window->retranslate();
    m_window->setPictureFolder(resourcesPath);
}

void StationWindowFace::showStatus(const QString& text) {
    const QString version = m_application->session().packageVersion();
    m_window->packageLabel()->setText(version.isEmpty() ? QString()
                                                        : messages::lookupFilled("info Package version %s", version));
    m_checkStatus = text;
    showSummary();
}

// The check's status until a unit joins; then what the units do, counted.
void StationWindowFace::showSummary() {
    if (m_closing)
        return;
    if (m_rows.empty()) {
        m_window->statusLabel()->setText(m_checkStatus + m_sharedRecord);
        return;
    }
    const auto count = [this](const std::function<bool(const StationRow&)>& which) {
        return QString::number(std::count_if(m_rows.cbegin(), m_rows.cend(),
                                             [&which](const std::unique_ptr<StationRow>& row) { return which(*row); }));
    };
    using Outcome = StationRow::Outcome;
    QString text = messages::lookupFilled("stat station %s found, %s updating, %s updated, %s failed",
                                          QString::number(m_rows.size()));
    text = messages::fill(text, count([](const StationRow& row) { return row.updating(); }));
    text = messages::fill(text, count([](const StationRow& row) { return row.outcome() == Outcome::Updated; }));
    text = messages::fill(text, count([](const StationRow& row) { return row.outcome() == Outcome::Failed || row.outcome() == Outcome::DataNotBack; }));
    m_window->statusLabel()->setText(text + todayText() + m_sharedRecord);
}

void StationWindowFace::sharedRecordChanged(const SharedRecordStatus& status) {
    const QString line = sharedrecord::windowLine(status);
    m_sharedRecord = line.isEmpty() ? QString() : u'\n' + line;
    showSummary();
}

// All day, what the record holds of today beside what the rows show now; read again only
// once the record was written since (the summary changes with every status a row shows).
QString StationWindowFace::todayText() {
    AttemptRecorder* recorder = m_application->recorder();
    if (!recorder)
        return {};
    if (!m_todayRead || *m_todayRead != recorder->writes()) {
        const AttemptCounts today = recorder->keeper().local().today();
        m_today = u'\n' + messages::fill(messages::lookupFilled("stat Today: %s updated, %s failed",
                                                                 QString::number(today.updated)),
                                          QString::number(today.failed));
        m_todayRead = recorder->writes();
    }
    return m_today;
}

void StationWindowFace::showAlert(const QString& text) {
    messageboxes::openAlert(m_window, text, m_resources, *m_application);
}

void StationWindowFace::showNotice(const QString& text) {
    messageboxes::openNotice(m_window, text);
}

void StationWindowFace::unitJoined(DeviceWorkflow& unit) {
    m_rows.push_back(std::make_unique<StationRow>(*m_window, unit, [this] { showStartAll(); }, m_application->recorder()));
    unit.session().subscribe(m_rows.back().get());
}

void StationWindowFace::showStartAll() {
    const bool offered = std::any_of(m_rows.cbegin(), m_rows.cend(),
                                     [](const std::unique_ptr<StationRow>& row) { return row->offersStart(); });
    m_window->startAllButton()->setEnabled(offered && !m_closing);
    showSummary();
}

void StationWindowFace::followAutoUpdateBox() {
    QCheckBox* box = m_window->autoUpdateBox();
    const bool on = m_handsFree || stationSettings().value(kAutoUpdateKey, false).toBool();
    box->setChecked(on);
    m_application->station()->autopilot().setEnabled(on);
    // Only the user's own click is remembered; --auto is for this run.
    QObject::connect(box, &QCheckBox::clicked, m_application, [this](bool checked) {
        stationSettings().setValue(kAutoUpdateKey, checked);
        if (!m_closing)
            m_application->station()->autopilot().setEnabled(checked);
    });
}

void StationWindowFace::followPortsEdit() {
    QLineEdit* edit = m_window->portsEdit();
    const QString saved = stationSettings().value(kPortsKey).toString();
    const std::optional<QStringList> remembered = cmdline::portPatterns(saved);
    const QStringList ports = !m_ports.isEmpty() ? m_ports : remembered.value_or(QStringList());
    edit->setText(ports.join(u','));
    m_application->station()->limitToPorts(ports);
    QObject::connect(edit, &QLineEdit::editingFinished, m_application, [this, edit] {
        const std::optional<QStringList> chosen = cmdline::portPatterns(edit->text());
        // A list that is no list changes nothing, and says why where it is typed.
        edit->setStyleSheet(chosen ? QString() : QStringLiteral("QLineEdit { background: #f8d0cc; color: black; }"));
        edit->setToolTip(chosen ? QString() : messages::lookup("info Ports are patterns such as 1-2.* separated by commas."));
        if (!chosen)
            return;
        stationSettings().setValue(kPortsKey, chosen->join(u','));
        m_application->station()->limitToPorts(*chosen);
    });
}

bool StationWindowFace::closeRequested() {
    if (m_application->requestClose())
        return true;
    m_closing = true;
    m_application->station()->autopilot().setEnabled(false);
    m_window->statusLabel()->setText(messages::lookup("stat Closing once the running updates end ..."));
    for (const std::unique_ptr<StationRow>& row : m_rows)
        row->freeze();
    showStartAll();
    return false;
}

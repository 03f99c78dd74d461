#pragma once
// The station window's face: the package check's session fills the top of the window, and
// every unit that joins gets a row of its own.

#include "app/Face.h"
#include "workflow/Station.h"

#include <memory>
#include <optional>
#include <vector>

class StationRow;
class StationWindow;

class StationWindowFace : public Face, private StationListener {
public:
    // The window must outlive the face. `handsFree` (--auto): updates start by themselves
    // from the start, whatever the window's box was left at.
    // `ports` (--ports): the station's ports for this run, whatever the window's list says.
    explicit StationWindowFace(StationWindow* window, bool handsFree = false, QStringList ports = {});
    ~StationWindowFace() override;

    void attach(Application& application, const QString& resourcesPath) override;
    void showStatus(const QString& text) override;
    void showAlert(const QString& text) override;
    void showNotice(const QString& text) override;
    void sharedRecordChanged(const SharedRecordStatus& status) override;

    StationWindow* window() const { return m_window; }

private:
    void unitJoined(DeviceWorkflow& unit) override;
    // Start All is offered while any row offers Start or Finish.
    void showStartAll();
    void showSummary();
    QString todayText();
    // The window's close: at once, or once the running updates have ended.
    bool closeRequested();
    // The hands-free box, as the user last left it (or --auto), and its changes.
    void followAutoUpdateBox();
    // The list of ports, as the user last left it (or --ports), and its changes.
    void followPortsEdit();

    StationWindow* m_window;
    Application* m_application = nullptr;
    QString m_resources;
    QString m_checkStatus;
    std::vector<std::unique_ptr<StationRow>> m_rows;
    bool m_closing = false;
    bool m_handsFree = false;
    QStringList m_ports;
    QString m_today;
    QString m_sharedRecord; // while its server fails
    std::optional<quint64> m_todayRead; // the recorder's writes when m_today was read
};

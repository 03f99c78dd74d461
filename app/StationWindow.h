#pragma once
// The station's window: the package and the check's status on top with "Start All", then a
// table with one row per USB port, kept in port order. Resizable. Its close can be deferred.

#include <QWidget>
#include <functional>

class ProgressBarView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class StationWindow : public QWidget {
public:
    enum Column { Port, Version, Status, Progress, Result, Action, ColumnCount };
    // How a row reads at a glance from across the bench: still to do or at work (plain),
    // done, failed, written with its data not back (Try Again puts it back), or waiting for
    // the user's answer.
    enum class Tone { Plain, Done, Failed, DataNotBack, Question };

    explicit StationWindow(QWidget* parent = nullptr);
    // The texts of the string table installed now: headers and the Start All button.
    void retranslate();
    // Where the window's icon is.
    void setPictureFolder(const QString& resourcesDir);
    // Asked when the user closes the window; false keeps it open.
    void setCloseGuard(std::function<bool()> guard) { m_closeGuard = std::move(guard); }

    QLabel* packageLabel() const { return m_package; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* startAllButton() const { return m_startAll; }
    // "Update each hotspot as soon as it is found": hands-free.
    QCheckBox* autoUpdateBox() const { return m_autoUpdate; }
    // The ports the station takes, as patterns ("1-2.*,3-1"); empty: every port.
    QLineEdit* portsEdit() const { return m_ports; }
    QTableWidget* table() const { return m_table; }

    // Adds the port's row in port order unless it is there; returns its row.
    int addRow(const QString& port);
    // The port's row, or -1.
    int rowOf(const QString& port) const;
    void setText(const QString& port, Column column, const QString& text, const QString& toolTip = {});
    QString text(const QString& port, Column column) const;
    void setTone(const QString& port, Tone tone);
    // The port's record: a warning sign on a port that fails often, and what is known of its
    // attempts as the port's tool tip.
    void setPortRecord(const QString& port, bool failsOften, const QString& toolTip);
    bool portFailsOften(const QString& port) const;
    Tone tone(const QString& port) const;
    ProgressBarView* progressBar(const QString& port) const;
    QPushButton* actionButton(const QString& port) const;

    QSize sizeHint() const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_package;
    QLabel* m_status;
    QPushButton* m_startAll;
    QCheckBox* m_autoUpdate;
    QLabel* m_portsLabel;
    QLineEdit* m_ports;
    QTableWidget* m_table;
    std::function<bool()> m_closeGuard;
};

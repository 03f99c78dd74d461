#pragma once
#include "ui_MainWindow.h"

#include <QWidget>

// The single window. Its close button can be refused while an update runs.
class MainWindow : public QWidget {
public:
    explicit MainWindow(QWidget* parent = nullptr);
    Ui::MainWindow ui;
    void setCloseEnabled(bool enabled) { m_closeEnabled = enabled; }
    bool closeEnabled() const { return m_closeEnabled; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool m_closeEnabled = true;
};

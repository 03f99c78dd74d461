#include "app/MainWindow.h"

#include <QCloseEvent>

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) { ui.setupUi(this); }

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeEnabled)
        event->accept();
    else
        event->ignore();
}

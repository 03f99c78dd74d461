#include "app/StationWindow.h"
#include "app/ProgressBarView.h"
#include "workflow/Messages.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>
#include <vector>

using messages::lookup;

namespace {

constexpr int kRowHeight = 34;
constexpr int kRowsShown = 8;
constexpr int kProgressWidth = 150;
constexpr int kActionWidth = 140;

// "1-2.10" after "1-2.9": the bus and every hop compared as numbers.
std::vector<int> portNumbers(const QString& port) {
    std::vector<int> numbers;
    for (const QString& part : QString(port).replace(u'-', u'.').split(u'.'))
        numbers.push_back(part.toInt());
    return numbers;
}

bool portBefore(const QString& a, const QString& b) {
    return portNumbers(a) < portNumbers(b);
}

// A cell widget with some air around it, so a bar or button does not touch the grid. It
// covers the cell's own text, which is there for assistive technology.
QWidget* padded(QWidget* inner) {
    auto* cell = new QWidget;
    cell->setBackgroundRole(QPalette::Base);
    cell->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->addWidget(inner);
    return cell;
}

// Light fills with dark text: legible in light and dark themes alike, and told apart by more
// than their hue (the result's words and the bar say the same).
QColor toneColour(StationWindow::Tone tone) {
    switch (tone) {
    case StationWindow::Tone::Done:
        return {0xd4, 0xf0, 0xd4};
    case StationWindow::Tone::Failed:
        return {0xf8, 0xd0, 0xcc};
    case StationWindow::Tone::DataNotBack:
        return {0xff, 0xd5, 0x80};
    case StationWindow::Tone::Question:
        return {0xd0, 0xe0, 0xff};
    case StationWindow::Tone::Plain:
        break;
    }
    return {};
}

template <class Inner>
Inner* innerOf(QWidget* cell, const QString& name) {
    return cell ? cell->findChild<Inner*>(name) : nullptr;
}

} // namespace

StationWindow::StationWindow(QWidget* parent)
    : QWidget(parent), m_package(new QLabel), m_status(new QLabel), m_startAll(new QPushButton),
      m_autoUpdate(new QCheckBox), m_portsLabel(new QLabel), m_ports(new QLineEdit),
      m_table(new QTableWidget(0, ColumnCount)) {
    setWindowTitle(QStringLiteral("Hotspot Updater"));
    m_package->setObjectName(QStringLiteral("stationPackage"));
    m_status->setObjectName(QStringLiteral("stationStatus"));
    m_status->setWordWrap(true);
    m_startAll->setObjectName(QStringLiteral("startAllButton"));
    m_startAll->setEnabled(false);
    m_autoUpdate->setObjectName(QStringLiteral("autoUpdateBox"));
    m_ports->setObjectName(QStringLiteral("portsEdit"));
    m_portsLabel->setBuddy(m_ports);
    m_table->setObjectName(QStringLiteral("stationTable"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_table->setWordWrap(false);
    // Columns keep their widths as texts come and go; the two long texts share the rest.
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Status, QHeaderView::Stretch);
    header->setSectionResizeMode(Result, QHeaderView::Stretch);
    for (const auto& [column, width] : {std::pair{Progress, kProgressWidth}, std::pair{Action, kActionWidth}}) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, width);
    }

    auto* top = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->addWidget(m_package);
    texts->addWidget(m_status);
    top->addLayout(texts, 1);
    auto* actions = new QVBoxLayout;
    actions->addWidget(m_startAll, 0, Qt::AlignRight);
    actions->addWidget(m_autoUpdate, 0, Qt::AlignRight);
    auto* ports = new QHBoxLayout;
    ports->addStretch(1);
    ports->addWidget(m_portsLabel);
    ports->addWidget(m_ports);
    actions->addLayout(ports);
    top->addLayout(actions);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    retranslate();
    resize(sizeHint()); // not the two thirds of the screen a first show would allow at most
}

void StationWindow::retranslate() {
    m_startAll->setText(lookup("btn Start All"));
    m_autoUpdate->setText(lookup("btn Update each hotspot as soon as it is found"));
    m_portsLabel->setText(lookup("btn Only the ports:"));
    m_ports->setPlaceholderText(lookup("info all, or such as 1-2.*,3-1"));
    m_ports->setMinimumWidth(m_ports->fontMetrics().horizontalAdvance(m_ports->placeholderText()) + 24);
    m_table->setHorizontalHeaderLabels({lookup("col Port"), lookup("col Version"), lookup("col Status"),
                                        lookup("col Progress"), lookup("col Result"), QString()});
}

void StationWindow::setPictureFolder(const QString& resourcesDir) {
    const QIcon icon(resourcesDir + QStringLiteral("/app-icon.png"));
    if (!icon.isNull())
        setWindowIcon(icon);
}

int StationWindow::addRow(const QString& port) {
    if (const int known = rowOf(port); known >= 0)
        return known;
    int row = 0;
    while (row < m_table->rowCount() && portBefore(m_table->item(row, Port)->text(), port))
        ++row;
    m_table->insertRow(row);
    for (int column = 0; column < ColumnCount; ++column)
        m_table->setItem(row, column, new QTableWidgetItem);
    m_table->item(row, Port)->setText(port);
    auto* bar = new ProgressBarView;
    bar->setObjectName(QStringLiteral("progress ") + port);
    m_table->setCellWidget(row, Progress, padded(bar));
    auto* button = new QPushButton;
    button->setObjectName(QStringLiteral("action ") + port);
    button->setEnabled(false);
    m_table->setCellWidget(row, Action, padded(button));
    return row;
}

void StationWindow::setPortRecord(const QString& port, bool failsOften, const QString& toolTip) {
    const int row = rowOf(port);
    if (row < 0)
        return;
    QTableWidgetItem* item = m_table->item(row, Port);
    item->setIcon(failsOften ? style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
    item->setData(Qt::UserRole + 1, failsOften);
    item->setToolTip(toolTip);
}

bool StationWindow::portFailsOften(const QString& port) const {
    const int row = rowOf(port);
    return row >= 0 && m_table->item(row, Port)->data(Qt::UserRole + 1).toBool();
}

int StationWindow::rowOf(const QString& port) const {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, Port)->text() == port)
            return row;
    }
    return -1;
}

void StationWindow::setText(const QString& port, Column column, const QString& text, const QString& toolTip) {
    const int row = rowOf(port);
    if (row < 0)
        return;
    QTableWidgetItem* item = m_table->item(row, column);
    item->setText(text);
    item->setToolTip(toolTip.isEmpty() ? text : toolTip);
}

void StationWindow::setTone(const QString& port, Tone tone) {
    const int row = rowOf(port);
    if (row < 0)
        return;
    const QColor fill = toneColour(tone);
    const QBrush background = fill.isValid() ? QBrush(fill) : QBrush();
    const QBrush foreground = fill.isValid() ? QBrush(QColor(0x20, 0x20, 0x20)) : QBrush();
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = m_table->item(row, column);
        item->setBackground(background);
        item->setForeground(foreground);
        item->setData(Qt::UserRole, static_cast<int>(tone));
        // The bar's and the button's cells too, so the whole row reads as one.
        if (QWidget* cell = m_table->cellWidget(row, column)) {
            QPalette palette = cell->palette();
            palette.setColor(QPalette::Base, fill.isValid() ? fill : m_table->palette().color(QPalette::Base));
            cell->setPalette(palette);
        }
    }
}

StationWindow::Tone StationWindow::tone(const QString& port) const {
    const int row = rowOf(port);
    return row < 0 ? Tone::Plain : static_cast<Tone>(m_table->item(row, Port)->data(Qt::UserRole).toInt());
}

QString StationWindow::text(const QString& port, Column column) const {
    const int row = rowOf(port);
    return row < 0 ? QString() : m_table->item(row, column)->text();
}

ProgressBarView* StationWindow::progressBar(const QString& port) const {
    const int row = rowOf(port);
    return row < 0 ? nullptr : innerOf<ProgressBarView>(m_table->cellWidget(row, Progress), QStringLiteral("progress ") + port);
}

QPushButton* StationWindow::actionButton(const QString& port) const {
    const int row = rowOf(port);
    return row < 0 ? nullptr : innerOf<QPushButton>(m_table->cellWidget(row, Action), QStringLiteral("action ") + port);
}

QSize StationWindow::sizeHint() const {
    // Eight rows without scrolling, and the long status texts of the one-device window.
    return {960, 180 + kRowsShown * kRowHeight};
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (!m_closeGuard || m_closeGuard())
        event->accept();
    else
        event->ignore();
}

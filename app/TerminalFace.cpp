#include "app/TerminalFace.h"
#include "app/SharedRecordWatch.h"

#include <QDateTime>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kDefaultColumns = 80;
constexpr int kMaxBarColumns = 60;

int terminalColumns(std::FILE* f) {
    winsize size{};
    if (::ioctl(fileno(f), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

int percentOf(double fraction) {
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return static_cast<int>(100.0 * clamped);
}

void write(std::FILE* f, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
    std::fflush(f);
}

// The info area's text ("label\n\tvalue\n...") as terminal lines, a value beside its label.
QStringList linesOf(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'\t') && !lines.isEmpty()) {
            const QString label = lines.takeLast();
            const QString sep = label.endsWith(u':') ? QStringLiteral(" ") : QStringLiteral(": ");
            lines << label + sep + line.trimmed();
        } else {
            lines << line.trimmed();
        }
    }
    return lines;
}

} // namespace

TerminalFace::TerminalFace(Style style, std::FILE* out, std::FILE* err, QString port)
    : m_style(style), m_port(std::move(port)), m_out(out), m_err(err) {}

std::unique_ptr<TerminalFace> TerminalFace::forPort(const QString& port) const {
    return std::make_unique<TerminalFace>(m_style, m_out, m_err, port);
}

void TerminalFace::showStatus(const QString& text) {
    if (m_muted)
        return;
    if (text != m_status) {
        m_status = text;
        if (m_style == Style::Json)
            emitEvent("status", {{QStringLiteral("text"), text}});
        else
            printLine(text);
    }
}

void TerminalFace::showInfo(const QString& text) {
    if (m_muted)
        return;
    if (text != m_info) {
        m_info = text;
        if (m_infoVisible) {
            if (m_style == Style::Json) {
                emitEvent("info", {{QStringLiteral("text"), text}});
            } else {
                for (const QString& line : linesOf(text))
                    printLine(line);
            }
        }
    }
}

void TerminalFace::setTextLabel(const std::optional<QString>& text, bool) {
    m_infoVisible = text.has_value();
    if (text) {
        m_info.clear(); // shown again, even when unchanged
        showInfo(*text);
    }
}

void TerminalFace::showWarning(const std::optional<QString>& text) {
    if (m_muted)
        return;
    const QString shown = text.value_or(QString());
    if (shown != m_warning) {
        m_warning = shown;
        if (m_style == Style::Json && text)
            emitEvent("warning", {{QStringLiteral("text"), shown}});
        else if (text)
            printLine(QStringLiteral("! ") + shown);
    }
}

void TerminalFace::showProgress(double fraction) {
    if (m_muted)
        return;
    if (fraction < 0) {
        clearBar();
        m_percent = -1;
        return;
    }
    const int percent = percentOf(fraction);
    if (percent != m_percent) {
        m_percent = percent;
        switch (m_style) {
        case Style::Json:
            emitEvent("progress", {{QStringLiteral("percent"), percent}});
            break;
        case Style::Lines:
            printLine(QStringLiteral("%1 %").arg(percent));
            break;
        case Style::Bar:
            drawBar();
            break;
        case Style::Quiet:
            break;
        }
    }
}

void TerminalFace::showAlert(const QString& text) {
    if (m_muted)
        return;
    m_alerted = true;
    if (m_style == Style::Json)
        emitEvent("alert", {{QStringLiteral("text"), text}});
    say(text, true);
}

void TerminalFace::showNotice(const QString& text) {
    if (m_muted)
        return;
    if (m_style == Style::Json)
        emitEvent("notice", {{QStringLiteral("text"), text}});
    say(text, true);
}

void TerminalFace::updateEnded(const UpdateOutcome&) {
    finishBar();
    m_percent = -1;
}

void TerminalFace::say(const QString& text, bool error) {
    if (error) {
        clearBar();
        const QString from = m_port.isEmpty() ? QString() : m_port + QStringLiteral(": ");
        write(m_err, QStringLiteral("hotspot-updater: ") + from + text + u'\n');
        drawBar();
        return;
    }
    if (m_style == Style::Bar || m_style == Style::Lines)
        printLine(text);
}

void TerminalFace::sharedRecordChanged(const SharedRecordStatus& status) {
    if (status.failing == m_sharedRecordFailing)
        return;
    m_sharedRecordFailing = status.failing;
    say(sharedrecord::changeLine(status), true);
    emitEvent("sharedRecord", {{QStringLiteral("reachable"), !status.failing}, {QStringLiteral("waiting"), status.waiting}});
}

void TerminalFace::emitEvent(const char* event, QJsonObject fields) {
    if (m_style != Style::Json)
        return;
    fields.insert(QStringLiteral("event"), QString::fromLatin1(event));
    if (!m_port.isEmpty())
        fields.insert(QStringLiteral("port"), m_port);
    fields.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    write(m_out, QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)) + u'\n');
}

void TerminalFace::prompt(const QString& text) {
    clearBar();
    write(m_err, text);
}

void TerminalFace::printLine(const QString& text) {
    switch (m_style) {
    case Style::Lines: {
        const QString from = m_port.isEmpty() ? QString() : m_port + QStringLiteral("  ");
        write(m_out, QDateTime::currentDateTime().toString(Qt::ISODate) + u' ' + from + text + u'\n');
        break;
    }
    case Style::Bar:
        clearBar();
        write(m_out, text + u'\n');
        drawBar();
        break;
    case Style::Quiet:
    case Style::Json:
        break;
    }
}

void TerminalFace::drawBar() {
    if (m_style != Style::Bar || m_percent < 0)
        return;
    // "[#########...........]  45 %", fitted to the terminal's width.
    const int width = std::clamp(terminalColumns(m_out) - 9, 10, kMaxBarColumns);
    const int filled = width * m_percent / 100;
    const QString bar = QStringLiteral("\r[%1%2] %3 %")
                            .arg(QString(filled, u'#'), QString(width - filled, u'.'))
                            .arg(m_percent, 3);
    write(m_out, bar);
    m_barShown = true;
}

void TerminalFace::finishBar() {
    if (!m_barShown)
        return;
    write(m_out, QStringLiteral("\n"));
    m_barShown = false;
}

void TerminalFace::clearBar() {
    if (!m_barShown)
        return;
    write(m_out, QStringLiteral("\r\x1b[K"));
    m_barShown = false;
}


#pragma once
// The terminal's face: the screen operations as lines on standard output. On a terminal the
// progress is one updating bar line; otherwise every change is a timestamped line; --json
// prints one JSON object per event; --quiet prints nothing but errors.

#include "app/Face.h"

#include <QJsonObject>
#include <QString>
#include <cstdio>
#include <functional>
#include <memory>

class TerminalFace : public Face {
public:
    enum class Style { Bar, Lines, Quiet, Json };

    // `out` and `err` stay open for the face's life. A station's unit has a face of its own,
    // whose every line and event names its `port`.
    TerminalFace(Style style, std::FILE* out, std::FILE* err, QString port = {});

    void attach(Application&, const QString&) override {}
    void showStatus(const QString& text) override;
    void showInfo(const QString& text) override;
    void setTextLabel(const std::optional<QString>& text, bool showImage) override;
    void showWarning(const std::optional<QString>& text) override;
    // No button: the session acts in its place.
    void showButtonTitle(const QString&) override {}
    void enableButton(bool) override {}
    void showProgress(double fraction) override;
    void showAlert(const QString& text) override;
    void showNotice(const QString& text) override;
    void updateStarted() override {}
    void updateEnded(const UpdateOutcome& outcome) override;
    // One line on standard error when the failing starts and one when it ends, in every style.
    void sharedRecordChanged(const SharedRecordStatus& status) override;

    Style style() const { return m_style; }
    // A face in the same style on the same streams, for a station's unit at `port`.
    std::unique_ptr<TerminalFace> forPort(const QString& port) const;
    QString status() const { return m_status; }
    bool alerted() const { return m_alerted; }

    // A line of the session's own: on standard output, or on standard error when `error`
    // (errors are printed in every style, other lines not with --quiet or --json).
    void say(const QString& text, bool error = false);
    // One JSON object on standard output (--json only).
    void emitEvent(const char* event, QJsonObject fields);
    // Writes straight to standard error, without a line end (a question).
    void prompt(const QString& text);
    // Leaves a shown bar where it is and moves below it.
    void finishBar();
    // From now on screen operations print nothing (the application is ending: what the
    // workers still post while they leave is no news); the session's own lines still print.
    void mute() { m_muted = true; }

private:
    void printLine(const QString& text);
    void drawBar();
    void clearBar();

    Style m_style;
    QString m_port;
    std::FILE* m_out;
    std::FILE* m_err;
    QString m_status;
    QString m_info;
    QString m_warning;
    bool m_infoVisible = true;
    bool m_alerted = false;
    bool m_muted = false;
    int m_percent = -1;    // -1: no bar
    bool m_barShown = false;
    bool m_sharedRecordFailing = false;
};

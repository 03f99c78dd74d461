#pragma once
// The two message boxes a window face opens: the alert whose answer decides whether the
// application ends, and a notice that ends nothing.

#include <QString>

class QMessageBox;

#include "workflow/SessionListener.h"

class Application;
class DeviceWorkflow;
class QWidget;

namespace messageboxes {

// A window-modal alert over `parent` with one "OK" button and the error picture from
// `resourcesPath`; the application is told the answer.
void openAlert(QWidget* parent, const QString& text, const QString& resourcesPath, Application& application);
// A modeless information box over `parent`.
void openNotice(QWidget* parent, const QString& text);
// A window-modal question over `parent`: is the unit at the question's port the one whose
// update stopped? Only its two answers close it (or closeUnitQuestion); `unit` is told which,
// for the question standing as it opened. Returns the box, deleted once closed.
QMessageBox* openUnitQuestion(QWidget* parent, const UnitQuestion& question, DeviceWorkflow& unit);
// Closes the box without an answer: its unit left.
void closeUnitQuestion(QMessageBox* box);

} // namespace messageboxes

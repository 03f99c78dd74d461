#pragma once
// The two message boxes a window face opens: the alert whose answer decides whether the
// application ends, and a notice that ends nothing.

#include <QString>

class Application;
class QWidget;

namespace messageboxes {

// A window-modal alert over `parent` with one "OK" button and the error picture from
// `resourcesPath`; the application is told the answer.
void openAlert(QWidget* parent, const QString& text, const QString& resourcesPath, Application& application);
// A modeless information box over `parent`.
void openNotice(QWidget* parent, const QString& text);

} // namespace messageboxes

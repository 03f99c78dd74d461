#pragma once
// The two message boxes a window face opens: the alert whose answer decides whether the
// application ends, and a notice that ends nothing.

#include <QString>
#include <functional>

class QWidget;

namespace messageboxes {

// A window-modal alert over `parent` with one "OK" button and the error picture from
// `resourcesPath`; `answered(true)` once that button is pressed.
void openAlert(QWidget* parent, const QString& text, const QString& resourcesPath,
               const std::function<void(bool firstButton)>& answered);
// A modeless information box over `parent`.
void openNotice(QWidget* parent, const QString& text);

} // namespace messageboxes

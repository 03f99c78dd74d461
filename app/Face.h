#pragma once
// What the controller shows, whoever looks at it: the window or a terminal. The controller's
// screen operations (app/Screen.cpp) keep their names and meaning and end here; every call
// comes on the GUI thread, with texts already looked up.

#include <QString>
#include <cstdint>
#include <optional>

class AppDelegate;

class Face {
public:
    virtual ~Face() = default;

    // Once, from the controller's constructor, after the string table is installed.
    virtual void attach(AppDelegate& controller, const QString& resourcesPath) = 0;
    // At launch: the window takes its style; a terminal has none.
    virtual void applyWindowStyle() {}

    virtual void showStatus(const QString& text) = 0;
    // Changes the info text without showing or hiding it.
    virtual void showInfo(const QString& text) = 0;
    // Shows `text` in the info area (hides it when nullopt) and the updating picture or not.
    virtual void setTextLabel(const std::optional<QString>& text, bool showImage) = 0;
    // The warning with its icon; nullopt hides both.
    virtual void showWarning(const std::optional<QString>& text) = 0;
    virtual void showButtonTitle(const QString& title) = 0;
    virtual void enableButton(bool enabled) = 0;
    // Below 0: indeterminate at "0 %"; 0: determinate from zero; above: the value (see Screen.cpp).
    virtual void showProgress(double fraction) = 0;
    virtual void startAnim() = 0;
    virtual void stopAnim() = 0;
    // The alert whose acknowledgement ends the application.
    virtual void showAlert(const QString& text) = 0;

    // The update run: from Start until the completion step has shown its result code.
    virtual void updateStarted() = 0;
    virtual void updateEnded(int32_t result) = 0;
};

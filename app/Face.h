#pragma once
// What the application shows, whoever looks at it: the window or a terminal. A face listens
// to the device's session; the application attaches it once.

#include "workflow/SessionListener.h"

struct SharedRecordStatus;

#include <QString>

class Application;

class Face : public SessionListener {
public:
    // Once, from the application's constructor, after the string table is installed.
    virtual void attach(Application& application, const QString& resourcesPath) = 0;
    // At launch: the window takes its style; a terminal has none.
    virtual void applyWindowStyle() {}
    // The shared record's server started failing, takes the attempts again, or more wait.
    virtual void sharedRecordChanged(const SharedRecordStatus&) {}
};

#pragma once
// A private state folder for one test, named in HOTSPOT_SIM_DIR for the tools and the
// USB library.

#include "SimControl.h"

#include <QTemporaryDir>
#include <QtGlobal>

class SimTestDir {
public:
    explicit SimTestDir(const QString& scenario)
    {
        qputenv("HOTSPOT_SIM_DIR", m_dir.path().toLocal8Bit());
        control.loadScenario(scenario);
    }
    ~SimTestDir() { qunsetenv("HOTSPOT_SIM_DIR"); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;

public:
    SimControl control{m_dir.path()};
};

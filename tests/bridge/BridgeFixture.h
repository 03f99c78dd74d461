#pragma once
// The bridge's classes on a temporary bundle whose adb and fastboot are shell scripts written
// per test. Each script logs its arguments (joined by '|', one run per line) and then runs the
// test's body. Replies with arbitrary bytes are kept in files the body can `cat`.

#include "bridge/DeviceData.h"
#include "bridge/DeviceProbes.h"
#include "bridge/HostPreparation.h"
#include "bridge/ToolRunner.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << "bytes \"" << bytes.toPercentEncoding(" \t:/").toStdString() << '"';
}

// What the injected exitProgram throws instead of ending the test run.
struct ProgramExit {
    int status;
};

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Writes Contents/Resources/<tool> (or any script at an absolute path).
    void writeTool(const QString& tool, const QString& body);
    void writeScript(const QString& path, const QString& body);
    // The body of a tool that answers with the content of reply file `name`.
    QString replyFile(const QString& name, const QByteArray& bytes);
    // The argument lists of every run of `tool`, '|'-joined, in order.
    QStringList runs(const QString& tool) const;

    QString path(const QString& relative) const { return m_root.filePath(relative); }
    QString resources() const { return path(QStringLiteral("bundle/Contents/Resources")); }
    QString hostTmp() const { return path(QStringLiteral("hosttmp")); }
    QString home() const { return path(QStringLiteral("home")); }

    static QByteArray readFile(const QString& file);
    static void writeFile(const QString& file, const QByteArray& bytes);

    const Tools& tools() const { return *m_tools; }
    const DeviceProbes& probes() const { return *m_probes; }
    // The host as a test's own folders show it.
    HostFolders folders() const { return {home(), hostTmp(), {}}; }
    HostPreparation host(const HostFolders& where) const {
        return HostPreparation(*m_tools, where, [](int status) { throw ProgramExit{status}; });
    }
    HostPreparation host() const { return host(folders()); }
    DeviceData data() const {
        return DeviceData(*m_tools, probes(), BackupStore::forDataHome(std::nullopt, home()), hostTmp());
    }
    bool backUp() { return data().backUp(m_run, QStringLiteral("1.0.3"), QStringLiteral("1.0.4")); }
    // Pushes the copies, then reads them back as the update does; true when all read back.
    bool restore() { return data().restore(m_run) && data().confirmBack(m_run); }

    QTemporaryDir m_root;
    std::unique_ptr<Tools> m_tools;
    std::unique_ptr<DeviceProbes> m_probes;
    BackupRun m_run; // the run backUp() and restore() work on
};

#pragma once
// A controller on a temporary bundle whose adb and fastboot are shell scripts written per
// test. Each script logs its arguments (joined by '|', one run per line) and then runs the
// test's body. Replies with arbitrary bytes are kept in files the body can `cat`.

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"

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

    QTemporaryDir m_root;
    MainWindow m_window;
    WindowFace m_face{&m_window};
    std::unique_ptr<AppDelegate> m_app;
};

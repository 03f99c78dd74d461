#include "BridgeFixture.h"

#include <QDir>
#include <QFile>

void BridgeTest::SetUp() {
    ASSERT_TRUE(m_root.isValid());
    for (const QString& dir : {resources(), hostTmp(), home(), path(QStringLiteral("replies"))})
        ASSERT_TRUE(QDir().mkpath(dir));
    m_tools = std::make_unique<Tools>(resources(), ToolLimits{});
    m_probes = std::make_unique<DeviceProbes>(*m_tools);
}

void BridgeTest::writeScript(const QString& file, const QString& body) {
    const QString log = path(QFileInfo(file).fileName() + QStringLiteral(".log"));
    const QString script = QStringLiteral("#!/bin/sh\n"
                                          "for a in \"$@\"; do printf '%s|' \"$a\"; done >> '%1'\n"
                                          "echo >> '%1'\n")
                               .arg(log) +
                           body + u'\n';
    writeFile(file, script.toUtf8());
    QFile(file).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void BridgeTest::writeTool(const QString& tool, const QString& body) {
    writeScript(resources() + u'/' + tool, body);
}

QString BridgeTest::replyFile(const QString& name, const QByteArray& bytes) {
    const QString file = path(QStringLiteral("replies/") + name);
    writeFile(file, bytes);
    return QStringLiteral("cat '%1'").arg(file);
}

QStringList BridgeTest::runs(const QString& tool) const {
    const QByteArray log = readFile(path(tool + QStringLiteral(".log")));
    return QString::fromUtf8(log).split(u'\n', Qt::SkipEmptyParts);
}

QByteArray BridgeTest::readFile(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void BridgeTest::writeFile(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.toStdString();
    f.write(bytes);
}

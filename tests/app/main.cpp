#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs us without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The host's service manager is a fake that logs to the current test's trace.
    QTemporaryDir bin;
    QFile launchctl(bin.path() + QStringLiteral("/launchctl"));
    if (!launchctl.open(QIODevice::WriteOnly))
        return 1;
    launchctl.write("#!/bin/sh\n[ -n \"$HOTSPOT_TEST_TRACE\" ] && echo \"launchctl $*\" >> \"$HOTSPOT_TEST_TRACE\"\nexit 0\n");
    launchctl.close();
    launchctl.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", bin.path().toUtf8() + ':' + qgetenv("PATH"));

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

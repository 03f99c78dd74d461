#include "BridgeFixture.h"
#include "bridge/ToolRunner.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

namespace {

const ToolResult kUntouched = QStringLiteral("untouched");

using RunnerTest = BridgeTest;

TEST_F(RunnerTest, ArgumentsArePassedOneByOneWithoutSplitting) {
    writeTool("adb", "");
    ToolResult slot;
    slot = tools().adb(QStringList{"shell", "cat /tmp/bootmode", ""}).text;
    EXPECT_EQ(runs("adb"), QStringList{"shell|cat /tmp/bootmode||"});
}

// Runs for one device name its port first; listings, the server and the shell never do.
TEST_F(RunnerTest, ToolsForAPortAddressEveryRunThatGoesToTheDevice) {
    writeTool("adb", "");
    writeTool("fastboot", "");
    const Tools atPort = tools().forPort("1-2.3");
    for (const char* command : {"devices", "start-server", "kill-server"})
        atPort.adb({command});
    atPort.adbForwarded({"shell", "sys_reboot"});
    atPort.fastboot({"devices", "-l"});
    atPort.fastboot({"flash", "boot", "/i/boot.img"});
    EXPECT_EQ(atPort.shell("echo ok").text, "ok\n");
    EXPECT_EQ(runs("adb"), (QStringList{"devices|", "start-server|", "kill-server|", "-s|usb:1-2.3|shell|sys_reboot|"}));
    EXPECT_EQ(runs("fastboot"), (QStringList{"devices|-l|", "-s|usb:1-2.3|flash|boot|/i/boot.img|"}));
}

TEST_F(RunnerTest, StandardErrorIsCapturedInWriteOrderWithStandardOutput) {
    writeTool("adb", "printf 'o1\\n'; printf 'e1\\n' >&2; printf 'o2\\n'; printf 'e2' >&2");
    ToolResult slot;
    slot = tools().adb(QStringList{"devices"}).text;
    EXPECT_EQ(slot, QStringLiteral("o1\ne1\no2\ne2"));

    writeTool("fastboot", "echo 'error: no devices/emulators found' >&2");
    slot = tools().fastboot(QStringList{"devices"}).text;
    EXPECT_EQ(slot, QStringLiteral("error: no devices/emulators found\n"));
}

// The caller hears that the image is across while the device still stores it, once.
TEST_F(RunnerTest, TheSendIsToldWhileTheDeviceStoresTheImage) {
    const QString told = path("told");
    writeTool("fastboot", QStringLiteral("printf \"Sending 'boot' OKAY\\nWriting 'boot'\" >&2; i=0; "
                                         "while [ ! -e '%1' ] && [ $i -lt 300 ]; do sleep 0.01; i=$((i+1)); done; "
                                         "echo ' OKAY'; echo 'Writing again'")
                              .arg(told));
    int calls = 0;
    const ToolRun run = tools().fastboot({"flash", "boot", "/i/boot.img"}, [&] {
        ++calls;
        QFile file(told);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(run.text, QStringLiteral("Sending 'boot' OKAY\nWriting 'boot' OKAY\nWriting again\n"));
}

TEST_F(RunnerTest, EmptyOutputIsAnEmptyTextThatReplacesTheSlot) {
    writeTool("adb", "");
    ToolResult slot = kUntouched;
    slot = tools().adb(QStringList{"kill-server"}).text;
    ASSERT_TRUE(slot.has_value());
    EXPECT_TRUE(slot->isEmpty());
}

TEST_F(RunnerTest, ExitStatusComesWithTheOutput) {
    writeTool("fastboot", "echo out; exit 3");
    const ToolRun failed = tools().fastboot(QStringList{"flash"});
    EXPECT_EQ(failed.text, QStringLiteral("out\n"));
    EXPECT_EQ(failed.exitStatus, 3);
    EXPECT_EQ(tools().shell(QStringLiteral("kill -9 $$")).exitStatus, -1); // no exit of its own
    EXPECT_EQ(tools().shell(QStringLiteral("true")).exitStatus, 0);
}

TEST_F(RunnerTest, OutputIsDecodedAsUtf8AndInvalidBytesGiveAnAbsentText) {
    struct Case {
        QByteArray bytes;
        ToolResult expected;
    } cases[] = {
        {"\xe2\x82\xac 5\n", QStringLiteral("\u20ac 5\n")},
        {QByteArray("a\0b", 3), QString(QChar(u'a')) + QChar(u'\0') + QChar(u'b')},
        {"\xff" "abc", std::nullopt},
        {"ok\xe2\x82", std::nullopt}, // cut in the middle of a character
        {"\xc0\xaf", std::nullopt},   // overlong form
    };
    for (const Case& c : cases) {
        writeTool("adb", replyFile("out", c.bytes));
        ToolResult slot = kUntouched;
        slot = tools().adb(QStringList{"devices"}).text;
        EXPECT_EQ(slot, c.expected) << c.bytes.toHex().toStdString();
    }
}

TEST_F(RunnerTest, LargeOutputIsCollectedWhileTheChildRuns) {
    constexpr qsizetype kSize = 16 * 1024 * 1024;
    writeTool("adb", QStringLiteral("head -c %1 /dev/zero | tr '\\0' a; echo end >&2").arg(kSize));
    ToolResult slot;
    slot = tools().adb(QStringList{"pull"}).text;
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->size(), kSize + 4);
    EXPECT_TRUE(slot->endsWith(QStringLiteral("aend\n")));
}

TEST_F(RunnerTest, ShellInterpretsTheCommandLine) {
    const QString file = path("shell-out");
    ToolResult slot;
    slot = tools().shell(QStringLiteral("echo one > '%1' && cat '%1' && echo \"$0\" two").arg(file)).text;
    EXPECT_EQ(slot, QStringLiteral("one\n/bin/sh two\n"));
}

TEST_F(RunnerTest, ToolNeverWaitsForOurInput) {
    writeTool("adb", "cat; echo done");
    ToolResult slot;
    slot = tools().adb(QStringList{"shell"}).text;
    EXPECT_EQ(slot, QStringLiteral("done\n"));
}

TEST_F(RunnerTest, RunWithoutSlotCompletes) {
    writeTool("adb", "echo forwarded");
    writeTool("fastboot", "echo captured anyway");
    tools().adbForwarded(QStringList{"kill-server"});
    tools().fastboot(QStringList{"devices"});
    EXPECT_EQ(runs("adb"), QStringList{"kill-server|"});
    EXPECT_EQ(runs("fastboot"), QStringList{"devices|"});
}

TEST_F(RunnerTest, ToolThatCannotStartThrows) {
    ToolResult slot = kUntouched;
    EXPECT_THROW(slot = tools().adb(QStringList{"devices"}).text, ToolLaunchError);
    EXPECT_THROW(tools().adbForwarded(QStringList{"devices"}), ToolLaunchError);
    EXPECT_EQ(slot, kUntouched);

    writeTool("fastboot", "echo hi");
    QFile(resources() + "/fastboot").setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_THROW(slot = tools().fastboot(QStringList{"devices"}).text, ToolLaunchError);
    EXPECT_EQ(toolrunner::runningToolCount(), 0);
}

// A hanging tool is ended with its whole group, by the thread that waits for it, either when
// the application ends or when its limit passes; its output so far is kept and gets an
// "error" line, so callers read the run as failed.
TEST_F(RunnerTest, HangingToolIsEndedWithItsChildren) {
    for (const bool byLimit : {false, true}) {
        SCOPED_TRACE(byLimit ? "limit" : "cancel");
        const QString started = path("started");
        const QString grandchild = path("grandchild");
        QFile::remove(started);
        writeTool("fastboot", QStringLiteral("echo waiting; (sleep 601.25; touch '%1') & touch '%2'; exec sleep 600.5")
                                  .arg(grandchild, started));
        toolrunner::RunOptions options;
        options.limitSeconds = byLimit ? 0.3 : 0.0;
        std::optional<QByteArray> out;
        std::thread worker([&] { out = toolrunner::runTool(resources() + "/fastboot", {"flash"}, options).bytes; });
        while (!QFile::exists(started))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!byLimit)
            toolrunner::cancelRunningTools();
        worker.join();
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(out->startsWith("waiting\n"));
        EXPECT_TRUE(out->contains("error: fastboot")) << out->constData();
        EXPECT_EQ(toolrunner::runningToolCount(), 0);
    }
    // Nothing of the groups is left, the grandchild included.
    for (const char* leftover : {"sleep 601.25", "sleep 600.5"}) {
        QProcess pgrep;
        pgrep.start("pgrep", {"-f", leftover});
        pgrep.waitForFinished();
        EXPECT_TRUE(pgrep.readAll().trimmed().isEmpty()) << leftover;
    }
}

TEST(ToolLimits, FlashScalesWithTheImage) {
    QTemporaryDir dir;
    QFile image(dir.filePath("big.img"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.resize(64LL << 20);
    image.close();
    const ToolLimits limits;
    EXPECT_EQ(toolrunner::limitFor(limits, "fastboot", {"flash", "boot", image.fileName()}), 60.0 + 2.0 * 64);
    EXPECT_EQ(toolrunner::limitFor(limits, "fastboot", {"devices"}), limits.listing);
    EXPECT_EQ(toolrunner::limitFor(limits, "adb", {"pull", "/etc/config.db", "/tmp/x"}), limits.transfer);
    EXPECT_EQ(toolrunner::limitFor(limits, "adb", {"shell", "cmmd info firmware_ver"}), limits.command);
}

} // namespace

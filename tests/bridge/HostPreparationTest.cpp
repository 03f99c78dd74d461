#include "BridgeFixture.h"
#include "bridge/HostPreparation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

namespace {

const QByteArray kEntry = "0x11f6\n";
const QString kInvalid = QStringLiteral("Invalid content in adb_usb.ini. Quitting.\n");

class PrepareAdbTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        writeTool("adb", "");
    }
    QString folder() const { return home() + "/.android"; }
    QString vendorList() const { return folder() + "/adb_usb.ini"; }
    void writeList(const QByteArray& content) {
        QDir().mkpath(folder());
        writeFile(vendorList(), content);
    }
};

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

TEST_F(PrepareAdbTest, CreatesFolderAndListThenRestartsTheServer) {
    EXPECT_EQ(host().prepareAdb(), 0);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(folder()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750 & ~currentUmask());
    EXPECT_EQ(readFile(vendorList()), kEntry);
    EXPECT_EQ(runs("adb"), (QStringList{"kill-server|", "start-server|"}));
}

TEST_F(PrepareAdbTest, AppendsTheEntryWhenMissing) {
    struct Case {
        QByteArray before, after;
    } cases[] = {
        {"", kEntry},
        {"# vendors\n#0x11f6\n", "# vendors\n#0x11f6\n" + kEntry},
        {"0x18d1\n", "0x18d1\n" + kEntry},
        {"0x18d1", "0x18d1\n" + kEntry}, // no line end on the last line
        {"# last", "# last\n" + kEntry},
        {"0x7fffffff\n0\n", "0x7fffffff\n0\n" + kEntry},
    };
    for (const Case& c : cases) {
        writeList(c.before);
        EXPECT_EQ(host().prepareAdb(), 0);
        EXPECT_EQ(readFile(vendorList()), c.after) << c.before.toStdString();
        EXPECT_EQ(host().prepareAdb(), 0);
        EXPECT_EQ(readFile(vendorList()), c.after) << "second run changed " << c.before.toStdString();
    }
}

TEST_F(PrepareAdbTest, PresentEntryInAnyNotationLeavesTheListAlone) {
    const QByteArray lists[] = {
        "0x11F6\n", "0x11f6\n", "4598\n", "010766\n", "  0x11f6 adb\n", "# x\n0x18d1\n4598",
        // lines after the entry are never read
        "0x11f6\n\n-1\n0x80000000\nrubbish\n",
    };
    for (const QByteArray& list : lists) {
        writeList(list);
        EXPECT_EQ(host().prepareAdb(), 0);
        EXPECT_EQ(readFile(vendorList()), list) << list.toStdString();
    }
}

TEST_F(PrepareAdbTest, InvalidLineBeforeTheEntryEndsTheProgram) {
    const QByteArray lists[] = {
        "\n0x11f6\n", "   \n0x11f6\n", "-5\n0x11f6\n", "0x80000000\n", "99999999999999999999\n",
        " #comment\n0x11f6\n", "vendor\n",
        // a comment longer than one read: its rest is judged like a line of its own
        "#" + QByteArray(1100, 'x') + "\n0x11f6\n",
    };
    for (const QByteArray& list : lists) {
        writeList(list);
        int status = -1;
        ::testing::internal::CaptureStderr();
        try {
            host().prepareAdb();
        } catch (const ProgramExit& exit) {
            status = exit.status;
        }
        EXPECT_EQ(QString::fromStdString(::testing::internal::GetCapturedStderr()), kInvalid);
        EXPECT_EQ(status, 2) << list.toStdString();
        EXPECT_EQ(readFile(vendorList()), list);
    }
    EXPECT_TRUE(runs("adb").isEmpty());
}

TEST_F(PrepareAdbTest, CommentUpToOneReadIsStillOneLine) {
    const QByteArray list = "#" + QByteArray(1025, 'x') + "\n"; // 1027 characters with its line end
    writeList(list);
    EXPECT_EQ(host().prepareAdb(), 0);
    EXPECT_EQ(readFile(vendorList()), list + kEntry);
}

TEST(VendorListPath, BuiltFromHomeOrTmpAndRefusedWhenTooLong) {
    EXPECT_EQ(hostprep::vendorListFolder(std::nullopt, QStringLiteral("/tmp")), "/tmp/.android");
    EXPECT_EQ(hostprep::vendorListFolder(QStringLiteral("/home/u"), QStringLiteral("/tmp")), "/home/u/.android");
    // "<home>/.android/adb_usb.ini" and its NUL fill the 1024-byte buffer at most.
    const QString longest = u'/' + QString(1001, u'h');
    EXPECT_EQ(hostprep::vendorListFolder(longest, {})->size(), 1011);
    EXPECT_FALSE(hostprep::vendorListFolder(longest + u'h', {}));
    EXPECT_FALSE(hostprep::vendorListFolder(std::nullopt, longest + u'h'));
}

TEST_F(PrepareAdbTest, WithoutHomeNoLinkInTheSharedFolderIsFollowed) {
    HostFolders env = folders();
    env.home = std::nullopt;
    env.tmp = path("tmp");
    const QString shared = env.tmp + "/.android";
    const QString elsewhere = path("elsewhere");
    QDir().mkpath(elsewhere);
    struct Case {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"the folder is a link", [&] { QFile::link(elsewhere, shared); }},
        {"the list is a link", [&] { QDir().mkpath(shared); QFile::link(elsewhere + "/adb_usb.ini", shared + "/adb_usb.ini"); }},
        {"the list is a dangling link", [&] { QDir().mkpath(shared); QFile::link(path("nowhere"), shared + "/adb_usb.ini"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(env.tmp).removeRecursively();
        QDir().mkpath(env.tmp);
        writeFile(elsewhere + "/adb_usb.ini", "0x18d1\n");
        c.plant();
        int status = -1;
        ::testing::internal::CaptureStderr();
        try {
            host(env).prepareAdb();
        } catch (const ProgramExit& exit) {
            status = exit.status;
        }
        EXPECT_TRUE(QString::fromStdString(::testing::internal::GetCapturedStderr()).endsWith("Quitting.\n"));
        EXPECT_EQ(status, 2);
        EXPECT_EQ(readFile(elsewhere + "/adb_usb.ini"), "0x18d1\n");
        EXPECT_FALSE(QFileInfo::exists(path("nowhere")));
    }
    EXPECT_TRUE(runs("adb").isEmpty());
    // Plain folder and list: used as ever. Under HOME a linked list is the user's own choice.
    QDir(env.tmp).removeRecursively();
    QDir().mkpath(env.tmp);
    EXPECT_EQ(host(env).prepareAdb(), 0);
    EXPECT_EQ(readFile(shared + "/adb_usb.ini"), kEntry);
    QDir().mkpath(folder());
    QFile::link(elsewhere + "/adb_usb.ini", vendorList());
    EXPECT_EQ(host().prepareAdb(), 0);
    EXPECT_EQ(readFile(elsewhere + "/adb_usb.ini"), "0x18d1\n" + kEntry);
}

TEST_F(PrepareAdbTest, ServerRestartIsJudgedByItsOutput) {
    struct Case {
        QByteArray kill, start;
        int32_t expected;
        int runs;
    } cases[] = {
        {"cannot connect to daemon at tcp:5037: Connection refused\n", "", 0, 2},
        {"error: cannot kill\n", "", -1, 1},
        {"\xff", "", -1, 1},
        {"", "error: could not install smartsocket listener\n", -1, 2},
        {"", "\xff", -1, 2},
    };
    for (const Case& c : cases) {
        writeList(kEntry);
        QFile::remove(path("adb.log"));
        writeTool("adb", QStringLiteral("case \"$1\" in kill-server) %1;; start-server) %2;; esac")
                             .arg(replyFile("kill", c.kill), replyFile("start", c.start)));
        EXPECT_EQ(host().prepareAdb(), c.expected) << c.kill.toStdString() << c.start.toStdString();
        EXPECT_EQ(runs("adb").size(), c.runs);
    }
}

TEST_F(PrepareAdbTest, UnusableListFailsBeforeAnyAdbRun) {
    HostFolders env = folders();
    env.home = path("no/such/home"); // the folder cannot be made
    EXPECT_EQ(host(env).prepareAdb(), -1);
    env.home = u'/' + QString(1100, u'h'); // too long for the buffer: refused, not cut
    EXPECT_EQ(host(env).prepareAdb(), -1);
    QDir().mkpath(vendorList()); // a folder where the file should be
    EXPECT_EQ(host().prepareAdb(), -1);
    EXPECT_TRUE(runs("adb").isEmpty());
}

// ---- driver ----

TEST_F(BridgeTest, DriverIsInstalledWhenTheRuleIsARegularFile) {
    const QString rule = path("rules/70-hotspot-updater.rules");
    QDir().mkpath(path("rules"));
    QDir().mkpath(path("dir-rule"));
    auto installed = [&](const QStringList& paths) {
        HostFolders env = folders();
        env.driverPaths = paths;
        return host(env).isDriverInstalled();
    };
    EXPECT_FALSE(installed({}));
    EXPECT_FALSE(installed({rule, path("dir-rule")}));
    writeFile(rule, "SUBSYSTEM==\"usb\"\n");
    EXPECT_TRUE(installed({path("missing"), rule}));
    EXPECT_TRUE(installed({path("rules")}));
    QFile::link(rule, path("linked.rules"));
    EXPECT_TRUE(installed({path("linked.rules")}));
}

// ---- service manager ----

class AgentTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        m_oldPath = qgetenv("PATH");
        QDir().mkpath(path("bin"));
        qputenv("PATH", QFile::encodeName(path("bin")) + ':' + m_oldPath);
    }
    void TearDown() override { qputenv("PATH", m_oldPath); }
    // A launchctl whose answer to each subcommand comes from a reply file.
    void launchctl(const QByteArray& remove, const QByteArray& unload, const QByteArray& load,
                   const QByteArray& list) {
        writeScript(path("bin/launchctl"),
                    QStringLiteral("case \"$1\" in remove) %1;; unload) %2;; load) %3;; list) %4;; esac")
                        .arg(replyFile("remove", remove), replyFile("unload", unload),
                             replyFile("load", load), replyFile("list", list)));
    }
    QByteArray m_oldPath;
};

TEST_F(AgentTest, SilentCommandsSucceedInOrder) {
    launchctl("", "", "", "");
    EXPECT_TRUE(host().killDeviceAgent());
    EXPECT_TRUE(host().recoverDeviceAgent());
    EXPECT_FALSE(host().isDeviceAgentAlive());
    EXPECT_EQ(runs("launchctl"),
              (QStringList{"remove|cn.quillmarsh.KVRD|",
                           "unload|/Library/LaunchAgents/cn.quillmarsh.Portflip.plist|",
                           "load|/Library/LaunchAgents/cn.quillmarsh.Portflip.plist|", "list|"}));
}

TEST_F(AgentTest, ErrorOrUnreadableOutputFails) {
    launchctl("launchctl remove error: No such process\n", "", "error\n", "x cn.quillmarsh.kvrd\n");
    EXPECT_FALSE(host().killDeviceAgent());
    EXPECT_FALSE(host().recoverDeviceAgent());
    EXPECT_FALSE(host().isDeviceAgentAlive());
    EXPECT_EQ(runs("launchctl").first(), "remove|cn.quillmarsh.KVRD|");
    EXPECT_FALSE(runs("launchctl").join(' ').contains("unload")); // skipped after a failed remove

    launchctl("Error\n", "\xff", "\xff", "312\t0\tcn.quillmarsh.KVRD\n");
    EXPECT_FALSE(host().killDeviceAgent());
    EXPECT_FALSE(host().recoverDeviceAgent());
    EXPECT_TRUE(host().isDeviceAgentAlive());
}

} // namespace

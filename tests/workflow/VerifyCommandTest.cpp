// hotspot-package verify, run as a program.

#include "AppHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::TempBundle;

struct VerifyRun {
    int status;
    QString out;
    qint64 ms = 0; // how long it took to answer
};

// Whether this machine lets a command run in a network namespace of its own.
bool ownNetworkNamespaces() {
    static const bool usable = QProcess::execute(QStringLiteral("unshare"), {"--net", "true"}) == 0;
    return usable;
}

// `install` takes the one-per-machine guard: in a network namespace of its own when it can, so
// an updater running on this machine neither refuses it nor is refused. `prefix` runs first.
VerifyRun tool(const QStringList& args, QStringList prefix = {}) {
    if (args.value(0) == QStringLiteral("install") && prefix.isEmpty() && ownNetworkNamespaces())
        prefix = {"unshare", "--net"};
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    if (prefix.isEmpty())
        p.start(QStringLiteral(HOTSPOT_PACKAGE_TOOL), args);
    else
        p.start(prefix.takeFirst(), prefix + QStringList{QStringLiteral(HOTSPOT_PACKAGE_TOOL)} + args);
    // A hang (a FIFO read for ever) fails the test instead of stopping the suite.
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(-1);
        return {-1, QStringLiteral("no answer in 30 s\n") + QString::fromUtf8(p.readAll()), clock.elapsed()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll()), clock.elapsed()};
}

VerifyRun verify(const QString& dir) { return tool({QStringLiteral("verify"), dir}); }

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

TEST(VerifyCommand, GoodPackageInBundleOrFolder) {
    TempBundle bundle;
    bundle.writeVersion("HS_FW_1.0.4\n" + bundle.addImage("boot", "boot.img", "abc") + "\n");
    for (const QString& dir : {bundle.path(), bundle.resources()}) {
        const VerifyRun r = verify(dir);
        EXPECT_EQ(r.status, 0) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("used     boot  boot.img  (3 bytes)"));
        EXPECT_TRUE(r.out.contains("signature: unsigned\n"));
    }
}

TEST(VerifyCommand, NamesEveryFailingImage) {
    TempBundle bundle;
    QByteArray size = bundle.addImage("aboot", "aboot.img", "1234");
    size.replace(",4,", ",5,");
    QByteArray md5 = bundle.addImage("boot", "boot.img", "5678");
    md5.chop(2);
    md5 += "zz";
    const QByteArray missing = bundle.addImage("modem", "modem.img", "9");
    QFile::remove(bundle.resources() + "/modem.img");
    const QByteArray good = bundle.addImage("system", "system.img", "ok");
    bundle.writeVersion("V\n" + size + "\n" + md5 + "\n" + missing + "\n" + good + "\n");
    const VerifyRun r = verify(bundle.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.contains("refused  aboot  aboot.img  (size mismatch: listed 5 bytes, file has 4)"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("refused  boot  boot.img  (MD5 mismatch"));
    EXPECT_TRUE(r.out.contains("ignored  modem  modem.img  (missing, not written)"));
    EXPECT_TRUE(r.out.contains("ok       system  system.img  (2 bytes)"));
    EXPECT_TRUE(r.out.contains("MISSING: 1 listed image(s) not in the package: modem.img"));
    EXPECT_TRUE(r.out.contains("FAILED: 2 image(s)"));
}

TEST(VerifyCommand, BadVersionFiles) {
    TempBundle bundle;
    EXPECT_EQ(verify(bundle.path()).status, 1); // no version file
    bundle.writeVersion("V1");
    EXPECT_EQ(verify(bundle.path()).status, 1);
    bundle.writeVersion("V1\n");
    EXPECT_EQ(verify(bundle.path()).status, 1); // nothing to flash
    EXPECT_EQ(verify(bundle.path() + "/nonexistent").status, 2);
}

// The tool and the application's check agree on whether a package is taken and on exactly
// which images an update writes.
struct AgreeCase {
    const char* name;
    std::function<QByteArray(TempBundle&)> lines; // the image lines
    QStringList used;                             // empty: refused
};
void PrintTo(const AgreeCase& c, std::ostream* os) { *os << c.name; } // names, not bytes, in the log

class VerifyAgrees : public ::testing::TestWithParam<AgreeCase> {};

// The line of an image named `name`; a relative name's file is put where it leads, an absolute
// one's is left out (the name alone must refuse the package).
QByteArray outsideImage(TempBundle& b, const QByteArray& name) {
    QByteArray line = b.addImage("o", "o.img", "outside");
    if (name.startsWith('/'))
        QFile::remove(b.resources() + "/o.img");
    else
        QFile::rename(b.resources() + "/o.img", QDir(b.resources()).absoluteFilePath(QString::fromUtf8(name)));
    return line.replace(",o.img,", "," + name + ",");
}

QByteArray corrupted(QByteArray line) {
    line.replace(line.size() - 4, 4, "0000");
    return line;
}

TEST_P(VerifyAgrees, WithTheApplicationsCheck) {
    using namespace testing_support;
    TempBundle bundle;
    bundle.writeResource("adb", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(bundle.resources() + "/adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    bundle.writeVersion("HS_FW_1.0.4\n" + GetParam().lines(bundle));

    AppHarness h(bundle);
    h.runInitialize();
    QStringList written;
    for (const ImageEntry& e : packageImages(h.app()))
        if (shouldWrite(e))
            written << QString::fromUtf8(e.name);
    const VerifyRun r = verify(bundle.path());
    QStringList used;
    for (const QString& line : r.out.split(u'\n'))
        if (line.startsWith("used "))
            used << line.mid(5).trimmed().section("  ", 0, 0);

    EXPECT_EQ(h.app().session().state() == SessionState::Searching, r.status == 0) << r.out.toStdString();
    EXPECT_EQ(written, GetParam().used);
    EXPECT_EQ(r.status == 0 ? used : QStringList(), GetParam().used) << r.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Packages, VerifyAgrees,
    ::testing::Values(
        AgreeCase{"AllGood",
                  [](TempBundle& b) { return b.addImage("a", "a.img", "1") + "\n" + b.addImage("b", "b.img", "22") + "\n"; },
                  {"a", "b"}},
        AgreeCase{"CorruptAfterGapLine",
                  [](TempBundle& b) {
                      return b.addImage("a", "a.img", "1") + "\n,gap.img,0,00\n" +
                             corrupted(b.addImage("b", "b.img", "22")) + "\n";
                  },
                  {"a"}},
        AgreeCase{"CorruptBeforeGapLine",
                  [](TempBundle& b) {
                      return corrupted(b.addImage("a", "a.img", "1")) + "\n,gap.img,0,00\n" +
                             b.addImage("b", "b.img", "22") + "\n";
                  },
                  {}},
        AgreeCase{"MissingAndEmptyImagesAreNotWritten",
                  [](TempBundle& b) {
                      const QByteArray missing = b.addImage("m", "m.img", "333");
                      QFile::remove(b.resources() + "/m.img");
                      return missing + "\n" + b.addImage("e", "e.img", "") + "\n" + b.addImage("a", "a.img", "1") + "\n";
                  },
                  {"a"}},
        AgreeCase{"OnlyAnEmptyImage", [](TempBundle& b) { return b.addImage("e", "e.img", "") + "\n"; }, {}},
        // A name that leaves the package's folder refuses the package, its file there or not.
        AgreeCase{"ImageNameWithDotDot",
                  [](TempBundle& b) { return b.addImage("a", "a.img", "1") + "\n" + outsideImage(b, "../o.img") + "\n"; },
                  {}},
        AgreeCase{"AbsoluteImageName",
                  [](TempBundle& b) { return outsideImage(b, "/abs.img") + "\n" + b.addImage("a", "a.img", "1") + "\n"; },
                  {}},
        AgreeCase{"CommentsAndOddLines",
                  [](TempBundle& b) {
                      return "# x,y,0,00\r\nthree,fields,0\r\n" + b.addImage("a", "a.img", "1") + "\r\n";
                  },
                  {"a"}},
        AgreeCase{"CorruptThirtyThirdLine",
                  [](TempBundle& b) {
                      QByteArray text;
                      for (int i = 0; i < 32; ++i)
                          text += b.addImage("p" + QByteArray::number(i), "p.img", "1") + "\n";
                      return text + corrupted(b.addImage("late", "late.img", "1")) + "\n";
                  },
                  [] {
                      QStringList all;
                      for (int i = 0; i < 32; ++i)
                          all << QStringLiteral("p%1").arg(i);
                      return all;
                  }()}),
    [](const auto& info) { return std::string(info.param.name); });

// install: the bundle holds its old package or the whole new one, nothing of its own is ever
// replaced, and an older firmware comes in only on request.
TEST(InstallCommand, PackagesIntoABundle) {
    TempBundle target;
    target.writeResource(QStringLiteral("adb"), "the bundle's adb");
    target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old-boot.img", "old") + "\n");

    struct Row {
        const char* what;
        std::function<void(TempBundle&)> make; // the package to install
        int status;
        bool installed;                         // else the old package stays, byte for byte
        const char* says;
        QStringList options = {};
    };
    // A package whose "gone" image is not there: the application would write only "modem".
    const auto lacksAnImage = [](TempBundle& p) {
        const QByteArray gone = p.addImage("boot", "gone.img", "new");
        QFile::remove(p.resources() + "/gone.img");
        p.writeVersion("HS_FW_1.0.5\n" + gone + "\n" + p.addImage("modem", "modem.img", "radio") + "\n");
    };
    const auto older = [](TempBundle& p) {
        p.writeVersion("HS_FW_1.0.2\n" + p.addImage("modem", "modem.img", "radio") + "\n");
    };
    // An image named by a path that leaves the package's folder, its file there.
    const auto outside = [](const QByteArray& name) {
        return [name](TempBundle& p) {
            QByteArray line = p.addImage("boot", "o.img", "new");
            QFile::rename(p.resources() + "/o.img", QDir(p.resources()).absoluteFilePath(QString::fromUtf8(name)));
            p.writeVersion("HS_FW_1.0.5\n" + line.replace(",o.img,", "," + name + ",") + "\n");
        };
    };
    const Row rows[] = {
        {"a package with a bad digest", [](TempBundle& p) {
             QByteArray line = p.addImage("boot", "boot.img", "new");
             line.chop(1);
             p.writeVersion("HS_FW_1.0.5\n" + line + "0\n");
         }, 1, false, "MD5 mismatch"},
        {"an image named like the bundle's adb", [](TempBundle& p) {
             p.writeVersion("HS_FW_1.0.5\n" + p.addImage("boot", "adb", "evil") + "\n");
         }, 1, false, "would replace a file of the bundle"},
        {"an image name with a folder", [](TempBundle& p) {
             QDir().mkpath(p.resources() + "/sub");
             p.writeVersion("HS_FW_1.0.5\n" + p.addImage("boot", "sub/boot.img", "new") + "\n");
         }, 1, false, "unsafe file name"},
        {"an image name with ..", outside("../o.img"), 1, false, "unsafe file name"},
        {"an absolute image name", outside("/tmp/hotspot-updater-test-abs.img"), 1, false, "unsafe file name"},
        {"no package at all", [](TempBundle&) {}, 1, false, "version does not exist"},
        {"a FIFO for a version file", [](TempBundle& p) {
             ::mkfifo(QFile::encodeName(p.resources() + "/version").constData(), 0644);
         }, 1, false, "version is not a regular file (a FIFO)"},
        {"a listed image missing", lacksAnImage, 1, false, "lacks 1 listed image(s) (gone.img); give --allow-missing"},
        {"a listed image missing, allowed", lacksAnImage, 0, true, "installed the package", {"--allow-missing"}},
        {"an older firmware", older, 1, false,
         "the package's version 1.0.2 is older than the bundle's 1.0.3; give --allow-downgrade"},
        {"an older firmware, allowed", older, 0, true, "installed the package", {"--allow-downgrade"}},
        {"a good package", [](TempBundle& p) {
             p.writeVersion("HS_FW_1.0.5\n" + p.addImage("boot", "boot.img", "new") + "\n" +
                            p.addImage("modem", "modem.img", "radio") + "\n");
         }, 0, true, "installed the package"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempBundle package;
        row.make(package);
        QDir().mkpath(target.resources() + "/.package-stale"); // an interrupted install's leftovers
        const VerifyRun r = tool(QStringList{QStringLiteral("install")} + row.options +
                                 QStringList{package.resources(), target.path()});
        QFile::remove("/tmp/hotspot-updater-test-abs.img");
        EXPECT_EQ(r.status, row.status) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(row.says))) << r.out.toStdString();
        EXPECT_LT(r.ms, 1000);
        EXPECT_EQ(contentOf(target.resources() + "/adb"), "the bundle's adb");
        if (!row.installed) {
            EXPECT_TRUE(contentOf(target.resources() + "/version").startsWith("HS_FW_1.0.3\n"));
            EXPECT_EQ(contentOf(target.resources() + "/old-boot.img"), "old");
            continue;
        }
        EXPECT_EQ(contentOf(target.resources() + "/version"), contentOf(package.resources() + "/version"));
        EXPECT_EQ(contentOf(target.resources() + "/modem.img"), "radio");
        EXPECT_FALSE(QFile::exists(target.resources() + "/old-boot.img")); // the old package's image went
        EXPECT_EQ(verify(target.path()).status, 0);
        EXPECT_TRUE(QDir(target.resources()).entryList({".package-*"}, QDir::Dirs | QDir::Hidden).isEmpty());
        // The next row starts from the old package again.
        for (const QString& name : QDir(target.resources()).entryList(QDir::Files))
            if (name != "adb")
                QFile::remove(target.resources() + u'/' + name);
        target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old-boot.img", "old") + "\n");
    }
    // Wrong use: this test program's tool is not inside a bundle, so the bundle must be named.
    EXPECT_EQ(tool({QStringLiteral("install"), target.resources()}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("install"), target.resources(), "/nonexistent"}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("install"), "--no-such-option", target.resources(), target.path()}).status, 2);
    // A mistyped --keys would leave the check to the installed keys alone: wrong use instead.
    EXPECT_EQ(tool({QStringLiteral("install"), "--keys", "/nonexistent", target.resources(), target.path()}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("verify"), "--keys", "/nonexistent", target.path()}).status, 2);
}

// One writer: while an updater holds the one-per-machine guard, install changes nothing.
TEST(InstallCommand, RefusedWhileAnUpdaterRuns) {
    if (!ownNetworkNamespaces() || QStandardPaths::findExecutable("python3").isEmpty())
        GTEST_SKIP() << "no network namespace of our own (the guard would be the machine's), or no python3";
    TempBundle target;
    target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old-boot.img", "old") + "\n");
    TempBundle package;
    package.writeVersion("HS_FW_1.0.5\n" + package.addImage("boot", "boot.img", "new") + "\n");
    // A stand-in updater: holds the guard's name while install runs beside it, then gives its status.
    const QString holder = QStringLiteral(
        "import socket, subprocess, sys\n"
        "s = socket.socket(socket.AF_UNIX)\n"
        "s.bind(b'\\0io.github.hotspotupdater.HotspotUpdater')\n"
        "s.listen(1)\n"
        "sys.exit(subprocess.run(sys.argv[1:]).returncode)\n");
    const VerifyRun r = tool({QStringLiteral("install"), package.resources(), target.path()},
                             {"unshare", "--net", "python3", "-c", holder});
    EXPECT_EQ(r.status, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("an updater is running on this machine (since ")) << r.out.toStdString();
    EXPECT_TRUE(contentOf(target.resources() + "/version").startsWith("HS_FW_1.0.3\n"));
    EXPECT_LT(r.ms, 3000);
}

// The package judged is the one installed: an older one put in the source's place while install
// copies it is refused, whatever part of either the copy caught.
TEST(InstallCommand, JudgesTheCopyItInstalls) {
    TempBundle target;
    target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old-boot.img", "old") + "\n");
    TempBundle package;
    // A large image keeps the copy going while the older package is swapped in.
    package.writeVersion("HS_FW_1.0.5\n" + package.addImage("boot", "boot.img", QByteArray(32 << 20, 'n')) + "\n");
    TempBundle older;
    older.writeVersion("HS_FW_1.0.2\n" + older.addImage("boot", "boot.img", "older") + "\n");

    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(target.resources()).constData(), IN_CREATE), 0);
    std::thread swapper([&] {
        alignas(inotify_event) char buffer[4096];
        for (bool staging = false; !staging;) {
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; n > 0 && at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                staging |= event->len > 0 && QByteArray(event->name).startsWith(".package-");
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
            if (n <= 0)
                return;
        }
        for (const QString& name : {QStringLiteral("boot.img"), QStringLiteral("version")})
            ::rename(QFile::encodeName(older.resources() + u'/' + name).constData(),
                     QFile::encodeName(package.resources() + u'/' + name).constData());
    });
    const VerifyRun r = tool({QStringLiteral("install"), package.resources(), target.path()});
    QDir(target.resources()).mkdir(".package-wake"); // wakes the swapper had install made no copy
    swapper.join();
    ::close(watch);
    QDir(target.resources()).rmdir(".package-wake");
    EXPECT_EQ(r.status, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("the copy: ")) << r.out.toStdString();
    EXPECT_TRUE(contentOf(target.resources() + "/version").startsWith("HS_FW_1.0.3\n"));
    EXPECT_EQ(contentOf(target.resources() + "/old-boot.img"), "old");
    EXPECT_FALSE(QFile::exists(target.resources() + "/boot.img"));
    EXPECT_TRUE(QDir(target.resources()).entryList({".package-*"}, QDir::Dirs | QDir::Hidden).isEmpty());
}

// Signed packages: with a trusted key, the application and install refuse every tampered
// package and take the signed one.
class SignedPackages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        keys = new QTemporaryDir;
        for (const char* who : {"maker", "stranger"}) {
            const VerifyRun r = tool({QStringLiteral("keygen"), keys->filePath(who)});
            ASSERT_EQ(r.status, 0) << r.out.toStdString();
        }
    }
    static void TearDownTestSuite() { delete keys; }
    static QString keyFile(const char* who, const char* suffix) {
        const QDir dir(keys->filePath(who));
        return dir.filePath(dir.entryList({QStringLiteral("*.") + suffix}).value(0));
    }
    static QString makerKeys() { return keys->filePath("maker"); }
    static void sign(const TempBundle& package, const char* who) {
        const VerifyRun r = tool({QStringLiteral("sign"), package.resources(), QStringLiteral("--key"), keyFile(who, "key")});
        ASSERT_EQ(r.status, 0) << r.out.toStdString();
    }
    static void flipByte(const QString& path, qint64 at) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes[at % bytes.size()] = static_cast<char>(bytes[at % bytes.size()] ^ 0x01);
        f.seek(0);
        f.write(bytes);
    }
    static inline QTemporaryDir* keys = nullptr;
};

TEST_F(SignedPackages, OnlyPlainImageNamesAreSigned) {
    for (const QByteArray name : {"../o.img", "/abs.img"}) {
        SCOPED_TRACE(name.toStdString());
        TempBundle package;
        package.writeVersion("V\n" + outsideImage(package, name) + "\n");
        const VerifyRun r = tool({QStringLiteral("sign"), package.resources(), QStringLiteral("--key"), keyFile("maker", "key")});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.contains("unsafe file name")) << r.out.toStdString();
        EXPECT_FALSE(QFile::exists(package.resources() + "/manifest.sig"));
    }
}

// A FIFO in a file's place: every reader answers at once instead of waiting for a writer.
void replaceWithFifo(const QString& path) {
    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
}

TEST_F(SignedPackages, TamperedOnesAreRefusedByTheApplicationAndByInstall) {
    if (::getuid() != 0)
        GTEST_SKIP() << "an installed bundle trusts root's key files alone: only a run as root can make them";
    struct Row {
        const char* what;
        std::function<void(TempBundle&)> tamper; // after signing by the maker
        const char* why;                          // empty: accepted
        const char* status = "stat Fail to check image file !"; // the application's, when refused
        bool signature = true; // the application says why on the screen
    };
    const QString image = "/boot.img";
    const Row rows[] = {
        {"signed", [](TempBundle&) {}, ""},
        {"a byte flipped in boot.img", [&](TempBundle& p) { flipByte(p.resources() + image, 7); }, "the image boot.img is not the signed one"},
        {"a byte flipped in modem.img", [](TempBundle& p) { flipByte(p.resources() + "/modem.img", 0); },
         "the image modem.img is not the signed one"},
        {"a byte flipped in version", [](TempBundle& p) { flipByte(p.resources() + "/version", 1); },
         "the version file is not the signed one"},
        {"a byte flipped in manifest", [](TempBundle& p) { flipByte(p.resources() + "/manifest", 40); },
         "the signature does not match the manifest"},
        {"signed by another key", [](TempBundle& p) { sign(p, "stranger"); }, "which is not trusted"},
        {"no signature", [](TempBundle& p) { QFile::remove(p.resources() + "/manifest.sig"); }, "the package is not signed"},
        {"a truncated signature", [](TempBundle& p) { QFile::resize(p.resources() + "/manifest.sig", 40); },
         "manifest.sig is not a signature"},
        {"a signed image missing", [](TempBundle& p) { QFile::remove(p.resources() + "/modem.img"); },
         "the signed image modem.img is missing"},
        {"a FIFO for boot.img", [&](TempBundle& p) { replaceWithFifo(p.resources() + image); },
         "unreadable: is not a regular file (a FIFO)", "stat Fail to check image file !", false},
        {"a FIFO for manifest", [](TempBundle& p) { replaceWithFifo(p.resources() + "/manifest"); },
         "manifest is not a regular file (a FIFO)"},
        {"a FIFO for manifest.sig", [](TempBundle& p) { replaceWithFifo(p.resources() + "/manifest.sig"); },
         "manifest.sig is not a regular file (a FIFO)"},
        {"a FIFO for version", [](TempBundle& p) { replaceWithFifo(p.resources() + "/version"); },
         "version is not a regular file (a FIFO)", "stat Fail to check version info !", false},
        {"a link for modem.img", [](TempBundle& p) {
             QFile::rename(p.resources() + "/modem.img", p.path() + "/modem.img");
             QFile::link(p.path() + "/modem.img", p.resources() + "/modem.img");
         }, "unreadable: is a symbolic link", "stat Fail to check image file !", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const bool accepted = *row.why == '\0';
        TempBundle package;
        package.writeVersion("HS_FW_1.0.5\n" + package.addImage("boot", "boot.img", QByteArray(5000, 'b')) + "\n" +
                             package.addImage("modem", "modem.img", "radio") + "\n");
        sign(package, "maker");
        row.tamper(package);

        // The application, trusting the maker's key from the machine's key folder.
        package.writeResource("adb", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(package.resources() + "/adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        {
            testing_support::AppHarness h(package);
            QDir().mkpath(h.systemKeys());
            QFile::copy(keyFile("maker", "pub"), h.systemKeys() + "/maker.pub");
            QElapsedTimer clock;
            clock.start();
            h.runInitialize();
            EXPECT_LT(clock.elapsed(), 1000);
            EXPECT_EQ(h.app().session().state(), accepted ? SessionState::Searching : SessionState::Finished);
            const testing_support::Screen screen = h.screen();
            if (!accepted) {
                EXPECT_EQ(screen.status, testing_support::L(row.status));
            }
            if (!accepted && row.signature) {
                EXPECT_TRUE(screen.info.startsWith(messages::lookupFilled(
                    "info The firmware package failed its signature check: %s", QString())));
                EXPECT_TRUE(screen.info.contains(QString::fromUtf8(row.why))) << screen.info.toStdString();
            }
        }

        // install, into a bundle that trusts the maker's key; it keeps its package unless accepted.
        TempBundle target;
        target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old.img", "old") + "\n");
        QDir().mkpath(target.resources() + "/keys");
        QFile::copy(keyFile("maker", "pub"), target.resources() + "/keys/maker.pub");
        const VerifyRun r = tool({QStringLiteral("install"), QStringLiteral("--keys"), makerKeys(), QStringLiteral("--allow-missing"),
                                  package.resources(), target.path()});
        EXPECT_EQ(r.status, accepted ? 0 : 1) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(row.why))) << r.out.toStdString();
        EXPECT_LT(r.ms, 1000);
        EXPECT_EQ(contentOf(target.resources() + "/version").startsWith("HS_FW_1.0.3"), !accepted);
        if (accepted) { // the signature travels with the package and holds in the bundle
            EXPECT_EQ(tool({QStringLiteral("verify"), target.path()}).status, 0);
        }
    }
}

// A key folder none of whose keys loads refuses every package, signed or not, in the
// application, verify and install alike; --keys never lets in what the bundle's keys refuse.
TEST_F(SignedPackages, KeyFoldersWithoutALoadableKeyRefuseEveryPackage) {
    if (::getuid() != 0)
        GTEST_SKIP() << "an installed bundle trusts root's key files alone: only a run as root can make them";
    struct Row {
        const char* what;
        std::function<void(const QString& keys)> make; // the keys folder, from one holding the maker's key
        const char* why;                                // empty: the maker's key loads
    };
    QTemporaryDir elsewhere;
    int moved = 0; // each row makes its keys folder several times
    const Row rows[] = {
        {"the maker's key", [](const QString&) {}, ""},
        {"an empty folder", [](const QString& k) { QFile::remove(k + "/maker.pub"); }, "keys holds no public key (*.pub)"},
        {"a key its group may write",
         [](const QString& k) { QFile::setPermissions(k + "/maker.pub", QFile::permissions(k + "/maker.pub") | QFile::WriteGroup); },
         "maker.pub is writable by its group"},
        {"a key others may write",
         [](const QString& k) { QFile::setPermissions(k + "/maker.pub", QFile::permissions(k + "/maker.pub") | QFile::WriteOther); },
         "maker.pub is writable by others"},
        {"a key of another user", [](const QString& k) { ASSERT_EQ(::chown(QFile::encodeName(k + "/maker.pub"), 12345, 0), 0); },
         "maker.pub belongs to uid 12345"},
        {"a folder its group may write", [](const QString& k) { ::chmod(QFile::encodeName(k).constData(), 0775); },
         "keys is writable by its group"},
        {"a folder of another user", [](const QString& k) { ASSERT_EQ(::chown(QFile::encodeName(k), 12345, 0), 0); },
         "keys belongs to uid 12345"},
        {"a FIFO for a key", [](const QString& k) { replaceWithFifo(k + "/maker.pub"); },
         "maker.pub is not a regular file (a FIFO)"},
        {"a link for a key", [&](const QString& k) {
             const QString linked = elsewhere.filePath(QStringLiteral("%1.pub").arg(++moved));
             QFile::rename(k + "/maker.pub", linked);
             QFile::link(linked, k + "/maker.pub");
         }, "maker.pub is a symbolic link"},
        {"a link to a folder anyone may write", [&](const QString& k) {
             const QString open = elsewhere.filePath(QString::number(++moved));
             QDir().mkpath(open);
             ::chmod(QFile::encodeName(open).constData(), 0777);
             QFile::rename(k + "/maker.pub", open + "/maker.pub");
             QDir(k).removeRecursively();
             QFile::link(open, k);
         }, "is writable by others"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const bool loads = *row.why == '\0';
        const auto keysLike = [&](const TempBundle& bundle) {
            const QString keys = bundle.resources() + "/keys";
            QDir().mkpath(keys);
            QFile::copy(keyFile("maker", "pub"), keys + "/maker.pub");
            row.make(keys);
        };
        for (const bool isSigned : {true, false}) {
            SCOPED_TRACE(isSigned ? "signed" : "unsigned");
            const bool accepted = loads && isSigned;
            TempBundle package;
            package.writeVersion("HS_FW_1.0.5\n" + package.addImage("boot", "boot.img", "abc") + "\n");
            sign(package, "maker");
            if (!isSigned) {
                QFile::remove(package.resources() + "/manifest");
                QFile::remove(package.resources() + "/manifest.sig");
            }
            package.writeResource("adb", "#!/bin/sh\nexit 0\n");
            QFile::setPermissions(package.resources() + "/adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            keysLike(package);
            {
                testing_support::AppHarness h(package);
                QElapsedTimer clock;
                clock.start();
                h.runInitialize();
                EXPECT_LT(clock.elapsed(), 1000);
                EXPECT_EQ(h.app().session().state(), accepted ? SessionState::Searching : SessionState::Finished);
                if (!loads) {
                    const QString info = h.screen().info;
                    EXPECT_TRUE(info.startsWith(messages::lookupFilled("info No trusted key could be read: %s", QString())));
                    EXPECT_TRUE(info.contains(QString::fromUtf8(row.why))) << info.toStdString();
                }
            }
            const VerifyRun checked = verify(package.path());
            EXPECT_EQ(checked.status, accepted ? 0 : 1) << checked.out.toStdString();
            if (!loads) {
                EXPECT_TRUE(checked.out.contains("FAILED: no trusted key could be read: ")) << checked.out.toStdString();
            }
            EXPECT_TRUE(checked.out.contains(QString::fromUtf8(row.why))) << checked.out.toStdString();

            // install into a bundle whose keys are the same: with or without --keys, only
            // what that bundle's application takes.
            for (const QStringList& options : {QStringList{}, QStringList{"--keys", makerKeys()}}) {
                TempBundle target;
                target.writeVersion("HS_FW_1.0.3\n" + target.addImage("boot", "old.img", "old") + "\n");
                keysLike(target);
                const VerifyRun r = tool(QStringList{"install"} + options + QStringList{package.resources(), target.path()});
                EXPECT_EQ(r.status, accepted ? 0 : 1) << r.out.toStdString();
                EXPECT_EQ(contentOf(target.resources() + "/version").startsWith("HS_FW_1.0.3"), !accepted);
            }
        }
    }
    // A signed package with no key folder at all is refused too; an unsigned one is taken.
    TempBundle package;
    package.writeVersion("HS_FW_1.0.5\n" + package.addImage("boot", "boot.img", "abc") + "\n");
    sign(package, "maker");
    VerifyRun r = verify(package.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.contains("FAILED: no trusted key could be read: no key folder exists (")) << r.out.toStdString();
    QFile::remove(package.resources() + "/manifest.sig");
    r = verify(package.path());
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("signature: unsigned\n"));
}

} // namespace

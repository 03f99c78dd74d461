// hotspot-package verify, run as a program.

#include "AppHarness.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using testing_support::TempBundle;

struct VerifyRun {
    int status;
    QString out;
};

VerifyRun tool(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(HOTSPOT_PACKAGE_TOOL), args);
    p.waitForFinished(-1);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
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

// install: the bundle holds its old package or the whole new one, and nothing of its own is
// ever replaced.
TEST(InstallCommand, PackagesIntoABundle) {
    TempBundle target;
    target.writeResource(QStringLiteral("adb"), "the bundle's adb");
    target.writeVersion("OLD\n" + target.addImage("boot", "old-boot.img", "old") + "\n");

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
        p.writeVersion("NEW\n" + gone + "\n" + p.addImage("modem", "modem.img", "radio") + "\n");
    };
    const Row rows[] = {
        {"a package with a bad digest", [](TempBundle& p) {
             QByteArray line = p.addImage("boot", "boot.img", "new");
             line.chop(1);
             p.writeVersion("NEW\n" + line + "0\n");
         }, 1, false, "MD5 mismatch"},
        {"an image named like the bundle's adb", [](TempBundle& p) {
             p.writeVersion("NEW\n" + p.addImage("boot", "adb", "evil") + "\n");
         }, 1, false, "would replace a file of the bundle"},
        {"an image name with a folder", [](TempBundle& p) {
             QDir().mkpath(p.resources() + "/sub");
             p.writeVersion("NEW\n" + p.addImage("boot", "sub/boot.img", "new") + "\n");
         }, 1, false, "not a plain file name"},
        {"no package at all", [](TempBundle&) {}, 1, false, "cannot be read"},
        {"a listed image missing", lacksAnImage, 1, false, "lacks 1 listed image(s) (gone.img); give --allow-missing"},
        {"a listed image missing, allowed", lacksAnImage, 0, true, "installed the package", {"--allow-missing"}},
        {"a good package", [](TempBundle& p) {
             p.writeVersion("NEW\n" + p.addImage("boot", "boot.img", "new") + "\n" +
                            p.addImage("modem", "modem.img", "radio") + "\n");
         }, 0, true, "installed the package"},
    };
    for (const Row& row : rows) {
        TempBundle package;
        row.make(package);
        QDir().mkpath(target.resources() + "/.package-stale"); // an interrupted install's leftovers
        const VerifyRun r = tool(QStringList{QStringLiteral("install")} + row.options +
                                 QStringList{package.resources(), target.path()});
        EXPECT_EQ(r.status, row.status) << row.what << "\n" << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(row.says))) << row.what << "\n" << r.out.toStdString();
        EXPECT_EQ(contentOf(target.resources() + "/adb"), "the bundle's adb") << row.what;
        if (!row.installed) {
            EXPECT_TRUE(contentOf(target.resources() + "/version").startsWith("OLD\n")) << row.what;
            EXPECT_EQ(contentOf(target.resources() + "/old-boot.img"), "old") << row.what;
            continue;
        }
        EXPECT_EQ(contentOf(target.resources() + "/version"), contentOf(package.resources() + "/version"));
        EXPECT_EQ(contentOf(target.resources() + "/modem.img"), "radio");
        EXPECT_FALSE(QFile::exists(target.resources() + "/old-boot.img")); // the old package's image went
        EXPECT_EQ(verify(target.path()).status, 0);
        EXPECT_TRUE(QDir(target.resources()).entryList({".package-*"}, QDir::Dirs | QDir::Hidden).isEmpty());
    }
    // Wrong use: this test program's tool is not inside a bundle, so the bundle must be named.
    EXPECT_EQ(tool({QStringLiteral("install"), target.resources()}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("install"), target.resources(), "/nonexistent"}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("install"), "--no-such-option", target.resources(), target.path()}).status, 2);
    // A --keys folder without a key would make the check an unsigned one: wrong use instead.
    EXPECT_EQ(tool({QStringLiteral("install"), "--keys", "/nonexistent", target.resources(), target.path()}).status, 2);
    EXPECT_EQ(tool({QStringLiteral("verify"), "--keys", target.path(), target.path()}).status, 2);
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

TEST_F(SignedPackages, TamperedOnesAreRefusedByTheApplicationAndByInstall) {
    struct Row {
        const char* what;
        std::function<void(TempBundle&)> tamper; // after signing by the maker
        const char* why;                          // empty: accepted
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
            h.runInitialize();
            EXPECT_EQ(h.app().session().state(), accepted ? SessionState::Searching : SessionState::Finished);
            const testing_support::Screen screen = h.screen();
            if (!accepted) {
                EXPECT_EQ(screen.status, testing_support::L("stat Fail to check image file !"));
                EXPECT_TRUE(screen.info.startsWith(messages::lookupFilled(
                    "info The firmware package failed its signature check: %s", QString())));
                EXPECT_TRUE(screen.info.contains(QString::fromUtf8(row.why))) << screen.info.toStdString();
            }
        }

        // install, trusting the maker's key; the bundle keeps its package unless accepted.
        TempBundle target;
        target.writeVersion("OLD\n" + target.addImage("boot", "old.img", "old") + "\n");
        const VerifyRun r = tool({QStringLiteral("install"), QStringLiteral("--keys"), makerKeys(), QStringLiteral("--allow-missing"),
                                  package.resources(), target.path()});
        EXPECT_EQ(r.status, accepted ? 0 : 1) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(row.why))) << r.out.toStdString();
        EXPECT_EQ(contentOf(target.resources() + "/version").startsWith("OLD"), !accepted);
        if (accepted) { // the signature travels with the package and holds in the bundle
            EXPECT_EQ(tool({QStringLiteral("verify"), QStringLiteral("--keys"), makerKeys(), target.path()}).status, 0);
        }
    }
}

// Without a trusted key a signed package is taken as unsigned; a key file others may write,
// or one of another owner, is no trusted key.
TEST_F(SignedPackages, OnlyKeyFilesOfTheirOwnerAloneAreTrusted) {
    TempBundle package;
    package.writeVersion("V\n" + package.addImage("boot", "boot.img", "abc") + "\n");
    package.writeResource("adb", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(package.resources() + "/adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    sign(package, "stranger");
    QDir().mkpath(package.resources() + "/keys");
    const QString bundleKey = package.resources() + "/keys/maker.pub";
    QFile::copy(keyFile("maker", "pub"), bundleKey);
    const QFileDevice::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    struct Row {
        QFileDevice::Permissions permissions;
        bool ownerIsKeyOwner;
        int status; // 1: taken as unsigned; 4: refused, the maker's key is trusted
    };
    for (const Row& row : {Row{readable | QFile::WriteOther, true, 1}, Row{readable | QFile::WriteGroup, true, 1},
                           Row{readable, false, 1}, Row{readable, true, 4}}) {
        QFile::setPermissions(bundleKey, row.permissions);
        testing_support::AppHarness h(package, {.keyOwner = row.ownerIsKeyOwner ? ::getuid() : ::getuid() + 1});
        h.runInitialize();
        EXPECT_EQ(stateNumber(h.app().session().state()), row.status) << std::hex << int(row.permissions) << row.ownerIsKeyOwner;
    }
    QFile::setPermissions(bundleKey, readable | QFile::WriteOther);
    const VerifyRun r = verify(package.path());
    EXPECT_TRUE(r.out.contains("maker.pub may be changed by a user other than root; ignored")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("signature: unsigned (no trusted key to check manifest.sig against)")) << r.out.toStdString();
}

} // namespace

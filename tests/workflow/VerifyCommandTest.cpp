// hotspot-package verify, run as a program.

#include "AppHarness.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
    for (const ImageEntry& e : h.app().s_image_table)
        if (shouldWrite(e))
            written << QString::fromUtf8(e.name);
    const VerifyRun r = verify(bundle.path());
    QStringList used;
    for (const QString& line : r.out.split(u'\n'))
        if (line.startsWith("used "))
            used << line.mid(5).trimmed().section("  ", 0, 0);

    EXPECT_EQ(h.app().status() == 1, r.status == 0) << r.out.toStdString();
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
}

} // namespace

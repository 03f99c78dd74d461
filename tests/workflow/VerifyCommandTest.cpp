// hotspot-package verify, run as a program.

#include "AppHarness.h"

#include <QProcess>
#include <functional>
#include <gtest/gtest.h>

namespace {

using testing_support::TempBundle;

struct VerifyRun {
    int status;
    QString out;
};

VerifyRun verify(const QString& dir) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(HOTSPOT_PACKAGE_TOOL), {QStringLiteral("verify"), dir});
    p.waitForFinished(-1);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
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

} // namespace

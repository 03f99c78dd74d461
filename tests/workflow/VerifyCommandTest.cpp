// hotspot-package verify, run as a program.

#include "AppHarness.h"

#include <QProcess>
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
        EXPECT_TRUE(r.out.contains("boot  boot.img  ok"));
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
    EXPECT_TRUE(r.out.contains("aboot  aboot.img  size mismatch (listed 5 bytes, file has 4)")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("boot  boot.img  MD5 mismatch"));
    EXPECT_TRUE(r.out.contains("modem  modem.img  missing, skipped"));
    EXPECT_TRUE(r.out.contains("system  system.img  ok"));
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

} // namespace

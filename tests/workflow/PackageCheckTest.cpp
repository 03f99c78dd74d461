// The start-up package check on temporary bundles: every outcome with its screen and state.

#include "AppHarness.h"
#include "workflow/PackageReader.h"

#include <QMessageBox>
#include <QStringEncoder>
#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class PackageCheck : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        // A quiet stand-in adb, so the success path restarts a "server" harmlessly.
        bundle.writeResource("adb", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(bundle.resources() + "/adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override {
        harness.reset();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) && !w->parentWidget())
                delete w;
    }
    AppHarness& run(HarnessOptions options = {}) {
        harness = std::make_unique<AppHarness>(bundle, options);
        harness->runInitialize();
        return *harness;
    }
    Application& app() { return harness->app(); }
    uint64_t total() { return packageTotal(app()); }

    // The failure screen: the key on the status line and as warning, Close offered.
    void expectFailure(const char* key, bool buttonEnabled) {
        EXPECT_EQ(app().session().state(), SessionState::Finished);
        const Screen s = harness->screen();
        EXPECT_EQ(s.status, L(key));
        EXPECT_TRUE(s.warningVisible);
        EXPECT_EQ(s.warning, L(key));
        EXPECT_EQ(s.buttonTitle, L("btn Close"));
        EXPECT_EQ(s.buttonEnabled, buttonEnabled);
    }
    void expectImageFailure() {
        expectFailure("stat Fail to check image file !", true);
        EXPECT_TRUE(harness->screen().barAnimating);
        EXPECT_EQ(total(), 0u);
    }
    void expectSuccess(uint64_t expectedTotal) {
        EXPECT_EQ(app().session().state(), SessionState::Searching);
        EXPECT_EQ(total(), expectedTotal);
        const Screen s = harness->screen();
        EXPECT_EQ(s.status, L("stat Detecting device ..."));
        EXPECT_EQ(s.buttonTitle, L("btn Searching"));
        EXPECT_EQ(s.info, L("info Version after update") + ":\n\t" + QString::fromUtf8(harness->toolVersion()));
        EXPECT_TRUE(s.barAnimating);
    }

    TempBundle bundle;
    std::unique_ptr<AppHarness> harness;
};

TEST_F(PackageCheck, GoodPackagePassesAndSumsBytes) {
    const QByteArray a = bundle.addImage("boot", "boot.img", QByteArray(1500, 'b'));
    const QByteArray b = bundle.addImage("system", "system.img", QByteArray(3000, 's'));
    bundle.writeVersion("HS_FW_V1.2\n" + a + "\n" + b + "\n");
    run();
    expectSuccess(4500);
    EXPECT_EQ(harness->toolVersion(), "V1.2");
    EXPECT_STREQ(packageImages(app())[1].name, "system");
    EXPECT_EQ(packageImages(app())[2].name[0], '\0');
    EXPECT_EQ(harness->deviceVersion(), "");
    // adb's vendor list was prepared in the private home.
    EXPECT_TRUE(QFile::exists(harness->home() + "/.android/adb_usb.ini"));
}

TEST_F(PackageCheck, LineEndsAndEncodingsReadAlike) {
    const QByteArray img = bundle.addImage("boot", "boot.img", "0123456789");
    const QString text = QStringLiteral("  FW_V1.2  \r\n#comment\r\n") + QString::fromUtf8(img) + "\r\n";
    QStringEncoder le(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QStringEncoder be(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
    const QList<QByteArray> forms{text.toUtf8(), QByteArray("\xEF\xBB\xBF") + text.toUtf8(),
                                  QByteArray(le.encode(text)), QByteArray(be.encode(text))};
    for (const QByteArray& bytes : forms) {
        bundle.writeVersion(bytes);
        run();
        expectSuccess(10);
        EXPECT_EQ(harness->toolVersion(), "V1.2");
    }
}

TEST_F(PackageCheck, DriverMissing) {
    run({.driverInstalled = false});
    expectFailure("stat Please install driver", true);
    bool alert = false;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w))
            alert |= box->text() == L("stat Please install driver");
    EXPECT_TRUE(alert);
}

TEST_F(PackageCheck, UnreadableVersionFile) {
    run(); // no version file
    expectFailure("stat Fail to check version info !", true);
    bundle.writeVersion("FW_1\n\xFF\xFE\xFD garbage\n"); // not UTF-8
    run();
    expectFailure("stat Fail to check version info !", true);
}

TEST_F(PackageCheck, VersionFileWithoutLineEndDisablesTheButton) {
    for (const QByteArray& bytes : {QByteArray(), QByteArray("FW_V1.2")}) {
        bundle.writeVersion(bytes);
        run();
        expectFailure("stat Fail to check version info !", false);
    }
}

TEST_F(PackageCheck, VersionLineAloneFailsTheImageCheck) {
    bundle.writeVersion("FW_V1.2\n");
    run();
    expectImageFailure();
    EXPECT_EQ(harness->toolVersion(), "V1.2");
}

TEST_F(PackageCheck, CommentLikeFirstLineIsTheVersion) {
    const QByteArray img = bundle.addImage("boot", "boot.img", "x");
    bundle.writeVersion("#FW_9\n" + img + "\n");
    run();
    expectSuccess(1);
    EXPECT_EQ(harness->toolVersion(), "9");
}

TEST_F(PackageCheck, OddFieldCountsAndBlanksAfterCommas) {
    const QByteArray img = bundle.addImage("boot", "boot.img", "abc");
    bundle.writeVersion("V\nthree,boot.img,3\nfive,boot.img,3,x,y\nsys, boot.img,3,00\n" + img + "\n");
    run();
    // The blank makes " boot.img" an absent file: skipped.
    expectSuccess(3);
    EXPECT_STREQ(packageImages(app())[0].name, "sys");
}

TEST_F(PackageCheck, SizesWithAutomaticBase) {
    QByteArray hex = bundle.addImage("a", "a.img", QByteArray(512, 'a'));
    QByteArray oct = bundle.addImage("b", "b.img", QByteArray(8, 'b'));
    hex.replace(",512,", ",0x200,");
    oct.replace(",8,", ",010,");
    bundle.writeVersion("V\n" + hex + "\n" + oct + "\n");
    run();
    expectSuccess(520);
}

TEST_F(PackageCheck, Md5LetterCaseAndBlanks) {
    const QByteArray content = "payload";
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    bundle.writeResource("p.img", content);
    bundle.writeVersion("V\np,p.img, 7 ," + md5.toUpper() + "\n");
    run();
    expectSuccess(7);
    bundle.writeVersion("V\np,p.img,7, " + md5 + "\n");
    run();
    expectImageFailure();
    bundle.writeVersion("V\np,p.img,7," + md5 + " \n");
    run();
    expectImageFailure();
}

TEST_F(PackageCheck, AbsentImageAmongGoodOnesIsSkipped) {
    const QByteArray a = bundle.addImage("a", "a.img", "1234");
    const QByteArray b = bundle.addImage("b", "b.img", "123456");
    QFile::remove(bundle.resources() + "/a.img");
    bundle.writeVersion("V\n" + a + "\n" + b + "\n");
    run();
    expectSuccess(6);
    EXPECT_STREQ(packageImages(app())[0].name, "a"); // stays in the table
}

TEST_F(PackageCheck, FirstBadImageFailsTheWholePackage) {
    const QByteArray good = bundle.addImage("a", "a.img", "1234");
    QByteArray wrongSize = bundle.addImage("b", "b.img", "123456");
    wrongSize.replace(",6,", ",5,");
    bundle.writeVersion("V\n" + good + "\n" + wrongSize + "\n");
    run();
    expectImageFailure();
    QByteArray wrongMd5 = bundle.addImage("b", "b.img", "123456");
    wrongMd5.chop(1);
    wrongMd5 += wrongMd5.endsWith('0') ? "1" : "0";
    bundle.writeVersion("V\n" + good + "\n" + wrongMd5 + "\n");
    run();
    expectImageFailure();
}

TEST_F(PackageCheck, EmptyImageAloneAddsNothing) {
    bundle.writeVersion("V\n" + bundle.addImage("e", "e.img", "") + "\n");
    run();
    expectImageFailure();
}

TEST_F(PackageCheck, OnlyThirtyTwoImagesAreRead) {
    QByteArray text = "V\n";
    for (int i = 0; i < 40; ++i)
        text += bundle.addImage("p" + QByteArray::number(i), "i" + QByteArray::number(i), "x") + "\n";
    bundle.writeVersion(text);
    run();
    expectSuccess(32);
    EXPECT_STREQ(packageImages(app())[31].name, "p31");
    EXPECT_EQ(app().session().package()->images().size(), 32u);
}

TEST_F(PackageCheck, RunsOnlyWhileInitialising) {
    bundle.writeVersion("V\n");
    harness = std::make_unique<AppHarness>(bundle);
    app().session().setState(SessionState::Searching);
    harness->runInitialize();
    EXPECT_EQ(app().session().state(), SessionState::Searching);
    EXPECT_NE(harness->screen().status, L("stat Fail to check image file !"));
}

TEST_F(PackageCheck, MissingAdbStillReachesSearching) {
    QFile::remove(bundle.resources() + "/adb");
    bundle.writeVersion("V\n" + bundle.addImage("a", "a.img", "1") + "\n");
    run();
    expectSuccess(1);
}

} // namespace

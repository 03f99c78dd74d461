#include "AppTestSupport.h"
#include "app/StringTable.h"

#include <QRegularExpression>

using Lookup = AppFixture;

namespace {

// Every key the application shows.
const char* const kKeys[] = {
    "stat Initializing ...", "stat Please install driver", "stat Fail to check version info !",
    "stat Fail to check image file !", "stat Detecting device ...", "stat Searching device ...",
    "stat Reboot device ...", "stat detect Switching to [%s] mode ...",
    "stat detect Fail to switch [%s] mode !", "stat Reading version ...",
    "stat Fail to read version number !", "stat Unable to detect device boot mode !",
    "stat Device Ready !", "stat Upgrading ...", "stat Switching to [%s] mode ...",
    "stat Device attached with [%s] mode !", "stat Writing [%s] ...",
    "stat Switching back to [%s] mode ...", "stat Wait Restart ...",
    "stat updated Reading version ...", "stat updated Fail to read version number !",
    "stat Fail to switch [%s] mode !", "stat Fail to switch back [%s] mode !",
    "stat Success upgrade device !", "stat Fail to upgrade by some error !",
    "stat Device not found !", "stat Fail to write image !", "btn Initializing",
    "btn Processing", "btn Searching", "btn Detecting ...", "btn Start", "btn Close", "btn Retry",
    "info Version after update", "info Current version", "info Your vesion is up to date",
    "info Please check device, reconnect it and try again.",
    "warning Please do not remove, update is in progress.", "warning Update is finished.",
};

} // namespace

TEST_F(Lookup, ShippedTableHasASentenceForEveryKey) {
    useShippedResources();
    for (const char* key : kKeys) {
        const QString text = AppDelegate::lookup(key);
        EXPECT_NE(text, QString::fromUtf8(key));
        EXPECT_FALSE(QRegularExpression(QStringLiteral("^(stat|btn|info|warning) ")).match(text).hasMatch())
            << key;
        EXPECT_EQ(text.count(QStringLiteral("%s")), QString::fromUtf8(key).count(QStringLiteral("%s")))
            << key;
        EXPECT_EQ(text.count(QLatin1Char('%')), text.count(QStringLiteral("%s"))) << key;
    }
    EXPECT_EQ(AppDelegate::lookupFilled("stat Writing [%s] ...", QStringLiteral("modem")), "Writing modem…");
}

TEST_F(Lookup, MissingKeyOrTableShowsTheKey) {
    useShippedResources();
    EXPECT_EQ(AppDelegate::lookup("stat No such sentence !"), "stat No such sentence !");

    // Without any table every key comes back as it is, prefix and all.
    QFile::remove(resources() + QStringLiteral("/Localizable_en.qm"));
    rebuildController();
    EXPECT_EQ(AppDelegate::lookup("stat Device Ready !"), "stat Device Ready !");
    EXPECT_EQ(AppDelegate::lookupFilled("stat Writing [%s] ...", QStringLiteral("boot")),
              "stat Writing [boot] ...");
}

TEST_F(Lookup, TableEntriesAreNeverUsedAsFormats) {
    useTestTable();
    // The entry carries "%n", "%d", "%%" and "%x": only the "%s" is filled.
    EXPECT_EQ(AppDelegate::lookupFilled("stat Writing [%s] ...", QStringLiteral("modem")),
              "100% sure: writing modem now (%n %d %% %x)");
    // The argument is inserted as it is, even when it looks like a format.
    EXPECT_EQ(AppDelegate::fill(QStringLiteral("[%s] %s"), QStringLiteral("%s%n")), "[%s%n] %s");
    EXPECT_EQ(AppDelegate::fill(QStringLiteral("no placeholder"), QStringLiteral("x")), "no placeholder");
    // Unfinished entries do not ship.
    EXPECT_EQ(AppDelegate::lookup("btn Retry"), "btn Retry");
    EXPECT_EQ(AppDelegate::lookup("btn Start"), "Go");
}

TEST_F(Lookup, UnknownLanguageFallsBackToEnglish) {
    useShippedResources();
    EXPECT_TRUE(stringtable::install(resources(), QLocale(QLocale::Japanese, QLocale::Japan)));
    EXPECT_EQ(AppDelegate::lookup("btn Close"), "Close");
    EXPECT_FALSE(stringtable::install(m_dir.path()));
    EXPECT_EQ(AppDelegate::lookup("btn Close"), "btn Close");
}

TEST(CopyVersion, BoundsAndTerminatesTheBuffer) {
    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    copyVersion(buffer, QByteArray(400, 'v'));
    EXPECT_EQ(std::strlen(buffer), 255u);
    EXPECT_EQ(buffer[256], 'x'); // nothing past the 256 bytes is written

    copyVersion(buffer, QByteArray("1.2.3"));
    EXPECT_STREQ(buffer, "1.2.3");
    EXPECT_EQ(buffer[200], '\0'); // the old long text is gone
    copyVersion(buffer, QByteArray("ab\0cd", 5));
    EXPECT_STREQ(buffer, "ab");
}

#include "AppTestSupport.h"
#include "app/StringTable.h"
#include "workflow/VersionCompare.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cstring>

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
    "info The firmware was written, but its new version could not be read.",
    "info Please check device, reconnect it and try again.",
    "warning Please do not remove, update is in progress.", "warning Update is finished.",
    "btn Start All", "col Port", "col Version", "col Status", "col Progress", "col Result",
    "stat Closing once the running updates end ...", "info Package version %s",
    "stat The firmware was written, but your data did not go back !",
    "stat The update could not be recorded, so nothing was written !",
    "stat Is this the hotspot whose update stopped on %s ?", "btn Finish with the saved data",
    "btn Update it as another hotspot", "res Data not back",
};

} // namespace

namespace {

// The keys of the English source table, read from its Linguist file: a key added there
// must reach every other table too.
QStringList sourceKeys() {
    QFile file(QStringLiteral(HOTSPOT_SOURCE_TABLE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList keys;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("source"))
            keys << xml.readElementText();
    }
    return keys;
}

} // namespace

TEST_F(Lookup, EveryShippedTableHasASentenceForEveryKey) {
    useShippedResources();
    const QStringList keys = sourceKeys();
    for (const char* key : kKeys)
        EXPECT_TRUE(keys.contains(QString::fromUtf8(key))) << key;
    const QStringList tables = QDir(resources()).entryList({QStringLiteral("Localizable_*.qm")}, QDir::Files);
    ASSERT_GE(tables.size(), 2) << "English and Simplified Chinese";
    for (const QString& table : tables) {
        const QString language = table.mid(int(std::strlen("Localizable_"))).chopped(3);
        ASSERT_TRUE(stringtable::install(resources(), QLocale(language))) << language.toStdString();
        for (const QString& key : keys) {
            const QString text = messages::lookup(key.toUtf8().constData());
            const std::string where = language.toStdString() + ": " + key.toStdString();
            EXPECT_NE(text, key) << where;
            EXPECT_FALSE(QRegularExpression(QStringLiteral("^(stat|btn|info|warning) ")).match(text).hasMatch())
                << where;
            EXPECT_EQ(text.count(QStringLiteral("%s")), key.count(QStringLiteral("%s"))) << where;
            EXPECT_EQ(text.count(QLatin1Char('%')), text.count(QStringLiteral("%s"))) << where;
        }
    }
    ASSERT_TRUE(stringtable::install(resources(), QLocale(QStringLiteral("zh_CN"))));
    EXPECT_EQ(messages::lookupFilled("stat Writing [%s] ...", QStringLiteral("modem")), "正在写入 modem…");
    ASSERT_TRUE(stringtable::install(resources(), QLocale(QStringLiteral("en_US"))));
    EXPECT_EQ(messages::lookupFilled("stat Writing [%s] ...", QStringLiteral("modem")), "Writing modem…");
}

TEST_F(Lookup, MissingKeyOrTableShowsTheKey) {
    useShippedResources();
    EXPECT_EQ(messages::lookup("stat No such sentence !"), "stat No such sentence !");

    // Without any table every key comes back as it is, prefix and all.
    QFile::remove(resources() + QStringLiteral("/Localizable_en.qm"));
    rebuildController();
    EXPECT_EQ(messages::lookup("stat Device Ready !"), "stat Device Ready !");
    EXPECT_EQ(messages::lookupFilled("stat Writing [%s] ...", QStringLiteral("boot")),
              "stat Writing [boot] ...");
}

TEST_F(Lookup, TableEntriesAreNeverUsedAsFormats) {
    useTestTable();
    // The entry carries "%n", "%d", "%%" and "%x": only the "%s" is filled.
    EXPECT_EQ(messages::lookupFilled("stat Writing [%s] ...", QStringLiteral("modem")),
              "100% sure: writing modem now (%n %d %% %x)");
    // The argument is inserted as it is, even when it looks like a format.
    EXPECT_EQ(messages::fill(QStringLiteral("[%s] %s"), QStringLiteral("%s%n")), "[%s%n] %s");
    EXPECT_EQ(messages::fill(QStringLiteral("no placeholder"), QStringLiteral("x")), "no placeholder");
    // Unfinished entries do not ship.
    EXPECT_EQ(messages::lookup("btn Retry"), "btn Retry");
    EXPECT_EQ(messages::lookup("btn Start"), "Go");
}

TEST_F(Lookup, UnknownLanguageFallsBackToEnglish) {
    useShippedResources();
    EXPECT_TRUE(stringtable::install(resources(), QLocale(QLocale::Japanese, QLocale::Japan)));
    EXPECT_EQ(messages::lookup("btn Close"), "Close");
    EXPECT_FALSE(stringtable::install(m_dir.path()));
    EXPECT_EQ(messages::lookup("btn Close"), "btn Close");
}

TEST(BoundedVersion, KeepsAtMost255BytesAndNothingFromANul) {
    EXPECT_EQ(version::bounded(QString(400, u'v')).size(), 255);
    EXPECT_EQ(version::bounded(QStringLiteral("1.2.3")), "1.2.3");
    EXPECT_EQ(version::bounded(QString::fromUtf8(QByteArray("ab\0cd", 5))), "ab");
    EXPECT_EQ(version::bounded(QString(200, QChar(0xe9))), QString(127, QChar(0xe9))); // no half character

}

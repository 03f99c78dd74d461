#include "BridgeFixture.h"
#include "bridge/JournalStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kDigest = QString(64, u'a');

UpdateJournal sample() {
    UpdateJournal journal;
    journal.port = QStringLiteral("1-1.2");
    journal.packageVersion = QStringLiteral("1.0.4");
    journal.versionSha256 = kDigest;
    journal.storeEntry =
        QStringLiteral("/home/u/.local/share/hotspot-updater/backups/x/20240501T102030Z");
    journal.files = {{QStringLiteral("/lib/firmware/bdata.bin"), kDigest},
                     {QStringLiteral("/data/config"), kDigest}};
    journal.phase = JournalPhase::Image;
    journal.image = 2;
    journal.images = 5;
    journal.resumes = 1;
    journal.foundEntries = {QStringLiteral("/home/u/.local/share/hotspot-updater/backups/x/20240502T080000Z")};
    journal.afterPush = {QString(64, u'b')};
    journal.created =
        QDateTime::fromString(QStringLiteral("2024-05-01T10:20:30.250Z"), Qt::ISODateWithMs);
    journal.changed = journal.created.addSecs(90);
    return journal;
}

// The sample's JSON with `key` set to `value` (removed when undefined).
QByteArray withField(const QString& key, const QJsonValue& value) {
    QJsonObject json = QJsonDocument::fromJson(sample().toJson()).object();
    if (value.isUndefined())
        json.remove(key);
    else
        json.insert(key, value);
    return QJsonDocument(json).toJson();
}

mode_t modeOf(const QString& file) {
    struct stat status {};
    ::lstat(QFile::encodeName(file).constData(), &status);
    return status.st_mode & 07777;
}

} // namespace

TEST(UpdateJournal, ReadsBackWhatItWrites) {
    const JournalReading reading = parseJournal(sample().toJson());
    ASSERT_TRUE(reading.journal) << reading.error.toStdString();
    EXPECT_EQ(*reading.journal, sample());
    EXPECT_TRUE(parseJournal(withField("port", "")).journal) << "a host without port paths";
    // An earlier version's journal: no entries of what a finish found.
    QJsonObject first = QJsonDocument::fromJson(withField("format", 1)).object();
    first.remove("foundEntries");
    first.remove("afterPush");
    const JournalReading older = parseJournal(QJsonDocument(first).toJson());
    ASSERT_TRUE(older.journal) << older.error.toStdString();
    EXPECT_TRUE(older.journal->foundEntries.isEmpty());
}

TEST(UpdateJournal, RefusesAnythingMalformedAndSaysWhy) {
    const QJsonArray badFile{
        QJsonObject{{"devicePath", "/data/config"}, {"sha256", kDigest.toUpper()}}};
    const struct {
        const char* what;
        const char* why; // in the error text
        QByteArray bytes;
    } rows[] = {
        {"a later format", "format 3", withField("format", 3)},
        {"no found entries", "\"foundEntries\" is missing", withField("foundEntries", QJsonValue::Undefined)},
        {"relative found entry", "\"foundEntries\"", withField("foundEntries", QJsonArray{"backups/y"})},
        {"digest after a push", "\"afterPush\"", withField("afterPush", QJsonArray{"B"})},
        {"format as text", "\"format\"", withField("format", "1")},
        {"missing port", "\"port\" is missing", withField("port", QJsonValue::Undefined)},
        {"version as number", "\"packageVersion\"", withField("packageVersion", 104)},
        {"upper-case digest", "\"versionSha256\"", withField("versionSha256", kDigest.toUpper())},
        {"short digest", "\"versionSha256\"", withField("versionSha256", kDigest.left(63))},
        {"file digest", "files[0]: \"sha256\"", withField("files", badFile)},
        {"file without path", "files[0]: \"devicePath\"",
         withField("files", QJsonArray{QJsonObject{{"devicePath", ""}, {"sha256", kDigest}}})},
        {"file not an object", "files[0]", withField("files", QJsonArray{kDigest})},
        {"files not a list", "\"files\"", withField("files", QJsonObject())},
        {"unknown phase", "\"phase\"", withField("phase", "flashing")},
        {"image beyond the count", "image 6 of 5", withField("image", 6)},
        {"image phase without image", "no image", withField("image", 0)},
        {"negative resumes", "\"resumes\"", withField("resumes", -1)},
        {"fractional count", "\"images\"", withField("images", 5.5)},
        {"huge count", "\"images\"", withField("images", 1e12)},
        {"time with offset", "\"created\"", withField("created", "2024-05-01T12:20:30+02:00")},
        {"no time", "\"changed\"", withField("changed", "yesterday")},
        {"relative entry", "\"storeEntry\"", withField("storeEntry", "backups/x")},
        {"half a character", "\"port\"",
         withField("port", "").replace("\"port\": \"\"", "\"port\": \"\\ud800\"")},
        {"invalid UTF-8", "UTF-8",
         withField("port", "").replace("\"port\": \"\"", "\"port\": \"\xff\"")},
        {"not JSON", "not JSON", "{\"format\": 1,"},
        {"a list", "object", "[1]"},
        {"nothing", "not JSON", ""},
    };
    for (const auto& row : rows) {
        const JournalReading reading = parseJournal(row.bytes);
        EXPECT_FALSE(reading.journal) << row.what;
        EXPECT_TRUE(reading.error.contains(QLatin1String(row.why)))
            << row.what << ": " << reading.error.toStdString();
    }
}

class JournalStoreTest : public BridgeTest {
protected:
    JournalStore store{path("state/hotspot-updater/journals")};
    QStringList entries() const {
        return QDir(store.folder())
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST_F(JournalStoreTest, WriteReplacesTheJournalWholeAndLeavesNoTemporaryFile) {
    std::optional<JournalLock> lock = store.create(sample());
    ASSERT_TRUE(lock);
    UpdateJournal later = sample();
    later.phase = JournalPhase::Restarted;
    later.image = 5;
    later.files.pop_back();
    ASSERT_TRUE(store.write(*lock, later));
    EXPECT_EQ(entries(), QStringList{QFileInfo(lock->path()).fileName()});
    EXPECT_EQ(modeOf(store.folder()), 0700u);
    EXPECT_EQ(modeOf(lock->path()), 0600u);
    EXPECT_EQ(store.read(lock->path()).journal, later);
}

TEST_F(JournalStoreTest, OneHolderAtATimeEvenAfterTheFileIsReplaced) {
    std::optional<JournalLock> lock = store.create(sample());
    ASSERT_TRUE(lock);
    const QString file = lock->path();
    EXPECT_FALSE(JournalStore::lock(file));
    ASSERT_TRUE(store.write(*lock, sample()));
    EXPECT_FALSE(JournalStore::lock(file)) << "the lock moved to the new file";
    lock.reset();
    EXPECT_TRUE(JournalStore::lock(file));
}

// Another unit's keeper closed it between the listing and the read: gone, not untrusted.
TEST_F(JournalStoreTest, AJournalClosedMeanwhileIsNeitherTrustedNorSetAside) {
    std::optional<JournalLock> lock = store.create(sample());
    ASSERT_TRUE(lock);
    const QString file = lock->path();
    ASSERT_TRUE(store.close(std::move(*lock), sample()));
    const JournalCheck check = store.read(file);
    EXPECT_TRUE(check.vanished);
    EXPECT_FALSE(check.journal);
    EXPECT_TRUE(check.setAside.from.isEmpty());
    EXPECT_TRUE(entries().isEmpty()) << "nothing set aside";
}

TEST_F(JournalStoreTest, UntrustedJournalsAreSetAsideAndNeverListed) {
    ASSERT_TRUE(store.create(sample()));
    writeFile(store.folder() + QStringLiteral("/corrupt.json"), "{\"format\": 1");
    writeFile(store.folder() + QStringLiteral("/shared.json"), sample().toJson());
    QFile::setPermissions(store.folder() + QStringLiteral("/shared.json"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup);
    writeFile(path("elsewhere.json"), sample().toJson());
    QFile::link(path("elsewhere.json"), store.folder() + QStringLiteral("/link.json"));
    QStringList expected{QStringLiteral("corrupt.json"), QStringLiteral("link.json"),
                         QStringLiteral("shared.json")};
    if (::geteuid() == 0) {
        writeFile(store.folder() + QStringLiteral("/foreign.json"), sample().toJson());
        ASSERT_EQ(
            ::chown(QFile::encodeName(store.folder() + QStringLiteral("/foreign.json")).constData(),
                    65534, 65534),
            0);
        expected.insert(1, QStringLiteral("foreign.json"));
    }
    const JournalListing listing = store.list();
    EXPECT_EQ(listing.open.size(), 1u);
    QStringList moved;
    for (const SetAsideJournal& aside : listing.setAside) {
        moved << QFileInfo(aside.from).fileName();
        EXPECT_TRUE(aside.to.startsWith(aside.from + QStringLiteral(".set-aside-")))
            << aside.to.toStdString();
        EXPECT_TRUE(QFileInfo(aside.to).isSymLink() || QFileInfo(aside.to).isFile())
            << aside.why.toStdString();
    }
    EXPECT_EQ(moved, expected);
    EXPECT_EQ(store.list().setAside.size(), 0u) << "set aside once";
    EXPECT_EQ(readFile(path("elsewhere.json")), sample().toJson())
        << "a link's target is never touched";
}

TEST_F(JournalStoreTest, ListingSkipsDoneJournalsAndClosingRemoves) {
    std::optional<JournalLock> open = store.create(sample());
    UpdateJournal done = sample();
    done.phase = JournalPhase::Done;
    done.created = done.created.addSecs(1);
    ASSERT_TRUE(open && store.create(done));
    const JournalListing listing = store.list();
    ASSERT_EQ(listing.open.size(), 1u);
    EXPECT_EQ(listing.open[0].path, open->path());
    EXPECT_TRUE(store.close(std::move(*open), sample()));
    EXPECT_TRUE(store.list().open.empty());
    EXPECT_EQ(entries().size(), 1u);
}

#include "workflow/ImageHasher.h"
#include "workflow/PackageReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using package::ImageVerdict;

QByteArray withBom(QStringConverter::Encoding e, const QString& text) {
    QStringEncoder encoder(e, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

TEST(PackageText, EncodingsReadAlike) {
    const QString text = QStringLiteral("FW_V1.2\nboot,boot.img,0x200,abc\n");
    EXPECT_EQ(package::decodeText(text.toUtf8()), text);
    EXPECT_EQ(package::decodeText("\xEF\xBB\xBF" + text.toUtf8()), text);
    EXPECT_EQ(package::decodeText(withBom(QStringConverter::Utf16LE, text)), text);
    EXPECT_EQ(package::decodeText(withBom(QStringConverter::Utf16BE, text)), text);
    EXPECT_EQ(package::decodeText(withBom(QStringConverter::Utf32LE, text)), text);
    EXPECT_EQ(package::decodeText(QByteArray()), QString());
}

TEST(PackageText, InvalidBytesAreNotText) {
    EXPECT_FALSE(package::decodeText("V1\n\xFF\xFE\xFD\n"));     // not UTF-8
    EXPECT_FALSE(package::decodeText("V1\n\xC3"));               // cut sequence
    EXPECT_FALSE(package::decodeText("\xED\xA0\x80\n"));         // encoded surrogate
    EXPECT_FALSE(package::decodeText(QByteArray("V1\n\0x\n", 6))); // NUL: UTF-16 without BOM
    EXPECT_FALSE(package::decodeText(QByteArray("\xFF\xFE\x00\xD8", 4))); // lone surrogate
}

TEST(PackageText, CutsAtEveryCrAndLfKeepingEmptyPieces) {
    EXPECT_EQ(package::cutPieces(QStringLiteral("V1\n")), (QStringList{"V1", ""}));
    EXPECT_EQ(package::cutPieces(QStringLiteral("V1\r\na\r\n")), (QStringList{"V1", "", "a", "", ""}));
    EXPECT_EQ(package::cutPieces(QStringLiteral("V1")).size(), 1);
    EXPECT_EQ(package::cutPieces(QString()).size(), 1);
    EXPECT_EQ(package::cutPieces(QStringLiteral("\r")).size(), 2);
}

TEST(PackageText, MissingFileIsUnreadable) {
    EXPECT_FALSE(package::readVersionText(QStringLiteral("/nonexistent/version")));
}

QStringList pieces(const char* text) { return package::cutPieces(QString::fromUtf8(text)); }

TEST(ImageLines, FourFieldsUntrimmedInOrder) {
    const auto entries = package::readImageLines(pieces("#FW_1\n"
                                                        "boot,boot.img,0x200,ABCDEF\r\n"
                                                        "#sys,sys.img,1,aa\n"
                                                        " #x,x.img,010,bb\n"
                                                        "three,fields,1\n"
                                                        "five,f,1,m,extra\n"
                                                        "rootfs, root.img , 12 ,cc \n"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0].name, "boot");
    EXPECT_STREQ(entries[0].file, "boot.img");
    EXPECT_EQ(entries[0].size, 512);
    EXPECT_STREQ(entries[0].md5, "ABCDEF");
    // A blank before "#" makes it no comment; octal size.
    EXPECT_STREQ(entries[1].name, " #x");
    EXPECT_EQ(entries[1].size, 8);
    // Blanks stay part of the fields; the size reads past its blanks.
    EXPECT_STREQ(entries[2].file, " root.img ");
    EXPECT_EQ(entries[2].size, 12);
    EXPECT_STREQ(entries[2].md5, "cc ");
}

TEST(ImageLines, SizesReadLikeStrtol) {
    const auto entries = package::readImageLines(pieces("v\na,a,,m\nb,b,abc,m\nc,c,-5,m\nd,d,12kb,m\n"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].size, 0);
    EXPECT_EQ(entries[1].size, 0);
    EXPECT_EQ(entries[2].size, -5);
    EXPECT_EQ(entries[3].size, 12);
}

TEST(ImageLines, LongFieldsAreCutAndTerminated) {
    const QByteArray name(100, 'n');
    const QByteArray file(3000, 'f');
    const QByteArray md5(200, 'm');
    const auto entries = package::readImageLines(package::cutPieces(
        QString::fromUtf8("v\n" + name + ',' + file + ",1," + md5 + '\n')));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(QByteArray(entries[0].name), name.left(31));
    EXPECT_EQ(QByteArray(entries[0].file), file.left(1023));
    EXPECT_EQ(QByteArray(entries[0].md5), md5.left(63));
}

TEST(ImageLines, StopsAfterThirtyTwo) {
    QByteArray text = "v\n";
    for (int i = 0; i < 40; ++i)
        text += "p" + QByteArray::number(i) + ",f,1,m\n";
    const auto entries = package::readImageLines(package::cutPieces(QString::fromUtf8(text)));
    ASSERT_EQ(entries.size(), 32u);
    EXPECT_STREQ(entries[31].name, "p31");
}

class ImageCheckTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& content) {
        QFile f(dir.path() + u'/' + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return f.fileName();
    }
    ImageEntry entry(const char* file, int64_t size, const QByteArray& md5) {
        ImageEntry e{};
        package::copyField(e.name, "p");
        package::copyField(e.file, file);
        package::copyField(e.md5, md5);
        e.size = size;
        return e;
    }
    QTemporaryDir dir;
};

TEST_F(ImageCheckTest, Verdicts) {
    const QByteArray content = "image bytes";
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    write("a.img", content);
    EXPECT_EQ(package::checkImage(dir.path(), entry("a.img", 11, md5)).verdict, ImageVerdict::Ok);
    EXPECT_EQ(package::checkImage(dir.path(), entry("a.img", 11, md5.toUpper())).verdict, ImageVerdict::Ok);
    EXPECT_EQ(package::checkImage(dir.path(), entry("a.img", 11, " " + md5)).verdict,
              ImageVerdict::Md5Mismatch);
    EXPECT_EQ(package::checkImage(dir.path(), entry("a.img", 11, md5 + " ")).verdict,
              ImageVerdict::Md5Mismatch);
    EXPECT_EQ(package::checkImage(dir.path(), entry("a.img", 12, md5)).verdict, ImageVerdict::SizeMismatch);
    EXPECT_EQ(package::checkImage(dir.path(), entry("b.img", 11, md5)).verdict, ImageVerdict::Absent);
    EXPECT_EQ(package::checkImage(dir.path(), entry(" a.img", 11, md5)).verdict, ImageVerdict::Absent);
    // Names that reach outside the package's folder or name its own files are refused, even
    // when nothing is there (an absent image would otherwise be passed over).
    for (const char* name : {"", "../a.img", "/abs.img", "sub/a.img", ".", "..", "version", "manifest.sig"})
        EXPECT_EQ(package::checkImage(dir.path(), entry(name, 11, md5)).verdict, ImageVerdict::UnsafeName) << name;
    // A link, a FIFO or a folder in an image's place is refused at once.
    ASSERT_TRUE(QFile::link(dir.filePath("a.img"), dir.filePath("link.img")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.img")).constData(), 0644), 0);
    QDir(dir.path()).mkdir("folder.img");
    for (const char* name : {"link.img", "fifo.img", "folder.img"})
        EXPECT_EQ(package::checkImage(dir.path(), entry(name, 11, md5)).verdict, ImageVerdict::Unreadable) << name;
    EXPECT_EQ(package::checkImage(dir.path(), entry("fifo.img", 11, md5)).why, "is not a regular file (a FIFO)");
}

// The copy the update writes holds exactly what was hashed; a bad image or a copy that cannot
// be made leaves none, and the latter refuses the image.
TEST_F(ImageCheckTest, PrivateCopyOfWhatWasHashed) {
    const QByteArray content = "image bytes";
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    write("a.img", content);
    QTemporaryDir copies;
    const package::ImageCheck good = package::checkImage(dir.path(), entry("a.img", 11, md5), false, copies.filePath("0.img"));
    EXPECT_EQ(good.verdict, ImageVerdict::Ok);
    ASSERT_EQ(good.copy, copies.filePath("0.img"));
    QFile copy(good.copy);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), content);
    const package::ImageCheck bad =
        package::checkImage(dir.path(), entry("a.img", 11, QByteArray(32, '0')), false, copies.filePath("1.img"));
    EXPECT_EQ(bad.verdict, ImageVerdict::Md5Mismatch);
    EXPECT_TRUE(bad.copy.isEmpty());
    EXPECT_FALSE(QFile::exists(copies.filePath("1.img")));
    const package::ImageCheck nowhere = package::checkImage(dir.path(), entry("a.img", 11, md5), false, "/nonexistent/0.img");
    EXPECT_EQ(nowhere.verdict, ImageVerdict::Unreadable);
    EXPECT_TRUE(nowhere.why.startsWith("cannot keep a private copy in /nonexistent/0.img")) << nowhere.why.toStdString();
}

TEST_F(ImageCheckTest, UnreadableFile) {
    const QString path = write("locked.img", "x");
    QFile::setPermissions(path, QFileDevice::Permissions());
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running with permission to read any file";
    EXPECT_EQ(package::checkImage(dir.path(), entry("locked.img", 1, "00")).verdict, ImageVerdict::Unreadable);
    EXPECT_FALSE(package::md5Hex(path));
}

TEST_F(ImageCheckTest, DigestDoesNotDependOnReadSize) {
    // Sizes around the read boundaries; the reference is the digest of the bytes in one go.
    for (qsizetype size : {qsizetype(0), qsizetype(1023), qsizetype(1024), qsizetype(1 << 20),
                           qsizetype((1 << 20) + 1), qsizetype(3 * (1 << 20) - 7)}) {
        QByteArray content(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            content[i] = char((i * 131 + 7) & 0xFF);
        const QString path = write(QStringLiteral("d.img"), content);
        EXPECT_EQ(package::md5Hex(path),
                  QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()))
            << size;
        // The signed check's SHA-256 comes from the same read.
        const std::optional<package::FileDigests> both = package::fileDigests(path, true);
        ASSERT_TRUE(both);
        EXPECT_EQ(both->md5, package::md5Hex(path));
        EXPECT_EQ(both->sha256, QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()) << size;
    }
    EXPECT_EQ(package::md5Hex(write("e.img", "")), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
}

// Checked on several threads, a table gives what the walk in order gives: every entry up to
// the first failure, absent images skipped, and the total of the rest.
TEST_F(ImageCheckTest, ConcurrentCheckEndsAtTheFirstFailureInTableOrder) {
    const QByteArray content = "image bytes";
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    for (const char* name : {"a.img", "b.img", "c.img", "d.img", "e.img"})
        write(QString::fromLatin1(name), content);
    const ImageEntry ok = entry("a.img", 11, md5), absent = entry("gone.img", 11, md5),
                     badSize = entry("b.img", 12, md5), badMd5 = entry("c.img", 11, "00");
    struct Case {
        std::vector<ImageEntry> table;
        std::size_t checked;  // entries in the answer
        ImageVerdict last;
        uint64_t total;
    };
    const std::vector<Case> cases = {
        {{ok, absent, entry("d.img", 11, md5), entry("e.img", 11, md5)}, 4, ImageVerdict::Ok, 33},
        {{ok, ok, ok, badMd5}, 4, ImageVerdict::Md5Mismatch, 0},
        {{badSize, ok, badMd5, ok}, 1, ImageVerdict::SizeMismatch, 0},
        {{ok, badMd5, ok, badSize, ok}, 2, ImageVerdict::Md5Mismatch, 0},
        {{absent, absent}, 2, ImageVerdict::Absent, 0},
        {{}, 0, ImageVerdict::Ok, 0},
    };
    for (int threads : {1, 2, 3, 8}) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            const std::vector<package::ImageCheck> checks = package::ImageHasher(threads).check(dir.path(), c.table);
            ASSERT_EQ(checks.size(), c.checked) << "case " << i << ", " << threads << " threads";
            if (!checks.empty()) {
                EXPECT_EQ(checks.back().verdict, c.last) << "case " << i;
            }
            EXPECT_EQ(package::verifyImages(dir.path(), c.table, threads).total, c.total) << "case " << i;
            // Every entry checked, for a report naming each bad image; the same total.
            const package::ImagesChecked all =
                package::checkImages(dir.path(), c.table, threads, package::ImageHasher::Stop::Never);
            EXPECT_EQ(all.checks.size(), c.table.size()) << "case " << i;
            EXPECT_EQ(all.selection.total, c.total) << "case " << i;
        }
    }
}

} // namespace

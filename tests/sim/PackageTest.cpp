// The package builder: the version file it writes and what it refuses.

#include "PackageWriter.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

void put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

QByteArray read(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

TEST(Package, WritesOneLinePerImageInTheGivenOrder)
{
    QTemporaryDir dir;
    put(dir.filePath("b.img"), "bbbb");
    put(dir.filePath("a.img"), "a");
    const PackageResult r = writePackage(dir.path(), "HS_FW_1.0.4", {{"system", "b.img"}, {"boot", "a.img"}});
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const QByteArray md5b = QCryptographicHash::hash("bbbb", QCryptographicHash::Md5).toHex();
    const QByteArray md5a = QCryptographicHash::hash("a", QCryptographicHash::Md5).toHex();
    EXPECT_EQ(read(dir.filePath("version")),
              "HS_FW_1.0.4\nsystem,b.img,4," + md5b + "\nboot,a.img,1," + md5a + "\n");

    // Without a list: every file of the folder, by name, partition named after the file.
    const QList<PackageImage> found = imagesInFolder(dir.path());
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].partition, QStringLiteral("a"));
    EXPECT_EQ(found[1].file, QStringLiteral("b.img"));
}

TEST(Package, RefusesWhatTheVersionFileCannotCarry)
{
    QTemporaryDir dir;
    put(dir.filePath("a.img"), "a");
    EXPECT_FALSE(writePackage(dir.path(), "", {{"boot", "a.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1\n2", {{"boot", "a.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1", {{"bo,ot", "a.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1", {{QString(32, 'p'), "a.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1", {{"boot", "missing.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1", {}).ok);
    // Only plain file names of the folder, even when the file is there.
    put(dir.filePath("../o.img"), "o");
    EXPECT_FALSE(writePackage(dir.path(), "1", {{"boot", "../o.img"}}).ok);
    EXPECT_FALSE(writePackage(dir.path(), "1", {{"boot", dir.filePath("a.img")}}).ok);
    QFile::remove(dir.filePath("../o.img"));
    // A FIFO for an image: refused at once, not read for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.img")).constData(), 0644), 0);
    const PackageResult fifo = writePackage(dir.path(), "1", {{"boot", "fifo.img"}});
    EXPECT_TRUE(fifo.error.contains("is not a regular file (a FIFO)")) << fifo.error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("version")));
}

TEST(Package, CommandCopiesOutsideImagesIn)
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    put(elsewhere.filePath("modem.bin"), "modem");
    QProcess p;
    p.start(QStringLiteral(HOTSPOT_PACKAGE_EXE),
            {"create", dir.path(), "--version", "HS_FW_2.0", "--image", "modem=" + elsewhere.filePath("modem.bin")});
    p.waitForFinished(-1);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(read(dir.filePath("version")).startsWith("HS_FW_2.0\nmodem,modem.bin,5,"));
    EXPECT_EQ(read(dir.filePath("modem.bin")), QByteArray("modem"));

    p.start(QStringLiteral(HOTSPOT_PACKAGE_EXE), {"create", dir.path()});
    p.waitForFinished(-1);
    EXPECT_EQ(p.exitCode(), 2); // no --version
}

} // namespace

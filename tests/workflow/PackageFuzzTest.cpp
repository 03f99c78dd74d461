// Random and truncated version files through the reader: it must never crash, read out of
// bounds (run under ASan) or produce an unterminated field.

#include "workflow/PackageReader.h"

#include <QStringEncoder>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace {

void expectSound(const QByteArray& bytes) {
    const std::optional<QString> text = package::decodeText(bytes);
    if (!text)
        return;
    const QStringList pieces = package::cutPieces(*text);
    ASSERT_GE(pieces.size(), 1);
    const std::vector<ImageEntry> entries = package::readImageLines(pieces);
    ASSERT_LE(entries.size(), static_cast<std::size_t>(kImageTableMaxFilled));
    for (const ImageEntry& e : entries) {
        ASSERT_LT(strnlen(e.name, sizeof e.name), sizeof e.name);
        ASSERT_LT(strnlen(e.file, sizeof e.file), sizeof e.file);
        ASSERT_LT(strnlen(e.md5, sizeof e.md5), sizeof e.md5);
    }
}

QByteArray validPackage(std::mt19937& rng) {
    static const char* const parts[] = {"FW_V1.2", ",", "\n", "\r\n", "#", "0x200", "010", " ",
                                        "boot", "img", "d41d8cd98f00b204e9800998ecf8427e", "\xC3\xA9"};
    QByteArray out;
    const int n = std::uniform_int_distribution<int>(0, 200)(rng);
    for (int i = 0; i < n; ++i)
        out += parts[std::uniform_int_distribution<int>(0, std::size(parts) - 1)(rng)];
    return out;
}

TEST(PackageFuzz, RandomBytes) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes(std::uniform_int_distribution<int>(0, 600)(rng), Qt::Uninitialized);
        for (char& c : bytes)
            c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        expectSound(bytes);
    }
}

TEST(PackageFuzz, TruncatedAndMutatedPackages) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        QByteArray bytes = validPackage(rng);
        switch (i % 4) {
        case 0: bytes.truncate(std::uniform_int_distribution<int>(0, bytes.size())(rng)); break;
        case 1:
            if (!bytes.isEmpty())
                bytes[std::uniform_int_distribution<int>(0, bytes.size() - 1)(rng)] =
                    static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            break;
        case 2: {
            // UTF-16 with its BOM, then cut at any byte (odd cuts leave half a code unit).
            QStringEncoder enc(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
            bytes = enc.encode(QString::fromUtf8(bytes));
            bytes.truncate(std::uniform_int_distribution<int>(0, bytes.size())(rng));
            break;
        }
        default: break;
        }
        expectSound(bytes);
    }
}

TEST(PackageFuzz, ManyLongLines) {
    QByteArray bytes = "v\n";
    for (int i = 0; i < 100; ++i)
        bytes += QByteArray(2000, 'a') + ',' + QByteArray(5000, 'b') + ",99999999999999999999999," +
                 QByteArray(300, 'c') + "\n";
    expectSound(bytes);
    const auto entries = package::readImageLines(package::cutPieces(QString::fromUtf8(bytes)));
    ASSERT_EQ(entries.size(), 32u);
    EXPECT_EQ(entries[0].size, LONG_MAX); // strtol saturates
}

} // namespace

#include "workflow/VersionCompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Case {
    const char* a;
    const char* b;
    int expected; // sign of compare(a, b)
};

int sign(int v) { return (v > 0) - (v < 0); }

class VersionCompareTable : public ::testing::TestWithParam<Case> {};

TEST_P(VersionCompareTable, OrdersBothWays) {
    const Case& c = GetParam();
    EXPECT_EQ(sign(version::compare(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(version::compare(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
}

INSTANTIATE_TEST_SUITE_P(
    Numeric, VersionCompareTable,
    ::testing::Values(Case{"10", "9", 1}, Case{"V1.10", "V1.9", 1}, Case{"1.0.10", "1.0.4", 1},
                      Case{"2", "10", -1}, Case{"V2.0", "V10.0", -1},
                      // Leading zeros do not count, but plain byte order breaks the tie.
                      Case{"09", "9", -1}, Case{"1.09", "1.9", -1}, Case{"010", "9", 1},
                      Case{"0", "00", -1}, Case{"00", "000", -1}));

// Versions of the same shape compare exactly as plain bytes do.
INSTANTIATE_TEST_SUITE_P(
    SameShape, VersionCompareTable,
    ::testing::Values(Case{"1.0.3", "1.0.4", -1}, Case{"V1.2", "V1.2", 0}, Case{"", "", 0},
                      Case{"A", "B", -1}, Case{"V1.2a", "V1.2b", -1}, Case{"1.0", "1.0.1", -1},
                      Case{"", "1", -1}, Case{"beta", "alpha", 1}));

// Bytes above 0x7F are larger than ASCII (unsigned), digits against letters by byte value.
INSTANTIATE_TEST_SUITE_P(
    Bytes, VersionCompareTable,
    ::testing::Values(Case{"V\xC3\xA9", "Vz", 1}, Case{"1a", "12", -1}, Case{"a1", "1a", 1},
                      Case{"1.0", "1", 1}, Case{"1.0", "1a", -1}));

TEST(VersionCompare, DigitRunsLongerThanAnyIntegerCompareByValue) {
    const std::string big(200, '9');
    const std::string bigger = "1" + std::string(200, '0');
    EXPECT_LT(version::compare(big.c_str(), bigger.c_str()), 0);
    const std::string padded = std::string(100, '0') + "5";
    EXPECT_GT(version::compare("6", padded.c_str()), 0);
}

TEST(VersionCompare, LooksAtNoMoreThan256Bytes) {
    // Unterminated buffers: only the first 256 bytes may be read (ASan checks the bound).
    char a[256];
    char b[256];
    std::memset(a, '7', sizeof a);
    std::memset(b, '7', sizeof b);
    EXPECT_EQ(version::compare(a, b), 0);
    b[255] = '8';
    EXPECT_LT(version::compare(a, b), 0);
    std::memset(a, 'x', sizeof a);
    std::memset(b, 'x', sizeof b);
    a[255] = 'y';
    EXPECT_GT(version::compare(a, b), 0);
}

} // namespace

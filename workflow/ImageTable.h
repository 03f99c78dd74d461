#pragma once
// One entry of the package's image table, filled from the `version` file.

#include <cstdint>

constexpr int kImageTableSize = 33; // at most 32 filled; the entry after the last is all zero
constexpr int kImageTableMaxFilled = 32;

struct ImageEntry {
    char name[32];   // partition name
    char file[1024]; // image file, relative to the bundle's resources
    char md5[64];    // expected digest as hex text, either case
    int64_t size;    // expected size in bytes
    bool verified;   // the package check found the file with this size and digest
};

// The update writes exactly the entries the package check verified, in table order; an
// empty image is verified but has nothing to write.
inline bool shouldWrite(const ImageEntry& entry) { return entry.verified && entry.size > 0; }

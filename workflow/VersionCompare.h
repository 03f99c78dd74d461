#pragma once
// Ordering of firmware version texts. Runs of ASCII digits compare by their numeric value,
// so "10" is newer than "9" and "V1.10" newer than "V1.9"; all other bytes compare as
// unsigned bytes. Texts that are equal this way ("09" and "9") fall back to plain byte order.

#include <QString>
#include <cstddef>

namespace version {

// The version buffers' bound: texts are compared over at most this many bytes.
constexpr std::size_t kCompareLimit = 256;

// Negative, zero or positive as `a` is older than, equal to or newer than `b`.
// Both are NUL-terminated or at least kCompareLimit bytes long.
int compare(const char* a, const char* b);
int compare(const QString& a, const QString& b);

// A version as it is kept: at most 255 bytes of UTF-8 (whole characters), and nothing from a
// NUL on.
QString bounded(const QString& text);

// The version a package's version line gives, as the check keeps and compares it.
QString ofPackage(const QString& versionLine);

} // namespace version

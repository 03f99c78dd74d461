#include "workflow/VersionCompare.h"
#include "bridge/OutputText.h"

#include <algorithm>

#include <cstring>

namespace version {

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int sign(int v) { return (v > 0) - (v < 0); }

// Compares the digit runs a[ia..ea) and b[ib..eb) by value, whatever their length.
int compareNumbers(const unsigned char* a, std::size_t ia, std::size_t ea,
                   const unsigned char* b, std::size_t ib, std::size_t eb) {
    while (ia < ea && a[ia] == '0')
        ++ia;
    while (ib < eb && b[ib] == '0')
        ++ib;
    const std::size_t la = ea - ia;
    const std::size_t lb = eb - ib;
    if (la != lb)
        return la < lb ? -1 : 1;
    return la == 0 ? 0 : sign(std::memcmp(a + ia, b + ib, la));
}

std::size_t runEnd(const unsigned char* s, std::size_t i, std::size_t len) {
    while (i < len && isDigit(s[i]))
        ++i;
    return i;
}

} // namespace

int compare(const char* a, const char* b) {
    const auto* ua = reinterpret_cast<const unsigned char*>(a);
    const auto* ub = reinterpret_cast<const unsigned char*>(b);
    const std::size_t la = strnlen(a, kCompareLimit);
    const std::size_t lb = strnlen(b, kCompareLimit);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < la && j < lb) {
        if (isDigit(ua[i]) && isDigit(ub[j])) {
            const std::size_t ei = runEnd(ua, i, la);
            const std::size_t ej = runEnd(ub, j, lb);
            if (const int c = compareNumbers(ua, i, ei, ub, j, ej))
                return c;
            i = ei;
            j = ej;
            continue;
        }
        if (ua[i] != ub[j])
            return ua[i] < ub[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < la || j < lb)
        return i < la ? 1 : -1; // the one with text left over is newer
    // Equal by value: the plain byte order decides ("09" before "9").
    const std::size_t n = la < lb ? la : lb;
    if (const int c = sign(std::memcmp(a, b, n)))
        return c;
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

int compare(const QString& a, const QString& b) {
    return compare(bounded(a).toUtf8().constData(), bounded(b).toUtf8().constData());
}

QString bounded(const QString& text) {
    constexpr qsizetype kMaxBytes = 255;
    const QByteArray utf8 = text.toUtf8();
    qsizetype n = qstrnlen(utf8.constData(), std::min(utf8.size(), kMaxBytes));
    // Never half a character: one cut at the bound would read back as a replacement mark.
    while (n > 0 && n < utf8.size() && (uchar(utf8[n]) & 0xC0) == 0x80)
        --n;
    return QString::fromUtf8(utf8.constData(), n);
}

QString ofPackage(const QString& versionLine) { return bounded(output::parseVersionNumber(versionLine)); }

} // namespace version

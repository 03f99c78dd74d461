#pragma once
// Where adb's per-user vendor list lives. Paths are cut to what a 1024-byte buffer holds.

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <optional>

namespace hostprep {

constexpr int kAdbVendorId = 0x11F6;
inline constexpr char kVendorListName[] = "adb_usb.ini";

// "<home>/.android", home being "/tmp" when unset.
QByteArray vendorListFolder(const std::optional<QString>& home);
// "<home>/.android/adb_usb.ini".
QByteArray vendorListPath(const std::optional<QString>& home);

enum class ListState { HasEntry, LacksEntry, Invalid };

struct ListScan {
    ListState state;
    bool endsMidLine; // the last piece read had no line end
};

// Reads the list from its start, 1027 characters at a time; each piece is judged as a line.
ListScan scanVendorList(std::FILE* file);

} // namespace hostprep

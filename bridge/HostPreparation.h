#pragma once
// Where adb's per-user vendor list lives. A path longer than a 1024-byte buffer holds is
// refused, never cut.

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <optional>

namespace hostprep {

constexpr int kAdbVendorId = 0x11F6;
inline constexpr char kVendorListName[] = "adb_usb.ini";
// The program's exit status when the list cannot be used (invalid content, a link in the way).
constexpr int kRefusedListStatus = 2;

// "<home>/.android", home being the shared `tmp` folder when unset; nullopt when too long.
std::optional<QByteArray> vendorListFolder(const std::optional<QString>& home, const QString& tmp);

enum class ListState { HasEntry, LacksEntry, Invalid };

struct ListScan {
    ListState state;
    bool endsMidLine; // the last piece read had no line end
};

// Reads the list from its start, 1027 characters at a time; each piece is judged as a line.
ListScan scanVendorList(std::FILE* file);

} // namespace hostprep

#pragma once
// Where adb's per-user vendor list lives. Paths are cut to what a 1024-byte buffer holds.

#include <QByteArray>
#include <QString>
#include <optional>

namespace hostprep {

constexpr int kAdbVendorId = 0x11F6;
inline constexpr char kVendorListName[] = "adb_usb.ini";

// "<home>/.android", home being "/tmp" when unset.
QByteArray vendorListFolder(const std::optional<QString>& home);
// "<home>/.android/adb_usb.ini".
QByteArray vendorListPath(const std::optional<QString>& home);

} // namespace hostprep

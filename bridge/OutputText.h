#pragma once
// How tool output is read: plain, case-sensitive substring searches and the integer
// reading of a short reply.

#include "bridge/ToolRunner.h"

#include <QString>
#include <QStringView>
#include <cstdint>

namespace output {

// The output is present and contains `text`.
bool mentions(const ToolResult& result, const QString& text);

// The output is present and contains "error": the run failed.
bool reportsError(const ToolResult& result);

// Leading white space skipped, an optional sign and decimal digits read up to the first
// other character; no number reads as 0, and values are clamped to the int32 range.
int32_t readInt(QStringView text);

// The state `adb devices` gives the serial ("device", "offline", "unauthorized",
// "no permissions (...)", ...), or empty when no line lists it. Lines are "SERIAL<tab>STATE".
QString adbDeviceState(const ToolResult& listing, const QString& serial);

// The line of a long device list ("devices -l") that names the device at `port` ("usb:1-2.3"
// among its words); empty when none does, nullopt when the list is.
ToolResult lineAtPort(const ToolResult& longListing, const QString& port);

// The ports a long device list names ("usb:1-2.3" words), in its order.
QStringList portsListed(const ToolResult& longListing);

// As adbDeviceState, from the line of a long list that names the device at `port`:
// "SERIAL<spaces>STATE usb:PORT product:...".
QString adbDeviceStateAt(const ToolResult& longListing, const QString& serial, const QString& port);

// A device list (of adb or fastboot) names a device the host does not let us open.
bool listsNoPermission(const ToolResult& listing);

// A firmware-version reply carries "OK " somewhere, in any letter case.
bool hasVersionReply(const QString& reply);

// The version in a text such as "PREFIX_1.0.4": white space trimmed, the part after the last '_'.
QString parseVersionNumber(const QString& text);

// The version in a reply: its first three characters (the "OK ") dropped and the rest cut by
// parseVersionNumber; empty when nothing follows them.
QString versionFromReply(const QString& reply);

} // namespace output

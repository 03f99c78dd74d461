#pragma once
// The device firmware's shell: the commands the updater sends through "adb shell", answered
// from the device model. Shared by the stand-in adb and the emulated hotspot's adb function.

#include "core/Device.h"

#include <QByteArray>
#include <QString>

namespace sim {

// Runs one command line on the device; appends what it prints to `out` and returns the
// shell's exit status.
int deviceShell(Device& device, const QString& line, QByteArray& out);

} // namespace sim

#pragma once
// The host copies of device data sit at fixed names in a shared temporary folder. They are
// only ever written by moving a privately pulled file onto the name, and only used when
// they are plain files of ours: never through a link another user planted.

#include <QString>

namespace hostcopy {

enum class State {
    Missing, // nothing at the path
    Ours,    // a regular file owned by us (not a link)
    Foreign, // a link, a folder, a device, or someone else's file
};

State inspect(const QString& path);

// Makes the regular file `pulled` private (0600) and renames it onto `fixed`, which
// replaces a link at `fixed` instead of following it. False when `pulled` is not a
// regular file or the move fails.
bool install(const QString& pulled, const QString& fixed);

} // namespace hostcopy

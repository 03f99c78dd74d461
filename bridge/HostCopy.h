#pragma once
// Host copies of device data may sit at fixed names in the shared temporary folder, left by
// an earlier run. They are only ever touched when they are plain files of ours: never
// through a link another user planted.

#include <QString>

namespace hostcopy {

enum class State {
    Missing, // nothing at the path
    Ours,    // a regular file owned by us (not a link)
    Foreign, // a link, a folder, a device, or someone else's file
};

State inspect(const QString& path);

} // namespace hostcopy

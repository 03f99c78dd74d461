#pragma once
// This user's state folder for the updater: $XDG_STATE_HOME/hotspot-updater, default
// ~/.local/state/hotspot-updater. The run logs and the update journals live below it.

#include <QDir>
#include <QString>

inline QString stateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG_STATE_HOME counts only when absolute; anything else falls back to the default.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/hotspot-updater");
}

#pragma once
// This user's folders for the updater, defined here once:
//   state: $XDG_STATE_HOME/hotspot-updater (default ~/.local/state/hotspot-updater): the run
//          logs, the update journals and the local record of attempts;
//   configuration: $XDG_CONFIG_HOME/hotspot-updater (default ~/.config/hotspot-updater).
// An XDG variable counts only when it holds an absolute path, as the XDG rules say.

#include <QDir>
#include <QString>

// From the given XDG variable's value and the home folder; empty when neither is usable.
inline QString userFolderOf(const QString& xdgValue, const QString& home, const QString& homeRelative) {
    QString base = xdgValue;
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = home.isEmpty() ? QString() : home + u'/' + homeRelative;
    return base.isEmpty() ? QString() : base + QStringLiteral("/hotspot-updater");
}

inline QString stateFolderOf(const QString& stateHome, const QString& home) {
    return userFolderOf(stateHome, home, QStringLiteral(".local/state"));
}

inline QString stateFolder() {
    return stateFolderOf(qEnvironmentVariable("XDG_STATE_HOME"), QDir::homePath());
}

inline QString configFolder() {
    return userFolderOf(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath(), QStringLiteral(".config"));
}

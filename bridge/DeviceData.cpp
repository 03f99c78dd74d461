#include "app/AppDelegate.h"
#include "bridge/Contract.h"
#include "bridge/HostCopy.h"
#include "bridge/OutputText.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

using hostcopy::State;

// A folder of our own (0700) beside the fixed names; adb pulls into it, so nothing is
// ever written through a path another user can reach. Removed with its content.
QTemporaryDir privatePullDir(const QString& hostTmp) {
    return QTemporaryDir(hostTmp + QStringLiteral("/hotspot-pull-XXXXXX"));
}

QString pullTarget(const QTemporaryDir& dir, const QString& fixed) {
    return dir.filePath(QFileInfo(fixed).fileName());
}

void removeHostCopy(const QString& path) {
    ::unlink(QFile::encodeName(path).constData());
}

} // namespace

bool AppDelegate::backAdbData() {
    if (detectAdb() != 1)
        return false;
    const QString wifiCopy = wifiBackupPath();
    const QString configCopy = configBackupPath();
    if (hostcopy::inspect(wifiCopy) == State::Foreign || hostcopy::inspect(configCopy) == State::Foreign)
        return false;
    QTemporaryDir dir = privatePullDir(m_env.hostTmp);
    if (!dir.isValid())
        return false;

    ToolResult result;
    const QString wifiPulled = pullTarget(dir, wifiCopy);
    adbCommand(contract::adbPull(contract::kWifiBoardData, wifiPulled), &result);
    if (output::reportsError(result) || !hostcopy::install(wifiPulled, wifiCopy))
        return false;

    // The configuration pull's output is not judged: a failed pull leaves the earlier copy.
    const QString configPulled = pullTarget(dir, configCopy);
    adbCommand(contract::adbPull(contract::kConfigDb, configPulled), &result);
    if (QFileInfo::exists(configPulled) && !hostcopy::install(configPulled, configCopy))
        return false;
    return true;
}

// Always NO, as callers expect; the host copies tell what happened.
bool AppDelegate::restoreAdbData() {
    const QString wifiCopy = wifiBackupPath();
    const QString configCopy = configBackupPath();
    if (hostcopy::inspect(wifiCopy) != State::Ours)
        return false;
    if (detectAdb() != 1)
        return false;

    ToolResult result;
    adbCommand(contract::adbPush(wifiCopy, contract::kWifiBoardData), &result);
    if (output::reportsError(result))
        return false;
    removeHostCopy(wifiCopy);

    // Never push someone else's file; a missing copy is pushed all the same (adb reports it).
    if (hostcopy::inspect(configCopy) == State::Foreign)
        return false;
    result.reset();
    adbCommand(contract::adbPush(configCopy, contract::kConfigDbRestored), &result);
    // Keep the user's settings on the host until a push of them went through.
    if (!output::reportsError(result))
        removeHostCopy(configCopy);
    return false;
}

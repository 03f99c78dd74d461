#include "workflow/FoundCopy.h"

#include "bridge/Contract.h"

#include <algorithm>

namespace {

bool isOwnAndBack(const BackupFile& file, const BackupManifest& own) {
    return std::any_of(own.files.cbegin(), own.files.cend(), [&file](const BackupFile& copy) {
        return copy.restored && copy.devicePath == file.devicePath && !copy.sha256.isEmpty() && copy.sha256 == file.sha256;
    });
}

} // namespace

bool foundCopyUnneeded(const BackupManifest& found, const BackupManifest& own, const std::optional<QString>& fresh) {
    // A file that could not be copied may have held anything.
    for (const QJsonValue& why : found.notSaved)
        if (why.toString() != QLatin1String("absent on the device"))
            return false;
    return std::all_of(found.files.cbegin(), found.files.cend(), [&](const BackupFile& file) {
        const bool leftByWriting = file.devicePath == contract::kWifiBoardData && fresh && *fresh == file.sha256;
        return leftByWriting || isOwnAndBack(file, own);
    });
}

// The package's `version` file: decoding, cutting into pieces, the version line and the
// image table, as the start-up check reads them.

#include "FuzzInput.h"
#include "bridge/OutputText.h"
#include "workflow/PackageReader.h"
#include "workflow/VersionCompare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::optional<QString> text = package::decodeText(fuzzing::bytes(data, size));
    if (!text)
        return 0;
    const QStringList pieces = package::cutPieces(*text);
    if (pieces.size() < package::kMinPieces)
        return 0;
    const QString kept = version::bounded(output::parseVersionNumber(pieces.front()));
    fuzzing::require(kept.toUtf8().size() <= 255 && !kept.contains(QChar(u'\0')));
    const std::vector<ImageEntry> entries = package::readImageLines(pieces);
    fuzzing::require(entries.size() <= static_cast<std::size_t>(kImageTableMaxFilled));
    for (const ImageEntry& e : entries)
        fuzzing::require(e.name[sizeof e.name - 1] == '\0' && e.file[sizeof e.file - 1] == '\0' &&
                         e.md5[sizeof e.md5 - 1] == '\0');
    return 0;
}

// A signed package's manifest and signature file: only the one form the signing tool writes
// reads back, and what reads back writes the same bytes again.

#include "FuzzInput.h"
#include "workflow/Manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray input = fuzzing::bytes(data, size);
    if (const std::optional<package::Manifest> manifest = package::parseManifest(input)) {
        fuzzing::require(package::formatManifest(*manifest) == input);
        for (const package::ManifestImage& image : manifest->images)
            fuzzing::require(!image.file.isEmpty() && image.size >= 0 && image.sha256.size() == 64 &&
                             manifest->find(image.file) == &image);
    }
    if (const std::optional<package::SignatureFile> signature = package::parseSignature(input))
        fuzzing::require(package::formatSignature(*signature) == input && signature->signature.size() == 64);
    return 0;
}

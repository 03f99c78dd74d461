// The device's answer to the firmware-version command, parseVersionNumber, and the
// comparison with the package's version, as the detection loop runs them.

#include "FuzzInput.h"
#include "bridge/OutputText.h"
#include "workflow/VersionCompare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ToolResult answer = fuzzing::toolOutput(data, size);
    if (!answer || !output::hasVersionReply(*answer))
        return 0;
    const QString device = version::bounded(output::versionFromReply(*answer));
    fuzzing::require(device.toUtf8().size() <= 255);
    const QString package = QStringLiteral("1.0.4");
    const int forward = version::compare(package, device);
    const int backward = version::compare(device, package);
    fuzzing::require((forward > 0) == (backward < 0));
    fuzzing::require(version::compare(device, device) == 0);
    return 0;
}

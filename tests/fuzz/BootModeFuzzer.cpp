// The boot-mode file and the MPP5 reading, as the boot-mode probe reads them: a number
// after white space, the MPP5 reading after its prefix.

#include "FuzzInput.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ToolResult result = fuzzing::toolOutput(data, size);
    if (!result || output::reportsError(result))
        return 0;
    const int32_t mode = output::readInt(*result);
    const QStringView reading =
        QStringView(*result).mid(qMin(result->size(), contract::kMpp5Prefix.size()));
    const int32_t mpp5 = output::readInt(reading);
    // What a digit string says is what is read, up to the int32 range.
    bool ok = false;
    const qlonglong plain = result->toLongLong(&ok);
    if (ok && plain >= INT32_MIN && plain <= INT32_MAX && !result->startsWith(u'+'))
        fuzzing::require(mode == plain);
    (void)mpp5;
    return 0;
}

// `adb devices` and `fastboot devices` output, and the error test every adb run goes
// through, as the probes read them.

#include "FuzzInput.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ToolResult result = fuzzing::toolOutput(data, size);
    const bool adbSees = output::mentions(result, contract::kAdbDeviceSerial);
    const bool fastbootSees = output::mentions(result, contract::kFastbootDeviceMark);
    const bool failed = output::reportsError(result);
    // Not text: nothing is found in it.
    fuzzing::require(result || (!adbSees && !fastbootSees && !failed));
    return 0;
}

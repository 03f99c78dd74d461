// adb's per-user vendor list, read line by line as the host preparation judges it.

#include "FuzzInput.h"
#include "bridge/HostPreparation.h"

#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // fmemopen needs a buffer of at least one byte.
    std::vector<char> buffer(data, data + size);
    buffer.push_back('\0');
    std::FILE* file = fmemopen(buffer.data(), size == 0 ? 1 : size, "r");
    if (!file)
        return 0;
    const hostprep::ListScan scan = hostprep::scanVendorList(file);
    std::fclose(file);
    fuzzing::require(scan.state == hostprep::ListState::HasEntry || scan.state == hostprep::ListState::LacksEntry ||
                     scan.state == hostprep::ListState::Invalid);
    return 0;
}

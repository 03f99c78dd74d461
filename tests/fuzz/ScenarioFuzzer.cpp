// The simulator's scenario files: parsed, laid on the defaults and powered on, then the
// device is probed and restarted as a test run would.

#include "FuzzInput.h"
#include "SimControl.h"
#include "core/Device.h"
#include "core/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(fuzzing::bytes(data, size));
    // Only scenario text: a name or a path would read files, and "base" may name host files
    // that block (/proc, /dev), which is no part of the format.
    if (!text.trimmed().startsWith(u'{') || text.contains(QLatin1String("/proc")) ||
        text.contains(QLatin1String("/dev")) || text.contains(QLatin1String("/sys")))
        return 0;
    const QJsonObject over = SimControl::readScenario(text);
    if (over.isEmpty())
        return 0;
    QJsonObject state = sim::initialState(sim::mergeSettings(sim::defaultSettings(), over));
    sim::Device device(state);
    for (int i = 0; i < 4; ++i) {
        device.settle(true);
        (void)device.identities();
        (void)device.personality();
    }
    device.restart(false);
    device.settle(true);
    device.setPlugged(false);
    device.setPlugged(true);
    return 0;
}

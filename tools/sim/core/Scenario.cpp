#include "core/Scenario.h"

#include "core/Device.h"
#include "core/Units.h"

#include <QJsonArray>

namespace sim {

QJsonObject defaultSettings()
{
    return QJsonObject{
        {"name", "default"},
        {"personality", "ftm"},
        {"plugged", true},
        {"firmware_version", "1.0.3"},
        {"updated_version", "1.0.4"},
        {"version_prefix", "HS_FW_"},
        {"partitions", QJsonArray{}},
        {"data_partitions", QJsonArray{"system"}},
        {"boot_mode", 0},
        {"boot_mode_after_restart", 0},
        {"mpp5", 100},
        {"restart_delay", QJsonObject{{"probes", 2}}},
        {"reenum_delay", QJsonObject{{"probes", 1}}},
        {"bootloader_identity", ""},
        {"fastboot_wait", -1},
        {"kernel_driver", "usb-storage"},
        {"node_access", "rw"},
        {"adb_state", "device"},
        {"linger", 0},
        {"bus_mbps", 0},
        {"flash_mbps", 0},
        {"serial", "0123456789ABCDEF"},
        {"fastboot_serial", "MDM9615"},
        {"files", QJsonObject{}},
        {"faults", QJsonObject{}},
    };
}

QJsonObject mergeSettings(const QJsonObject& base, const QJsonObject& over)
{
    QJsonObject out = base;
    for (auto it = over.begin(); it != over.end(); ++it) {
        if ((it.key() == QLatin1String("faults") || it.key() == QLatin1String("files"))
            && it.value().isObject()) {
            QJsonObject merged = out.value(it.key()).toObject();
            const QJsonObject add = it.value().toObject();
            for (auto f = add.begin(); f != add.end(); ++f) {
                // null clears a fault; a file's null stays, so the device starts without it
                if (f.value().isNull() && it.key() == QLatin1String("faults"))
                    merged.remove(f.key());
                else
                    merged.insert(f.key(), f.value());
            }
            out.insert(it.key(), merged);
        } else {
            out.insert(it.key(), it.value());
        }
    }
    return out;
}

QJsonObject initialState(const QJsonObject& settings)
{
    if (settings.value(QLatin1String("units")).isArray() && unitsError(settings).isEmpty())
        return hubState(settings);
    return QJsonObject{{"scenario", settings}, {"device", Device::powerOn(settings)}};
}

namespace {

// Longer than any run; beyond it a deadline in milliseconds would not fit its integer.
constexpr double kMaxDelaySeconds = 1e7;

double delaySeconds(double seconds)
{
    return qBound(0.0, seconds, kMaxDelaySeconds); // NaN gives 0
}

} // namespace

Delay parseDelay(const QJsonValue& value)
{
    Delay d;
    if (value.isDouble()) {
        d.seconds = delaySeconds(value.toDouble());
    } else if (value.isObject()) {
        const QJsonObject o = value.toObject();
        if (o.contains(QLatin1String("probes")))
            d.probes = qMax(0, o.value(QLatin1String("probes")).toInt());
        else
            d.seconds = delaySeconds(o.value(QLatin1String("seconds")).toDouble());
    } else {
        d.probes = 0;
    }
    return d;
}

} // namespace sim

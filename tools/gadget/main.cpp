// hotspot-gadget: the emulated hotspot on a Linux USB gadget controller. Its device model is
// the simulated hotspot's (the state folder in $HOTSPOT_SIM_DIR, changed with hotspot-sim);
// this program shows it on the bus: it follows the model's personality, leaving and
// re-entering the bus as the unit does, and serves its functions.

#include "AdbFunction.h"
#include "Composite.h"
#include "FastbootFunction.h"
#include "FunctionFs.h"
#include "MassStorageFunction.h"
#include "Model.h"

#include "core/Device.h"
#include "core/StateStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <cstdio>
#include <thread>

namespace {

const QString kStorage = QStringLiteral("ms");
const QString kAdb = QStringLiteral("adb");
const QString kFastboot = QStringLiteral("fastboot");
// A boot loader without an identity of its own in the scenario still needs one on a real bus.
const QString kDefaultBootloaderIdentity = QStringLiteral("18d1:d00d");

gadget::BusShape shapeOf(const sim::Device& device)
{
    gadget::BusShape shape;
    const QString p = device.personality();
    if (!device.plugged() || p == QLatin1String(sim::personality::kRestarting))
        return shape;
    const QJsonObject& s = device.settings();
    shape.generation = device.generation();
    shape.serial = s.value(QLatin1String("serial")).toString();
    const QStringList ids = device.identities();
    if (p == QLatin1String(sim::personality::kBootloader)) {
        shape.identity = ids.isEmpty() ? kDefaultBootloaderIdentity : ids.first();
        shape.serial = s.value(QLatin1String("fastboot_serial")).toString();
        shape.functions = {kFastboot};
        return shape;
    }
    shape.identity = ids.value(0);
    if (p == QLatin1String(sim::personality::kUsr) || p == QLatin1String(sim::personality::kUsrAdb))
        shape.functions << kStorage;
    if (device.adbReaches())
        shape.functions << kAdb;
    return shape;
}

void say(const QString& text)
{
    std::fprintf(stderr, "[gadget] %s %s\n", qPrintable(QDateTime::currentDateTimeUtc().toString(QStringLiteral("hh:mm:ss.zzz"))),
                 qPrintable(text));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = sim::envStateDir();
    if (dir.isEmpty()) {
        std::fputs("hotspot-gadget: HOTSPOT_SIM_DIR is not set\n", stderr);
        return 1;
    }
    const QString mounts = app.arguments().value(1, QStringLiteral("/run/hotspot-gadget"));
    const gadget::Model model(dir);

    gadget::Composite composite;
    if (!composite.create({kStorage, kAdb, kFastboot}))
        return 1;
    gadget::FfsFunction storageFn(kStorage.toStdString(), {0x08, 0x06, 0x50}, "Mass Storage");
    gadget::FfsFunction adbFn(kAdb.toStdString(), {0xFF, 0x42, 0x01}, "ADB Interface");
    gadget::FfsFunction fastbootFn(kFastboot.toStdString(), {0xFF, 0x42, 0x03}, "fastboot");
    gadget::MassStorageFunction storage(storageFn, model);
    gadget::AdbFunction adb(adbFn, model);
    gadget::FastbootFunction fastboot(fastbootFn, model);
    for (gadget::FfsFunction* fn : {&storageFn, &adbFn, &fastbootFn}) {
        if (!fn->start((mounts + QLatin1Char('/')).toStdString() + fn->instance()))
            return 1;
    }
    std::thread([&] { storage.serve(); }).detach();
    std::thread([&] { adb.serve(); }).detach();
    std::thread([&] { fastboot.serve(); }).detach();
    say(QStringLiteral("ready"));

    gadget::BusShape shown;
    for (;;) {
        const gadget::BusShape wanted = model.with([](sim::Device& device, sim::Transaction&) { return shapeOf(device); });
        if (!(wanted == shown)) {
            if (!shown.identity.isEmpty()) {
                say(QStringLiteral("leaves the bus"));
                composite.unbind();
            }
            if (!wanted.identity.isEmpty()) {
                say(QStringLiteral("enumerates as ") + wanted.describe());
                if (!composite.bind(wanted))
                    say(QStringLiteral("bind failed"));
            }
            shown = wanted;
        }
        QThread::msleep(50);
    }
}

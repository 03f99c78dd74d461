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
#include "core/UsbLayout.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <cstdio>
#include <thread>

namespace {

void say(const QString& text)
{
    std::fprintf(stderr, "[gadget] %s %s\n", qPrintable(QDateTime::currentDateTimeUtc().toString(QStringLiteral("hh:mm:ss.zzz"))),
                 qPrintable(text));
}

gadget::InterfaceClass classOf(sim::UsbFunction function)
{
    const sim::UsbInterface i = sim::usbInterface(function);
    return {i.cls, i.subclass, i.protocol};
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
    if (!composite.create(gadget::allFunctions()))
        return 1;
    gadget::FfsFunction storageFn(gadget::kStorage.toStdString(), classOf(sim::UsbFunction::Storage), "Mass Storage");
    gadget::FfsFunction adbFn(gadget::kAdb.toStdString(), classOf(sim::UsbFunction::Adb), "ADB Interface");
    gadget::FfsFunction fastbootFn(gadget::kFastboot.toStdString(), classOf(sim::UsbFunction::Fastboot), "fastboot");
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
        const gadget::BusShape wanted = model.with([](sim::Device& device, sim::Transaction&) { return gadget::shapeOf(device); });
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

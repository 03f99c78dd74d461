// hotspot-gadget: the emulated hotspot on a Linux USB gadget controller. Its device model is
// the simulated hotspot's (the state folder in $HOTSPOT_SIM_DIR, changed with hotspot-sim);
// this program shows it on the bus: it follows the model's personality, leaving and
// re-entering the bus as the unit does, and serves its functions. With --unit N it shows
// the model's Nth unit of a hub (from 0), so one process per unit puts the hub in the guest.
//
//   hotspot-gadget [--unit N] [MOUNTS]   (MOUNTS: where FunctionFS is mounted, /run/hotspot-gadget)

#include "AdbFunction.h"
#include "Composite.h"
#include "FastbootFunction.h"
#include "FunctionFs.h"
#include "MassStorageFunction.h"
#include "Model.h"

#include "core/Device.h"
#include "core/StateStore.h"
#include "core/UsbLayout.h"

#include "core/Units.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <cstdio>
#include <thread>

namespace {

void say(const gadget::Slot& slot, const QString& text)
{
    std::fprintf(stderr, "[gadget %d] %s %s\n", slot.index, qPrintable(QDateTime::currentDateTimeUtc().toString(QStringLiteral("hh:mm:ss.zzz"))),
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
    QCommandLineParser parser;
    const QCommandLineOption unitOption(QStringLiteral("unit"), QStringLiteral("The hub's unit to show (from 0)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(unitOption);
    const QCommandLineOption serialsOption(QStringLiteral("serial-ports"),
                                           QStringLiteral("The serial ports each shape shows at most (3)."),
                                           QStringLiteral("N"), QString::number(gadget::kMostSerials));
    parser.addOption(serialsOption);
    parser.addPositionalArgument(QStringLiteral("mounts"), QStringLiteral("Where FunctionFS is mounted."));
    parser.process(app);
    const QString mounts = parser.positionalArguments().value(0, QStringLiteral("/run/hotspot-gadget"));
    bool numeric = false;
    const gadget::Slot slot{parser.value(unitOption).toInt(&numeric)};
    const QStringList ports = [&] {
        sim::Transaction tx(dir);
        return sim::unitPorts(tx.state());
    }();
    if (!numeric || slot.index < 0 || slot.index >= ports.size()) {
        std::fprintf(stderr, "hotspot-gadget: no unit %s in the model (%d units)\n", qPrintable(parser.value(unitOption)),
                     int(ports.size()));
        return 1;
    }
    const gadget::Model model(dir, ports.at(slot.index));
    gadget::limitSerials(parser.value(serialsOption).toInt());

    gadget::Composite composite(slot);
    if (!composite.create(gadget::allFunctions()))
        return 1;
    gadget::FfsFunction storageFn(gadget::kStorage.toStdString(), classOf(sim::UsbFunction::Storage), "Mass Storage");
    gadget::FfsFunction adbFn(gadget::kAdb.toStdString(), classOf(sim::UsbFunction::Adb), "ADB Interface");
    gadget::FfsFunction fastbootFn(gadget::kFastboot.toStdString(), classOf(sim::UsbFunction::Fastboot), "fastboot");
    gadget::MassStorageFunction storage(storageFn, model);
    gadget::AdbFunction adb(adbFn, model);
    gadget::FastbootFunction fastboot(fastbootFn, model);
    for (gadget::FfsFunction* fn : {&storageFn, &adbFn, &fastbootFn}) {
        const QString instance = slot.instance(QString::fromStdString(fn->instance()));
        if (!fn->start(instance.toStdString(), (mounts + QLatin1Char('/') + instance).toStdString()))
            return 1;
    }
    std::thread([&] { storage.serve(); }).detach();
    std::thread([&] { adb.serve(); }).detach();
    std::thread([&] { fastboot.serve(); }).detach();
    say(slot, QStringLiteral("unit %1 (%2) ready").arg(slot.index).arg(ports.at(slot.index)));

    gadget::BusShape shown;
    for (;;) {
        const gadget::BusShape wanted = model.with([](sim::Device& device, sim::Transaction&) { return gadget::shapeOf(device); });
        if (!(wanted == shown)) {
            if (!shown.identity.isEmpty()) {
                say(slot, QStringLiteral("leaves the bus"));
                composite.unbind();
            }
            if (!wanted.identity.isEmpty()) {
                say(slot, QStringLiteral("enumerates as ") + wanted.describe());
                if (!composite.bind(wanted))
                    say(slot, QStringLiteral("bind failed"));
            }
            shown = wanted;
        }
        QThread::msleep(50);
    }
}

// The stand-in fastboot: lists the device in its boot loader, writes images to partitions
// (remembering size and MD5) and restarts it. Like the real tool, a command given while no
// device is in its boot loader waits for one; the scenario bounds the wait.

#include "core/Device.h"
#include "core/SharedBus.h"
#include "core/StateStore.h"
#include "core/Units.h"
#include "tool/Selection.h"
#include "tool/ToolContext.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

namespace sim {

namespace {

const QByteArray kFinished = "Finished. Total time: 0.030s\n"; // as Debian's fastboot prints it

// The unit whose boot loader answers; while none does, prints the waiting line and waits.
// Empty when the wait ran out or more than one unit could be meant.
QString waitForDevice(const QString& dir, const QString& target, Output& out)
{
    double limit = 0.0;
    QElapsedTimer timer;
    for (bool first = true;; first = false) {
        {
            Transaction tx(dir, target.startsWith(QLatin1String("usb:")) ? target.mid(4) : QString());
            const Selection s = selectUnit(tx.state(), target, Reach::Fastboot);
            if (s.outcome == Selection::Outcome::Found)
                return s.port;
            if (s.outcome == Selection::Outcome::Ambiguous) {
                out.warn("fastboot: error: more than one device\n");
                return QString();
            }
            if (first) {
                const QString at = target.startsWith(QLatin1String("usb:")) ? target.mid(4) : QString();
                const Device device(tx.state(), resolvePort(tx.state(), at).isEmpty() ? QString() : at);
                limit = device.settings().value(QLatin1String("fastboot_wait")).toDouble();
            }
        }
        if (first) {
            const QByteArray what = target.isEmpty() ? QByteArray("any device") : target.toUtf8();
            std::fputs("< waiting for " + what + " >\n", stderr);
            std::fflush(stderr);
            timer.start();
        }
        if (limit >= 0 && timer.elapsed() >= qint64(limit * 1000.0))
            return QString();
        QThread::msleep(50);
    }
}

int flash(const QString& dir, const QString& target, const QString& partition, const QString& imagePath, const RunFaults& faults,
          Output& out)
{
    QFile image(imagePath);
    if (!image.open(QIODevice::ReadOnly)) {
        out.warn("fastboot: error: cannot load '" + imagePath.toUtf8() + "': No such file or directory\n");
        return 1;
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(&image);
    const qint64 size = image.size();
    const QString port = waitForDevice(dir, target, out);
    if (port.isEmpty())
        return 1;

    const bool cut = faults.kill == KillPoint::During;
    const QByteArray name = partition.toUtf8();
    const QByteArray sending = "Sending '" + name + "' (" + QByteArray::number((size + 1023) / 1024) + " KB)";
    double busRate = 0.0;
    double flashRate = 0.0;
    bool pulled = false;
    {
        Transaction tx(dir, port); // read only: the cable goes below
        const Device device(tx.state(), port);
        busRate = device.settings().value(QLatin1String("bus_mbps")).toDouble();
        flashRate = device.settings().value(QLatin1String("flash_mbps")).toDouble();
        pulled = !cut && device.faultHits(QStringLiteral("pulled_during_flash"), partition);
    }
    if (!cut)
        SharedBus(dir, busRate).transfer(size); // sent before the unit writes it
    if (!cut && !pulled) {
        // As the real tool, it says at once that the bytes are across and the unit writes them;
        // the bus is free for others meanwhile. A host killed after the run hears nothing.
        out.warn(sending + "                     OKAY [  0.010s]\n" + "Writing '" + name + "'");
        if (faults.kill == KillPoint::None) {
            std::fwrite(out.err.constData(), 1, size_t(out.err.size()), stderr);
            std::fflush(stderr);
            out.err.clear();
        }
        if (flashRate > 0)
            QThread::usleep(static_cast<unsigned long>(double(size) / flashRate));
    }
    bool written = false;
    {
        // Let go of the state before any wait below: a tool stuck on one unit of a hub must not
        // hold up the tools of the others.
        Transaction tx(dir, port);
        {
            Device device(tx.state(), port);
            device.settle(false);
            if (cut)
                device.tearPartition(partition, size);
            else if (pulled)
                device.pullCable(device.settings().value(QLatin1String("replug_after")));
            else
                written = device.flash(partition, size, QString::fromLatin1(md5.result().toHex()));
        }
        tx.commit();
    }
    if (cut)
        killHost();
    if (pulled) {
        // The cable went in the middle of the transfer: the tool waits for the device for ever.
        out.warn(sending);
        std::fwrite(out.err.constData(), 1, size_t(out.err.size()), stderr);
        std::fflush(stderr);
        out.err.clear();
        hang(-1);
    }
    if (!written) {
        out.warn("                          FAILED (remote: 'flash write failure')\n"
                 "fastboot: error: Command failed\n");
        return 1;
    }
    out.warn("                          OKAY [  0.020s]\n" + kFinished);
    return 0;
}

int reboot(const QString& dir, const QString& target, bool intoBootloader, Output& out)
{
    const QString port = waitForDevice(dir, target, out);
    if (port.isEmpty())
        return 1;
    Transaction tx(dir, port);
    {
        Device device(tx.state(), port);
        device.settle(false);
        device.restart(intoBootloader);
    }
    tx.commit();
    out.warn(intoBootloader ? "Rebooting into bootloader                          OKAY [  0.001s]\n"
                            : "Rebooting                                          OKAY [  0.001s]\n");
    out.warn(kFinished);
    return 0;
}

QByteArray listing(const Device& device, const QByteArray& serial, bool longListing)
{
    if (!longListing)
        return serial + "\tfastboot\n";
    return serial.leftJustified(22, ' ') + " fastboot usb:" + device.port().toUtf8() + "\n";
}

int listDevices(const QString& dir, bool longListing, Output& out)
{
    Transaction tx(dir);
    for (const QString& port : unitPorts(tx.state())) {
        Device device(tx.state(), port);
        device.settle(true);
        if (device.fastbootReaches())
            out.say(listing(device, device.settings().value(QLatin1String("fastboot_serial")).toString().toUtf8(),
                            longListing));
        else if (device.plugged() && device.personality() == QLatin1String(personality::kBootloader))
            out.say(listing(device, "no permissions; see [http://developer.android.com/tools/device.html]",
                            longListing));
    }
    tx.commit();
    return 0;
}

} // namespace

int runFastboot(const QString& dir, const Invocation& run, const RunFaults& faults, Output& out)
{
    const QStringList& args = run.args;
    const QString cmd = args.value(0);
    if (cmd == QLatin1String("devices"))
        return listDevices(dir, run.longListing, out);
    if (cmd == QLatin1String("flash")) {
        if (args.size() < 3) {
            out.warn("fastboot: error: flash requires a partition and an image file\n");
            return 1;
        }
        return flash(dir, run.target, args[1], args[2], faults, out);
    }
    if (cmd == QLatin1String("reboot") && args.size() == 1)
        return reboot(dir, run.target, false, out);
    if (cmd == QLatin1String("reboot-bootloader")
        || (cmd == QLatin1String("reboot") && args.value(1) == QLatin1String("bootloader")))
        return reboot(dir, run.target, true, out);
    if (cmd.isEmpty()) {
        out.warn("fastboot: usage: no command\n");
        return 1;
    }
    out.warn("fastboot: usage: unknown command " + cmd.toUtf8() + "\n");
    return 1;
}

} // namespace sim

#include "Composite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace gadget {

namespace {

bool put(const QString& path, const QByteArray& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.flush()) {
        std::fprintf(stderr, "[gadget] write %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
        return false;
    }
    return true;
}

int run(const QString& program, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Whether a USB device of the identity ("18d1:d00d") shows on the host side within the time.
bool hostSees(const QString& identity, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    const QDir devices(QStringLiteral("/sys/bus/usb/devices"));
    do {
        for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile vendor(devices.filePath(name + QStringLiteral("/idVendor")));
            QFile product(devices.filePath(name + QStringLiteral("/idProduct")));
            if (vendor.open(QIODevice::ReadOnly) && product.open(QIODevice::ReadOnly)
                && QString::fromLatin1(vendor.readAll().trimmed() + ':' + product.readAll().trimmed())
                    .compare(identity, Qt::CaseInsensitive) == 0)
                return true;
        }
        QThread::msleep(100);
    } while (timer.elapsed() < milliseconds);
    return false;
}

} // namespace

QString BusShape::describe() const
{
    if (identity.isEmpty())
        return QStringLiteral("off the bus");
    return identity + QLatin1Char(' ') + functions.join(QLatin1Char(',')) + QStringLiteral(" serial ") + serial;
}

Composite::Composite(QString udc)
    : m_udc(std::move(udc)), m_root(QStringLiteral("/sys/kernel/config/usb_gadget/hotspot"))
{
}

bool Composite::create(const QStringList& functions)
{
    QDir d;
    if (!d.mkpath(m_root + QStringLiteral("/strings/0x409"))
        || !d.mkpath(m_root + QStringLiteral("/configs/c.1/strings/0x409")))
        return false;
    bool ok = put(m_root + QStringLiteral("/bcdUSB"), "0x0200")
        && put(m_root + QStringLiteral("/strings/0x409/manufacturer"), "Hotspot")
        && put(m_root + QStringLiteral("/strings/0x409/product"), "Mobile WiFi")
        && put(m_root + QStringLiteral("/configs/c.1/strings/0x409/configuration"), "hotspot")
        && put(m_root + QStringLiteral("/configs/c.1/MaxPower"), "250");
    for (const QString& name : functions)
        ok = ok && d.mkpath(m_root + QStringLiteral("/functions/") + name);
    return ok;
}

bool Composite::bind(const BusShape& shape)
{
    // Under emulation vhci-hcd now and then loses a request while the host enumerates ("cannot
    // find a urb"), and the device never shows; a real unit plugged in again would show.
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (bindOnce(shape) && hostSees(shape.identity, 10000))
            return true;
        std::fprintf(stderr, "[gadget] the host did not enumerate %s (try %d)\n", qPrintable(shape.identity), attempt);
        unbind();
    }
    return false;
}

bool Composite::bindOnce(const BusShape& shape)
{
    const QString vid = shape.identity.section(QLatin1Char(':'), 0, 0);
    const QString pid = shape.identity.section(QLatin1Char(':'), 1, 1);
    bool ok = put(m_root + QStringLiteral("/idVendor"), "0x" + vid.toLatin1())
        && put(m_root + QStringLiteral("/idProduct"), "0x" + pid.toLatin1())
        && put(m_root + QStringLiteral("/strings/0x409/serialnumber"), shape.serial.toUtf8());
    // Interfaces are numbered in the order their functions are linked.
    for (const QString& name : shape.functions) {
        const QString target = m_root + QStringLiteral("/functions/") + name;
        const QString link = m_root + QStringLiteral("/configs/c.1/") + name;
        ok = ok && ::symlink(qPrintable(target), qPrintable(link)) == 0;
    }
    ok = ok && put(m_root + QStringLiteral("/UDC"), m_udc.toLatin1());
    m_bound = ok;
    return ok && attach();
}

bool Composite::attach()
{
    // The controller needs a moment after each bind before it takes the attach.
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (timer.elapsed() < 15000) {
        if (run(QStringLiteral("usbip"), {QStringLiteral("attach"), QStringLiteral("-r"), QStringLiteral("127.0.0.1"),
                                          QStringLiteral("-d"), m_udc}, &out) == 0)
            return true;
        QThread::msleep(200);
    }
    std::fprintf(stderr, "[gadget] usbip attach failed: %s\n", out.constData());
    return false;
}

void Composite::unbind()
{
    if (m_bound) {
        // Off the controller first: the host sees the device go at once.
        put(m_root + QStringLiteral("/UDC"), "\n");
        QByteArray ports;
        run(QStringLiteral("usbip"), {QStringLiteral("port")}, &ports);
        for (const QByteArray& line : ports.split('\n')) {
            if (line.startsWith("Port "))
                run(QStringLiteral("usbip"), {QStringLiteral("detach"), QStringLiteral("-p"),
                                              QString::fromLatin1(line.mid(5, line.indexOf(':') - 5))});
        }
    }
    m_bound = false;
    const QDir config(m_root + QStringLiteral("/configs/c.1"));
    for (const QFileInfo& link : config.entryInfoList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (link.isSymLink())
            ::unlink(qPrintable(link.filePath()));
    }
}

} // namespace gadget

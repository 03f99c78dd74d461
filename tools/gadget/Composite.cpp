#include "Composite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gadget {

namespace {

const QString kVhci = QStringLiteral("/sys/devices/platform/vhci_hcd.0");

bool write(const QString& path, const QByteArray& text, QString* error)
{
    QFile f(path);
    // Unbuffered: a refused write must not be tried again when the file closes.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || f.write(text) != text.size() || !f.flush()) {
        *error = path + QStringLiteral(": ") + f.errorString();
        return false;
    }
    return true;
}

bool put(const QString& path, const QByteArray& text)
{
    QString error;
    if (!write(path, text, &error)) {
        std::fprintf(stderr, "[gadget] write %s\n", qPrintable(error));
        return false;
    }
    return true;
}

// The two ends of one TCP connection over loopback, without delay for small packets as
// usbip's own tools set it; the kernel takes each end by its descriptor.
bool loopbackPair(int ends[2])
{
    ends[0] = ends[1] = -1;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const auto* where = reinterpret_cast<sockaddr*>(&address);
    bool ok = listener >= 0 && ::bind(listener, where, sizeof address) == 0 && ::listen(listener, 1) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (ok) {
        ends[1] = ::socket(AF_INET, SOCK_STREAM, 0);
        ok = ends[1] >= 0 && ::connect(ends[1], where, sizeof address) == 0;
    }
    if (ok) {
        ends[0] = ::accept(listener, nullptr, nullptr);
        ok = ends[0] >= 0;
    }
    const int one = 1;
    for (int i = 0; ok && i < 2; ++i)
        ok = ::setsockopt(ends[i], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
    if (listener >= 0)
        ::close(listener);
    return ok;
}

// Whether a USB device of the identity ("18d1:d00d") shows at the root port ("1-2" for
// port 2) on the host side, configured, within the time: a request lost while the host sets
// the configuration ("can't set config #1") leaves the device there but unusable.
bool hostSees(const QString& identity, int rootPort, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    const QDir devices(QStringLiteral("/sys/bus/usb/devices"));
    const QString atPort = QStringLiteral("*-") + QString::number(rootPort);
    do {
        for (const QString& name : devices.entryList({atPort}, QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile vendor(devices.filePath(name + QStringLiteral("/idVendor")));
            QFile product(devices.filePath(name + QStringLiteral("/idProduct")));
            QFile configuration(devices.filePath(name + QStringLiteral("/bConfigurationValue")));
            if (vendor.open(QIODevice::ReadOnly) && product.open(QIODevice::ReadOnly)
                && QString::fromLatin1(vendor.readAll().trimmed() + ':' + product.readAll().trimmed())
                    .compare(identity, Qt::CaseInsensitive) == 0
                && configuration.open(QIODevice::ReadOnly) && !configuration.readAll().trimmed().isEmpty())
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

QString Slot::udc() const
{
    return QStringLiteral("usbip-vudc.") + QString::number(index);
}

QString Slot::gadgetName() const
{
    return instance(QStringLiteral("hotspot"));
}

QString Slot::instance(const QString& function) const
{
    return index == 0 ? function : function + QString::number(index);
}

QString Slot::configfsName(const QString& function) const
{
    const QString prefix = ffs(QString());
    return function.startsWith(prefix) ? ffs(instance(function.mid(prefix.size()))) : function;
}

Composite::Composite(Slot slot)
    : m_slot(slot), m_root(QStringLiteral("/sys/kernel/config/usb_gadget/") + slot.gadgetName())
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
        ok = ok && d.mkpath(m_root + QStringLiteral("/functions/") + m_slot.configfsName(name));
    return ok;
}

bool Composite::bind(const BusShape& shape)
{
    // Under emulation vhci-hcd now and then loses a request while the host enumerates ("cannot
    // find a urb"), and the device never shows; a real unit plugged in again would show.
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (bindOnce(shape) && hostSees(shape.identity, vhciPort() + 1, 10000))
            return true;
        std::fprintf(stderr, "[gadget] the host did not enumerate %s at port %d (try %d)\n", qPrintable(shape.identity),
                     vhciPort() + 1, attempt);
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
    for (const QString& function : shape.functions) {
        const QString name = m_slot.configfsName(function);
        const QString target = m_root + QStringLiteral("/functions/") + name;
        const QString link = m_root + QStringLiteral("/configs/c.1/") + name;
        ok = ok && ::symlink(qPrintable(target), qPrintable(link)) == 0;
    }
    ok = ok && put(m_root + QStringLiteral("/UDC"), m_slot.udc().toLatin1());
    m_bound = ok;
    return ok && attach();
}

// usbip's attach tool would take the first free port: two units restarting at once could
// swap ports. So the connection is made here and each end handed to the kernel, as usbipd
// and the tool would, with the slot's own port.
bool Composite::attach()
{
    // The controller needs a moment after each bind before it takes the connection.
    QElapsedTimer timer;
    timer.start();
    QString error;
    while (timer.elapsed() < 15000) {
        if (attachOnce(&error))
            return true;
        QThread::msleep(200);
    }
    std::fprintf(stderr, "[gadget] attach to port %d failed: %s\n", vhciPort() + 1, qPrintable(error));
    return false;
}

bool Composite::attachOnce(QString* error)
{
    int ends[2];
    bool ok = loopbackPair(ends);
    if (!ok)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    // A high-speed device (the kernel's USB_SPEED_HIGH); usbip-vudc gives no device id.
    const QByteArray attach = QByteArray::number(vhciPort()) + ' ' + QByteArray::number(ends[1]) + " 0 3";
    ok = ok && write(QStringLiteral("/sys/devices/platform/") + m_slot.udc() + QStringLiteral("/usbip_sockfd"),
                     QByteArray::number(ends[0]), error)
        && write(kVhci + QStringLiteral("/attach"), attach, error);
    // The kernel holds its own references to both ends.
    for (const int end : ends) {
        if (end >= 0)
            ::close(end);
    }
    return ok;
}

bool Composite::hostHoldsPort() const
{
    // Lines "hs  0000 004 ...": hub, port, status; 4 is a free port (VDEV_ST_NULL).
    QFile status(kVhci + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 2 && fields[0] == "hs" && fields[1].toInt() == vhciPort())
            return fields[2].toInt() != 4;
    }
    return false;
}

void Composite::unbind()
{
    if (m_bound) {
        // Off the controller first: the host sees the device go at once.
        put(m_root + QStringLiteral("/UDC"), "\n");
        // The controller drops the connection and the host lets the port go; a host that does
        // not within a moment is told to.
        QElapsedTimer timer;
        timer.start();
        while (hostHoldsPort() && timer.elapsed() < 2000)
            QThread::msleep(20);
        if (hostHoldsPort())
            put(kVhci + QStringLiteral("/detach"), QByteArray::number(vhciPort()));
    }
    m_bound = false;
    const QDir config(m_root + QStringLiteral("/configs/c.1"));
    for (const QFileInfo& link : config.entryInfoList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (link.isSymLink())
            ::unlink(qPrintable(link.filePath()));
    }
}

} // namespace gadget

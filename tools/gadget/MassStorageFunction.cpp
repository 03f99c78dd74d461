#include "MassStorageFunction.h"

#include "Composite.h"
#include "core/MassStorage.h"
#include "core/Records.h"

#include <QtEndian>

#include <cstdio>
#include <unistd.h>

namespace gadget {

namespace {

constexpr quint32 kBlock = 2048;
constexpr quint32 kBlocks = 300; // a small blank disc
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kInvalidOpcode = 0x20;

QByteArray inquiry()
{
    QByteArray d(36, '\0');
    d[0] = 0x05; // CD/DVD
    d[1] = char(0x80); // removable
    d[2] = 0x05;
    d[3] = 0x02;
    d[4] = 31;
    d.replace(8, 28, QByteArray("HOTSPOT CD-ROM          1.00", 28));
    return d;
}

} // namespace

MassStorageFunction::MassStorageFunction(FfsFunction& function, const Model& model)
    : m_fn(function), m_model(model)
{
    m_fn.onSetup([](const usb_ctrlrequest& r, int ep0) {
        if (r.bRequest == 0xFE && (r.bRequestType & USB_DIR_IN)) { // GET MAX LUN
            const char lun = 0;
            return ::write(ep0, &lun, 1) == 1;
        }
        if (r.bRequest == 0xFF && !(r.bRequestType & USB_DIR_IN)) { // Bulk-Only reset
            char none = 0;
            return ::read(ep0, &none, 0) == 0;
        }
        return false;
    });
}

void MassStorageFunction::serve()
{
    m_model.serveTransfers(m_fn, [this](const QByteArray& cbw) { handle(cbw); });
}

bool MassStorageFunction::handle(const QByteArray& cbw)
{
    if (cbw.size() != sim::kCbwLength) {
        std::fprintf(stderr, "[gadget] mass storage: %lld-byte wrapper ignored\n", qint64(cbw.size()));
        return false;
    }
    const auto* b = reinterpret_cast<const uchar*>(cbw.constData());
    const quint32 tag = qFromLittleEndian<quint32>(b + 4);
    const quint32 expected = qFromLittleEndian<quint32>(b + 8);
    const bool toHost = b[12] & 0x80;
    const uint8_t opcode = b[15];

    if (sim::isModeCommand(opcode)) {
        // The model judges these, as it does for the simulated hotspot; the status goes out
        // before a switch takes the device off the bus.
        const sim::CbwVerdict v = sim::judgeCbw(cbw);
        if (!toHost && expected > 0) {
            QByteArray sink(int(expected), '\0');
            m_fn.readAll(sink.data(), expected);
        }
        const bool sent = v.stall ? false : sendCsw(tag, expected, v.status);
        m_model.with([&](sim::Device& device, sim::Transaction& tx) {
            QJsonObject r = sim::usbRecord(QStringLiteral("cbw"), QString::fromLatin1(sim::kOwnIdentity),
                                           sim::kCbwLength, device.personality());
            r.insert(QStringLiteral("bytes"), QString::fromLatin1(cbw.toHex()));
            r.insert(QStringLiteral("status"), v.status);
            r.insert(QStringLiteral("csw_sent"), sent);
            if (!v.reason.isEmpty())
                r.insert(QStringLiteral("refused"), v.reason);
            Model::record(tx, r);
            if (v.action && sent)
                device.modeSwitch(*v.action);
            return 0;
        });
        if (v.action)
            std::fprintf(stderr, "[gadget] switch command %02x target %d answered\n", opcode, b[17]);
        return sent;
    }

    QByteArray dataIn;
    int status = 0;
    scsi(cbw, dataIn, status);
    if (toHost && expected > 0) {
        // The host asked for `expected` bytes: send them, padded, so every case ends cleanly.
        QByteArray out = dataIn.left(int(expected));
        out.append(QByteArray(int(expected) - out.size(), '\0'));
        if (!m_fn.write(out.constData(), size_t(out.size())))
            return false;
    } else if (!toHost && expected > 0) {
        QByteArray sink(int(expected), '\0');
        if (!m_fn.readAll(sink.data(), expected))
            return false;
    }
    return sendCsw(tag, 0, status);
}

bool MassStorageFunction::scsi(const QByteArray& cbw, QByteArray& dataIn, int& status)
{
    const auto* cb = reinterpret_cast<const uchar*>(cbw.constData()) + 15;
    status = 0;
    switch (cb[0]) {
    case 0x12: // INQUIRY
        if (cb[1] & 0x01)
            break; // no vital product data
        dataIn = inquiry();
        m_senseKey = m_asc = 0;
        return true;
    case 0x03: { // REQUEST SENSE
        dataIn = QByteArray(18, '\0');
        dataIn[0] = char(0x70);
        dataIn[2] = char(m_senseKey);
        dataIn[7] = 10;
        dataIn[12] = char(m_asc);
        m_senseKey = m_asc = 0;
        return true;
    }
    case 0x25: { // READ CAPACITY(10)
        dataIn = QByteArray(8, '\0');
        qToBigEndian<quint32>(kBlocks - 1, dataIn.data());
        qToBigEndian<quint32>(kBlock, dataIn.data() + 4);
        return true;
    }
    case 0x28: { // READ(10): the disc is blank
        const quint32 lba = qFromBigEndian<quint32>(cb + 2);
        const quint16 count = qFromBigEndian<quint16>(cb + 7);
        if (lba + count > kBlocks) {
            m_senseKey = kIllegalRequest;
            m_asc = 0x21; // out of range
            status = 1;
            return false;
        }
        dataIn = QByteArray(int(count * kBlock), '\0');
        return true;
    }
    case 0x1A: // MODE SENSE(6): header only
        dataIn = QByteArray(4, '\0');
        dataIn[0] = 3;
        return true;
    case 0x5A: // MODE SENSE(10): header only
        dataIn = QByteArray(8, '\0');
        dataIn[1] = 6;
        return true;
    case 0x1E: // PREVENT ALLOW MEDIUM REMOVAL
    case 0x1B: // START STOP UNIT
        return true;
    default:
        break;
    }
    m_senseKey = kIllegalRequest;
    m_asc = kInvalidOpcode;
    status = 1;
    return false;
}

bool MassStorageFunction::sendCsw(quint32 tag, quint32 residue, int status)
{
    const QByteArray csw = sim::makeCsw(tag, status, residue);
    return m_fn.write(csw.constData(), size_t(csw.size()));
}

} // namespace gadget

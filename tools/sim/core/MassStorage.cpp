#include "core/MassStorage.h"

#include <QtEndian>

namespace sim {

namespace {
constexpr quint32 kCbwSignature = 0x43425355; // "USBC"
constexpr quint32 kCswSignature = 0x53425355; // "USBS"
constexpr unsigned char kTestUnitReady = 0x00;
constexpr unsigned char kTemporarySwitch = 0xEE;
constexpr unsigned char kPermanentSwitch = 0xED;
} // namespace

bool isModeCommand(uchar opcode)
{
    return opcode == kTestUnitReady || opcode == kTemporarySwitch || opcode == kPermanentSwitch;
}

CbwVerdict judgeCbw(const QByteArray& bytes)
{
    CbwVerdict v;
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
    if (bytes.size() != kCbwLength || qFromLittleEndian<quint32>(b) != kCbwSignature) {
        v.stall = true;
        v.status = -1;
        v.reason = bytes.size() != kCbwLength ? QStringLiteral("length") : QStringLiteral("signature");
        return v;
    }
    v.tag = qFromLittleEndian<quint32>(b + 4);
    const quint32 dataLength = qFromLittleEndian<quint32>(b + 8);
    const uchar flags = b[12];
    const uchar lun = b[13];
    const uchar cbLength = b[14];
    const uchar* cb = b + 15;
    v.status = 1;
    if ((flags & 0x7F) != 0)
        v.reason = QStringLiteral("flags");
    else if (lun != 0)
        v.reason = QStringLiteral("lun");
    else if (cbLength != 6)
        v.reason = QStringLiteral("command length");
    else if (dataLength != 0)
        v.reason = QStringLiteral("data stage");
    else if (cb[0] == kTestUnitReady && cb[1] == 0 && cb[2] == 0)
        v.status = 0;
    else if (cb[0] == kTemporarySwitch && cb[2] == 4)
        v.action = SwitchTarget::TmpUsrAdb;
    else if (cb[0] == kTemporarySwitch && cb[2] == 5)
        v.action = SwitchTarget::TmpFtm;
    else if (cb[0] == kPermanentSwitch && cb[2] == 1)
        v.action = SwitchTarget::PrmUsr;
    else
        v.reason = QStringLiteral("unsupported command");
    if (v.action)
        v.status = 0;
    return v;
}

QByteArray makeCsw(quint32 tag, int status, quint32 residue)
{
    QByteArray csw(kCswLength, '\0');
    auto* b = reinterpret_cast<uchar*>(csw.data());
    qToLittleEndian<quint32>(kCswSignature, b);
    qToLittleEndian<quint32>(tag, b + 4);
    qToLittleEndian<quint32>(residue, b + 8);
    b[12] = uchar(status);
    return csw;
}

} // namespace sim

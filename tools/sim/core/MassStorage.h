#pragma once
// The device's mass-storage interface as far as the mode switch needs it: Bulk-Only
// Transport command wrappers in, status wrappers out.

#include "core/Device.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace sim {

struct CbwVerdict {
    // An invalid wrapper (wrong signature or length) is not answered with a status: the
    // device stalls its endpoints, as Bulk-Only Transport prescribes.
    bool stall = false;
    quint32 tag = 0;
    int status = 0; // CSW status: 0 passed, 1 failed (refused command)
    std::optional<SwitchTarget> action;
    QString reason; // why it was refused, for the record
};

inline constexpr int kCbwLength = 31;
inline constexpr int kCswLength = 13;

// The commands the device model judges itself: TEST UNIT READY and the two switches.
bool isModeCommand(uchar opcode);
CbwVerdict judgeCbw(const QByteArray& bytes);
QByteArray makeCsw(quint32 tag, int status, quint32 residue = 0);

} // namespace sim

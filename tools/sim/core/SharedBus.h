#pragma once
// The hub's one USB 2.0 bus, shared by every unit: a transfer moves at its share of the bus's
// rate (rate / transfers under way), taken afresh as others start and end. The tools are
// processes of their own, so the transfers meet in the state folder: one file each, flock'ed
// while it lasts. The kernel frees the lock of a killed tool, and the next reader removes its file.

#include <QString>
#include <QtGlobal>

namespace sim {

inline constexpr const char* kBusTransfersDir = "bus-transfers";

class SharedBus {
public:
    // megabytesPerSecond: the whole bus, in 10^6 bytes a second; 0 or less: transfers take no time.
    SharedBus(const QString& stateDir, double megabytesPerSecond);

    // Returns when `bytes` have passed at this transfer's share of the bus.
    void transfer(qint64 bytes) const;
    // Transfers under way now; files left by killed tools are removed, not counted.
    int activeTransfers() const;

private:
    QString m_folder;
    double m_bytesPerSecond;
};

} // namespace sim

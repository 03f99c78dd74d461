#pragma once
// This user's stored copies of device data, as a person choosing one to put back sees them,
// and the putting back: pushed to the unit at a port and confirmed by reading it back.

#include "bridge/BackupStore.h"
#include "bridge/DeviceData.h"

#include <QString>
#include <vector>

struct StoredCopies {
    QString entry; // the entry's folder
    BackupManifest manifest;
    bool readable = false; // its manifest could be read
    bool confirmed = false; // every copy read back from a unit once
};

// Every entry of every unit's folder, newest first.
std::vector<StoredCopies> storedCopies(const BackupStore& store);

enum class PutBack { Confirmed, NoUnitThere, NothingToPut, NotBack };

// Pushes the entry's copies to the unit the data's probes reach (its port's), then reads them
// back; the entry's manifest records what read back.
[[nodiscard]] PutBack putBack(const DeviceData& data, const DeviceProbes& probes, const StoredCopies& copies);

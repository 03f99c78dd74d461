#pragma once
// This user's stored copies of device data, as a person choosing one to put back sees them,
// and the putting back: pushed to the unit at a port and confirmed by reading it back.

#include "bridge/BackupStore.h"
#include "bridge/DeviceData.h"

#include <QString>
#include <vector>

struct StoredCopies {
    QString entry; // the entry's folder; its name is the entry's id
    BackupManifest manifest;
    bool readable = false; // its manifest could be read
    bool confirmed = false; // every copy read back from a unit once
};

// Every entry of every unit's folder, newest first.
std::vector<StoredCopies> storedCopies(const BackupStore& store);

// The entry named by its id, or by its folder; none when no entry or more than one has it.
// A place in the list is no name: an update between listing and choosing shifts it.
const StoredCopies* entryById(const std::vector<StoredCopies>& all, const QString& id);
QString entryId(const StoredCopies& copies);

enum class PutBack { Confirmed, NoUnitThere, NothingToPut, NotSaved, NotBack };

// Saves what the unit the data's probes reach (its port's) holds into a new entry,
// `before`, then pushes the entry's copies there and reads them back; the entry's manifest
// records what read back. Nothing is pushed when the unit's data could not be saved.
[[nodiscard]] PutBack putBack(const DeviceData& data, const DeviceProbes& probes, const StoredCopies& copies,
                              const QString& port, BackupRun& before);

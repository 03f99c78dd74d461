#pragma once
// The firmware package as the check found it: its version, its image table with what was
// verified, and the bytes to write. Made once by the check, read-only after, shared.

#include "workflow/ImageTable.h"

#include <QString>
#include <cstdint>
#include <vector>

class Package {
public:
    Package(QString version, std::vector<ImageEntry> images, uint64_t total)
        : m_version(std::move(version)), m_images(std::move(images)), m_total(total) {}

    const QString& version() const { return m_version; }
    // In the `version` file's order; the update writes those that shouldWrite().
    const std::vector<ImageEntry>& images() const { return m_images; }
    // Bytes of the verified images.
    uint64_t total() const { return m_total; }

private:
    QString m_version;
    std::vector<ImageEntry> m_images;
    uint64_t m_total;
};

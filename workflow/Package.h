#pragma once
// The firmware package as the check found it: its version, its image table with what was
// verified, the bytes to write, and where the check kept them. Made once by the check,
// read-only after, shared.

#include "workflow/CheckedCopies.h"
#include "workflow/ImageTable.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class Package {
public:
    // `checkedFiles`: for each verified image file, the private copy of the bytes the check
    // hashed, in `copies`.
    Package(QString version, std::vector<ImageEntry> images, uint64_t total,
            QHash<QString, QString> checkedFiles = {}, std::shared_ptr<const CheckedCopies> copies = nullptr)
        : m_version(std::move(version)), m_images(std::move(images)), m_total(total),
          m_checkedFiles(std::move(checkedFiles)), m_copies(std::move(copies)) {}

    const QString& version() const { return m_version; }
    // In the `version` file's order; the update writes those that shouldWrite().
    const std::vector<ImageEntry>& images() const { return m_images; }
    // Bytes of the verified images.
    uint64_t total() const { return m_total; }
    // What the update writes for `entry`: the copy of exactly what the check verified; empty
    // (nothing can be written) for an image the check kept no copy of.
    QString checkedPath(const ImageEntry& entry) const {
        return m_checkedFiles.value(QString::fromUtf8(entry.file, qstrnlen(entry.file, sizeof entry.file)));
    }

private:
    QString m_version;
    std::vector<ImageEntry> m_images;
    uint64_t m_total;
    QHash<QString, QString> m_checkedFiles;
    std::shared_ptr<const CheckedCopies> m_copies; // keeps the copies while the package lives
};

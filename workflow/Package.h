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
    // `digest`: SHA-256 of the version file as checked; `signer`: the id of the key whose
    // signature it carries, empty for an unsigned package.
    Package(QString version, std::vector<ImageEntry> images, uint64_t total,
            QHash<QString, QString> checkedFiles = {}, std::shared_ptr<const CheckedCopies> copies = nullptr,
            QString digest = {}, QString signer = {})
        : m_version(std::move(version)), m_images(std::move(images)), m_total(total),
          m_checkedFiles(std::move(checkedFiles)), m_copies(std::move(copies)), m_digest(std::move(digest)),
          m_signer(std::move(signer)) {}

    const QString& version() const { return m_version; }
    const QString& digest() const { return m_digest; }
    const QString& signer() const { return m_signer; }
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
    QString m_digest;
    QString m_signer;
};

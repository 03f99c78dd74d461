#pragma once
// What a unit's calibration looks like right after a package was written to it: the writing
// replaces it with the package's own, the same bytes on every unit. Learned by reading it back
// before the saved copy is pushed, and kept per package (the SHA-256 of its version file), so
// that a unit found later with exactly that calibration is known to have been written and not
// given its data back. A JSON file of this user's, beside the update journals.

#include <QString>
#include <mutex>
#include <optional>

class FreshCalibrations {
public:
    explicit FreshCalibrations(QString file) : m_file(std::move(file)) {}

    // The calibration's digest a written unit has for this package; nullopt when not learned.
    std::optional<QString> find(const QString& packageDigest) const;
    // Records it; false when the file could not be written (the next finish then asks).
    bool learn(const QString& packageDigest, const QString& calibrationDigest);

private:
    QString m_file;
    static std::mutex s_lock; // a station's units learn at once
};

#pragma once
// Where the start-up check keeps what it read of each image, so that the update writes the
// bytes that were hashed, whatever happens to the bundle's files afterwards. One folder per
// check (0700, this process's own) inside one folder per process; the check's goes with its
// Package, the process's is removed when the process ends.

#include <QString>
#include <QTemporaryDir>
#include <memory>

class CheckedCopies {
public:
    // A new folder for one check; nullptr when none can be made (the check then fails).
    [[nodiscard]] static std::shared_ptr<const CheckedCopies> make();

    const QString& path() const { return m_path; }

private:
    explicit CheckedCopies(QTemporaryDir&& dir);
    QTemporaryDir m_dir;
    QString m_path;
};

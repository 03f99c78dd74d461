#include "workflow/UnitEvidence.h"

#include "bridge/Contract.h"

#include <QCryptographicHash>

namespace {

QString digestOf(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The journal's place: the same port when both are named, or the only unit attached.
bool atItsPlace(const UpdateJournal& journal, const UnitSighting& seen) {
    if (!journal.port.isEmpty() && !seen.port.isEmpty())
        return journal.port == seen.port;
    return seen.attached == 1;
}

UnitVerdict judgeRunning(const UpdateJournal& journal, const UnitSighting& seen, const JournalCalibrations& known) {
    if (!seen.calibration)
        return {Whose::Undecided, QStringLiteral("its calibration cannot be read")};
    const QString now = digestOf(*seen.calibration);
    if (now == savedCalibrationDigest(journal))
        return {Whose::JournalsUnit, QStringLiteral("it holds the calibration the journal saved")};
    if (journal.afterPush.contains(now))
        return {Whose::JournalsUnit, QStringLiteral("it holds what the push of its calibration left")};
    if (seen.version != journal.packageVersion)
        return {Whose::AnotherUnit, QStringLiteral("it runs %1, not the journal's package").arg(seen.version)};
    // A push cut short leaves the first part of the copy: no other unit's calibration is that.
    if (known.saved && !seen.calibration->isEmpty() && seen.calibration->size() < known.saved->size() &&
        known.saved->startsWith(*seen.calibration))
        return {Whose::JournalsUnit, QStringLiteral("it holds the start of the calibration the journal saved")};
    if (!known.fresh)
        return {Whose::Undecided, QStringLiteral("what writing this package leaves is not known yet")};
    if (now != *known.fresh)
        return {Whose::AnotherUnit, QStringLiteral("it holds a calibration of its own")};
    if (!atItsPlace(journal, seen))
        return {Whose::Undecided, QStringLiteral("a written unit, but not alone and not at the journal's port")};
    return {Whose::JournalsUnit, QStringLiteral("written with the package and its data not back, at the journal's place")};
}

} // namespace

QString savedCalibrationDigest(const UpdateJournal& journal) {
    for (const JournalFile& file : journal.files)
        if (file.devicePath == contract::kWifiBoardData)
            return file.sha256;
    return {};
}

UnitVerdict judgeUnit(const UpdateJournal& journal, const UnitSighting& seen, const JournalCalibrations& known) {
    if (!journal.port.isEmpty() && !seen.port.isEmpty() && journal.port != seen.port)
        return {Whose::AnotherUnit, QStringLiteral("it is at %1, the journal's unit at %2").arg(seen.port, journal.port)};
    if (!seen.inBootLoader)
        return judgeRunning(journal, seen, known);
    if (atItsPlace(journal, seen))
        return {Whose::JournalsUnit, QStringLiteral("a boot loader at the journal's place")};
    return {Whose::Undecided, QStringLiteral("a boot loader, but the host names no port and more than one unit is attached")};
}

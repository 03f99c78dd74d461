#include "workflow/UnitEvidence.h"

#include "bridge/Contract.h"

#include <QCryptographicHash>

namespace {

QString digestOf(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

using Kind = IdentityDecision::Kind;

} // namespace

QString savedCalibrationDigest(const UpdateJournal& journal) {
    for (const JournalFile& file : journal.files)
        if (file.devicePath == contract::kWifiBoardData)
            return file.sha256;
    return {};
}

CalibrationMatch matchCalibration(const UpdateJournal& journal, const UnitSighting& seen, const JournalCalibrations& known) {
    if (seen.inBootLoader)
        return CalibrationMatch::Unknown;
    const bool onThePackage = seen.version == journal.packageVersion;
    if (!seen.calibration)
        return onThePackage ? CalibrationMatch::Unknown : CalibrationMatch::Another;
    const QString now = digestOf(*seen.calibration);
    // Every written unit holds the fresh one: a push refused whole leaves it, and a unit saved
    // while holding it saved nothing of its own.
    if (onThePackage && known.fresh && now == *known.fresh)
        return CalibrationMatch::Fresh;
    if (now == savedCalibrationDigest(journal) || (onThePackage && journal.afterPush.contains(now)))
        return CalibrationMatch::Saved;
    // A push cut short leaves the first part of the copy: no other unit's calibration is that.
    if (onThePackage && known.saved && !seen.calibration->isEmpty() &&
        seen.calibration->size() < known.saved->size() && known.saved->startsWith(*seen.calibration))
        return CalibrationMatch::Saved;
    if (!onThePackage)
        return CalibrationMatch::Another;
    return known.fresh ? CalibrationMatch::Another : CalibrationMatch::Unknown;
}

IdentityDecision decideIdentity(bool inBootLoader, const std::vector<JournalEvidence>& journals) {
    const auto count = static_cast<int>(journals.size());
    // A journal's own calibration is one unit's only.
    for (int i = 0; i < count; ++i)
        if (journals[i].calibration == CalibrationMatch::Saved) {
            // Its own data on it and not written yet: updated as usual, and the journal closed
            // when the data its update saves is the journal's.
            if (!inBootLoader && !journals[i].runsPackage)
                return {Kind::NewUnit, i, QStringLiteral("its own data is on it and it was not written yet")};
            return {Kind::Finish, i, QStringLiteral("it holds the calibration its journal saved")};
        }
    std::vector<int> candidates;
    for (int i = 0; i < count; ++i)
        if (journals[i].calibration != CalibrationMatch::Another)
            candidates.push_back(i);
    if (candidates.empty())
        return {Kind::NewUnit, -1, QStringLiteral("no open journal can be its own")};
    // Watched all along: it never left, whatever else is open.
    for (const int i : candidates)
        if (journals[i].watched)
            return {Kind::Finish, i, QStringLiteral("watched at its port since its journal's write began")};
    if (inBootLoader && candidates.size() == 1 && journals[candidates.front()].atItsPlace)
        return {Kind::Finish, candidates.front(), QStringLiteral("a boot loader at the only open journal's place")};
    if (candidates.size() > 1)
        return {Kind::Ask, candidates.front(), QStringLiteral("%1 open journals could be its own").arg(candidates.size()),
                candidates};
    return {Kind::Ask, candidates.front(),
            journals[candidates.front()].calibration == CalibrationMatch::Fresh
                ? QStringLiteral("written and its data not back, but not watched since its journal's write began")
                : QStringLiteral("nothing shows whether it is the open journal's unit"),
            candidates};
}

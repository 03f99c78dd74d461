// Whose unit is it: every combination of evidence the detection meets, with the unit moved,
// swapped, replaced and the process restarted, and the decision each must give.

#include "bridge/Contract.h"
#include "workflow/UnitEvidence.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

using Kind = IdentityDecision::Kind;
using M = CalibrationMatch;

struct Row {
    const char* name;
    bool inBootLoader;
    std::vector<JournalEvidence> journals; // {calibration, watched, atItsPlace, runsPackage}
    Kind kind;
    int journal; // the journal meant; -1 for a new unit
    int asked = 1; // Ask: how many journals could be the unit's
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kTable[] = {
    // One open journal.
    {"OwnSavedCalibrationOnThePackage", false, {{M::Saved, false, false, true}}, Kind::Finish, 0},
    {"OwnSavedCalibrationMovedToAnotherPort", false, {{M::Saved, false, false, true}}, Kind::Finish, 0},
    {"OwnDataNotWrittenYetIsUpdatedAsUsual", false, {{M::Saved, false, true, false}}, Kind::NewUnit, 0},
    {"FreshWatchedAllAlong", false, {{M::Fresh, true, true, true}}, Kind::Finish, 0},
    {"FreshAtItsPortAfterARestart", false, {{M::Fresh, false, true, true}}, Kind::Ask, 0},
    {"FreshAtItsPortAfterADeparture", false, {{M::Fresh, false, true, true}}, Kind::Ask, 0},
    {"FreshMovedToAnotherPortIsNeverUpToDate", false, {{M::Fresh, false, false, true}}, Kind::Ask, 0},
    {"ReplacedByAUnitWithItsOwnCalibration", false, {{M::Another, false, true, true}}, Kind::NewUnit, -1},
    {"ReplacedByAUnitOnAnotherFirmware", false, {{M::Another, false, true, false}}, Kind::NewUnit, -1},
    {"UnknownWatchedAllAlong", false, {{M::Unknown, true, true, true}}, Kind::Finish, 0},
    {"UnknownAfterARestart", false, {{M::Unknown, false, true, true}}, Kind::Ask, 0},
    {"BootLoaderAtItsPlaceAfterARestart", true, {{M::Unknown, false, true, false}}, Kind::Finish, 0},
    {"BootLoaderAtAnotherPort", true, {{M::Unknown, false, false, false}}, Kind::Ask, 0},
    {"BootLoaderWatchedAllAlong", true, {{M::Unknown, true, true, false}}, Kind::Finish, 0},
    // Two open journals: the unit's own port's comes first.
    {"TwoWrittenUnitsSwappedAfterARestart", false, {{M::Fresh, false, true, true}, {M::Fresh, false, false, true}}, Kind::Ask, 0, 2},
    {"TwoWrittenUnitsOneWatchedAtItsPort", false, {{M::Fresh, true, true, true}, {M::Fresh, false, false, true}}, Kind::Finish, 0},
    {"WrittenUnitMovedToAWatchedPort", false, {{M::Fresh, false, true, true}, {M::Fresh, true, false, true}}, Kind::Finish, 1},
    {"SwappedUnitShowsTheOtherJournalsCalibration", false, {{M::Another, false, true, true}, {M::Saved, false, false, true}}, Kind::Finish, 1},
    {"OnlyOneJournalsPackageFits", false, {{M::Another, false, true, false}, {M::Fresh, false, false, true}}, Kind::Ask, 1},
    {"NeitherJournalsUnit", false, {{M::Another, false, true, true}, {M::Another, false, false, true}}, Kind::NewUnit, -1},
    {"TwoBootLoadersSwapped", true, {{M::Unknown, false, true, false}, {M::Unknown, false, false, false}}, Kind::Ask, 0, 2},
    {"BootLoaderWatchedBesideAnotherJournal", true, {{M::Unknown, false, false, false}, {M::Unknown, true, true, false}}, Kind::Finish, 1},
    // No journal open at all.
    {"NoJournal", false, {}, Kind::NewUnit, -1},
};

class IdentityTable : public ::testing::TestWithParam<Row> {};

TEST_P(IdentityTable, DecidesFromEvidenceNeverFromThePortAlone) {
    const Row& row = GetParam();
    const IdentityDecision decision = decideIdentity(row.inBootLoader, row.journals);
    EXPECT_EQ(decision.kind, row.kind) << decision.why.toStdString();
    if (row.kind != Kind::NewUnit || row.journal >= 0)
        EXPECT_EQ(decision.journal, row.journal) << decision.why.toStdString();
    if (row.kind == Kind::Ask) {
        ASSERT_EQ(int(decision.candidates.size()), row.asked);
        EXPECT_EQ(decision.candidates.front(), decision.journal) << "the one asked about comes first";
    }
    EXPECT_FALSE(decision.why.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Evidence, IdentityTable, ::testing::ValuesIn(kTable),
                         [](const auto& info) { return std::string(info.param.name); });

QString digest(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// How a unit's calibration reads against one journal: saved, left by a push, cut short,
// the package's fresh one, its own, another package's, unreadable, in its boot loader.
TEST(CalibrationMatch, EachSignReadsAsItsKind) {
    const QByteArray saved = "calibration of A, long enough to be cut";
    UpdateJournal journal;
    journal.packageVersion = QStringLiteral("1.0.4");
    journal.files = {{contract::kWifiBoardData, digest(saved)}};
    journal.afterPush = {digest("what a push left")};
    const JournalCalibrations known{saved, digest("fresh")};
    const auto match = [&](std::optional<QByteArray> calibration, const char* version = "1.0.4",
                           JournalCalibrations k = {}, bool bootLoader = false) {
        UnitSighting seen;
        seen.inBootLoader = bootLoader;
        seen.version = QString::fromLatin1(version);
        seen.calibration = std::move(calibration);
        return matchCalibration(journal, seen, k.saved || k.fresh ? k : known);
    };
    EXPECT_EQ(match(saved), M::Saved);
    EXPECT_EQ(match(saved, "1.0.3"), M::Saved) << "its own data, before the writing";
    EXPECT_EQ(match(QByteArray("what a push left")), M::Saved);
    EXPECT_EQ(match(saved.left(10)), M::Saved) << "a push cut short";
    EXPECT_EQ(match(saved.left(10), "1.0.3"), M::Another);
    EXPECT_EQ(match(QByteArray("fresh")), M::Fresh);
    journal.afterPush << digest("fresh");
    EXPECT_EQ(match(QByteArray("fresh")), M::Fresh) << "a push refused whole marks no unit";
    EXPECT_EQ(match(QByteArray("fresh"), "1.0.5"), M::Another) << "another package's firmware";
    EXPECT_EQ(match(QByteArray("calibration of B")), M::Another);
    EXPECT_EQ(match(QByteArray("calibration of B"), "1.0.4", JournalCalibrations{saved, std::nullopt}), M::Unknown)
        << "what the writing leaves is not learned yet";
    EXPECT_EQ(match(std::nullopt), M::Unknown);
    EXPECT_EQ(match(std::nullopt, "1.0.3"), M::Another);
    EXPECT_EQ(match(QByteArray("fresh"), "", {}, true), M::Unknown);
}

} // namespace

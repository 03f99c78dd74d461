// The final screen and next state for every result code of an update run, and what a finish
// keeps of what it found.

#include "bridge/Contract.h"
#include "workflow/Completion.h"
#include "workflow/FoundCopy.h"
#include "tests/workflow/AppHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* const kStartWarning = "warning Please do not remove, update is in progress.";

// The window as a Start press leaves it, with a percentage the completion must not touch.
class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        app().session().setState(SessionState::Updating);
        app().session().animate(true);
        app().session().showWarning(QString::fromUtf8(kStartWarning));
        app().session().enableButton(false);
        app().session().showButtonTitle(L("btn Processing"));
        app().session().setTextLabel(std::nullopt, true);
        app().session().showProgress(0.0);
        app().session().showProgress(0.73);
        h.window().setCloseEnabled(false);
        app().session().setDeviceVersion(QString::fromUtf8("MDM9615_V1.0.7"));
        app().session().setNewVersionRead(true);
    }

    Application& app() { return h.app(); }

    TempBundle bundle;
    AppHarness h{bundle};
};

UpdateOutcome ended(int32_t code, UpdateOutcome::Data data = UpdateOutcome::Data::NotNeeded) {
    UpdateOutcome outcome{static_cast<UpdateResult>(code)};
    outcome.data = data;
    return outcome;
}

const char* const kReconnect = "info Please check device, reconnect it and try again.";

struct Outcome {
    int32_t code;
    const char* statusKey;
    const char* mode; // the "%s" of the status, or null
    SessionState state;
    const char* button;
    const char* info = kReconnect;
    UpdateOutcome::Data data = UpdateOutcome::Data::NotNeeded;

    QString status() const {
        return mode ? messages::lookupFilled(statusKey, QString::fromLatin1(mode)) : L(statusKey);
    }
};

void PrintTo(const Outcome& o, std::ostream* os) { *os << "code " << o.code; }

class CompletionOutcome : public CompletionTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(CompletionOutcome, ShowsFailureAndNextState) {
    const Outcome& o = GetParam();
    showUpdateResult(app().session(), ended(o.code, o.data));
    const Screen s = h.screen();
    EXPECT_EQ(s.status, o.status());
    EXPECT_EQ(app().session().state(), o.state);
    EXPECT_TRUE(s.info.startsWith(L(o.info).section(QStringLiteral("%s"), 0, 0))) << s.info.toStdString();
    EXPECT_TRUE(s.infoVisible);
    EXPECT_FALSE(s.imageVisible);
    // The warning of the Start press stays.
    EXPECT_EQ(s.warning, L(kStartWarning));
    EXPECT_TRUE(s.warningVisible);
    EXPECT_TRUE(s.buttonEnabled);
    EXPECT_EQ(s.buttonTitle, L(o.button));
}

const char* const kSomeError = "stat Fail to upgrade by some error !";

INSTANTIATE_TEST_SUITE_P(
    Codes, CompletionOutcome,
    ::testing::Values(Outcome{2, "stat Device not found !", nullptr, SessionState::Updating, "btn Retry"},
                      Outcome{4, "stat Fail to switch back [%s] mode !", "FTM", SessionState::Updating, "btn Retry"},
                      Outcome{5, "stat Fail to switch [%s] mode !", "Fastboot", SessionState::Updating, "btn Retry"},
                      Outcome{6, "stat Fail to switch back [%s] mode !", "USR", SessionState::Updating, "btn Retry"},
                      Outcome{7, "stat Fail to write image !", nullptr, SessionState::Finished, "btn Close"},
                      // Some images written and the data not back: Try Again finishes it.
                      Outcome{7, "stat Fail to write image !", nullptr, SessionState::Updating, "btn Retry", kReconnect,
                              UpdateOutcome::Data::NotBack},
                      Outcome{1, kSomeError, nullptr, SessionState::Finished, "btn Close"},
                      Outcome{3, "stat The update was not started !", nullptr, SessionState::Updating, "btn Retry"},
                      // Never a success: its own status, and Try Again puts the data back.
                      Outcome{8, "stat The firmware was written, but your data did not go back !", nullptr,
                              SessionState::Updating, "btn Retry", "info Press Try Again to put your data back.",
                              UpdateOutcome::Data::NotBack},
                      Outcome{9, "stat The update could not be recorded, so nothing was written !", nullptr,
                              SessionState::Updating, "btn Retry", "info Make room on the disk or let %s be written, then try again."},
                      Outcome{-1, kSomeError, nullptr, SessionState::Finished, "btn Close"},
                      Outcome{INT32_MIN, kSomeError, nullptr, SessionState::Finished, "btn Close"}));

TEST_F(CompletionTest, SuccessShowsDeviceVersionAndFinishes) {
    showUpdateResult(app().session(), ended(0));
    const Screen s = h.screen();
    EXPECT_EQ(s.status, L("stat Success upgrade device !"));
    EXPECT_EQ(app().session().state(), SessionState::Finished);
    EXPECT_EQ(s.info, L("info Current version") + "\n\tMDM9615_V1.0.7\n" + L("info Your vesion is up to date"));
    EXPECT_TRUE(s.infoVisible);
    EXPECT_FALSE(s.imageVisible);
    EXPECT_EQ(s.warning, L("warning Update is finished."));
    EXPECT_TRUE(s.warningVisible);
    EXPECT_TRUE(s.buttonEnabled);
    EXPECT_EQ(s.buttonTitle, L("btn Close"));
}

// The version read before the update stands in the session: it is not shown as the new one.
TEST_F(CompletionTest, SuccessWithoutTheNewVersionSaysItWasNotRead) {
    app().session().setNewVersionRead(false);
    app().session().setKeptNote(QStringLiteral("/store/entry"));
    showUpdateResult(app().session(), ended(0));
    const Screen s = h.screen();
    EXPECT_EQ(s.status, L("stat Success upgrade device !"));
    EXPECT_EQ(s.info, L("info The firmware was written, but its new version could not be read.") + "\n" +
                          messages::lookupFilled("info Device data not restored, a copy is kept in %s", "/store/entry"));
    EXPECT_FALSE(s.info.contains(QStringLiteral("MDM9615_V1.0.7")));
    EXPECT_EQ(app().session().state(), SessionState::Finished);
    EXPECT_EQ(s.buttonTitle, L("btn Close"));
}

TEST_F(CompletionTest, SuccessWithoutDeviceVersionLeavesOnlyTheTab) {
    app().session().setDeviceVersion(QString::fromUtf8(""));
    showUpdateResult(app().session(), ended(0));
    EXPECT_EQ(h.screen().info, L("info Current version") + "\n\t\n" + L("info Your vesion is up to date"));
}

TEST_F(CompletionTest, DeviceVersionIsShownAsUtf8) {
    app().session().setDeviceVersion(QStringLiteral("V\u00e9rsion_2"));
    showUpdateResult(app().session(), ended(0));
    EXPECT_TRUE(h.screen().info.contains(QStringLiteral("\n\tV\u00e9rsion_2\n")));
}

class CompletionEveryCode : public CompletionTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(CompletionEveryCode, BarStillAndIndeterminateCloseAllowedPercentKept) {
    showUpdateResult(app().session(), ended(GetParam()));
    const Screen s = h.screen();
    EXPECT_TRUE(s.barIndeterminate);
    EXPECT_FALSE(s.barAnimating);
    EXPECT_EQ(s.percent, QStringLiteral("73 %"));
    EXPECT_TRUE(h.window().closeEnabled());
}

INSTANTIATE_TEST_SUITE_P(Codes, CompletionEveryCode, ::testing::Values(0, 1, 2, 4, 5, 6, 7, 8, 9, 10, -7));

} // namespace

namespace {

BackupFile copyOf(const QString& devicePath, const char* sha256, bool restored = false) {
    BackupFile file;
    file.devicePath = devicePath;
    file.sha256 = QString::fromLatin1(sha256);
    file.restored = restored;
    return file;
}

} // namespace

// What a finish found on its unit goes only when none of it would be lost: each file is the
// unit's own copy, read back on it, or the calibration the writing leaves.
TEST(FoundCopy, GoesOnlyWhenNothingOfItWouldBeLost) {
    const QString cal = contract::kWifiBoardData;
    const QString cfg = contract::kConfigDb;
    BackupManifest own;
    own.files = {copyOf(cal, "own-cal", true), copyOf(cfg, "own-cfg", true)};
    BackupManifest notBack = own;
    notBack.files[1].restored = false;
    const std::optional<QString> fresh = QStringLiteral("fresh-cal");
    const struct {
        const char* name;
        std::vector<BackupFile> found;
        const BackupManifest& own;
        std::optional<QString> fresh;
        bool unneeded;
    } rows[] = {
        {"its own data", {copyOf(cal, "own-cal"), copyOf(cfg, "own-cfg")}, own, fresh, true},
        {"the fresh calibration and its own settings", {copyOf(cal, "fresh-cal"), copyOf(cfg, "own-cfg")}, own, fresh, true},
        {"its own calibration, settings set up by hand", {copyOf(cal, "own-cal"), copyOf(cfg, "by-hand")}, own, fresh, false},
        {"the fresh calibration, other settings", {copyOf(cal, "fresh-cal"), copyOf(cfg, "factory")}, own, fresh, false},
        {"the fresh calibration, not learned", {copyOf(cal, "fresh-cal"), copyOf(cfg, "own-cfg")}, own, std::nullopt, false},
        {"its own settings, not read back", {copyOf(cal, "own-cal"), copyOf(cfg, "own-cfg")}, notBack, fresh, false},
        {"the settings' digest as the fresh calibration's", {copyOf(cal, "own-cal"), copyOf(cfg, "fresh-cal")}, own, fresh, false},
    };
    for (const auto& row : rows) {
        BackupManifest found;
        found.files = row.found;
        EXPECT_EQ(foundCopyUnneeded(found, row.own, row.fresh), row.unneeded) << row.name;
    }
    BackupManifest failed;
    failed.files = {copyOf(cal, "own-cal")};
    failed.notSaved.insert(cfg, QStringLiteral("copy failed"));
    EXPECT_FALSE(foundCopyUnneeded(failed, own, fresh)) << "a file that could not be copied";
    failed.notSaved.insert(cfg, QStringLiteral("absent on the device"));
    EXPECT_TRUE(foundCopyUnneeded(failed, own, fresh)) << "a file the unit did not have";
}

#include "workflow/Completion.h"
#include "bridge/Contract.h"
#include "bridge/RunLog.h"
#include "workflow/DeviceSession.h"
#include "workflow/Messages.h"
#include "bridge/UserFolders.h"

#include <QDir>

// Shows the outcome of an update run and decides the next state. Runs on the GUI thread
// (the update worker posts it and waits), so it changes the screen directly.

using messages::lookup;
using messages::lookupFilled;

namespace {

// The information text, and where the device data is kept when it did not go back.
QString withKeptBackup(const QString& info, const QString& kept) {
    if (kept.isEmpty())
        return info;
    return info + QStringLiteral("\n") +
           lookupFilled("info Device data not restored, a copy is kept in %s", kept);
}

QString successText(const DeviceSession& session) {
    // The version read before the update is not the new one: say none was read.
    return session.newVersionRead() ? lookup("info Current version") + QStringLiteral("\n\t") + session.deviceVersion() +
                                          QStringLiteral("\n") + lookup("info Your vesion is up to date")
                                    : lookup("info The firmware was written, but its new version could not be read.");
}

QString statusText(UpdateResult result) {
    switch (result) {
    case UpdateResult::Updated:
        return lookup("stat Success upgrade device !");
    case UpdateResult::NoDevice:
        return lookup("stat Device not found !");
    case UpdateResult::NotStarted:
        return lookup("stat The update was not started !");
    case UpdateResult::FtmFailed:
        return lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeFtm);
    case UpdateResult::FastbootFailed:
        return lookupFilled("stat Fail to switch [%s] mode !", contract::kModeFastboot);
    case UpdateResult::UsrFailed:
        return lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeUsr);
    case UpdateResult::WriteFailed:
        return lookup("stat Fail to write image !");
    case UpdateResult::DataNotBack:
        return lookup("stat The firmware was written, but your data did not go back !");
    case UpdateResult::JournalFailed:
        return lookup("stat The update could not be recorded, so nothing was written !");
    case UpdateResult::Error:
        break;
    }
    return lookup("stat Fail to upgrade by some error !");
}

QString infoText(const DeviceSession& session, const UpdateOutcome& outcome) {
    QString info;
    if (outcome.result == UpdateResult::Updated)
        info = successText(session);
    else if (outcome.result == UpdateResult::DataNotBack)
        info = lookup("info Press Try Again to put your data back.");
    else if (outcome.result == UpdateResult::JournalFailed)
        info = lookupFilled("info Make room on the disk or let %s be written, then try again.",
                            QDir::toNativeSeparators(stateFolder()));
    else
        info = lookup("info Please check device, reconnect it and try again.");
    if (!outcome.journalKept)
        info += u'\n' + lookup("info The update journal could not be written; every copy of your data is kept.");
    return withKeptBackup(info, session.keptNote());
}

} // namespace

void showUpdateResult(DeviceSession& session, const UpdateOutcome& outcome) {
    runlog::write("update", QStringLiteral("ended with code %1: images %2, data %3, version %4")
                                .arg(outcome.code())
                                .arg(imagesName(outcome.images), dataName(outcome.data),
                                     outcome.versionRead ? QStringLiteral("read") : QStringLiteral("not read")));
    session.showStatus(statusText(outcome.result));
    session.setTextLabel(infoText(session, outcome), false);
    if (outcome.result == UpdateResult::Updated)
        session.showWarning(QStringLiteral("warning Update is finished."));
    session.enableButton(true);
    // Tried again, the device can be brought further: the state stays at updating and the
    // button offers Retry.
    if (outcome.retryable()) {
        session.showButtonTitle(lookup("btn Retry"));
    } else {
        session.move(SessionState::Updating, SessionState::Finished);
        session.showButtonTitle(lookup("btn Close"));
    }
    // Every outcome: the bar stands still, and the window may be closed again.
    session.updateEnded(outcome);
}

#include "workflow/Completion.h"
#include "bridge/Contract.h"
#include "bridge/RunLog.h"
#include "workflow/DeviceSession.h"
#include "workflow/Messages.h"

// Shows the outcome of an update run and decides the next state. Runs on the GUI thread
// (the update worker posts it and waits), so it changes the screen directly.

using messages::lookup;
using messages::lookupFilled;

namespace {

constexpr int32_t kStateFinished = 4;

// The information text, and where the device data is kept when it did not go back.
QString withKeptBackup(const QString& info, const QString& kept) {
    if (kept.isEmpty())
        return info;
    return info + QStringLiteral("\n") +
           lookupFilled("info Device data not restored, a copy is kept in %s", kept);
}

} // namespace

void showUpdateResult(DeviceSession& session, int32_t code) {
    runlog::write("update", QStringLiteral("ended with code %1").arg(code));
    const QString retryAdvice =
        withKeptBackup(lookup("info Please check device, reconnect it and try again."), session.keptNote());
    switch (code) {
    case 0: {
        session.showStatus(lookup("stat Success upgrade device !"));
        session.setState(kStateFinished);
        // The version read before the update is not the new one: say none was read.
        const QString text = session.newVersionRead()
                                 ? lookup("info Current version") + QStringLiteral("\n\t") +
                                       session.deviceVersion() + QStringLiteral("\n") +
                                       lookup("info Your vesion is up to date")
                                 : lookup("info The firmware was written, but its new version could not be read.");
        session.setTextLabel(withKeptBackup(text, session.keptNote()), false);
        session.showWarning(QStringLiteral("warning Update is finished."));
        session.enableButton(true);
        session.showButtonTitle(lookup("btn Close"));
        break;
    }
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: {
        // The device can be tried again: the state stays at updating, the button offers Retry.
        if (code == 2)
            session.showStatus(lookup("stat Device not found !"));
        else if (code == 3)
            session.showStatus(lookup("stat The update was not started !"));
        else if (code == 4)
            session.showStatus(lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeFtm));
        else if (code == 5)
            session.showStatus(lookupFilled("stat Fail to switch [%s] mode !", contract::kModeFastboot));
        else
            session.showStatus(lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeUsr));
        session.setTextLabel(retryAdvice, false);
        session.enableButton(true);
        session.showButtonTitle(lookup("btn Retry"));
        break;
    }
    default:
        session.showStatus(code == 7 ? lookup("stat Fail to write image !")
                                       : lookup("stat Fail to upgrade by some error !"));
        session.setTextLabel(retryAdvice, false);
        session.setState(kStateFinished);
        session.enableButton(true);
        session.showButtonTitle(lookup("btn Close"));
        break;
    }
    // Every outcome: the bar stands still, and the window may be closed again.
    session.updateEnded(code);
}

#include "app/AppDelegate.h"
#include "app/RunLog.h"
#include "bridge/Contract.h"


// Shows the outcome of an update run and decides the next state. Runs on the GUI thread
// (the update worker posts it and waits), so it changes the screen directly.

namespace {

constexpr int32_t kStateFinished = 4;

// The information text, and where the device data is kept when it did not go back.
QString withKeptBackup(const QString& info, const QString& kept) {
    if (kept.isEmpty())
        return info;
    return info + QStringLiteral("\n") +
           AppDelegate::lookupFilled("info Device data not restored, a copy is kept in %s", kept);
}

} // namespace

void AppDelegate::updateWhenDone(int32_t code) {
    runlog::write("update", QStringLiteral("ended with code %1").arg(code));
    const QString retryAdvice =
        withKeptBackup(lookup("info Please check device, reconnect it and try again."), m_keptBackup);
    switch (code) {
    case 0: {
        updateStatusTxt(lookup("stat Success upgrade device !"));
        setStatus(kStateFinished);
        const QString text = lookup("info Current version") + QStringLiteral("\n\t") +
                             versionText(m_dev_version) + QStringLiteral("\n") +
                             lookup("info Your vesion is up to date");
        setTextLabel(withKeptBackup(text, m_keptBackup), false);
        updateWaringText(QStringLiteral("warning Update is finished."));
        enbaleButton(true);
        updateButtonTitle(lookup("btn Close"));
        break;
    }
    case 2:
    case 4:
    case 5:
    case 6: {
        // The device can be tried again: the state stays at updating, the button offers Retry.
        if (code == 2)
            updateStatusTxt(lookup("stat Device not found !"));
        else if (code == 4)
            updateStatusTxt(lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeFtm));
        else if (code == 5)
            updateStatusTxt(lookupFilled("stat Fail to switch [%s] mode !", contract::kModeFastboot));
        else
            updateStatusTxt(lookupFilled("stat Fail to switch back [%s] mode !", contract::kModeUsr));
        setTextLabel(retryAdvice, false);
        enbaleButton(true);
        updateButtonTitle(lookup("btn Retry"));
        break;
    }
    default:
        updateStatusTxt(code == 7 ? lookup("stat Fail to write image !")
                                       : lookup("stat Fail to upgrade by some error !"));
        setTextLabel(retryAdvice, false);
        setStatus(kStateFinished);
        enbaleButton(true);
        updateButtonTitle(lookup("btn Close"));
        break;
    }
    // Every outcome: the bar stands still, and the window may be closed again.
    m_face->updateEnded(code);
}

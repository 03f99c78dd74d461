// The start-up worker: checks the package once and moves the session from
// initialising to searching, or to finished with the reason on the screen.

#include "workflow/PackageCheck.h"
#include "usb/usbutils.h"
#include "workflow/DeviceSession.h"
#include "workflow/Messages.h"
#include "workflow/PackageReader.h"
#include "workflow/Services.h"
#include "workflow/SignedCheck.h"
#include "workflow/VersionCompare.h"

#include <QDebug>
#include <QDir>

using messages::lookup;

namespace {

// The bundle's own keys and the machine's; a key file or folder others may write is passed over.
package::TrustedKeys trustedKeys(const Environment& env) {
    const auto source = package::TrustedKeys::Source::installed(env.resourcesPath(), env.systemKeysDir, env.keyOwner);
    return package::TrustedKeys::load(source, [](const QString& line) {
        qWarning("hotspot-updater: %s", qPrintable(line));
    });
}

// The check of the package, each good image copied into `copies` as it is hashed: the update
// writes those copies. Without a place for them nothing could be written: nothing is verified.
package::PackageJudgement judge(const Environment& env, const QByteArray& versionBytes,
                                const std::vector<ImageEntry>& entries, const package::TrustedKeys& keys,
                                const CheckedCopies* copies) {
    if (!copies) {
        qWarning("hotspot-updater: no private folder for the checked images in %s", qPrintable(QDir::tempPath()));
        package::PackageJudgement none;
        none.selection = package::Selection{0, std::vector<bool>(entries.size(), false)};
        return none;
    }
    return package::checkPackage(env.resourcesPath(), versionBytes, entries, keys, 0,
                                 package::ImageHasher::Stop::AtFirstFailure, copies->path());
}

} // namespace

void runPackageCheck(DeviceSession& session, const Services& services) {
    if (session.state() != SessionState::Checking)
        return;
    const Environment& env = services.env;

    // Every failure ends in state 4 with the reason on the status line and as a warning.
    auto fail = [&session](const char* key) {
        session.move(SessionState::Checking, SessionState::Finished);
        session.showStatus(lookup(key));
        session.showWarning(QString::fromUtf8(key));
    };
    auto offerClose = [&session] {
        session.showButtonTitle(lookup("btn Close"));
        session.enableButton(true);
    };

    if (!services.host.isDriverInstalled()) {
        fail("stat Please install driver");
        session.showAlert(QStringLiteral("stat Please install driver"));
        offerClose();
        session.packageCheckFailed(true);
        return;
    }

    session.setDeviceVersion(QString());
    // Before any device is offered anything: an update left unfinished comes first.
    for (const SetAsideJournal& aside : services.journal.review())
        session.showNotice(setAsideNotice(aside));
    QString unreadable;
    const std::optional<QByteArray> versionBytes =
        package::readFileBytes(package::versionFilePath(env.bundlePath), -1, &unreadable);
    const std::optional<QString> text = versionBytes ? package::decodeText(*versionBytes) : std::nullopt;
    if (!text) {
        if (!versionBytes)
            qWarning("hotspot-updater: %s %s", qPrintable(package::versionFilePath(env.bundlePath)), qPrintable(unreadable));
        fail("stat Fail to check version info !");
        offerClose();
        session.packageCheckFailed(false);
        return;
    }
    const QStringList pieces = package::cutPieces(*text);
    if (pieces.size() < package::kMinPieces) {
        fail("stat Fail to check version info !");
        offerClose();
        // The window's close button is the only way out then.
        session.enableButton(false);
        session.packageCheckFailed(false);
        return;
    }

    const QString packageVersion = version::ofPackage(pieces.front());
    std::vector<ImageEntry> entries = package::readImageLines(pieces);
    // The table remembers what was verified: the update writes exactly those entries.
    const package::TrustedKeys keys = trustedKeys(env);
    const std::shared_ptr<const CheckedCopies> copies = CheckedCopies::make();
    const package::PackageJudgement judgement = judge(env, *versionBytes, entries, keys, copies.get());
    const package::Selection& selection = judgement.selection;
    QHash<QString, QString> checkedFiles;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].verified = selection.verified[i];
        if (entries[i].verified && i < judgement.checks.size())
            checkedFiles.insert(QString::fromUtf8(entries[i].file, qstrnlen(entries[i].file, sizeof entries[i].file)),
                                judgement.checks[i].copy);
    }
    const uint64_t total = selection.total;
    session.setPackage(std::make_shared<const Package>(packageVersion, std::move(entries), total,
                                                       std::move(checkedFiles), copies,
                                                       QString::fromLatin1(package::sha256Hex(*versionBytes)),
                                                       QString::fromLatin1(judgement.keyId)));

    if (total == 0) {
        session.move(SessionState::Checking, SessionState::Finished);
        session.animate(true);
        session.showStatus(lookup("stat Fail to check image file !"));
        session.showWarning(QStringLiteral("stat Fail to check image file !"));
        if (judgement.signatureRefuses()) {
            qWarning("hotspot-updater: package refused: %s", qPrintable(judgement.why));
            session.showInfo(judgement.signature == package::SignatureState::NoTrustedKey
                                 ? messages::lookupFilled("info No trusted key could be read: %s", keys.whyNone())
                                 : messages::lookupFilled("info The firmware package failed its signature check: %s",
                                                          judgement.why));
        }
        offerClose();
        session.packageCheckFailed(false);
        return;
    }

    do_init_utils();
    try {
        services.host.prepareAdb();
    } catch (const ToolLaunchError& e) {
        // The detection loop meets the missing tool again and keeps searching.
        qWarning("hotspot-updater: %s", e.what());
    }
    showLookingForDevice(session);
}

void showLookingForDevice(DeviceSession& session) {
    session.animate(true);
    session.showStatus(lookup("stat Detecting device ..."));
    session.showButtonTitle(lookup("btn Searching"));
    session.showInfo(QStringLiteral("%1:\n\t%2").arg(lookup("info Version after update"), session.packageVersion()));
    // Last: the package and the device's version are in place before anyone acts on it.
    session.move(session.state(), SessionState::Searching);
}

// The start-up worker: checks the package once and moves the controller from
// initialising to searching, or to finished with the reason on the screen.

#include "app/AppDelegate.h"
#include "usb/usbutils.h"
#include "workflow/SignedCheck.h"
#include "workflow/PackageReader.h"

#include <QDebug>
#include <cstring>

namespace {

// The bundle's own keys and the machine's; a key file others may write is passed over.
package::TrustedKeys trustedKeys(const Environment& env, const QString& resources) {
    const auto source = package::TrustedKeys::Source::installed(resources, env.systemKeysDir, env.keyOwner);
    return package::TrustedKeys::load(source, [](const QString& line) {
        qWarning("hotspot-updater: %s", qPrintable(line));
    });
}

} // namespace

void AppDelegate::initializeProc() {
    if (status() != 0)
        return;

    // Every failure ends in state 4 with the reason on the status line and as a warning.
    auto fail = [this](const char* key) {
        setStatus(4);
        postStatus(lookup(key));
        postWarning(QString::fromUtf8(key));
    };
    auto offerClose = [this] {
        postButtonTitle(lookup("btn Close"));
        postEnableButton(true);
    };

    if (!isDriverInstalled()) {
        fail("stat Please install driver");
        postAlert(QStringLiteral("stat Please install driver"));
        offerClose();
        return;
    }

    std::memset(m_tool_version, 0, 256);
    std::memset(m_dev_version, 0, 256);

    const std::optional<QByteArray> versionBytes = package::readFileBytes(package::versionFilePath(m_env.bundlePath));
    const std::optional<QString> text = versionBytes ? package::decodeText(*versionBytes) : std::nullopt;
    if (!text) {
        fail("stat Fail to check version info !");
        offerClose();
        return;
    }
    const QStringList pieces = package::cutPieces(*text);
    if (pieces.size() < package::kMinPieces) {
        fail("stat Fail to check version info !");
        offerClose();
        // The window's close button is the only way out then.
        postEnableButton(false);
        return;
    }

    copyVersion(m_tool_version, parseVersionNumber(pieces.front()).toUtf8());

    const std::vector<ImageEntry> entries = package::readImageLines(pieces);
    // The table remembers what was verified: the update writes exactly those entries.
    const package::PackageJudgement judgement =
        package::checkPackage(resourcesPath(), *versionBytes, entries, trustedKeys(m_env, resourcesPath()));
    const package::Selection& selection = judgement.selection;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        s_image_table[i] = entries[i];
        s_image_table[i].verified = selection.verified[i];
    }
    const uint64_t total = selection.total;
    m_total.store(total);

    if (total == 0) {
        setStatus(4);
        postStartAnim(true);
        postStatus(lookup("stat Fail to check image file !"));
        postWarning(QStringLiteral("stat Fail to check image file !"));
        if (judgement.signatureRefuses()) {
            qWarning("hotspot-updater: package refused: %s", qPrintable(judgement.why));
            postInfo(lookupFilled("info The firmware package failed its signature check: %s", judgement.why));
        }
        offerClose();
        return;
    }

    do_init_utils();
    try {
        prepareAdb();
    } catch (const ToolLaunchError& e) {
        // The detection loop meets the missing tool again and keeps searching.
        qWarning("hotspot-updater: %s", e.what());
    }
    postStartAnim(true);
    postStatus(lookup("stat Detecting device ..."));
    postButtonTitle(lookup("btn Searching"));
    postInfo(QStringLiteral("%1:\n\t%2")
                 .arg(lookup("info Version after update"), QString::fromUtf8(m_tool_version)));
    // Last: the table, both versions and the total are in place before anyone acts on 1.
    setStatus(1);
}

std::optional<QString> AppDelegate::getMd5Sum(const QString& path) { return package::md5Hex(path); }

#pragma once
// The package check as a whole: with no key folder and no signature, the images against the
// version file (as always); with either, also who signed the package and that every signed
// byte is still the same. A key folder none of whose keys loads refuses every package. Each image is read once: its MD5 and its SHA-256 in the same pass.

#include "workflow/ImageHasher.h"
#include "workflow/PackageKeys.h"

namespace package {

enum class SignatureState {
    Unsigned,     // no key folder and no signature: not checked
    Good,
    NoTrustedKey, // a key folder or a signature, but no key that loads
    Missing,      // no manifest.sig (or no manifest)
    Malformed,    // manifest.sig is not a signature file
    UntrustedKey,
    BadSignature, // the signature does not match the manifest
    BadManifest,  // signed, but not a manifest
    VersionChanged,
    ImageChanged,
    ImageMissing,
};

struct PackageJudgement {
    std::vector<ImageCheck> checks; // of the walked entries, in table order
    Selection selection;            // nothing selected when the signature refuses
    SignatureState signature = SignatureState::Unsigned;
    QByteArray keyId; // who signed, when known
    QString why;      // what is wrong with the signature, for the screen and reports

    bool signatureRefuses() const {
        return signature != SignatureState::Unsigned && signature != SignatureState::Good;
    }
};

// `versionBytes`: the version file as read for `entries`. `copyDir`: where each good image's
// private copy goes (see ImageHasher).
[[nodiscard]] PackageJudgement checkPackage(const QString& resourcesDir, const QByteArray& versionBytes,
                                            const std::vector<ImageEntry>& entries, const TrustedKeys& keys,
                                            int threads = 0, ImageHasher::Stop stop = ImageHasher::Stop::AtFirstFailure,
                                            const QString& copyDir = QString());

// SHA-256 of bytes in lowercase hex, as the manifest writes it.
QByteArray sha256Hex(const QByteArray& bytes);

} // namespace package

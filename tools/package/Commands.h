#pragma once
// Subcommands of hotspot-package. Each takes the arguments after its own name and returns
// the process's exit status (0 success, 1 the package is bad, 2 wrong use).

#include "workflow/PackageKeys.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>
#include <optional>

int runCreate(const QStringList& args);
// Defined in verify.cpp; a stand-in that reports it is missing is linked until that exists.
int runVerify(const QStringList& args);
int runInstall(const QStringList& args);
int runKeygen(const QStringList& args);
int runSign(const QStringList& args);

// The bundle this program sits in (<bundle>/Contents/bin/hotspot-package), if it does.
QString ownBundle();
// --keys DIR: its keys are trusted beside those of `bundle` (may be empty) and the machine's.
// nullopt when --keys names no folder.
QCommandLineOption keysOption();
std::optional<package::TrustedKeys> trustedKeys(const QCommandLineParser& parser, const QString& bundle);
// Exactly the keys the application in `bundle` trusts: its own and the machine's.
package::TrustedKeys::Source installedKeys(const QString& bundle);
package::TrustedKeys loadKeys(const package::TrustedKeys::Source& source);

struct PackageReport {
    bool accepted = false;    // the application takes the package
    QStringList presentFiles; // listed image files that are there and match
    QStringList missingFiles; // listed image files that are not there (the application skips them)
    QStringList signedFiles;  // manifest and signature, when the package carries them
};

// The application's check of the package in `folder`, reported line by line on `out`, the
// verdict on `err` when it fails.
[[nodiscard]] PackageReport checkPackageFolder(const QString& folder, const package::TrustedKeys& keys,
                                               QTextStream& out, QTextStream& err);

#pragma once
// Subcommands of hotspot-package. Each takes the arguments after its own name and returns
// the process's exit status (0 success, 1 the package is bad, 2 wrong use).

#include <QStringList>

int runCreate(const QStringList& args);
// Defined in verify.cpp; a stand-in that reports it is missing is linked until that exists.
int runVerify(const QStringList& args);

#pragma once
// The application's command line, read with QCommandLineParser.

#include "app/TerminalOptions.h"

#include <QStringList>
#include <optional>

class QCommandLineParser;

namespace cmdline {

// --cli and the options only the terminal face reads.
void addTerminalOptions(QCommandLineParser& parser);
// True when the arguments ask for the terminal face (--cli, or any of its options).
bool wantsTerminal(const QStringList& arguments);
// Fills `options` from the arguments; the reason when they are not acceptable.
std::optional<QString> readTerminalOptions(const QStringList& arguments, TerminalOptions& options);

} // namespace cmdline

#pragma once
// The terminal's answers to "is this the hotspot whose update stopped?": what --finish and
// --other say for the unit a question is about, and what the user is told when they say
// nothing or not enough. Never --yes: only the user knows which unit is which.

#include "app/TerminalOptions.h"
#include "workflow/SessionListener.h"

#include <QString>

enum class GivenAnswer {
    None,      // no option names this unit's port
    ItsUnit,   // the update asked about is this unit's
    Another,   // not the update asked about: the next one that could be its own is asked
    NotEnough, // several updates could be its own and the option does not say which
};

GivenAnswer givenAnswer(const UnitQuestion& question, const TerminalOptions& options);

// " at PORT" when the update a question is about ran elsewhere than where the unit is now.
QString elsewhere(const UnitQuestion& question);

// Why the unit was left untouched and the options that decide, for its port.
QString howToDecide(const UnitQuestion& question);

// A closed dialog as a person saw it, as text for the terminal.
#pragma once

#include <string>

#include "host_control.h"

// The title, then the gadgets in layout order under the titles of their groups: check
// boxes "[x]" / "[ ]", radios "(*)" / "( )", numbers, texts in quotes, popups with the
// chosen entry; beside each the key a script sets it by (a radio of a choice set by
// "set=choice"), and "(disabled)" where the user could not change it. Buttons, user
// areas and untitled groups are left out.
std::string DialogText(const host::DialogRecord& dialog);

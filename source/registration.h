// The registration procedures every command and tag follows.
#pragma once

#include "c4d.h"

// Command: skipped (success) when the name string is empty; otherwise the object is
// made by allocate, the help string and icon are loaded and the host's result returned.
Bool RegisterCommandFromResource(LONG id, LONG nameString, LONG helpString, const CHAR* iconFile,
                                 CommandData* (*allocate)());

// Tag: skipped (success) when the name string is empty or a tag of that ID is already
// registered (by this or another plug-in).
Bool RegisterTagFromResource(LONG id, LONG nameString, DataAllocator* allocate, const CHAR* description,
                             const CHAR* iconFile);

// The OBJ import command. The file import itself is not part of this build yet: the
// command runs its option stage and says so on the console.
#pragma once

#include "c4d.h"
#include "plugopts.h"


// The option stage: loads the presets, shows the import options dialog and saves the
// presets when it closes (OK or Cancel); on OK the record is adjusted and *scaleFactor
// (may be null) gets its factor. *opened (may be null) tells whether the dialog was
// shown. True on OK.
Bool RunImportOptions(PresetStore& presets, Real* scaleFactor, Bool* opened);


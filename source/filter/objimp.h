// The OBJ import command: options, then an OBJ file, an MTL file or a folder of OBJ
// files, read and built into a document.
#pragma once

#include "c4d.h"
#include "plugopts.h"


// The option stage: loads the presets, shows the import options dialog and saves the
// presets when it closes (OK or Cancel); on OK the record is adjusted and *scaleFactor
// (may be null) gets its factor. *opened (may be null) tells whether the dialog was
// shown. True on OK.
Bool RunImportOptions(PresetStore& presets, Real* scaleFactor, Bool* opened);


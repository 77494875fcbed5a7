// Messages the shell sends the plug-in through its entry point (C4DPL_MESSAGE).
#pragma once

#include "c4d.h"

enum : LONG { KELVANE_MSG_OPTIONS_DIALOG = 1022495 };

// Shows one side's OBJ options dialog as an import or export would, without running
// the import or export: presets loaded, dialog, presets saved, record adjusted on OK.
struct OptionsDialogRequest {
  LONG side;                    // 0 import, 1 export
  BaseDocument* doc;            // export: the document (frame range, n-gon check); may be null
  Bool opened;                  // out: the dialog opened
  Bool confirmed;               // out: closed with OK
  Bool cancelledByValidation;   // out: export: the n-gon question was answered No
};

#include "objimp.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "main.h"
#include "optdialogs.h"
#include "plugin_ids.h"
#include "plugin_messages.h"
#include "registration.h"

Bool RunImportOptions(PresetStore& presets, Real* scaleFactor, Bool* opened) {
  LoadOptsDialog dialog(&presets, scaleFactor);
  if (!PlayOptionsDialog(presets, dialog, opened)) return FALSE;
  AdjustConfirmedImportOpts(presets.importOpts);
  return TRUE;
}

Bool ShowImportOptions(OptionsDialogRequest* request) {
  if (!request) return FALSE;
  PresetStore presets;
  Real scaleFactor = 1.0;
  request->confirmed = RunImportOptions(presets, &scaleFactor, &request->opened);
  return TRUE;
}

namespace {

class ImportPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument* doc) override;
  LONG GetState(BaseDocument* doc) override {
    (void)doc;
    return CMD_ENABLED;
  }

 private:
  PresetStore m_presets;
};

Bool ImportPlugin::Execute(BaseDocument* doc) {
  (void)doc;
  // The dialog sets the factor; this is the importer's value before it runs.
  Real scaleFactor = 1000.0;
  if (!RunImportOptions(m_presets, &scaleFactor, nullptr)) return FALSE;
  GePrint(String("Kelvane: The OBJ file import is not available in this build."));
  return FALSE;
}

CommandData* AllocImportPlugin() { return gNew ImportPlugin; }

}  // namespace

Bool RegisterImportPlugin() {
  return RegisterCommandFromResource(ID_IMPORT_PLUGIN, IDS_IMPORT_NAME, IDS_IMPORT_HELP, "import.tif",
                                     AllocImportPlugin);
}

void FreeImportPlugin() {}

#include "main.h"

#include "plugin_ids.h"
#include "plugin_messages.h"

namespace {

// Menu separators: the host orders and separates a plug-in's commands by the "#$"
// number prefix of their names.
Bool RegisterSeparator(LONG id, const CHAR* name) {
  CommandData* separator = gNew CommandData;
  if (!separator) return FALSE;
  return RegisterCommandPlugin(id, String(name), 0, nullptr, String(), separator);
}

const CHAR* const kEquals = "=============================================================";

}  // namespace

Bool PluginStart() {
  if (!RegisterExportPlugin()) return FALSE;
  if (!RegisterImportPlugin()) return FALSE;
  if (!RegisterMddMpPlugin()) return FALSE;
  if (!RegisterMddDeformer()) return FALSE;
  if (!RegisterMddXpPlugin()) return FALSE;
  if (!RegisterGroupTag()) return FALSE;
  if (!RegisterRegionTag()) return FALSE;
  if (!RegisterXPMaskTag()) return FALSE;

  RegisterURLPlugin();
  RegisterDocsPlugin();

  RegisterSeparator(ID_MENU_SEPARATOR_1, "#$10--");
  RegisterSeparator(ID_MENU_SEPARATOR_2, "#$30--");

  GePrint(String(" "));
  GePrint(String(kEquals));
  GePrint(String("Kelvane " KELVANE_PLUGIN_VERSION " - Wavefront OBJ/MTL and MDD point cache exchange"));
  GePrint(String("Cinema 4D") + String(" 32bit") + String(" Release R13") + String(" (or later) version Installed."));
  GePrint(String(kEquals));
  GePrint(String(" "));
  return TRUE;
}

void PluginEnd() {
  FreeRegionTag();
  FreeGroupTag();
  FreeImportPlugin();
  FreeExportPlugin();
}

Bool PluginMessage(LONG id, void* data) {
  switch (id) {
    case C4DPL_INIT_SYS:
      return resource.Init();
    case C4DPL_ENDACTIVITY:
      return TRUE;
    case C4DMSG_PRIORITY:
      if (data) *static_cast<LONG*>(data) = -1;
      return TRUE;
    case KELVANE_MSG_OPTIONS_DIALOG: {
      auto* request = static_cast<OptionsDialogRequest*>(data);
      if (!request) return FALSE;
      request->opened = request->confirmed = request->cancelledByValidation = FALSE;
      if (request->side == 0) return ShowImportOptions(request);
      if (request->side == 1) return ShowExportOptions(request);
      return FALSE;
    }
    default:
      return FALSE;
  }
}

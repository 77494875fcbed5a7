// Placeholder classes for the plug-ins whose real classes are not built yet. Each keeps
// its row of the registration table (ID, name, help, icon, description) so the host's
// menus and the registry are complete; running one tells the user plainly that the
// feature is missing. A module that gets its real class removes its entry here.
#include "c4d_symbols.h"
#include "main.h"
#include "plugin_ids.h"
#include "registration.h"

namespace {

class PendingCommand : public CommandData {
 public:
  explicit PendingCommand(LONG nameString) : m_nameString(nameString) {}
  Bool Execute(BaseDocument*) override {
    GePrint(String("Kelvane: ") + GeLoadString(m_nameString) + String(" is not available in this build."));
    return FALSE;
  }

 private:
  LONG m_nameString;
};

template <LONG NameString>
CommandData* AllocPendingCommand() {
  return gNew PendingCommand(NameString);
}

class PendingDeformer : public ObjectData {};
NodeData* AllocPendingDeformer() { return gNew PendingDeformer; }

}  // namespace

// The deformer registers without the empty-name check.
Bool RegisterMddDeformer() {
  return RegisterObjectPlugin(ID_MDD_DEFORMER, GeLoadString(IDS_MDDDEFORMER_NAME), OBJECT_MODIFIER,
                              AllocPendingDeformer, String("Omdddeformer"), AutoBitmap("mdd_deform.tif"), 0);
}

#include "MaskTag.h"

#include "c4d_symbols.h"
#include "main.h"
#include "plugin_ids.h"
#include "registration.h"

NodeData* XPMaskTag::Alloc() { return gNew XPMaskTag; }

Bool XPMaskTag::Init(GeListNode* node) {
  BaseContainer* data = static_cast<BaseTag*>(node)->GetDataInstance();
  data->SetBool(XPMASK_SKIP_OBJECT, TRUE);
  data->SetBool(XPMASK_SKIP_CHILDREN, TRUE);
  return TRUE;
}

Bool RegisterXPMaskTag() {
  return RegisterTagFromResource(ID_XPMASK_TAG, IDS_XPMASKTAG_NAME, XPMaskTag::Alloc, "Txpromask", "dontXP.tif");
}

// The export-mask tag: two switches (XPMASK_SKIP_OBJECT, XPMASK_SKIP_CHILDREN in
// c4d_symbols.h) that keep its object, and optionally the object's children, out of the
// OBJ export. Edited in the attribute view through the description "Txpromask".
#pragma once

#include "c4d.h"

class XPMaskTag : public TagData {
 public:
  static NodeData* Alloc();
  // A new tag leaves out both the object and its children.
  Bool Init(GeListNode* node) override;
};

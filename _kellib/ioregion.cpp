#include "ioregion.h"

ioRegionList* ioRegionList::Alloc() { return gNew ioRegionList; }

void ioRegionList::Free(ioRegionList*& list) { gDelete(list); }

ioRegionList::~ioRegionList() { ClearSets(); }

ioRegion* ioRegionList::FindOrAdd(const String& name) {
  if (ioFaceSet* found = FindExact(name)) return static_cast<ioRegion*>(found);
  ioRegion* region = gNew ioRegion(name, Count());
  if (!AppendSet(region)) return nullptr;
  return region;
}

Bool ioRegionList::InitFromObject(BaseDocument* doc, BaseObject* op) {
  const String defaultName = (op ? SafeName(op->GetName()) : String("default")) + String("_Rgn");
  if (!FindOrAdd(defaultName)) return FALSE;
  if (!doc || !op) return TRUE;
  return ForEachMarkerName(op, IOTAG_REGION_ID, [this](const String& name) { return FindOrAdd(name) != nullptr; });
}

void ioRegionList::Clear() {
  ClearSets();
  m_objectSelections.Reset(0);
}

Bool ioRegionList::ResetObjectSelections() { return m_objectSelections.Reset(Count()); }

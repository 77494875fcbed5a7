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

void ioRegionList::BuildSelectionTags(BaseObject* op) {
  if (!op || !ResetObjectSelections()) return;
  const LONG limit = SelectionLimit(op);
  LONG pairs = 0;
  for (const ioRegion* region = First(); region; region = region->Next())
    if (region->HasFaceIndices()) ++pairs;
  if (pairs == 0) return;
  ioSlotFaces* refs = bNew(ioSlotFaces, pairs);
  LONG made = 0;
  for (const ioRegion* region = First(); region; region = region->Next()) {
    if (!region->HasFaceIndices()) continue;
    SelectionTag* tag = m_objectSelections.SlotTag(op, region->index, region->name, IOTAG_REGION_ID, m_pSelectionLayer);
    if (refs && made < pairs) {
      refs[made] = ioSlotFaces{region->index, made, region};
      ++made;
    } else if (tag && !SelectIndices(tag->GetBaseSelect(), region->faceIndices, region->faceIndexCount, limit)) {
      m_objectSelections.ReportLoss("Selection Tag");
    }
  }
  if (refs) {
    if (!m_objectSelections.SelectFaces(refs, made, limit))
      m_objectSelections.ReportLoss("Selection Tag");
    bDelete(refs);
  }
}

void ioRegionList::AssignPolygon(BaseObject* op, LONG regionIndex, LONG polygon) {
  if (!op || polygon < 0 || polygon >= m_objectSelections.polygons.Of(op)) return;
  SelectionTag* tag = m_objectSelections.slots.Get(regionIndex);
  if (!tag) {
    const ioRegion* region = FindByIndex(regionIndex);
    if (!region) return;
    tag = m_objectSelections.SlotTag(op, region->index, region->name, IOTAG_REGION_ID, m_pSelectionLayer);
  }
  if (tag && !tag->GetBaseSelect()->Select(polygon))
    m_objectSelections.ReportLoss("Selection Tag");
}

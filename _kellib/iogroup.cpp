#include "iogroup.h"

namespace {

inline bool IsBlank(CHAR c) { return c == ' ' || c == '\t'; }

}  // namespace

void ioNamePieces::Split(const String& name, Bool multi) {
  count = 0;
  name.GetCString(text, sizeof(text));
  if (!multi) {
    if (text[0]) piece[count++] = text;
    return;
  }
  CHAR* p = text;
  while (*p && count < static_cast<LONG>(sizeof(piece) / sizeof(piece[0]))) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    piece[count++] = p;
    while (*p && !IsBlank(*p)) ++p;
    if (*p) *p++ = 0;
  }
}

ioGroupList* ioGroupList::Alloc() {
  ioGroupList* list = gNew ioGroupList;
  if (!list) return nullptr;
  list->m_pKnownNames = nameHash::Create();
  if (!list->m_pKnownNames) Free(list);
  return list;
}

void ioGroupList::Free(ioGroupList*& list) { gDelete(list); }

ioGroupList::~ioGroupList() {
  ClearSets();
  nameHash::Destroy(&m_pKnownNames);
}

ioGroup* ioGroupList::FindOrAdd(const String& name, Bool multiName) {
  if (ioFaceSet* found = FindExact(name)) return static_cast<ioGroup*>(found);
  ioGroup* group = gNew ioGroup(name, Count(), multiName);
  if (!AppendSet(group)) return nullptr;
  return group;
}

Bool ioGroupList::IsKnownName(const String& name) const {
  return m_pKnownNames && m_pKnownNames->Find(name) != nullptr;
}

LONG ioGroupList::AddKnownName(const String& name) {
  m_pCachedGroup = nullptr;  // a piece's slot may change
  if (!m_pKnownNames || !m_pKnownNames->AddNameEntry(name)) return 0;
  return m_pKnownNames->Count();
}

LONG ioGroupList::KnownNameCount() const { return m_pKnownNames ? m_pKnownNames->Count() : 0; }

LONG ioGroupList::KnownNameIndex(const String& name) const {
  const nameEntry* entry = m_pKnownNames ? m_pKnownNames->Find(name) : nullptr;
  return entry ? entry->index : -1;
}

LONG ioGroupList::KnownNameIndex(const CHAR* name) const {
  const nameEntry* entry = m_pKnownNames && name ? m_pKnownNames->Find(name) : nullptr;
  return entry ? entry->index : -1;
}

Bool ioGroupList::InitFromObject(BaseDocument* doc, BaseObject* op) {
  const String defaultName = (op ? SafeName(op->GetName()) : String("default")) + String("_Grp");
  if (!FindOrAdd(defaultName, FALSE) || !AddKnownName(defaultName)) return FALSE;
  if (!doc || !op) return TRUE;
  return ForEachMarkerName(op, IOTAG_GROUP_ID, [this](const String& name) { return AddKnownName(name) != 0; });
}

void ioGroupList::Clear() {
  m_pCachedGroup = nullptr;
  ClearSets();
  if (m_pKnownNames) m_pKnownNames->Clear();
  m_objectSelections.Reset(0);
}

Bool ioGroupList::ResetObjectSelections() { return m_objectSelections.Reset(KnownNameCount()); }

const ioNamePieces& ioGroupList::PiecesOf(const ioGroup* group, const LONG*& slots) {
  if (group != m_pCachedGroup) {
    m_cachedPieces.Split(group->name, group->multiName);
    for (LONG i = 0; i < m_cachedPieces.count; ++i) {
      const LONG slot = KnownNameIndex(m_cachedPieces.piece[i]);
      m_cachedSlots[i] = slot < 0 ? 0 : slot;
    }
    m_pCachedGroup = group;
  }
  slots = m_cachedSlots;
  return m_cachedPieces;
}

void ioGroupList::BuildSelectionTags(BaseObject* op) {
  if (!op || !ResetObjectSelections()) return;
  const LONG limit = SelectionLimit(op);
  ioNamePieces pieces;
  LONG pairs = 0;
  for (const ioGroup* group = First(); group; group = group->Next()) {
    if (!group->HasFaceIndices()) continue;
    pieces.Split(group->name, group->multiName);
    pairs += pieces.count;
  }
  if (pairs == 0) return;
  // Tags are made in group and piece order; the faces are selected afterwards, slot by
  // slot. Without memory for the pairs each group selects its own faces at once.
  ioSlotFaces* refs = bNew(ioSlotFaces, pairs);
  LONG made = 0;
  for (const ioGroup* group = First(); group; group = group->Next()) {
    if (!group->HasFaceIndices()) continue;
    const LONG* slots = nullptr;
    const ioNamePieces& words = PiecesOf(group, slots);
    for (LONG i = 0; i < words.count; ++i) {
      SelectionTag* tag =
          m_objectSelections.SlotTag(op, slots[i], String(words.piece[i]), IOTAG_GROUP_ID, m_pSelectionLayer);
      if (refs && made < pairs) {
        refs[made] = ioSlotFaces{slots[i], made, group};
        ++made;
      } else if (tag && !SelectIndices(tag->GetBaseSelect(), group->faceIndices, group->faceIndexCount, limit)) {
        m_objectSelections.ReportLoss("Selection Tag");
      }
    }
  }
  if (refs) {
    if (!m_objectSelections.SelectFaces(refs, made, limit))
      m_objectSelections.ReportLoss("Selection Tag");
    bDelete(refs);
  }
}

void ioGroupList::AssignPolygon(BaseObject* op, LONG groupIndex, LONG polygon) {
  if (!op || polygon < 0 || polygon >= m_objectSelections.polygons.Of(op)) return;
  const ioGroup* group = FindByIndex(groupIndex);
  if (!group) return;
  const LONG* slots = nullptr;
  const ioNamePieces& pieces = PiecesOf(group, slots);
  for (LONG i = 0; i < pieces.count; ++i) {
    SelectionTag* tag = m_objectSelections.slots.Get(slots[i]);
    if (!tag)
      tag = m_objectSelections.SlotTag(op, slots[i], String(pieces.piece[i]), IOTAG_GROUP_ID, m_pSelectionLayer);
    if (tag && !tag->GetBaseSelect()->Select(polygon))
      m_objectSelections.ReportLoss("Selection Tag");
  }
}

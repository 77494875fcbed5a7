#include "iogroup.h"

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
  if (!m_pKnownNames || !m_pKnownNames->AddNameEntry(name)) return 0;
  return m_pKnownNames->Count();
}

LONG ioGroupList::KnownNameCount() const { return m_pKnownNames ? m_pKnownNames->Count() : 0; }

LONG ioGroupList::KnownNameIndex(const String& name) const {
  const nameEntry* entry = m_pKnownNames ? m_pKnownNames->Find(name) : nullptr;
  return entry ? entry->index : -1;
}

Bool ioGroupList::InitFromObject(BaseDocument* doc, BaseObject* op) {
  const String defaultName = (op ? SafeName(op->GetName()) : String("default")) + String("_Grp");
  if (!FindOrAdd(defaultName, FALSE) || !AddKnownName(defaultName)) return FALSE;
  if (!doc || !op) return TRUE;
  return ForEachMarkerName(op, IOTAG_GROUP_ID, [this](const String& name) { return AddKnownName(name) != 0; });
}

void ioGroupList::Clear() {
  ClearSets();
  if (m_pKnownNames) m_pKnownNames->Clear();
  m_objectSelections.Reset(0);
}

Bool ioGroupList::ResetObjectSelections() { return m_objectSelections.Reset(KnownNameCount()); }

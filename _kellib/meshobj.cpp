#include "meshobj.h"

meshObj::~meshObj() { bDelete(groupUsed); }

void meshObj::MarkGroupUsed(LONG groupIndex) {
  if (groupUsed && groupIndex >= 0 && static_cast<ULONG>(groupIndex) < groupUsedCount) groupUsed[groupIndex] = 1;
}

meshObjList* meshObjList::Alloc() { return gNew meshObjList; }

void meshObjList::Free(meshObjList*& list) { gDelete(list); }

meshObjList::~meshObjList() { ClearSets(); }

meshObj* meshObjList::FindByName(const String& name) const {
  meshObj* entry = static_cast<meshObj*>(FindExact(name));
  return entry ? entry : First();
}

meshObj* meshObjList::FindOrAdd(const String& name) {
  if (ioFaceSet* found = FindExact(name)) return static_cast<meshObj*>(found);
  meshObj* entry = gNew meshObj(name, Count());
  if (!AppendSet(entry)) return nullptr;
  return entry;
}

Bool meshObjList::SizeGroupUsed(ULONG groups) {
  for (meshObj* entry = First(); entry; entry = entry->Next()) {
    if (groups == 0) {
      bDelete(entry->groupUsed);
      entry->groupUsedCount = 0;
      continue;
    }
    if (groups > static_cast<ULONG>(PTRDIFF_MAX) / sizeof(LONG)) return FALSE;
    // GeRealloc keeps the common part and zero-fills growth; on failure the old block stays.
    void* resized = GeRealloc(entry->groupUsed, static_cast<VLONG>(groups) * static_cast<VLONG>(sizeof(LONG)));
    if (!resized) return FALSE;
    entry->groupUsed = static_cast<LONG*>(resized);
    entry->groupUsedCount = groups;
  }
  return TRUE;
}

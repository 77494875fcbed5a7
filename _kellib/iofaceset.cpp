#include "iofaceset.h"

namespace {

// One scan for faces and line elements alike: the positions of the first n records of
// records[0, total) whose key is the entry's index.
template <class Record>
Bool FillIndices(const ioFaceSet& entry, const Record* records, ULONG total, ULONG n, ULONG*& indices,
                 ULONG& length) {
  bDelete(indices);
  length = 0;
  if (n == 0) return TRUE;
  if (!records || total < n) return FALSE;
  indices = bNew(ULONG, n);
  if (!indices) return FALSE;
  for (ULONG i = 0; i < total && length < n; ++i)
    if (entry.KeyOf(records[i]) == entry.index) indices[length++] = i;
  return TRUE;
}

// Every entry's list at once, in one scan of the table: the lists each entry's own
// fill with n = its count would make. byIndex[k] is the entry of index k, and all
// entries read the same record field. Fails as the entries would, at the first entry
// whose count the table cannot hold or whose array cannot be had.
template <class Record>
Bool FillAllIndices(ioFaceSet* const* byIndex, LONG count, const Record* records, ULONG total,
                    ULONG ioFaceSet::*counter, ULONG* ioFaceSet::*indices, ULONG ioFaceSet::*length,
                    const Record* ioFaceSet::*table) {
  // The entries before a failing one are still filled; those after it are untouched.
  LONG filled = 0;
  for (; filled < count; ++filled) {
    ioFaceSet* entry = byIndex[filled];
    const ULONG n = entry->*counter;
    bDelete(entry->*indices);
    entry->*length = 0;
    entry->*table = nullptr;
    if (n == 0) continue;
    if (!records || total < n || !(entry->*indices = bNew(ULONG, n))) break;
  }
  for (ULONG i = 0; records && i < total; ++i) {
    const LONG key = byIndex[0]->KeyOf(records[i]);
    if (key < 0 || key >= filled) continue;
    ioFaceSet* entry = byIndex[key];
    if (entry->*length < entry->*counter) (entry->*indices)[(entry->*length)++] = i;
  }
  for (LONG e = 0; e < filled; ++e) byIndex[e]->*table = records;
  return filled == count;
}

}  // namespace

ioFaceSet::~ioFaceSet() {
  bDelete(faceIndices);
  bDelete(segIndices);
}

Bool ioFaceSet::SetFaceIndices(const ioFace* faces, ULONG faceTotal, ULONG n) {
  const Bool ok = FillIndices(*this, faces, faceTotal, n, faceIndices, faceIndexCount);
  faceTable = ok ? faces : nullptr;
  return ok;
}

Bool ioFaceSet::SetSegIndices(const ObjSegment* segments, ULONG segTotal, ULONG n) {
  const Bool ok = FillIndices(*this, segments, segTotal, n, segIndices, segIndexCount);
  segTable = ok ? segments : nullptr;
  return ok;
}

// --- selection slots --------------------------------------------------------------------

Bool ioSelectionSlots::Reset(LONG size) {
  if (size == m_count && m_pTags) {
    for (LONG i = 0; i < m_count; ++i) m_pTags[i] = nullptr;
    return TRUE;
  }
  Free();
  if (size <= 0) return size == 0;
  m_pTags = bNew(SelectionTag*, size);
  if (!m_pTags) return FALSE;
  m_count = size;
  return TRUE;
}

void ioSelectionSlots::Free() {
  bDelete(m_pTags);
  m_count = 0;
}

Bool ioSelectionSlots::Set(LONG slot, SelectionTag* tag) {
  if (slot < 0 || slot >= m_count) return FALSE;
  m_pTags[slot] = tag;
  return TRUE;
}

// --- the list -----------------------------------------------------------------------------

Bool ioFaceSetList::IndexedByPosition() const {
  for (LONG i = 0; i < Count(); ++i)
    if (m_pByIndex[i]->index != i) return FALSE;
  return Count() > 0;
}

Bool ioFaceSetList::SetFaceIndices(const ioFace* faces, ULONG faceTotal) {
  if (IndexedByPosition())
    return FillAllIndices(m_pByIndex, Count(), faces, faceTotal, &ioFaceSet::faceCount, &ioFaceSet::faceIndices,
                          &ioFaceSet::faceIndexCount, &ioFaceSet::faceTable);
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (!entry->SetFaceIndices(faces, faceTotal, entry->faceCount)) return FALSE;
  return TRUE;
}

Bool ioFaceSetList::SetSegIndices(const ObjSegment* segments, ULONG segTotal) {
  if (IndexedByPosition())
    return FillAllIndices(m_pByIndex, Count(), segments, segTotal, &ioFaceSet::segCount, &ioFaceSet::segIndices,
                          &ioFaceSet::segIndexCount, &ioFaceSet::segTable);
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (!entry->SetSegIndices(segments, segTotal, entry->segCount)) return FALSE;
  return TRUE;
}

ioFaceSet* ioFaceSetList::FindSet(const String& name) const {
  if (!name.Content()) return nullptr;
  return FindExact(name);
}

ioFaceSet* ioFaceSetList::FindExact(const String& name) const {
  if (m_pNames) {
    // The table keys names by their first 255 characters: check the candidate, and
    // walk the list only for longer names that share those.
    const nameMap<ioFaceSet>::Entry* found = m_pNames->Find(name);
    if (!found) return nullptr;
    if (found->value->name == name) return found->value;
  }
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (entry->name == name) return entry;
  return nullptr;
}

Bool ioFaceSetList::AppendSet(ioFaceSet* entry) {
  if (!entry) return FALSE;
  const LONG count = Count();
  if (count == m_byIndexCapacity) {
    const LONG capacity = m_byIndexCapacity ? m_byIndexCapacity * 2 : 16;
    void* grown = capacity > m_byIndexCapacity
                      ? GeRealloc(m_pByIndex, static_cast<VLONG>(capacity) * static_cast<VLONG>(sizeof(ioFaceSet*)))
                      : nullptr;
    if (!grown) {
      gDelete(entry);
      return FALSE;
    }
    m_pByIndex = static_cast<ioFaceSet**>(grown);
    m_byIndexCapacity = capacity;
  }
  if (!m_pNames) m_pNames = nameMap<ioFaceSet>::Create();
  if (!m_pNames || !m_pNames->AddEntry(entry->name, entry)) {
    gDelete(entry);
    return FALSE;
  }
  m_entries.AppendNode(entry);
  m_pByIndex[count] = entry;
  return TRUE;
}

void ioFaceSetList::ClearSets() {
  m_entries.Clear();
  nameMap<ioFaceSet>::Destroy(&m_pNames);
  GeFree(m_pByIndex);
  m_byIndexCapacity = 0;
}

ioFaceSet* ioFaceSetList::FindSetByIndex(LONG index) const {
  if (index >= 0 && index < Count() && m_pByIndex[index]->index == index) return m_pByIndex[index];
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (entry->index == index) return entry;
  return FirstSet();
}

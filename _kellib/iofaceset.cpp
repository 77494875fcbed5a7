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

Bool ioFaceSetList::SetFaceIndices(const ioFace* faces, ULONG faceTotal) {
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (!entry->SetFaceIndices(faces, faceTotal, entry->faceCount)) return FALSE;
  return TRUE;
}

Bool ioFaceSetList::SetSegIndices(const ObjSegment* segments, ULONG segTotal) {
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (!entry->SetSegIndices(segments, segTotal, entry->segCount)) return FALSE;
  return TRUE;
}

ioFaceSet* ioFaceSetList::FindSet(const String& name) const {
  if (!name.Content()) return nullptr;
  return FindExact(name);
}

ioFaceSet* ioFaceSetList::FindExact(const String& name) const {
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (entry->name == name) return entry;
  return nullptr;
}

ioFaceSet* ioFaceSetList::FindSetByIndex(LONG index) const {
  for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
    if (entry->index == index) return entry;
  return FirstSet();
}

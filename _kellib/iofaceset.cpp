#include "iofaceset.h"

#include <algorithm>

#include "compat.h"

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

FaceIndexScan::~FaceIndexScan() {
  for (LONG l = 0; l < m_count; ++l) bDelete(m_lists[l].slots);
}

FaceIndexScan::Slot* FaceIndexScan::AddList(LONG ioFace::*field, Bool bySequence, LONG count) {
  if (m_count >= kMaxLists || count <= 0) return nullptr;
  Slot* slots = bNew(Slot, count);
  if (!slots) return nullptr;
  m_lists[m_count++] = {field, bySequence, slots, count};
  return slots;
}

void FaceIndexScan::Run(const ioFace* faces, ULONG faceTotal) const {
  if (!faces || m_count == 0) return;
  // Large new arrays made present in one go: faulted page by page by the stores below,
  // they cost more than the scan itself.
  constexpr ULONG kPrefaultFrom = (1u << 20) / sizeof(ULONG);
  for (LONG l = 0; l < m_count; ++l)
    for (LONG k = 0; k < m_lists[l].count; ++k) {
      const Slot& slot = m_lists[l].slots[k];
      if (slot.limit >= kPrefaultFrom) GePrefaultMemory(slot.indices, VLONG(slot.limit) * VLONG(sizeof(ULONG)));
    }
  for (ULONG i = 0; i < faceTotal; ++i) {
    const ioFace& face = faces[i];
    for (LONG l = 0; l < m_count; ++l) {
      const List& list = m_lists[l];
      const LONG key = face.*list.field;
      if (key < 0 || key >= list.count) continue;
      const Slot& slot = list.slots[key];
      if (slot.limit > 0 && *slot.length < slot.limit)
        slot.indices[(*slot.length)++] = list.bySequence ? static_cast<ULONG>(face.sequence) : i;
    }
  }
}

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
  if (size != m_count || !m_pSlots) {
    Free();
    if (size <= 0) return size == 0;
    m_pSlots = bNew(Slot, size);
    if (!m_pSlots) return FALSE;
    m_count = size;
  }
  for (LONG i = 0; i < m_count; ++i) m_pSlots[i] = Slot{nullptr, FALSE};
  return TRUE;
}

void ioSelectionSlots::Free() {
  bDelete(m_pSlots);
  m_count = 0;
}

Bool ioSelectionSlots::Set(LONG slot, SelectionTag* tag) {
  if (slot < 0 || slot >= m_count) return FALSE;
  m_pSlots[slot].tag = tag;
  return TRUE;
}

void ioSelectionSlots::Skip(LONG slot) {
  if (slot >= 0 && slot < m_count) m_pSlots[slot] = Slot{nullptr, TRUE};
}

// --- selection tags of one object ---------------------------------------------------------

Bool SelectIndices(BaseSelect* bs, const ULONG* indices, ULONG count, LONG limit) {
  if (!bs || !indices || limit <= 0) return TRUE;
  const ULONG end = static_cast<ULONG>(limit);
  ULONG i = 0;
  while (i < count) {
    const ULONG a = indices[i++];
    if (a >= end) continue;
    // Repeats of an index (sets sharing a slot may both hold it) continue the run.
    ULONG b = a;
    while (i < count && (indices[i] == b + 1 || indices[i] == b) && indices[i] < end) b = indices[i++];
    if (!bs->SelectAll(static_cast<LONG>(a), static_cast<LONG>(b))) return FALSE;
  }
  return TRUE;
}

BaseTag* LastTagOf(const BaseObject* op) {
  BaseTag* last = op ? op->GetFirstTag() : nullptr;
  while (last && last->GetNext()) last = last->GetNext();
  return last;
}

SelectionTag* ioObjectSelections::SlotTag(BaseObject* op, LONG slot, const String& name, LONG markerType,
                                          LayerObject* layer) {
  if (!op || slot < 0 || slot >= slots.Count() || slots.Skipped(slot)) return nullptr;
  if (SelectionTag* made = slots.Get(slot)) return made;
  SelectionTag* tag = SelectionTag::Alloc(Tpolygonselection);
  if (!tag) {
    slots.Skip(slot);
    ReportLoss("Selection Tag");
    return nullptr;
  }

  if (!markerTried) {
    markerTried = TRUE;
    // Our tags follow the object's own (its geometry tags stay in front).
    if (!lastTag) lastTag = LastTagOf(op);
    markerTag = op->GetTag(markerType);
    if (markerTag) {
      // A marker the object already has keeps its names; ours follow them.
      const BaseContainer* data = markerTag->GetDataInstance();
      const LONG count = data->GetLong(IOTAG_NAME_COUNT);
      markerNameCount = count < 0 ? 0 : (count > data->GetEntryCount() ? data->GetEntryCount() : count);
    } else {
      markerTag = BaseTag::Alloc(markerType);
      markerNameCount = 0;
      if (markerTag) {
        op->InsertTag(markerTag, lastTag);
        lastTag = markerTag;
      } else if (FindPlugin(markerType, PLUGINTYPE_TAG)) {
        // The tag type is there: memory was missing. (Without the plug-in there is no
        // marker to make, and nothing is lost.)
        ReportLoss(markerType == IOTAG_GROUP_ID ? "Group Tag" : "Region Tag");
      }
    }
  }
  if (markerTag) {
    BaseContainer* data = markerTag->GetDataInstance();
    data->SetString(IOTAG_FIRST_NAME + markerNameCount, name);
    ++markerNameCount;
    data->SetLong(IOTAG_NAME_COUNT, markerNameCount);
  }

  tag->SetName(name);
  if (layer) tag->SetLayerObject(layer);
  op->InsertTag(tag, lastTag);
  lastTag = tag;
  slots.Set(slot, tag);
  return tag;
}

void ioObjectSelections::ReportLoss(const CHAR* what) {
  if (lossReported) return;
  lossReported = TRUE;
  ReportMemoryError(what);
}

Bool ioObjectSelections::SelectFaces(ioSlotFaces* refs, LONG count, LONG limit) {
  if (!refs || count <= 0) return TRUE;
  Bool ok = TRUE;
  std::sort(refs, refs + count, [](const ioSlotFaces& a, const ioSlotFaces& b) {
    return a.slot != b.slot ? a.slot < b.slot : a.order < b.order;
  });
  for (LONG first = 0; first < count;) {
    LONG last = first + 1;
    VULONG total = refs[first].set->faceIndexCount;
    while (last < count && refs[last].slot == refs[first].slot) total += refs[last++].set->faceIndexCount;
    const SelectionTag* tag = slots.Get(refs[first].slot);
    BaseSelect* bs = tag ? tag->GetBaseSelect() : nullptr;
    ULONG* merged = (bs && last - first > 1 && total <= 0xFFFFFFFFu) ? bNew(ULONG, total) : nullptr;
    if (merged) {
      ULONG* out = merged;
      for (LONG r = first; r < last; ++r) {
        const ioFaceSet* set = refs[r].set;
        if (set->faceIndices) std::copy(set->faceIndices, set->faceIndices + set->faceIndexCount, out);
        out += set->faceIndices ? set->faceIndexCount : 0;
      }
      const ULONG length = static_cast<ULONG>(out - merged);
      // Sets whose faces follow one another need no sort.
      if (!std::is_sorted(merged, merged + length)) std::sort(merged, merged + length);
      ok = SelectIndices(bs, merged, length, limit) && ok;
      bDelete(merged);
    } else if (bs) {
      // One set, or no memory for the merge: set by set gives the same selection.
      for (LONG r = first; r < last; ++r)
        ok = SelectIndices(bs, refs[r].set->faceIndices, refs[r].set->faceIndexCount, limit) && ok;
    }
    first = last;
  }
  return ok;
}

// --- the list -----------------------------------------------------------------------------

Bool ioFaceSetList::IndexedByPosition() const {
  for (LONG i = 0; i < Count(); ++i)
    if (m_pByIndex[i]->index != i) return FALSE;
  return Count() > 0;
}

Bool ioFaceSetList::SetFaceIndices(const ioFace* faces, ULONG faceTotal) {
  FaceIndexScan scan;
  const Bool ok = PrepareFaceIndices(&scan, faces, faceTotal);
  scan.Run(faces, faceTotal);
  return ok;
}

Bool ioFaceSetList::PrepareFaceIndices(FaceIndexScan* scan, const ioFace* faces, ULONG faceTotal) {
  const LONG count = Count();
  FaceIndexScan::Slot* slots = nullptr;
  if (!IndexedByPosition() || !(slots = scan->AddList(m_pByIndex[0]->FaceField(), FALSE, count))) {
    for (ioFaceSet* entry = FirstSet(); entry; entry = entry->Next())
      if (!entry->SetFaceIndices(faces, faceTotal, entry->faceCount)) return FALSE;
    return TRUE;
  }
  // The entries before a failing one are still filled; those after it are untouched,
  // and faces of theirs are left out of the scan.
  LONG filled = 0;
  for (; filled < count; ++filled) {
    ioFaceSet* entry = m_pByIndex[filled];
    const ULONG n = entry->faceCount;
    bDelete(entry->faceIndices);
    entry->faceIndexCount = 0;
    entry->faceTable = nullptr;
    if (n > 0 && (!faces || faceTotal < n || !(entry->faceIndices = bNew(ULONG, n)))) break;
    slots[filled] = {entry->faceIndices, &entry->faceIndexCount, n};
  }
  for (LONG e = 0; e < filled; ++e) m_pByIndex[e]->faceTable = faces;
  return filled == count;
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

// Named sets of faces and line elements: the part that groups, regions and mesh objects
// share. An entry has a name, its own index (which the faces and line elements carry in
// one of their fields), counters that the reader or gatherer raise, and, once indexed,
// the ascending positions of its faces and line elements in their tables.
#pragma once

#include "c4d.h"
#include "ioface.h"
#include "linknode.h"
#include "namehash.h"

class ioFaceSet : public linkNode {
 public:
  ~ioFaceSet() override;
  ioFaceSet(const ioFaceSet&) = delete;
  ioFaceSet& operator=(const ioFaceSet&) = delete;

  // Fills faceIndices with the positions of the first n faces of faces[0, faceTotal)
  // whose matching field equals index, ascending. n = 0 empties the array and succeeds.
  // Fails (the array then empty) when faces is null, faceTotal < n, or memory is missing.
  // faceIndexCount is the number of positions found, which is below n only when the
  // table holds fewer such faces than were counted.
  virtual Bool SetFaceIndices(const ioFace* faces, ULONG faceTotal, ULONG n);
  // The same over line elements, into segIndices / segIndexCount.
  virtual Bool SetSegIndices(const ObjSegment* segments, ULONG segTotal, ULONG n);

  // True once the set has face indices to select.
  Bool HasFaceIndices() const { return faceIndices && faceIndexCount > 0; }

  // The index a face or line element names for sets of this kind.
  LONG KeyOf(const ioFace& face) const { return face.*m_faceField; }
  LONG KeyOf(const ObjSegment& segment) const { return segment.*m_segField; }
  LONG ioFace::*FaceField() const { return m_faceField; }

  ioFaceSet* Next() const { return static_cast<ioFaceSet*>(linkNode::Next()); }

  String name;
  LONG index = 0;                     // position in the list when created
  ULONG faceCount = 0;                // faces counted into the set
  ULONG* faceIndices = nullptr;       // owned: positions in faceTable, ascending
  ULONG faceIndexCount = 0;           // entries in faceIndices
  const ioFace* faceTable = nullptr;  // borrowed: the table faceIndices refer to
  ULONG segCount = 0;                 // line elements counted into the set
  ULONG* segIndices = nullptr;        // owned: positions in segTable, ascending
  ULONG segIndexCount = 0;
  const ObjSegment* segTable = nullptr;

 protected:
  // faceField / segField: the record field that names the entry of this kind of set.
  ioFaceSet(const String& setName, LONG setIndex, LONG ioFace::*faceField, LONG ObjSegment::*segField)
      : name(setName), index(setIndex), m_faceField(faceField), m_segField(segField) {}

 private:
  LONG ioFace::*m_faceField;
  LONG ObjSegment::*m_segField;
};

// Selection tags of the object being built, one slot per entry (or per known name):
// a slot is filled when the first polygon of the object joins that entry. A slot whose
// tag could not be made is skipped for the rest of the object, so that no tag made
// later holds only part of its polygons.
class ioSelectionSlots {
 public:
  ioSelectionSlots() = default;
  ~ioSelectionSlots() { Free(); }
  ioSelectionSlots(const ioSelectionSlots&) = delete;
  ioSelectionSlots& operator=(const ioSelectionSlots&) = delete;

  // size empty slots. False when memory is missing: there are then no slots.
  Bool Reset(LONG size);
  void Free();

  LONG Count() const { return m_count; }
  // The slot's tag; null for an empty or skipped slot or one out of range.
  SelectionTag* Get(LONG slot) const { return (slot >= 0 && slot < m_count) ? m_pSlots[slot].tag : nullptr; }
  // False for a slot out of range.
  Bool Set(LONG slot, SelectionTag* tag);
  // Marks the slot as one that gets no tag on this object; true for a slot so marked.
  void Skip(LONG slot);
  Bool Skipped(LONG slot) const { return slot >= 0 && slot < m_count && m_pSlots[slot].skipped; }

 private:
  struct Slot {
    SelectionTag* tag;
    Bool skipped;
  };
  Slot* m_pSlots = nullptr;
  LONG m_count = 0;
};

// The marker tags that list which selections are groups and which are regions, by
// their plug-in IDs. Their data: the number of names, then the names in order.
enum : LONG {
  IOTAG_GROUP_ID = 1016210,
  IOTAG_REGION_ID = 1016229,
  IOTAG_NAME_COUNT = 1000,
  IOTAG_FIRST_NAME = 1001,
};

// One set's faces bound for one slot's selection: the slot, the order in which the pair
// was met, and the set whose face indices go there.
struct ioSlotFaces {
  LONG slot;
  LONG order;
  const ioFaceSet* set;
};

// Selects indices[0, count) in bs, a run of consecutive indices at a time (ascending
// indices cost one range each), leaving out those at or past limit. False when the
// selection ran out of memory (it then stops, holding the runs before).
Bool SelectIndices(BaseSelect* bs, const ULONG* indices, ULONG count, LONG limit);

// The polygons a selection on op may name: op's polygon count for a polygon object,
// else no bound.
inline LONG SelectionLimit(BaseObject* op) {
  return (op && op->GetType() == Opolygon) ? ToPoly(op)->GetPolygonCount() : MAXLONGl;
}

// SelectionLimit of the object being built, asked of the host once per object: the
// host finds the count by walking the object's tags, and polygon-by-polygon building
// asks for every polygon.
class ioPolygonLimit {
 public:
  LONG Of(BaseObject* op) {
    if (op != m_pObject) {
      m_pObject = op;
      m_limit = SelectionLimit(op);
    }
    return m_limit;
  }
  // For the next object (which may sit where a freed one was).
  void Forget() { m_pObject = nullptr; }

 private:
  BaseObject* m_pObject = nullptr;
  LONG m_limit = 0;
};

// The last of op's tags, or null.
BaseTag* LastTagOf(const BaseObject* op);

// What the scene builder keeps per object while it turns group or region entries into
// selection tags: one slot per entry (or per known name), the marker tag made on the
// object with the number of names written into it, and the tag inserted last.
struct ioObjectSelections {
  // size empty slots and no tags. False when memory is missing: there are no slots
  // then, so the object gets none of these tags (a loss reported).
  Bool Reset(LONG size) {
    markerTag = nullptr;
    markerNameCount = 0;
    markerTried = FALSE;
    lastTag = nullptr;
    polygons.Forget();
    if (slots.Reset(size)) return TRUE;
    ReportLoss("Selection Tag");
    return FALSE;
  }

  // The selection tag of slot on op, made on first use: a polygon selection tag named
  // name, on layer (when one is given), inserted after the tag inserted before it (the
  // first after op's last tag). The first one made also gives op its marker tag of type
  // markerType, inserted before it (a marker tag op already has is continued), and
  // each new tag's name is added to the marker's list. Null for a slot out of range, or
  // when the selection tag cannot be made (the slot is then skipped and the loss
  // reported). Without a marker tag (its plug-in is missing, or memory) the selection
  // tags are still made.
  SelectionTag* SlotTag(BaseObject* op, LONG slot, const String& name, LONG markerType, LayerObject* layer);
  // Selects each ref's face indices (those below limit) in its slot's selection; slots
  // without a tag are passed over. Sorts refs by slot: the indices of several sets that
  // share a slot are merged in ascending order, so that the selection is built a range
  // at a time whatever the sets' interleaving. False when a selection ran out of memory.
  Bool SelectFaces(ioSlotFaces* refs, LONG count, LONG limit);
  // Reports a part of the objects lost for want of memory (a tag, or polygons of a
  // selection), naming it: the first loss of the list only.
  void ReportLoss(const CHAR* what);

  ioSelectionSlots slots;
  BaseTag* markerTag = nullptr;
  LONG markerNameCount = 0;
  Bool markerTried = FALSE;  // the marker tag was looked for or made on this object
  BaseTag* lastTag = nullptr;
  ioPolygonLimit polygons;
  Bool lossReported = FALSE;  // kept from object to object
};

// The face index lists of several lists made in one scan of the faces: each list's own
// scan reads every face record, so four lists crossed the whole table four times. A list
// adds one slot per entry index (the entry's array, its length and its limit); Run
// stores, in face order, each face's position (or its sequence number) in the slot its
// field names, until that slot is full.
class FaceIndexScan {
 public:
  // Zero-filled by AddList.
  struct Slot {
    ULONG* indices;  // the entry's array, limit entries long
    ULONG* length;   // the entry's count of indices, raised by Run
    ULONG limit;     // 0: no face is stored (length may be null)
  };
  FaceIndexScan() = default;
  FaceIndexScan(const FaceIndexScan&) = delete;
  FaceIndexScan& operator=(const FaceIndexScan&) = delete;
  ~FaceIndexScan();

  // Slots for the entries of index [0, count) of a list whose faces name their entry in
  // field; faces naming another index are left out. Null when memory is missing or
  // kMaxLists lists were added.
  Slot* AddList(LONG ioFace::*field, Bool bySequence, LONG count);
  void Run(const ioFace* faces, ULONG faceTotal) const;

  static constexpr LONG kMaxLists = 4;

 private:
  struct List {
    LONG ioFace::*field;
    Bool bySequence;
    Slot* slots;
    LONG count;
  };
  List m_lists[kMaxLists] = {};  // the first m_count are used
  LONG m_count = 0;
};

// The list part shared by the group, region and mesh object lists: entries in order of
// creation, each with index = the count before it was added.
class ioFaceSetList {
 public:
  ioFaceSetList(const ioFaceSetList&) = delete;
  ioFaceSetList& operator=(const ioFaceSetList&) = delete;

  LONG Count() const { return m_entries.Count(); }

  // Each entry's SetFaceIndices with n = its faceCount, in list order, made in one scan
  // of the table; false at the first entry that fails (the entries after it keep what
  // they had).
  Bool SetFaceIndices(const ioFace* faces, ULONG faceTotal);
  // The same over line elements with n = each entry's segCount.
  Bool SetSegIndices(const ObjSegment* segments, ULONG segTotal);
  // SetFaceIndices for a scan shared with other lists: the entries' arrays are made here
  // and filled when scan runs over faces (a list not numbered by position, or one whose
  // slots cannot be had, fills its entries here at once). The result is SetFaceIndices'
  // once the scan has run.
  Bool PrepareFaceIndices(FaceIndexScan* scan, const ioFace* faces, ULONG faceTotal);

 protected:
  ioFaceSetList() = default;
  ~ioFaceSetList() { ClearSets(); }

  ioFaceSet* FirstSet() const { return static_cast<ioFaceSet*>(m_entries.First()); }
  // True when every entry's index is its position (as FindOrAdd makes them).
  Bool IndexedByPosition() const;
  // First entry of that name; an empty name never matches.
  ioFaceSet* FindSet(const String& name) const;
  // The entry whose index it is, else the first entry (null only for an empty list).
  ioFaceSet* FindSetByIndex(LONG index) const;
  // First entry whose name equals name exactly (an empty name included).
  ioFaceSet* FindExact(const String& name) const;
  // Appends an entry allocated with gNew and indexes it by name and index; the list owns
  // it. False when memory is missing: the entry has then been freed.
  Bool AppendSet(ioFaceSet* entry);
  void ClearSets();

 private:
  linkList m_entries;
  // Lookups that stay fast for files of many thousands of names: the first entry of
  // each name, and the entries by index (index = position, as entries are appended).
  nameMap<ioFaceSet>* m_pNames = nullptr;
  ioFaceSet** m_pByIndex = nullptr;
  LONG m_byIndexCapacity = 0;
};

// The typed lookups of a list whose entries are all Entry.
template <class Entry>
class ioFaceSetListOf : public ioFaceSetList {
 public:
  Entry* First() const { return static_cast<Entry*>(FirstSet()); }
  // First entry of that name; null for an empty name or none.
  Entry* FindByName(const String& name) const { return static_cast<Entry*>(FindSet(name)); }
  // FindByName, else the first entry (null only for an empty list).
  Entry* FindByNameOrFirst(const String& name) const {
    Entry* entry = FindByName(name);
    return entry ? entry : First();
  }
  // The entry of that index, else the first entry (null only for an empty list).
  Entry* FindByIndex(LONG index) const { return static_cast<Entry*>(FindSetByIndex(index)); }

 protected:
  ioFaceSetListOf() = default;
  ~ioFaceSetListOf() = default;
};

// Groups: named face sets of one mesh, in both directions. The OBJ reader fills the list
// from "g" statements; the export gatherer starts it from the object's group tag and
// adds a group when a selection first assigns a polygon to it.
#pragma once

#include "c4d.h"
#include "fileio.h"
#include "iofaceset.h"
#include "namehash.h"

// Calls add(name) for every name that op's marker tag of type tagType lists, in order,
// each made safe (SafeName); names that come out empty are left out. True when op has
// no such tag. Stops and returns false when add does.
template <class Add>
Bool ForEachMarkerName(const BaseObject* op, LONG tagType, Add add) {
  const BaseTag* tag = op ? op->GetTag(tagType) : nullptr;
  if (!tag) return TRUE;
  const BaseContainer* data = tag->GetDataInstance();
  // A count beyond the container's entries cannot be honest; do not walk it.
  LONG count = data->GetLong(IOTAG_NAME_COUNT);
  if (count > data->GetEntryCount()) count = data->GetEntryCount();
  for (LONG i = 0; i < count; ++i) {
    const String name = SafeName(data->GetString(IOTAG_FIRST_NAME + i));
    if (name.Content() && !add(name)) return FALSE;
  }
  return TRUE;
}

// The names a group's faces are selected under: the words of a multi-name group, or
// its whole name, taken from the name's first 255 bytes.
struct ioNamePieces {
  // Splits the first 255 bytes of name at blanks and tabs when multi; otherwise those
  // bytes are the one piece. An empty name (or one of blanks only, when multi) has none.
  void Split(const String& name, Bool multi);

  LONG count = 0;
  const CHAR* piece[128];  // zero-terminated, inside text; 255 bytes hold 128 words at most
  CHAR text[256];
};

class ioGroup : public ioFaceSet {
 public:
  ioGroup* Next() const { return static_cast<ioGroup*>(linkNode::Next()); }

  // The name holds several blank-separated group names (a "g" line naming several).
  Bool multiName = FALSE;

 protected:
  friend class ioGroupList;
  ioGroup(const String& groupName, LONG groupIndex, Bool multi)
      : ioFaceSet(groupName, groupIndex, &ioFace::group, &ObjSegment::group), multiName(multi) {}
  // For sets that are groups in every respect but the field they match.
  ioGroup(const String& groupName, LONG groupIndex, LONG ioFace::*faceField, LONG ObjSegment::*segField)
      : ioFaceSet(groupName, groupIndex, faceField, segField) {}
};

class ioGroupList : public ioFaceSetListOf<ioGroup> {
 public:
  // An empty list with an empty known-name table; null when memory is missing.
  static ioGroupList* Alloc();
  static void Free(ioGroupList*& list);
  ~ioGroupList();

  // The group of that name, or a new one with index = Count(), appended. A new group
  // takes multiName; an existing one keeps its own. Null when memory is missing.
  ioGroup* FindOrAdd(const String& name, Bool multiName);

  // Known names: the names that count as groups (every word of a multi-name "g" line on
  // import; the group tag's names on export), numbered in order of first addition.
  Bool IsKnownName(const String& name) const;
  // Adds the name when it is new. Returns the number of known names afterwards, or 0
  // when memory is missing (the name is then not known).
  LONG AddKnownName(const String& name);
  LONG KnownNameCount() const;
  // The number a known name was given (its selection slot on import), or -1.
  LONG KnownNameIndex(const String& name) const;
  LONG KnownNameIndex(const CHAR* name) const;

  // Export: the default group (op's safe name, or "default" without op, followed by
  // "_Grp"; index 0 on an empty list) is added and known; then every name listed by
  // op's group tag becomes a known name. No group is made for those names: a group
  // exists once a polygon is assigned to it. False when memory is missing.
  Bool InitFromObject(BaseDocument* doc, BaseObject* op);

  // Deletes every group, forgets the known names and the per-object selections.
  void Clear();
  // Empties the per-object selections for the next object: one slot per known name.
  // False when memory is missing (no slots then: the object gets no group tags, a loss
  // reported).
  Bool ResetObjectSelections();

  // Import, single object (polygon i is face i): a selection tag per piece of every
  // group with faces (the words of a multi-name group, each its known name's slot;
  // a piece that is not known takes slot 0), made in group and piece order with the
  // group marker tag, selecting each group's face indices. Starts with
  // ResetObjectSelections; indices past op's polygons are left out.
  void BuildSelectionTags(BaseObject* op);
  // Import, split objects: polygon joins the selections of group groupIndex's pieces on
  // op, each made on first use as in BuildSelectionTags. Call ResetObjectSelections
  // before the first polygon of each object.
  void AssignPolygon(BaseObject* op, LONG groupIndex, LONG polygon);

  // Import, per object being built (filled by the scene builder).
  ioObjectSelections m_objectSelections;
  LayerObject* m_pSelectionLayer = nullptr;  // layer of the selection tags, or none

 private:
  ioGroupList() = default;
  // The pieces and slots of a group for AssignPolygon, kept for the next polygon (split
  // objects meet the same group polygon after polygon).
  const ioNamePieces& PiecesOf(const ioGroup* group, const LONG*& slots);

  nameHash* m_pKnownNames = nullptr;
  const ioGroup* m_pCachedGroup = nullptr;  // the group m_cachedPieces belong to, or none
  ioNamePieces m_cachedPieces;
  LONG m_cachedSlots[128] = {};
};

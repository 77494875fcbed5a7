// Mesh objects of an OBJ import: one entry per "o" name (plus the entry named after the
// file for faces and line elements before any "o"). Each entry also records which
// groups its line elements were read in.
#pragma once

#include "c4d.h"
#include "iofaceset.h"

class meshObj : public ioFaceSet {
 public:
  ~meshObj() override;

  meshObj* Next() const { return static_cast<meshObj*>(linkNode::Next()); }

  // Sets groupUsed at groupIndex to 1; nothing when the index is outside the array.
  void MarkGroupUsed(LONG groupIndex);

  ULONG groupUsedCount = 0;  // entries in groupUsed
  LONG* groupUsed = nullptr;  // owned: 1 where a line element of this entry was in that group

 protected:
  friend class meshObjList;
  meshObj(const String& objectName, LONG objectIndex)
      : ioFaceSet(objectName, objectIndex, &ioFace::meshObj, &ObjSegment::meshObj) {}
};

class meshObjList : public ioFaceSetListOf<meshObj> {
 public:
  // An empty list; null when memory is missing.
  static meshObjList* Alloc();
  static void Free(meshObjList*& list);
  ~meshObjList();

  // The first entry of that name, else the first entry (null only for an empty list).
  meshObj* FindByName(const String& name) const;
  // The entry of that name, or a new one with index = Count(), appended. Null when
  // memory is missing (the list is then unchanged).
  meshObj* FindOrAdd(const String& name);

  // Gives every entry a groupUsed array of groups words: an existing array keeps its
  // common part, new words are 0; 0 groups frees the arrays. False when memory is
  // missing: the entries before the failing one are resized, the rest keep theirs.
  Bool SizeGroupUsed(ULONG groups);

  // Deletes every entry.
  void Clear() { ClearSets(); }

 private:
  meshObjList() = default;
};

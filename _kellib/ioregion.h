// Regions: named face sets like groups, carried in OBJ files as "# r" comments. A face
// and a line element name their region in their own region field. A region name is
// known when a region of that name exists.
#pragma once

#include "c4d.h"
#include "iogroup.h"

class ioRegion : public ioGroup {
 public:
  ioRegion* Next() const { return static_cast<ioRegion*>(linkNode::Next()); }

 protected:
  friend class ioRegionList;
  ioRegion(const String& regionName, LONG regionIndex)
      : ioGroup(regionName, regionIndex, &ioFace::region, &ObjSegment::region) {}
};

class ioRegionList : public ioFaceSetListOf<ioRegion> {
 public:
  // An empty list; null when memory is missing.
  static ioRegionList* Alloc();
  static void Free(ioRegionList*& list);
  ~ioRegionList();

  // The region of that name, or a new one with index = Count(), appended. Null when
  // memory is missing.
  ioRegion* FindOrAdd(const String& name);

  Bool IsKnownName(const String& name) const { return FindByName(name) != nullptr; }

  // Export: the default region (op's safe name, or "default" without op, followed by
  // "_Rgn"; index 0 on an empty list), then a region for every name op's region tag
  // lists, so that each exists even when no polygon joins it. False when memory is
  // missing.
  Bool InitFromObject(BaseDocument* doc, BaseObject* op);

  // Deletes every region and forgets the per-object selections.
  void Clear();
  // Empties the per-object selections for the next object: one slot per region. False
  // when memory is missing (no slots then: the object gets no region tags, a loss
  // reported).
  Bool ResetObjectSelections();

  // Import, single object (polygon i is face i): a selection tag per region with faces
  // (slot = the region's index), made in list order with the region marker tag,
  // selecting the region's face indices. Starts with ResetObjectSelections; indices
  // past op's polygons are left out.
  void BuildSelectionTags(BaseObject* op);
  // Import, split objects: polygon joins region regionIndex's selection on op, made on
  // first use. Call ResetObjectSelections before the first polygon of each object.
  void AssignPolygon(BaseObject* op, LONG regionIndex, LONG polygon);

  // Import, per object being built (filled by the scene builder).
  ioObjectSelections m_objectSelections;
  LayerObject* m_pSelectionLayer = nullptr;  // layer of the selection tags, or none

 private:
  ioRegionList() = default;
};

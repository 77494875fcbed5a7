// Groups, regions and mesh objects: lookups and their fallbacks, face and segment index
// lists over a small table, the export start from the marker tags, the group-used
// arrays, and memory failures at every allocation of a fill.
#include <memory>
#include <string>
#include <vector>

#include "GroupTag.h"
#include "host_fixture.h"
#include "iogroup.h"
#include "ioregion.h"
#include "main.h"
#include "meshobj.h"
#include "plugin_ids.h"
#include "scene_helpers.h"

namespace {

struct FreeGroups {
  void operator()(ioGroupList* list) const { ioGroupList::Free(list); }
};
struct FreeRegions {
  void operator()(ioRegionList* list) const { ioRegionList::Free(list); }
};
struct FreeMeshObjs {
  void operator()(meshObjList* list) const { meshObjList::Free(list); }
};
using GroupsPtr = std::unique_ptr<ioGroupList, FreeGroups>;
using RegionsPtr = std::unique_ptr<ioRegionList, FreeRegions>;
using MeshObjsPtr = std::unique_ptr<meshObjList, FreeMeshObjs>;

using Names = std::vector<std::string>;
using Indices = std::vector<ULONG>;

Indices FaceIndicesOf(const ioFaceSet* set) {
  return set->faceIndices ? Indices(set->faceIndices, set->faceIndices + set->faceIndexCount) : Indices();
}
Indices SegIndicesOf(const ioFaceSet* set) {
  return set->segIndices ? Indices(set->segIndices, set->segIndices + set->segIndexCount) : Indices();
}

// Names and indices of a list, in list order.
template <class Entry>
Names NamesOf(const Entry* first) {
  Names names;
  LONG index = 0;
  for (const Entry* e = first; e; e = e->Next(), ++index) {
    EXPECT_EQ(e->index, index) << e->name.Std();
    names.push_back(e->name.Std());
  }
  return names;
}

// Six faces and four segments whose group, region and mesh object fields all differ.
struct Table {
  ioFace faces[6] = {};
  ObjSegment segments[4] = {};
  Table() {
    const LONG groups[6] = {0, 1, 0, 2, 1, 0};
    const LONG regions[6] = {1, 1, 0, 0, 1, 1};
    const LONG objects[6] = {0, 0, 0, 1, 1, 1};
    for (int i = 0; i < 6; ++i) {
      faces[i].group = groups[i];
      faces[i].region = regions[i];
      faces[i].meshObj = objects[i];
      faces[i].sequence = i;
    }
    const LONG segGroups[4] = {1, 0, 1, 1};
    const LONG segRegions[4] = {0, 0, 0, 1};
    const LONG segObjects[4] = {1, 1, 0, 1};
    for (int i = 0; i < 4; ++i) {
      segments[i].group = segGroups[i];
      segments[i].region = segRegions[i];
      segments[i].meshObj = segObjects[i];
      segments[i].sequence = i;
    }
  }
};

class GroupsTest : public HostTest {};

// --- lookups ----------------------------------------------------------------------------

TEST_F(GroupsTest, LookupsFallBackToTheFirstEntry) {
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_TRUE(groups && regions && objects);

  // Empty lists have nothing to fall back on.
  EXPECT_EQ(groups->FindByIndex(0), nullptr);
  EXPECT_EQ(groups->FindByNameOrFirst(String("a")), nullptr);
  EXPECT_EQ(regions->FindByIndex(0), nullptr);
  EXPECT_EQ(objects->FindByName(String("a")), nullptr);
  EXPECT_EQ(objects->FindByIndex(3), nullptr);

  ioGroup* g0 = groups->FindOrAdd(String("default_Grp"), FALSE);
  ioGroup* g1 = groups->FindOrAdd(String("arm"), TRUE);
  ASSERT_TRUE(g0 && g1);
  EXPECT_EQ(groups->FindOrAdd(String("arm"), FALSE), g1);
  EXPECT_TRUE(g1->multiName) << "an existing group keeps its mark";
  EXPECT_EQ(NamesOf(groups->First()), (Names{"default_Grp", "arm"}));
  EXPECT_EQ(groups->FindByIndex(1), g1);
  EXPECT_EQ(groups->FindByIndex(7), g0);
  EXPECT_EQ(groups->FindByIndex(-1), g0);
  EXPECT_EQ(groups->FindByName(String("leg")), nullptr);
  EXPECT_EQ(groups->FindByName(String("Arm")), nullptr);
  EXPECT_EQ(groups->FindByNameOrFirst(String("leg")), g0);
  EXPECT_EQ(groups->FindByNameOrFirst(String("arm")), g1);

  ioRegion* r0 = regions->FindOrAdd(String("default_Rgn"));
  ioRegion* r1 = regions->FindOrAdd(String("back"));
  ASSERT_TRUE(r0 && r1);
  EXPECT_EQ(regions->FindOrAdd(String("back")), r1);
  EXPECT_EQ(regions->FindByIndex(1), r1);
  EXPECT_EQ(regions->FindByIndex(2), r0);
  EXPECT_TRUE(regions->IsKnownName(String("back")));
  EXPECT_FALSE(regions->IsKnownName(String("front")));
  EXPECT_EQ(regions->FindByNameOrFirst(String("front")), r0);

  meshObj* o0 = objects->FindOrAdd(String("cube.obj"));
  meshObj* o1 = objects->FindOrAdd(String("Sphere"));
  ASSERT_TRUE(o0 && o1);
  EXPECT_EQ(objects->FindOrAdd(String("Sphere")), o1);
  EXPECT_EQ(objects->Count(), 2);
  EXPECT_EQ(objects->FindByName(String("Sphere")), o1);
  EXPECT_EQ(objects->FindByName(String("Cone")), o0) << "an unknown name gives the first entry";
  EXPECT_EQ(objects->FindByIndex(1), o1);
  EXPECT_EQ(objects->FindByIndex(2), o0);
}

// Thousands of entries, and long names alike in their first 255 characters: every
// name and index finds its own entry.
TEST_F(GroupsTest, ManyAndLongNamesFindTheirOwnEntries) {
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_TRUE(objects);
  const std::string prefix(255, 'p');
  std::vector<meshObj*> made;
  for (int i = 0; i < 3000; ++i) {
    const std::string name = (i % 2 ? prefix : std::string("object")) + std::to_string(i);
    meshObj* entry = objects->FindOrAdd(String(name.c_str()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->index, i);
    made.push_back(entry);
  }
  EXPECT_EQ(objects->Count(), 3000);
  for (int i = 2999; i >= 0; --i) {
    const std::string name = (i % 2 ? prefix : std::string("object")) + std::to_string(i);
    EXPECT_EQ(objects->FindByName(String(name.c_str())), made[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(objects->FindOrAdd(String(name.c_str())), made[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(objects->FindByIndex(i), made[static_cast<size_t>(i)]) << i;
  }
  EXPECT_EQ(objects->Count(), 3000);
  EXPECT_EQ(objects->FindByName(String((prefix + "x").c_str())), made[0]);  // unknown: the first entry
  objects->Clear();
  EXPECT_EQ(objects->Count(), 0);
  EXPECT_EQ(objects->FindByIndex(0), nullptr);
  meshObj* again = objects->FindOrAdd(String("object0"));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->index, 0);
}

TEST_F(GroupsTest, AnEmptyNameNeverMatches) {
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_TRUE(groups && regions);
  ioGroup* unnamed = groups->FindOrAdd(String(), FALSE);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(groups->FindByName(String()), nullptr);
  EXPECT_EQ(groups->FindOrAdd(String(), FALSE), unnamed) << "the same name is not added twice";
  ASSERT_NE(regions->FindOrAdd(String()), nullptr);
  EXPECT_EQ(regions->FindByName(String()), nullptr);
  EXPECT_FALSE(regions->IsKnownName(String()));
}

TEST_F(GroupsTest, KnownNamesAreCountedAndNumbered) {
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  EXPECT_FALSE(groups->IsKnownName(String("a")));
  EXPECT_EQ(groups->AddKnownName(String("a")), 1);
  EXPECT_EQ(groups->AddKnownName(String("b")), 2);
  EXPECT_EQ(groups->AddKnownName(String("a")), 2) << "a known name is not counted again";
  EXPECT_TRUE(groups->IsKnownName(String("b")));
  EXPECT_FALSE(groups->IsKnownName(String("B")));
  EXPECT_EQ(groups->KnownNameIndex(String("b")), 1);
  EXPECT_EQ(groups->KnownNameIndex(String("c")), -1);
  EXPECT_EQ(groups->Count(), 0) << "known names make no groups";

  ASSERT_TRUE(groups->ResetObjectSelections());
  EXPECT_EQ(groups->m_objectSelections.slots.Count(), 2);

  ASSERT_NE(groups->FindOrAdd(String("x"), FALSE), nullptr);
  groups->Clear();
  EXPECT_EQ(groups->Count(), 0);
  EXPECT_FALSE(groups->IsKnownName(String("a")));
  EXPECT_EQ(groups->m_objectSelections.slots.Count(), 0);
  EXPECT_EQ(groups->AddKnownName(String("b")), 1);
  EXPECT_EQ(groups->KnownNameIndex(String("b")), 0);
  ioGroup* again = groups->FindOrAdd(String("x"), FALSE);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->index, 0) << "numbering starts again after Clear";
}

TEST_F(GroupsTest, ResetObjectSelectionsEmptiesEverySlot) {
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_NE(regions, nullptr);
  ASSERT_TRUE(regions->FindOrAdd(String("a")) && regions->FindOrAdd(String("b")));
  ASSERT_TRUE(regions->ResetObjectSelections());
  ioObjectSelections& sel = regions->m_objectSelections;
  ASSERT_EQ(sel.slots.Count(), 2);
  TagPtr tag(SelectionTag::Alloc(Tpolygonselection));
  ASSERT_NE(tag, nullptr);
  EXPECT_TRUE(sel.slots.Set(1, static_cast<SelectionTag*>(tag.get())));
  EXPECT_FALSE(sel.slots.Set(2, static_cast<SelectionTag*>(tag.get())));
  EXPECT_FALSE(sel.slots.Set(-1, static_cast<SelectionTag*>(tag.get())));
  sel.markerTag = tag.get();
  sel.markerNameCount = 3;
  sel.lastTag = tag.get();
  EXPECT_EQ(sel.slots.Get(1), tag.get());
  EXPECT_EQ(sel.slots.Get(5), nullptr);

  ASSERT_TRUE(regions->ResetObjectSelections());
  EXPECT_EQ(sel.slots.Get(1), nullptr);
  EXPECT_EQ(sel.markerTag, nullptr);
  EXPECT_EQ(sel.markerNameCount, 0);
  EXPECT_EQ(sel.lastTag, nullptr);
}

// --- index lists --------------------------------------------------------------------------

TEST_F(GroupsTest, FaceIndicesFollowEachKindsField) {
  const Table t;
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_TRUE(groups && regions && objects);
  for (const char* name : {"g0", "g1", "g2"}) ASSERT_NE(groups->FindOrAdd(String(name), FALSE), nullptr);
  for (const char* name : {"r0", "r1"}) ASSERT_NE(regions->FindOrAdd(String(name)), nullptr);
  for (const char* name : {"o0", "o1"}) ASSERT_NE(objects->FindOrAdd(String(name)), nullptr);
  groups->FindByIndex(0)->faceCount = 3;
  groups->FindByIndex(1)->faceCount = 2;
  groups->FindByIndex(2)->faceCount = 1;
  regions->FindByIndex(0)->faceCount = 2;
  regions->FindByIndex(1)->faceCount = 4;
  objects->FindByIndex(0)->faceCount = 3;
  objects->FindByIndex(1)->faceCount = 3;

  ASSERT_TRUE(groups->SetFaceIndices(t.faces, 6));
  ASSERT_TRUE(regions->SetFaceIndices(t.faces, 6));
  ASSERT_TRUE(objects->SetFaceIndices(t.faces, 6));
  EXPECT_EQ(FaceIndicesOf(groups->FindByIndex(0)), (Indices{0, 2, 5}));
  EXPECT_EQ(FaceIndicesOf(groups->FindByIndex(1)), (Indices{1, 4}));
  EXPECT_EQ(FaceIndicesOf(groups->FindByIndex(2)), (Indices{3}));
  EXPECT_EQ(FaceIndicesOf(regions->FindByIndex(0)), (Indices{2, 3}));
  EXPECT_EQ(FaceIndicesOf(regions->FindByIndex(1)), (Indices{0, 1, 4, 5}));
  EXPECT_EQ(FaceIndicesOf(objects->FindByIndex(0)), (Indices{0, 1, 2}));
  EXPECT_EQ(FaceIndicesOf(objects->FindByIndex(1)), (Indices{3, 4, 5}));
  EXPECT_EQ(groups->First()->faceTable, t.faces);
}

TEST_F(GroupsTest, ListsSharingOneScanGetTheirOwnIndices) {
  const Table t;
  // Three lists of the same kind (groups) besides regions and objects: five in all, one
  // more than a scan holds, so the last fills itself.
  GroupsPtr lists[3] = {GroupsPtr(ioGroupList::Alloc()), GroupsPtr(ioGroupList::Alloc()),
                        GroupsPtr(ioGroupList::Alloc())};
  RegionsPtr regions(ioRegionList::Alloc());
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_TRUE(lists[0] && lists[1] && lists[2] && regions && objects);
  for (auto& groups : lists)
    for (const char* name : {"g0", "g1", "g2"}) ASSERT_NE(groups->FindOrAdd(String(name), FALSE), nullptr);
  for (const char* name : {"r0", "r1"}) ASSERT_NE(regions->FindOrAdd(String(name)), nullptr);
  for (const char* name : {"o0", "o1"}) ASSERT_NE(objects->FindOrAdd(String(name)), nullptr);
  struct Case {
    ioFaceSet* entry;
    ULONG count;
    Indices expected;
  };
  const Case cases[] = {
      {lists[0]->FindByIndex(0), 3, {0, 2, 5}}, {lists[0]->FindByIndex(1), 2, {1, 4}},
      {lists[0]->FindByIndex(2), 1, {3}},       {lists[1]->FindByIndex(0), 2, {0, 2}},  // stops at its count
      {lists[1]->FindByIndex(1), 0, {}},        {lists[1]->FindByIndex(2), 5, {3}},     // counted more than there are
      {lists[2]->FindByIndex(0), 1, {0}},       {regions->FindByIndex(0), 2, {2, 3}},
      {regions->FindByIndex(1), 4, {0, 1, 4, 5}}, {objects->FindByIndex(0), 3, {0, 1, 2}},
      {objects->FindByIndex(1), 3, {3, 4, 5}},
  };
  for (const Case& c : cases) c.entry->faceCount = c.count;

  FaceIndexScan scan;
  EXPECT_TRUE(regions->PrepareFaceIndices(&scan, t.faces, 6));
  EXPECT_TRUE(lists[0]->PrepareFaceIndices(&scan, t.faces, 6));
  EXPECT_TRUE(objects->PrepareFaceIndices(&scan, t.faces, 6));
  EXPECT_TRUE(lists[1]->PrepareFaceIndices(&scan, t.faces, 6));
  EXPECT_TRUE(lists[2]->PrepareFaceIndices(&scan, t.faces, 6));  // the fifth: filled at once
  EXPECT_EQ(FaceIndicesOf(lists[2]->FindByIndex(0)), (Indices{0}));
  scan.Run(t.faces, 6);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry->name.Std());
    EXPECT_EQ(FaceIndicesOf(c.entry), c.expected);
    EXPECT_EQ(c.entry->faceTable, t.faces);
  }

  // A list that fails (a count the table cannot hold) leaves the others in the scan whole.
  lists[0]->FindByIndex(1)->faceCount = 7;
  FaceIndexScan again;
  EXPECT_FALSE(lists[0]->PrepareFaceIndices(&again, t.faces, 6));
  EXPECT_TRUE(regions->PrepareFaceIndices(&again, t.faces, 6));
  again.Run(t.faces, 6);
  EXPECT_EQ(FaceIndicesOf(lists[0]->FindByIndex(0)), (Indices{0, 2, 5}));  // before the failing one
  EXPECT_EQ(lists[0]->FindByIndex(1)->faceIndices, nullptr);
  EXPECT_EQ(FaceIndicesOf(lists[0]->FindByIndex(2)), (Indices{3}));  // after it: kept from before
  EXPECT_EQ(FaceIndicesOf(regions->FindByIndex(1)), (Indices{0, 1, 4, 5}));
}

TEST_F(GroupsTest, SetFaceIndicesKeepsToItsCountAndRefusesShortTables) {
  const Table t;
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ioGroup* g = groups->FindOrAdd(String("g0"), FALSE);
  ASSERT_NE(g, nullptr);

  // n stops the scan once n faces are found.
  ASSERT_TRUE(g->SetFaceIndices(t.faces, 6, 2));
  EXPECT_EQ(FaceIndicesOf(g), (Indices{0, 2}));
  // More counted than the table holds: only what was found is listed.
  ASSERT_TRUE(g->SetFaceIndices(t.faces, 6, 5));
  EXPECT_EQ(FaceIndicesOf(g), (Indices{0, 2, 5}));
  // n = 0 empties the list and needs no table.
  ASSERT_TRUE(g->SetFaceIndices(nullptr, 0, 0));
  EXPECT_EQ(g->faceIndices, nullptr);
  EXPECT_EQ(g->faceIndexCount, 0u);
  // No table, an empty one or one shorter than n fails and leaves no list.
  ASSERT_TRUE(g->SetFaceIndices(t.faces, 6, 1));
  EXPECT_FALSE(g->SetFaceIndices(nullptr, 6, 1));
  EXPECT_EQ(g->faceIndices, nullptr);
  EXPECT_FALSE(g->SetFaceIndices(t.faces, 0, 1));
  EXPECT_FALSE(g->SetFaceIndices(t.faces, 2, 3));
  EXPECT_EQ(g->faceIndexCount, 0u);
  EXPECT_EQ(g->faceTable, nullptr);
  // Faces below faceTotal only: face 5 lies beyond a total of 5.
  ASSERT_TRUE(g->SetFaceIndices(t.faces, 5, 3));
  EXPECT_EQ(FaceIndicesOf(g), (Indices{0, 2}));

  // The list stops at the first entry that fails; those after it keep what they had.
  ioGroup* g1 = groups->FindOrAdd(String("g1"), FALSE);
  ioGroup* g2 = groups->FindOrAdd(String("g2"), FALSE);
  ASSERT_TRUE(g1 && g2);
  g2->faceCount = 1;
  ASSERT_TRUE(g2->SetFaceIndices(t.faces, 6, 1));
  g->faceCount = 1;
  g1->faceCount = 9;
  EXPECT_FALSE(groups->SetFaceIndices(t.faces, 6));
  EXPECT_EQ(FaceIndicesOf(g), (Indices{0}));
  EXPECT_EQ(g1->faceIndices, nullptr);
  EXPECT_EQ(FaceIndicesOf(g2), (Indices{3}));
}

TEST_F(GroupsTest, SegmentIndicesFollowEachKindsField) {
  const Table t;
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_TRUE(groups && regions && objects);
  ioGroup* g0 = groups->FindOrAdd(String("g0"), FALSE);
  ioGroup* g1 = groups->FindOrAdd(String("g1"), FALSE);
  ioRegion* r0 = regions->FindOrAdd(String("r0"));
  ioRegion* r1 = regions->FindOrAdd(String("r1"));
  meshObj* o0 = objects->FindOrAdd(String("o0"));
  meshObj* o1 = objects->FindOrAdd(String("o1"));
  ASSERT_TRUE(g0 && g1 && r0 && r1 && o0 && o1);
  g0->segCount = 1;
  g1->segCount = 3;
  r0->segCount = 3;
  r1->segCount = 1;
  o0->segCount = 1;
  o1->segCount = 3;
  ASSERT_TRUE(groups->SetSegIndices(t.segments, 4));
  ASSERT_TRUE(regions->SetSegIndices(t.segments, 4));
  ASSERT_TRUE(objects->SetSegIndices(t.segments, 4));
  EXPECT_EQ(SegIndicesOf(g0), (Indices{1}));
  EXPECT_EQ(SegIndicesOf(g1), (Indices{0, 2, 3}));
  // A region lists the segments of its own region, not of the group of that number.
  EXPECT_EQ(SegIndicesOf(r0), (Indices{0, 1, 2}));
  EXPECT_EQ(SegIndicesOf(r1), (Indices{3}));
  EXPECT_EQ(SegIndicesOf(o0), (Indices{2}));
  EXPECT_EQ(SegIndicesOf(o1), (Indices{0, 1, 3}));
  EXPECT_EQ(o1->segTable, t.segments);

  o1->segCount = 5;
  EXPECT_FALSE(objects->SetSegIndices(t.segments, 4));
  EXPECT_EQ(o1->segIndices, nullptr);
  EXPECT_FALSE(objects->SetSegIndices(nullptr, 4));
  o0->segCount = 0;
  o1->segCount = 0;
  EXPECT_TRUE(objects->SetSegIndices(nullptr, 0)) << "nothing counted needs no table";
}

// --- group-used arrays ------------------------------------------------------------------

TEST_F(GroupsTest, GroupUsedArraysResizeKeepingTheCommonPart) {
  MeshObjsPtr objects(meshObjList::Alloc());
  ASSERT_NE(objects, nullptr);
  meshObj* a = objects->FindOrAdd(String("a"));
  meshObj* b = objects->FindOrAdd(String("b"));
  ASSERT_TRUE(a && b);
  a->MarkGroupUsed(0);  // no array yet: nothing happens
  EXPECT_EQ(a->groupUsed, nullptr);

  ASSERT_TRUE(objects->SizeGroupUsed(3));
  ASSERT_EQ(a->groupUsedCount, 3u);
  ASSERT_EQ(b->groupUsedCount, 3u);
  a->MarkGroupUsed(1);
  a->MarkGroupUsed(3);   // past the end
  a->MarkGroupUsed(-1);  // before the start
  b->MarkGroupUsed(2);
  EXPECT_EQ(std::vector<LONG>(a->groupUsed, a->groupUsed + 3), (std::vector<LONG>{0, 1, 0}));
  EXPECT_EQ(std::vector<LONG>(b->groupUsed, b->groupUsed + 3), (std::vector<LONG>{0, 0, 1}));

  ASSERT_TRUE(objects->SizeGroupUsed(5));
  EXPECT_EQ(std::vector<LONG>(a->groupUsed, a->groupUsed + 5), (std::vector<LONG>{0, 1, 0, 0, 0}));
  a->MarkGroupUsed(4);
  EXPECT_EQ(a->groupUsed[4], 1);
  ASSERT_TRUE(objects->SizeGroupUsed(2));
  EXPECT_EQ(std::vector<LONG>(a->groupUsed, a->groupUsed + 2), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(std::vector<LONG>(b->groupUsed, b->groupUsed + 2), (std::vector<LONG>{0, 0}));
  b->MarkGroupUsed(2);  // the shrunk array ends before 2
  ASSERT_TRUE(objects->SizeGroupUsed(0));
  EXPECT_EQ(a->groupUsed, nullptr);
  EXPECT_EQ(a->groupUsedCount, 0u);

  objects->Clear();
  EXPECT_EQ(objects->Count(), 0);
  meshObj* c = objects->FindOrAdd(String("c"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->index, 0);
}

// --- export start from the marker tags ----------------------------------------------------

class MarkerTagsTest : public GroupsTest {
 protected:
  void SetUp() override {
    GroupsTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    ASSERT_TRUE(RegisterGroupTag());
    ASSERT_TRUE(RegisterRegionTag());
    m_doc.reset(BaseDocument::Alloc());
    ASSERT_NE(m_doc, nullptr);
  }
  void TearDown() override {
    m_doc.reset();
    resource.Free();
    host::FreeRegistry();
    GroupsTest::TearDown();
  }

  BaseObject* Mesh(const char* name) { return InsertLast(m_doc.get(), PolygonObject::Alloc(4, 1), name); }

  // A marker tag on op with the count entry and the names given.
  static BaseTag* MarkerTag(BaseObject* op, LONG type, LONG count, const Names& names) {
    BaseTag* tag = op->MakeTag(type);
    if (!tag) return nullptr;
    BaseContainer* data = tag->GetDataInstance();
    data->SetLong(IOTAG_NAME_COUNT, count);
    for (size_t i = 0; i < names.size(); ++i) data->SetString(IOTAG_FIRST_NAME + static_cast<LONG>(i), String(names[i]));
    return tag;
  }

  DocPtr m_doc;
};

TEST_F(MarkerTagsTest, TagIdsAreThoseThePlugInRegisters) {
  EXPECT_EQ(IOTAG_GROUP_ID, ID_GROUP_TAG);
  EXPECT_EQ(IOTAG_REGION_ID, ID_REGION_TAG);
  EXPECT_EQ(IOTAG_NAME_COUNT, GROUPTAG_COUNT);
  EXPECT_EQ(IOTAG_FIRST_NAME, GROUPTAG_FIRST_NAME);
}

TEST_F(MarkerTagsTest, WithoutTagsOnlyTheDefaultEntryExists) {
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_TRUE(groups && regions);
  ASSERT_TRUE(groups->InitFromObject(nullptr, nullptr));
  ASSERT_TRUE(regions->InitFromObject(nullptr, nullptr));
  EXPECT_EQ(NamesOf(groups->First()), (Names{"default_Grp"}));
  EXPECT_TRUE(groups->IsKnownName(String("default_Grp")));
  EXPECT_EQ(NamesOf(regions->First()), (Names{"default_Rgn"}));

  BaseObject* op = Mesh("  Left Arm\t");
  ASSERT_NE(op, nullptr);
  groups->Clear();
  regions->Clear();
  ASSERT_TRUE(groups->InitFromObject(m_doc.get(), op));
  ASSERT_TRUE(regions->InitFromObject(m_doc.get(), op));
  EXPECT_EQ(NamesOf(groups->First()), (Names{"Left_Arm_Grp"}));
  EXPECT_EQ(groups->KnownNameCount(), 1);
  EXPECT_EQ(NamesOf(regions->First()), (Names{"Left_Arm_Rgn"}));

  // A tag of the object is not read without a document.
  ASSERT_NE(MarkerTag(op, IOTAG_REGION_ID, 1, {"back"}), nullptr);
  regions->Clear();
  ASSERT_TRUE(regions->InitFromObject(nullptr, op));
  EXPECT_EQ(NamesOf(regions->First()), (Names{"Left_Arm_Rgn"}));
}

TEST_F(MarkerTagsTest, GroupTagNamesBecomeKnownAndGroupsFollowTheirPolygons) {
  BaseObject* op = Mesh("Body");
  ASSERT_NE(op, nullptr);
  ASSERT_NE(MarkerTag(op, IOTAG_GROUP_ID, 2, {"Arm", "Leg"}), nullptr);
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_TRUE(groups->InitFromObject(m_doc.get(), op));
  EXPECT_EQ(NamesOf(groups->First()), (Names{"Body_Grp"})) << "listed names make no group";
  EXPECT_TRUE(groups->IsKnownName(String("Arm")));
  EXPECT_TRUE(groups->IsKnownName(String("Leg")));
  EXPECT_FALSE(groups->IsKnownName(String("Head")));
  EXPECT_EQ(groups->KnownNameCount(), 3);
  // The gatherer adds a group when its first polygon is assigned: Leg first here.
  ASSERT_NE(groups->FindOrAdd(String("Leg"), FALSE), nullptr);
  ASSERT_NE(groups->FindOrAdd(String("Arm"), FALSE), nullptr);
  EXPECT_EQ(NamesOf(groups->First()), (Names{"Body_Grp", "Leg", "Arm"}));
}

TEST_F(MarkerTagsTest, RegionTagNamesAllBecomeRegions) {
  BaseObject* op = Mesh("Body");
  ASSERT_NE(op, nullptr);
  // Names are made safe; empty ones, and ones that are only blanks, are left out.
  ASSERT_NE(MarkerTag(op, IOTAG_REGION_ID, 5, {"back", "", "lower leg", "  ", "Ghost"}), nullptr);
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_NE(regions, nullptr);
  ASSERT_TRUE(regions->InitFromObject(m_doc.get(), op));
  EXPECT_EQ(NamesOf(regions->First()), (Names{"Body_Rgn", "back", "lower_leg", "Ghost"}));
  ASSERT_NE(regions->FindByName(String("Ghost")), nullptr);
  EXPECT_EQ(regions->FindByName(String("Ghost"))->faceCount, 0u);
}

TEST_F(MarkerTagsTest, CountsThatDisagreeWithTheTagAreHarmless) {
  BaseObject* op = Mesh("Body");
  ASSERT_NE(op, nullptr);
  // A count far beyond the names stored is not walked; a negative one lists nothing.
  ASSERT_NE(MarkerTag(op, IOTAG_GROUP_ID, 0x7fffffff, {"Arm", "Leg"}), nullptr);
  ASSERT_NE(MarkerTag(op, IOTAG_REGION_ID, -4, {"back"}), nullptr);
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_TRUE(groups && regions);
  ASSERT_TRUE(groups->InitFromObject(m_doc.get(), op));
  ASSERT_TRUE(regions->InitFromObject(m_doc.get(), op));
  EXPECT_EQ(groups->KnownNameCount(), 3);
  EXPECT_EQ(NamesOf(regions->First()), (Names{"Body_Rgn"}));
}

// --- memory failures ------------------------------------------------------------------------

TEST_F(MarkerTagsTest, EveryAllocationOfAFillCanFail) {
  const Table t;
  BaseObject* op = Mesh("Body");
  ASSERT_NE(op, nullptr);
  ASSERT_NE(MarkerTag(op, IOTAG_GROUP_ID, 2, {"Arm", "Leg"}), nullptr);
  ASSERT_NE(MarkerTag(op, IOTAG_REGION_ID, 2, {"back", "front"}), nullptr);
  EveryAllocation([&]() {
    GroupsPtr groups(ioGroupList::Alloc());
    RegionsPtr regions(ioRegionList::Alloc());
    MeshObjsPtr objects(meshObjList::Alloc());
    if (!groups || !regions || !objects) return false;
    if (!groups->InitFromObject(m_doc.get(), op)) {
      EXPECT_LE(groups->Count(), 1);
      return false;
    }
    if (!regions->InitFromObject(m_doc.get(), op)) {
      EXPECT_LE(regions->Count(), 2);
      return false;
    }
    for (const char* name : {"g1", "g2"})
      if (!groups->FindOrAdd(String(name), FALSE)) return false;
    for (const char* name : {"o0", "o1"})
      if (!objects->FindOrAdd(String(name))) return false;
    // Whatever fails, counts and entries agree.
    EXPECT_EQ(static_cast<LONG>(NamesOf(groups->First()).size()), groups->Count());
    groups->FindByIndex(0)->faceCount = 3;
    groups->FindByIndex(1)->faceCount = 2;
    regions->FindByIndex(1)->faceCount = 4;
    objects->FindByIndex(1)->faceCount = 3;
    objects->FindByIndex(0)->segCount = 1;
    if (!groups->SetFaceIndices(t.faces, 6) || !regions->SetFaceIndices(t.faces, 6) ||
        !objects->SetFaceIndices(t.faces, 6) || !objects->SetSegIndices(t.segments, 4))
      return false;
    if (!objects->SizeGroupUsed(3)) {
      for (meshObj* o = objects->First(); o; o = o->Next()) EXPECT_TRUE(o->groupUsedCount == 0 || o->groupUsed);
      return false;
    }
    if (!groups->ResetObjectSelections()) {
      EXPECT_EQ(groups->m_objectSelections.slots.Count(), 0);
      return false;
    }
    if (!regions->ResetObjectSelections()) return false;
    EXPECT_EQ(FaceIndicesOf(groups->FindByIndex(0)), (Indices{0, 2, 5}));
    EXPECT_EQ(FaceIndicesOf(regions->FindByIndex(1)), (Indices{0, 1, 4, 5}));
    EXPECT_EQ(groups->m_objectSelections.slots.Count(), 3);
    return true;
  });
}

// --- names --------------------------------------------------------------------------------

TEST_F(GroupsTest, SafeNamesAreTrimmedUnderscoredAndShort) {
  EXPECT_EQ(SafeName(String("  Left \tArm\t\r\n")).Std(), "Left__Arm");
  EXPECT_EQ(SafeName(String("")).Std(), "");
  EXPECT_EQ(SafeName(String(" \t ")).Std(), "");
  const std::string longName(300, 'a');
  EXPECT_EQ(SafeName(String(longName)).Std(), longName.substr(0, 255));
  // The cut comes before the trim: blanks at position 255 and on are gone either way.
  EXPECT_EQ(SafeName(String(std::string(254, 'b') + "  c")).Std(), std::string(254, 'b'));
}

}  // namespace

// Group and region selection tags of an import: one object for the whole file (every
// entry's faces at once) and split objects (polygon by polygon), multi-name groups,
// the marker tags that list the names, layers, objects without a marker, and memory
// failures at every allocation.
#include <memory>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "iogroup.h"
#include "ioregion.h"
#include "main.h"
#include "scene_helpers.h"

namespace {

struct FreeGroups {
  void operator()(ioGroupList* list) const { ioGroupList::Free(list); }
};
struct FreeRegions {
  void operator()(ioRegionList* list) const { ioRegionList::Free(list); }
};
using GroupsPtr = std::unique_ptr<ioGroupList, FreeGroups>;
using RegionsPtr = std::unique_ptr<ioRegionList, FreeRegions>;

using Names = std::vector<std::string>;
using Indices = std::vector<LONG>;

// A group as the reader makes one: a multi-name group's words (or the name) become
// known names.
ioGroup* AddGroup(ioGroupList* list, const std::string& name, bool multi = false) {
  ioGroup* group = list->FindOrAdd(String(name), multi ? TRUE : FALSE);
  if (!group) return nullptr;
  if (!multi) return list->AddKnownName(String(name)) ? group : nullptr;
  std::string word;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != ' ' && name[i] != '\t') {
      word += name[i];
    } else if (!word.empty()) {
      if (!list->AddKnownName(String(word))) return nullptr;
      word.clear();
    }
  }
  return group;
}

// Face tables whose group (or region) of face i is owners[i]; each entry's face count
// is raised as the reader does, and the face index lists are made.
template <class List>
bool SetFaces(List* list, const Indices& owners, LONG ioFace::*field, std::vector<ioFace>& faces) {
  faces.assign(owners.size(), ioFace{});
  for (size_t i = 0; i < owners.size(); ++i) {
    faces[i].*field = owners[i];
    faces[i].sequence = static_cast<LONG>(i);
    ++list->FindByIndex(owners[i])->faceCount;
  }
  return list->SetFaceIndices(faces.data(), static_cast<ULONG>(faces.size()));
}

Indices Selected(const BaseTag* tag) { return SelectedIndices(tag); }

// op's tags in order, but for its point and polygon tags: "sel <name>", "group",
// "region" or "tag <type>".
Names TagList(const BaseObject* op) {
  Names out;
  for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
    const LONG type = tag->GetType();
    if (type == Tpoint || type == Tpolygon) continue;
    if (type == Tpolygonselection)
      out.push_back("sel " + tag->GetName().Std());
    else if (type == IOTAG_GROUP_ID)
      out.push_back("group");
    else if (type == IOTAG_REGION_ID)
      out.push_back("region");
    else
      out.push_back("tag " + std::to_string(type));
  }
  return out;
}

BaseTag* Selection(const BaseObject* op, const std::string& name) {
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == Tpolygonselection && tag->GetName().Std() == name) return tag;
  return nullptr;
}

// The names a marker tag lists; its count must match the names stored.
Names MarkerNames(const BaseObject* op, LONG type) {
  const BaseTag* tag = op->GetTag(type);
  if (!tag) return {"<no marker>"};
  const BaseContainer* data = tag->GetDataInstance();
  const LONG count = data->GetLong(IOTAG_NAME_COUNT);
  EXPECT_EQ(data->GetEntryCount(), count + 1) << "entries beyond the names";
  Names names;
  for (LONG i = 0; i < count; ++i) names.push_back(data->GetString(IOTAG_FIRST_NAME + i).Std());
  return names;
}

class SelectionsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
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
    HostTest::TearDown();
  }

  PolygonObject* Mesh(LONG polygons, const char* name = "Mesh") {
    return static_cast<PolygonObject*>(InsertLast(m_doc.get(), PolygonObject::Alloc(4, polygons), name));
  }

  LayerObject* Layer(const char* name) { return AppendLayer(m_doc.get(), name); }

  DocPtr m_doc;
  std::vector<ioFace> m_faces;
};

// --- single object ------------------------------------------------------------------------

TEST_F(SelectionsTest, GroupsOfASingleObjectGetATagEachAndTheMarker) {
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  for (const char* name : {"default_Grp", "arm", "leg", "empty"}) ASSERT_NE(AddGroup(groups.get(), name), nullptr);
  ASSERT_TRUE(SetFaces(groups.get(), {1, 2, 1, 2, 2, 1}, &ioFace::group, m_faces));
  LayerObject* layer = Layer("groups");
  ASSERT_NE(layer, nullptr);
  groups->m_pSelectionLayer = layer;
  // Five polygons for six faces: the last face is not the object's.
  PolygonObject* op = Mesh(5);
  ASSERT_NE(op, nullptr);
  ASSERT_NE(op->MakeTag(Tphong), nullptr);

  groups->BuildSelectionTags(op);
  // The marker follows the object's own tags, the selections follow it in group order;
  // groups without faces get none.
  EXPECT_EQ(TagList(op), (Names{"tag " + std::to_string(Tphong), "group", "sel arm", "sel leg"}));
  EXPECT_EQ(MarkerNames(op, IOTAG_GROUP_ID), (Names{"arm", "leg"}));
  EXPECT_EQ(Selected(Selection(op, "arm")), (Indices{0, 2}));
  EXPECT_EQ(Selected(Selection(op, "leg")), (Indices{1, 3, 4}));
  EXPECT_EQ(Selection(op, "arm")->GetLayerObject(m_doc.get()), layer);
  EXPECT_EQ(op->GetTag(IOTAG_GROUP_ID)->GetLayerObject(nullptr), nullptr);
  EXPECT_EQ(op->GetTag(IOTAG_REGION_ID), nullptr);

  groups->BuildSelectionTags(nullptr);  // nothing to build on, and no harm
}

TEST_F(SelectionsTest, MultiNameGroupsSelectEachOfTheirWords) {
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_NE(AddGroup(groups.get(), "a b", true), nullptr);
  ASSERT_NE(AddGroup(groups.get(), "a"), nullptr);
  ASSERT_NE(AddGroup(groups.get(), "  b\t\tc ", true), nullptr);
  ASSERT_TRUE(SetFaces(groups.get(), {0, 0, 1, 2, 2, 1}, &ioFace::group, m_faces));
  PolygonObject* op = Mesh(6);
  ASSERT_NE(op, nullptr);

  groups->BuildSelectionTags(op);
  EXPECT_EQ(TagList(op), (Names{"group", "sel a", "sel b", "sel c"}));
  EXPECT_EQ(MarkerNames(op, IOTAG_GROUP_ID), (Names{"a", "b", "c"}));
  EXPECT_EQ(Selected(Selection(op, "a")), (Indices{0, 1, 2, 5}));
  EXPECT_EQ(Selected(Selection(op, "b")), (Indices{0, 1, 3, 4}));
  EXPECT_EQ(Selected(Selection(op, "c")), (Indices{3, 4}));
}

TEST_F(SelectionsTest, InterleavedGroupsOfOneNameGiveOneSelection) {
  // "a b" holds the even faces, "a" the odd ones: a's selection is one range.
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_NE(AddGroup(groups.get(), "a b", true), nullptr);
  ASSERT_NE(AddGroup(groups.get(), "a"), nullptr);
  const LONG count = 20000;
  Indices owners(count);
  for (LONG i = 0; i < count; ++i) owners[i] = i % 2;
  ASSERT_TRUE(SetFaces(groups.get(), owners, &ioFace::group, m_faces));
  PolygonObject* op = Mesh(count);
  ASSERT_NE(op, nullptr);

  groups->BuildSelectionTags(op);
  const BaseSelect* a = static_cast<SelectionTag*>(Selection(op, "a"))->GetBaseSelect();
  const BaseSelect* b = static_cast<SelectionTag*>(Selection(op, "b"))->GetBaseSelect();
  EXPECT_EQ(a->GetSegments(), 1);
  EXPECT_EQ(a->GetCount(), count);
  EXPECT_EQ(b->GetSegments(), count / 2);
  EXPECT_TRUE(b->IsSelected(count - 2));
  EXPECT_FALSE(b->IsSelected(count - 1));
}

TEST_F(SelectionsTest, WordsWithoutAKnownNameShareTheFirstSlot) {
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_NE(AddGroup(groups.get(), "first"), nullptr);
  // A group whose name never became known (the reader always makes it known).
  ASSERT_NE(groups->FindOrAdd(String("stray"), FALSE), nullptr);
  ASSERT_TRUE(SetFaces(groups.get(), {1, 0, 1}, &ioFace::group, m_faces));
  PolygonObject* op = Mesh(3);
  ASSERT_NE(op, nullptr);

  groups->BuildSelectionTags(op);
  // The first slot's tag is made by whoever meets it first, and serves both.
  EXPECT_EQ(TagList(op), (Names{"group", "sel first"}));
  EXPECT_EQ(Selected(Selection(op, "first")), (Indices{0, 1, 2}));
}

TEST_F(SelectionsTest, AnExistingMarkerKeepsItsNames) {
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_NE(AddGroup(groups.get(), "arm"), nullptr);
  ASSERT_TRUE(SetFaces(groups.get(), {0}, &ioFace::group, m_faces));
  PolygonObject* op = Mesh(1);
  ASSERT_NE(op, nullptr);
  ASSERT_NE(op->MakeTag(Tphong), nullptr);
  BaseTag* marker = op->MakeTag(IOTAG_GROUP_ID, op->GetTag(Tphong));
  ASSERT_NE(marker, nullptr);
  marker->GetDataInstance()->SetLong(IOTAG_NAME_COUNT, 1);
  marker->GetDataInstance()->SetString(IOTAG_FIRST_NAME, String("old"));

  groups->BuildSelectionTags(op);
  EXPECT_EQ(TagList(op), (Names{"tag " + std::to_string(Tphong), "group", "sel arm"}));
  EXPECT_EQ(MarkerNames(op, IOTAG_GROUP_ID), (Names{"old", "arm"}));
}

TEST_F(SelectionsTest, RegionsGetATagEachWithTheRegionMarker) {
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_NE(regions, nullptr);
  for (const char* name : {"default_Rgn", "ghost", "back"}) ASSERT_NE(regions->FindOrAdd(String(name)), nullptr);
  ASSERT_TRUE(SetFaces(regions.get(), {2, 0, 2, 2}, &ioFace::region, m_faces));
  LayerObject* layer = Layer("regions");
  ASSERT_NE(layer, nullptr);
  regions->m_pSelectionLayer = layer;
  PolygonObject* op = Mesh(4);
  ASSERT_NE(op, nullptr);

  regions->BuildSelectionTags(op);
  EXPECT_EQ(TagList(op), (Names{"region", "sel default_Rgn", "sel back"}));
  EXPECT_EQ(MarkerNames(op, IOTAG_REGION_ID), (Names{"default_Rgn", "back"}));
  EXPECT_EQ(Selected(Selection(op, "back")), (Indices{0, 2, 3}));
  EXPECT_EQ(Selected(Selection(op, "default_Rgn")), (Indices{1}));
  EXPECT_EQ(Selection(op, "back")->GetLayerObject(m_doc.get()), layer);

  // Groups and regions on one object: each marker heads its own selections, after the
  // tags the object had.
  GroupsPtr groups(ioGroupList::Alloc());
  ASSERT_NE(groups, nullptr);
  ASSERT_NE(AddGroup(groups.get(), "g"), nullptr);
  std::vector<ioFace> groupFaces;
  ASSERT_TRUE(SetFaces(groups.get(), {0, 0, 0, 0}, &ioFace::group, groupFaces));
  groups->BuildSelectionTags(op);
  EXPECT_EQ(TagList(op), (Names{"region", "sel default_Rgn", "sel back", "group", "sel g"}));
}

// --- split objects ------------------------------------------------------------------------

TEST_F(SelectionsTest, SplitObjectsAssignPolygonByPolygon) {
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_TRUE(groups && regions);
  ASSERT_NE(AddGroup(groups.get(), "default_Grp"), nullptr);
  ASSERT_NE(AddGroup(groups.get(), "a b", true), nullptr);
  ASSERT_NE(AddGroup(groups.get(), "b"), nullptr);
  for (const char* name : {"default_Rgn", "back"}) ASSERT_NE(regions->FindOrAdd(String(name)), nullptr);
  LayerObject* layer = Layer("groups");
  ASSERT_NE(layer, nullptr);
  groups->m_pSelectionLayer = layer;

  // First object: polygons of groups 2, 1, 2 and regions 1, 1, 0.
  PolygonObject* first = Mesh(3, "first");
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(groups->ResetObjectSelections());
  ASSERT_TRUE(regions->ResetObjectSelections());
  const LONG groupOf[] = {2, 1, 2};
  const LONG regionOf[] = {1, 1, 0};
  for (LONG k = 0; k < 3; ++k) {
    groups->AssignPolygon(first, groupOf[k], k);
    regions->AssignPolygon(first, regionOf[k], k);
  }
  // Each kind's tags stay together: the group tags made later go after the earlier ones.
  EXPECT_EQ(TagList(first), (Names{"group", "sel b", "sel a", "region", "sel back", "sel default_Rgn"}));
  EXPECT_EQ(MarkerNames(first, IOTAG_GROUP_ID), (Names{"b", "a"}));
  EXPECT_EQ(MarkerNames(first, IOTAG_REGION_ID), (Names{"back", "default_Rgn"}));
  EXPECT_EQ(Selected(Selection(first, "b")), (Indices{0, 1, 2}));
  EXPECT_EQ(Selected(Selection(first, "a")), (Indices{1}));
  EXPECT_EQ(Selected(Selection(first, "back")), (Indices{0, 1}));
  EXPECT_EQ(Selection(first, "a")->GetLayerObject(nullptr), layer);
  EXPECT_EQ(Selection(first, "back")->GetLayerObject(nullptr), nullptr);

  // The next object has its own tags and markers, listing only what it uses. Polygons
  // outside the object, and objects that are none, are passed over.
  PolygonObject* second = Mesh(2, "second");
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(groups->ResetObjectSelections());
  ASSERT_TRUE(regions->ResetObjectSelections());
  groups->AssignPolygon(second, 0, 0);
  groups->AssignPolygon(second, 0, 1);
  groups->AssignPolygon(second, 1, 2);
  groups->AssignPolygon(second, 1, -1);
  groups->AssignPolygon(nullptr, 1, 0);
  regions->AssignPolygon(second, 1, 5);
  EXPECT_EQ(TagList(second), (Names{"group", "sel default_Grp"}));
  EXPECT_EQ(Selected(Selection(second, "default_Grp")), (Indices{0, 1}));
  EXPECT_EQ(Selected(Selection(first, "a")), (Indices{1})) << "the first object is done";
}

TEST_F(SelectionsTest, WithoutTheMarkerTagTheSelectionsAreStillMade) {
  // Marker tags that cannot be made: their plug-ins are not there.
  host::FreeRegistry();
  GroupsPtr groups(ioGroupList::Alloc());
  RegionsPtr regions(ioRegionList::Alloc());
  ASSERT_TRUE(groups && regions);
  ASSERT_NE(AddGroup(groups.get(), "x y", true), nullptr);
  ASSERT_NE(regions->FindOrAdd(String("r")), nullptr);
  ASSERT_TRUE(SetFaces(groups.get(), {0, 0}, &ioFace::group, m_faces));
  std::vector<ioFace> regionFaces;
  ASSERT_TRUE(SetFaces(regions.get(), {0, 0}, &ioFace::region, regionFaces));
  PolygonObject* op = Mesh(2);
  ASSERT_NE(op, nullptr);
  groups->BuildSelectionTags(op);
  EXPECT_EQ(TagList(op), (Names{"sel x", "sel y"}));
  EXPECT_FALSE(ConsoleHas("Memory Allocation Error")) << "nothing is lost: there is no marker to make";
  EXPECT_EQ(Selected(Selection(op, "y")), (Indices{0, 1}));

  PolygonObject* split = Mesh(1, "split");
  ASSERT_NE(split, nullptr);
  ASSERT_TRUE(regions->ResetObjectSelections());
  regions->AssignPolygon(split, 0, 0);
  EXPECT_EQ(TagList(split), (Names{"sel r"}));
}

// --- memory -------------------------------------------------------------------------------

TEST_F(SelectionsTest, EveryAllocationOfTheSelectionsCanFail) {
  const Indices groupOf = {1, 2, 1, 3, 3, 2, 1};
  const Indices regionOf = {0, 1, 1, 0, 2, 2, 0};
  const LONG count = static_cast<LONG>(groupOf.size());
  // What each selection must hold when nothing failed on the way.
  auto expected = [&](const std::string& name) {
    Indices want;
    for (LONG i = 0; i < count; ++i) {
      const LONG g = groupOf[i], r = regionOf[i];
      const bool inGroup = (name == "a" && (g == 1 || g == 3)) || (name == "b" && (g == 1 || g == 2)) ||
                           (name == "c" && g == 3);
      const bool inRegion = (name == "r0" && r == 0) || (name == "r1" && r == 1) || (name == "r2" && r == 2);
      if (inGroup || inRegion) want.push_back(i);
    }
    return want;
  };

  EveryAllocation([&]() {
    host::ClearConsole();
    DocPtr doc(BaseDocument::Alloc());
    GroupsPtr groups(ioGroupList::Alloc());
    RegionsPtr regions(ioRegionList::Alloc());
    if (!doc || !groups || !regions) return false;
    if (!AddGroup(groups.get(), "default_Grp") || !AddGroup(groups.get(), "a b", true) ||
        !AddGroup(groups.get(), "b") || !AddGroup(groups.get(), "c a", true))
      return false;
    for (const char* name : {"r0", "r1", "r2"})
      if (!regions->FindOrAdd(String(name))) return false;
    std::vector<ioFace> groupFaces, regionFaces;
    if (!SetFaces(groups.get(), groupOf, &ioFace::group, groupFaces) ||
        !SetFaces(regions.get(), regionOf, &ioFace::region, regionFaces))
      return false;
    PolygonObject* single = PolygonObject::Alloc(4, count);
    PolygonObject* split = PolygonObject::Alloc(4, count);
    if (single) doc->InsertObject(single, nullptr, nullptr);
    if (split) doc->InsertObject(split, nullptr, nullptr);
    if (!single || !split) return false;

    groups->BuildSelectionTags(single);
    regions->BuildSelectionTags(single);
    const bool reset = groups->ResetObjectSelections() && regions->ResetObjectSelections();
    for (LONG k = 0; reset && k < count; ++k) {
      groups->AssignPolygon(split, groupOf[k], k);
      regions->AssignPolygon(split, regionOf[k], k);
    }
    // Each list tells of its first loss.
    const bool told = ConsoleHas("Kelvane: Memory Allocation Error - ");

    // Whatever was made is right: each marker lists exactly the selections made of its
    // kind, in tag order, and a selection holds all its polygons. What is missing was
    // told of.
    bool complete = reset;
    for (PolygonObject* op : {single, split}) {
      Names groupSels, regionSels;
      for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
        if (tag->GetType() != Tpolygonselection) continue;
        const std::string name = tag->GetName().Std();
        (name[0] == 'r' ? regionSels : groupSels).push_back(name);
        if (Selected(tag) != expected(name)) {
          complete = false;
          EXPECT_TRUE(told) << name << " lost polygons without a word";
        }
      }
      if (op->GetTag(IOTAG_GROUP_ID)) {
        EXPECT_EQ(MarkerNames(op, IOTAG_GROUP_ID), groupSels);
      }
      if (op->GetTag(IOTAG_REGION_ID)) {
        EXPECT_EQ(MarkerNames(op, IOTAG_REGION_ID), regionSels);
      }
      if (groupSels.size() != 3 || regionSels.size() != 3 || !op->GetTag(IOTAG_GROUP_ID) ||
          !op->GetTag(IOTAG_REGION_ID))
        complete = false;
    }
    EXPECT_TRUE(complete || told || !reset) << "tags lost without a word";
    return complete;
  });
}

}  // namespace

// The group, region and export-mask tags in-process: their data, the name dialog as
// the scripted user drives it, registration, and memory failures inside the dialog.
#include <string>
#include <vector>

#include "GroupTag.h"
#include "c4d_symbols.h"
#include "host_fixture.h"
#include "main.h"
#include "plugin_ids.h"
#include "scene_helpers.h"

namespace {

using host::DialogAction;
using Names = std::vector<std::string>;

class PluginTagsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
  }
  void TearDown() override {
    m_doc.reset();  // plug-in nodes run the tags' code as they go: before the registry
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  static void RegisterTags() {
    ASSERT_TRUE(RegisterGroupTag());
    ASSERT_TRUE(RegisterRegionTag());
    ASSERT_TRUE(RegisterXPMaskTag());
  }

  // An object "Mesh" of the type in a new document, with polygon selections of these
  // names in this order.
  BaseObject* Mesh(const Names& selections, LONG type = Opolygon) {
    m_doc.reset(BaseDocument::Alloc());
    if (!m_doc) return nullptr;
    BaseObject* op = InsertLast(m_doc.get(), type == Opolygon ? PolygonObject::Alloc(4, 1) : BaseObject::Alloc(type), "Mesh");
    if (!op) return nullptr;
    BaseTag* last = nullptr;
    for (const auto& name : selections) {
      last = op->MakeTag(Tpolygonselection, last);
      if (!last) return nullptr;
      last->SetName(String(name));
    }
    return op;
  }

  // A tag of the plug-in type after the object's other tags, listing these names.
  static BaseTag* NameTag(BaseObject* op, LONG type, const Names& names) {
    BaseTag* last = op->GetFirstTag();
    while (last && last->GetNext()) last = last->GetNext();
    BaseTag* tag = op->MakeTag(type, last);
    if (tag) SetNames(tag, names);
    return tag;
  }

  static void SetNames(BaseTag* tag, const Names& names) {
    BaseContainer* bc = tag->GetDataInstance();
    bc->FlushAll();
    bc->SetLong(GROUPTAG_COUNT, static_cast<LONG>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) bc->SetString(GROUPTAG_FIRST_NAME + static_cast<LONG>(i), String(names[i]));
  }

  // The names a tag lists; every entry of its container must be the count or a name.
  static Names TagNames(const BaseTag* tag) {
    const BaseContainer* bc = tag->GetDataInstance();
    const LONG count = bc->GetLong(GROUPTAG_COUNT);
    EXPECT_EQ(bc->GetEntryCount(), count + 1) << "entries beyond the names";
    Names names;
    for (LONG i = 0; i < count; ++i) names.push_back(bc->GetString(GROUPTAG_FIRST_NAME + i).Std());
    return names;
  }

  static std::string Shown(LONG gadget) {
    const auto& log = host::DialogLog();
    if (log.empty()) return "<no dialog>";
    const host::GadgetRecord* g = log.back().Find(gadget);
    return g ? g->value : "<no gadget>";
  }
  static bool Enabled(LONG gadget) {
    const auto& log = host::DialogLog();
    const host::GadgetRecord* g = log.empty() ? nullptr : log.back().Find(gadget);
    return g && g->enabled;
  }
  static bool ErrorsMention(const std::string& text) {
    for (const auto& line : host::DialogErrors())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  DocPtr m_doc;
};

TEST_F(PluginTagsTest, NewTagsStartEmptyOrMaskingEverything) {
  RegisterTags();
  BaseObject* op = Mesh({});
  ASSERT_TRUE(op);
  for (const LONG type : {ID_GROUP_TAG, ID_REGION_TAG}) {
    BaseTag* tag = op->MakeTag(type);
    ASSERT_TRUE(tag) << type;
    EXPECT_EQ(tag->GetDataInstance()->GetEntryCount(), 1);
    const GeData* count = tag->GetDataInstance()->GetDataPointer(GROUPTAG_COUNT);
    ASSERT_TRUE(count);
    EXPECT_EQ(count->GetType(), DA_LONG);
    EXPECT_EQ(count->GetLong(), 0);
  }
  BaseTag* mask = op->MakeTag(ID_XPMASK_TAG);
  ASSERT_TRUE(mask);
  EXPECT_TRUE(mask->GetDataInstance()->GetBool(XPMASK_SKIP_OBJECT));
  EXPECT_TRUE(mask->GetDataInstance()->GetBool(XPMASK_SKIP_CHILDREN));
  // The mask has no dialog: editing it is the host's own business.
  EXPECT_TRUE(mask->Message(MSG_EDIT));
  EXPECT_TRUE(host::DialogLog().empty());
  // A copy carries the data: nothing lives outside the container.
  BaseTag* copy = static_cast<BaseTag*>(mask->GetClone(COPYFLAGS_0, nullptr));
  ASSERT_TRUE(copy);
  copy->GetDataInstance()->SetBool(XPMASK_SKIP_CHILDREN, FALSE);
  EXPECT_TRUE(mask->GetDataInstance()->GetBool(XPMASK_SKIP_CHILDREN));
  BaseTag::Free(copy);
}

TEST_F(PluginTagsTest, OpeningDropsNamesWithoutSelectionEvenWhenCancelled) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B", "C"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {"C", "X"});
  ASSERT_TRUE(tag);
  host::QueueDialogAction(DialogAction::Cancel());
  EXPECT_FALSE(tag->Message(MSG_EDIT));
  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::DialogRecord& shown = host::DialogLog().back();
  EXPECT_FALSE(shown.confirmed);
  EXPECT_EQ(shown.resourceId, DLG_GROUPTAG);
  EXPECT_EQ(shown.title, "OBJ Groups: choose the selections that are written as groups");
  EXPECT_EQ(Shown(IDC_GT_AVAILABLE), "A, B");
  EXPECT_EQ(Shown(IDC_GT_CHOSEN), "C");
  EXPECT_EQ(TagNames(tag), Names({"C"}));
  EXPECT_TRUE(host::DialogErrors().empty());
}

TEST_F(PluginTagsTest, MovedNamesAreWrittenOnConfirmationOnly) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B", "C"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {"C", "X"});
  ASSERT_TRUE(tag);
  host::QueueDialogAction(DialogAction::HighlightLabels("available", {"A"}));
  host::QueueDialogAction(DialogAction::Click("move-to-tag"));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
  EXPECT_EQ(Shown(IDC_GT_AVAILABLE), "B");
  EXPECT_EQ(Shown(IDC_GT_CHOSEN), "C, A");
  const BaseContainer* bc = tag->GetDataInstance();
  EXPECT_EQ(bc->GetLong(1000), 2);
  EXPECT_EQ(bc->GetString(1001).Std(), "C");
  EXPECT_EQ(bc->GetString(1002).Std(), "A");
  EXPECT_EQ(TagNames(tag), Names({"C", "A"}));

  // Moved across, then cancelled: only the opening rewrite stays.
  host::QueueDialogAction(DialogAction::HighlightLabels("available", {"B"}));
  host::QueueDialogAction(DialogAction::Click("move-to-tag"));
  host::QueueDialogAction(DialogAction::Cancel());
  EXPECT_FALSE(tag->Message(MSG_EDIT));
  EXPECT_EQ(Shown(IDC_GT_CHOSEN), "C, A, B");
  EXPECT_EQ(TagNames(tag), Names({"C", "A"}));
}

TEST_F(PluginTagsTest, RowsMoveInRowOrderBothWays) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B", "C", "D"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_REGION_TAG, {"D", "B"});
  ASSERT_TRUE(tag);
  // Highlighted as C then A; they move in the order of the rows: A, C.
  host::QueueDialogAction(DialogAction::HighlightLabels("available", {"C", "A"}));
  host::QueueDialogAction(DialogAction::Click("move-to-tag"));
  host::QueueDialogAction(DialogAction::HighlightLabels("chosen", {"B", "D"}));
  host::QueueDialogAction(DialogAction::Click("move-to-available"));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
  EXPECT_EQ(host::DialogLog().back().resourceId, DLG_REGIONTAG);
  EXPECT_EQ(Shown(IDC_GT_CHOSEN), "A, C");
  EXPECT_EQ(Shown(IDC_GT_AVAILABLE), "D, B");
  EXPECT_EQ(TagNames(tag), Names({"A", "C"}));
}

TEST_F(PluginTagsTest, DuplicateAndOverlongNamesAreShownOnceAndCut) {
  RegisterTags();
  const std::string longName(300, 'n');
  BaseObject* op = Mesh({"A", "B", "A", longName, "B"});
  ASSERT_TRUE(op);
  BaseTag* points = op->MakeTag(Tpointselection);  // not a polygon selection
  ASSERT_TRUE(points);
  points->SetName(String("Points"));
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {longName, "A", "A"});
  ASSERT_TRUE(tag);
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_EQ(Shown(IDC_GT_AVAILABLE), "B");
  EXPECT_EQ(Shown(IDC_GT_CHOSEN), std::string(255, 'n') + ", A");
  EXPECT_EQ(TagNames(tag), Names({std::string(255, 'n'), "A"}));
}

TEST_F(PluginTagsTest, ButtonsAreEnabledOnlyWhileRowsAreHighlighted) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {"B"});
  ASSERT_TRUE(tag);

  // Nothing highlighted: both buttons refuse a click.
  host::QueueDialogAction(DialogAction::Click("move-to-tag"));
  host::QueueDialogAction(DialogAction::Click("move-to-available"));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_EQ(host::DialogErrors().size(), 2u);
  EXPECT_TRUE(ErrorsMention("button 10156 (move-to-tag) is disabled"));
  EXPECT_TRUE(ErrorsMention("button 10157 (move-to-available) is disabled"));
  EXPECT_FALSE(Enabled(IDC_GT_ADD));
  EXPECT_FALSE(Enabled(IDC_GT_REMOVE));

  // A highlight on the left enables the button that moves to the tag, and only it.
  host::ClearUserLog();
  host::QueueDialogAction(DialogAction::HighlightLabels("available", {"A"}));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_TRUE(Enabled(IDC_GT_ADD));
  EXPECT_FALSE(Enabled(IDC_GT_REMOVE));

  // Once the row has moved, nothing is highlighted any more.
  host::QueueDialogAction(DialogAction::HighlightLabels("available", {"A"}));
  host::QueueDialogAction(DialogAction::Click("move-to-tag"));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_FALSE(Enabled(IDC_GT_ADD));
  EXPECT_FALSE(Enabled(IDC_GT_REMOVE));

  host::QueueDialogAction(DialogAction::HighlightLabels("chosen", {"A"}));
  host::QueueDialogAction(DialogAction::Ok());
  EXPECT_TRUE(tag->Message(MSG_EDIT));
  EXPECT_FALSE(Enabled(IDC_GT_ADD));
  EXPECT_TRUE(Enabled(IDC_GT_REMOVE));
  EXPECT_TRUE(host::DialogErrors().empty());
}

TEST_F(PluginTagsTest, OnlyATagOnAPolygonObjectOpensTheDialog) {
  RegisterTags();
  BaseObject* null = Mesh({"A"}, Onull);
  ASSERT_TRUE(null);
  BaseTag* tag = NameTag(null, ID_GROUP_TAG, {"A", "X"});
  ASSERT_TRUE(tag);
  EXPECT_FALSE(tag->Message(MSG_EDIT));
  EXPECT_TRUE(host::DialogLog().empty());
  EXPECT_TRUE(host::DialogErrors().empty());
  EXPECT_EQ(TagNames(tag), Names({"A", "X"})) << "nothing opened, nothing rewritten";

  BaseTag* loose = BaseTag::Alloc(ID_REGION_TAG);
  ASSERT_TRUE(loose);
  EXPECT_FALSE(loose->Message(MSG_EDIT));
  EXPECT_TRUE(host::DialogLog().empty());
  BaseTag::Free(loose);

  // The dialog itself refuses too, when handed an object of another kind.
  GroupTagDialog dlg(tag->GetDataInstance(), DLG_GROUPTAG, null);
  EXPECT_FALSE(dlg.Open());
  EXPECT_TRUE(ErrorsMention("did not open"));
  EXPECT_EQ(TagNames(tag), Names({"A", "X"}));
}

TEST_F(PluginTagsTest, DamagedTagDataIsCleanedWithoutLongWalks) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {});
  ASSERT_TRUE(tag);
  BaseContainer* bc = tag->GetDataInstance();
  bc->SetLong(GROUPTAG_COUNT, 0x7FFFFFFF);
  bc->SetLong(GROUPTAG_FIRST_NAME, 5);  // no text
  bc->SetString(GROUPTAG_FIRST_NAME + 1, String("B"));
  bc->SetString(GROUPTAG_FIRST_NAME + 2, String("A"));
  host::SetDialogDefault(false);
  EXPECT_FALSE(tag->Message(MSG_EDIT));
  EXPECT_EQ(TagNames(tag), Names({"B", "A"}));

  SetNames(tag, {"A"});
  bc->SetLong(GROUPTAG_COUNT, -3);
  EXPECT_FALSE(tag->Message(MSG_EDIT));
  EXPECT_EQ(Shown(IDC_GT_AVAILABLE), "A, B");
  EXPECT_EQ(bc->GetLong(GROUPTAG_COUNT), 0);
}

TEST_F(PluginTagsTest, RegistrationIsSkippedWhenAnotherPluginHasTheId) {
  struct OtherTag : TagData {};
  for (const LONG id : {ID_GROUP_TAG, ID_REGION_TAG, ID_XPMASK_TAG}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(RegisterTagPlugin(id, String("Someone else's"), 0, [] { return static_cast<NodeData*>(gNew OtherTag); },
                                  String(), nullptr, 0));
  }
  RegisterTags();
  EXPECT_EQ(host::RegisteredPlugins().size(), 3u);
  for (const LONG id : {ID_GROUP_TAG, ID_REGION_TAG, ID_XPMASK_TAG})
    EXPECT_EQ(FindPlugin(id, PLUGINTYPE_TAG)->GetName().Std(), "Someone else's");

  host::FreeRegistry();
  RegisterTags();
  EXPECT_EQ(FindPlugin(ID_REGION_TAG, PLUGINTYPE_TAG)->GetName().Std(), "OBJ Regions");
  EXPECT_EQ(FindPlugin(ID_XPMASK_TAG, PLUGINTYPE_TAG)->GetDescription().Std(), "Txpromask");
  EXPECT_EQ(FindPlugin(ID_GROUP_TAG, PLUGINTYPE_TAG)->GetInfo(), TAG_VISIBLE);
}

// Leftover actions of a dialog that did not open, taken by a dialog of no gadgets.
class Drain : public GeModalDialog {};

TEST_F(PluginTagsTest, MissingMemoryInTheDialogLeavesConsistentData) {
  RegisterTags();
  BaseObject* op = Mesh({"A", "B", "C"});
  ASSERT_TRUE(op);
  BaseTag* tag = NameTag(op, ID_GROUP_TAG, {});
  ASSERT_TRUE(tag);
  EveryAllocation([&] {
    SetNames(tag, {"C", "X"});
    host::QueueDialogAction(DialogAction::HighlightLabels("available", {"A"}));
    host::QueueDialogAction(DialogAction::Click("move-to-tag"));
    host::QueueDialogAction(DialogAction::Ok());
    const size_t dialogs = host::DialogLog().size();
    const bool confirmed = tag->Message(MSG_EDIT);
    if (host::DialogLog().size() == dialogs) Drain().Open();
    host::ClearUserLog();
    const Names names = TagNames(tag);
    // Untouched, cleaned at opening, or the full result: never a half-written list.
    EXPECT_TRUE(names == Names({"C", "X"}) || names == Names({"C"}) || names == Names({"C", "A"}))
        << ::testing::PrintToString(names);
    return confirmed && names == Names({"C", "A"});
  });
}

}  // namespace

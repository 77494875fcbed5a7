// What comes before the export options: the n-gon check with its question, the
// pre-pass's mask, visibility and item count rules, and the export command up to its
// options dialog.
#include <algorithm>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "main.h"
#include "objexp.h"
#include "plugin_ids.h"
#include "plugin_messages.h"
#include "plugopts.h"
#include "scene_helpers.h"
#include "validate.h"

using host::DialogAction;

namespace {

const char* const kQuestion =
    "At least one mesh object contains Ngons with 'holes'...\n\n"
    "Click Yes to disable exporting Ngons and Continue.\nClick No to Cancel.";

PolygonObject* Drop(PolygonObject* op) {
  BaseObject* obj = op;
  BaseObject::Free(obj);
  return nullptr;
}

bool AddNgon(PolygonObject* op, const std::vector<LONG>& outer) {
  NgonBase* base = op->GetNgonBase();
  return base &&
         base->BuildNgon(nullptr, outer.data(), 0, LONG(outer.size()), op->GetPolygonR(), op->GetPointR()) != NOTOK &&
         base->InitMap();
}

// The 3 x 3 grid's ring around its centre quad: one n-gon with a hole.
PolygonObject* HoledRing() {
  PolygonObject* op = Grid(3, 3);
  if (op && !AddNgon(op, {E(0, 0), E(1, 0), E(2, 0), E(2, 1), E(5, 1), E(8, 1), E(8, 2), E(7, 2), E(6, 2), E(6, 3),
                          E(3, 3), E(0, 3) | NGON_EDGE_SEGMENTEND, E(1, 2), E(3, 1), E(7, 0),
                          E(5, 3) | NGON_EDGE_SEGMENTEND}))
    return Drop(op);
  return op;
}

// Two strips of two quads, each one n-gon without a hole.
PolygonObject* PlainNgons() {
  PolygonObject* op = Grid(2, 2);
  if (op && (!AddNgon(op, {E(0, 0), E(1, 0), E(1, 1), E(1, 2), E(0, 2), E(0, 3)}) ||
             !AddNgon(op, {E(2, 0), E(3, 0), E(3, 1), E(3, 2), E(2, 2), E(2, 3)})))
    return Drop(op);
  return op;
}

class ValidateTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
    m_ctx = ObjExportContext::Alloc();
    ASSERT_TRUE(m_ctx);
  }
  void TearDown() override {
    ObjExportContext::Free(m_ctx);
    m_doc.reset();
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }
  BaseDocument* Doc() {
    if (!m_doc) m_doc.reset(BaseDocument::Alloc());
    return m_doc.get();
  }
  BaseObject* Add(BaseObject* op, const char* name, BaseObject* parent = nullptr) {
    EXPECT_TRUE(op);
    return InsertLast(Doc(), op, name, parent);
  }
  // A polygon object of n points and no polygons: its count is n.
  BaseObject* Points(LONG n, const char* name, BaseObject* parent = nullptr) {
    return Add(PolygonObject::Alloc(n, 0), name, parent);
  }
  static void Mask(BaseObject* op, bool skipObject, bool skipChildren) {
    BaseTag* tag = op->MakeTag(ID_XPMASK_TAG);
    ASSERT_TRUE(tag);
    tag->GetDataInstance()->SetBool(XPMASK_SKIP_OBJECT, skipObject);
    tag->GetDataInstance()->SetBool(XPMASK_SKIP_CHILDREN, skipChildren);
  }

  ObjExportContext* m_ctx = nullptr;
  DocPtr m_doc;
};

TEST_F(ValidateTest, AHoledNgonAsksOnceAndTheAnswerDecides) {
  ObjPtr holed(HoledRing());
  ASSERT_TRUE(holed);
  host::QueueAnswer(true);
  EXPECT_TRUE(ValidatePolygons(m_ctx, holed.get()));
  EXPECT_FALSE(m_ctx->exportNgons);
  EXPECT_EQ(host::MessageBoxes(), std::vector<std::string>{kQuestion});

  m_ctx->exportNgons = TRUE;
  host::QueueAnswer(false);
  EXPECT_FALSE(ValidatePolygons(m_ctx, holed.get()));
  EXPECT_FALSE(m_ctx->exportNgons);
  EXPECT_EQ(host::MessageBoxes().size(), 2u);
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(ValidateTest, NgonsWithoutHolesAndObjectsWithoutNgonsPassWithoutAQuestion) {
  ObjPtr plain(PlainNgons());
  ASSERT_TRUE(plain);
  ASSERT_EQ(ToPoly(plain.get())->GetNgonCount(), 2);
  ObjPtr grid(Grid(2, 2));
  ObjPtr null(BaseObject::Alloc(Onull));
  host::SetDefaultAnswer(false);
  EXPECT_TRUE(ValidatePolygons(m_ctx, plain.get()));
  EXPECT_TRUE(ValidatePolygons(m_ctx, grid.get()));
  EXPECT_TRUE(ValidatePolygons(m_ctx, null.get()));
  EXPECT_TRUE(m_ctx->exportNgons);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(ValidateTest, HostFailuresPrintTheFailedStepAndCancelWithoutAQuestion) {
  ObjPtr holed(HoledRing());
  ASSERT_TRUE(holed);
  host::SetDefaultAnswer(true);
  std::vector<std::string> seen;
  for (LLONG n = 1;; ++n) {
    SCOPED_TRACE(n);
    m_ctx->exportNgons = TRUE;
    host::ClearConsole();
    host::ClearUserLog();
    host::FailAllocationAt(n);
    const Bool goOn = ValidatePolygons(m_ctx, holed.get());
    const LLONG made = host::AllocationsSinceArmed();
    host::ResetFaults();
    if (made < n) {
      EXPECT_TRUE(goOn);
      EXPECT_EQ(host::MessageBoxes(), std::vector<std::string>{kQuestion});
      break;
    }
    EXPECT_FALSE(goOn);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_TRUE(m_ctx->exportNgons);
    ASSERT_EQ(host::ConsoleLines().size(), 1u);
    seen.push_back(host::ConsoleLines()[0]);
    ASSERT_LT(n, 1000);
  }
  EXPECT_NE(std::find(seen.begin(), seen.end(), "ValidatePolygons::InitObject() failed"), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "ValidatePolygons::GetNgon() failed"), seen.end());
  for (const auto& line : seen)
    EXPECT_TRUE(line == "ValidatePolygons::InitObject() failed" || line == "ValidatePolygons::GetNgon() failed")
        << line;
}

TEST_F(ValidateTest, ThePrePassAsksOnceForTwoHoledObjectsAndCountsThemAll) {
  Add(HoledRing(), "First");
  Add(PlainNgons(), "Plain");
  Add(HoledRing(), "Second");
  PluginOpts opts;
  opts.geomFlags = GEOM_FACES;
  m_ctx->options = &opts;
  host::QueueAnswer(true);
  host::SetDefaultAnswer(false);  // a second question would cancel
  EXPECT_TRUE(PrePassObjects(m_ctx, Doc()->GetFirstObject(), TRUE));
  EXPECT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_FALSE(m_ctx->exportNgons);
  // Points and faces: 16 + 9, 9 + 4, 16 + 9.
  EXPECT_EQ(m_ctx->progressTotal, 63u);

  // No: the walk stops at the first object.
  m_ctx->exportNgons = TRUE;
  m_ctx->progressTotal = 0;
  host::ClearUserLog();
  host::QueueAnswer(false);
  EXPECT_FALSE(PrePassObjects(m_ctx, Doc()->GetFirstObject(), TRUE));
  EXPECT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(m_ctx->progressTotal, 25u);
}

TEST_F(ValidateTest, CountObjectAddsPointsFacesAndCornersOfWhatIsWritten) {
  PolygonObject* op = PolygonObject::Alloc(5, 2);
  ObjPtr owner(op);
  op->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
  op->GetPolygonW()[1] = CPolygon(0, 1, 4);
  PluginOpts opts;
  m_ctx->options = &opts;
  const struct {
    ULONG geom;
    ULONG total;
  } cases[] = {
      {0, 5},
      {GEOM_FACES, 7},
      {GEOM_UVS, 5 + 7},
      {GEOM_FACES | GEOM_NORMALS, 7 + 7},
      {GEOM_FACES | GEOM_UVS | GEOM_NORMALS, 7 + 14},
  };
  for (const auto& c : cases) {
    opts.geomFlags = c.geom;
    m_ctx->progressTotal = 0;
    CountObject(m_ctx, op);
    EXPECT_EQ(m_ctx->progressTotal, c.total) << std::hex << c.geom;
  }
  m_ctx->progressTotal = 100;
  CountObject(m_ctx, op);
  EXPECT_EQ(m_ctx->progressTotal, 121u) << "the count adds up";
}

TEST_F(ValidateTest, MaskTagsAndEditorVisibilityDecideWhatThePrePassCounts) {
  ASSERT_TRUE(PluginStart());
  // Point counts are powers of two, so the total tells which objects counted.
  BaseObject* hidden = Points(1, "Hidden");
  hidden->SetEditorMode(MODE_OFF);
  Points(2, "Inherits", hidden)->SetEditorMode(MODE_UNDEF);
  Points(4, "On", hidden)->SetEditorMode(MODE_ON);
  BaseObject* masked = Points(8, "Masked");
  Mask(masked, true, false);
  Points(16, "Kept", masked);
  BaseObject* maskedAll = Points(32, "MaskedAll");
  Mask(maskedAll, true, true);
  Points(64, "Dropped", maskedAll);
  BaseObject* notSkipped = Points(128, "ChildrenFlagAlone");
  Mask(notSkipped, false, true);  // skipping children is only read with the object skipped
  Points(256, "Child", notSkipped);
  BaseObject* group = Add(BaseObject::Alloc(Onull), "Group");
  group->SetEditorMode(MODE_OFF);
  Points(512, "UnderHiddenNull", group);

  m_ctx->ignoreVisibility = FALSE;
  EXPECT_TRUE(PrePassObjects(m_ctx, Doc()->GetFirstObject(), TRUE));
  EXPECT_EQ(m_ctx->progressTotal, 4u + 16 + 128 + 256);

  m_ctx->ignoreVisibility = TRUE;
  m_ctx->progressTotal = 0;
  EXPECT_TRUE(PrePassObjects(m_ctx, Doc()->GetFirstObject(), TRUE));
  EXPECT_EQ(m_ctx->progressTotal, 1u + 2 + 4 + 16 + 128 + 256 + 512);

  // ReadObjectState on its own.
  m_ctx->ignoreVisibility = FALSE;
  ReadObjectState(m_ctx, maskedAll);
  EXPECT_TRUE(m_ctx->maskSkipObject && m_ctx->maskSkipChildren);
  EXPECT_EQ(m_ctx->visibilityMode, MODE_UNDEF);
  ReadObjectState(m_ctx, notSkipped);
  EXPECT_FALSE(m_ctx->maskSkipObject || m_ctx->maskSkipChildren);
  ReadObjectState(m_ctx, hidden);
  EXPECT_EQ(m_ctx->visibilityMode, MODE_OFF);

  // The polygonised copy keeps the tags and the visibility; a new context ignores
  // visibility until the options say otherwise.
  ObjExportContext* fresh = ObjExportContext::Alloc();
  ASSERT_TRUE(fresh);
  PluginOpts opts;
  fresh->options = &opts;
  EXPECT_EQ(PrepareExport(fresh, Doc()), EXPORT_PREPARED);
  ASSERT_TRUE(fresh->sourceDocument);
  EXPECT_NE(fresh->sourceDocument, Doc());
  EXPECT_EQ(fresh->progressTotal, 1u + 2 + 4 + 16 + 128 + 256 + 512);
  ObjExportContext::Free(fresh);
}

// --- the export command and the shell's request ------------------------------------------

class ExportCommandTest : public ValidateTest {
 protected:
  void SetUp() override {
    ValidateTest::SetUp();
    ASSERT_TRUE(PluginStart());
    host::ClearConsole();
    m_command = FindPlugin(ID_EXPORT_PLUGIN, PLUGINTYPE_COMMAND)->GetCommand();
  }
  CommandData* m_command = nullptr;
};

TEST_F(ExportCommandTest, NothingToExportSaysSoWithoutADialog) {
  Points(0, "Empty");
  Add(BaseObject::Alloc(Onull), "Null");
  EXPECT_EQ(m_command->GetState(Doc()), CMD_ENABLED);
  EXPECT_FALSE(m_command->Execute(Doc()));
  EXPECT_EQ(host::MessageBoxes(),
            std::vector<std::string>{"There is nothing to export:\nthe document holds no visible polygon object."});
  EXPECT_TRUE(host::DialogLog().empty());
  EXPECT_TRUE(host::ConsoleLines().empty());
  EXPECT_EQ(host::Status().text, "");
}

TEST_F(ExportCommandTest, NoAtTheNgonQuestionCancelsBeforeAnyDialog) {
  Add(HoledRing(), "Holed");
  host::QueueAnswer(false);
  EXPECT_FALSE(m_command->Execute(Doc()));
  EXPECT_EQ(host::MessageBoxes(), std::vector<std::string>{kQuestion});
  EXPECT_TRUE(host::DialogLog().empty());
  EXPECT_TRUE(host::ConsoleLines().empty());
  EXPECT_EQ(GetWorldPluginData(PRESETS_EXPORT_CONTAINER), nullptr) << "the presets were not even loaded";
}

TEST_F(ExportCommandTest, YesShowsTheDialogWithNgonsUntickedAndDisabled) {
  Add(PlainNgons(), "Plain");
  Add(HoledRing(), "Holed");
  host::QueueAnswer(true);
  EXPECT_FALSE(m_command->Execute(Doc()));
  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::GadgetRecord* ngons = host::DialogLog()[0].Find(IDC_XP_NGONS);
  ASSERT_TRUE(ngons);
  EXPECT_EQ(ngons->value, "off");
  EXPECT_FALSE(ngons->enabled);
  // The file selector came next; cancelled, it ends the run with nothing written.
  EXPECT_EQ(host::FileSelectorTitles(), std::vector<std::string>{"Export as Wavefront OBJ file"});
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(ExportCommandTest, WithoutHolesTheDialogFollowsThePresetAndCancelPrintsNothing) {
  Add(PlainNgons(), "Plain");
  host::SetDialogDefault(false);
  EXPECT_FALSE(m_command->Execute(Doc()));
  EXPECT_TRUE(host::MessageBoxes().empty());
  ASSERT_EQ(host::DialogLog().size(), 1u);
  EXPECT_EQ(host::DialogLog()[0].Find(IDC_XP_NGONS)->value, "on");
  EXPECT_TRUE(host::DialogLog()[0].Find(IDC_XP_NGONS)->enabled);
  EXPECT_TRUE(host::ConsoleLines().empty());
  // The presets were loaded and saved around the dialog.
  EXPECT_NE(GetWorldPluginData(PRESETS_EXPORT_CONTAINER), nullptr);
}

TEST_F(ExportCommandTest, TheShellsRequestRunsTheNgonQuestionFirst) {
  Add(HoledRing(), "Holed");
  OptionsDialogRequest request{1, Doc(), TRUE, TRUE, FALSE};
  host::QueueAnswer(false);
  ASSERT_TRUE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_TRUE(request.cancelledByValidation);
  EXPECT_FALSE(request.opened);
  EXPECT_FALSE(request.confirmed);
  EXPECT_TRUE(host::DialogLog().empty());

  host::QueueAnswer(true);
  ASSERT_TRUE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_FALSE(request.cancelledByValidation);
  EXPECT_TRUE(request.opened);
  EXPECT_TRUE(request.confirmed);
  ASSERT_EQ(host::DialogLog().size(), 1u);
  EXPECT_FALSE(host::DialogLog()[0].Find(IDC_XP_NGONS)->enabled);
  EXPECT_EQ(host::MessageBoxes().size(), 2u);
  EXPECT_TRUE(host::ConsoleLines().empty()) << "nothing runs after the dialog";
}

TEST_F(ExportCommandTest, AllocationFailuresBeforeAndInTheDialogLeaveNothingBehind) {
  Add(HoledRing(), "Holed");
  Add(Grid(4, 4), "Grid");
  host::SetDefaultAnswer(true);
  host::SetDialogDefault(true);
  EveryAllocation([&] {
    OptionsDialogRequest request{1, Doc(), FALSE, FALSE, FALSE};
    const Bool handled = PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request);
    // Yes is the only answer, so a failure is never taken for No.
    EXPECT_FALSE(request.cancelledByValidation);
    return handled && request.opened && request.confirmed;
  });
  host::ClearConsole();
  // The whole export: a failed allocation anywhere ends the run without a crash or a
  // leak, and the run that meets none writes the file.
  const std::string file = TempDir() + "/all.obj";
  EveryAllocation([&] {
    host::QueueFileSelection(file);
    const Bool exported = m_command->Execute(Doc());
    return exported && ReadFile(file).find("# 25 vertices") != std::string::npos;
  });
}

}  // namespace

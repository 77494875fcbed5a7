// The OBJ option dialogs played by the scripted user: what each gadget edits, the
// exclusive sets, the enable rules, the preset buttons, the frame range, OK and Cancel,
// the logos, and the commands' option stage around the dialogs.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "pixels.h"
#include "main.h"
#include "objexp.h"
#include "objimp.h"
#include "optdialogs.h"
#include "plugin_ids.h"
#include "plugin_messages.h"
#include "scene_helpers.h"

namespace fs = std::filesystem;
using host::DialogAction;
using host::GadgetKind;

namespace {

constexpr PluginOpts::Side kImport = PluginOpts::IMPORT_SIDE;
constexpr PluginOpts::Side kExport = PluginOpts::EXPORT_SIDE;

std::string G(LONG id) { return std::to_string(id); }
void Queue(const DialogAction& a) { host::QueueDialogAction(a); }
void Tick(LONG id, bool on) { Queue(DialogAction::Tick(G(id), on)); }
void Integer(LONG id, LLONG value) { Queue(DialogAction::Integer(G(id), value)); }
void Click(LONG id) { Queue(DialogAction::Click(G(id))); }

// Every field of two records.
void ExpectSameRecord(const PluginOpts& a, const PluginOpts& e) {
  EXPECT_EQ(a.name.Std(), e.name.Std());
  EXPECT_EQ(a.presetId, e.presetId);
  EXPECT_EQ(a.scale, e.scale);
  EXPECT_EQ(a.layoutFlags, e.layoutFlags) << std::hex << (a.layoutFlags ^ e.layoutFlags);
  EXPECT_EQ(a.geomFlags, e.geomFlags) << std::hex << (a.geomFlags ^ e.geomFlags);
  EXPECT_EQ(a.materialFlags, e.materialFlags) << std::hex << (a.materialFlags ^ e.materialFlags);
  EXPECT_EQ(a.shaderParam1006, e.shaderParam1006);
  EXPECT_EQ(a.shaderParam1005, e.shaderParam1005);
  EXPECT_EQ(a.mode, e.mode);
  EXPECT_EQ(a.value1010, e.value1010);
  EXPECT_EQ(a.startFrame, e.startFrame);
  EXPECT_EQ(a.endFrame, e.endFrame);
  EXPECT_EQ(a.frameRate, e.frameRate);
  EXPECT_EQ(a.frameStep, e.frameStep);
  EXPECT_EQ(a.firstFileNumber, e.firstFileNumber);
  EXPECT_EQ(a.useFirstFileNumber, e.useFirstFileNumber);
  EXPECT_EQ(a.texturePath.Std(), e.texturePath.Std());
  EXPECT_DOUBLE_EQ(a.smoothAngle, e.smoothAngle);
  EXPECT_EQ(a.mergeToleranceR, e.mergeToleranceR);
  EXPECT_EQ(a.mergeToleranceG, e.mergeToleranceG);
  EXPECT_EQ(a.mergeToleranceB, e.mergeToleranceB);
}

const host::GadgetRecord& Shown(LONG id) {
  static const host::GadgetRecord missing;
  if (host::DialogLog().empty()) {
    ADD_FAILURE() << "no dialog closed";
    return missing;
  }
  const host::GadgetRecord* g = host::DialogLog().back().Find(id);
  if (!g) {
    ADD_FAILURE() << "no gadget " << id;
    return missing;
  }
  return *g;
}
bool Ticked(LONG id) { return Shown(id).value == "on"; }
bool Enabled(LONG id) { return Shown(id).enabled; }

bool ErrorsMention(const std::string& text) {
  for (const auto& e : host::DialogErrors())
    if (e.find(text) != std::string::npos) return true;
  return false;
}

class OptDialogTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  }
  void TearDown() override {
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  // Plays the import dialog on store; true on OK.
  static bool PlayImport(PresetStore& store, Real* factor = nullptr) {
    LoadOptsDialog dlg(&store, factor);
    return dlg.Open();
  }
  static bool PlayExport(PresetStore& store, ObjExportContext* ctx, BaseDocument* doc) {
    SaveOptsDialog dlg(&store, ctx, doc);
    return dlg.Open();
  }
};

// --- the resources --------------------------------------------------------------

struct GadgetKindRow {
  LONG id;
  GadgetKind kind;
};

void ExpectGadgets(LONG dialogId, const std::vector<GadgetKindRow>& rows) {
  std::string title, error;
  std::vector<host::GadgetInfo> gadgets;
  ASSERT_TRUE(host::DescribeDialogResource(dialogId, &title, &gadgets, &error)) << error;
  std::map<LONG, GadgetKind> kinds;
  for (const auto& g : gadgets) kinds[g.id] = g.kind;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    ASSERT_TRUE(kinds.count(row.id));
    EXPECT_STREQ(host::GadgetKindName(kinds[row.id]), host::GadgetKindName(row.kind));
  }
}

TEST_F(OptDialogTest, BothResourcesHoldEveryGadgetWithItsKind) {
  using K = GadgetKind;
  const std::vector<GadgetKindRow> common = {
      {10085, K::Popup}, {10087, K::Button}, {10088, K::Button}, {10089, K::Button}, {10091, K::Button},
      {10092, K::Button}, {1, K::Button},    {2, K::Button},     {10126, K::Check},  {10128, K::Check},
      {10129, K::Check},  {10130, K::Check},
  };
  std::vector<GadgetKindRow> import = {
      {10162, K::UserArea}, {10164, K::UserArea}, {10260, K::Radio}, {10261, K::Radio}, {10170, K::Radio},
      {10171, K::Radio},    {10172, K::Group},    {10173, K::Check}, {10174, K::Check}, {10167, K::Integer},
      {10165, K::Radio},    {10166, K::Radio},    {10183, K::Check}, {10187, K::Check}, {10188, K::Group},
      {10189, K::Real},     {10233, K::Check},    {10234, K::Group}, {10235, K::Radio}, {10236, K::Radio},
      {10237, K::Check},    {10238, K::Group},    {10243, K::Group}, {10182, K::Check}, {10181, K::Check},
      {10180, K::Check},    {10131, K::Group},    {10185, K::Check}, {10186, K::Check}, {10184, K::Check},
      {10179, K::Check},    {10178, K::Check},    {10194, K::Radio}, {10195, K::Radio}, {10196, K::Radio},
      {10197, K::Check},    {10198, K::Group},    {10211, K::Group}, {10204, K::Check}, {10212, K::Check},
      {10213, K::Group},    {10214, K::Popup},    {10215, K::Popup}, {10216, K::Text},  {10217, K::Button},
      {10220, K::Check},    {10221, K::Integer},  {10222, K::Integer}, {10223, K::Integer},
  };
  for (LONG id = 10226; id <= 10230; ++id) import.push_back({id, K::Radio});
  for (LONG id = 10249; id <= 10257; ++id) import.push_back({id, K::Check});
  for (LONG id = 10239; id <= 10242; ++id) import.push_back({id, K::Radio});
  for (LONG id = 10244; id <= 10246; ++id) import.push_back({id, K::Radio});
  for (LONG id : {10201, 10202, 10203, 10205, 10206, 10207, 10208, 10209, 10210}) import.push_back({id, K::Check});
  import.insert(import.end(), common.begin(), common.end());
  ExpectGadgets(DLG_OBJ_IMPORT_OPTIONS, import);

  std::vector<GadgetKindRow> exp = {
      {10081, K::UserArea}, {10083, K::UserArea}, {10097, K::Integer}, {10095, K::Radio},   {10096, K::Radio},
      {10102, K::Radio},    {10103, K::Radio},    {10104, K::Radio},   {10106, K::Radio},   {10101, K::Check},
      {10105, K::Check},    {10107, K::Group},    {10108, K::Radio},   {10109, K::Radio},   {10110, K::Radio},
      {10111, K::Group},    {10114, K::Check},    {10136, K::Radio},   {10137, K::Radio},   {10138, K::Radio},
      {10139, K::Radio},    {10140, K::Group},    {10142, K::Check},   {10143, K::Group},   {10154, K::Check},
      {10116, K::Check},    {10118, K::Check},    {10119, K::Check},   {10120, K::Group},   {10134, K::Group},
      {10125, K::Check},    {10124, K::Check},    {10123, K::Check},   {10115, K::Check},   {10132, K::Check},
      {10133, K::Check},    {10117, K::Check},    {10121, K::Check},   {10122, K::Check},   {10144, K::Popup},
      {10145, K::Static},   {10146, K::Integer},  {10147, K::Integer}, {10148, K::Integer}, {10149, K::Integer},
      {10151, K::Popup},    {10152, K::Group},    {10153, K::Integer},
  };
  exp.insert(exp.end(), common.begin(), common.end());
  ExpectGadgets(DLG_OBJ_EXPORT_OPTIONS, exp);
}

// --- what the gadgets edit -------------------------------------------------------

TEST_F(OptDialogTest, AScriptedImportRunEndsWithExactlyTheRecordItAskedFor) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  PluginOpts expected;
  store.importOpts.CopyTo(&expected);

  Tick(IDC_IMP_CURRENT_DOCUMENT, true);
  expected.layoutFlags &= ~ULONG(IMP_NEW_DOCUMENT);
  Tick(IDC_IMP_FOLDER, true);
  expected.mode = 1;
  Tick(IDC_IMP_SUBFOLDERS, true);
  Tick(IDC_IMP_NULL_PER_FOLDER, true);
  expected.layoutFlags |= IMP_FOLDER_SUBFOLDERS | IMP_FOLDER_NULLS;
  Integer(IDC_IMP_SCALE, 250);
  expected.scale = 250;
  Tick(IDC_IMP_DIVIDE, true);
  expected.geomFlags &= ~ULONG(GEOM_SCALE_MULTIPLY);
  Tick(IDC_IMP_LAYOUT_REGIONS, true);
  expected.layoutFlags = (expected.layoutFlags & ~ULONG(IMP_OBJECT_LAYOUT_MASK)) | IMP_OBJECT_PER_REGION;
  Tick(IDC_IMP_CENTRE_AXES, false);
  expected.layoutFlags &= ~ULONG(IMP_CENTER_AXES);
  Queue(DialogAction::Decimal(G(IDC_IMP_SMOOTH_ANGLE), 45.5));
  expected.smoothAngle = 45.5 * M_PI / 180.0;  // typed in degrees, kept in radians
  Tick(IDC_IMP_LAYER_UVW, false);
  expected.layoutFlags &= ~ULONG(IMP_LAYER_UVW_TAGS);
  Tick(IDC_IMP_LAYER_REGION_SELECTIONS, false);
  expected.layoutFlags &= ~ULONG(IMP_LAYER_REGION_SELECTIONS);
  Tick(IDC_IMP_LINES_AS_FACES, true);
  expected.layoutFlags |= IMP_LINES_AS_FACES;
  Tick(IDC_WHOLE_GROUP_NAMES, true);
  Tick(IDC_IMP_FLIP_U, true);
  Tick(IDC_IMP_FLIP_V, false);
  Tick(IDC_IMP_NORMALS, true);
  Tick(IDC_IMP_NGONS, false);
  Tick(IDC_SWAP_YZ, true);
  Tick(IDC_NEGATE_X, true);
  expected.geomFlags |= GEOM_WHOLE_GROUP_NAMES | GEOM_FLIP_U | GEOM_NORMALS | GEOM_SWAP_YZ | GEOM_NEGATE_X;
  expected.geomFlags &= ~ULONG(GEOM_FLIP_V | GEOM_NGONS);
  Tick(IDC_IMP_NEW_MATERIALS, true);
  expected.materialFlags = (expected.materialFlags & ~ULONG(MAT_HANDLING_MASK)) | MAT_NEW;
  Tick(IDC_IMP_COLOUR, false);
  Tick(IDC_IMP_TRANSPARENCY, false);
  Tick(IDC_IMP_EXTRA_CHANNEL, false);
  Tick(IDC_IMP_CONSOLIDATE, true);
  expected.materialFlags &= ~ULONG(MAT_COLOR | MAT_TRANSPARENCY | MAT_EXTRA_CHANNEL);
  expected.materialFlags |= MAT_CONSOLIDATE;
  Queue(DialogAction::ChooseIndex(G(IDC_IMP_SAMPLING), 1));
  expected.shaderParam1006 = 1;
  Queue(DialogAction::ChooseLabel(G(IDC_IMP_BLUR), "Blur: 50 %"));
  expected.shaderParam1005 = 6;
  Queue(DialogAction::Text(G(IDC_IMP_TEXTURE_PATH), "maps/textures"));
  expected.texturePath = String("maps/textures");
  Integer(IDC_IMP_TOLERANCE_R, 4);
  Integer(IDC_IMP_TOLERANCE_G, 20);  // past the limit
  expected.mergeToleranceR = 4;
  expected.mergeToleranceG = 16;
  Queue(DialogAction::Ok());

  Real factor = 0.0;
  ASSERT_TRUE(PlayImport(store, &factor));
  EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
  ExpectSameRecord(store.importOpts, expected);
  EXPECT_DOUBLE_EQ(factor, 1.0 / 250.0);
  EXPECT_EQ(host::DialogLog().back().title, "Wavefront OBJ Import");
  EXPECT_EQ(Shown(IDC_IMP_BLUR).value, "Blur: 50 %");
}

TEST_F(OptDialogTest, AScriptedExportRunEndsWithExactlyTheRecordItAskedFor) {
  DocPtr doc(BaseDocument::Alloc());
  doc->SetFps(25);
  doc->SetMaxTime(BaseTime(4.0));  // frame 100
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  PresetStore store;
  ASSERT_TRUE(store.Load());
  PluginOpts expected;
  store.exportOpts.CopyTo(&expected);

  Tick(IDC_XP_MULTIPLY, true);
  Integer(IDC_XP_SCALE, 12);
  expected.geomFlags |= GEOM_SCALE_MULTIPLY;
  expected.scale = 12;
  Tick(IDC_XP_MODE_FRAMES, true);
  expected.mode = 3;
  Tick(IDC_XP_IGNORE_VISIBILITY, true);
  Tick(IDC_XP_EXISTING_ASK, true);
  expected.layoutFlags = (expected.layoutFlags & ~ULONG(XP_EXISTING_MASK)) | XP_IGNORE_VISIBILITY | XP_EXISTING_ASK;
  Integer(IDC_XP_START_FRAME, 10);
  Integer(IDC_XP_END_FRAME, 60);
  Integer(IDC_XP_FRAME_RATE, 30);
  Integer(IDC_XP_FRAME_STEP, 4);
  expected.startFrame = 10;
  expected.endFrame = 60;
  expected.frameRate = 30;
  expected.frameStep = 4;
  Tick(IDC_XP_ONE_MTL, false);
  Tick(IDC_XP_NUMBER_BY_STEP, true);
  expected.layoutFlags = (expected.layoutFlags & ~ULONG(XP_ONE_MTL)) | XP_NUMBER_BY_STEP;
  Queue(DialogAction::ChooseIndex(G(IDC_XP_FILE_NUMBERING), 1));
  Integer(IDC_XP_FIRST_FILE_NUMBER, 7);
  Queue(DialogAction::ChooseIndex(G(IDC_XP_COMPATIBILITY), 1));
  expected.useFirstFileNumber = 1;
  expected.firstFileNumber = 7;
  expected.value1010 = 1;
  Tick(IDC_XP_OBJECT_LINES, true);
  Tick(IDC_XP_ORDER_GROUP, true);
  expected.layoutFlags = (expected.layoutFlags & ~ULONG(XP_ORDER_MASK)) | XP_OBJECT_LINES | XP_ORDER_BY_GROUP;
  Tick(IDC_XP_COMPRESS_UVS, false);
  Tick(IDC_XP_NORMALS, true);
  Tick(IDC_XP_COMPRESS_NORMALS, false);
  expected.layoutFlags |= XP_NO_UV_COMPRESSION | XP_NO_NORMAL_COMPRESSION;
  Tick(IDC_XP_REGIONS, false);
  Tick(IDC_XP_FLIP_U, true);
  Tick(IDC_XP_REVERSE, true);
  Tick(IDC_NEGATE_Z, false);
  expected.geomFlags |= GEOM_NORMALS | GEOM_FLIP_U | GEOM_REVERSE_ORDER;
  expected.geomFlags &= ~ULONG(GEOM_REGIONS | GEOM_NEGATE_Z);
  Queue(DialogAction::Ok());

  ASSERT_TRUE(PlayExport(store, ctx, doc.get()));
  EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
  ExpectSameRecord(store.exportOpts, expected);
  EXPECT_EQ(ctx->scaleFactor, 12.0);
  EXPECT_EQ(Shown(IDC_XP_COMPATIBILITY).value, "Compatibility: extended");
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, TheDialogsShowTheRecordAndDocumentTheyAreGiven) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  store.SelectPreset(kImport, 2);  // "Import From Poser": multiply by 1000, whole names
  ASSERT_TRUE(PlayImport(store));
  EXPECT_EQ(Shown(IDC_PRESET_LIST).value, "Import From Poser");
  EXPECT_EQ(Shown(IDC_IMP_SCALE).number, 1000.0);
  EXPECT_TRUE(Ticked(IDC_IMP_MULTIPLY));
  EXPECT_FALSE(Ticked(IDC_IMP_DIVIDE));
  EXPECT_TRUE(Ticked(IDC_WHOLE_GROUP_NAMES));
  EXPECT_TRUE(Ticked(IDC_IMP_REUSE_MATERIALS));
  EXPECT_TRUE(Ticked(IDC_IMP_SPLINE_PER_GROUP));
  EXPECT_TRUE(Ticked(IDC_IMP_SPLINE_NULL_PER_GROUP));
  EXPECT_EQ(Shown(IDC_IMP_SAMPLING).value, "Sampling: MIP");
  // The record's radians are shown in degrees.
  EXPECT_NEAR(Shown(IDC_IMP_SMOOTH_ANGLE).number, 80.0, 1e-5);

  DocPtr doc(BaseDocument::Alloc());
  doc->SetFps(24);
  doc->SetMinTime(BaseTime(1.0));  // frame 24
  doc->SetMaxTime(BaseTime(5.0));  // frame 120
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  store.SelectPreset(kExport, 2);  // "Export To Poser": divide by 1000, by material
  store.exportOpts.startFrame = 3;  // never shown: the frames come from the document
  SaveOptsDialog dlg(&store, ctx, doc.get());
  EXPECT_EQ(dlg.FirstFrame(), 24);
  EXPECT_EQ(dlg.LastFrame(), 120);
  EXPECT_EQ(dlg.FrameRate(), 24);
  ASSERT_TRUE(dlg.Open());
  EXPECT_EQ(Shown(IDC_XP_SCALE).number, 1000.0);
  EXPECT_TRUE(Ticked(IDC_XP_DIVIDE));
  EXPECT_TRUE(Ticked(IDC_XP_ORDER_MATERIAL));
  EXPECT_TRUE(Ticked(IDC_XP_EXISTING_OVERWRITE)) << "neither ask nor number is set";
  EXPECT_TRUE(Ticked(IDC_XP_COMPRESS_UVS));
  EXPECT_EQ(Shown(IDC_XP_START_FRAME).number, 24.0);
  EXPECT_EQ(Shown(IDC_XP_END_FRAME).number, 120.0);
  EXPECT_EQ(Shown(IDC_XP_FRAME_RATE).number, 24.0);
  EXPECT_EQ(Shown(IDC_XP_FRAME_STEP).number, 1.0);
  EXPECT_EQ(store.exportOpts.startFrame, 24);
  EXPECT_DOUBLE_EQ(ctx->scaleFactor, 0.001);
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, AScaleOfZeroIsReadBackAsOne) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  store.importOpts.scale = 0;
  store.importOpts.geomFlags &= ~ULONG(GEOM_SCALE_MULTIPLY);
  Real factor = 0.0;
  ASSERT_TRUE(PlayImport(store, &factor));
  EXPECT_EQ(store.importOpts.scale, 1u);
  EXPECT_EQ(factor, 1.0);

  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  store.exportOpts.scale = 0;
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_EQ(store.exportOpts.scale, 1u);
  EXPECT_EQ(ctx->scaleFactor, 1.0);
  // A scale past the field's limit is shown and read back at the limit.
  store.exportOpts.scale = 4000000000u;
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_EQ(store.exportOpts.scale, 100000u);
  ObjExportContext::Free(ctx);
}

// --- exclusive sets ----------------------------------------------------------------

// In an order that keeps every member enabled when its turn comes: the line set frees
// the spline sets and the mode set the existing-file set, so they go last.
const std::vector<std::vector<LONG>> kImportSets = {
    {10260, 10261}, {10170, 10171}, {10165, 10166},        {10226, 10227, 10228, 10229, 10230},
    {10194, 10195, 10196}, {10239, 10240, 10241, 10242}, {10244, 10245, 10246}, {10235, 10236},
};
const std::vector<std::vector<LONG>> kExportSets = {
    {10095, 10096}, {10108, 10109, 10110}, {10136, 10137, 10138, 10139}, {10102, 10103, 10104, 10106}};

TEST_F(OptDialogTest, TickingOneMemberOfAnExclusiveSetClearsTheOthers) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  for (size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    // The spline sets need line elements read as segments.
    Tick(IDC_IMP_LINES, true);
    Tick(IDC_IMP_LINES_AS_SPLINES, true);
    for (const auto& set : kImportSets)
      if (k < set.size()) Tick(set[k], true);
    ASSERT_TRUE(PlayImport(store));
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    for (const auto& set : kImportSets)
      for (size_t j = 0; j < set.size(); ++j)
        EXPECT_EQ(Ticked(set[j]), j == std::min(k, set.size() - 1)) << set[j];
    host::ClearUserLog();
  }
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  for (size_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    // The existing-file set needs a mode with several files.
    Tick(IDC_XP_MODE_OBJECTS, true);
    for (const auto& set : kExportSets)
      if (k < set.size()) Tick(set[k], true);
    ASSERT_TRUE(PlayExport(store, ctx, nullptr));
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    for (const auto& set : kExportSets)
      for (size_t j = 0; j < set.size(); ++j)
        EXPECT_EQ(Ticked(set[j]), j == std::min(k, set.size() - 1)) << set[j];
    host::ClearUserLog();
  }
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, UntickingTheTickedMemberKeepsItTickedAndTheRecordKeepsItsChoice) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  Tick(IDC_IMP_LAYOUT_GROUPS, true);
  Tick(IDC_IMP_LAYOUT_GROUPS, false);
  Tick(IDC_IMP_REUSE_MATERIALS, false);
  ASSERT_TRUE(PlayImport(store));
  EXPECT_TRUE(Ticked(IDC_IMP_LAYOUT_GROUPS));
  EXPECT_TRUE(Ticked(IDC_IMP_REUSE_MATERIALS));
  EXPECT_EQ(store.importOpts.layoutFlags & IMP_OBJECT_LAYOUT_MASK, ULONG(IMP_OBJECT_PER_GROUP));
  EXPECT_EQ(store.importOpts.materialFlags & MAT_HANDLING_MASK, ULONG(MAT_REUSE));
}

// --- enable rules --------------------------------------------------------------------

struct EnableCase {
  const char* what;
  std::vector<std::pair<LONG, bool>> ticks;
  std::vector<std::pair<LONG, bool>> enabled;
};

TEST_F(OptDialogTest, ImportEnableRules) {
  const std::vector<EnableCase> cases = {
      {"no materials", {{10194, true}}, {{10197, false}, {10198, false}, {10211, false}, {10201, false}, {10214, false}}},
      {"new materials", {{10195, true}}, {{10197, false}, {10198, true}, {10211, true}, {10201, true}}},
      {"reuse materials", {{10195, true}, {10196, true}}, {{10197, true}, {10198, true}, {10211, true}}},
      {"one file", {{10171, true}, {10170, true}}, {{10172, false}, {10173, false}, {10174, false}}},
      {"whole folder", {{10171, true}, {10173, true}}, {{10172, true}, {10173, true}, {10174, true}}},
      {"no subfolders", {{10171, true}, {10173, false}}, {{10172, true}, {10174, false}}},
      {"no phong", {{10187, false}}, {{10188, false}, {10189, false}}},
      {"phong", {{10187, true}}, {{10188, true}, {10189, true}}},
      {"no lines", {{10233, false}}, {{10234, false}, {10235, false}, {10238, false}, {10243, false}, {10237, false}}},
      {"lines as faces", {{10233, true}, {10235, true}}, {{10234, true}, {10238, false}, {10243, false}, {10237, false}}},
      {"lines as splines",
       {{10233, true}, {10236, true}},
       {{10234, true}, {10238, true}, {10243, true}, {10237, true}, {10241, true}}},
      {"no groups", {{10182, false}}, {{10126, false}}},
      {"groups", {{10182, true}}, {{10126, true}}},
      {"no texture coordinates", {{10180, false}}, {{10131, false}, {10185, false}, {10186, false}}},
      {"texture coordinates", {{10180, true}}, {{10131, true}, {10185, true}}},
      {"no transparency", {{10203, false}}, {{10204, false}}},
      {"transparency", {{10203, true}}, {{10204, true}}},
      {"no textures", {{10212, false}}, {{10213, false}, {10214, false}, {10215, false}, {10217, false}}},
      {"textures", {{10212, true}}, {{10213, true}, {10216, true}, {10217, true}}},
  };
  PresetStore store;
  ASSERT_TRUE(store.Load());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& t : c.ticks) Tick(t.first, t.second);
    ASSERT_TRUE(PlayImport(store));
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    for (const auto& e : c.enabled) EXPECT_EQ(Enabled(e.first), e.second) << e.first;
    host::ClearUserLog();
  }
}

TEST_F(OptDialogTest, ExportEnableRules) {
  const std::vector<EnableCase> cases = {
      {"one file", {{10102, true}}, {{10107, false}, {10105, false}, {10143, false}, {10140, false}, {10111, false}}},
      {"per object", {{10103, true}}, {{10107, true}, {10105, false}, {10143, false}, {10140, false}, {10111, false}}},
      {"per polygon object",
       {{10104, true}},
       {{10107, true}, {10105, true}, {10143, false}, {10140, false}, {10111, false}}},
      {"per frame",
       {{10106, true}},
       {{10107, true}, {10105, false}, {10143, true}, {10140, true}, {10111, true}, {10146, true}}},
      {"no faces", {{10119, false}}, {{10120, false}, {10134, false}, {10121, false}, {10137, false}}},
      {"faces", {{10119, true}}, {{10120, true}, {10134, true}, {10121, true}}},
      {"no groups", {{10125, false}}, {{10126, false}, {10124, true}}},
      {"no texture coordinates", {{10115, false}}, {{10116, false}, {10132, false}, {10133, false}}},
      {"texture coordinates", {{10115, true}}, {{10116, true}, {10132, true}, {10133, true}}},
      {"no normals", {{10117, false}}, {{10118, false}}},
      {"normals", {{10117, true}}, {{10118, true}}},
  };
  PresetStore store;
  ASSERT_TRUE(store.Load());
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& t : c.ticks) Tick(t.first, t.second);
    ASSERT_TRUE(PlayExport(store, ctx, nullptr));
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    for (const auto& e : c.enabled) EXPECT_EQ(Enabled(e.first), e.second) << e.first;
    host::ClearUserLog();
  }

  // The popups free their companions only at their second entry.
  Tick(IDC_XP_MODE_FRAMES, true);
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_FALSE(Enabled(IDC_XP_COMPATIBILITY_NOTE));
  EXPECT_FALSE(Enabled(IDC_XP_FIRST_NUMBER_GROUP));
  EXPECT_FALSE(Enabled(IDC_XP_FIRST_FILE_NUMBER));
  Tick(IDC_XP_MODE_FRAMES, true);
  Queue(DialogAction::ChooseIndex(G(IDC_XP_COMPATIBILITY), 1));
  Queue(DialogAction::ChooseIndex(G(IDC_XP_FILE_NUMBERING), 1));
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_TRUE(Enabled(IDC_XP_COMPATIBILITY_NOTE));
  EXPECT_TRUE(Enabled(IDC_XP_FIRST_FILE_NUMBER));
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, NgonSwitchIsUntickedAndDisabledWhileNgonsAreNotExported) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  ASSERT_TRUE(store.exportOpts.geomFlags & GEOM_NGONS);
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  ctx->exportNgons = FALSE;
  Tick(IDC_XP_NGONS, true);  // refused
  Tick(IDC_XP_FACES, false);
  Tick(IDC_XP_FACES, true);  // faces back on leave it disabled
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_TRUE(ErrorsMention("10121 (ngons) is disabled"));
  EXPECT_FALSE(Ticked(IDC_XP_NGONS));
  EXPECT_FALSE(Enabled(IDC_XP_NGONS));
  // The user's own n-gon setting survives in the record and in "Last Used"; the
  // context keeps this export from building n-gons.
  EXPECT_TRUE(store.exportOpts.geomFlags & GEOM_NGONS);
  store.Save();
  EXPECT_TRUE(store.Entry(PluginOpts::EXPORT_SIDE, 0)->geomFlags & GEOM_NGONS);
  ObjExportContext::Free(ctx);
}

// --- frames ------------------------------------------------------------------------------

TEST_F(OptDialogTest, FrameRangeKeepsTheStartBelowTheEndAndTheStepWithinHalfTheRange) {
  DocPtr doc(BaseDocument::Alloc());  // frames 0 to 90 at 30 per second
  PresetStore store;
  ASSERT_TRUE(store.Load());
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  auto run = [&](const std::vector<std::pair<LONG, LLONG>>& sets) {
    Tick(IDC_XP_MODE_FRAMES, true);
    for (const auto& s : sets) Integer(s.first, s.second);
    EXPECT_TRUE(PlayExport(store, ctx, doc.get()));
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    const PluginOpts& o = store.exportOpts;
    return std::vector<LONG>{o.startFrame, o.endFrame, o.frameRate, o.frameStep};
  };
  // An end equal to the start moves the start one frame down.
  EXPECT_EQ(run({{IDC_XP_START_FRAME, 10}, {IDC_XP_END_FRAME, 10}}), (std::vector<LONG>{9, 10, 30, 1}));
  // A start at the end moves the end one frame up.
  EXPECT_EQ(run({{IDC_XP_END_FRAME, 10}, {IDC_XP_START_FRAME, 10}}), (std::vector<LONG>{10, 11, 30, 1}));
  // A step past half the new range is lowered, and the limit holds for later entries.
  EXPECT_EQ(run({{IDC_XP_FRAME_STEP, 40}, {IDC_XP_END_FRAME, 30}, {IDC_XP_FRAME_STEP, 20}}),
            (std::vector<LONG>{0, 30, 30, 15}));
  EXPECT_EQ(run({{IDC_XP_FRAME_STEP, 50}}), (std::vector<LONG>{0, 90, 30, 45}));
  // The limits: start up to the last frame - 1, end down to the first + 1, rate 1 to
  // 100 times the last frame.
  EXPECT_EQ(run({{IDC_XP_START_FRAME, 95}, {IDC_XP_FRAME_RATE, 100000}}), (std::vector<LONG>{89, 90, 9000, 1}));
  EXPECT_EQ(run({{IDC_XP_START_FRAME, 50}, {IDC_XP_END_FRAME, -5}, {IDC_XP_FRAME_RATE, 0}}),
            (std::vector<LONG>{0, 1, 1, 1}));
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, ADocumentWithoutARangeStillShowsItsFramesAndRate) {
  DocPtr doc(BaseDocument::Alloc());
  doc->SetMaxTime(BaseTime(0.0));
  PresetStore store;
  ASSERT_TRUE(store.Load());
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  Tick(IDC_XP_MODE_FRAMES, true);
  Integer(IDC_XP_START_FRAME, 5);
  ASSERT_TRUE(PlayExport(store, ctx, doc.get()));
  EXPECT_EQ(store.exportOpts.startFrame, 0);
  EXPECT_EQ(store.exportOpts.endFrame, 0);
  EXPECT_EQ(store.exportOpts.frameRate, 30);
  EXPECT_EQ(store.exportOpts.frameStep, 1);
  ObjExportContext::Free(ctx);
}

// --- preset buttons ------------------------------------------------------------------------

TEST_F(OptDialogTest, ProtectedPresetsRefuseStoreAndDeleteAndUserPresetsAllowThem) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  Queue(DialogAction::ChooseIndex(G(IDC_PRESET_LIST), 0));  // "Last Used"
  Click(IDC_PRESET_STORE);
  Queue(DialogAction::ChooseIndex(G(IDC_PRESET_LIST), 1));  // "Default Import Options"
  Click(IDC_PRESET_DELETE);
  Queue(DialogAction::ChooseIndex(G(IDC_PRESET_LIST), 2));  // "Import From Poser"
  Integer(IDC_IMP_SCALE, 33);
  Click(IDC_PRESET_STORE);
  Click(IDC_PRESET_ADD);                                    // a user preset, selected
  Queue(DialogAction::Cancel());
  EXPECT_FALSE(PlayImport(store));
  ASSERT_EQ(host::DialogErrors().size(), 2u);
  EXPECT_NE(host::DialogErrors()[0].find("10088 (store-preset) is disabled"), std::string::npos) << host::DialogErrors()[0];
  EXPECT_NE(host::DialogErrors()[1].find("10092 (delete-preset) is disabled"), std::string::npos) << host::DialogErrors()[1];
  EXPECT_EQ(store.importCount, 6);
  EXPECT_EQ(store.Entry(kImport, 2)->scale, 33u);
  EXPECT_TRUE(Enabled(IDC_PRESET_STORE));
  EXPECT_TRUE(Enabled(IDC_PRESET_DELETE));

  // Back to a default preset: both off again; then the user preset: both on.
  host::ClearUserLog();
  Queue(DialogAction::ChooseIndex(G(IDC_PRESET_LIST), 1));
  Queue(DialogAction::Cancel());
  PlayImport(store);
  EXPECT_FALSE(Enabled(IDC_PRESET_STORE));
  EXPECT_FALSE(Enabled(IDC_PRESET_DELETE));
  Queue(DialogAction::ChooseIndex(G(IDC_PRESET_LIST), 5));
  Queue(DialogAction::Cancel());
  PlayImport(store);
  EXPECT_TRUE(Enabled(IDC_PRESET_STORE));
  EXPECT_TRUE(Enabled(IDC_PRESET_DELETE));
}

TEST_F(OptDialogTest, AddingWithThePromptUnchangedCreatesAPresetOfThatNameFromTheGadgets) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  Integer(IDC_IMP_SCALE, 77);
  Tick(IDC_IMP_FLIP_U, true);
  Click(IDC_PRESET_ADD);  // nothing queued: the prompt is confirmed as it stands
  Queue(DialogAction::Cancel());
  EXPECT_FALSE(PlayImport(store));
  EXPECT_EQ(host::RenamePrompts(), std::vector<std::string>{"Enter Preset Name"});
  ASSERT_EQ(store.importCount, 6);
  const PluginOpts* added = store.Entry(kImport, 5);
  EXPECT_EQ(added->name.Std(), "Enter Preset Name");
  EXPECT_EQ(added->presetId, -1);
  EXPECT_EQ(added->scale, 77u);
  EXPECT_TRUE(added->geomFlags & GEOM_FLIP_U);
  EXPECT_FALSE(added->geomFlags & (PRESET_PROTECTED | PRESET_BUILTIN));
  EXPECT_EQ(store.importIndex, 5);
  EXPECT_EQ(Shown(IDC_PRESET_LIST).value, "Enter Preset Name");

  // A cancelled prompt adds nothing.
  host::QueueRenameCancel();
  Click(IDC_PRESET_ADD);
  Queue(DialogAction::Cancel());
  PlayImport(store);
  EXPECT_EQ(store.importCount, 6);
}

TEST_F(OptDialogTest, RenameChangesTheCurrentPresetAndKeepsItSelected) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  host::QueueRenameText("Mine");
  Click(IDC_PRESET_ADD);
  host::QueueRenameText("Yours");
  Click(IDC_PRESET_RENAME);
  host::QueueRenameCancel();
  Click(IDC_PRESET_RENAME);
  ASSERT_TRUE(PlayImport(store));
  EXPECT_EQ(host::RenamePrompts(), (std::vector<std::string>{"Enter Preset Name", "Mine", "Yours"}));
  EXPECT_EQ(store.GetPresetName(kImport, 5)->Std(), "Yours");
  EXPECT_EQ(store.importOpts.name.Std(), "Yours");
  EXPECT_EQ(store.importIndex, 5);
  EXPECT_EQ(Shown(IDC_PRESET_LIST).value, "Yours");
}

TEST_F(OptDialogTest, DeletingAUserPresetSelectsEntryZeroAndShowsIt) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  host::QueueRenameText("Gone Soon");
  Tick(IDC_IMP_NORMALS, true);
  Click(IDC_PRESET_ADD);
  Click(IDC_PRESET_DELETE);
  ASSERT_TRUE(PlayImport(store));
  EXPECT_EQ(store.importCount, 5);
  EXPECT_EQ(store.importIndex, 0);
  EXPECT_EQ(Shown(IDC_PRESET_LIST).value, "Last Used");
  for (LONG i = 0; i < store.importCount; ++i) EXPECT_NE(store.GetPresetName(kImport, i)->Std(), "Gone Soon");
  // The gadgets show entry 0 again, which never had normals.
  EXPECT_FALSE(Ticked(IDC_IMP_NORMALS));
  EXPECT_FALSE(store.importOpts.geomFlags & GEOM_NORMALS);
}

TEST_F(OptDialogTest, ReloadDiscardsTheEditsAndChoosingAPresetShowsIt) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  Tick(IDC_XP_NORMALS, true);
  Integer(IDC_XP_SCALE, 9);
  Click(IDC_PRESET_RELOAD);
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_FALSE(Ticked(IDC_XP_NORMALS));
  EXPECT_EQ(store.exportOpts.scale, 1u);

  Queue(DialogAction::ChooseLabel(G(IDC_PRESET_LIST), "Export To ZBrush"));
  ASSERT_TRUE(PlayExport(store, ctx, nullptr));
  EXPECT_EQ(store.exportIndex, 3);
  EXPECT_FALSE(Ticked(IDC_XP_REGIONS));
  EXPECT_FALSE(Ticked(IDC_XP_NGONS));
  EXPECT_EQ(store.exportOpts.name.Std(), "Export To ZBrush");
  ObjExportContext::Free(ctx);
}

// --- texture path -----------------------------------------------------------------------------

TEST_F(OptDialogTest, TheTexturePathButtonAsksForAFolder) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  store.importOpts.texturePath = String("old/maps");
  host::QueueFileSelection("/data/maps");
  Click(IDC_IMP_TEXTURE_PATH_BUTTON);
  host::QueueFileSelection("");  // cancelled: the path stays
  Click(IDC_IMP_TEXTURE_PATH_BUTTON);
  ASSERT_TRUE(PlayImport(store));
  EXPECT_EQ(host::FileSelectorTitles(), (std::vector<std::string>{"Texture Path", "Texture Path"}));
  EXPECT_EQ(store.importOpts.texturePath.Std(), "/data/maps");
  EXPECT_EQ(Shown(IDC_IMP_TEXTURE_PATH).value, "/data/maps");
}

// --- the option stage -------------------------------------------------------------------------

TEST_F(OptDialogTest, CancelKeepsPresetOperationsAndSavesLastUsedWithoutTheLaterEdits) {
  PresetStore store;
  host::QueueRenameText("Kept");
  Tick(IDC_IMP_FLIP_U, true);
  Click(IDC_PRESET_ADD);
  Integer(IDC_IMP_SCALE, 5);  // not read: the dialog is cancelled
  Queue(DialogAction::Cancel());
  Bool opened = FALSE;
  Real factor = 1000.0;
  EXPECT_FALSE(RunImportOptions(store, &factor, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(factor, 1000.0);

  PresetStore later;
  ASSERT_TRUE(later.Load());
  ASSERT_EQ(later.importCount, 6);
  EXPECT_EQ(later.GetPresetName(kImport, 5)->Std(), "Kept");
  EXPECT_TRUE(later.Entry(kImport, 5)->geomFlags & GEOM_FLIP_U);
  const PluginOpts* lastUsed = later.Entry(kImport, 0);
  EXPECT_EQ(lastUsed->name.Std(), "Last Used");
  EXPECT_TRUE(lastUsed->geomFlags & GEOM_FLIP_U);
  EXPECT_TRUE(lastUsed->geomFlags & PRESET_PROTECTED);
  EXPECT_EQ(lastUsed->scale, 1u);
}

TEST_F(OptDialogTest, OkSavesLastUsedAsSetAndThenAdjustsTheWorkingRecord) {
  PresetStore store;
  Tick(IDC_SWAP_YZ, true);  // with negate Z (on by default): two mirrors
  Tick(IDC_IMP_REVERSE, true);
  Tick(IDC_IMP_NO_MATERIALS, true);
  Integer(IDC_IMP_SCALE, 8);
  Real factor = 0.0;
  Bool opened = FALSE;
  ASSERT_TRUE(RunImportOptions(store, &factor, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(factor, 8.0);
  const PluginOpts& o = store.importOpts;
  EXPECT_TRUE(o.geomFlags & GEOM_MATERIALS);
  EXPECT_TRUE(o.geomFlags & GEOM_REVERSE_NORMALS) << "normals follow the reverse switch";
  EXPECT_TRUE(o.geomFlags & GEOM_REVERSE_ORDER) << "toggled twice";
  EXPECT_EQ(o.materialFlags & (MAT_BUILD | MAT_TEXTURE_TAGS), 0u);

  PresetStore later;
  ASSERT_TRUE(later.Load());
  const PluginOpts* lastUsed = later.Entry(kImport, 0);
  EXPECT_TRUE(lastUsed->geomFlags & GEOM_SWAP_YZ);
  EXPECT_FALSE(lastUsed->geomFlags & (GEOM_MATERIALS | GEOM_REVERSE_NORMALS)) << "saved before the adjustment";
  EXPECT_EQ(lastUsed->scale, 8u);

  // New materials: building and texture tags follow.
  Tick(IDC_IMP_NEW_MATERIALS, true);
  ASSERT_TRUE(RunImportOptions(store, &factor, nullptr));
  EXPECT_EQ(store.importOpts.materialFlags & (MAT_BUILD | MAT_TEXTURE_TAGS), ULONG(MAT_BUILD | MAT_TEXTURE_TAGS));
}

TEST_F(OptDialogTest, ExportOptionStageAdjustsTheContext) {
  PresetStore store;
  ObjExportContext* ctx = ObjExportContext::Alloc();
  ASSERT_TRUE(ctx);
  EXPECT_TRUE(ctx->ignoreVisibility);
  EXPECT_EQ(ctx->faceForm, 7);
  Tick(IDC_XP_IGNORE_VISIBILITY, false);
  Tick(IDC_XP_NORMALS, true);
  Tick(IDC_XP_FACES, false);
  Tick(IDC_XP_MODE_POLYGON_OBJECTS, true);
  Integer(IDC_XP_SCALE, 4);
  Bool opened = FALSE;
  ASSERT_TRUE(RunExportOptions(ctx, store, nullptr, &opened));
  EXPECT_TRUE(opened);
  EXPECT_FALSE(ctx->ignoreVisibility);
  // Texture coordinates and normals, corner order reversed once by negate Z.
  EXPECT_EQ(ctx->faceForm, 1);
  EXPECT_EQ(ctx->exportMode, 2);
  EXPECT_EQ(ctx->scaleFactor, 0.25);
  EXPECT_EQ(store.exportOpts.geomFlags & (GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS), 0u) << "no faces";

  host::SetDialogDefault(false);
  ctx->faceForm = 7;
  EXPECT_FALSE(RunExportOptions(ctx, store, nullptr, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(ctx->faceForm, 7);
  ObjExportContext::Free(ctx);
}

TEST_F(OptDialogTest, ABrokenDialogResourceKeepsTheDialogClosed) {
  const fs::path root = fs::path(TempDir()) / "plugin";
  fs::create_directories(root);
  fs::copy(SourceDir() + "/res", root / "res", fs::copy_options::recursive);
  std::ofstream(root / "res/dialogs/DLG_OBJ_IMPORT_OPTIONS.res") << "DIALOG DLG_OBJ_IMPORT_OPTIONS { GROUP {";
  fs::remove(root / "res/dialogs/DLG_OBJ_EXPORT_OPTIONS.res");
  resource.Free();
  host::SetPluginFolder(root.string());
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));

  PresetStore store;
  Bool opened = TRUE;
  Real factor = 5.0;
  EXPECT_FALSE(RunImportOptions(store, &factor, &opened));
  EXPECT_FALSE(opened);
  EXPECT_EQ(factor, 5.0);
  OptionsDialogRequest request{1, nullptr, TRUE, TRUE, TRUE};
  EXPECT_TRUE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_FALSE(request.opened);
  EXPECT_FALSE(request.confirmed);
  EXPECT_FALSE(request.cancelledByValidation);
  EXPECT_TRUE(host::DialogLog().empty());
  EXPECT_TRUE(ErrorsMention("10161"));
  EXPECT_TRUE(ErrorsMention("10080"));
}

// --- the commands and the shell's request ---------------------------------------------------------

TEST_F(OptDialogTest, TheImportCommandRunsItsOptionStageBeforeAskingForTheFile) {
  ASSERT_TRUE(PluginStart());
  host::ClearConsole();
  CommandData* command = FindPlugin(ID_IMPORT_PLUGIN, PLUGINTYPE_COMMAND)->GetCommand();
  EXPECT_EQ(command->GetState(nullptr), CMD_ENABLED);
  DocPtr doc(BaseDocument::Alloc());
  Queue(DialogAction::Cancel());
  EXPECT_FALSE(command->Execute(doc.get()));
  EXPECT_TRUE(host::ConsoleLines().empty());
  ASSERT_EQ(host::DialogLog().size(), 1u);
  EXPECT_NE(GetWorldPluginData(PRESETS_IMPORT_CONTAINER), nullptr);

  EXPECT_TRUE(host::FileSelectorTitles().empty());

  // Confirmed: the file selector comes next; cancelling it imports nothing.
  Integer(IDC_IMP_SCALE, 3);
  EXPECT_FALSE(command->Execute(doc.get()));
  EXPECT_EQ(host::FileSelectorTitles(), std::vector<std::string>{GeLoadString(IDS_IMPORT_SELECT_FILE).Std()});
  EXPECT_TRUE(host::ConsoleLines().empty());
  EXPECT_EQ(doc->GetFirstObject(), nullptr);
  PresetStore later;
  ASSERT_TRUE(later.Load());
  EXPECT_EQ(later.Entry(kImport, 0)->scale, 3u);
}

TEST_F(OptDialogTest, TheShellsRequestShowsEitherDialogAlone) {
  OptionsDialogRequest request{0, nullptr, FALSE, FALSE, TRUE};
  Integer(IDC_IMP_SCALE, 40);
  ASSERT_TRUE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_TRUE(request.opened);
  EXPECT_TRUE(request.confirmed);
  EXPECT_FALSE(request.cancelledByValidation);
  ASSERT_EQ(host::DialogLog().size(), 1u);
  EXPECT_EQ(host::DialogLog()[0].resourceId, DLG_OBJ_IMPORT_OPTIONS);
  PresetStore later;
  ASSERT_TRUE(later.Load());
  EXPECT_EQ(later.Entry(kImport, 0)->scale, 40u);

  host::SetDialogDefault(false);
  request = OptionsDialogRequest{1, nullptr, FALSE, TRUE, FALSE};
  ASSERT_TRUE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_TRUE(request.opened);
  EXPECT_FALSE(request.confirmed);
  EXPECT_EQ(host::DialogLog().back().resourceId, DLG_OBJ_EXPORT_OPTIONS);
  // Without a document the n-gon switch follows the record.
  EXPECT_TRUE(Enabled(IDC_XP_NGONS));

  request.side = 2;
  EXPECT_FALSE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, &request));
  EXPECT_FALSE(PluginMessage(KELVANE_MSG_OPTIONS_DIALOG, nullptr));
  EXPECT_EQ(host::DialogLog().size(), 2u);
}

// --- logos ---------------------------------------------------------------------------------------

const Px kBackground = kDialogBackground;

// A dialog made in code with one logo in an area of the given size.
class LogoWindow : public GeModalDialog {
 public:
  LogoWindow(const CHAR* file, LONG w, LONG h) : logo(file), m_w(w), m_h(h) {}
  LogoBmp logo;
  Bool CreateLayout() override {
    return AddUserArea(7001, BFH_LEFT, m_w, m_h) && AttachUserArea(logo, 7001) && AddDlgGroup(DLG_OK);
  }

 private:
  LONG m_w, m_h;
};

TEST_F(OptDialogTest, TheLogoIsDrawnCentredOnTheDialogBackground) {
  BaseBitmap* picture = BaseBitmap::Alloc();
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->Init(Filename((BinDir() + "/res/kelvane.tif").c_str())), IMAGERESULT_OK);
  const LONG pw = picture->GetBw(), ph = picture->GetBh();

  LogoWindow window("kelvane.tif", pw + 36, ph + 16);
  ASSERT_TRUE(window.logo.GetBitmap());
  LONG mw = 0, mh = 0;
  window.logo.GetMinSize(mw, mh);
  EXPECT_EQ(mw, pw);
  EXPECT_EQ(mh, ph);
  ASSERT_TRUE(window.Open());
  const BaseBitmap* shown = host::UserAreaBitmap(&window.logo);
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->GetBw(), pw + 36);
  ASSERT_EQ(shown->GetBh(), ph + 16);
  int mismatches = 0;
  for (LONG y = 0; y < shown->GetBh(); ++y)
    for (LONG x = 0; x < shown->GetBw(); ++x) {
      Px want = kBackground;
      if (x >= 18 && x < 18 + pw && y >= 8 && y < 8 + ph) {
        const Px src = PixelAt(picture, x - 18, y - 8);
        const int keep = 255 - src.a;
        want = {src.r + (153 * keep + 127) / 255, src.g + (153 * keep + 127) / 255, src.b + (153 * keep + 127) / 255,
                255};
      }
      const Px got = PixelAt(shown, x, y);
      if (!(got == want) && ++mismatches <= 5) ADD_FAILURE() << "at " << x << "," << y << ": " << got << " not " << want;
    }
  EXPECT_EQ(mismatches, 0);
  BaseBitmap::Free(picture);
}

TEST_F(OptDialogTest, ALogoThatCannotBeLoadedLeavesAnEmptyAreaOf64By64) {
  LogoWindow window("no-such-logo.tif", 0, 0);
  EXPECT_FALSE(window.logo.GetBitmap());
  ASSERT_TRUE(window.Open());
  const BaseBitmap* shown = host::UserAreaBitmap(&window.logo);
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->GetBw(), 64);
  ASSERT_EQ(shown->GetBh(), 64);
  for (LONG y = 0; y < 64; ++y)
    for (LONG x = 0; x < 64; ++x) ASSERT_EQ(PixelAt(shown, x, y), kBackground) << x << "," << y;
}

TEST_F(OptDialogTest, BothOptionDialogsShowTheirTwoLogos) {
  PresetStore store;
  ASSERT_TRUE(store.Load());
  LoadOptsDialog dlg(&store, nullptr);
  ASSERT_TRUE(dlg.Open());
  for (LONG i = 0; i < 2; ++i) {
    const BaseBitmap* picture = dlg.Logo(i).GetBitmap();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->GetSource().GetFileString().Std(), i == 0 ? "brantwelllogo.tif" : "kelvane.tif");
    const BaseBitmap* shown = host::UserAreaBitmap(&dlg.Logo(i));
    ASSERT_TRUE(shown);
    EXPECT_EQ(PixelAt(shown, 5, 5), PixelAt(picture, 5, 5));
  }
}

// --- memory -----------------------------------------------------------------------------------------

// Every run starts from the first-run presets, so that added presets do not pile up.
void ForgetPresets() {
  std::error_code ec;
  fs::remove(host::SettingsFile(), ec);
  host::UnloadSettings();
}

TEST_F(OptDialogTest, AllocationFailuresThroughTheImportStageLeaveNothingBehind) {
  // Actions stay queued when a run ends before its dialog plays them.
  bool queued = false;
  int runs = 0;
  EveryAllocation([&] {
    ++runs;
    if (!queued) {
      Integer(IDC_IMP_SCALE, 250);
      Click(IDC_PRESET_ADD);
      Tick(IDC_IMP_FLIP_U, true);
      Queue(DialogAction::Ok());
      queued = true;
    }
    ForgetPresets();
    PresetStore store;
    Bool opened = FALSE;
    Real factor = 0.0;
    const Bool confirmed = RunImportOptions(store, &factor, &opened);
    if (opened) queued = false;
    return confirmed && factor == 250.0 && (store.importOpts.geomFlags & GEOM_FLIP_U) != 0;
  });
  // Presets, logos, the dialog and the added preset all allocate.
  EXPECT_GT(runs, 20);
}

TEST_F(OptDialogTest, AllocationFailuresThroughTheExportDialogLeaveNothingBehind) {
  DocPtr doc(BaseDocument::Alloc());
  bool queued = false;
  EveryAllocation([&] {
    if (!queued) {
      Click(IDC_PRESET_ADD);
      Click(IDC_PRESET_DELETE);
      Tick(IDC_XP_MODE_FRAMES, true);
      Integer(IDC_XP_END_FRAME, 40);
      Queue(DialogAction::Ok());
      queued = true;
    }
    ForgetPresets();
    PresetStore store;
    ObjExportContext* ctx = ObjExportContext::Alloc();
    if (!ctx) return false;
    Bool opened = FALSE;
    const Bool confirmed = RunExportOptions(ctx, store, doc.get(), &opened);
    if (opened) queued = false;
    const bool ok = confirmed && ctx->exportMode == 3 && store.exportOpts.endFrame == 40;
    ObjExportContext::Free(ctx);
    return ok;
  });
}

}  // namespace

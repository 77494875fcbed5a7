#include "optdialogs.h"

#include <algorithm>

#include "c4d_symbols.h"
#include "compat.h"
#include "objexp.h"

namespace {

using CheckBit = OptsDialog::CheckBit;
using RadioSet = OptsDialog::RadioSet;

constexpr ULONG PluginOpts::*kLayout = &PluginOpts::layoutFlags;
constexpr ULONG PluginOpts::*kGeom = &PluginOpts::geomFlags;
constexpr ULONG PluginOpts::*kMaterial = &PluginOpts::materialFlags;

constexpr LONG kMaxScale = 100000;
constexpr LONG kMaxTolerance = 16;
constexpr Real kMaxSmoothAngle = 180.0;
constexpr LONG kFallbackFrameRate = 30;

const CHAR* const kLogoLeft = "brantwelllogo.tif";
const CHAR* const kLogoRight = "kelvane.tif";

const CheckBit kImportChecks[] = {
    {IDC_IMP_SUBFOLDERS, kLayout, IMP_FOLDER_SUBFOLDERS, FALSE},
    {IDC_IMP_NULL_PER_FOLDER, kLayout, IMP_FOLDER_NULLS, FALSE},
    {IDC_IMP_CENTRE_AXES, kLayout, IMP_CENTER_AXES, FALSE},
    {IDC_IMP_PHONG, kLayout, IMP_PHONG_TAGS, FALSE},
    {IDC_IMP_LAYER_POLYGONS, kLayout, IMP_LAYER_POLYGON_OBJECTS, FALSE},
    {IDC_IMP_LAYER_SPLINES, kLayout, IMP_LAYER_SPLINE_OBJECTS, FALSE},
    {IDC_IMP_LAYER_PHONG, kLayout, IMP_LAYER_PHONG_TAGS, FALSE},
    {IDC_IMP_LAYER_UVW, kLayout, IMP_LAYER_UVW_TAGS, FALSE},
    {IDC_IMP_LAYER_NORMALS, kLayout, IMP_LAYER_NORMAL_TAGS, FALSE},
    {IDC_IMP_LAYER_TEXTURES, kLayout, IMP_LAYER_TEXTURE_TAGS, FALSE},
    {IDC_IMP_LAYER_MATERIAL_SELECTIONS, kLayout, IMP_LAYER_MATERIAL_SELECTIONS, FALSE},
    {IDC_IMP_LAYER_GROUP_SELECTIONS, kLayout, IMP_LAYER_GROUP_SELECTIONS, FALSE},
    {IDC_IMP_LAYER_REGION_SELECTIONS, kLayout, IMP_LAYER_REGION_SELECTIONS, FALSE},
    {IDC_IMP_LINES, kLayout, IMP_LINE_ELEMENTS, FALSE},
    {IDC_IMP_CLOSED_SPLINES, kLayout, IMP_SPLINES_CLOSED, FALSE},
    {IDC_IMP_GROUPS, kGeom, GEOM_GROUPS, FALSE},
    {IDC_WHOLE_GROUP_NAMES, kGeom, GEOM_WHOLE_GROUP_NAMES, FALSE},
    {IDC_IMP_REGIONS, kGeom, GEOM_REGIONS, FALSE},
    {IDC_IMP_UVS, kGeom, GEOM_UVS, FALSE},
    {IDC_IMP_FLIP_U, kGeom, GEOM_FLIP_U, FALSE},
    {IDC_IMP_FLIP_V, kGeom, GEOM_FLIP_V, FALSE},
    {IDC_IMP_REVERSE, kGeom, GEOM_REVERSE_ORDER, FALSE},
    {IDC_IMP_NORMALS, kGeom, GEOM_NORMALS, FALSE},
    {IDC_IMP_NGONS, kGeom, GEOM_NGONS, FALSE},
    {IDC_SWAP_YZ, kGeom, GEOM_SWAP_YZ, FALSE},
    {IDC_NEGATE_Z, kGeom, GEOM_NEGATE_Z, FALSE},
    {IDC_NEGATE_X, kGeom, GEOM_NEGATE_X, FALSE},
    {IDC_IMP_REWRITE_MATERIALS, kMaterial, MAT_REWRITE_REUSED, FALSE},
    {IDC_IMP_COLOUR, kMaterial, MAT_COLOR, FALSE},
    {IDC_IMP_LUMINANCE, kMaterial, MAT_LUMINANCE, FALSE},
    {IDC_IMP_TRANSPARENCY, kMaterial, MAT_TRANSPARENCY, FALSE},
    {IDC_IMP_REFRACTION, kMaterial, MAT_REFRACTION, FALSE},
    {IDC_IMP_ALPHA, kMaterial, MAT_ALPHA, FALSE},
    {IDC_IMP_EXTRA_CHANNEL, kMaterial, MAT_EXTRA_CHANNEL, FALSE},
    {IDC_IMP_SPECULAR, kMaterial, MAT_SPECULAR, FALSE},
    {IDC_IMP_SPECULAR_COLOUR, kMaterial, MAT_SPECULAR_COLOR, FALSE},
    {IDC_IMP_BUMP, kMaterial, MAT_BUMP, FALSE},
    {IDC_IMP_DISPLACEMENT, kMaterial, MAT_DISPLACEMENT, FALSE},
    {IDC_IMP_LOAD_TEXTURES, kMaterial, MAT_LOAD_TEXTURES, FALSE},
    {IDC_IMP_CONSOLIDATE, kMaterial, MAT_CONSOLIDATE, FALSE},
};

const RadioSet kImportRadios[] = {
    {{{IDC_IMP_NEW_DOCUMENT, IMP_NEW_DOCUMENT}, {IDC_IMP_CURRENT_DOCUMENT, 0}}, 2, kLayout, nullptr,
     IMP_NEW_DOCUMENT, 1},
    {{{IDC_IMP_ONE_FILE, 0}, {IDC_IMP_FOLDER, 1}}, 2, nullptr, &PluginOpts::mode, 0, 0},
    {{{IDC_IMP_MULTIPLY, LONG(GEOM_SCALE_MULTIPLY)}, {IDC_IMP_DIVIDE, 0}}, 2, kGeom, nullptr, GEOM_SCALE_MULTIPLY, 1},
    {{{IDC_IMP_LAYOUT_SINGLE, 0},
      {IDC_IMP_LAYOUT_OBJECTS, IMP_OBJECT_PER_MESH},
      {IDC_IMP_LAYOUT_GROUPS, IMP_OBJECT_PER_GROUP},
      {IDC_IMP_LAYOUT_REGIONS, IMP_OBJECT_PER_REGION},
      {IDC_IMP_LAYOUT_MATERIALS, IMP_OBJECT_PER_MATERIAL}},
     5, kLayout, nullptr, IMP_OBJECT_LAYOUT_MASK, 0},
    {{{IDC_IMP_LINES_AS_FACES, IMP_LINES_AS_FACES}, {IDC_IMP_LINES_AS_SPLINES, 0}}, 2, kLayout, nullptr,
     IMP_LINES_AS_FACES, 1},
    {{{IDC_IMP_SPLINE_SINGLE, 0},
      {IDC_IMP_SPLINE_PER_OBJECT, IMP_SPLINE_PER_MESH},
      {IDC_IMP_SPLINE_PER_GROUP, IMP_SPLINE_PER_GROUP},
      {IDC_IMP_SPLINE_PER_SEGMENT, IMP_SPLINE_PER_SEGMENT}},
     4, kLayout, nullptr, IMP_SPLINE_LAYOUT_MASK, 0},
    {{{IDC_IMP_SPLINE_NO_NULLS, 0},
      {IDC_IMP_SPLINE_NULL_PER_OBJECT, IMP_SPLINE_NULL_PER_MESH},
      {IDC_IMP_SPLINE_NULL_PER_GROUP, IMP_SPLINE_NULL_PER_GROUP}},
     3, kLayout, nullptr, IMP_SPLINE_NULL_MASK, 0},
    {{{IDC_IMP_NO_MATERIALS, MAT_NONE}, {IDC_IMP_NEW_MATERIALS, MAT_NEW}, {IDC_IMP_REUSE_MATERIALS, MAT_REUSE}},
     3, kMaterial, nullptr, MAT_HANDLING_MASK, 0},
};

const CheckBit kExportChecks[] = {
    {IDC_XP_IGNORE_VISIBILITY, kLayout, XP_IGNORE_VISIBILITY, FALSE},
    {IDC_XP_SUBFOLDERS, kLayout, XP_OBJECT_SUBFOLDERS, FALSE},
    {IDC_XP_OBJECT_LINES, kLayout, XP_OBJECT_LINES, FALSE},
    {IDC_XP_ONE_MTL, kLayout, XP_ONE_MTL, FALSE},
    {IDC_XP_NUMBER_BY_STEP, kLayout, XP_NUMBER_BY_STEP, FALSE},
    {IDC_XP_COMPRESS_UVS, kLayout, XP_NO_UV_COMPRESSION, TRUE},
    {IDC_XP_COMPRESS_NORMALS, kLayout, XP_NO_NORMAL_COMPRESSION, TRUE},
    {IDC_XP_EXACT_NUMBERS, kLayout, XP_EXACT_NUMBERS, FALSE},
    {IDC_XP_FACES, kGeom, GEOM_FACES, FALSE},
    {IDC_XP_GROUPS, kGeom, GEOM_GROUPS, FALSE},
    {IDC_WHOLE_GROUP_NAMES, kGeom, GEOM_WHOLE_GROUP_NAMES, FALSE},
    {IDC_XP_REGIONS, kGeom, GEOM_REGIONS, FALSE},
    {IDC_XP_MATERIALS, kGeom, GEOM_MATERIALS, FALSE},
    {IDC_XP_UVS, kGeom, GEOM_UVS, FALSE},
    {IDC_XP_FLIP_U, kGeom, GEOM_FLIP_U, FALSE},
    {IDC_XP_FLIP_V, kGeom, GEOM_FLIP_V, FALSE},
    {IDC_XP_NORMALS, kGeom, GEOM_NORMALS, FALSE},
    {IDC_XP_NGONS, kGeom, GEOM_NGONS, FALSE},
    {IDC_XP_REVERSE, kGeom, GEOM_REVERSE_ORDER, FALSE},
    {IDC_SWAP_YZ, kGeom, GEOM_SWAP_YZ, FALSE},
    {IDC_NEGATE_Z, kGeom, GEOM_NEGATE_Z, FALSE},
    {IDC_NEGATE_X, kGeom, GEOM_NEGATE_X, FALSE},
};

const RadioSet kExportRadios[] = {
    {{{IDC_XP_MULTIPLY, LONG(GEOM_SCALE_MULTIPLY)}, {IDC_XP_DIVIDE, 0}}, 2, kGeom, nullptr, GEOM_SCALE_MULTIPLY, 1},
    {{{IDC_XP_MODE_DOCUMENT, 0}, {IDC_XP_MODE_OBJECTS, 1}, {IDC_XP_MODE_POLYGON_OBJECTS, 2}, {IDC_XP_MODE_FRAMES, 3}},
     4, nullptr, &PluginOpts::mode, 0, 0},
    // Overwriting is what happens when neither of the others is set.
    {{{IDC_XP_EXISTING_OVERWRITE, XP_EXISTING_OVERWRITE},
      {IDC_XP_EXISTING_ASK, XP_EXISTING_ASK},
      {IDC_XP_EXISTING_NUMBER, XP_EXISTING_NUMBER}},
     3, kLayout, nullptr, XP_EXISTING_MASK, 0},
    {{{IDC_XP_ORDER_NONE, 0},
      {IDC_XP_ORDER_MATERIAL, XP_ORDER_BY_MATERIAL},
      {IDC_XP_ORDER_GROUP, XP_ORDER_BY_GROUP},
      {IDC_XP_ORDER_REGION, XP_ORDER_BY_REGION}},
     4, kLayout, nullptr, XP_ORDER_MASK, 0},
};

// The member of set that shows the record's value.
LONG TickedMember(const RadioSet& set, const PluginOpts& opts) {
  for (LONG k = 0; k < set.count; ++k) {
    if (k == set.fallback) continue;
    const LONG value = set.members[k].value;
    if (set.number) {
      if (opts.*set.number == value) return k;
    } else if (value != 0 && (opts.*set.word & ULONG(value)) == ULONG(value)) {
      return k;
    }
  }
  return set.fallback;
}

LONG ClampLong(LONG value, LONG lo, LONG hi) { return std::min(std::max(value, lo), hi); }

LONG ScaleForGadget(ULONG scale) { return LONG(std::min<ULONG>(scale, ULONG(kMaxScale))); }

// A scale of 0 is never kept.
ULONG ScaleFromGadget(LONG value) { return value <= 0 ? 1 : ULONG(value); }

LONG ClampToLong(LLONG value) { return LONG(std::min<LLONG>(std::max<LLONG>(value, MINLONGl), MAXLONGl)); }

}  // namespace

// --- shared -----------------------------------------------------------------------

OptsDialog::OptsDialog(PresetStore* presets, PluginOpts::Side side, LONG dialogId, LONG logo1Id, LONG logo2Id,
                       const CHAR* logo1File, const CHAR* logo2File, const CheckBit* checks, LONG checkCount,
                       const RadioSet* radios, LONG radioCount)
    : m_pPresets(presets),
      m_side(side),
      m_dialogId(dialogId),
      m_logo1Id(logo1Id),
      m_logo2Id(logo2Id),
      m_logo1(logo1File),
      m_logo2(logo2File),
      m_checks(checks),
      m_checkCount(checkCount),
      m_radios(radios),
      m_radioCount(radioCount) {}

Bool OptsDialog::CreateLayout() {
  if (!m_pPresets) return FALSE;
  if (!LoadDialogResource(m_dialogId, nullptr, 0)) return FALSE;
  if (!AttachUserArea(m_logo1, m_logo1Id) || !AttachUserArea(m_logo2, m_logo2Id)) return FALSE;
  // Every layout is new, so the popups start empty.
  m_presetsFilled = FALSE;
  return FillPresetPopup() && FillChoices();
}

Bool OptsDialog::InitValues() {
  FillGadgets();
  ApplyEnables();
  m_shown = TRUE;
  return TRUE;
}

Bool OptsDialog::IsTicked(LONG id) const {
  Bool on = FALSE;
  GetBool(id, on);
  return on;
}

Bool OptsDialog::FillChoicePopup(LONG id, LONG firstString, LONG count) {
  if (!FreeChildren(id)) return FALSE;
  for (LONG i = 0; i < count; ++i)
    if (!AddChild(id, i, GeLoadString(firstString + i))) return FALSE;
  return TRUE;
}

Bool OptsDialog::FillPresetPopup() {
  if (m_presetsFilled && !FreeChildren(IDC_PRESET_LIST)) return FALSE;
  m_presetsFilled = TRUE;
  const LONG count = m_pPresets->Count(m_side);
  for (LONG i = 0; i < count; ++i) {
    const String* name = m_pPresets->GetPresetName(m_side, i);
    if (!AddChild(IDC_PRESET_LIST, i, name ? *name : String())) return FALSE;
  }
  return SetLong(IDC_PRESET_LIST, m_pPresets->Index(m_side));
}

void OptsDialog::FillGadgets() {
  const PluginOpts& opts = Opts();
  for (LONG i = 0; i < m_checkCount; ++i) {
    const CheckBit& c = m_checks[i];
    const Bool set = (opts.*c.word & c.bit) != 0;
    SetBool(c.id, c.inverted ? !set : set);
  }
  for (LONG i = 0; i < m_radioCount; ++i) {
    const RadioSet& set = m_radios[i];
    const LONG ticked = TickedMember(set, opts);
    for (LONG k = 0; k < set.count; ++k) SetBool(set.members[k].id, k == ticked);
  }
  FillOwnGadgets();
  SetLong(IDC_PRESET_LIST, m_pPresets->Index(m_side));
}

void OptsDialog::ReadGadgets() {
  PluginOpts& opts = Opts();
  for (LONG i = 0; i < m_checkCount; ++i) {
    const CheckBit& c = m_checks[i];
    if (!ReadsCheck(c.id)) continue;
    if (IsTicked(c.id) != c.inverted)
      opts.*c.word |= c.bit;
    else
      opts.*c.word &= ~c.bit;
  }
  for (LONG i = 0; i < m_radioCount; ++i) {
    const RadioSet& set = m_radios[i];
    LONG ticked = set.fallback;
    for (LONG k = 0; k < set.count; ++k)
      if (IsTicked(set.members[k].id)) {
        ticked = k;
        break;
      }
    const LONG value = set.members[ticked].value;
    if (set.number)
      opts.*set.number = value;
    else
      opts.*set.word = (opts.*set.word & ~set.mask) | ULONG(value);
  }
  ReadOwnGadgets();
}

void OptsDialog::ApplyEnables() {
  // Protected presets ("Last Used" and the defaults) cannot be stored over or deleted.
  const Bool userPreset = (Opts().geomFlags & PRESET_PROTECTED) == 0;
  Enable(IDC_PRESET_STORE, userPreset);
  Enable(IDC_PRESET_DELETE, userPreset);
  ApplyOwnEnables();
}

void OptsDialog::KeepExclusive(LONG id) {
  for (LONG i = 0; i < m_radioCount; ++i) {
    const RadioSet& set = m_radios[i];
    for (LONG k = 0; k < set.count; ++k) {
      if (set.members[k].id != id) continue;
      // A set always has one member ticked: unticking the ticked one ticks it again.
      if (!IsTicked(id)) {
        SetBool(id, TRUE);
        return;
      }
      for (LONG j = 0; j < set.count; ++j)
        if (j != k) SetBool(set.members[j].id, FALSE);
      return;
    }
  }
}

void OptsDialog::RenamePreset() {
  const LONG index = m_pPresets->Index(m_side);
  const String* name = m_pPresets->GetPresetName(m_side, index);
  if (!name) return;
  String text = *name;
  if (!RenameDialog(&text)) return;
  m_pPresets->RenamePreset(m_side, index, text);
  FillPresetPopup();
}

void OptsDialog::AddPreset() {
  String text("Enter Preset Name");
  if (!RenameDialog(&text)) return;
  ReadGadgets();
  const LONG index = m_pPresets->AddPreset(m_side, text);
  if (index >= 0)
    m_pPresets->SelectPreset(m_side, index);
  else
    ReportMemoryError("PresetStore::AddPreset()");
  FillPresetPopup();
  FillGadgets();
}

Bool OptsDialog::Command(LONG id, const BaseContainer& msg) {
  (void)msg;
  switch (id) {
    case IDC_PRESET_LIST: {
      LONG index = 0;
      GetLong(IDC_PRESET_LIST, index);
      m_pPresets->SelectPreset(m_side, index);
      FillGadgets();
      break;
    }
    case IDC_PRESET_RELOAD:
      m_pPresets->SelectPreset(m_side, m_pPresets->Index(m_side));
      FillGadgets();
      break;
    case IDC_PRESET_STORE:
      ReadGadgets();
      m_pPresets->OverwritePreset(m_side, m_pPresets->Index(m_side));
      break;
    case IDC_PRESET_RENAME:
      RenamePreset();
      break;
    case IDC_PRESET_ADD:
      AddPreset();
      break;
    case IDC_PRESET_DELETE:
      m_pPresets->DeletePreset(m_side, m_pPresets->Index(m_side));
      FillPresetPopup();
      FillGadgets();
      break;
    case IDC_OK:
      ReadGadgets();
      Confirmed();
      return TRUE;
    case IDC_CANCEL:
      return TRUE;
    default:
      KeepExclusive(id);
      OwnCommand(id);
      break;
  }
  ApplyEnables();
  return TRUE;
}

// --- import -----------------------------------------------------------------------

LoadOptsDialog::LoadOptsDialog(PresetStore* presets, Real* scaleFactor)
    : OptsDialog(presets, PluginOpts::IMPORT_SIDE, DLG_OBJ_IMPORT_OPTIONS, IDC_IMP_LOGO1, IDC_IMP_LOGO2, kLogoLeft,
                 kLogoRight, kImportChecks, LONG(std::size(kImportChecks)), kImportRadios,
                 LONG(std::size(kImportRadios))),
      m_pScaleFactor(scaleFactor) {}

Bool LoadOptsDialog::FillChoices() {
  return FillChoicePopup(IDC_IMP_SAMPLING, IDS_SAMPLING_0, 4) && FillChoicePopup(IDC_IMP_BLUR, IDS_BLUR_0, 8);
}

void LoadOptsDialog::FillOwnGadgets() {
  const PluginOpts& opts = Opts();
  SetLong(IDC_IMP_SCALE, ScaleForGadget(opts.scale), 1, kMaxScale);
  SetReal(IDC_IMP_SMOOTH_ANGLE, opts.smoothAngle, 0.0, kMaxSmoothAngle, 1.0, FORMAT_DEGREE);
  SetLong(IDC_IMP_SAMPLING, ClampLong(opts.shaderParam1006, 0, 3));
  SetLong(IDC_IMP_BLUR, ClampLong(opts.shaderParam1005, 0, 7));
  SetString(IDC_IMP_TEXTURE_PATH, opts.texturePath);
  SetLong(IDC_IMP_TOLERANCE_R, LONG(std::min<ULONG>(opts.mergeToleranceR, kMaxTolerance)), 1, kMaxTolerance);
  SetLong(IDC_IMP_TOLERANCE_G, LONG(std::min<ULONG>(opts.mergeToleranceG, kMaxTolerance)), 1, kMaxTolerance);
  SetLong(IDC_IMP_TOLERANCE_B, LONG(std::min<ULONG>(opts.mergeToleranceB, kMaxTolerance)), 1, kMaxTolerance);
}

void LoadOptsDialog::ReadOwnGadgets() {
  PluginOpts& opts = Opts();
  LONG value = 0;
  if (GetLong(IDC_IMP_SCALE, value)) opts.scale = ScaleFromGadget(value);
  GetReal(IDC_IMP_SMOOTH_ANGLE, opts.smoothAngle);
  GetLong(IDC_IMP_SAMPLING, opts.shaderParam1006);
  GetLong(IDC_IMP_BLUR, opts.shaderParam1005);
  GetString(IDC_IMP_TEXTURE_PATH, opts.texturePath);
  if (GetLong(IDC_IMP_TOLERANCE_R, value)) opts.mergeToleranceR = ULONG(std::max<LONG>(value, 1));
  if (GetLong(IDC_IMP_TOLERANCE_G, value)) opts.mergeToleranceG = ULONG(std::max<LONG>(value, 1));
  if (GetLong(IDC_IMP_TOLERANCE_B, value)) opts.mergeToleranceB = ULONG(std::max<LONG>(value, 1));
}

void LoadOptsDialog::ApplyOwnEnables() {
  Enable(IDC_IMP_FOLDER_GROUP, IsTicked(IDC_IMP_FOLDER));
  Enable(IDC_IMP_NULL_PER_FOLDER, IsTicked(IDC_IMP_SUBFOLDERS));
  Enable(IDC_IMP_PHONG_GROUP, IsTicked(IDC_IMP_PHONG));
  const Bool lines = IsTicked(IDC_IMP_LINES);
  const Bool splines = lines && IsTicked(IDC_IMP_LINES_AS_SPLINES);
  Enable(IDC_IMP_LINES_GROUP, lines);
  Enable(IDC_IMP_SPLINE_LAYOUT_GROUP, splines);
  Enable(IDC_IMP_SPLINE_NULL_GROUP, splines);
  Enable(IDC_IMP_CLOSED_SPLINES, splines);
  Enable(IDC_WHOLE_GROUP_NAMES, IsTicked(IDC_IMP_GROUPS));
  Enable(IDC_IMP_FLIP_GROUP, IsTicked(IDC_IMP_UVS));
  const Bool newMaterials = IsTicked(IDC_IMP_NEW_MATERIALS);
  const Bool reuse = IsTicked(IDC_IMP_REUSE_MATERIALS);
  Enable(IDC_IMP_CHANNELS_GROUP, newMaterials || reuse);
  Enable(IDC_IMP_TEXTURES_GROUP, newMaterials || reuse);
  Enable(IDC_IMP_REWRITE_MATERIALS, reuse);
  Enable(IDC_IMP_REFRACTION, IsTicked(IDC_IMP_TRANSPARENCY));
  Enable(IDC_IMP_TEXTURE_GROUP, IsTicked(IDC_IMP_LOAD_TEXTURES));
}

void LoadOptsDialog::OwnCommand(LONG id) {
  if (id != IDC_IMP_TEXTURE_PATH_BUTTON) return;
  const String title("Texture Path");
  Filename folder(Opts().texturePath);
  if (!folder.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_DIRECTORY, &title)) return;
  Opts().texturePath = folder.GetString();
  SetString(IDC_IMP_TEXTURE_PATH, Opts().texturePath);
}

void LoadOptsDialog::Confirmed() {
  if (m_pScaleFactor) *m_pScaleFactor = Opts().ScaleFactor();
}

// --- export -----------------------------------------------------------------------

SaveOptsDialog::SaveOptsDialog(PresetStore* presets, ObjExportContext* context, BaseDocument* doc)
    : OptsDialog(presets, PluginOpts::EXPORT_SIDE, DLG_OBJ_EXPORT_OPTIONS, IDC_XP_LOGO1, IDC_XP_LOGO2, kLogoLeft,
                 kLogoRight, kExportChecks, LONG(std::size(kExportChecks)), kExportRadios,
                 LONG(std::size(kExportRadios))),
      m_pContext(context) {
  if (!doc) {
    m_frameRate = kFallbackFrameRate;
    return;
  }
  m_frameRate = doc->GetFps();
  m_firstFrame = doc->GetMinTime().GetFrame(m_frameRate);
  m_lastFrame = std::max(doc->GetMaxTime().GetFrame(m_frameRate), m_firstFrame);
}

Bool SaveOptsDialog::NgonsAllowed() const { return !m_pContext || m_pContext->exportNgons; }

// While n-gons with holes rule them out, the switch shows off; the user's own setting
// stays in the record (and in "Last Used") for the next document.
Bool SaveOptsDialog::ReadsCheck(LONG id) const { return id != IDC_XP_NGONS || NgonsAllowed(); }

Bool SaveOptsDialog::FillChoices() {
  return FillChoicePopup(IDC_XP_COMPATIBILITY, IDS_VALUE1010_0, 2) &&
         FillChoicePopup(IDC_XP_FILE_NUMBERING, IDS_FILENUMBER_BY_FRAME, 2);
}

void SaveOptsDialog::FillOwnGadgets() {
  const PluginOpts& opts = Opts();
  SetLong(IDC_XP_SCALE, ScaleForGadget(opts.scale), 1, kMaxScale);
  if (!NgonsAllowed()) SetBool(IDC_XP_NGONS, FALSE);
  SetLong(IDC_XP_COMPATIBILITY, ClampLong(opts.value1010, 0, 1));
  SetLong(IDC_XP_FILE_NUMBERING, ClampLong(opts.useFirstFileNumber, 0, 1));
  SetLong(IDC_XP_FIRST_FILE_NUMBER, opts.firstFileNumber);

  // The frames always come from the document, never from the record.
  const LONG first = m_firstFrame, last = m_lastFrame;
  const LONG startMax = ClampToLong(std::max<LLONG>(first, LLONG(last) - 1));
  const LONG endMin = ClampToLong(std::min<LLONG>(LLONG(first) + 1, last));
  SetLong(IDC_XP_START_FRAME, first, first, startMax);
  SetLong(IDC_XP_END_FRAME, last, endMin, last);
  // The rate's upper limit is 100 times the last frame, but never below the
  // document's own rate, which must stay showable.
  const LONG rateMax = ClampToLong(std::max<LLONG>(LLONG(last) * 100, std::max<LONG>(m_frameRate, 1)));
  SetLong(IDC_XP_FRAME_RATE, m_frameRate, 1, rateMax);
  SetLong(IDC_XP_FRAME_STEP, 1, 1, ClampToLong(std::max<LLONG>((LLONG(last) - first) / 2, 1)));
}

void SaveOptsDialog::ReadOwnGadgets() {
  PluginOpts& opts = Opts();
  LONG value = 0;
  if (GetLong(IDC_XP_SCALE, value)) opts.scale = ScaleFromGadget(value);
  GetLong(IDC_XP_COMPATIBILITY, opts.value1010);
  GetLong(IDC_XP_FILE_NUMBERING, opts.useFirstFileNumber);
  GetLong(IDC_XP_FIRST_FILE_NUMBER, opts.firstFileNumber);
  GetLong(IDC_XP_START_FRAME, opts.startFrame);
  GetLong(IDC_XP_END_FRAME, opts.endFrame);
  GetLong(IDC_XP_FRAME_RATE, opts.frameRate);
  GetLong(IDC_XP_FRAME_STEP, opts.frameStep);
}

void SaveOptsDialog::ApplyOwnEnables() {
  const Bool perObject = IsTicked(IDC_XP_MODE_OBJECTS);
  const Bool perPolygonObject = IsTicked(IDC_XP_MODE_POLYGON_OBJECTS);
  const Bool perFrame = IsTicked(IDC_XP_MODE_FRAMES);
  Enable(IDC_XP_FILES_GROUP, perObject || perPolygonObject || perFrame);
  Enable(IDC_XP_SUBFOLDERS, perPolygonObject);
  Enable(IDC_XP_FRAME_RANGE_GROUP, perFrame);
  Enable(IDC_XP_FRAME_FILES_GROUP, perFrame);
  Enable(IDC_XP_NUMBERING_GROUP, perFrame);

  const Bool faces = IsTicked(IDC_XP_FACES);
  Enable(IDC_XP_FACE_ORDER_GROUP, faces);
  Enable(IDC_XP_FACE_CONTENT_GROUP, faces);
  Enable(IDC_WHOLE_GROUP_NAMES, IsTicked(IDC_XP_GROUPS));
  const Bool uvs = IsTicked(IDC_XP_UVS);
  Enable(IDC_XP_COMPRESS_UVS, uvs);
  Enable(IDC_XP_FLIP_U, uvs);
  Enable(IDC_XP_FLIP_V, uvs);
  Enable(IDC_XP_COMPRESS_NORMALS, IsTicked(IDC_XP_NORMALS));
  Enable(IDC_XP_NGONS, NgonsAllowed());

  LONG choice = 0;
  GetLong(IDC_XP_COMPATIBILITY, choice);
  Enable(IDC_XP_COMPATIBILITY_NOTE, choice == 1);
  choice = 0;
  GetLong(IDC_XP_FILE_NUMBERING, choice);
  Enable(IDC_XP_FIRST_NUMBER_GROUP, choice == 1);
}

void SaveOptsDialog::LimitFrameStep() {
  LONG start = 0, end = 0, step = 1;
  GetLong(IDC_XP_START_FRAME, start);
  GetLong(IDC_XP_END_FRAME, end);
  GetLong(IDC_XP_FRAME_STEP, step);
  const LONG limit = ClampToLong(std::max<LLONG>((LLONG(end) - start) / 2, 1));
  SetLong(IDC_XP_FRAME_STEP, std::min(step, limit), 1, limit);
}

void SaveOptsDialog::OwnCommand(LONG id) {
  if (id != IDC_XP_START_FRAME && id != IDC_XP_END_FRAME) return;
  LONG start = 0, end = 0;
  GetLong(IDC_XP_START_FRAME, start);
  GetLong(IDC_XP_END_FRAME, end);
  if (id == IDC_XP_START_FRAME && end <= start) SetLong(IDC_XP_END_FRAME, ClampToLong(LLONG(start) + 1));
  if (id == IDC_XP_END_FRAME && start >= end) SetLong(IDC_XP_START_FRAME, ClampToLong(LLONG(end) - 1));
  LimitFrameStep();
}

void SaveOptsDialog::Confirmed() {
  if (m_pContext) m_pContext->scaleFactor = Opts().ScaleFactor();
}

Bool PlayOptionsDialog(PresetStore& presets, OptsDialog& dialog, Bool* opened) {
  if (opened) *opened = FALSE;
  if (!presets.Load()) {
    ReportMemoryError("PresetStore::Load()");
    return FALSE;
  }
  const Bool confirmed = dialog.Open();
  if (opened) *opened = dialog.WasShown();
  if (!dialog.WasShown()) {
    presets.ForgetStored();
    return FALSE;
  }
  presets.Save();
  presets.ForgetStored();
  return confirmed;
}


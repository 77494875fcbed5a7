#include "mddoptions.h"

#include <algorithm>
#include <cstdlib>

#include "c4d_symbols.h"
#include "plugin_ids.h"

namespace {

constexpr LONG kMaxScale = 100000;

LONG ClampScale(LONG scale) { return std::min(std::max<LONG>(scale, 1), kMaxScale); }

// The frame range of the document at its own rate.
void DocumentFrames(BaseDocument* doc, LONG* minFrame, LONG* maxFrame) {
  *minFrame = *maxFrame = 0;
  if (!doc) return;
  const LONG fps = doc->GetFps();
  *minFrame = MddFrameOf(doc->GetMinTime(), fps);
  *maxFrame = std::max(*minFrame, MddFrameOf(doc->GetMaxTime(), fps));
}

}  // namespace

LONG MddFrameOf(const BaseTime& t, LONG fps) { return t.GetFrame(Real(fps)); }

// --- export settings ----------------------------------------------------------------

Bool MddExportOptions::Load() {
  const BaseContainer* stored = GetWorldPluginData(ID_MDDXP_PLUGIN);
  if (!stored || stored->GetLong(MDD_OPT_RESET) != 0) {
    resetMarker = 0;
    multiply = FALSE;
    scale = 1000;
    frameStep = 1;
    Save();
    stored = GetWorldPluginData(ID_MDDXP_PLUGIN);
  }
  if (!stored) return FALSE;
  resetMarker = stored->GetLong(MDD_OPT_RESET);
  multiply = stored->GetBool(MDD_OPT_MULTIPLY);
  scale = ClampScale(stored->GetLong(MDD_OPT_SCALE, 1000));
  frameStep = std::max<LONG>(stored->GetLong(MDD_OPT_FRAME_STEP, 1), 1);
  return TRUE;
}

void MddExportOptions::Save() const {
  BaseContainer bc;
  bc.SetLong(MDD_OPT_RESET, resetMarker);
  bc.SetBool(MDD_OPT_MULTIPLY, multiply);
  bc.SetLong(MDD_OPT_SCALE, scale);
  bc.SetLong(MDD_OPT_FRAME_STEP, frameStep);
  SetWorldPluginData(ID_MDDXP_PLUGIN, bc, TRUE);
}

// --- import settings ----------------------------------------------------------------

Bool MddImportOptions::Load() {
  const BaseContainer* stored = GetWorldPluginData(ID_MDDMP_PLUGIN);
  if (!stored || stored->GetLong(MDD_OPT_RESET) != 0) {
    BaseDocument* doc = document;
    *this = MddImportOptions();
    document = doc;
    Save();
    stored = GetWorldPluginData(ID_MDDMP_PLUGIN);
  }
  if (!stored) return FALSE;
  resetMarker = stored->GetLong(MDD_OPT_RESET);
  replaceKeys = stored->GetBool(MDD_OPT_REPLACE_KEYS);
  reverse = stored->GetBool(MDD_OPT_REVERSE);
  multiply = stored->GetBool(MDD_OPT_MULTIPLY, TRUE);
  scale = ClampScale(stored->GetLong(MDD_OPT_SCALE, 1000));
  startMode = stored->GetLong(MDD_OPT_START_MODE, 1);
  startFrame = stored->GetLong(MDD_OPT_START_FRAME);
  return TRUE;
}

void MddImportOptions::Save() const {
  BaseContainer bc;
  bc.SetLong(MDD_OPT_RESET, resetMarker);
  bc.SetBool(MDD_OPT_REPLACE_KEYS, replaceKeys);
  bc.SetBool(MDD_OPT_REVERSE, reverse);
  bc.SetBool(MDD_OPT_MULTIPLY, multiply);
  bc.SetLong(MDD_OPT_SCALE, scale);
  bc.SetLong(MDD_OPT_START_MODE, startMode);
  bc.SetLong(MDD_OPT_START_FRAME, startFrame);
  SetWorldPluginData(ID_MDDMP_PLUGIN, bc, TRUE);
}

// --- export dialog ------------------------------------------------------------------

MddXpOptsDialog::MddXpOptsDialog(MddExportOptions* opts) : m_pOpts(opts), m_logo("mdd_xp.tif") {}

Bool MddXpOptsDialog::CreateLayout() {
  return LoadDialogResource(DLG_MDD_EXPORT_OPTIONS, nullptr, 0) && AttachUserArea(m_logo, IDC_MDDXP_LOGO);
}

void MddXpOptsDialog::SetStepLimit(LONG limit) {
  // A range of fewer than 2 frames gives a limit of 0; a step must stay at least 1.
  limit = std::max<LONG>(limit, 1);
  LONG step = m_pOpts->frameStep;
  GetLong(IDC_MDDXP_FRAME_STEP, step);
  step = std::min(std::max<LONG>(step, 1), limit);
  SetLong(IDC_MDDXP_FRAME_STEP, step, 1, limit);
}

Bool MddXpOptsDialog::InitValues() {
  m_shown = TRUE;
  MddExportOptions& o = *m_pOpts;
  DocumentFrames(o.document, &m_minFrame, &m_maxFrame);
  SetBool(IDC_MDDXP_MULTIPLY, o.multiply);
  SetBool(IDC_MDDXP_DIVIDE, !o.multiply);
  SetLong(IDC_MDDXP_SCALE, ClampScale(o.scale), 1, kMaxScale);
  SetLong(IDC_MDDXP_START_FRAME, o.startFrame, m_minFrame, m_maxFrame);
  SetLong(IDC_MDDXP_END_FRAME, o.endFrame, m_minFrame, m_maxFrame);
  SetLong(IDC_MDDXP_FPS, std::min<LONG>(std::max<LONG>(o.fps, 1), 120), 1, 120);
  const LONG limit = std::max<LONG>((m_maxFrame - m_minFrame) / 2, 1);
  o.frameStep = std::min(std::max<LONG>(o.frameStep, 1), limit);
  SetLong(IDC_MDDXP_FRAME_STEP, o.frameStep, 1, limit);
  return TRUE;
}

Bool MddXpOptsDialog::Command(LONG id, const BaseContainer&) {
  MddExportOptions& o = *m_pOpts;
  Bool on = FALSE;
  switch (id) {
    case IDC_MDDXP_MULTIPLY:
      GetBool(IDC_MDDXP_MULTIPLY, on);
      SetBool(IDC_MDDXP_DIVIDE, !on);
      break;
    case IDC_MDDXP_DIVIDE:
      GetBool(IDC_MDDXP_DIVIDE, on);
      SetBool(IDC_MDDXP_MULTIPLY, !on);
      break;
    case IDC_MDDXP_START_FRAME:
    case IDC_MDDXP_END_FRAME: {
      LONG start = 0, end = 0;
      GetLong(IDC_MDDXP_START_FRAME, start);
      GetLong(IDC_MDDXP_END_FRAME, end);
      SetStepLimit(std::abs(end - start) / 2);
      break;
    }
    case IDC_OK: {
      GetBool(IDC_MDDXP_MULTIPLY, on);
      o.multiply = on;
      LONG value = 0;
      if (GetLong(IDC_MDDXP_SCALE, value)) o.scale = ClampScale(value);
      GetLong(IDC_MDDXP_START_FRAME, o.startFrame);
      GetLong(IDC_MDDXP_END_FRAME, o.endFrame);
      if (GetLong(IDC_MDDXP_FPS, value)) o.fps = std::min<LONG>(std::max<LONG>(value, 1), 120);
      if (GetLong(IDC_MDDXP_FRAME_STEP, value)) o.frameStep = std::max<LONG>(value, 1);
      o.Save();
      break;
    }
    default:
      break;
  }
  return TRUE;
}

// --- import dialog ------------------------------------------------------------------

namespace {

// The start-mode radios and the mode each stands for.
const LONG kStartRadios[4][2] = {{IDC_MDDMP_START_FILE, 0},
                                 {IDC_MDDMP_START_CURRENT, 1},
                                 {IDC_MDDMP_START_AT_FRAME, 2},
                                 {IDC_MDDMP_START_LAST_KEY, 3}};

}  // namespace

MddMpOptsDialog::MddMpOptsDialog(MddImportOptions* opts) : m_pOpts(opts), m_logo("mdd_mp.tif") {}

Bool MddMpOptsDialog::CreateLayout() {
  return LoadDialogResource(DLG_MDD_IMPORT_OPTIONS, nullptr, 0) && AttachUserArea(m_logo, IDC_MDDMP_LOGO);
}

void MddMpOptsDialog::TickStartMode(LONG id) {
  for (const auto& radio : kStartRadios) SetBool(radio[0], radio[0] == id);
  Enable(IDC_MDDMP_START_FRAME, id == IDC_MDDMP_START_AT_FRAME);
}

Bool MddMpOptsDialog::InitValues() {
  m_shown = TRUE;
  const MddImportOptions& o = *m_pOpts;
  LONG minFrame = 0, maxFrame = 0;
  DocumentFrames(o.document, &minFrame, &maxFrame);
  SetBool(IDC_MDDMP_MULTIPLY, o.multiply);
  SetBool(IDC_MDDMP_DIVIDE, !o.multiply);
  SetLong(IDC_MDDMP_SCALE, ClampScale(o.scale), 1, kMaxScale);
  // Any other stored mode shows as the last radio, which the dialog reads back as 3.
  LONG ticked = IDC_MDDMP_START_LAST_KEY;
  for (const auto& radio : kStartRadios)
    if (radio[1] == o.startMode) ticked = radio[0];
  TickStartMode(ticked);
  SetBool(IDC_MDDMP_REVERSE, o.reverse);
  SetBool(IDC_MDDMP_REPLACE_KEYS, o.replaceKeys);
  SetLong(IDC_MDDMP_START_FRAME, std::min(std::max(o.startFrame, minFrame), maxFrame), minFrame, maxFrame);
  return TRUE;
}

Bool MddMpOptsDialog::Command(LONG id, const BaseContainer&) {
  MddImportOptions& o = *m_pOpts;
  Bool on = FALSE;
  switch (id) {
    case IDC_MDDMP_MULTIPLY:
      GetBool(IDC_MDDMP_MULTIPLY, on);
      SetBool(IDC_MDDMP_DIVIDE, !on);
      break;
    case IDC_MDDMP_DIVIDE:
      GetBool(IDC_MDDMP_DIVIDE, on);
      SetBool(IDC_MDDMP_MULTIPLY, !on);
      break;
    case IDC_MDDMP_START_FILE:
    case IDC_MDDMP_START_CURRENT:
    case IDC_MDDMP_START_AT_FRAME:
    case IDC_MDDMP_START_LAST_KEY:
      TickStartMode(id);
      break;
    case IDC_OK: {
      LONG value = 0;
      if (GetLong(IDC_MDDMP_SCALE, value)) o.scale = ClampScale(value);
      Bool file = FALSE, current = FALSE, atFrame = FALSE;
      GetBool(IDC_MDDMP_START_FILE, file);
      GetBool(IDC_MDDMP_START_CURRENT, current);
      GetBool(IDC_MDDMP_START_AT_FRAME, atFrame);
      o.startMode = file ? 0 : current ? 1 : atFrame ? 2 : 3;
      GetBool(IDC_MDDMP_MULTIPLY, on);
      o.multiply = on;
      GetBool(IDC_MDDMP_REPLACE_KEYS, on);
      o.replaceKeys = on;
      GetBool(IDC_MDDMP_REVERSE, on);
      o.reverse = on;
      if (atFrame) GetLong(IDC_MDDMP_START_FRAME, o.startFrame);
      o.Save();
      break;
    }
    default:
      break;
  }
  return TRUE;
}

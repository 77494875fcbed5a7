#include "progress.h"

#include "c4d_symbols.h"

namespace {

constexpr LONG kMiddleWidth = 16;
constexpr LONG kMinWidth = 214;
constexpr LONG kMinHeight = 12;
// Spaces that give the label gadget its width before the first file name.
constexpr LONG kLabelWidth = 103;
// Scaled, alpha-blended bitmap drawing.
constexpr LONG kDrawMode = BMP_NORMALSCALED | BMP_ALLOWALPHA;

String Number(LONG n) { return LongToString(n); }

}  // namespace

// --- ProgBar ----------------------------------------------------------------------

ProgBar::ProgBar() = default;

ProgBar::~ProgBar() { BaseBitmap::Free(m_pImage); }

Bool ProgBar::LoadImage(const CHAR* file) {
  BaseBitmap::Free(m_pImage);
  m_imageLoaded = FALSE;
  m_pImage = BaseBitmap::Alloc();
  if (!m_pImage) return FALSE;
  const Filename path = GeGetPluginPath() + Filename("res") + Filename(file);
  // A picture narrower than the middle column has no caps to draw.
  if (m_pImage->Init(path) != IMAGERESULT_OK || m_pImage->GetBw() < kMiddleWidth) {
    BaseBitmap::Free(m_pImage);
    return FALSE;
  }
  m_imageWidth = m_pImage->GetBw();
  m_imageHeight = m_pImage->GetBh();
  m_capWidth = (m_imageWidth - kMiddleWidth) / 2;
  m_imageLoaded = TRUE;
  return TRUE;
}

Bool ProgBar::GetMinSize(LONG& w, LONG& h) {
  w = kMinWidth;
  h = kMinHeight;
  return TRUE;
}

LONG ProgBar::FillWidth(LONG areaWidth) const {
  const Real fraction = (current != 0 && total != 0) ? Real(current) / Real(total) : 0.0;
  const LONG l = LONG(fraction * Real(areaWidth - 2 * m_capWidth));
  return l > 0 ? l : 0;
}

void ProgBar::DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) {
  (void)msg;
  OffScreenOn();
  DrawSetPen(COLOR_BG);
  DrawRectangle(x1, y1, x2 - 1, y2 - 1);
  if (!m_imageLoaded) return;
  const LONG height = GetHeight();
  const LONG l = FillWidth(GetWidth());
  DrawBitmap(m_pImage, 0, 0, m_capWidth, height, 0, 0, m_capWidth, m_imageHeight, kDrawMode);
  if (l > 0) DrawBitmap(m_pImage, m_capWidth, 0, l, height, m_capWidth, 0, kMiddleWidth, m_imageHeight, kDrawMode);
  DrawBitmap(m_pImage, m_capWidth + l, 0, m_capWidth, height, m_imageWidth - m_capWidth, 0, m_capWidth,
             m_imageHeight, kDrawMode);
}

// --- ProgBarDialog ----------------------------------------------------------------

ProgBarDialog::ProgBarDialog() : m_label(String(std::string(kLabelWidth, ' ').c_str())) {}

void ProgBarDialog::SetOwner(Bool* cancelled, const CHAR* imageFile) {
  m_pCancelled = cancelled;
  m_bar.LoadImage(imageFile);
}

void ProgBarDialog::SetTotal(LONG n) {
  m_filesTotal = n;
  m_bar.total = n;
}

String ProgBarDialog::CounterTitle() const {
  return GeLoadString(IDS_PROGRESS_FILES) + String(": (") + Number(m_filesDone) + String("/") +
         Number(m_filesTotal) + String(")");
}

void ProgBarDialog::SetCurrent(LONG n) {
  m_filesDone = n;
  m_bar.current = n;
  if (!IsOpen()) return;
  SetString(IDC_PROGRESS_GROUP, CounterTitle());
  BaseContainer redraw(BFM_DRAW);
  redraw.SetLong(BFM_DRAW_LEFT, 0);
  redraw.SetLong(BFM_DRAW_TOP, 0);
  redraw.SetLong(BFM_DRAW_RIGHT, m_bar.GetWidth());
  redraw.SetLong(BFM_DRAW_BOTTOM, m_bar.GetHeight());
  SendMessage(IDC_PROGRESS_BAR, redraw);
}

void ProgBarDialog::SetLabel(const String& text) {
  m_label = text;
  if (!IsOpen()) return;
  SetString(IDC_PROGRESS_LABEL, m_label);
  BaseContainer input;
  if (GetInputState(BFM_INPUT_KEYBOARD, KEY_ESC, input) && input.GetLong(BFM_INPUT_CHANNEL) == KEY_ESC &&
      m_pCancelled)
    *m_pCancelled = TRUE;
}

Bool ProgBarDialog::CreateLayout() {
  Bool ok = GroupBegin(0, BFH_SCALEFIT | BFV_SCALEFIT, 1, 0, String(), 0) && GroupBorderSpace(8, 8, 8, 8);
  ok = ok && GroupBegin(IDC_PROGRESS_GROUP, BFH_SCALEFIT, 1, 0, GeLoadString(IDS_PROGRESS_FILES), 0) &&
       GroupBorder(BORDER_GROUP_IN) && GroupBorderSpace(8, 8, 4, 10) && GroupSpace(5, 5);
  ok = ok && GroupBegin(0, BFH_SCALEFIT, 1, 0, String(), 0) && GroupBorderSpace(0, 0, 0, 4) &&
       AddStaticText(IDC_PROGRESS_LABEL, BFH_SCALEFIT, 0, 0, m_label, 0) && GroupEnd();
  ok = ok && GroupBegin(0, BFH_SCALEFIT, 1, 0, String(), 0) && GroupBorderNoTitle(BORDER_THIN_IN) &&
       GroupBorderSpace(2, 2, 2, 2) && AddUserArea(IDC_PROGRESS_BAR, BFH_SCALEFIT, kMinWidth, kMinHeight) &&
       AttachUserArea(m_bar, IDC_PROGRESS_BAR) && GroupEnd();
  ok = ok && AddStaticText(0, BFH_LEFT, 0, 0, GeLoadString(IDS_PROGRESS_HINT), 0);
  ok = ok && GroupEnd() && GroupEnd();
  return ok;
}

Bool ProgBarDialog::Command(LONG id, const BaseContainer& msg) {
  if (id == IDC_CANCEL) return Close();
  return GeDialog::Command(id, msg);
}

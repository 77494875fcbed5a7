#include "logobmp.h"

namespace {
constexpr LONG kEmptySize = 64;
}

LogoBmp::LogoBmp(const CHAR* file) {
  if (!file || !*file) return;
  m_pBitmap = BaseBitmap::Alloc();
  if (!m_pBitmap) return;
  const Filename path = GeGetPluginPath() + Filename("res") + Filename(file);
  if (m_pBitmap->Init(path) != IMAGERESULT_OK) BaseBitmap::Free(m_pBitmap);
}

LogoBmp::~LogoBmp() { BaseBitmap::Free(m_pBitmap); }

Bool LogoBmp::GetMinSize(LONG& w, LONG& h) {
  w = m_pBitmap ? m_pBitmap->GetBw() : kEmptySize;
  h = m_pBitmap ? m_pBitmap->GetBh() : kEmptySize;
  return TRUE;
}

void LogoBmp::DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) {
  (void)msg;
  OffScreenOn();
  DrawSetPen(COLOR_BG);
  DrawRectangle(x1, y1, x2 - 1, y2 - 1);
  if (!m_pBitmap) return;
  const LONG bw = m_pBitmap->GetBw(), bh = m_pBitmap->GetBh();
  // Scaled mode with equal rectangles draws 1:1 and blends the logo's alpha edge.
  DrawBitmap(m_pBitmap, (GetWidth() - bw) / 2, (GetHeight() - bh) / 2, bw, bh, 0, 0, bw, bh,
             BMP_NORMALSCALED | BMP_ALLOWALPHA);
}

// User areas: the plug-in draws into an off-screen bitmap of the area's size, which
// stands for the screen (tests read its pixels through host::UserAreaBitmap).
#include <algorithm>
#include <cmath>

#include "c4d_gui.h"
#include "c4d_memory.h"
#include "dialog_internal.h"

struct GeUserAreaAccess {
  static GeUserAreaState* State(const GeUserArea* ua) { return ua ? ua->m_state : nullptr; }
  static bool Ensure(GeUserArea* ua) {
    if (!ua->m_state) ua->m_state = gNew GeUserAreaState;
    return ua->m_state != nullptr;
  }
};

namespace {

// The background of dialogs: a mid grey.
constexpr LONG kBackground = 0x999999;
constexpr LONG kText = 0x000000;

LONG Channel(Real v) {
  if (!(v > 0.0)) return 0;
  if (v >= 1.0) return 255;
  return static_cast<LONG>(std::lround(v * 255.0));
}

// The area's clip rectangle cut to its canvas: x1 <= x < x2, y1 <= y < y2.
void Clip(const GeUserAreaState* s, LONG* x1, LONG* y1, LONG* x2, LONG* y2) {
  *x1 = std::max<LONG>(std::max<LONG>(s->clipX1, 0), *x1);
  *y1 = std::max<LONG>(std::max<LONG>(s->clipY1, 0), *y1);
  *x2 = std::min<LONG>(std::min<LONG>(s->clipX2, s->width), *x2);
  *y2 = std::min<LONG>(std::min<LONG>(s->clipY2, s->height), *y2);
}

void Plot(GeUserAreaState* s, LONG x, LONG y) {
  if (x < s->clipX1 || y < s->clipY1 || x >= s->clipX2 || y >= s->clipY2) return;
  s->canvas->SetPixel(x, y, s->pen & 0xff, (s->pen >> 8) & 0xff, (s->pen >> 16) & 0xff, 255);
}

}  // namespace

namespace host::internal {

bool AttachArea(GeUserArea* area, GeDialog* dlg, LONG id) {
  if (!GeUserAreaAccess::Ensure(area)) return false;
  GeUserAreaState* s = GeUserAreaAccess::State(area);
  if (s->dialog && (s->dialog != dlg || s->id != id)) {
    Gadget* old = FindGadget(s->dialog, s->id);
    if (old && old->area == area) old->area = nullptr;
  }
  s->dialog = dlg;
  s->id = id;
  return true;
}

void DetachArea(GeUserArea* area) {
  GeUserAreaState* s = GeUserAreaAccess::State(area);
  if (!s) return;
  s->dialog = nullptr;
  s->id = 0;
}

bool LayoutArea(GeUserArea* area, LONG width, LONG height) {
  GeUserAreaState* s = GeUserAreaAccess::State(area);
  if (!s || !s->dialog) return false;
  const Gadget* g = FindGadget(s->dialog, s->id);
  LONG minW = 0, minH = 0;
  if (!area->GetMinSize(minW, minH)) minW = minH = 0;
  LONG w = std::max<LONG>(minW, width > 0 ? width : (g ? g->width : 0));
  LONG h = std::max<LONG>(minH, height > 0 ? height : (g ? g->height : 0));
  w = std::max<LONG>(w, 0);
  h = std::max<LONG>(h, 0);
  if (w == 0 || h == 0) {
    // Nothing to show: no canvas, and nothing is drawn.
    BaseBitmap::Free(s->canvas);
    s->width = s->height = 0;
    area->Sized(0, 0);
    return true;
  }
  if (!s->canvas || s->width != w || s->height != h) {
    BaseBitmap* canvas = BaseBitmap::Alloc();
    if (!canvas || canvas->Init(w, h) != IMAGERESULT_OK) {
      BaseBitmap::Free(canvas);
      return false;
    }
    BaseBitmap::Free(s->canvas);
    s->canvas = canvas;
    s->width = w;
    s->height = h;
    area->Sized(w, h);
  }
  area->Redraw();
  return true;
}

void DrawArea(GeUserArea* area, LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) {
  GeUserAreaState* s = GeUserAreaAccess::State(area);
  if (!s || !s->canvas) return;
  x1 = std::max<LONG>(x1, 0);
  y1 = std::max<LONG>(y1, 0);
  x2 = std::min<LONG>(x2, s->width);
  y2 = std::min<LONG>(y2, s->height);
  if (x1 >= x2 || y1 >= y2) return;
  s->clipX1 = x1;
  s->clipY1 = y1;
  s->clipX2 = x2;
  s->clipY2 = y2;
  area->DrawMsg(x1, y1, x2, y2, msg);
}

}  // namespace host::internal

namespace host {

const BaseBitmap* UserAreaBitmap(const GeUserArea* area) {
  const GeUserAreaState* s = GeUserAreaAccess::State(area);
  return s ? s->canvas : nullptr;
}

bool ResizeUserArea(GeUserArea* area, LONG width, LONG height) {
  const GeUserAreaState* s = GeUserAreaAccess::State(area);
  if (!s || !s->dialog || !s->dialog->IsOpen() || width <= 0 || height <= 0) return false;
  return internal::LayoutArea(area, width, height);
}

}  // namespace host

GeUserArea::~GeUserArea() {
  if (!m_state) return;
  if (m_state->dialog) {
    host::internal::Gadget* g = host::internal::FindGadget(m_state->dialog, m_state->id);
    if (g && g->area == this) g->area = nullptr;
  }
  BaseBitmap::Free(m_state->canvas);
  gDelete(m_state);
}

Bool GeUserArea::GetMinSize(LONG& w, LONG& h) {
  (void)w;
  (void)h;
  return FALSE;
}
void GeUserArea::Sized(LONG w, LONG h) {
  (void)w;
  (void)h;
}
void GeUserArea::DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) {
  (void)msg;
  DrawSetPen(COLOR_BG);
  DrawRectangle(x1, y1, x2 - 1, y2 - 1);
}
Bool GeUserArea::InputEvent(const BaseContainer& msg) {
  (void)msg;
  return FALSE;
}

LONG GeUserArea::GetWidth() const { return m_state ? m_state->width : 0; }
LONG GeUserArea::GetHeight() const { return m_state ? m_state->height : 0; }
GeDialog* GeUserArea::GetDialog() const { return m_state ? m_state->dialog : nullptr; }

void GeUserArea::Redraw() {
  if (!m_state || !m_state->canvas) return;
  BaseContainer msg(BFM_DRAW);
  msg.SetLong(BFM_DRAW_LEFT, 0);
  msg.SetLong(BFM_DRAW_TOP, 0);
  msg.SetLong(BFM_DRAW_RIGHT, m_state->width);
  msg.SetLong(BFM_DRAW_BOTTOM, m_state->height);
  host::internal::DrawArea(this, 0, 0, m_state->width, m_state->height, msg);
}

Bool GeUserArea::OffScreenOn() { return TRUE; }

void GeUserArea::DrawSetPen(const Vector& colour) {
  if (!m_state) return;
  m_state->pen = Channel(colour.x) | (Channel(colour.y) << 8) | (Channel(colour.z) << 16);
}

void GeUserArea::DrawSetPen(LONG colourId) {
  if (!m_state) return;
  m_state->pen = colourId == COLOR_TEXT ? kText : kBackground;
}

void GeUserArea::DrawRectangle(LONG x1, LONG y1, LONG x2, LONG y2) {
  if (!m_state || !m_state->canvas) return;
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  // Inclusive corners; widen in 64 bits so x2 = MAXLONGl does not wrap.
  LONG ex = static_cast<LONG>(std::min<LLONG>(LLONG(x2) + 1, m_state->width));
  LONG ey = static_cast<LONG>(std::min<LLONG>(LLONG(y2) + 1, m_state->height));
  Clip(m_state, &x1, &y1, &ex, &ey);
  for (LONG y = y1; y < ey; ++y)
    for (LONG x = x1; x < ex; ++x) Plot(m_state, x, y);
}

void GeUserArea::DrawLine(LONG x1, LONG y1, LONG x2, LONG y2) {
  if (!m_state || !m_state->canvas) return;
  // Lines far outside the area are cut first so the walk stays short.
  const LLONG limit = LLONG(std::max(m_state->width, m_state->height)) * 4 + 16;
  if (std::llabs(LLONG(x1)) > limit || std::llabs(LLONG(x2)) > limit || std::llabs(LLONG(y1)) > limit ||
      std::llabs(LLONG(y2)) > limit)
    return;
  LLONG dx = std::llabs(LLONG(x2) - x1), dy = -std::llabs(LLONG(y2) - y1);
  const LONG sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
  LLONG err = dx + dy;
  for (;;) {
    Plot(m_state, x1, y1);
    if (x1 == x2 && y1 == y2) break;
    const LLONG e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x1 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y1 += sy;
    }
  }
}

void GeUserArea::DrawBitmap(const BaseBitmap* bmp, LONG wx, LONG wy, LONG ww, LONG wh, LONG x, LONG y, LONG w,
                            LONG h, LONG mode) {
  if (!m_state || !m_state->canvas || !bmp || ww <= 0 || wh <= 0 || w <= 0 || h <= 0) return;
  const bool scaled = (mode & BMP_NORMALSCALED) != 0;
  const bool alpha = (mode & BMP_ALLOWALPHA) != 0;
  if (!scaled) {
    ww = std::min(ww, w);
    wh = std::min(wh, h);
  }
  LONG x1 = wx, y1 = wy;
  LONG x2 = static_cast<LONG>(std::min<LLONG>(LLONG(wx) + ww, MAXLONGl));
  LONG y2 = static_cast<LONG>(std::min<LLONG>(LLONG(wy) + wh, MAXLONGl));
  Clip(m_state, &x1, &y1, &x2, &y2);
  BaseBitmap* canvas = m_state->canvas;
  for (LONG ty = y1; ty < y2; ++ty) {
    const LLONG dy = LLONG(ty) - wy;
    // Nearest sampling at pixel centres; 1:1 when the sizes agree.
    const LLONG sy = y + (scaled ? (2 * dy + 1) * h / (2 * LLONG(wh)) : dy);
    if (sy < 0 || sy >= bmp->GetBh()) continue;
    for (LONG tx = x1; tx < x2; ++tx) {
      const LLONG dx = LLONG(tx) - wx;
      const LLONG sx = x + (scaled ? (2 * dx + 1) * w / (2 * LLONG(ww)) : dx);
      if (sx < 0 || sx >= bmp->GetBw()) continue;
      UWORD r, g, b;
      bmp->GetPixel(static_cast<LONG>(sx), static_cast<LONG>(sy), &r, &g, &b);
      const LONG a = bmp->GetAlpha(static_cast<LONG>(sx), static_cast<LONG>(sy));
      if (!alpha) {
        canvas->SetPixel(tx, ty, r, g, b, 255);
        continue;
      }
      // Premultiplied "over": what shows through is scaled by the source's transparency.
      UWORD dr, dg, db;
      canvas->GetPixel(tx, ty, &dr, &dg, &db);
      const LONG da = canvas->GetAlpha(tx, ty);
      const LONG keep = 255 - a;
      canvas->SetPixel(tx, ty, r + (dr * keep + 127) / 255, g + (dg * keep + 127) / 255, b + (db * keep + 127) / 255,
                       a + (da * keep + 127) / 255);
    }
  }
}

// Pixels of the host's off-screen pictures, for tests that check drawing.
#pragma once

#include <ostream>

#include "c4d_bitmap.h"

struct Px {
  int r, g, b, a;
  bool operator==(const Px& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

inline std::ostream& operator<<(std::ostream& os, const Px& p) {
  return os << "(" << p.r << "," << p.g << "," << p.b << "," << p.a << ")";
}

inline Px PixelAt(const BaseBitmap* bmp, LONG x, LONG y) {
  UWORD r = 0, g = 0, b = 0;
  bmp->GetPixel(x, y, &r, &g, &b);
  return {r, g, b, bmp->GetAlpha(x, y)};
}

// The dialog background the host draws for COLOR_BG.
constexpr Px kDialogBackground{153, 153, 153, 255};

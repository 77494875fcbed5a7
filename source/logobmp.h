// A user area that shows one picture from the plug-in's res/ folder, centred on the
// dialog background (the logos of the option dialogs).
#pragma once

#include "c4d.h"

class LogoBmp : public GeUserArea {
 public:
  // Loads res/<file> of the plug-in folder now; a picture that cannot be loaded leaves
  // the area empty at 64 x 64.
  explicit LogoBmp(const CHAR* file);
  ~LogoBmp() override;

  // The picture's size, 64 x 64 without one.
  Bool GetMinSize(LONG& w, LONG& h) override;
  void DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) override;

  // The loaded picture, or null.
  const BaseBitmap* GetBitmap() const { return m_pBitmap; }

 private:
  BaseBitmap* m_pBitmap = nullptr;
};

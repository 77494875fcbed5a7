// Bitmaps: images loaded from TIFF files (icons, logos, the progress bar picture).
#pragma once

#include <vector>

#include "c4d_file.h"
#include "ge_types.h"

enum : LONG {
  IMAGERESULT_OK = 1,
  IMAGERESULT_NOTEXISTING = -1,
  IMAGERESULT_WRONGTYPE = -2,
  IMAGERESULT_OUTOFMEMORY = -3,
};

class BaseBitmap {
 public:
  static BaseBitmap* Alloc();
  static void Free(BaseBitmap*& bitmap);

  // Loads a TIFF image; IMAGERESULT_OK on success.
  LONG Init(const Filename& name);
  // Makes an empty image of the given size (all pixels transparent black).
  LONG Init(LONG width, LONG height);
  LONG GetBw() const { return m_width; }
  LONG GetBh() const { return m_height; }
  // Pixel access; coordinates outside the image read as 0 and are not written.
  void GetPixel(LONG x, LONG y, UWORD* r, UWORD* g, UWORD* b) const;
  LONG GetAlpha(LONG x, LONG y) const;
  void SetPixel(LONG x, LONG y, LONG r, LONG g, LONG b, LONG a = 255);
  // The file the image came from (empty for made images).
  const Filename& GetSource() const { return m_source; }

  ~BaseBitmap() = default;

 private:
  BaseBitmap() = default;
  LONG m_width = 0, m_height = 0;
  std::vector<uint32_t> m_rgba;  // row-major, top row first, 0xAABBGGRR
  Filename m_source;
};

// A bitmap from the plug-in's res/ folder, owned by the host (do not free it).
// Null when the file cannot be loaded.
BaseBitmap* AutoBitmap(const String& file);

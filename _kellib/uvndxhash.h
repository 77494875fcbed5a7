// The UV index hash: maps a texture coordinate, quantised to a fixed number of decimals,
// to the index of the first table entry that had it, so that corners with (nearly) the
// same coordinates share one "vt" line.
#pragma once

#include "c4d.h"

class uvIndexHash {
 public:
  // factor: the quantisation (10000 keeps four decimals). factor 0 quantises nothing:
  // only coordinates of the same value in single precision (the precision texture
  // coordinates are kept in) share an entry. Null when memory is missing.
  // expected: entries the table is sized for at once (it grows beyond when needed).
  static uvIndexHash* Create(ULONG factor, ULONG expected = 0);
  static void Destroy(uvIndexHash*& hash);
  ~uvIndexHash();
  uvIndexHash(const uvIndexHash&) = delete;
  uvIndexHash& operator=(const uvIndexHash&) = delete;

  // The index stored for (u, v), or nextIndex, which is then stored for it. When the
  // table cannot grow, nextIndex is returned without being stored. w takes no part.
  LONG FindOrAdd(Real u, Real v, Real w, LONG nextIndex);
  LONG Count() const { return m_count; }
  // True when (u1, v1) and (u2, v2) share an entry.
  Bool SameEntry(Real u1, Real v1, Real u2, Real v2) const {
    ULONG a = 0, b = 0, c = 0, d = 0;
    Key(u1, v1, &a, &b);
    Key(u2, v2, &c, &d);
    return a == c && b == d;
  }

 private:
  struct Slot {
    ULONG u, v;  // the key
    LONG index;  // -1: an empty slot
  };
  uvIndexHash() = default;
  Bool Grow(LULONG slots);
  void Key(Real u, Real v, ULONG* ku, ULONG* kv) const;
  static LULONG Hash(ULONG ku, ULONG kv) { return ((LULONG(ku) << 32 | kv) * 0x9E3779B97F4A7C15ull) >> 17; }

  Slot* m_pSlots = nullptr;
  LULONG m_mask = 0;  // slot count - 1 (a power of two)
  LONG m_count = 0;
  ULONG m_factor = 0;
};

// The UV index hash: maps a texture coordinate, quantised to a fixed number of decimals,
// to the index of the first table entry that had it, so that corners with (nearly) the
// same coordinates share one "vt" line.
#pragma once

#include "c4d.h"

class uvIndexHash {
 public:
  // factor: the quantisation (10000 keeps four decimals). factor 0 quantises nothing:
  // only coordinates of exactly the same value share an entry. Null when memory is missing.
  static uvIndexHash* Create(ULONG factor);
  static void Destroy(uvIndexHash*& hash);
  ~uvIndexHash();
  uvIndexHash(const uvIndexHash&) = delete;
  uvIndexHash& operator=(const uvIndexHash&) = delete;

  // The index stored for (u, v), or nextIndex, which is then stored for it. When the
  // table cannot grow, nextIndex is returned without being stored. w takes no part.
  LONG FindOrAdd(Real u, Real v, Real w, LONG nextIndex);
  LONG Count() const { return m_count; }

 private:
  struct Slot {
    LULONG u, v;  // the key; both zero with index -1 for an empty slot
    LONG index;
  };
  uvIndexHash() = default;
  Bool Grow();
  void Key(Real u, Real v, LULONG* ku, LULONG* kv) const;

  Slot* m_pSlots = nullptr;
  LULONG m_mask = 0;  // slot count - 1 (a power of two)
  LONG m_count = 0;
  ULONG m_factor = 0;
};

// Checking and chaining n-gon edge words; shared by the n-gon builder, the edge lists
// and the outline reader. Internal to the host.
#pragma once

#include <cstdint>
#include <type_traits>

#include "c4d_memory.h"
#include "lib_ngon.h"

// A host block for working data that frees itself.
template <class T>
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() { bDelete(m_p); }
  // Zero-filled; zero bytes are a valid T (points and plain records).
  bool Alloc(VLONG count) {
    static_assert(std::is_trivially_copyable_v<T>, "Scratch holds plain data");
    bDelete(m_p);
    if (count < 0 || static_cast<VULONG>(count) > static_cast<VULONG>(PTRDIFF_MAX) / sizeof(T)) return false;
    m_p = static_cast<T*>(GeAlloc(static_cast<VLONG>(sizeof(T)) * (count > 0 ? count : 1)));
    return m_p != nullptr;
  }
  T& operator[](VLONG i) { return m_p[i]; }
  const T& operator[](VLONG i) const { return m_p[i]; }
  T* Get() { return m_p; }
  // Hands the block over to the caller.
  T* Release() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }

 private:
  T* m_p = nullptr;
};

// Several working arrays in one host block that frees itself: one allocation where a
// step needs many arrays at once (splitting thousands of small outlines made as many
// allocations as arithmetic). Alloc takes pairs of a pointer and a count, points each
// pointer at its own zero-filled array, aligned to 16 bytes, and returns false without
// memory or for a negative count (the pointers are then left as they were).
class ScratchArena {
 public:
  template <class... Arrays>
  bool Alloc(Arrays&&... arrays) {
    VLONG bytes = 0;
    if (!Size(&bytes, arrays...) || !m_block.Alloc(bytes)) return false;
    Place(m_block.Get(), arrays...);
    return true;
  }

 private:
  static constexpr VLONG kAlign = 16;
  template <class T>
  static VLONG Rounded(VLONG count) {
    return (count * static_cast<VLONG>(sizeof(T)) + kAlign - 1) / kAlign * kAlign;
  }
  static bool Size(VLONG*) { return true; }
  template <class T, class... Rest>
  static bool Size(VLONG* bytes, T*&, VLONG count, Rest&&... rest) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kAlign, "plain data");
    constexpr VLONG kMost = PTRDIFF_MAX / 2;
    if (count < 0 || count > (kMost - *bytes) / static_cast<VLONG>(sizeof(T)) - kAlign) return false;
    *bytes += Rounded<T>(count);
    return Size(bytes, rest...);
  }
  static void Place(UCHAR*) {}
  template <class T, class... Rest>
  static void Place(UCHAR* at, T*& array, VLONG count, Rest&&... rest) {
    array = reinterpret_cast<T*>(at);
    Place(at + Rounded<T>(count), rest...);
  }

  Scratch<UCHAR> m_block;
};

enum class NgonCheck { kOk, kBad, kNoMemory };

// The start and end point of side `side` of a polygon.
inline LONG EdgeStart(const CPolygon& p, LONG side) {
  return side == 0 ? p.a : side == 1 ? p.b : side == 2 ? p.c : p.d;
}
inline LONG EdgeEnd(const CPolygon& p, LONG side) { return side == 0 ? p.b : side == 1 ? p.c : side == 2 ? p.d : p.a; }

// The n-gon given by edge words (outer: outline edges with segment-end marks and
// member entries; inner: inner edges) over polys (pcnt polygons over pointCount
// points), checked and put in order:
// - edges[0 .. *edgeCount): the outline edges (polygon x 4 + side), each outline chained
//   and its last edge marked NGON_EDGE_SEGMENTEND; room for ocnt entries;
// - *segments: the number of outlines;
// - members[0 .. *memberCount): every member polygon, ascending; room for ocnt + icnt.
// kBad for anything NgonBase::BuildNgon refuses except a polygon in another n-gon.
NgonCheck ChainNgon(const CPolygon* polys, LONG pcnt, LONG pointCount, const LONG* outer, LONG ocnt,
                    const LONG* inner, LONG icnt, LONG* edges, LONG* edgeCount, LONG* segments, LONG* members,
                    LONG* memberCount);

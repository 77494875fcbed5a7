// The MDD point-cache layout, shared by the cache export, import and deformer. All
// values are big-endian; F frames of P points:
//
//   offset                 size      content
//   0                      4         int32 F
//   4                      4         int32 P
//   8                      4 F       float32 time of frame k in seconds, k = 0 .. F-1
//   8 + 4 F + 12 P k       12 P      frame k: P x (float32 x, y, z), in point order
//
// There is no magic number, version or padding. Offsets and sizes are 64-bit: a cache
// may be larger than 4 GiB. Caches written here start their time table at 0.
#pragma once

#include <cstdint>
#include <cstring>

#include "binfile.h"
#include "c4d.h"

namespace mdd {

constexpr LLONG kHeaderBytes = 8;

// Bytes of the header and time table of frames frames.
inline LLONG TableEnd(LONG frames) { return kHeaderBytes + 4 * static_cast<LLONG>(frames); }
// Bytes of one frame block of points points.
inline LLONG FrameBytes(LONG points) { return 12 * static_cast<LLONG>(points); }
// Offset of frame block k.
inline LLONG FrameOffset(LONG frames, LONG points, LONG k) {
  return TableEnd(frames) + FrameBytes(points) * static_cast<LLONG>(k);
}
// Size of a whole cache.
inline LLONG FileBytes(LONG frames, LONG points) { return FrameOffset(frames, points, frames); }

// The frames a range samples: start, start +- step, ... up to end (backwards when
// start > end). A step below 1 counts as 1.
struct FrameList {
  LONG start = 0;
  LONG step = 1;   // signed: negative for a backward range
  LONG count = 1;
  LONG Frame(LONG k) const { return start + step * k; }
};
FrameList MakeFrameList(LONG start, LONG end, LONG step);
// Time of sampled frame k in seconds: k * |step| / fps (increasing for either direction).
Real FrameTime(const FrameList& list, LONG k, LONG fps);

// What the header of a cache says, checked against the file's size.
struct Info {
  LONG frames = 0;       // as the header says
  LONG points = 0;
  LONG wholeFrames = 0;  // frame blocks the file holds completely (at most frames)
  LLONG fileSize = 0;
};

// Reads the header of file, open for reading at its start, and checks it against the
// file's length before anything is allocated from it. A header that cannot be right (a
// negative or zero count, or a file too small for the header, the time table and one
// whole frame) gives false and a message naming name, the counts and the size in
// *problem. A file that holds fewer whole frames than its header promises passes with
// wholeFrames set and a warning in *warning (empty otherwise).
Bool ReadHeader(gantryBinFile* file, const Filename& name, Info* info, String* problem, String* warning);
// Reads the time table (info.frames values, widened) that follows the header.
Bool ReadTimes(gantryBinFile* file, const Info& info, Real* times);
// Puts the read position at frame block k (k < info.wholeFrames).
Bool SeekFrame(gantryBinFile* file, const Info& info, LONG k);

// Writes the header and the time table.
Bool WriteHeader(gantryBinFile* file, LONG frames, LONG points, const Real* times);

// One frame block in file order: the points of a frame as big-endian floats, read or
// written in one call.
class FrameBlock {
 public:
  // A block of points points (at least 1); null when memory is missing.
  static FrameBlock* Alloc(LONG points);
  static void Free(FrameBlock*& block);

  LONG Points() const { return m_points; }
  void Set(LONG i, const Vector& v);
  Vector Get(LONG i) const;
  // Whole frames at once: SetAll stores (m * src[i]) * factor for every point, GetAll
  // gives dst[i] = m * (point i * factor).
  void SetAll(const Vector* src, const Matrix& m, Real factor);
  void GetAll(Vector* dst, const Matrix& m, Real factor) const;
  // All points widened into dst, each multiplied by factor.
  void GetAll(Vector* dst, Real factor = 1.0) const;
  // The next frame block of the file; false when it is cut short.
  Bool Read(gantryBinFile* file);
  Bool Write(gantryBinFile* file) const;
  const UCHAR* Bytes() const { return m_pBytes; }

  ~FrameBlock();

 private:
  FrameBlock() = default;
  FrameBlock(const FrameBlock&) = delete;
  FrameBlock& operator=(const FrameBlock&) = delete;

  UCHAR* m_pBytes = nullptr;
  LONG m_points = 0;
};

// Big-endian float32 at p.
inline SReal GetFloatBE(const UCHAR* p) {
  uint32_t bits;
  std::memcpy(&bits, p, 4);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  bits = __builtin_bswap32(bits);
#endif
  SReal value;
  std::memcpy(&value, &bits, 4);
  return value;
}
inline void PutFloatBE(UCHAR* p, SReal value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  bits = __builtin_bswap32(bits);
#endif
  std::memcpy(p, &bits, 4);
}

}  // namespace mdd

#include "mddformat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace mdd {

namespace {

uint32_t GetU32BE(const UCHAR* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void PutU32BE(UCHAR* p, uint32_t v) {
  p[0] = UCHAR(v >> 24);
  p[1] = UCHAR(v >> 16);
  p[2] = UCHAR(v >> 8);
  p[3] = UCHAR(v);
}

String Text(const std::string& text) { return String(text.c_str()); }

}  // namespace

FrameList MakeFrameList(LONG start, LONG end, LONG step) {
  FrameList list;
  const LLONG d = std::max<LONG>(step, 1);
  const LLONG lo = std::min(start, end), hi = std::max(start, end);
  list.start = start;
  list.step = LONG(start > end ? -d : d);
  list.count = LONG((hi - lo) / d + 1);
  return list;
}

Real FrameTime(const FrameList& list, LONG k, LONG fps) {
  const LLONG d = list.step < 0 ? -LLONG(list.step) : LLONG(list.step);
  return Real(LLONG(k) * d) / Real(std::max<LONG>(fps, 1));
}

Bool ReadHeader(gantryBinFile* file, const Filename& name, Info* info, String* problem, String* warning) {
  *info = Info();
  *problem = String();
  *warning = String();
  const std::string path = name.GetString().Std();
  const LLONG size = file ? file->GetLength() : 0;
  info->fileSize = size;
  UCHAR header[kHeaderBytes];
  if (!file || size < kHeaderBytes || file->ReadBytes(header, kHeaderBytes) != kHeaderBytes) {
    *problem = Text("Kelvane: '" + path + "' is too small to be an MDD point cache: " + std::to_string(size) +
                    " bytes, fewer than the 8 of its header.");
    return FALSE;
  }
  info->frames = LONG(GetU32BE(header));
  info->points = LONG(GetU32BE(header + 4));
  const std::string counts = std::to_string(info->frames) + " frames of " + std::to_string(info->points) + " points";
  if (info->frames <= 0 || info->points <= 0) {
    *problem = Text("Kelvane: '" + path + "' is not a usable MDD point cache: its header says " + counts +
                    " (file size " + std::to_string(size) + " bytes).");
    return FALSE;
  }
  const LLONG needed = FrameOffset(info->frames, info->points, 1);
  if (size < needed) {
    *problem = Text("Kelvane: '" + path + "' is too small for its MDD header: " + counts + " need at least " +
                    std::to_string(needed) + " bytes (header, time table and one frame), the file has " +
                    std::to_string(size) + " bytes.");
    return FALSE;
  }
  const LLONG whole = (size - TableEnd(info->frames)) / FrameBytes(info->points);
  info->wholeFrames = LONG(std::min<LLONG>(whole, info->frames));
  if (info->wholeFrames < info->frames)
    *warning = Text("Kelvane: '" + path + "' holds " + std::to_string(info->wholeFrames) + " whole frames of the " +
                    std::to_string(info->frames) + " its header promises (" + counts + ", file size " +
                    std::to_string(size) + " bytes); the " + std::to_string(info->wholeFrames) + " are used.");
  return TRUE;
}

Bool ReadTimes(gantryBinFile* file, const Info& info, Real* times) {
  if (!file || !times || info.frames <= 0) return FALSE;
  UCHAR chunk[4096];
  LONG done = 0;
  while (done < info.frames) {
    const LONG want = std::min<LONG>(info.frames - done, LONG(sizeof(chunk) / 4));
    if (file->ReadBytes(chunk, VLONG(want) * 4) != VLONG(want) * 4) return FALSE;
    for (LONG i = 0; i < want; ++i) times[done + i] = GetFloatBE(chunk + 4 * i);
    done += want;
  }
  return TRUE;
}

Bool SeekFrame(gantryBinFile* file, const Info& info, LONG k) {
  if (!file || k < 0 || k >= info.wholeFrames) return FALSE;
  return file->SetFilePos(FrameOffset(info.frames, info.points, k));
}

Bool WriteHeader(gantryBinFile* file, LONG frames, LONG points, const Real* times) {
  if (!file || frames <= 0 || points <= 0 || !times) return FALSE;
  UCHAR header[kHeaderBytes];
  PutU32BE(header, uint32_t(frames));
  PutU32BE(header + 4, uint32_t(points));
  if (!file->WriteBytes(header, kHeaderBytes)) return FALSE;
  UCHAR chunk[4096];
  LONG done = 0;
  while (done < frames) {
    const LONG n = std::min<LONG>(frames - done, LONG(sizeof(chunk) / 4));
    for (LONG i = 0; i < n; ++i) PutFloatBE(chunk + 4 * i, SReal(times[done + i]));
    if (!file->WriteBytes(chunk, VLONG(n) * 4)) return FALSE;
    done += n;
  }
  return TRUE;
}

// --- frame blocks ---------------------------------------------------------------

FrameBlock* FrameBlock::Alloc(LONG points) {
  if (points <= 0) return nullptr;
  FrameBlock* block = gNew FrameBlock;
  if (!block) return nullptr;
  block->m_pBytes = static_cast<UCHAR*>(GeAlloc(FrameBytes(points)));
  if (!block->m_pBytes) {
    gDelete(block);
    return nullptr;
  }
  block->m_points = points;
  return block;
}

void FrameBlock::Free(FrameBlock*& block) { gDelete(block); }

FrameBlock::~FrameBlock() { GeFree(m_pBytes); }

void FrameBlock::Set(LONG i, const Vector& v) {
  UCHAR* p = m_pBytes + 12 * VLONG(i);
  PutFloatBE(p, SReal(v.x));
  PutFloatBE(p + 4, SReal(v.y));
  PutFloatBE(p + 8, SReal(v.z));
}

Vector FrameBlock::Get(LONG i) const {
  const UCHAR* p = m_pBytes + 12 * VLONG(i);
  return Vector(GetFloatBE(p), GetFloatBE(p + 4), GetFloatBE(p + 8));
}

void FrameBlock::SetAll(const Vector* src, const Matrix& m, Real factor) {
  UCHAR* p = m_pBytes;
  for (LONG i = 0; i < m_points; ++i, p += 12) {
    const Vector v = (m * src[i]) * factor;
    PutFloatBE(p, SReal(v.x));
    PutFloatBE(p + 4, SReal(v.y));
    PutFloatBE(p + 8, SReal(v.z));
  }
}

void FrameBlock::GetAll(Vector* dst, const Matrix& m, Real factor) const {
  const UCHAR* p = m_pBytes;
  for (LONG i = 0; i < m_points; ++i, p += 12)
    dst[i] = m * Vector(factor * GetFloatBE(p), factor * GetFloatBE(p + 4), factor * GetFloatBE(p + 8));
}

void FrameBlock::GetAll(Vector* dst, Real factor) const {
  const UCHAR* p = m_pBytes;
  for (LONG i = 0; i < m_points; ++i, p += 12)
    dst[i] = Vector(factor * GetFloatBE(p), factor * GetFloatBE(p + 4), factor * GetFloatBE(p + 8));
}

Bool FrameBlock::Read(gantryBinFile* file) {
  const VLONG bytes = VLONG(FrameBytes(m_points));
  return file && file->ReadBytes(m_pBytes, bytes) == bytes;
}

Bool FrameBlock::Write(gantryBinFile* file) const {
  return file && file->WriteBytes(m_pBytes, VLONG(FrameBytes(m_points)));
}

}  // namespace mdd

// Fuzz target of the MDD cache reader: the input is written to a file and read as the
// import and the shell read a cache: header checked against the file size before
// anything is allocated, time table, every whole frame block in order, then each one
// again by seeking (as a player does), backwards. The reader's buffer is small so that
// values and blocks straddle buffer loads. Every input must leave the host allocator as
// it found it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binfile.h"
#include "host_control.h"
#include "mddformat.h"

namespace {

const std::string& InputPath() {
  static const std::string path = "/dev/shm/kelvane_fuzz_mdd_" + std::to_string(::getpid()) + ".mdd";
  return path;
}

bool WriteInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

void ReadCache(gantryBinFile* file) {
  const Filename name(InputPath().c_str());
  mdd::Info info;
  String problem, warning;
  if (!mdd::ReadHeader(file, name, &info, &problem, &warning)) return;
  // Past the check the header's counts fit the file: these are bounded by its size.
  if (info.frames <= 0 || info.points <= 0 || info.wholeFrames <= 0 ||
      mdd::FrameOffset(info.frames, info.points, info.wholeFrames) > info.fileSize)
    std::abort();
  Real* times = bNew(Real, info.frames);
  mdd::FrameBlock* block = mdd::FrameBlock::Alloc(info.points);
  // Vectors have member initialisers: a plain block, as the host keeps point arrays.
  auto* points = static_cast<Vector*>(GeAlloc(VLONG(info.points) * VLONG(sizeof(Vector))));
  if (times && block && points && mdd::ReadTimes(file, info, times)) {
    for (LONG k = 0; k < info.wholeFrames; ++k) {
      if (!block->Read(file)) std::abort();  // a whole frame the check counted
      block->GetAll(points, Matrix(), 1000.0);
    }
    for (LONG k = info.wholeFrames - 1; k >= 0; --k)
      if (!mdd::SeekFrame(file, info, k) || !block->Read(file)) std::abort();
    if (mdd::SeekFrame(file, info, info.wholeFrames)) std::abort();
  }
  bDelete(times);
  GeFree(points);
  mdd::FrameBlock::Free(block);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  const LLONG liveBefore = host::GetMemoryStats().liveBlocks;
  gantryBinFile* file = gantryBinFile::Alloc();
  if (file) {
    // The first byte picks the buffer size, 1 .. 64; the whole input is the file.
    const LONG bufferSize = size ? 1 + data[0] % 64 : 16;
    if (file->Open(Filename(InputPath().c_str()), BINFILE_READ, bufferSize) == 0) ReadCache(file);
    gantryBinFile::Free(file);
  }
  std::remove(InputPath().c_str());
  if (host::GetMemoryStats().liveBlocks != liveBefore) {
    for (const std::string& line : host::LeakReport()) std::fprintf(stderr, "live: %s\n", line.c_str());
    std::abort();
  }
  host::ClearConsole();
  return 0;
}

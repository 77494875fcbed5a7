// Fuzzes the OBJ reader: both passes over one file and the model they fill.
//
// Input: four option bytes, then the file's bytes. Shorter inputs are taken as a file
// with no options. The option word is the four bytes in little-endian order:
//   bits 0..9    one switch each, in the order of kSwitches below
//   bits 16..28  the text reader's block size: 1..4096 as given, anything else the
//                default block size
// Every input must leave the host allocator as it found it: a block still live after
// ObjImporter::Free is reported and aborts the run, so the fuzzer keeps the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "c4d.h"
#include "fileio.h"
#include "host_control.h"
#include "objread.h"
#include "optrecord.h"

namespace {

struct Switch {
  bool layout;  // a layoutFlags bit, else a geomFlags bit
  ULONG bit;
};

constexpr Switch kSwitches[] = {
    {false, GEOM_SWAP_YZ},        {false, GEOM_NEGATE_Z},      {false, GEOM_NEGATE_X},
    {false, GEOM_FLIP_U},         {false, GEOM_FLIP_V},        {false, GEOM_REVERSE_ORDER},
    {false, GEOM_WHOLE_GROUP_NAMES}, {false, GEOM_REVERSE_NORMALS}, {true, IMP_LINE_ELEMENTS},
    {true, IMP_LINES_AS_FACES},
};
constexpr uint32_t kMaxBlockSize = 4096;

std::string g_inputPath;

void RemoveInputFile() {
  if (!g_inputPath.empty()) ::unlink(g_inputPath.c_str());
}

// One file per process, so parallel fuzzing jobs do not share it; in memory when
// /dev/shm can be written.
std::string InputPath() {
  std::string folder = "/dev/shm";
  if (::access(folder.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    folder = tmp && *tmp ? tmp : "/tmp";
  }
  return folder + "/kelvane_fuzz_obj_" + std::to_string(::getpid()) + ".obj";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Headless: nothing on the terminal, and message boxes take their default answer.
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  g_inputPath = InputPath();
  std::atexit(RemoveInputFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t word = 0;
  if (size >= 4) {
    word = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    data += 4;
    size -= 4;
  }

  PluginOpts opts;
  opts.SetFromTable(kImportPresetTable[0]);
  for (size_t i = 0; i < sizeof(kSwitches) / sizeof(kSwitches[0]); ++i) {
    ULONG& flags = kSwitches[i].layout ? opts.layoutFlags : opts.geomFlags;
    if (word >> i & 1)
      flags |= kSwitches[i].bit;
    else
      flags &= ~kSwitches[i].bit;
  }
  const uint32_t block = word >> 16 & 0x1FFF;
  const LONG blockSize = block >= 1 && block <= kMaxBlockSize ? static_cast<LONG>(block) : TEXTFILE_BLOCKSIZE;

  std::FILE* file = std::fopen(g_inputPath.c_str(), "wb");
  if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
    std::fprintf(stderr, "fuzz_obj: cannot write the input file %s\n", g_inputPath.c_str());
    std::abort();
  }

  const LLONG liveBefore = host::GetMemoryStats().liveBlocks;
  ObjImporter* importer = ReadObjModel(Filename(g_inputPath.c_str()), opts, opts.ScaleFactor(), blockSize);
  ObjImporter::Free(importer);
  const LLONG liveAfter = host::GetMemoryStats().liveBlocks;
  if (liveAfter != liveBefore) {
    std::fprintf(stderr, "fuzz_obj: %lld host blocks leaked:\n", static_cast<long long>(liveAfter - liveBefore));
    for (const auto& line : host::LeakReport()) std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
  }
  // The console and the box log would grow without end over millions of runs.
  host::ClearConsole();
  host::ClearUserLog();
  return 0;
}

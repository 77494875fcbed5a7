// Fuzzes the OBJ reader: both passes over one file and the model they fill.
//
// Input: an option word (fuzz_options.h), then the file's bytes. Every input must leave
// the host allocator as it found it: a block still live after ObjImporter::Free is
// reported and aborts the run, so the fuzzer keeps the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "c4d.h"
#include "fuzz_options.h"
#include "host_control.h"
#include "objread.h"
#include "optrecord.h"

namespace {

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
  PluginOpts opts;
  opts.SetFromTable(kImportPresetTable[0]);
  const fuzzopts::Decoded options = fuzzopts::ApplyOptionWord(data, size, opts);
  data += options.consumed;
  size -= options.consumed;

  std::FILE* file = std::fopen(g_inputPath.c_str(), "wb");
  if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
    std::fprintf(stderr, "fuzz_obj: cannot write the input file %s\n", g_inputPath.c_str());
    std::abort();
  }

  const LLONG liveBefore = host::GetMemoryStats().liveBlocks;
  ObjImporter* importer = ReadObjModel(Filename(g_inputPath.c_str()), opts, opts.ScaleFactor(), options.blockSize);
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

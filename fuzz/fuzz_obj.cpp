// Fuzzes the OBJ import: both passes of the reader over one file, its material library,
// the model they fill, and the scene the builder makes of it in a document.
//
// Input: an option word, the OBJ file and optionally its material library
// (fuzz_options.h). Every input must leave the host allocator as it found it: a block
// still live after ObjImporter::Free is reported and aborts the run, so the fuzzer
// keeps the input.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "c4d.h"
#include "c4d_basedocument.h"
#include "fuzz_options.h"
#include "host_control.h"
#include "objread.h"
#include "optrecord.h"

namespace {

std::string g_folder;  // of this process alone: the reader finds no other file there
std::string g_objPath;
std::string g_mtlPath;

void RemoveFiles() {
  ::unlink(g_objPath.c_str());
  ::unlink(g_mtlPath.c_str());
  ::rmdir(g_folder.c_str());
}

// In memory when /dev/shm can be written.
std::string MakeFolder() {
  std::string parent = "/dev/shm";
  if (::access(parent.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    parent = tmp && *tmp ? tmp : "/tmp";
  }
  const std::string folder = parent + "/kelvane_fuzz_obj_" + std::to_string(::getpid());
  if (::mkdir(folder.c_str(), 0700) != 0 && ::access(folder.c_str(), W_OK) != 0) {
    std::fprintf(stderr, "fuzz_obj: cannot create the folder %s\n", folder.c_str());
    std::abort();
  }
  return folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const bool written = file && (size == 0 || std::fwrite(data, 1, size, file) == size);
  if (!file || std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "fuzz_obj: cannot write %s\n", path.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Headless: nothing on the terminal, and message boxes take their default answer.
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  g_folder = MakeFolder();
  g_objPath = g_folder + "/input.obj";
  g_mtlPath = g_folder + "/" + fuzzopts::kMtlFileName;
  std::atexit(RemoveFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PluginOpts opts;
  opts.SetFromTable(kImportPresetTable[0]);
  const fuzzopts::Decoded options = fuzzopts::ApplyOptionWord(data, size, opts);
  AdjustConfirmedImportOpts(opts);
  const fuzzopts::Files files = fuzzopts::SplitFiles(data + options.consumed, size - options.consumed);
  WriteFile(g_objPath, files.obj, files.objSize);
  if (files.mtl)
    WriteFile(g_mtlPath, files.mtl, files.mtlSize);
  else
    ::unlink(g_mtlPath.c_str());

  const LLONG liveBefore = host::GetMemoryStats().liveBlocks;
  ObjImporter* importer = ReadObjModel(Filename(g_objPath.c_str()), opts, opts.ScaleFactor(), options.blockSize);
  if (importer) {
    BaseDocument* doc = BaseDocument::Alloc();
    if (doc) importer->BuildScene(doc, nullptr, Filename(g_objPath.c_str()));
    BaseDocument::Free(doc);
  }
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

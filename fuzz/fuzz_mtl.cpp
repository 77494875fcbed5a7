// Fuzz target of the MTL reader: the input is written to a file and read as a lone MTL
// file is (names first, then the whole grammar), then merged.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "host_control.h"
#include "iomtl.h"

namespace {

const std::string& InputPath() {
  static const std::string path = "/dev/shm/kelvane_fuzz_mtl_" + std::to_string(::getpid()) + ".mtl";
  return path;
}

void RemoveInput() { std::remove(InputPath().c_str()); }

bool WriteInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
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
  ioMaterialList* list = ioMaterialList::Alloc();
  if (!list) return 0;
  {
    // Small blocks put lines and joins across block ends.
    TextReader reader(61);
    const LONG opened = reader.Open(Filename(InputPath().c_str()));
    // The open file outlives its name: nothing is left behind when the run ends.
    RemoveInput();
    if (opened == 0) {
      if (list->AddMTLNames(reader) >= 0) {
        reader.Rewind();
        list->LoadMTLs(reader);
        list->Consolidate(1, 1, 1);
      }
      reader.Close();
    }
  }
  ioMaterialList::Free(list);
  // The host keeps every console line and box; a long run must not grow them.
  host::ClearConsole();
  host::ClearUserLog();
  return 0;
}

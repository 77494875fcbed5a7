// Fuzz target of the scene file loader, past its checksum: the input is the payload of a
// scene file (what follows the 24-byte header, whose length and checksum only guard
// against damage), decoded as LoadScene decodes it, with every check of a load. A scene
// that loads is written again, and loading what was written must succeed: the saver
// never writes what the loader refuses. Every input must leave the host allocator as it
// found it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "c4d.h"
#include "host_control.h"
#include "scene_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const LLONG before = host::GetMemoryStats().liveBlocks;
  {
    const std::string payload(reinterpret_cast<const char*>(data), size);
    std::string error;
    BaseDocument* doc = host::internal::DecodeScene(payload, host::internal::kSceneVersion, &error);
    if (doc) {
      const std::string again = host::internal::EncodeScene(doc);
      BaseDocument* reloaded = host::internal::DecodeScene(again, host::internal::kSceneVersion, &error);
      if (!reloaded) std::abort();  // written, but not loadable
      BaseDocument::Free(reloaded);
      BaseDocument::Free(doc);
    }
  }
  host::FreeDocuments();
  if (host::GetMemoryStats().liveBlocks != before) std::abort();  // a load that fails frees what it built
  return 0;
}

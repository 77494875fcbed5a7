// The plug-in module's entry point: the host calls c4d_main with its life-cycle
// actions; this dispatcher forwards them to PluginMessage, PluginStart and PluginEnd.
// Compiled into the plug-in module, not into the host library.
#include "c4d.h"

Bool PluginStart();
void PluginEnd();
Bool PluginMessage(LONG id, void* data);

#ifdef _WIN32
#define KELVANE_ENTRY_EXPORT __declspec(dllexport)
#else
#define KELVANE_ENTRY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KELVANE_ENTRY_EXPORT LONG c4d_main(LONG action, void* p1, void* p2, void*) {
  // No exception may cross into the host.
  try {
    switch (action) {
      case C4DPL_INIT_SYS:
        // p1 carries the host's interface version; a module built for another refuses.
        return static_cast<LONG>(reinterpret_cast<VLONG>(p1)) == GeHostApiVersion() ? 1 : 0;
      case C4DPL_MESSAGE:
        return PluginMessage(static_cast<LONG>(reinterpret_cast<VLONG>(p1)), p2) ? 1 : 0;
      case C4DPL_INIT:
        return PluginStart() ? 1 : 0;
      case C4DPL_END:
        PluginEnd();
        resource.Free();
        return 1;
      default:
        return 0;
    }
  } catch (...) {
    return 0;
  }
}

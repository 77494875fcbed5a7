// A fresh host: every part drops what earlier work left behind.
#include "host_control.h"
#include "host_internal.h"

namespace host {

void ResetHost() {
  // Faults first, so nothing below meets an armed failure; then the registry, whose
  // plug-in objects may still print or touch settings as they are freed.
  internal::ResetFaultState();
  internal::ResetRegistry();
  internal::ResetStatus();
  internal::ResetConsole();
  internal::ResetUser();
  internal::ResetBitmaps();
  internal::ResetSettings();
}

}  // namespace host

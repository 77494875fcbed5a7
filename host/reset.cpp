// A fresh host: every part drops what earlier work left behind.
#include "host_control.h"
#include "host_internal.h"

namespace host {

void ResetHost() {
  // Faults first, so nothing below meets an armed failure; then the registry, whose
  // plug-in objects may still print or touch settings as they are freed.
  internal::ResetFaultState();
  // Documents before the registry: their plug-in nodes run plug-in code as they go.
  internal::ResetDocuments();
  internal::ResetRegistry();
  internal::ResetStatus();
  internal::ResetConsole();
  internal::ResetUser();
  internal::ResetBitmaps();
  internal::ResetSettings();
  KeepSettingsInMemory(false);
  internal::ResetEvaluation();
  ClearBrowsedPaths();
  HideFromBrowsing("");
}

}  // namespace host

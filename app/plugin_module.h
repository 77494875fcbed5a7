// Loading the plug-in module and driving it through the host's life cycle.
#pragma once

#include <string>

#include "c4d_plugin.h"

class PluginModule {
 public:
  ~PluginModule() { Unload(); }

  // Loads the plug-in module of folder (kelvane_plugin.so, on Windows kelvane_plugin.dll)
  // and finds its entry point.
  bool Load(const std::string& folder, std::string* error);
  // System initialisation (interface version, resource), the load-priority query and
  // plug-in start, as the host does at start-up.
  bool Start(std::string* error);
  // Sends a plug-in message (C4DPL_MESSAGE with id and data), as the host does; the
  // plug-in's answer, false when it does not handle the message or is not started.
  bool Message(LONG id, void* data);
  // Plug-in end, release of the registered plug-in objects, unload.
  void Unload();

 private:
  void* m_handle = nullptr;
  C4dMainFunction* m_main = nullptr;
  bool m_started = false;
};

// The folder of the running executable.
std::string ExecutableFolder();

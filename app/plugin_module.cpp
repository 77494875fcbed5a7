#include "plugin_module.h"

#include <filesystem>

#include "host_control.h"
#include "platform.h"

std::string ExecutableFolder() {
  const std::string path = host::platform::ExecutablePath();
  if (path.empty()) return ".";
  return path.substr(0, path.find_last_of(host::platform::kPathSeparators));
}

bool PluginModule::Load(const std::string& folder, std::string* error) {
  const std::filesystem::path file =
      std::filesystem::absolute(std::filesystem::u8path(folder) / host::platform::ModuleFileName());
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    *error = "no plug-in module '" + file.u8string() + "' (set --plugin-dir or KELVANE_PLUGIN_DIR)";
    return false;
  }
  std::string why;
  m_handle = host::platform::LoadModule(file.u8string(), &why);
  if (!m_handle) {
    *error = "cannot load the plug-in module: " + why;
    return false;
  }
  m_main = reinterpret_cast<C4dMainFunction*>(host::platform::ModuleSymbol(m_handle, "c4d_main"));
  if (!m_main) {
    *error = "the plug-in module '" + file.u8string() + "' has no entry point c4d_main";
    Unload();
    return false;
  }
  host::SetPluginFolder(file.parent_path().u8string());
  return true;
}

bool PluginModule::Start(std::string* error) {
  if (!m_main(C4DPL_INIT_SYS, reinterpret_cast<void*>(static_cast<VLONG>(GeHostApiVersion())), nullptr, nullptr)) {
    *error = "the plug-in module was built for another host interface version";
    return false;
  }
  if (!m_main(C4DPL_MESSAGE, reinterpret_cast<void*>(static_cast<VLONG>(C4DPL_INIT_SYS)), nullptr, nullptr)) {
    const std::string why = host::ResourceError();
    *error = "cannot load the plug-in's resources: " + (why.empty() ? std::string("unknown reason") : why);
    return false;
  }
  LONG priority = 0;
  m_main(C4DPL_MESSAGE, reinterpret_cast<void*>(static_cast<VLONG>(C4DMSG_PRIORITY)), &priority, nullptr);
  m_started = true;
  if (!m_main(C4DPL_INIT, nullptr, nullptr, nullptr)) {
    *error = "the plug-in failed to register its commands";
    return false;
  }
  return true;
}

bool PluginModule::Message(LONG id, void* data) {
  if (!m_main || !m_started) return false;
  return m_main(C4DPL_MESSAGE, reinterpret_cast<void*>(static_cast<VLONG>(id)), data, nullptr) != 0;
}

void PluginModule::Unload() {
  if (m_main && m_started) m_main(C4DPL_END, nullptr, nullptr, nullptr);
  m_started = false;
  // Plug-in objects and plug-in nodes in documents run code of the module: they go
  // before the module does.
  host::FreeDocuments();
  host::FreeRegistry();
  host::platform::UnloadModule(m_handle);
  m_handle = nullptr;
  m_main = nullptr;
}

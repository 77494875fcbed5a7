#include "plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "host_control.h"

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = 0;
  return std::filesystem::path(path).parent_path().string();
}

bool PluginModule::Load(const std::string& folder, std::string* error) {
  const std::filesystem::path file = std::filesystem::absolute(std::filesystem::path(folder) / kModuleFile);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    *error = "no plug-in module '" + file.string() + "' (set --plugin-dir or KELVANE_PLUGIN_DIR)";
    return false;
  }
  m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    *error = std::string("cannot load the plug-in module: ") + dlerror();
    return false;
  }
  m_main = reinterpret_cast<C4dMainFunction*>(dlsym(m_handle, "c4d_main"));
  if (!m_main) {
    *error = "the plug-in module '" + file.string() + "' has no entry point c4d_main";
    Unload();
    return false;
  }
  host::SetPluginFolder(file.parent_path().string());
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
  if (m_handle) dlclose(m_handle);
  m_handle = nullptr;
  m_main = nullptr;
}

#include "shell_commands.h"

#include <cstdio>
#include <filesystem>

#include "c4d.h"
#include "host_control.h"
#include "platform.h"

namespace fs = std::filesystem;

int ShellFail(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  return kExitFailure;
}

int ShellUsage(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  return kExitUsage;
}

std::string OutputFolderProblem(const std::string& output) {
  std::error_code ec;
  fs::path folder = fs::path(output).parent_path();
  if (folder.empty()) folder = ".";
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) return "no such folder '" + folder.string() + "'";
  if (!fs::is_directory(status)) return "'" + folder.string() + "' is not a folder";
  if (!host::platform::FolderWritable(folder.string())) return "the folder '" + folder.string() + "' is not writable";
  if (fs::is_directory(fs::path(output), ec)) return "it is a folder";
  return std::string();
}


std::string ShownPath(const std::string& path) {
  std::error_code ec;
  const fs::path relative = fs::path(path).lexically_relative(fs::current_path(ec));
  if (ec || relative.empty() || *relative.begin() == "..") return path;
  return relative.string();
}


CommandData* RegisteredCommand(LONG id) {
  for (const BasePlugin* plugin : host::RegisteredPlugins())
    if (plugin->GetID() == id && plugin->GetPluginType() == PLUGINTYPE_COMMAND) return plugin->GetCommand();
  return nullptr;
}

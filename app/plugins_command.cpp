#include <cstdio>
#include <string>

#include "host_control.h"
#include "shell_commands.h"

namespace {

const char* KindName(const BasePlugin& plugin) {
  switch (plugin.GetPluginType()) {
    case PLUGINTYPE_COMMAND: return "command";
    case PLUGINTYPE_TAG: return "tag";
    case PLUGINTYPE_OBJECT: return (plugin.GetInfo() & OBJECT_MODIFIER) ? "deformer" : "object";
    default: return "other";
  }
}

}  // namespace

int RunPluginsCommand(const ShellOptions&) {
  const auto plugins = host::RegisteredPlugins();
  std::printf("%-9s %-8s %-28s %s\n", "kind", "ID", "name", "icon");
  for (const BasePlugin* plugin : plugins) {
    const std::string icon = plugin->GetIconFile().Content() ? plugin->GetIconFile().Std() : "-";
    std::printf("%-9s %-8d %-28s %s\n", KindName(*plugin), plugin->GetID(), plugin->GetName().Std().c_str(),
                icon.c_str());
  }
  std::printf("%zu plug-ins registered.\n", plugins.size());
  return plugins.empty() ? 1 : 0;
}

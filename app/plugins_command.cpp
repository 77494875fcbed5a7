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

// A menu separator is registered as a command named "#$<n>--"; it is no plug-in.
bool Separator(const BasePlugin& plugin) {
  const std::string name = plugin.GetName().Std();
  return name.rfind("#$", 0) == 0 && name.size() >= 4 && name.compare(name.size() - 2, 2, "--") == 0;
}

}  // namespace

int RunPluginsCommand(const ShellOptions&) {
  const auto plugins = host::RegisteredPlugins();
  // The banner's host line is the plug-in's own fixed text; say what it runs on.
  std::printf("Host: the kelvane embedded host %s, not the application release the banner names.\n", KELVANE_VERSION);
  std::printf("%-9s %-8s %-28s %s\n", "kind", "ID", "name", "icon");
  size_t listed = 0;
  for (const BasePlugin* plugin : plugins) {
    if (Separator(*plugin)) continue;
    ++listed;
    const std::string icon = plugin->GetIconFile().Content() ? plugin->GetIconFile().Std() : "-";
    std::printf("%-9s %-8d %-28s %s\n", KindName(*plugin), plugin->GetID(), plugin->GetName().Std().c_str(),
                icon.c_str());
  }
  std::printf("%zu plug-ins registered.\n", listed);
  return listed == 0 ? 1 : 0;
}

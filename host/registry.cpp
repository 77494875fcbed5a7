// The plug-in registry: every command, tag and object plug-in under its ID, in
// registration order, and the default behaviour of the plug-in base classes.
#include <memory>
#include <vector>

#include "c4d_memory.h"
#include "c4d_plugin.h"
#include "host_control.h"
#include "host_internal.h"

Bool CommandData::Execute(BaseDocument*) { return FALSE; }
LONG CommandData::GetState(BaseDocument*) { return CMD_ENABLED; }
Bool CommandData::RestoreLayout(void*) { return FALSE; }

Bool NodeData::Init(GeListNode*) { return TRUE; }
void NodeData::Free(GeListNode*) {}
Bool NodeData::Message(GeListNode*, LONG, void*) { return TRUE; }
Bool NodeData::GetDParameter(GeListNode*, const DescID&, GeData&, DESCFLAGS_GET&) { return TRUE; }
Bool NodeData::SetDParameter(GeListNode*, const DescID&, const GeData&, DESCFLAGS_SET&) { return TRUE; }
Bool NodeData::CopyTo(NodeData*, GeListNode*, GeListNode*, LONG, AliasTrans*) { return TRUE; }

struct PluginRegistryAccess {
  static std::unique_ptr<BasePlugin> Make(LONG id, LONG type, const String& name, LONG info, BaseBitmap* icon) {
    auto plugin = std::make_unique<BasePlugin>();
    plugin->m_id = id;
    plugin->m_type = type;
    plugin->m_name = name;
    plugin->m_info = info;
    // Only the image's file part is kept: the host finds icons in the plug-in's res/.
    plugin->m_iconFile = icon ? icon->GetSource().GetFileString() : String();
    return plugin;
  }
  static void SetCommand(BasePlugin* p, const String& help, CommandData* data) {
    p->m_help = help;
    p->m_command = data;
  }
  static void SetNode(BasePlugin* p, DataAllocator* allocator, const String& description, LONG disklevel) {
    p->m_allocator = allocator;
    p->m_description = description;
    p->m_diskLevel = disklevel;
  }
  static CommandData*& Command(BasePlugin* p) { return p->m_command; }
};

namespace {

std::vector<std::unique_ptr<BasePlugin>>& Plugins() {
  static std::vector<std::unique_ptr<BasePlugin>> plugins;
  return plugins;
}

bool Usable(LONG id, const String& name) { return id > 0 && name.Content() && !FindPlugin(id, PLUGINTYPE_ANY); }

Bool RegisterNode(LONG id, LONG type, const String& name, LONG info, DataAllocator* allocator,
                  const String& description, BaseBitmap* icon, LONG disklevel) {
  if (!allocator || !Usable(id, name)) return FALSE;
  auto plugin = PluginRegistryAccess::Make(id, type, name, info, icon);
  PluginRegistryAccess::SetNode(plugin.get(), allocator, description, disklevel);
  Plugins().push_back(std::move(plugin));
  return TRUE;
}

}  // namespace

Bool RegisterCommandPlugin(LONG id, const String& name, LONG info, BaseBitmap* icon, const String& help,
                           CommandData* data) {
  if (!data) return FALSE;
  if (!Usable(id, name)) {
    // The host owns the object from this call on, also when it refuses it.
    gDelete(data);
    return FALSE;
  }
  auto plugin = PluginRegistryAccess::Make(id, PLUGINTYPE_COMMAND, name, info, icon);
  PluginRegistryAccess::SetCommand(plugin.get(), help, data);
  Plugins().push_back(std::move(plugin));
  return TRUE;
}

Bool RegisterTagPlugin(LONG id, const String& name, LONG info, DataAllocator* allocator, const String& description,
                       BaseBitmap* icon, LONG disklevel) {
  return RegisterNode(id, PLUGINTYPE_TAG, name, info, allocator, description, icon, disklevel);
}

Bool RegisterObjectPlugin(LONG id, const String& name, LONG info, DataAllocator* allocator,
                          const String& description, BaseBitmap* icon, LONG disklevel) {
  return RegisterNode(id, PLUGINTYPE_OBJECT, name, info, allocator, description, icon, disklevel);
}

BasePlugin* FindPlugin(LONG id, LONG type) {
  for (const auto& plugin : Plugins())
    if (plugin->GetID() == id && (type == PLUGINTYPE_ANY || plugin->GetPluginType() == type)) return plugin.get();
  return nullptr;
}

namespace host {

std::vector<const BasePlugin*> RegisteredPlugins() {
  std::vector<const BasePlugin*> list;
  for (const auto& plugin : Plugins()) list.push_back(plugin.get());
  return list;
}

void FreeRegistry() {
  auto& plugins = Plugins();
  // Later registrations may rely on earlier ones: they go first.
  while (!plugins.empty()) {
    gDelete(PluginRegistryAccess::Command(plugins.back().get()));
    plugins.pop_back();
  }
}

}  // namespace host

namespace host::internal {

void ResetRegistry() { host::FreeRegistry(); }

}  // namespace host::internal

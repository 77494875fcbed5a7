// The help commands: the user guide that ships in the plug-in folder, and the project's
// home page, both opened in the system's web browser. Neither reports anything: the
// browser is the host's business.
#include "c4d_symbols.h"
#include "main.h"
#include "plugin_ids.h"
#include "registration.h"

namespace {

// Always enabled in the menu.
constexpr LONG kCommandEnabled = 0x40000000;

class DocsPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument*) override {
    const Filename guide = GeGetPluginPath() + Filename(GeLoadString(IDS_DOCS_PATH));
    GeOpenHTML(guide.GetString());
    return TRUE;
  }
  LONG GetState(BaseDocument*) override { return kCommandEnabled; }
};

class URLPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument*) override {
    GeOpenHTML(GeLoadString(IDS_HOME_ADDRESS));
    return TRUE;
  }
  LONG GetState(BaseDocument*) override { return kCommandEnabled; }
};

CommandData* AllocDocsPlugin() { return gNew DocsPlugin; }
CommandData* AllocURLPlugin() { return gNew URLPlugin; }

}  // namespace

Bool RegisterURLPlugin() {
  return RegisterCommandFromResource(ID_URL_PLUGIN, IDS_URL_NAME, IDS_URL_HELP, "url.tif", AllocURLPlugin);
}

Bool RegisterDocsPlugin() {
  return RegisterCommandFromResource(ID_DOCS_PLUGIN, IDS_DOCS_NAME, IDS_DOCS_HELP, "kvpdocs.tif", AllocDocsPlugin);
}

// The OBJ options dialogs played through the plug-in's options message, as the shell's
// commands need them: the options and presets commands, and the commands that run an
// import or export and first look at the dialog they are about to confirm.
#pragma once

#include <string>
#include <vector>

#include "host_control.h"
#include "plugin_messages.h"
#include "shell_commands.h"

class PluginModule;

constexpr LONG kStoreButton = 10088;
constexpr LONG kDeleteButton = 10092;
constexpr LONG kPresetPopup = 10085;

// The dialog resource of a side: "import" or "export".
inline LONG DialogOf(const std::string& side) { return side == "export" ? kExportDialog : kImportDialog; }

// One play of an options dialog and what it left.
struct DialogRun {
  OptionsDialogRequest request{};
  host::DialogRecord record;  // the options dialog as it closed
  std::string error;          // why the run failed ("" when it did not)
  bool declined = false;      // export: the n-gon question was answered No

  const host::GadgetRecord* Preset() const { return record.Find(kPresetPopup); }
  const std::vector<std::string>& Entries() const;
  LONG ChosenIndex() const { return Preset() ? static_cast<LONG>(Preset()->number) : -1; }
  bool Enabled(LONG id) const {
    const host::GadgetRecord* g = record.Find(id);
    return g && g->enabled;
  }
};

// Opens the side's options dialog through the plug-in and plays actions, then Cancel
// (the strict dialog cancels by itself at the first refusal). texts answer the
// text-entry dialogs the buttons open. False with run->error when the dialog did not
// open, refused an action, or the user's answer cancelled the run. The settings are
// used as the host is set (KeepSettingsInMemory).
bool PlayDialog(PluginModule& module, const std::string& side, BaseDocument* doc,
                const std::vector<host::DialogAction>& actions, const std::vector<std::string>& texts, DialogRun* run);

// A look at the side's options dialog: actions played, then Cancel, with every change
// of the settings kept in memory and forgotten afterwards (the next use reads the
// settings file again). stayInMemory: whether the settings stay in memory afterwards
// (the options commands) or are saved again as usual (an import). A settings file that
// is to be saved should be read before (host::LoadSettings), so that a damaged one is
// set aside, and reported, once.
bool PeekDialog(PluginModule& module, const std::string& side, const std::vector<host::DialogAction>& actions,
                bool stayInMemory, DialogRun* run);

// Every run here plays the plug-in's own option dialog through its options message:
// the preset store loads, the dialog opens and takes the scripted user's actions, then
// Cancel, and the store saves. Runs that only look keep the settings in memory; the one
// run of a presets command that changes something saves through the plug-in's store,
// which merges its change into the settings file under the settings lock, so that
// shells running at the same time keep each other's presets.
#include "options_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "dialog_text.h"
#include "options_dialog.h"
#include "host_control.h"
#include "platform.h"
#include "option_flags.h"
#include "plugin_messages.h"
#include "plugin_module.h"
#include "shell_commands.h"

namespace {

using host::DialogAction;

// Forgets what a run changed in the settings: the next run reads the file again.
void ForgetRun() { host::UnloadSettings(); }

// The run that changes the presets saves them as it goes.
bool PlaySaving(PluginModule& module, const std::string& side, const std::vector<DialogAction>& actions,
                const std::vector<std::string>& texts, DialogRun* run) {
  host::KeepSettingsInMemory(false);
  const bool played = PlayDialog(module, side, nullptr, actions, texts, run);
  host::KeepSettingsInMemory(true);
  return played;
}

// Reports how the changing run's saves went.
int Commit(const std::string& done) {
  const std::string error = host::SettingsSaveError();
  if (!error.empty()) return ShellFail(error);
  std::printf("%s\n", done.c_str());
  return 0;
}

// The dialog as it opens, for the entries of its popups.
bool Filled(PluginModule& module, const std::string& side, host::DialogRecord* record, std::string* error) {
  DialogRun run;
  if (!PeekDialog(module, side, {}, true, &run)) {
    *error = run.error;
    return false;
  }
  *record = run.record;
  return true;
}

int PrintKeys(const std::string& side, PluginModule& module) {
  std::vector<OptionKey> keys;
  std::string error;
  host::DialogRecord filled;
  if (!DescribeOptionKeys(DialogOf(side), &keys, &error) || !Filled(module, side, &filled, &error))
    return ShellFail(error);
  AddPopupChoices(filled, &keys);
  std::printf("Keys of the %s options (--set KEY=VALUE):\n", side.c_str());
  for (const OptionKey& k : keys) {
    std::printf("  %-26s %s\n", k.key.c_str(), k.values.c_str());
    std::printf("  %-26s   %s\n", "", k.label.c_str());
  }
  return 0;
}

int RunOptions(const OptionCommandLine& line, PluginModule& module) {
  if (!line.scene.empty() && line.side != "export") return ShellUsage("--scene belongs to 'options export'");
  if (line.keys) return PrintKeys(line.side, module);
  std::vector<DialogAction> actions;
  std::string error;
  // The flags are checked before the dialog opens, the popups' values once it showed
  // its entries.
  if (!OptionFlagActions(DialogOf(line.side), line.preset, line.sets, &actions, &error)) return ShellUsage(error);
  host::DialogRecord filled;
  if (!Filled(module, line.side, &filled, &error)) return ShellFail(error);
  if (!OptionFlagActions(DialogOf(line.side), line.preset, line.sets, &actions, &error, &filled))
    return ShellUsage(error);

  BaseDocument* doc = nullptr;
  if (!line.scene.empty()) {
    doc = host::LoadScene(line.scene, &error);
    if (!doc) return ShellFail("cannot load scene '" + line.scene + "': " + error);
  }
  DialogRun run;
  const bool played = PlayDialog(module, line.side, doc, actions, {}, &run);
  if (doc) BaseDocument::Free(doc);
  if (!played) return ShellFail(run.error);
  std::fputs(DialogText(run.record).c_str(), stdout);
  return 0;
}

// A run that chooses the preset of that name (the first one so named) and cancels.
bool Probe(PluginModule& module, const std::string& side, const std::string& name, DialogRun* run) {
  const bool ok = PlayDialog(module, side, nullptr, {DialogAction::ChooseLabel("preset", name)}, {}, run);
  ForgetRun();
  return ok;
}

int RunList(const std::string& side, PluginModule& module) {
  DialogRun first;
  if (!PlayDialog(module, side, nullptr, {DialogAction::ChooseIndex("preset", 0)}, {}, &first)) return ShellFail(first.error);
  ForgetRun();
  const std::vector<std::string> names = first.Entries();
  std::printf("%s presets (entry 0 holds the options of the last run):\n", side == "export" ? "Export" : "Import");
  for (size_t i = 0; i < names.size(); ++i) {
    // Protected presets are the ones whose store button is disabled once chosen.
    DialogRun run;
    if (i == 0) {
      run = first;
    } else if (!PlayDialog(module, side, nullptr, {DialogAction::ChooseIndex("preset", static_cast<LLONG>(i))}, {},
                           &run)) {
      return ShellFail(run.error);
    }
    ForgetRun();
    std::string row = (i < 10 ? "   " : "  ") + std::to_string(i) + "  " + names[i];
    if (!run.Enabled(kStoreButton)) row += (row.size() < 39 ? std::string(39 - row.size(), ' ') : " ") + "protected";
    std::printf("%s\n", row.c_str());
  }
  return 0;
}

int RunShow(const OptionCommandLine& line, PluginModule& module) {
  DialogRun run;
  if (!Probe(module, line.presetSide, line.name, &run)) return ShellFail(run.error);
  std::fputs(DialogText(run.record).c_str(), stdout);
  return 0;
}

// A name made only of blanks (or nothing) names no preset a user could choose again.
bool Blank(const std::string& name) { return name.find_first_not_of(" \t\r\n") == std::string::npos; }

int RunAdd(const OptionCommandLine& line, PluginModule& module) {
  if (Blank(line.name)) return ShellUsage("a preset name may not be empty or only blanks");
  std::vector<DialogAction> actions;
  std::string error;
  if (!OptionFlagActions(DialogOf(line.presetSide), line.from, line.presetSets, &actions, &error)) return ShellUsage(error);
  actions.push_back(DialogAction::Click("add-preset"));
  // Back to entry 0, so "Last Used" keeps what it held.
  actions.push_back(DialogAction::ChooseIndex("preset", 0));
  DialogRun run;
  if (!PlaySaving(module, line.presetSide, actions, {line.name}, &run)) return ShellFail(run.error);
  const auto& entries = run.Entries();
  if (entries.empty() || entries.back() != line.name)
    return ShellFail("the preset " + Quoted(line.name) + " was not added");
  return Commit("Added the " + line.presetSide + " preset " + Quoted(line.name) + " as entry " +
                std::to_string(entries.size() - 1) + ".");
}

int RunRename(const OptionCommandLine& line, PluginModule& module) {
  if (Blank(line.newName)) return ShellUsage("a preset name may not be empty or only blanks");
  DialogRun probe;
  if (!Probe(module, line.presetSide, line.name, &probe)) return ShellFail(probe.error);
  const LONG index = probe.ChosenIndex();
  if (index == 0)
    return ShellFail("the entry " + Quoted(probe.Entries().empty() ? line.name : probe.Entries()[0]) +
                " keeps its name: it holds the options of the last run");
  if (!probe.Enabled(kDeleteButton))
    return ShellFail("the preset " + Quoted(probe.Preset()->value) + " is protected and cannot be renamed");
  // Chosen by name again: the settings are read anew for the change, and another shell
  // may have added or deleted presets before it.
  DialogRun run;
  if (!PlaySaving(module, line.presetSide,
                  {DialogAction::ChooseLabel("preset", line.name), DialogAction::Click("rename-preset"),
                   DialogAction::ChooseIndex("preset", 0)},
                  {line.newName}, &run))
    return ShellFail(run.error);
  const auto& entries = run.Entries();
  const auto renamed = std::find(entries.begin() + 1, entries.end(), line.newName);
  if (entries.empty() || renamed == entries.end())
    return ShellFail("the preset " + Quoted(line.name) + " was not renamed");
  return Commit("Renamed the " + line.presetSide + " preset " + Quoted(line.name) + " (entry " +
                std::to_string(renamed - entries.begin()) + ") to " + Quoted(line.newName) + ".");
}

int RunDelete(const OptionCommandLine& line, PluginModule& module) {
  DialogRun probe;
  if (!Probe(module, line.presetSide, line.name, &probe)) return ShellFail(probe.error);
  const std::string& shown = probe.Preset()->value;
  if (!probe.Enabled(kDeleteButton))
    return ShellFail("the preset " + Quoted(shown) + " is protected and cannot be deleted");
  const LONG index = probe.ChosenIndex();
  // Chosen by name again (see RunRename); a protected or missing preset makes the strict
  // dialog refuse the action.
  DialogRun run;
  if (!PlaySaving(module, line.presetSide,
                  {DialogAction::ChooseLabel("preset", shown), DialogAction::Click("delete-preset")}, {}, &run))
    return ShellFail(run.error);
  return Commit("Deleted the " + line.presetSide + " preset " + Quoted(shown) + " (entry " + std::to_string(index) +
                ").");
}

// The presets as the settings file keeps them (docs/settings.md): one container per
// side, its count, version and presets, each preset with its name.
constexpr LONG kImportPresets = 1022494;
constexpr LONG kExportPresets = 1022493;
constexpr LONG kPresetCount = 1000;
constexpr LONG kFirstPreset = 2000;
constexpr LONG kPresetName = 1000;
constexpr LONG kLastFolder = 1003;

// The side's presets as the plug-in makes them for settings that hold none: the dialog
// looked at with a settings folder that does not exist, kept in memory.
bool BuiltInPresets(PluginModule& module, const std::string& side, BaseContainer* presets, std::string* error) {
  const std::string folder = host::SettingsFolder();
  std::string where;
  const std::string temp = host::platform::MakeTemporaryFolder("kelvane-presets-", &where);
  if (temp.empty()) {
    *error = "cannot make a temporary folder for the built-in presets in '" + where + "'";
    return false;
  }
  host::SetSettingsFolder(temp + "/none");
  host::KeepSettingsInMemory(true);
  DialogRun run;
  const bool played = PlayDialog(module, side, nullptr, {}, {}, &run);
  const BaseContainer* made = played ? GetWorldPluginData(side == "export" ? kExportPresets : kImportPresets) : nullptr;
  if (made) *presets = *made;
  host::SetSettingsFolder(folder);
  host::platform::RemoveFolder(temp);
  if (!made || presets->GetLong(kPresetCount) < 1) {
    *error = played ? "the plug-in made no built-in " + side + " presets" : run.error;
    return false;
  }
  return true;
}

int RunReset(const OptionCommandLine& line, PluginModule& module) {
  const std::string& side = line.presetSide;
  const LONG id = side == "export" ? kExportPresets : kImportPresets;
  BaseContainer builtIn;
  std::string error;
  if (!BuiltInPresets(module, side, &builtIn, &error)) return ShellFail(error);
  const LONG builtInCount = builtIn.GetLong(kPresetCount);
  std::set<std::string> builtInNames;
  for (LONG i = 1; i < builtInCount; ++i)
    builtInNames.insert(builtIn.GetContainer(kFirstPreset + i).GetString(kPresetName).Std());

  // The store loads the stored lists once as it would for a run, upgrading presets of
  // earlier releases, so that those kept below are in the current form.
  DialogRun run;
  if (!PlaySaving(module, side, {}, {}, &run)) return ShellFail(run.error);
  host::KeepSettingsInMemory(false);
  // One update under the settings lock: the lists as stored now, changed and written.
  BeginWorldPluginDataUpdate();
  BaseContainer presets = builtIn;
  LONG count = builtInCount, kept = 0, removed = 0;
  if (const BaseContainer* stored = GetWorldPluginData(id)) {
    // The last export folder (shared by both sides' file selectors) is no preset.
    if (side == "export") presets.SetString(kLastFolder, stored->GetString(kLastFolder));
    const LONG storedCount = stored->GetLong(kPresetCount);
    for (LONG i = 1; i < storedCount; ++i) {
      const GeData* entry = stored->GetDataPointer(kFirstPreset + i);
      if (!entry || !entry->GetContainer()) continue;
      if (builtInNames.count(entry->GetContainer()->GetString(kPresetName).Std())) continue;
      if (line.all) {
        ++removed;
        continue;
      }
      presets.SetContainer(kFirstPreset + count++, *entry->GetContainer());
      ++kept;
    }
  }
  presets.SetLong(kPresetCount, count);
  SetWorldPluginData(id, presets, FALSE);
  const bool saved = EndWorldPluginDataUpdate();
  host::KeepSettingsInMemory(true);
  if (!saved) return ShellFail(host::SettingsSaveError().empty() ? "the settings could not be saved" : host::SettingsSaveError());
  std::string done = "Reset the " + side + " presets: \"Last Used\" and the " + std::to_string(builtInCount - 1) +
                     " built-in presets are as shipped";
  if (kept) done += "; " + std::to_string(kept) + " preset" + (kept == 1 ? "" : "s") + " of your own kept";
  if (removed) done += "; " + std::to_string(removed) + " preset" + (removed == 1 ? "" : "s") + " of your own deleted";
  std::printf("%s.\n", done.c_str());
  return 0;
}

}  // namespace

bool OptionCommandLine::Chosen() const {
  for (const CLI::App* command : {options, list, show, add, rename, remove, reset})
    if (command && command->parsed()) return true;
  return false;
}

void AddOptionCommands(CLI::App& app, OptionCommandLine* line) {
  const auto sides = CLI::IsMember({"import", "export"});
  CLI::App* options = app.add_subcommand(
      "options", "Preview the OBJ import or export options dialog with --preset and --set applied (changes nothing)");
  line->options = options;
  options->add_option("SIDE", line->side, "import or export")->required()->check(sides);
  options->add_option("--preset", line->preset, "Choose this preset first (its name as listed)");
  options->add_option("--set", line->sets, "Set an option: KEY=VALUE (repeatable; see --keys)")
      ->allow_extra_args(false);
  options->add_option("--scene", line->scene, "export: the scene whose frame range and n-gons count");
  options->add_flag("--keys", line->keys, "List the keys --set takes, with their values");

  CLI::App* presets = app.add_subcommand("presets", "List, show, add, rename or delete OBJ option presets");
  presets->require_subcommand(1);
  auto side = [&](CLI::App* command) {
    command->add_option("--side", line->presetSide, "import (the default) or export")->check(sides);
    return command;
  };
  line->list = side(presets->add_subcommand("list", "List the presets; protected ones cannot be stored over or deleted"));
  line->show = side(presets->add_subcommand("show", "Show the options dialog with this preset chosen"));
  line->show->add_option("NAME", line->name, "The preset (the first one of that name)")->required();
  line->add = side(presets->add_subcommand("add", "Add a preset from the current options, or another preset"));
  line->add->add_option("NAME", line->name, "The new preset's name")->required();
  line->add->add_option("--from", line->from, "Start from this preset (default: \"Last Used\")");
  line->add->add_option("--set", line->presetSets, "Set an option before adding: KEY=VALUE (repeatable)")
      ->allow_extra_args(false);
  line->rename = side(presets->add_subcommand("rename", "Rename a preset"));
  line->rename->add_option("OLD", line->name, "The preset (the first one of that name)")->required();
  line->rename->add_option("NEW", line->newName, "Its new name")->required();
  line->remove = side(presets->add_subcommand("delete", "Delete a preset that is not protected"));
  line->remove->add_option("NAME", line->name, "The preset (the first one of that name)")->required();
  line->reset = side(presets->add_subcommand(
      "reset", "Restore \"Last Used\" and the built-in presets as shipped (your own presets stay unless --all)"));
  line->reset->add_flag("--all", line->all, "Delete your own presets too");
}

int RunOptionCommands(const OptionCommandLine& line, const ShellOptions& options, PluginModule& module) {
  (void)options;
  // The settings change only where a presets command says so (Commit).
  host::KeepSettingsInMemory(true);
  host::SetStrictDialogs(true);
  host::EchoMessageBoxes(false);  // the runs' boxes and refusals are printed here, once
  if (line.options->parsed()) return RunOptions(line, module);
  if (line.list->parsed()) return RunList(line.presetSide, module);
  if (line.show->parsed()) return RunShow(line, module);
  if (line.add->parsed()) return RunAdd(line, module);
  if (line.rename->parsed()) return RunRename(line, module);
  if (line.remove->parsed()) return RunDelete(line, module);
  if (line.reset->parsed()) return RunReset(line, module);
  return kExitUsage;
}

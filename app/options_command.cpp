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

#include "dialog_text.h"
#include "host_control.h"
#include "option_flags.h"
#include "plugin_messages.h"
#include "plugin_module.h"
#include "shell_commands.h"

namespace {

using host::DialogAction;

constexpr LONG kStoreButton = 10088;
constexpr LONG kDeleteButton = 10092;
constexpr LONG kPresetPopup = 10085;

LONG DialogOf(const std::string& side) { return side == "export" ? kExportDialog : kImportDialog; }

// One play of an options dialog and what it left.
struct DialogRun {
  OptionsDialogRequest request{};
  host::DialogRecord record;  // the options dialog as it closed
  std::string error;          // why the run failed ("" when it did not)
  bool declined = false;      // export: the n-gon question was answered No

  const host::GadgetRecord* Preset() const { return record.Find(kPresetPopup); }
  const std::vector<std::string>& Entries() const {
    static const std::vector<std::string> none;
    return Preset() ? Preset()->entries : none;
  }
  LONG ChosenIndex() const { return Preset() ? static_cast<LONG>(Preset()->number) : -1; }
  bool Enabled(LONG id) const {
    const host::GadgetRecord* g = record.Find(id);
    return g && g->enabled;
  }
};

// Opens the side's options dialog through the plug-in and plays actions, then Cancel
// (the strict dialog cancels by itself at the first refusal). texts answer the
// text-entry dialogs the buttons open. False with run->error when the dialog did not
// open, refused an action, or the user's answer cancelled the run.
bool PlayDialog(PluginModule& module, const std::string& side, BaseDocument* doc,
                const std::vector<DialogAction>& actions, const std::vector<std::string>& texts, DialogRun* run) {
  const LONG id = DialogOf(side);
  host::ClearUserLog();
  for (const DialogAction& a : actions) host::QueueDialogAction(a.For(std::to_string(id)));
  host::QueueDialogAction(DialogAction::Cancel().For(std::to_string(id)));
  for (const std::string& text : texts) host::QueueRenameText(text);

  run->request = OptionsDialogRequest{side == "export" ? 1 : 0, doc, FALSE, FALSE, FALSE};
  const bool answered = module.Message(KELVANE_MSG_OPTIONS_DIALOG, &run->request);

  for (const std::string& box : host::MessageBoxes()) std::fprintf(stderr, "[message] %s\n", box.c_str());
  const auto& log = host::DialogLog();
  for (auto it = log.rbegin(); it != log.rend(); ++it)
    if (it->resourceId == id) {
      run->record = *it;
      break;
    }
  if (run->request.cancelledByValidation) {
    run->declined = true;
    run->error = "the export was cancelled: the n-gon question was answered No";
    return false;
  }
  std::string errors;
  for (const std::string& e : host::DialogErrors()) errors += (errors.empty() ? "" : "\n") + e;
  if (!run->request.opened) {
    if (!errors.empty())
      run->error = errors;
    else if (!answered)
      run->error = "the plug-in did not answer the options message (" + std::to_string(KELVANE_MSG_OPTIONS_DIALOG) +
                   "): this build has no option dialogs";
    else
      run->error = "the " + side + " options dialog did not open";
    return false;
  }
  if (!errors.empty()) {
    run->error = errors;
    return false;
  }
  if (!run->Preset()) {
    run->error = "the " + side + " options dialog closed without leaving its record";
    return false;
  }
  return true;
}

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

void PrintKeys(const std::string& side) {
  std::vector<OptionKey> keys;
  std::string error;
  if (!DescribeOptionKeys(DialogOf(side), &keys, &error)) {
    ShellFail(error);
    return;
  }
  std::printf("Keys of the %s options (--set KEY=VALUE):\n", side.c_str());
  for (const OptionKey& k : keys) {
    std::printf("  %-26s %s\n", k.key.c_str(), k.values.c_str());
    std::printf("  %-26s   %s\n", "", k.label.c_str());
  }
}

int RunOptions(const OptionCommandLine& line, PluginModule& module) {
  if (!line.scene.empty() && line.side != "export") return ShellUsage("--scene belongs to 'options export'");
  if (line.keys) {
    PrintKeys(line.side);
    return 0;
  }
  std::vector<DialogAction> actions;
  std::string error;
  if (!OptionFlagActions(DialogOf(line.side), line.preset, line.sets, &actions, &error)) return ShellUsage(error);

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

}  // namespace

bool OptionCommandLine::Chosen() const {
  for (const CLI::App* command : {options, list, show, add, rename, remove})
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
  return kExitUsage;
}

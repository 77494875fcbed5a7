#include "options_dialog.h"

#include <cstdio>

#include "plugin_module.h"

using host::DialogAction;

const std::vector<std::string>& DialogRun::Entries() const {
  static const std::vector<std::string> none;
  return Preset() ? Preset()->entries : none;
}

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

bool PeekDialog(PluginModule& module, const std::string& side, const std::vector<DialogAction>& actions,
                bool stayInMemory, DialogRun* run) {
  host::KeepSettingsInMemory(true);
  host::SetStrictDialogs(true);
  const bool played = PlayDialog(module, side, nullptr, actions, {}, run);
  host::UnloadSettings();
  host::KeepSettingsInMemory(stayInMemory);
  host::ClearUserLog();
  return played;
}

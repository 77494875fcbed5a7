// "kelvane docs": the plug-in's help commands. The embedded host has no browser, so the
// shell prints the page the command opened.
#include <cstdio>
#include <filesystem>

#include "c4d.h"
#include "host_control.h"
#include "shell_commands.h"

int RunDocsCommand(bool web) {
  const LONG id = web ? kWebCommand : kDocsCommand;
  CommandData* command = RegisteredCommand(id);
  if (!command) return ShellFail(std::string("the plug-in has no ") + (web ? "web" : "user guide") + " command");
  host::ClearUserLog();
  command->Execute(nullptr);
  if (host::OpenedInBrowser().empty()) return ShellFail("the command opened nothing");
  const std::string& page = host::OpenedInBrowser().back();
  std::printf("%s\n", page.c_str());
  // The guide ships beside the plug-in; a missing one is worth saying.
  std::error_code ec;
  if (!web && !std::filesystem::is_regular_file(page, ec)) return ShellFail("the user guide is missing: '" + page + "'");
  return 0;
}

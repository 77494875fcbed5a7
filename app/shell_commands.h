// The shell's commands. Each returns the process exit code (0 success, 1 failure).
#pragma once

#include <string>

struct ShellOptions {
  std::string pluginDir;
  std::string settingsDir;
  bool answerYes = false;
  bool answerNo = false;
  bool noProgress = false;
};

// Lists the registered plug-ins: kind, ID and name, in registration order.
int RunPluginsCommand(const ShellOptions& options);

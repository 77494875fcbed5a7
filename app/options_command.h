// The shell's "options" and "presets" commands: the OBJ option dialogs of the plug-in,
// played by the scripted user as a person would use them.
#pragma once

#include <string>
#include <vector>

#include "shell_commands.h"

namespace CLI {
class App;
}
class PluginModule;

struct OptionCommandLine {
  CLI::App* options = nullptr;
  std::string side = "import";
  std::string preset;
  std::vector<std::string> sets;
  std::string scene;
  bool keys = false;

  CLI::App* list = nullptr;
  CLI::App* show = nullptr;
  CLI::App* add = nullptr;
  CLI::App* rename = nullptr;
  CLI::App* remove = nullptr;
  CLI::App* reset = nullptr;
  bool all = false;     // reset: the user's own presets too
  std::string presetSide = "import";
  std::string name;     // show, add, rename (the old name), delete
  std::string newName;  // rename
  std::string from;     // add
  std::vector<std::string> presetSets;  // add

  // Whether one of these commands was given.
  bool Chosen() const;
};

// Adds "options" and "presets" with their flags to the command line.
void AddOptionCommands(CLI::App& app, OptionCommandLine* line);

// Runs the chosen command: 0 done, 1 failed or refused, 2 a usage error.
int RunOptionCommands(const OptionCommandLine& line, const ShellOptions& options, PluginModule& module);

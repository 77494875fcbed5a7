// kelvane mdd: the plug-in's MDD point-cache export and import run on an object of a
// scene file, and a cache's contents at a glance.
#pragma once

#include <string>
#include <vector>

#include "shell_commands.h"

namespace CLI {
class App;
}

struct MddCommandOptions {
  CLI::App* exportCommand = nullptr;
  CLI::App* importCommand = nullptr;
  CLI::App* infoCommand = nullptr;
  std::string scene;
  std::string object;              // a name, or a path of names ("Robot/Arm")
  std::string cache;               // the .mdd file
  std::string output;              // export: the cache; import: the scene (default: SCENE)
  std::string frames;              // START:END[:STEP]
  int fps = 0;                     // 0: the document's
  std::vector<std::string> sets;   // KEY=VALUE, set in the options dialog in order
};

// Adds "mdd export|import|info" to the command line; returns the "mdd" command.
CLI::App* AddMddCommand(CLI::App& app, MddCommandOptions* options);
int RunMddCommand(const ShellOptions& shell, const MddCommandOptions& options);

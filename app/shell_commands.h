// The shell's commands. Each returns the process exit code (0 success, 1 failure).
#pragma once

#include <string>

#include "ge_types.h"

struct ShellOptions {
  std::string pluginDir;
  std::string settingsDir;
  bool answerYes = false;
  bool answerNo = false;
  bool noProgress = false;
};

// Lists the registered plug-ins: kind, ID and name, in registration order.
int RunPluginsCommand(const ShellOptions& options);

// Prints a scene file as a tree: time, layers, materials, objects with their tags.
int RunSceneShow(const ShellOptions& options, const std::string& file);

struct SceneMakeOptions {
  std::string kind;      // demo, cube, plane or grid
  std::string output;    // the scene file to write
  LONG segments = 0;     // 0: the kind's default
  bool polygonize = false;  // save the generators' polygon objects instead
};
// Builds an example scene and saves it.
int RunSceneMake(const ShellOptions& options, const SceneMakeOptions& make);

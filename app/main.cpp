// kelvane: the host shell. Loads the plug-in module, starts it as the host does and
// runs one command on the embedded scene. Exit codes: 0 success, 1 the command failed,
// 2 a usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_control.h"
#include "plugin_module.h"
#include "shell_commands.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string PluginFolder(const std::string& flag) {
  if (!flag.empty()) return flag;
  if (const char* env = std::getenv("KELVANE_PLUGIN_DIR"); env && *env) return env;
  return ExecutableFolder();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Kelvane: Wavefront OBJ/MTL and MDD point cache exchange, run on an embedded scene.\n"
               "The plug-in module and its res/ folder are looked for beside this program, in the\n"
               "folder given by --plugin-dir, or in $KELVANE_PLUGIN_DIR.",
               "kelvane"};
  app.set_version_flag("--version", std::string("kelvane ") + KELVANE_VERSION);
  app.require_subcommand(1);

  ShellOptions options;
  app.add_option("--plugin-dir", options.pluginDir, "Folder of the plug-in module and its res/ folder");
  app.add_option("--settings-dir", options.settingsDir,
                 "Folder of the settings file (default $KELVANE_SETTINGS_DIR, else ~/.config/kelvane)");
  app.add_flag("--yes", options.answerYes, "Answer Yes to every question box");
  app.add_flag("--no", options.answerNo, "Answer No to every question box");
  app.add_flag("--no-progress", options.noProgress, "Do not draw the progress line on the terminal");

  CLI::App* plugins = app.add_subcommand("plugins", "Start the plug-in and list its registrations");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  if (options.answerYes && options.answerNo) {
    std::fprintf(stderr, "kelvane: --yes and --no exclude each other\n");
    return kExitUsage;
  }

  if (!options.settingsDir.empty()) host::SetSettingsFolder(options.settingsDir);
  if (options.answerNo) host::SetDefaultAnswer(false);
  host::DrawStatus(options.noProgress ? 0 : -1);

  PluginModule module;
  std::string error;
  if (!module.Load(PluginFolder(options.pluginDir), &error) || !module.Start(&error)) {
    std::fprintf(stderr, "kelvane: %s\n", error.c_str());
    return kExitFailure;
  }

  int result = kExitFailure;
  if (plugins->parsed()) result = RunPluginsCommand(options);

  module.Unload();
  StatusClear();
  return result;
}

// kelvane: the host shell. Loads the plug-in module, starts it as the host does and
// runs one command on the embedded scene. Exit codes: 0 success, 1 the command failed,
// 2 a usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_control.h"
#include "mdd_command.h"
#include "options_command.h"
#include "output_log.h"
#include "platform.h"
#include "plugin_module.h"
#include "shell_commands.h"

namespace {

std::string PluginFolder(const std::string& flag) {
  if (!flag.empty()) return flag;
  if (const char* env = std::getenv("KELVANE_PLUGIN_DIR"); env && *env) return env;
  return ExecutableFolder();
}

// The first word of the command line that is no global option nor its value, when it
// names no command ("" when it does or when there is none).
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.size() > 1 && word[0] == '-') {
      if (word.find('=') == std::string::npos) {
        const CLI::Option* option = app.get_option_no_throw(word);
        if (option && option->get_expected_min() > 0) ++i;  // the option's value
      }
      continue;
    }
    for (const CLI::App* sub : app.get_subcommands({}))
      if (sub->check_name(word)) return std::string();
    return word;
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  host::platform::PrepareConsole();
  CLI::App app{"Kelvane: Wavefront OBJ/MTL and MDD point cache exchange, run on an embedded scene.\n"
               "The plug-in module and its res/ folder are looked for beside this program, in the\n"
               "folder given by --plugin-dir, or in $KELVANE_PLUGIN_DIR.",
               "kelvane"};
  app.set_version_flag("--version", std::string("kelvane ") + KELVANE_VERSION);
  app.require_subcommand(1);
  // The global options may come before or after the command ("kelvane import x.obj --yes").
  app.fallthrough();

  ShellOptions options;
  app.add_option("--plugin-dir", options.pluginDir, "Folder of the plug-in module and its res/ folder");
  app.add_option("--settings-dir", options.settingsDir,
                 "Folder of the settings file (default $KELVANE_SETTINGS_DIR, else ~/.config/kelvane)");
  app.add_flag("--yes", options.answerYes, "Answer Yes to every question box");
  app.add_flag("--no", options.answerNo, "Answer No to every question box");
  app.add_flag("--no-progress", options.noProgress, "Do not draw the progress line on the terminal");
  app.add_flag("--verbose", options.verbose,
               "Also print the console's timing lines and the trace of dialogs and file selectors");
  std::string logFile;
  app.add_option("--log", logFile,
                 "Also write every line of the run to FILE, the timing and trace lines included");

  CLI::App* plugins = app.add_subcommand("plugins", "Start the plug-in and list its registrations");

  CLI::App* scene = app.add_subcommand("scene", "Show or make scene files");
  scene->require_subcommand(1);
  std::string showFile;
  CLI::App* show = scene->add_subcommand("show", "Print a scene file as a tree");
  show->add_option("FILE", showFile, "The scene file")->required();
  SceneAtOptions showAt;
  CLI::Option* showFrame = show->add_option("--frame", showAt.frame, "Also show the scene evaluated at this frame");
  CLI::Option* showTime = show->add_option("--time", showAt.seconds, "Also show the scene evaluated at this time in seconds");
  showFrame->excludes(showTime);
  show->add_option("--points", showAt.points, "With --frame or --time: list this many evaluated points per object")
      ->check(CLI::Range(0, 1000000));
  ScenePlayOptions play;
  CLI::App* playCommand = scene->add_subcommand("play", "Evaluate a scene frame by frame and time each frame");
  playCommand->add_option("FILE", play.file, "The scene file")->required();
  playCommand->add_option("--frames", play.frames, "START:END")->required();
  SceneMakeOptions make;
  CLI::App* makeCommand = scene->add_subcommand("make", "Build an example scene from the host's generators");
  makeCommand->add_option("KIND", make.kind, "demo, cube, plane, grid or wave (a grid with point-level keys)")
      ->required()
      ->check(CLI::IsMember({"demo", "cube", "plane", "grid", "wave"}));
  makeCommand->add_option("-o,--output", make.output, "The scene file to write")->required();
  makeCommand->add_option("--segments", make.segments, "Segments per side (grid: quads per side)")
      ->check(CLI::Range(1, 5000));
  makeCommand->add_flag("--polygonize", make.polygonize, "Save polygon objects instead of generators");
  OptionCommandLine optionLine;
  AddOptionCommands(app, &optionLine);

  TagCommandOptions tagOptions;
  CLI::App* tagCommand = AddTagCommand(app, &tagOptions);

  ImportCommandOptions importOptions;
  CLI::App* importCommand = AddImportCommand(app, &importOptions);

  ExportCommandOptions exportOptions;
  CLI::App* exportCommand = AddExportCommand(app, &exportOptions);

  MddCommandOptions mddOptions;
  CLI::App* mddCommand = AddMddCommand(app, &mddOptions);

  bool docsWeb = false;
  CLI::App* docsCommand = app.add_subcommand("docs", "Open the user guide (or with --web the home page) as the plug-in's help commands do");
  docsCommand->add_flag("--web", docsWeb, "The home page instead of the user guide");

  if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
    std::fprintf(stderr, "kelvane: unknown command '%s'; the commands are: %s (kelvane --help)\n", unknown.c_str(),
                 names.c_str());
    return kExitUsage;
  }

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

  OutputLog log;
  if (!logFile.empty()) {
    std::string why;
    if (!log.Start(logFile, &why)) {
      std::fprintf(stderr, "kelvane: %s\n", why.c_str());
      return kExitFailure;
    }
  }

  if (!options.settingsDir.empty()) host::SetSettingsFolder(options.settingsDir);
  if (options.answerNo) host::SetDefaultAnswer(false);
  host::DrawStatus(options.noProgress ? 0 : -1);
  host::EchoDiagnostics(options.verbose);
  host::EchoTrace(options.verbose);

  PluginModule module;
  std::string error;
  // The start-up banner belongs to the plug-in listing; other commands keep their
  // output to themselves (the banner stays in the host's console log).
  host::EchoConsole(plugins->parsed());
  const bool started = module.Load(PluginFolder(options.pluginDir), &error) && module.Start(&error);
  host::EchoConsole(true);
  if (!started) {
    std::fprintf(stderr, "kelvane: %s\n", error.c_str());
    return kExitFailure;
  }

  int result = kExitFailure;
  if (plugins->parsed())
    result = RunPluginsCommand(options);
  else if (show->parsed() && (showFrame->count() || showTime->count())) {
    showAt.file = showFile;
    showAt.useTime = showTime->count() > 0;
    result = RunSceneShowAt(options, showAt);
  } else if (show->parsed())
    result = RunSceneShow(options, showFile);
  else if (playCommand->parsed())
    result = RunScenePlay(options, play);
  else if (makeCommand->parsed())
    result = RunSceneMake(options, make);
  else if (optionLine.Chosen())
    result = RunOptionCommands(optionLine, options, module);
  else if (tagCommand->parsed())
    result = RunTagCommand(options, tagOptions);
  else if (importCommand->parsed())
    result = RunImportCommand(options, importOptions, module);
  else if (exportCommand->parsed())
    result = RunExportCommand(options, exportOptions, module);
  else if (mddCommand->parsed())
    result = RunMddCommand(options, mddOptions);
  else if (docsCommand->parsed())
    result = RunDocsCommand(docsWeb);

  module.Unload();
  StatusClear();
  return result;
}

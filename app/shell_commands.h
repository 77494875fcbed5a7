// The shell's commands. Each returns the process exit code (0 success, 1 failure).
#pragma once

#include <string>
#include <vector>

#include "ge_types.h"

// What the shell knows of the plug-in by number, as the host does: the import command,
// the options dialogs, and the group, region and export-mask tags with their data (the
// number of names, then the names; the mask's switch for the object's children).
constexpr LONG kImportCommand = 1022494;
constexpr LONG kExportCommand = 1022493;
constexpr LONG kDocsCommand = 1023090;
constexpr LONG kWebCommand = 1023091;
constexpr LONG kImportDialog = 10161;
// The preset every import starts from unless --preset names another.
constexpr const char* kDefaultImportPreset = "Default Import Options";
constexpr LONG kExportDialog = 10080;
constexpr const char* kDefaultExportPreset = "Default Export Options";
constexpr LONG kGroupTag = 1016210;
constexpr LONG kRegionTag = 1016229;
constexpr LONG kMaskTag = 1020082;
constexpr LONG kTagNameCount = 1000;
constexpr LONG kTagFirstName = 1001;
constexpr LONG kMaskChildren = 1001;

// Exit codes: a failed command, and a command line that cannot be used.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class CommandData;
// The plug-in's registered command of plug-in ID id, or null.
CommandData* RegisteredCommand(LONG id);

// Print "kelvane: text" on standard error and return the exit code.
int ShellFail(const std::string& text);
int ShellUsage(const std::string& text);
// The text in double quotes, as names are shown.
inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct ShellOptions {
  std::string pluginDir;
  std::string settingsDir;
  bool answerYes = false;
  bool answerNo = false;
  bool noProgress = false;
  bool verbose = false;     // timing and trace lines on the terminal too
};

// Lists the registered plug-ins: kind, ID and name, in registration order.
int RunPluginsCommand(const ShellOptions& options);

// Prints a scene file as a tree: time, layers, materials, objects with their tags.
int RunSceneShow(const ShellOptions& options, const std::string& file);

// kelvane scene show FILE --frame N / --time SECONDS [--points N]: the tree, then the
// scene evaluated at that time with each point object's evaluated points.
struct SceneAtOptions {
  std::string file;
  LONG frame = 0;
  double seconds = 0.0;
  bool useTime = false;  // --time given: seconds, else frame
  LONG points = 0;       // points listed per object
};
int RunSceneShowAt(const ShellOptions& options, const SceneAtOptions& at);
// kelvane scene play FILE --frames START:END: one evaluation a frame, a line each with
// its time.
struct ScenePlayOptions {
  std::string file;
  std::string frames;
};
int RunScenePlay(const ShellOptions& options, const ScenePlayOptions& play);

class BaseDocument;
class BaseTag;
// A plug-in tag's parameters: by label when its plug-in has a description
// ("Leave the object out of the export: on; ..."), else its entries "{id=value, ...}".
std::string PluginTagParameters(const BaseTag* tag, const BaseDocument* doc);

struct SceneMakeOptions {
  std::string kind;      // demo, cube, plane or grid
  std::string output;    // the scene file to write
  LONG segments = 0;     // 0: the kind's default
  bool polygonize = false;  // save the generators' polygon objects instead
};
// Builds an example scene and saves it.
int RunSceneMake(const ShellOptions& options, const SceneMakeOptions& make);

namespace CLI {
class App;
}
struct TagCommandOptions {
  std::string kind;  // group, region or mask: the subcommand given
  std::string scene;
  std::string object;
  std::string output;  // empty: save back to scene
  std::vector<std::string> add, remove;  // group and region: selection names
  std::string children;                  // mask: "on", "off" or "" (unchanged)
  bool removeTag = false;                // mask: remove the tag
};
// Adds "tag group|region|mask" to the command line; returns the "tag" command.
CLI::App* AddTagCommand(CLI::App& app, TagCommandOptions* options);
// Edits the object's tag as the options say and saves the scene.
int RunTagCommand(const ShellOptions& options, const TagCommandOptions& tag);

struct ImportCommandOptions {
  std::string path;                // the .obj or .mtl file, or the folder
  std::string preset;              // chosen in the options dialog first
  std::vector<std::string> sets;   // KEY=VALUE, set in the options dialog in order
  std::string into;                // the scene to import into; empty: a new document
  std::string output;              // the scene file to write; empty: the default
  bool keepGoing = false;          // a folder: import every file that can be, not stop at a failure
};
// Adds "import" to the command line; returns the command.
CLI::App* AddImportCommand(CLI::App& app, ImportCommandOptions* options);
class PluginModule;
// Runs the plug-in's OBJ import on PATH and saves the document it leaves active.
int RunImportCommand(const ShellOptions& options, const ImportCommandOptions& import, PluginModule& module);

struct ExportCommandOptions {
  std::string scene;               // the scene file to export
  std::string output;              // the OBJ file (mode document) or the folder
  std::string preset;              // chosen in the options dialog first
  std::vector<std::string> sets;   // KEY=VALUE, set in the options dialog in order
  std::string mode;                // document, top-level, per-object, per-frame; empty: the preset's
  std::string frames;              // START:END[:STEP]
};
// Adds "export" to the command line; returns the command.
CLI::App* AddExportCommand(CLI::App& app, ExportCommandOptions* options);
// Runs the plug-in's OBJ export on the scene and sums up the files it wrote.
int RunExportCommand(const ShellOptions& options, const ExportCommandOptions& export_, PluginModule& module);

// The path as the user would write it: relative to the current folder when inside it.
std::string ShownPath(const std::string& path);

// Why a file cannot be written at output ("" when its folder is there and writable and
// output is no folder).
std::string OutputFolderProblem(const std::string& output);

// Runs the plug-in's help command (the user guide, or with web the home page) and
// prints what it opened.
int RunDocsCommand(bool web);

// kelvane export: the plug-in's OBJ export command run on a scene file as a person runs
// it in the application. The export options dialog takes --preset, --mode, --frames and
// --set, the file or folder selector takes PATH, and the files the export put in place
// are summed up at the end.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "option_flags.h"
#include "options_dialog.h"
#include "platform.h"
#include "shell_commands.h"

namespace fs = std::filesystem;

namespace {

using host::DialogAction;

// The --mode words and the export dialog's choices they stand for.
const std::map<std::string, std::string> kModes = {{"document", "document"},
                                                  {"top-level", "per-object"},
                                                  {"per-object", "per-polygon-object"},
                                                  {"per-frame", "per-frame"}};

// The progress window's gadgets: the counter title and the file being written.
constexpr LONG kProgressCounter = 6000;
constexpr LONG kProgressLabel = 6001;

// Whether the terminal gets the progress window as a line, and what it showed last.
struct ProgressView {
  bool terminal = false;
  bool plain = false;
  std::string lastLabel;
};
ProgressView g_view;

// The export's progress window, shown on standard error: on a terminal before the
// status line, else one line per file.
void ShowProgressWindow(const host::DialogRecord& window) {
  if (window.pluginId != kExportCommand) return;
  const host::GadgetRecord* counter = window.Find(kProgressCounter);
  const host::GadgetRecord* label = window.Find(kProgressLabel);
  if (!counter || !label) return;
  std::string file = label->label;
  while (!file.empty() && file.back() == ' ') file.pop_back();
  const std::string line = file.empty() ? counter->label : counter->label + " " + file;
  if (g_view.terminal) {
    host::SetStatusPrefix(line);
  } else if (g_view.plain && !file.empty() && file != g_view.lastLabel) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  g_view.lastLabel = file;
}

// START:END[:STEP], whole numbers, START <= END, STEP >= 1.
bool ParseFrames(const std::string& text, long long* start, long long* end, long long* step) {
  std::vector<long long> values;
  size_t at = 0;
  for (;;) {
    const size_t colon = text.find(':', at);
    const std::string part = text.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
    char* stop = nullptr;
    values.push_back(std::strtoll(part.c_str(), &stop, 10));
    if (part.empty() || *stop || values.size() > 3) return false;
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  if (values.size() < 2) return false;
  *start = values[0];
  *end = values[1];
  *step = values.size() == 3 ? values[2] : 1;
  const long long limit = 2147483647LL;
  return *start <= *end && *step >= 1 && *start >= -limit && *end <= limit && *step <= limit;
}

// What the files of an export hold, read back from them.
struct ExportCounts {
  long long objFiles = 0, mtlFiles = 0, objects = 0, points = 0, faces = 0, ngons = 0, materials = 0, bytes = 0;
};

bool StartsWith(const char* line, size_t length, const char* word) {
  const size_t n = std::strlen(word);
  return length >= n && std::memcmp(line, word, n) == 0;
}

// Counts one line of an OBJ or MTL file.
void CountLine(const char* line, size_t length, bool obj, ExportCounts* counts) {
  if (!obj) {
    if (StartsWith(line, length, "newmtl ")) ++counts->materials;
    return;
  }
  if (StartsWith(line, length, "v ")) {
    ++counts->points;
  } else if (StartsWith(line, length, "f ")) {
    ++counts->faces;
    long long corners = 0;
    for (size_t i = 1; i < length; ++i)
      if (line[i - 1] == ' ' && line[i] != ' ') ++corners;
    if (corners > 4) ++counts->ngons;
  } else if (StartsWith(line, length, "# ") && length > 11 && std::memcmp(line + length - 9, " vertices", 9) == 0) {
    // Every object's vertex section closes with "# <count> vertices".
    ++counts->objects;
  }
}

bool CountFile(const std::string& path, ExportCounts* counts) {
  const bool obj = fs::path(path).extension() == ".obj";
  std::ifstream file(fs::u8path(path), std::ios::binary);
  if (!file) return false;
  std::vector<char> buffer(1 << 22);
  size_t kept = 0;
  for (;;) {
    file.read(buffer.data() + kept, static_cast<std::streamsize>(buffer.size() - kept));
    const size_t n = static_cast<size_t>(file.gcount());
    const size_t filled = kept + n;
    counts->bytes += static_cast<long long>(n);
    size_t start = 0;
    for (;;) {
      const void* newline = std::memchr(buffer.data() + start, '\n', filled - start);
      if (!newline) break;
      const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - buffer.data());
      size_t length = end - start;
      if (length && buffer[start + length - 1] == '\r') --length;
      CountLine(buffer.data() + start, length, obj, counts);
      start = end + 1;
    }
    kept = filled - start;
    if (n == 0) {
      if (kept) CountLine(buffer.data() + start, kept, obj, counts);
      break;
    }
    // A line longer than the buffer is counted by its start only.
    if (kept == buffer.size()) {
      CountLine(buffer.data(), kept, obj, counts);
      kept = 0;
    } else {
      std::memmove(buffer.data(), buffer.data() + start, kept);
    }
  }
  ++(obj ? counts->objFiles : counts->mtlFiles);
  return true;
}

// The folder of a mode that writes several files: made when missing.
std::string PrepareFolder(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    if (!fs::create_directories(folder, ec)) return "cannot make the folder '" + folder.string() + "': " + ec.message();
  } else if (!fs::is_directory(folder, ec)) {
    return "'" + folder.string() + "' is not a folder (PATH is a folder in this mode)";
  }
  if (!host::platform::FolderWritable(folder.string())) return "the folder '" + folder.string() + "' is not writable";
  return std::string();
}

void PrintSummary(const ExportCommandOptions& options, const std::string& preset,
                  const std::vector<std::string>& changes, const ExportCounts& c, double seconds) {
  std::printf("Exported %s\n", options.scene.c_str());
  std::printf("  preset:    %s\n", preset.c_str());
  std::string changed;
  for (const std::string& change : changes) changed += (changed.empty() ? "" : ", ") + change;
  std::printf("  changed:   %s\n", changed.empty() ? "nothing" : changed.c_str());
  std::printf("  files:     %lld (%lld OBJ, %lld MTL)\n", c.objFiles + c.mtlFiles, c.objFiles, c.mtlFiles);
  std::printf("  objects:   %lld\n", c.objects);
  std::printf("  points:    %lld\n", c.points);
  std::printf("  faces:     %lld\n", c.faces);
  std::printf("  n-gons:    %lld\n", c.ngons);
  std::printf("  materials: %lld\n", c.materials);
  std::printf("  bytes:     %lld\n", c.bytes);
  std::printf("  time:      %.3f s\n", seconds);
}

}  // namespace

CLI::App* AddExportCommand(CLI::App& app, ExportCommandOptions* options) {
  CLI::App* command = app.add_subcommand("export", "Export a scene's polygon objects as Wavefront OBJ/MTL files");
  command->add_option("SCENE", options->scene, "The scene file")->required();
  command->add_option("-o,--output", options->output,
                      "The OBJ file (mode document) or the folder of the files (other modes)")
      ->required();
  command->add_option("--preset", options->preset,
                      "Start from this export preset (default: \"" + std::string(kDefaultExportPreset) +
                          "\"; \"Last Used\" for the previous run's options)");
  command->add_option("--set", options->sets, "Set an export option: KEY=VALUE (repeatable; see 'options export --keys')")
      ->allow_extra_args(false);
  command->add_option("--mode", options->mode,
                      "document (one file), top-level (a file per top-level object), per-object (a file per "
                      "polygon object) or per-frame")
      ->check(CLI::IsMember({"document", "top-level", "per-object", "per-frame"}));
  command->add_option("--frames", options->frames, "START:END[:STEP] of a per-frame export (implies --mode per-frame)");
  return command;
}

int RunExportCommand(const ShellOptions& shell, const ExportCommandOptions& options, PluginModule& module) {
  std::string mode = options.mode;
  long long start = 0, end = 0, step = 1;
  if (!options.frames.empty()) {
    if (!ParseFrames(options.frames, &start, &end, &step))
      return ShellUsage("export: --frames takes START:END or START:END:STEP (whole numbers, START <= END, STEP >= 1), not '" +
                        options.frames + "'");
    if (!mode.empty() && mode != "per-frame") return ShellUsage("export: --frames goes with --mode per-frame, not " + mode);
    mode = "per-frame";
  }
  std::error_code ec;
  const fs::path output = fs::absolute(fs::path(options.output), ec).lexically_normal();
  if (ec || options.output.empty()) return ShellUsage("export: PATH '" + options.output + "' cannot be used");

  std::vector<DialogAction> actions, flags;
  std::string error;
  const std::string preset = options.preset.empty() ? std::string(kDefaultExportPreset) : options.preset;
  if (!OptionFlagActions(kExportDialog, preset, {}, &actions, &error) ||
      !OptionFlagActions(kExportDialog, "", options.sets, &flags, &error))
    return ShellUsage(error);
  if (!mode.empty()) actions.push_back(DialogAction::Set("mode", kModes.at(mode)));

  // The scene first: every later message is about an export of it.
  BaseDocument* doc = host::LoadScene(options.scene, &error);
  if (!doc) return ShellFail("cannot load scene '" + options.scene + "': " + error);
  InsertBaseDocument(doc);
  SetActiveDocument(doc);

  // The dialog keeps the range inside the scene's and at least two frames long; a range
  // it would change is refused here rather than exported as another one.
  if (!options.frames.empty()) {
    const LONG fps = doc->GetFps() > 0 ? doc->GetFps() : 30;
    const long long first = doc->GetMinTime().GetFrame(fps);
    const long long last = std::max<long long>(doc->GetMaxTime().GetFrame(fps), first);
    const long long stepMax = std::max<long long>((last - first) / 2, 1);
    if (start < first || end > last || start >= end || step > stepMax)
      return ShellUsage("export: --frames " + options.frames + " does not fit the scene's frames " +
                        std::to_string(first) + " to " + std::to_string(last) +
                        " (START below END, STEP at most " + std::to_string(stepMax) + ")");
  }

  host::LoadSettings();
  DialogRun peek;
  if (!PeekDialog(module, "export", actions, false, &peek))
    return ShellFail(peek.error + "\nkelvane: export: nothing was written");
  if (!OptionFlagActions(kExportDialog, "", options.sets, &flags, &error, &peek.record)) return ShellUsage(error);
  actions.insert(actions.end(), flags.begin(), flags.end());
  if (!options.frames.empty()) {
    actions.push_back(DialogAction::Integer("start-frame", start));
    actions.push_back(DialogAction::Integer("end-frame", end));
    actions.push_back(DialogAction::Integer("frame-step", step));
  }

  // The mode the dialog will confirm decides what PATH is.
  const host::GadgetRecord* documentMode = nullptr;
  for (const host::GadgetRecord& g : peek.record.gadgets)
    if (g.choiceSet == "mode" && g.choice == "document") documentMode = &g;
  const bool oneFile = mode.empty() ? (documentMode && documentMode->value == "on") : mode == "document";
  if (oneFile) {
    if (fs::is_directory(output, ec))
      return ShellUsage("export: '" + options.output + "' is a folder; in mode document PATH is the OBJ file");
    if (const std::string problem = PrepareFolder(output.parent_path()); !problem.empty())
      return ShellFail("export: " + problem + "; nothing was written");
    if (const std::string problem = OutputFolderProblem(output.string()); !problem.empty())
      return ShellFail("export: cannot write '" + options.output + "': " + problem + "; nothing was written");
  } else if (const std::string problem = PrepareFolder(output); !problem.empty()) {
    return ShellFail("export: " + problem + "; nothing was written");
  }

  CommandData* command = RegisteredCommand(kExportCommand);
  if (!command)
    return ShellFail("the plug-in has not registered its export command " + std::to_string(kExportCommand) +
                     " (is its name missing from res/?)");

  host::SetStrictDialogs(true);
  host::ClearUserLog();
  const std::string dialog = std::to_string(kExportDialog);
  for (const DialogAction& a : actions) host::QueueDialogAction(a.For(dialog));
  host::QueueDialogAction(DialogAction::Ok().For(dialog));
  host::QueueFileSelection(output.string());

  g_view = ProgressView();
  g_view.terminal = !shell.noProgress && host::platform::ErrorIsTerminal();
  g_view.plain = !shell.noProgress && !g_view.terminal;
  host::SetWindowObserver(ShowProgressWindow);
  host::EscapeOnInterrupt();
  const auto started = std::chrono::steady_clock::now();
  const Bool exported = command->Execute(doc);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  host::SetWindowObserver(nullptr);
  host::SetStatusPrefix("");
  StatusClear();

  if (!host::DialogErrors().empty()) {
    for (const std::string& line : host::DialogErrors()) ShellFail(line);
    return ShellFail("export: the options dialog refused a flag; nothing was written");
  }
  // What the export put in place (the settings are saved the same way).
  std::vector<std::string> files;
  for (const std::string& path : host::SavedFiles()) {
    const std::string extension = fs::path(path).extension().string();
    if (extension == ".obj" || extension == ".mtl") files.push_back(path);
  }
  if (!exported) {
    bool dialogShown = false;
    for (const host::DialogRecord& record : host::DialogLog()) dialogShown = dialogShown || record.resourceId == kExportDialog;
    std::string kept = files.empty() ? "nothing was written"
                                     : std::to_string(files.size()) + (files.size() == 1 ? " file" : " files") +
                                           " complete before it were kept";
    if (host::InterruptCount() > 0) return ShellFail("export: stopped by Ctrl+C; " + kept);
    if (!dialogShown && !host::MessageBoxes().empty() &&
        host::MessageBoxes().back().find("Ngons with 'holes'") != std::string::npos)
      return ShellFail("export: the scene has n-gons with holes and the question was answered No (--yes writes their "
                       "polygons separately); nothing was written");
    return ShellFail("export: the export did not finish; " + kept);
  }

  ExportCounts counts;
  for (const std::string& path : files)
    if (!CountFile(path, &counts)) ShellFail("export: cannot read back '" + path + "'");
  std::vector<std::string> changed;
  for (auto it = host::DialogLog().rbegin(); it != host::DialogLog().rend(); ++it)
    if (it->resourceId == kExportDialog) {
      changed = ChangedOptions(peek.record, *it);
      break;
    }
  // The frame range comes from the scene, which the look at the dialog did not have: it
  // counts as changed only when the user set it.
  std::vector<std::string> shownChanges;
  for (const std::string& change : changed) {
    const std::string key = change.substr(0, change.find('='));
    bool frameKey = key == "start-frame" || key == "end-frame" || key == "frame-rate" || key == "frame-step";
    bool userSet = !options.frames.empty() && key != "frame-rate";
    for (const std::string& set : options.sets) userSet = userSet || set.rfind(key + "=", 0) == 0;
    if (!frameKey || userSet) shownChanges.push_back(change);
  }
  PrintSummary(options, preset, shownChanges, counts, seconds);
  constexpr size_t kListed = 8;
  if (files.size() <= kListed || shell.verbose) {
    for (const std::string& path : files) std::printf("Wrote %s\n", ShownPath(path).c_str());
  } else {
    std::printf("Wrote %zu files in %s (--verbose lists them)\n", files.size(), ShownPath(output.string()).c_str());
  }
  return 0;
}

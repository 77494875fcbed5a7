// kelvane import: the plug-in's OBJ import command run as a person runs it in the
// application. The import options dialog takes --preset and --set, the file selector
// takes PATH, the command runs on the document it is given, and the document that is
// active afterwards (the import may have made a new one) is saved as a scene file.
#include <CLI/CLI.hpp>


#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "platform.h"
#include "option_flags.h"
#include "options_dialog.h"
#include "shell_commands.h"

namespace fs = std::filesystem;

namespace {

using host::DialogAction;

std::string Lower(const std::string& text) {
  std::string out;
  for (const char c : text) out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  return out;
}

bool On(const std::string& value) {
  const std::string v = Lower(value);
  return v == "on" || v == "yes" || v == "true" || v == "1";
}

// What the --set flags choose in a set of radios: the choice of "set=choice", or of a
// radio's own key set on (the last flag counts). Empty when they leave the set alone.
std::string ChosenBySets(const std::vector<std::string>& sets, const std::string& setKey,
                         const std::map<std::string, std::string>& radioChoices) {
  std::string chosen;
  for (const std::string& flag : sets) {
    const size_t equals = flag.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = flag.substr(0, equals);
    const std::string value = flag.substr(equals + 1);
    if (key == setKey) {
      chosen = Lower(value);
    } else {
      const auto radio = radioChoices.find(key);
      if (radio != radioChoices.end() && On(value)) chosen = radio->second;
    }
  }
  return chosen;
}

// The scene file named after PATH in the current folder: "robot.obj" gives "robot.kscn",
// the folder "models/" gives "models.kscn".
std::string DefaultOutput(const fs::path& path) {
  fs::path name = path.filename();
  if (name.empty() || name == "." || name == "..") name = path.parent_path().filename();
  std::string stem = fs::path(name).stem().string();
  if (stem.empty() || stem == "." || stem == "..") stem = "import";
  return stem + ".kscn";
}

// --- what an import added ---------------------------------------------------------

// Every object, tag, material and layer of a document.
class NodeSet {
 public:
  explicit NodeSet(const BaseDocument* doc) {
    if (!doc) return;
    for (const BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) AddObject(op);
    for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) m_nodes.insert(m);
    for (const GeListNode* layer = doc->GetLayerObjectRoot()->GetFirst(); layer; layer = layer->GetNext())
      AddLayer(layer);
  }
  bool Has(const void* node) const { return m_nodes.count(node) != 0; }

 private:
  void AddObject(const BaseObject* op) {
    m_nodes.insert(op);
    for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) m_nodes.insert(tag);
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) AddObject(c);
  }
  void AddLayer(const GeListNode* layer) {
    m_nodes.insert(layer);
    for (const GeListNode* c = layer->GetDown(); c; c = c->GetNext()) AddLayer(c);
  }
  std::unordered_set<const void*> m_nodes;
};

struct ImportSummary {
  long long objects = 0, polygonObjects = 0, splineObjects = 0, nullObjects = 0;
  long long polygons = 0, ngons = 0, points = 0;
  long long materials = 0, layers = 0;
  long long selections = 0, groupSelections = 0, regionSelections = 0, materialSelections = 0;
};

std::set<std::string> TagNames(const BaseObject* op, LONG type) {
  std::set<std::string> names;
  const BaseTag* tag = op->GetTag(type);
  if (!tag) return names;
  const BaseContainer* bc = tag->GetDataInstance();
  const LONG count = bc->GetLong(kTagNameCount);
  for (LONG i = 0; i < count && i < bc->GetEntryCount(); ++i) names.insert(bc->GetString(kTagFirstName + i).Std());
  return names;
}

// Counts what is in doc and not in before. A selection is a group or a region when the
// object's group or region tag lists its name, a material's when a texture tag of the
// object is restricted to it.
class Summarizer {
 public:
  Summarizer(const NodeSet& before, ImportSummary* summary) : m_before(before), m_summary(summary) {}

  void Document(const BaseDocument* doc) {
    for (const BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) Object(op);
    for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext())
      if (!m_before.Has(m)) ++m_summary->materials;
    for (const GeListNode* layer = doc->GetLayerObjectRoot()->GetFirst(); layer; layer = layer->GetNext()) Layer(layer);
  }

 private:
  void Object(const BaseObject* op) {
    if (!m_before.Has(op)) {
      ++m_summary->objects;
      const LONG type = op->GetType();
      if (type == Opolygon) {
        const auto* poly = static_cast<const PolygonObject*>(op);
        ++m_summary->polygonObjects;
        m_summary->polygons += poly->GetPolygonCount();
        m_summary->ngons += poly->GetNgonCount();
        m_summary->points += poly->GetPointCount();
      } else if (type == Ospline) {
        ++m_summary->splineObjects;
        m_summary->points += static_cast<const SplineObject*>(op)->GetPointCount();
      } else if (type == Onull) {
        ++m_summary->nullObjects;
      }
    }
    Selections(op);
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) Object(c);
  }

  void Selections(const BaseObject* op) {
    const std::set<std::string> groups = TagNames(op, kGroupTag);
    const std::set<std::string> regions = TagNames(op, kRegionTag);
    std::set<std::string> materials;
    for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
      if (tag->GetType() == Ttexture) materials.insert(tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std());
    for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
      if (tag->GetType() != Tpolygonselection || m_before.Has(tag)) continue;
      const std::string name = tag->GetName().Std();
      ++m_summary->selections;
      if (groups.count(name))
        ++m_summary->groupSelections;
      else if (regions.count(name))
        ++m_summary->regionSelections;
      else if (materials.count(name))
        ++m_summary->materialSelections;
    }
  }

  void Layer(const GeListNode* layer) {
    if (!m_before.Has(layer)) ++m_summary->layers;
    for (const GeListNode* c = layer->GetDown(); c; c = c->GetNext()) Layer(c);
  }

  const NodeSet& m_before;
  ImportSummary* m_summary;
};

// "6 polygon, 1 spline, 2 null" and what else there is, in parentheses; "" for none.
std::string Breakdown(long long total, const std::vector<std::pair<long long, const char*>>& parts) {
  std::string text;
  long long named = 0;
  for (const auto& part : parts) {
    named += part.first;
    if (part.first) text += (text.empty() ? "" : ", ") + std::to_string(part.first) + " " + part.second;
  }
  if (total > named) text += (text.empty() ? "" : ", ") + std::to_string(total - named) + " other";
  return text.empty() ? std::string() : " (" + text + ")";
}

void PrintSummary(const std::string& path, const std::string& preset, const std::vector<std::string>& changes,
                  const ImportSummary& s, double seconds) {
  std::printf("Imported %s\n", path.c_str());
  std::printf("  preset:         %s\n", preset.c_str());
  std::string changed;
  for (const std::string& change : changes) changed += (changed.empty() ? "" : ", ") + change;
  std::printf("  changed:        %s\n", changed.empty() ? "nothing" : changed.c_str());
  std::printf("  objects:        %lld%s\n", s.objects,
              Breakdown(s.objects, {{s.polygonObjects, "polygon"}, {s.splineObjects, "spline"}, {s.nullObjects, "null"}})
                  .c_str());
  std::printf("  polygons:       %lld\n", s.polygons);
  std::printf("  n-gons:         %lld\n", s.ngons);
  std::printf("  points:         %lld\n", s.points);
  std::printf("  materials:      %lld\n", s.materials);
  std::printf("  selection tags: %lld%s\n", s.selections,
              Breakdown(s.selections, {{s.groupSelections, "groups"},
                                       {s.regionSelections, "regions"},
                                       {s.materialSelections, "materials"}})
                  .c_str());
  std::printf("  layers:         %lld\n", s.layers);
  std::printf("  time:           %.3f s\n", seconds);
}

// Whether folder or one of its subfolders holds a file named *.obj (in any case).
bool HasObjFile(const fs::path& folder) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (Lower(it->path().extension().string()) == ".obj" && it->is_regular_file(ec)) return true;
  }
  return false;
}

// --- files that failed ----------------------------------------------------------------

// Why the reader found nothing in a file it could open: a look at its first bytes.
std::string ParseProblem(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(65536, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(head[i]); };
  if (head.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)))
    return "UTF-16 text is not supported";
  size_t zeroEven = 0, zeroOdd = 0, control = 0;
  for (size_t i = 0; i < head.size(); ++i) {
    const unsigned char c = byte(i);
    if (c == 0) ++(i % 2 ? zeroOdd : zeroEven);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') ++control;
  }
  const size_t pairs = head.size() / 2;
  // ASCII text in UTF-16 without a byte order mark: every other byte is zero.
  if (pairs >= 2 && (zeroOdd * 10 >= pairs * 9 || zeroEven * 10 >= pairs * 9) && zeroOdd + zeroEven < head.size())
    return "UTF-16 text is not supported";
  if (zeroEven + zeroOdd > 0 || control * 10 > head.size()) return "not text";
  return "no vertices or faces";
}

// A file the import could not read and why ("" when the console names none).
struct FailedFile {
  std::string path;
  std::string reason;
  long long before = 0;  // OBJ files imported before it in the walk
};

// The file the console names last since line first ("Failed to load: ..."), with the
// error reported before it; a file the reader found nothing in says why.
FailedFile FailureOf(size_t first) {
  static const std::string kFailed = "Failed to load: ", kFile = "Kelvane: File Error - ",
                           kMemory = "Kelvane: Memory Allocation Error - ";
  FailedFile failed;
  std::string reason;
  const auto& lines = host::ConsoleLines();
  for (size_t i = first; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind(kFile, 0) == 0) reason = line.substr(kFile.size());
    if (line.rfind(kMemory, 0) == 0) reason = "Memory Allocation Error: " + line.substr(kMemory.size());
    if (line.rfind(kFailed, 0) == 0) {
      failed.path = line.substr(kFailed.size());
      failed.reason = reason.empty() ? "it could not be read" : reason;
      if (reason == "File Parsing Failed") failed.reason += ": " + ParseProblem(failed.path);
      reason.clear();
    }
  }
  return failed;
}

// The OBJ files the walk imported before path: those handed out before it, less the
// ones skipped as reached before through a link.
long long FilesBefore(const std::string& path, size_t firstLine) {
  std::set<std::string> skipped;
  const auto& lines = host::ConsoleLines();
  for (size_t i = firstLine; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t end = line.find("' is a file imported already");
    if (line.rfind("Kelvane: '", 0) == 0 && end != std::string::npos)
      skipped.insert(fs::path(line.substr(10, end - 10)).lexically_normal().string());
  }
  const std::string failed = fs::path(path).lexically_normal().string();
  long long count = 0;
  std::error_code ec;
  for (const std::string& entry : host::BrowsedPaths()) {
    if (entry == failed) break;
    if (Lower(fs::path(entry).extension().string()) == ".obj" && fs::is_regular_file(entry, ec) &&
        !skipped.count(entry))
      ++count;
  }
  return count;
}

// The console lines of a walk done again (echo off) that the walks before did not
// print, printed now: the same files print the same lines again.
class ConsoleReplay {
 public:
  explicit ConsoleReplay(bool verbose) : m_verbose(verbose) {}
  void Attempt(size_t first, bool silent) {
    std::map<std::string, int> seen;
    const auto& lines = host::ConsoleLines();
    for (size_t i = first; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (++seen[line] <= m_shown[line]) continue;
      ++m_shown[line];
      if (silent && (m_verbose || line.find(" elapsed = ") == std::string::npos)) std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
  }

 private:
  bool m_verbose;
  std::map<std::string, int> m_shown;
};

}  // namespace

CLI::App* AddImportCommand(CLI::App& app, ImportCommandOptions* options) {
  CLI::App* command = app.add_subcommand("import", "Import a Wavefront OBJ file, an MTL library or a folder of OBJ files");
  command->add_option("PATH", options->path, "The .obj or .mtl file, or the folder")->required();
  command->add_option("--preset", options->preset,
                      "Start from this import preset (its name as listed; default: \"" + std::string(kDefaultImportPreset) +
                          "\"; \"Last Used\" for the previous run's options)");
  command->add_option("--set", options->sets, "Set an import option: KEY=VALUE (repeatable; see 'options import --keys')")
      ->allow_extra_args(false);
  command->add_option("--into", options->into, "Import into this scene file (default: a new empty document)");
  command->add_flag("--keep-going", options->keepGoing,
                    "A folder: import every file that can be, instead of stopping at the first that fails");
  command->add_option("-o,--output", options->output,
                      "The scene file to write (default: the --into scene, else PATH's name with .kscn here)");
  return command;
}

int RunImportCommand(const ShellOptions& shell, const ImportCommandOptions& options, PluginModule& module) {
  const bool verbose = shell.verbose;
  std::error_code ec;
  const fs::path path = fs::absolute(fs::path(options.path), ec).lexically_normal();
  if (ec || options.path.empty()) return ShellUsage("import: PATH '" + options.path + "' cannot be used");
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) return ShellFail("import: no such file or folder: '" + options.path + "'");
  const bool folder = fs::is_directory(status);
  if (!folder && !fs::is_regular_file(status))
    return ShellFail("import: '" + options.path + "' is neither a file nor a folder");

  if (folder && !HasObjFile(path))
    return ShellFail("import: no OBJ files in " + options.path + "; nothing was imported and no file written");

  // The options dialog: the preset, then what PATH and --into decide, then the flags,
  // so that a flag that needs the folder source enabled (subfolders) finds it so.
  std::vector<DialogAction> actions, flags;
  std::string error;
  // Every run starts from a named preset, so that two runs with the same flags give the
  // same scene; "Last Used" is chosen only when asked for.
  const std::string preset = options.preset.empty() ? std::string(kDefaultImportPreset) : options.preset;
  if (!OptionFlagActions(kImportDialog, preset, {}, &actions, &error) ||
      !OptionFlagActions(kImportDialog, "", options.sets, &flags, &error))
    return ShellUsage(error);
  const std::string source =
      ChosenBySets(options.sets, "source", {{"one-file", "one-file"}, {"whole-folder", "folder"}});
  if (!source.empty() && source != (folder ? "folder" : "one-file"))
    return ShellUsage(std::string("import: PATH is ") + (folder ? "a folder" : "a file") +
                      ", which does not go with --set source=" + source);
  actions.push_back(DialogAction::Set("source", folder ? "folder" : "one-file"));
  if (!options.into.empty()) {
    const std::string document =
        ChosenBySets(options.sets, "document", {{"new-document", "new"}, {"current-document", "current"}});
    if (!document.empty() && document != "current")
      return ShellUsage("import: --into imports into that scene, which does not go with --set document=" + document);
    actions.push_back(DialogAction::Set("document", "current"));
  }

  const std::string output = !options.output.empty() ? options.output
                             : !options.into.empty() ? options.into
                                                     : DefaultOutput(path);
  if (fs::equivalent(fs::path(output), path, ec))
    return ShellUsage("import: the scene file '" + output + "' would replace PATH itself");
  // The output's folder is checked first, so that a scene that cannot be written fails
  // before a long import rather than after it.
  if (const std::string problem = OutputFolderProblem(output); !problem.empty())
    return ShellFail("cannot save scene '" + output + "': " + problem + "; nothing was imported");
  // A scene file the shell named by itself is not replaced without saying so.
  const bool replaces = options.output.empty() && options.into.empty() && fs::exists(fs::path(output), ec);

  // A look at the dialog as the preset leaves it for PATH: the summary lists what
  // differs from it, and its popups' entries tell the values they take. A damaged
  // settings file is set aside (and reported) before the look, once.
  host::LoadSettings();
  DialogRun peek;
  if (!PeekDialog(module, "import", actions, false, &peek))
    return ShellFail(peek.error + "\nkelvane: import: nothing was imported and no file written");
  if (!OptionFlagActions(kImportDialog, "", options.sets, &flags, &error, &peek.record)) return ShellUsage(error);
  actions.insert(actions.end(), flags.begin(), flags.end());

  CommandData* command = RegisteredCommand(kImportCommand);
  if (!command)
    return ShellFail("the plug-in has not registered its import command " + std::to_string(kImportCommand) +
                     " (is its name missing from res/?)");

  // A refused flag ends the dialog with Cancel instead of importing with other options.
  host::SetStrictDialogs(true);
  const std::string dialog = std::to_string(kImportDialog);
  std::vector<FailedFile> failures;
  ConsoleReplay replay(verbose);
  BaseDocument* doc = nullptr;
  std::unique_ptr<NodeSet> before;
  Bool imported = FALSE;
  double seconds = 0.0;
  for (int attempt = 0;; ++attempt) {
    doc = nullptr;
    if (!options.into.empty()) {
      doc = host::LoadScene(options.into, &error);
      if (!doc) return ShellFail("cannot load scene '" + options.into + "': " + error);
    } else {
      doc = BaseDocument::Alloc();
      if (!doc) return ShellFail("import: not enough memory for a new document");
    }
    // From here on the host owns the document.
    InsertBaseDocument(doc);
    SetActiveDocument(doc);
    before = std::make_unique<NodeSet>(doc);

    host::ClearUserLog();
    host::ClearBrowsedPaths();
    for (const DialogAction& a : actions) host::QueueDialogAction(a.For(dialog));
    host::QueueDialogAction(DialogAction::Ok().For(dialog));
    host::QueueFileSelection(path.string());

    // A walk again after a failure prints only what the earlier ones did not.
    if (attempt > 0) host::EchoConsole(false);
    const size_t firstLine = host::ConsoleLines().size();
    const auto start = std::chrono::steady_clock::now();
    imported = command->Execute(doc);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    host::EchoConsole(true);
    replay.Attempt(firstLine, attempt > 0);

    if (!host::DialogErrors().empty()) {
      for (const std::string& line : host::DialogErrors()) ShellFail(line);
      return ShellFail("import: the options dialog refused a flag; nothing was imported and no file written");
    }
    if (imported || !folder) break;
    FailedFile failed = FailureOf(firstLine);
    if (failed.path.empty()) break;
    // A file that failed again was not left out of the walk: no walk would get past it.
    bool again = false;
    for (const FailedFile& f : failures) again = again || f.path == failed.path;
    if (again) break;
    failed.before = FilesBefore(failed.path, firstLine);
    failures.push_back(failed);
    if (!options.keepGoing) break;
    // The same walk without the file that failed, into a fresh document.
    host::HideFromBrowsing(failed.path);
  }

  if (!imported && (failures.empty() || options.keepGoing || failures.back().before == 0)) {
    if (!folder) {
      const FailedFile failed = FailureOf(0);
      if (!failed.reason.empty()) ShellFail("import: '" + options.path + "': " + failed.reason);
    }
    for (const FailedFile& f : failures) ShellFail("import: '" + ShownPath(f.path) + "': " + f.reason);
    return ShellFail("import: nothing was imported from '" + options.path + "'; no file written");
  }

  const BaseDocument* result = GetActiveDocument();
  if (!result) return ShellFail("import: the host has no active document after the import; no file written");
  // A new document holds nothing from before.
  const NodeSet none(nullptr);
  ImportSummary summary;
  Summarizer(result == doc ? *before : none, &summary).Document(result);
  std::vector<std::string> changed;
  const auto& dialogs = host::DialogLog();
  for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
    if (it->resourceId == kImportDialog) {
      changed = ChangedOptions(peek.record, *it);
      break;
    }
  PrintSummary(options.path, preset, changed, summary, seconds);
  if (!host::SaveScene(result, output, &error)) return ShellFail("cannot save scene '" + output + "': " + error);
  std::printf(replaces ? "Wrote %s (replaced the file that was there)\n" : "Wrote %s\n", output.c_str());
  if (failures.empty()) return 0;
  std::fflush(stdout);
  if (!imported) {
    const FailedFile& f = failures.back();
    return ShellFail("import: the walk stopped at '" + ShownPath(f.path) + "' (" + f.reason + ") after " +
                     std::to_string(f.before) + (f.before == 1 ? " file" : " files") +
                     "; the scene holds what was built before it (--keep-going imports the rest)");
  }
  ShellFail("import: " + std::to_string(failures.size()) + (failures.size() == 1 ? " file" : " files") +
            " could not be imported; the scene holds the others:");
  for (const FailedFile& f : failures) std::fprintf(stderr, "  %s: %s\n", ShownPath(f.path).c_str(), f.reason.c_str());
  return kExitFailure;
}

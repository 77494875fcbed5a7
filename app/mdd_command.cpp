// kelvane mdd export / import: the plug-in's MDD commands run as a person runs them in
// the application, on an object of a scene file: the object is made active, the file
// selector takes the cache's path and the options dialog takes --frames, --fps and
// --set. kelvane mdd info reads a cache's header, time table and first and last frames
// through the same reader the plug-in uses. kelvane mdd attach puts the plug-in's MDD
// deformer under an object.
#include "mdd_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "binfile.h"
#include "c4d.h"
#include "host_control.h"
#include "mddformat.h"
#include "option_flags.h"

namespace fs = std::filesystem;

namespace {

using host::DialogAction;

constexpr LONG kMddImportCommand = 1025200;
constexpr LONG kMddExportCommand = 1025201;
constexpr LONG kMddImportDialog = 10262;
constexpr LONG kMddExportDialog = 10274;

struct FreeDoc {
  void operator()(BaseDocument* doc) const { BaseDocument::Free(doc); }
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// The object by its name (the first in the tree), or by a path of names from the top
// ("Robot/Arm").
BaseObject* FindObject(BaseDocument* doc, const std::string& name) {
  if (BaseObject* op = doc->SearchObject(String(name.c_str()))) return op;
  if (name.find('/') == std::string::npos) return nullptr;
  BaseObject* level = doc->GetFirstObject();
  BaseObject* found = nullptr;
  for (const std::string& part : Split(name, '/')) {
    found = nullptr;
    for (BaseObject* op = level; op; op = op->GetNext())
      if (op->GetName().Std() == part) {
        found = op;
        break;
      }
    if (!found) return nullptr;
    level = found->GetDown();
  }
  return found;
}

// Loads SCENE into the host as its active document with the object active; null with
// the failure printed.
BaseDocument* LoadWithObject(const MddCommandOptions& options, BaseObject** op) {
  std::string error;
  BaseDocument* doc = host::LoadScene(options.scene, &error);
  if (!doc) {
    ShellFail("cannot load scene '" + options.scene + "': " + error);
    return nullptr;
  }
  InsertBaseDocument(doc);  // from here on the host owns the document
  SetActiveDocument(doc);
  *op = FindObject(doc, options.object);
  if (!*op) {
    ShellFail("scene '" + options.scene + "' has no object " + Quoted(options.object));
    return nullptr;
  }
  if (!(*op)->IsInstanceOf(Opoint)) {
    ShellFail(Quoted(options.object) + " is a " + (*op)->GetTypeName().Std() +
              " object, not a point object: a point cache holds a point object's points (make one with "
              "'scene make ... --polygonize')");
    return nullptr;
  }
  doc->SetActiveObject(*op);
  return doc;
}

// Plays the dialog actions and runs the command; false with the failure printed.
bool RunWithDialog(LONG commandId, LONG dialogId, const std::vector<DialogAction>& actions,
                   const std::string& file, BaseDocument* doc, const char* what) {
  CommandData* command = RegisteredCommand(commandId);
  if (!command)
    return ShellFail(std::string("the plug-in has not registered its ") + what + " command " +
                     std::to_string(commandId) + " (is its name missing from res/?)"),
           false;
  host::SetStrictDialogs(true);
  host::ClearUserLog();
  const std::string dialog = std::to_string(dialogId);
  for (const DialogAction& a : actions) host::QueueDialogAction(a.For(dialog));
  host::QueueDialogAction(DialogAction::Ok().For(dialog));
  host::QueueFileSelection(file);
  const Bool done = command->Execute(doc);
  if (!host::DialogErrors().empty()) {
    for (const std::string& line : host::DialogErrors()) ShellFail(line);
    ShellFail(std::string("mdd ") + what + ": the options dialog refused a flag; nothing was done");
    return false;
  }
  return done;
}

std::string Seconds(Real value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.6g s", value);
  return text;
}

// --- info ---------------------------------------------------------------------------

struct CacheSummary {
  mdd::Info info;
  std::vector<Real> times;
  Vector firstMin, firstMax, lastMin, lastMax;
};

void BoundingBox(const mdd::FrameBlock& block, Vector* lo, Vector* hi) {
  *lo = *hi = block.Get(0);
  for (LONG i = 1; i < block.Points(); ++i) {
    const Vector p = block.Get(i);
    lo->x = std::min(lo->x, p.x), lo->y = std::min(lo->y, p.y), lo->z = std::min(lo->z, p.z);
    hi->x = std::max(hi->x, p.x), hi->y = std::max(hi->y, p.y), hi->z = std::max(hi->z, p.z);
  }
}

// Reads the header, the times and the first and last whole frames; false with the
// problem printed.
bool ReadSummary(const std::string& path, CacheSummary* s, std::string* warning) {
  struct FreeFile {
    void operator()(gantryBinFile* f) const { gantryBinFile::Free(f); }
  };
  struct FreeBlock {
    void operator()(mdd::FrameBlock* b) const { mdd::FrameBlock::Free(b); }
  };
  std::unique_ptr<gantryBinFile, FreeFile> file(gantryBinFile::Alloc());
  if (!file) return ShellFail("mdd info: not enough memory"), false;
  const Filename name(path.c_str());
  if (file->Open(name, BINFILE_READ, BINFILE_BUFFERSIZE) != 0) return ShellFail("cannot open '" + path + "'"), false;
  String problem, warn;
  if (!mdd::ReadHeader(file.get(), name, &s->info, &problem, &warn)) return ShellFail(problem.Std()), false;
  *warning = warn.Std();
  s->times.resize(size_t(s->info.frames));
  if (!mdd::ReadTimes(file.get(), s->info, s->times.data()))
    return ShellFail("mdd info: the time table of '" + path + "' cannot be read"), false;
  std::unique_ptr<mdd::FrameBlock, FreeBlock> block(mdd::FrameBlock::Alloc(s->info.points));
  if (!block) return ShellFail("mdd info: not enough memory for a frame of " + std::to_string(s->info.points) + " points"), false;
  const LONG last = s->info.wholeFrames - 1;
  if (!mdd::SeekFrame(file.get(), s->info, 0) || !block->Read(file.get()))
    return ShellFail("mdd info: the first frame of '" + path + "' cannot be read"), false;
  BoundingBox(*block, &s->firstMin, &s->firstMax);
  if (!mdd::SeekFrame(file.get(), s->info, last) || !block->Read(file.get()))
    return ShellFail("mdd info: the last frame of '" + path + "' cannot be read"), false;
  BoundingBox(*block, &s->lastMin, &s->lastMax);
  return true;
}

std::string Box(const Vector& lo, const Vector& hi) {
  char text[256];
  std::snprintf(text, sizeof(text), "x %.6g .. %.6g, y %.6g .. %.6g, z %.6g .. %.6g", lo.x, hi.x, lo.y, hi.y, lo.z,
                hi.z);
  return text;
}

int RunInfo(const MddCommandOptions& options) {
  CacheSummary s;
  std::string warning;
  if (!ReadSummary(options.cache, &s, &warning)) return kExitFailure;
  const mdd::Info& info = s.info;
  std::printf("%s\n", options.cache.c_str());
  std::printf("  frames:      %d\n", int(info.frames));
  std::printf("  points:      %d\n", int(info.points));
  std::printf("  time range:  %s to %s\n", Seconds(s.times.front()).c_str(), Seconds(s.times.back()).c_str());
  if (info.frames > 1) {
    Real lo = s.times[1] - s.times[0], hi = lo;
    for (size_t k = 2; k < s.times.size(); ++k) {
      lo = std::min(lo, s.times[k] - s.times[k - 1]);
      hi = std::max(hi, s.times[k] - s.times[k - 1]);
    }
    // Times are single floats: steps that differ by their precision are one step.
    if (hi - lo <= 1e-6 * std::max<Real>(1.0, std::fabs(s.times.back())))
      std::printf("  step:        %s (%.5g frames per second)\n", Seconds(lo).c_str(), lo > 0 ? 1.0 / lo : 0.0);
    else
      std::printf("  step:        varies from %s to %s\n", Seconds(lo).c_str(), Seconds(hi).c_str());
  } else {
    std::printf("  step:        none (one frame)\n");
  }
  const LLONG expected = mdd::FileBytes(info.frames, info.points);
  if (info.fileSize == expected)
    std::printf("  size:        %lld bytes, as the header expects\n", (long long)info.fileSize);
  else if (info.fileSize > expected)
    std::printf("  size:        %lld bytes, %lld more than the header expects\n", (long long)info.fileSize,
                (long long)(info.fileSize - expected));
  else
    std::printf("  size:        %lld bytes, %lld fewer than the header expects: %d whole frames of %d\n",
                (long long)info.fileSize, (long long)(expected - info.fileSize), int(info.wholeFrames), int(info.frames));
  std::printf("  first frame: %s\n", Box(s.firstMin, s.firstMax).c_str());
  std::printf("  last frame:  %s%s\n", Box(s.lastMin, s.lastMax).c_str(),
              info.wholeFrames < info.frames ? " (the last whole frame)" : "");
  if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  return 0;
}

// --- export -------------------------------------------------------------------------

bool ParseInt(const std::string& text, LONG* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end || errno || v < -2147483647LL || v > 2147483647LL) return false;
  *value = LONG(v);
  return true;
}

int RunExport(const MddCommandOptions& options) {
  if (options.output.empty()) return ShellUsage("mdd export: the cache file (-o FILE.mdd) is missing");
  const fs::path cache = fs::absolute(fs::path(options.output)).lexically_normal();
  if (cache.extension() != ".mdd")
    return ShellUsage("mdd export: the cache file '" + options.output + "' must end in .mdd");
  std::vector<DialogAction> actions;
  if (!options.frames.empty()) {
    const std::vector<std::string> parts = Split(options.frames, ':');
    LONG values[3] = {0, 0, 1};
    bool ok = parts.size() == 2 || parts.size() == 3;
    for (size_t i = 0; ok && i < parts.size(); ++i) ok = ParseInt(parts[i], &values[i]);
    if (!ok || values[2] < 1)
      return ShellUsage("mdd export: --frames takes START:END or START:END:STEP (whole numbers, STEP at least 1), not '" +
                        options.frames + "'");
    actions.push_back(DialogAction::Set("start-frame", std::to_string(values[0])));
    actions.push_back(DialogAction::Set("end-frame", std::to_string(values[1])));
    actions.push_back(DialogAction::Set("frame-step", std::to_string(values[2])));
  }
  if (options.fps) actions.push_back(DialogAction::Set("fps", std::to_string(options.fps)));
  std::vector<DialogAction> flags;
  std::string error;
  if (!OptionFlagActions(kMddExportDialog, "", options.sets, &flags, &error)) return ShellUsage(error);
  actions.insert(actions.end(), flags.begin(), flags.end());

  BaseObject* op = nullptr;
  BaseDocument* doc = LoadWithObject(options, &op);
  if (!doc) return kExitFailure;
  if (!RunWithDialog(kMddExportCommand, kMddExportDialog, actions, cache.string(), doc, "export"))
    return ShellFail("mdd export: no cache written for " + Quoted(options.object));
  CacheSummary s;
  std::string warning;
  if (!ReadSummary(cache.string(), &s, &warning)) return kExitFailure;
  std::printf("Wrote %s: %d frames of %d points of %s, %s to %s, %lld bytes\n", options.output.c_str(),
              int(s.info.frames), int(s.info.points), Quoted(options.object).c_str(), Seconds(s.times.front()).c_str(),
              Seconds(s.times.back()).c_str(), (long long)s.info.fileSize);
  return 0;
}

// --- import -------------------------------------------------------------------------

LONG KeyCount(BaseObject* op) {
  CTrack* track = op->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0)));
  CCurve* curve = track ? track->GetCurve(CCURVE_CURVE, FALSE) : nullptr;
  return curve ? curve->GetKeyCount() : 0;
}

int RunImport(const MddCommandOptions& options) {
  std::error_code ec;
  const fs::path cache = fs::absolute(fs::path(options.cache), ec).lexically_normal();
  if (!fs::is_regular_file(cache, ec)) return ShellFail("mdd import: no such cache file: '" + options.cache + "'");
  std::vector<DialogAction> actions;
  std::string error;
  if (!OptionFlagActions(kMddImportDialog, "", options.sets, &actions, &error)) return ShellUsage(error);
  const std::string output = options.output.empty() ? options.scene : options.output;

  BaseObject* op = nullptr;
  BaseDocument* doc = LoadWithObject(options, &op);
  if (!doc) return kExitFailure;
  const LONG before = KeyCount(op);
  if (!RunWithDialog(kMddImportCommand, kMddImportDialog, actions, cache.string(), doc, "import"))
    return ShellFail("mdd import: no keys were made on " + Quoted(options.object) + "; no file written");
  const LONG after = KeyCount(op);
  if (!host::SaveScene(doc, output, &error)) return ShellFail("cannot save scene '" + output + "': " + error);
  std::printf("Imported %s onto %s: its point-level track has %d keys (%d before)\n", options.cache.c_str(),
              Quoted(options.object).c_str(), int(after), int(before));
  std::printf("Wrote %s\n", output.c_str());
  return 0;
}

// --- attach -------------------------------------------------------------------------

constexpr LONG kMddDeformer = 1028662;

struct DeformerKey {
  const char* name;
  LONG id;
};
const DeformerKey kDeformerKeys[] = {
    {"scale", 1000}, {"start-frame", 1002}, {"mode", 1003}, {"start-index", 1006}, {"end-index", 1007}};

// KEY=VALUE of --set for the deformer: the parameter and its value; false with the
// reason in *error.
bool DeformerSetting(const std::string& text, LONG* id, LONG* value, std::string* error) {
  const size_t eq = text.find('=');
  const std::string key = text.substr(0, eq), v = eq == std::string::npos ? "" : text.substr(eq + 1);
  std::string keys;
  for (const DeformerKey& k : kDeformerKeys) {
    keys += std::string(keys.empty() ? "" : ", ") + k.name;
    if (key != k.name) continue;
    *id = k.id;
    if (k.id == 1003) {
      const char* modes[] = {"none", "hold", "loop"};
      for (LONG m = 0; m < 3; ++m)
        if (v == modes[m]) return *value = m, true;
      *error = "mdd attach: mode is none, loop or hold, not '" + v + "'";
      return false;
    }
    if (!ParseInt(v, value) || (k.id != 1002 && *value < 0) || (k.id == 1000 && *value < 1)) {
      *error = "mdd attach: " + key + " takes a whole number" + (k.id == 1002 ? "" : (k.id == 1000 ? " from 1" : " from 0")) +
               ", not '" + v + "'";
      return false;
    }
    return true;
  }
  *error = "mdd attach: --set takes KEY=VALUE with KEY one of " + keys + ", not '" + text + "'";
  return false;
}

int RunAttach(const MddCommandOptions& options) {
  std::error_code ec;
  const fs::path cache = fs::absolute(fs::path(options.cache), ec).lexically_normal();
  if (!fs::is_regular_file(cache, ec)) return ShellFail("mdd attach: no such cache file: '" + options.cache + "'");
  std::vector<std::pair<LONG, LONG>> settings;
  for (const std::string& set : options.sets) {
    LONG id = 0, value = 0;
    std::string error;
    if (!DeformerSetting(set, &id, &value, &error)) return ShellUsage(error);
    settings.emplace_back(id, value);
  }
  const std::string output = options.output.empty() ? options.scene : options.output;
  BaseObject* op = nullptr;
  BaseDocument* doc = LoadWithObject(options, &op);
  if (!doc) return kExitFailure;
  BaseObject* deformer = BaseObject::Alloc(kMddDeformer);
  if (!deformer || !deformer->GetNodeData())
    return ShellFail("mdd attach: the plug-in has not registered its deformer " + std::to_string(kMddDeformer));
  deformer->Message(MSG_MENUPREPARE);
  deformer->InsertUnderLast(op);
  deformer->SetParameter(DescID(DescLevel(1001)), GeData(Filename(String(cache.string().c_str()))),
                         DESCFLAGS_SET_USERINTERACTION);
  for (const auto& [id, value] : settings) deformer->SetParameter(DescID(DescLevel(id)), GeData(value), DESCFLAGS_SET_USERINTERACTION);
  std::string error;
  if (!host::SaveScene(doc, output, &error)) return ShellFail("cannot save scene '" + output + "': " + error);
  std::printf("Attached an MDD deformer playing %s to %s\n", options.cache.c_str(), Quoted(options.object).c_str());
  std::printf("Wrote %s\n", output.c_str());
  return 0;
}

}  // namespace

CLI::App* AddMddCommand(CLI::App& app, MddCommandOptions* options) {
  CLI::App* mdd = app.add_subcommand("mdd", "Export, import or look into MDD point caches");
  mdd->require_subcommand(1);

  CLI::App* xp = mdd->add_subcommand("export", "Write the animated points of an object of a scene as an MDD cache");
  xp->add_option("SCENE", options->scene, "The scene file")->required();
  xp->add_option("--object", options->object, "The point object: its name or a path of names (\"Robot/Arm\")")
      ->required();
  xp->add_option("-o,--output", options->output, "The cache file to write (FILE.mdd)")->required();
  xp->add_option("--frames", options->frames, "START:END[:STEP] (default: the current frame to the preview end)");
  xp->add_option("--fps", options->fps, "Frame rate of the cache's time table (default: the scene's)")
      ->check(CLI::Range(1, 120));
  xp->add_option("--set", options->sets, "Set an export option: KEY=VALUE (repeatable; see docs/shell.md)")
      ->allow_extra_args(false);

  CLI::App* mp = mdd->add_subcommand("import", "Read an MDD cache onto an object of a scene as point-level keys");
  mp->add_option("SCENE", options->scene, "The scene file")->required();
  mp->add_option("FILE", options->cache, "The .mdd cache")->required();
  mp->add_option("--object", options->object, "The point object: its name or a path of names (\"Robot/Arm\")")
      ->required();
  mp->add_option("--set", options->sets, "Set an import option: KEY=VALUE (repeatable; see docs/shell.md)")
      ->allow_extra_args(false);
  mp->add_option("-o,--output", options->output, "The scene file to write (default: SCENE)");

  CLI::App* info = mdd->add_subcommand("info", "Print a cache's frames, points, times, size check and bounds");
  info->add_option("FILE", options->cache, "The .mdd cache")->required();

  CLI::App* at = mdd->add_subcommand("attach", "Put an MDD deformer playing a cache under a point object of a scene");
  at->add_option("SCENE", options->scene, "The scene file")->required();
  at->add_option("FILE", options->cache, "The .mdd cache")->required();
  at->add_option("--object", options->object, "The point object: its name or a path of names (\"Robot/Arm\")")
      ->required();
  at->add_option("--set", options->sets,
                 "scale=N start-frame=N mode=none|loop|hold start-index=N end-index=N (one or more)")
      ->allow_extra_args(true);
  at->add_option("-o,--output", options->output, "The scene file to write (default: SCENE)");

  options->attachCommand = at;
  options->exportCommand = xp;
  options->importCommand = mp;
  options->infoCommand = info;
  return mdd;
}

int RunMddCommand(const ShellOptions&, const MddCommandOptions& options) {
  if (options.infoCommand && options.infoCommand->parsed()) return RunInfo(options);
  if (options.exportCommand && options.exportCommand->parsed()) return RunExport(options);
  if (options.importCommand && options.importCommand->parsed()) return RunImport(options);
  if (options.attachCommand && options.attachCommand->parsed()) return RunAttach(options);
  return ShellUsage("mdd: export, import, attach or info");
}

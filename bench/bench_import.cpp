// The whole OBJ import beside the OBJ reader alone and beside tinyobjloader, on the
// same file, in the same run.
//
//   bench_import [--folder DIR] [--runs N]
//
// The input is bench_objread's grid (obj_grid.h): 1001 x 1001 points with v, vt and vn,
// 1 000 000 quads "f a/a/a b/b/b c/c/c d/d/d" in groups and materials, about 170 MB,
// written once into DIR (default: bench-data/ in the build folder) and reused.
//
// Each measurement runs in a child process of its own (this program again), which
// repeats its work N times (default 3) and reports the best time:
//   reader         ReadObjModel with the default import options: the file into the
//                  import model, nothing built;
//   import         the plug-in's import command as the application runs it: its
//                  options dialog left untouched (settings in an empty folder, so the
//                  defaults apply), the file chosen in the file selector, the reader,
//                  the scene builder, until the finished document;
//   tinyobjloader  the file into tinyobjloader's arrays (when built with it).
// A child that only starts and ends gives the baseline memory every child carries.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifdef KELVANE_HAVE_TINYOBJLOADER
#include <tiny_obj_loader.h>
#endif

#include "c4d.h"
#include "child_process.h"
#include "host_control.h"
#include "main.h"
#include "objread.h"
#include "optrecord.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "bench_import";
constexpr long kSide = 1001;
constexpr long kQuads = (kSide - 1) * (kSide - 1);
constexpr long kPoints = kSide * kSide;
constexpr LONG kImportCommand = 1022494;

void Fail(const std::string& what) { bench::Fail(kProgram, what); }

// What one piece of work left: polygons and points (of the model or of the document).
struct Counts {
  unsigned long long polygons = 0, points = 0;
};
using Step = std::function<bool(Counts* counts, std::string* error)>;

std::string ConsoleText() {
  std::string text;
  for (const auto& line : host::ConsoleLines()) text += "\n  " + line;
  for (const auto& box : host::MessageBoxes()) text += "\n  [box] " + box;
  return text;
}

// --- the children ------------------------------------------------------------------------

// The plug-in's import command, started in this process as the host starts the
// module: resource, registration; settings in a new empty folder.
class ImportRun {
 public:
  bool Start(std::string* error) {
    char folder[] = "/tmp/bench_import_settings_XXXXXX";
    if (!::mkdtemp(folder)) {
      *error = "cannot make a settings folder";
      return false;
    }
    m_settings = folder;
    host::SetSettingsFolder(m_settings);
    std::error_code ec;
    host::SetPluginFolder(fs::read_symlink("/proc/self/exe", ec).parent_path().string());
    if (!PluginMessage(C4DPL_INIT_SYS, nullptr)) {
      *error = "cannot load the plug-in's resources: " + host::ResourceError();
      return false;
    }
    if (!RegisterImportPlugin()) {
      *error = "the import command did not register";
      return false;
    }
    for (const BasePlugin* plugin : host::RegisteredPlugins())
      if (plugin->GetID() == kImportCommand) m_command = plugin->GetCommand();
    if (!m_command) *error = "no import command among the registered plug-ins";
    return m_command != nullptr;
  }

  // One import into a fresh active document; counts what the active document holds.
  bool Run(const std::string& path, Counts* counts, std::string* error) {
    BaseDocument* doc = BaseDocument::Alloc();
    if (!doc) {
      *error = "no memory for a document";
      return false;
    }
    InsertBaseDocument(doc);
    SetActiveDocument(doc);
    host::ClearConsole();
    host::ClearUserLog();
    host::QueueFileSelection(path);
    if (!m_command->Execute(doc)) {
      *error = "the import command failed:" + ConsoleText();
      return false;
    }
    *counts = {};
    Count(GetActiveDocument()->GetFirstObject(), counts);
    return true;
  }

  void Release() { host::FreeDocuments(); }

  ~ImportRun() {
    host::FreeDocuments();
    FreeImportPlugin();
    host::FreeRegistry();
    resource.Free();
    std::error_code ec;
    if (!m_settings.empty()) fs::remove_all(m_settings, ec);
  }

 private:
  static void Count(const BaseObject* op, Counts* counts) {
    for (; op; op = op->GetNext()) {
      if (op->GetType() == Opolygon) {
        const auto* poly = static_cast<const PolygonObject*>(op);
        counts->polygons += static_cast<unsigned long long>(poly->GetPolygonCount());
        counts->points += static_cast<unsigned long long>(poly->GetPointCount());
      }
      Count(op->GetDown(), counts);
    }
  }

  std::string m_settings;
  CommandData* m_command = nullptr;
};

int ChildMain(const std::string& work, const std::string& path, int runs) {
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);

  Step step;
  std::function<void()> release = [] {};
  ObjImporter* importer = nullptr;
  ImportRun import;
  if (work == "baseline") {
    std::printf("result 0 0 0\n");
    return 0;
  } else if (work == "reader") {
    step = [&](Counts* counts, std::string* error) {
      PluginOpts opts;
      opts.SetFromTable(kImportPresetTable[0]);
      importer = ReadObjModel(Filename(path.c_str()), opts, opts.ScaleFactor());
      if (!importer) {
        *error = "ReadObjModel failed:" + ConsoleText();
        return false;
      }
      *counts = {importer->faceCount, importer->vertexCount};
      return true;
    };
    release = [&] { ObjImporter::Free(importer); };
  } else if (work == "import") {
    std::string error;
    if (!import.Start(&error)) {
      std::printf("error %s\n", error.c_str());
      return 1;
    }
    step = [&](Counts* counts, std::string* why) { return import.Run(path, counts, why); };
    release = [&] { import.Release(); };
  }
#ifdef KELVANE_HAVE_TINYOBJLOADER
  tinyobj::ObjReader* tiny = nullptr;
  if (work == "tinyobjloader") {
    step = [&](Counts* counts, std::string* error) {
      tinyobj::ObjReaderConfig config;
      config.triangulate = false;
      config.vertex_color = false;
      config.mtl_search_path = fs::path(path).parent_path().string();
      tiny = new tinyobj::ObjReader;
      if (!tiny->ParseFromFile(path, config)) {
        *error = "ParseFromFile failed: " + tiny->Error();
        return false;
      }
      *counts = {0, tiny->GetAttrib().vertices.size() / 3};
      for (const auto& shape : tiny->GetShapes()) counts->polygons += shape.mesh.num_face_vertices.size();
      return true;
    };
    release = [&] {
      delete tiny;
      tiny = nullptr;
    };
  }
#endif
  if (!step) {
    std::printf("error no work named %s in this build\n", work.c_str());
    return 1;
  }

  double best = 1e30;
  Counts counts;
  for (int run = 0; run < runs; ++run) {
    std::string error;
    const double start = bench::Now();
    const bool ok = step(&counts, &error);
    const double took = bench::Now() - start;
    release();
    if (!ok) {
      std::printf("error %s\n", error.c_str());
      return 1;
    }
    best = std::min(best, took);
  }
  std::printf("result %.6f %llu %llu\n", best, counts.polygons, counts.points);
  return 0;
}

// --- the parent --------------------------------------------------------------------------

struct Measurement {
  std::string work;
  bool ok = false;
  std::string error;
  double seconds = 0, peakMB = 0;
  Counts counts;
};

Measurement Measure(const std::string& self, const std::string& work, const std::string& path, int runs) {
  Measurement m;
  m.work = work;
  const bench::ChildResult r = bench::RunChild(self, {"--child", work, path, std::to_string(runs)});
  m.peakMB = r.peakMB;
  if (!r.ok) {
    m.error = r.error;
    return m;
  }
  if (std::sscanf(r.result.c_str(), "%lf %llu %llu", &m.seconds, &m.counts.polygons, &m.counts.points) != 3) {
    m.error = "unreadable result: " + r.result;
    return m;
  }
  m.ok = true;
  return m;
}

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) return ChildMain(argv[2], argv[3], std::atoi(argv[4]));

  const bench::GridOptions options =
      bench::ParseGridOptions(kProgram, argc, argv, fs::path(KELVANE_BUILD_DIR) / "bench-data");
  const fs::path& folder = options.folder;
  const int runs = options.runs;
  const std::string& self = options.self;
  std::error_code ec;
  const std::string path = bench::PrepareGrid(kProgram, folder, kSide);
  bench::WarmPageCache(kProgram, path);
  const double fileMB = fs::file_size(path, ec) / 1e6;

  std::printf("The OBJ import on one file: %.1f MB, %ld v / vt / vn, %ld quads in %d groups and %d materials.\n"
              "Each measurement runs in its own process: best of %d runs, the file in the page cache.\n"
              "Peak = the process's maximum resident set, MB = 10^6 bytes.\n\n",
              fileMB, kPoints, kQuads, objgrid::kGroups, objgrid::kMaterials, runs);

  std::vector<std::string> works = {"reader", "import"};
#ifdef KELVANE_HAVE_TINYOBJLOADER
  works.push_back("tinyobjloader");
#endif
  const Measurement baseline = Measure(self, "baseline", path, 1);
  if (!baseline.ok) Fail("the baseline child failed: " + baseline.error);
  std::vector<Measurement> results;
  for (const auto& work : works) results.push_back(Measure(self, work, path, runs));

  std::printf("  %-14s %9s %9s %10s %8s %10s %10s\n", "work", "seconds", "MB/s", "peak MB", "x file", "polygons",
              "points");
  std::printf("  %-14s %9s %9s %10.1f %8.2f\n", "(baseline)", "-", "-", baseline.peakMB, baseline.peakMB / fileMB);
  int failures = 0;
  for (const auto& m : results) {
    if (!m.ok) {
      std::printf("  %-14s FAILED: %s\n", m.work.c_str(), m.error.c_str());
      ++failures;
      continue;
    }
    std::printf("  %-14s %9.3f %9.1f %10.1f %8.2f %10llu %10llu\n", m.work.c_str(), m.seconds, fileMB / m.seconds,
                m.peakMB, m.peakMB / fileMB, m.counts.polygons, m.counts.points);
    if (m.counts.polygons != static_cast<unsigned long long>(kQuads)) {
      std::printf("  *** %s gives %llu polygons, the grid has %ld ***\n", m.work.c_str(), m.counts.polygons, kQuads);
      ++failures;
    }
  }
#ifndef KELVANE_HAVE_TINYOBJLOADER
  std::printf("  %-14s not built with tinyobjloader\n", "tinyobjloader");
#endif
  std::printf("\n");

  const Measurement& reader = results[0];
  const Measurement& import = results[1];
  if (reader.ok && import.ok) {
    const double ratio = import.seconds / reader.seconds;
    std::printf("  import time / reader time:        %6.2f x   goal <= 1.50 x: %s\n", ratio, Verdict(ratio <= 1.5));
    std::printf("  import peak / reader peak:        %6.2f x   (net of the baseline: %.2f x)\n",
                import.peakMB / reader.peakMB,
                (import.peakMB - baseline.peakMB) / std::max(1e-9, reader.peakMB - baseline.peakMB));
  }
  if (results.size() > 2 && results[2].ok && import.ok)
    std::printf("  tinyobjloader time / import time: %6.2f x   (the peer builds no scene)\n",
                results[2].seconds / import.seconds);
  return failures ? 1 : 0;
}

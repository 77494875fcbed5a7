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
//   reader-1       the same with one thread (KELVANE_THREADS=1);
//   tinyobjloader  the file into tinyobjloader's arrays (when built with it);
//   assimp         the file into assimp's scene (when built with it);
//   shell          the shell's whole process, "kelvane import FILE -o SCENE": start,
//                  import, scene file written, end (its best wall time of N runs);
//   shell-paused   the same, each run after a pause of kPauseSeconds: a virtual machine
//                  may take back the memory a process freed within seconds, and a
//                  process that runs after that pays for bringing it back, as a user's
//                  single import does; back-to-back runs get it cheaply;
//   save           the shell's last step alone: the imported document saved as a scene
//                  file (encoding, checksum, the write and the flush to the disk).
// A child that only starts and ends gives the baseline memory every child carries.
// Two more files test the per-object and the n-gon paths of the import: 100 000 small
// objects ("o" lines, a cube each) and large n-gons (64 corners each); the import of
// each should keep at least half its speed on the grid in MB/s.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include <cmath>

#ifdef KELVANE_HAVE_TINYOBJLOADER
#include <tiny_obj_loader.h>
#endif
#ifdef KELVANE_HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
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
// Long enough for the machines seen here to take back freed memory (0.3 to 3 s).
constexpr int kPauseSeconds = 3;
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

// Writes 100 000 objects, each "o obj_<k>" with a cube of 8 points and 6 quads.
bool GenerateObjects(const std::string& path, long objects) {
  objgrid::Writer out(path);
  out.Put("# kelvane bench objects\n");
  for (long k = 0; k < objects; ++k) {
    out.Put("o obj_");
    out.Integer(k);
    out.Put('\n');
    const double x = (k % 100) * 3.0, y = (k / 100 % 100) * 3.0, z = (k / 10000) * 3.0;
    for (int c = 0; c < 8; ++c) {
      out.Put("v ");
      out.Fixed(x + (c & 1));
      out.Put(' ');
      out.Fixed(y + (c >> 1 & 1));
      out.Put(' ');
      out.Fixed(z + (c >> 2 & 1));
      out.Put('\n');
    }
    static const int kCubeQuads[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5}, {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
    for (const auto& quad : kCubeQuads) {
      out.Put('f');
      for (const int c : quad) {
        out.Put(' ');
        out.Integer(c - 9);  // counted back from the object's last point
      }
      out.Put('\n');
    }
  }
  return out.Close();
}

// Writes n-gons of `corners` corners: a flat, slightly irregular disc each, on its own
// points, `count` of them.
bool GenerateNgons(const std::string& path, long count, int corners) {
  objgrid::Writer out(path);
  out.Put("# kelvane bench n-gons\n");
  for (long k = 0; k < count; ++k) {
    const double cx = (k % 128) * 3.0, cz = (k / 128) * 3.0;
    for (int c = 0; c < corners; ++c) {
      const double angle = 2 * M_PI * c / corners;
      const double radius = 1.0 + 0.1 * ((c * 7 + k) % 5) / 5.0;
      out.Put("v ");
      out.Fixed(cx + radius * std::cos(angle));
      out.Put(" 0.000000 ");
      out.Fixed(cz + radius * std::sin(angle));
      out.Put('\n');
    }
  }
  for (long k = 0; k < count; ++k) {
    out.Put('f');
    for (int c = 0; c < corners; ++c) {
      out.Put(' ');
      out.Integer(k * corners + c + 1);
    }
    out.Put('\n');
  }
  return out.Close();
}

// The file in folder, written unless it is there already (a ".part" is renamed when
// complete, so a file found is whole).
std::string PrepareFile(const fs::path& folder, const char* name, const std::function<bool(const std::string&)>& write) {
  const std::string path = (folder / name).string();
  std::error_code ec;
  if (fs::exists(path, ec)) return path;
  const std::string part = path + ".part";
  if (!write(part)) Fail("cannot write " + part);
  fs::rename(part, path, ec);
  if (ec) Fail("cannot rename " + part + ": " + ec.message());
  std::printf("Generated %s\n", path.c_str());
  return path;
}

// The shell's whole process: "kelvane import path -o scene", its wall time; false with
// the reason when it does not end with 0 or leaves no scene file. Each run writes a scene
// of its own name: deleting the last run's 88 MB first would time the file system freeing
// it, which is no part of the shell's work. The folder goes at the end.
bool RunShell(const std::string& path, const std::string& settings, Counts* counts, std::string* error) {
  static int run = 0;
  const std::string shell = std::string(KELVANE_BUILD_DIR) + "/bin/kelvane";
  const std::string scene = settings + "/scene-" + std::to_string(++run) + ".kscn";
  std::error_code ec;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {shell, "import", path, "-o", scene};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    *error = "cannot start " + shell;
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fs::exists(scene, ec)) {
    *error = "the shell's import failed (status " + std::to_string(status) + ")";
    return false;
  }
  *counts = {};  // what it built is in the scene file, not counted here
  return true;
}

int ChildMain(const std::string& work, const std::string& path, int runs) {
  if (work == "reader-1") ::setenv("KELVANE_THREADS", "1", 1);
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
  } else if (work == "shell" || work == "shell-paused") {
    char folder[] = "/tmp/bench_import_shell_XXXXXX";
    if (!::mkdtemp(folder)) {
      std::printf("error cannot make a folder for the shell\n");
      return 1;
    }
    const std::string settings = folder;
    ::setenv("KELVANE_SETTINGS_DIR", (settings + "/settings").c_str(), 1);
    step = [settings, path](Counts* counts, std::string* error) { return RunShell(path, settings, counts, error); };
    release = [] {};
    struct Cleanup {
      std::string folder;
      ~Cleanup() {
        std::error_code ec;
        fs::remove_all(folder, ec);
      }
    };
    static Cleanup cleanup{settings};
  } else if (work == "save") {
    static char folder[] = "/tmp/bench_import_save_XXXXXX";
    std::string error;
    Counts imported;
    if (!::mkdtemp(folder) || !import.Start(&error) || !import.Run(path, &imported, &error)) {
      std::printf("error cannot import the file to save: %s\n", error.c_str());
      return 1;
    }
    // A name of its own per run, as the shell's (RunShell).
    step = [imported](Counts* counts, std::string* why) {
      static int run = 0;
      *counts = imported;
      return host::SaveScene(GetActiveDocument(), std::string(folder) + "/scene-" + std::to_string(++run) + ".kscn",
                             why);
    };
    release = [] {};
    struct Cleanup {
      ~Cleanup() {
        std::error_code ec;
        fs::remove_all(folder, ec);
      }
    };
    static Cleanup cleanup;
  } else if (work == "reader" || work == "reader-1") {
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
#ifdef KELVANE_HAVE_ASSIMP
  std::unique_ptr<Assimp::Importer> assimp;
  if (work == "assimp") {
    assimp = std::make_unique<Assimp::Importer>();
    step = [&](Counts* counts, std::string* error) {
      const aiScene* scene = assimp->ReadFile(path, 0);
      if (!scene) {
        *error = std::string("ReadFile failed: ") + assimp->GetErrorString();
        return false;
      }
      *counts = {};
      for (unsigned m = 0; m < scene->mNumMeshes; ++m) counts->polygons += scene->mMeshes[m]->mNumFaces;
      counts->points = static_cast<unsigned long long>(kPoints);  // it keeps points per corner
      return true;
    };
    release = [&] { assimp->FreeScene(); };
  }
#endif
  if (!step) {
    std::printf("error no work named %s in this build\n", work.c_str());
    return 1;
  }

  double best = 1e30;
  Counts counts;
  for (int run = 0; run < runs; ++run) {
    if (work == "shell-paused") ::sleep(kPauseSeconds);
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
  const std::string objectsPath =
      PrepareFile(folder, "objects.obj", [](const std::string& p) { return GenerateObjects(p, 100000); });
  const std::string ngonsPath =
      PrepareFile(folder, "ngons.obj", [](const std::string& p) { return GenerateNgons(p, 16384, 64); });
  bench::WarmPageCache(kProgram, path);
  const double fileMB = fs::file_size(path, ec) / 1e6;

  std::FILE* load = std::fopen("/proc/loadavg", "r");
  char loadText[128] = "?";
  if (load) {
    if (!std::fgets(loadText, sizeof(loadText), load)) std::strcpy(loadText, "?");
    std::fclose(load);
  }
  std::printf("The OBJ import on one file: %.1f MB, %ld v / vt / vn, %ld quads in %d groups and %d materials.\n"
              "Each measurement runs in its own process: best of %d runs, the file in the page cache.\n"
              "Peak = the process's maximum resident set, MB = 10^6 bytes. %u processors; load average\n"
              "(1, 5, 15 min, running/all, last pid) at the start: %s\n",
              fileMB, kPoints, kQuads, objgrid::kGroups, objgrid::kMaterials, runs,
              std::thread::hardware_concurrency(), loadText);

  std::vector<std::string> works = {"reader-1", "reader", "import", "shell", "shell-paused", "save"};
#ifdef KELVANE_HAVE_TINYOBJLOADER
  works.push_back("tinyobjloader");
#endif
#ifdef KELVANE_HAVE_ASSIMP
  works.push_back("assimp");
#endif
  const Measurement baseline = Measure(self, "baseline", path, 1);
  if (!baseline.ok) Fail("the baseline child failed: " + baseline.error);
  std::vector<Measurement> results;
  for (const auto& work : works) results.push_back(Measure(self, work, path, runs));
  auto find = [&](const std::string& work) -> const Measurement* {
    for (const auto& m : results)
      if (m.work == work && m.ok) return &m;
    return nullptr;
  };

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
    if (m.work == "save") {  // writes the scene, not the OBJ file: no rate of the file
      std::printf("  %-14s %9.3f %9s %10.1f %8.2f %10s %10s\n", m.work.c_str(), m.seconds, "-", m.peakMB,
                  m.peakMB / fileMB, "-", "-");
      continue;
    }
    if (m.work == "shell" || m.work == "shell-paused") {
      std::printf("  %-14s %9.3f %9.1f %10.1f %8.2f %10s %10s\n", m.work.c_str(), m.seconds, fileMB / m.seconds,
                  m.peakMB, m.peakMB / fileMB, "-", "-");
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
#ifndef KELVANE_HAVE_ASSIMP
  std::printf("  %-14s not built with assimp\n", "assimp");
#endif
  std::printf("  (reader-1: one thread, KELVANE_THREADS=1; reader: two; shell: the whole process,\n"
              "   \"kelvane import FILE -o SCENE\", scene file written; shell-paused: the same after\n"
              "   %d s without work each time; save: the scene file alone)\n\n",
              kPauseSeconds);

  const Measurement* reader1 = find("reader-1");
  const Measurement* reader = find("reader");
  const Measurement* import = find("import");
  const Measurement* shell = find("shell");
  const Measurement* save = find("save");
  const Measurement* tiny = find("tinyobjloader");
  const Measurement* assimpRun = find("assimp");
  if (tiny && reader1)
    std::printf("  tinyobjloader time / reader time, one thread:  %6.2f x   goal >= 3.50 x: %s\n",
                tiny->seconds / reader1->seconds, Verdict(tiny->seconds / reader1->seconds >= 3.5));
  if (tiny && reader)
    std::printf("  tinyobjloader time / reader time, two threads: %6.2f x   goal >= 5.00 x: %s\n",
                tiny->seconds / reader->seconds, Verdict(tiny->seconds / reader->seconds >= 5.0));
  if (assimpRun && reader)
    std::printf("  assimp time / reader time, two threads:        %6.2f x   (no goal set)\n",
                assimpRun->seconds / reader->seconds);
  if (reader && import)
    std::printf("  import time / reader time:                     %6.2f x   goal <= 1.50 x: %s\n",
                import->seconds / reader->seconds, Verdict(import->seconds / reader->seconds <= 1.5));
  if (reader && shell)
    std::printf("  shell process time / reader time, two threads: %6.2f x   goal <= 1.60 x: %s\n",
                shell->seconds / reader->seconds, Verdict(shell->seconds / reader->seconds <= 1.6));
  if (const Measurement* paused = find("shell-paused"); paused && shell)
    std::printf("  shell after a pause / shell back to back:      %6.2f x   (no goal set)\n",
                paused->seconds / shell->seconds);
  if (reader && shell && save)
    std::printf("  shell less the scene save / reader time:       %6.2f x   (the save's flush is the disk's)\n",
                (shell->seconds - save->seconds) / reader->seconds);
  if (reader)
    std::printf("  reader peak / file size:                       %6.2f x   goal <= 1.10 x: %s\n",
                reader->peakMB / fileMB, Verdict(reader->peakMB / fileMB <= 1.1));
  if (import)
    std::printf("  import peak / file size:                       %6.2f x   goal <= 1.30 x: %s\n",
                import->peakMB / fileMB, Verdict(import->peakMB / fileMB <= 1.3));

  // The per-object and the n-gon paths, measured as the grid's import.
  if (import) {
    const double gridRate = fileMB / import->seconds;
    std::printf("\n  the import on other files (goal: at least half the grid's %.1f MB/s):\n", gridRate);
    for (const std::string& other : {objectsPath, ngonsPath}) {
      const double otherMB = fs::file_size(other, ec) / 1e6;
      bench::WarmPageCache(kProgram, other);
      const Measurement m = Measure(self, "import", other, runs);
      if (!m.ok) {
        std::printf("  %-12s FAILED: %s\n", fs::path(other).filename().c_str(), m.error.c_str());
        ++failures;
        continue;
      }
      const double rate = otherMB / m.seconds;
      std::printf("  %-12s %7.1f MB %9.3f s %9.1f MB/s %10llu polygons   goal >= %.1f MB/s: %s\n",
                  fs::path(other).filename().c_str(), otherMB, m.seconds, rate, m.counts.polygons, gridRate / 2,
                  Verdict(rate >= gridRate / 2));
    }
  }
  return failures ? 1 : 0;
}

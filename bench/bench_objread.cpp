// The OBJ reader beside tinyobjloader and assimp on the same file, in the same run.
//
//   bench_objread [--folder DIR] [--runs N]
//
// The input is a grid of 1001 x 1001 points (v, vt and vn per point) and 1 000 000 quads
// "f a/a/a b/b/b c/c/c d/d/d" in several groups and materials, about 170 MB (obj_grid.h).
// It is written once into DIR (default: bench-data/ in the build folder) and reused
// while its size matches the size recorded in its last line.
//
// Every reader runs in a fresh child process (this program again, with the hidden
// argument --child), so that the peak resident memory the parent reads from wait4 is
// that reader's alone. The child parses the file N times (default 3) and reports its
// best time and the element counts. A child that only starts and ends gives the
// baseline every child carries. Memory figures are in MB of 10^6 bytes, like MB/s.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef KELVANE_HAVE_TINYOBJLOADER
#include <tiny_obj_loader.h>
#endif
#ifdef KELVANE_HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#endif

#include "bench_util.h"
#include "child_process.h"
#include "c4d.h"
#include "host_control.h"
#include "obj_grid.h"
#include "objread.h"
#include "optrecord.h"


namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "bench_objread";
constexpr long kSide = 1001;  // points per grid side
constexpr long kQuads = (kSide - 1) * (kSide - 1);
constexpr long kPoints = kSide * kSide;

void Fail(const std::string& what) { bench::Fail(kProgram, what); }

using bench::Now;

// Reads the file once in 1 MiB blocks, so every reader finds it in the page cache;
// returns the plain read rate in MB/s.
double WarmPageCache(const std::string& path, unsigned long long size) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot read " + path);
  std::vector<char> block(1 << 20);
  const double start = Now();
  unsigned long long total = 0;
  for (ssize_t got; (got = ::read(fd, block.data(), block.size())) > 0;) total += static_cast<unsigned long long>(got);
  const double took = Now() - start;
  ::close(fd);
  if (total != size) Fail("short read of " + path);
  return took > 0 ? size / 1e6 / took : 0.0;
}

// --- the child: one reader, N parses ---------------------------------------------------

struct Counts {
  unsigned long long vertices = 0, uvs = 0, normals = 0, faces = 0;
  unsigned long long corners = 0;  // face corners; 0 when the reader does not tell
};

// Parses the file once and fills counts; false with the reason in *error. Only the
// parse is timed by the caller: freeing the result happens in release.
using ParseStep = std::function<bool(Counts* counts, std::string* error)>;

int ChildMain(const std::string& reader, const std::string& path, int runs) {
  if (reader == "kelvane-1") ::setenv("KELVANE_THREADS", "1", 1);
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);

  ParseStep parse;
  std::function<void()> release = [] {};
  ObjImporter* importer = nullptr;
  ObjReadTimes times;  // the reader's steps in the last parse
  if (reader == "baseline") {
    std::printf("result 0 0 0 0 0 0 0 0 0 0 0 0\n");
    return 0;
  } else if (reader == "kelvane" || reader == "kelvane-1") {
    parse = [&](Counts* counts, std::string* error) {
      PluginOpts opts;
      opts.SetFromTable(kImportPresetTable[0]);
      importer = ReadObjModel(Filename(path.c_str()), opts, opts.ScaleFactor(), TEXTFILE_BLOCKSIZE, TRUE, &times);
      if (!importer) {
        *error = "ReadObjModel failed";
        for (const auto& line : host::ConsoleLines()) *error += "\n  " + line;
        return false;
      }
      *counts = {importer->vertexCount, importer->uvCount, importer->normalCount, importer->faceCount, 0};
      return true;
    };
    release = [&] { ObjImporter::Free(importer); };
  }
#ifdef KELVANE_HAVE_TINYOBJLOADER
  tinyobj::ObjReader* tiny = nullptr;
  if (reader == "tinyobjloader") {
    parse = [&](Counts* counts, std::string* error) {
      tinyobj::ObjReaderConfig config;
      config.triangulate = false;
      config.vertex_color = false;  // the grid has none; spares the peer the default colours
      config.mtl_search_path = fs::path(path).parent_path().string();
      tiny = new tinyobj::ObjReader;
      if (!tiny->ParseFromFile(path, config)) {
        *error = "ParseFromFile failed: " + tiny->Error();
        return false;
      }
      const tinyobj::attrib_t& attrib = tiny->GetAttrib();
      *counts = {attrib.vertices.size() / 3, attrib.texcoords.size() / 2, attrib.normals.size() / 3, 0, 0};
      for (const auto& shape : tiny->GetShapes()) {
        counts->faces += shape.mesh.num_face_vertices.size();
        counts->corners += shape.mesh.indices.size();
      }
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
  if (reader == "assimp") {
    assimp = std::make_unique<Assimp::Importer>();
    parse = [&](Counts* counts, std::string* error) {
      const aiScene* scene = assimp->ReadFile(path, 0);
      if (!scene) {
        *error = std::string("ReadFile failed: ") + assimp->GetErrorString();
        return false;
      }
      // Its OBJ import gives every face corner a vertex of its own: the positions,
      // texture coordinates and normals are per corner.
      *counts = {};
      for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        counts->faces += mesh->mNumFaces;
        counts->corners += mesh->mNumVertices;
        if (mesh->HasTextureCoords(0)) counts->uvs += mesh->mNumVertices;
        if (mesh->HasNormals()) counts->normals += mesh->mNumVertices;
      }
      return true;
    };
    release = [&] { assimp->FreeScene(); };
  }
#endif
  if (!parse) {
    std::printf("error no reader named %s in this build\n", reader.c_str());
    return 1;
  }

  double best = 1e30;
  ObjReadTimes bestTimes;
  Counts counts;
  for (int run = 0; run < runs; ++run) {
    std::string error;
    const double start = Now();
    const bool ok = parse(&counts, &error);
    const double took = Now() - start;
    release();
    if (!ok) {
      std::printf("error %s\n", error.c_str());
      return 1;
    }
    if (took < best) bestTimes = times;
    best = std::min(best, took);
  }
  // Our reader adds the seconds of its steps in the best parse.
  std::printf("result %.6f %d %llu %llu %llu %llu %llu %.6f %.6f %.6f %.6f %.6f\n", best, runs, counts.vertices,
              counts.uvs, counts.normals, counts.faces, counts.corners, bestTimes.scan, bestTimes.prepare,
              bestTimes.read, bestTimes.checkIndices, bestTimes.listIndices);
  return 0;
}

// --- the parent ------------------------------------------------------------------------

struct Measurement {
  std::string reader;
  bool ok = false;
  std::string error;
  double seconds = 0;
  int runs = 0;
  Counts counts;
  double peakMB = 0;  // the child's maximum resident set
  ObjReadTimes steps;  // our reader's steps in its best parse
};

// Runs this program as a child for one reader (bench::RunChild): its best time and
// counts, and its peak memory.
Measurement Measure(const std::string& self, const std::string& reader, const std::string& path, int runs) {
  Measurement m;
  m.reader = reader;
  const bench::ChildResult child = bench::RunChild(self, {"--child", reader, path, std::to_string(runs)});
  m.peakMB = child.peakMB;
  if (child.ok && std::sscanf(child.result.c_str(), "%lf %d %llu %llu %llu %llu %llu %lf %lf %lf %lf %lf", &m.seconds,
                              &m.runs, &m.counts.vertices, &m.counts.uvs, &m.counts.normals, &m.counts.faces,
                              &m.counts.corners, &m.steps.scan, &m.steps.prepare, &m.steps.read,
                              &m.steps.checkIndices, &m.steps.listIndices) == 12) {
    m.ok = true;
    return m;
  }
  m.error = child.ok ? "unreadable result: " + child.result : child.error;
  return m;
}

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

// Compares one count of a reader with the grid's; prints and counts a mismatch.
int Check(const Measurement& m, const char* what, unsigned long long got, unsigned long long expected) {
  if (got == expected) return 0;
  std::printf("  *** COUNT MISMATCH: %s gives %llu %s, the grid has %llu ***\n", m.reader.c_str(), got, what, expected);
  std::fprintf(stderr, "%s: COUNT MISMATCH: %s gives %llu %s, the grid has %llu\n", kProgram, m.reader.c_str(), got,
               what, expected);
  return 1;
}

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
  const unsigned long long fileBytes = fs::file_size(path, ec);
  const double fileMB = fileBytes / 1e6;
  const double plainRead = WarmPageCache(path, fileBytes);

  char loadText[128] = "?";
  if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
    if (!std::fgets(loadText, sizeof(loadText), load)) std::strcpy(loadText, "?\n");
    std::fclose(load);
  }
  std::printf("Load average (1, 5, 15 min, running/all, last pid) at the start: %s", loadText);
  std::printf("OBJ readers on one file: %.1f MB, %ld v / vt / vn, %ld quads \"f a/a/a b/b/b c/c/c d/d/d\" in %d groups\n"
              "and %d materials. Each reader runs in its own process: best of %d parses, the file in the\n"
              "page cache (a plain 1 MiB-block read of it ran at %.0f MB/s). Peak = the process's maximum\n"
              "resident set, MB = 10^6 bytes.\n\n",
              fileMB, kPoints, kQuads, objgrid::kGroups, objgrid::kMaterials, runs, plainRead);

  std::vector<std::string> readers = {"kelvane-1", "kelvane"};
#ifdef KELVANE_HAVE_TINYOBJLOADER
  readers.push_back("tinyobjloader");
#endif
#ifdef KELVANE_HAVE_ASSIMP
  readers.push_back("assimp");
#endif

  const Measurement baseline = Measure(self, "baseline", path, 1);
  if (!baseline.ok) Fail("the baseline child failed: " + baseline.error);
  std::vector<Measurement> results;
  for (const auto& reader : readers) results.push_back(Measure(self, reader, path, runs));

  std::printf("  %-14s %9s %9s %10s %8s %12s\n", "reader", "seconds", "MB/s", "peak MB", "x file", "x file net");
  std::printf("  %-14s %9s %9s %10.1f %8.2f %12s\n", "(baseline)", "-", "-", baseline.peakMB,
              baseline.peakMB / fileMB, "-");
  int mismatches = 0;
  for (const auto& m : results) {
    if (!m.ok) {
      std::printf("  %-14s FAILED: %s\n", m.reader.c_str(), m.error.c_str());
      ++mismatches;
      continue;
    }
    std::printf("  %-14s %9.3f %9.1f %10.1f %8.2f %12.2f\n", m.reader.c_str(), m.seconds, fileMB / m.seconds,
                m.peakMB, m.peakMB / fileMB, (m.peakMB - baseline.peakMB) / fileMB);
  }
#ifndef KELVANE_HAVE_TINYOBJLOADER
  std::printf("  %-14s not built with tinyobjloader\n", "tinyobjloader");
#endif
#ifndef KELVANE_HAVE_ASSIMP
  std::printf("  %-14s not built with assimp\n", "assimp");
#endif
  std::printf("  (x file net: the peak less the baseline, over the file size)\n\n");

  std::printf("Our reader's steps in its best parse, milliseconds:\n");
  std::printf("  %-14s %8s %8s %8s %8s %8s\n", "reader", "pass 1", "alloc", "pass 2", "indices", "lists");
  for (const auto& m : results) {
    if (!m.ok || m.reader.rfind("kelvane", 0) != 0) continue;
    std::printf("  %-14s %8.1f %8.1f %8.1f %8.1f %8.1f\n", m.reader.c_str(), m.steps.scan * 1e3, m.steps.prepare * 1e3,
                m.steps.read * 1e3, m.steps.checkIndices * 1e3, m.steps.listIndices * 1e3);
  }
  std::printf("  (pass 1: open and count; alloc: material library and model arrays; pass 2: read\n"
              "   the values; indices: the range checks; lists: the index lists of the names)\n\n");

  std::printf("Counts (assimp gives each face corner its own vertex, so it is checked by corners):\n");
  std::printf("  %-14s %10s %10s %10s %10s %10s\n", "reader", "vertices", "uvs", "normals", "faces", "corners");
  for (const auto& m : results) {
    if (!m.ok) continue;
    const bool perCorner = m.reader == "assimp";
    std::printf("  %-14s %10s %10llu %10llu %10llu %10s\n", m.reader.c_str(),
                perCorner ? "-" : std::to_string(m.counts.vertices).c_str(), m.counts.uvs, m.counts.normals,
                m.counts.faces, m.counts.corners ? std::to_string(m.counts.corners).c_str() : "-");
    mismatches += Check(m, "faces", m.counts.faces, kQuads);
    if (perCorner) {
      mismatches += Check(m, "corners", m.counts.corners, 4 * kQuads);
      mismatches += Check(m, "corner uvs", m.counts.uvs, 4 * kQuads);
      mismatches += Check(m, "corner normals", m.counts.normals, 4 * kQuads);
    } else {
      mismatches += Check(m, "vertices", m.counts.vertices, kPoints);
      mismatches += Check(m, "uvs", m.counts.uvs, kPoints);
      mismatches += Check(m, "normals", m.counts.normals, kPoints);
      if (m.counts.corners) mismatches += Check(m, "corners", m.counts.corners, 4 * kQuads);
    }
  }
  if (mismatches == 0) std::printf("  all readers agree with the grid\n");
  std::printf("\n");

  // kelvane-1: one thread (KELVANE_THREADS=1); kelvane: two.
  const Measurement& one = results[0];
  const Measurement& ours = results[1];
  for (const auto& m : results) {
    if (m.reader.rfind("kelvane", 0) == 0 || !m.ok) continue;
    if (m.reader == "tinyobjloader") {
      if (one.ok)
        std::printf("  tinyobjloader time / our time, one thread:  %6.2f x   goal >= 3.50 x: %s\n",
                    m.seconds / one.seconds, Verdict(m.seconds / one.seconds >= 3.5));
      if (ours.ok)
        std::printf("  tinyobjloader time / our time, two threads: %6.2f x   goal >= 5.00 x: %s\n",
                    m.seconds / ours.seconds, Verdict(m.seconds / ours.seconds >= 5.0));
    } else if (ours.ok) {
      std::printf("  %s time / our time, two threads:        %6.2f x   (no goal set)\n", m.reader.c_str(),
                  m.seconds / ours.seconds);
    }
  }
#ifndef KELVANE_HAVE_TINYOBJLOADER
  std::printf("  tinyobjloader time / our time:   not built with tinyobjloader (goals >= 3.50 x, >= 5.00 x)\n");
#endif
  for (const Measurement* m : {&one, &ours}) {
    if (!m->ok) continue;
    const double peakRatio = m->peakMB / fileMB;
    std::printf("  %-9s peak / file size:             %6.2f x   goal <= 1.10 x: %s   (net of the baseline: %.2f x)\n",
                m->reader.c_str(), peakRatio, Verdict(peakRatio <= 1.1), (m->peakMB - baseline.peakMB) / fileMB);
  }
  return mismatches ? 1 : 0;
}

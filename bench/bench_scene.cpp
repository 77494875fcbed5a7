// Saving and loading a scene of a million polygons (a 1000 x 1000 grid with texture
// coordinates and normals) beside the least an OBJ round trip of the same mesh costs:
// printing it as OBJ text, and reading that text back into plain arrays with strtod
// and strtol (no scene is built from it).
//
//   bench_scene [folder [quads-per-side]]
//
// Figures are the best of three runs; the ratios matter more than absolute numbers on a
// shared machine. The scene save includes its fsync, as every save does.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "c4d.h"
#include "host_control.h"

namespace fs = std::filesystem;

namespace {

using bench::Seconds;

void Fail(const std::string& what) { bench::Fail("bench_scene", what); }

// The polygon object of an n x n plane generator, with a normal tag and a selection of
// the left half.
BaseDocument* MakeGridScene(LONG n) {
  BaseDocument* doc = BaseDocument::Alloc();
  BaseObject* plane = BaseObject::Alloc(Oplane);
  if (!doc || !plane) Fail("not enough memory for the scene");
  plane->SetName(String("Grid"));
  plane->GetDataInstance()->SetReal(PRIM_PLANE_WIDTH, n);
  plane->GetDataInstance()->SetReal(PRIM_PLANE_HEIGHT, n);
  plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, n);
  plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, n);
  doc->InsertObject(plane, nullptr, nullptr);
  BaseDocument* grid = doc->Polygonize(FALSE);
  BaseDocument::Free(doc);
  if (!grid) Fail("not enough memory to polygonize");
  PolygonObject* op = ToPoly(grid->GetFirstObject());
  auto* normals = static_cast<NormalTag*>(op->MakeVariableTag(Tnormal, n * n, op->GetTag(Tuvw)));
  auto* selection = static_cast<SelectionTag*>(op->MakeTag(Tpolygonselection, normals));
  if (!normals || !selection) Fail("not enough memory for the tags");
  selection->SetName(String("left half"));
  const Vector up(0, 1, 0);
  for (LONG p = 0; p < n * n; ++p) {
    NormalTag::Set(normals->GetDataAddressW(), p, NormalStruct{up, up, up, up});
    if (p % n < n / 2) selection->GetBaseSelect()->Select(p);
  }
  return grid;
}

// The grid as OBJ text: v, vt and vn per point, one f line per quad.
void WriteObj(const std::string& path, LONG n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) Fail("cannot write " + path);
  std::fprintf(f, "o Grid\n");
  for (LONG j = 0; j <= n; ++j)
    for (LONG i = 0; i <= n; ++i) std::fprintf(f, "v %g 0 %g\n", i - n / 2.0, n / 2.0 - j);
  for (LONG j = 0; j <= n; ++j)
    for (LONG i = 0; i <= n; ++i) std::fprintf(f, "vt %.5f %.5f\n", Real(i) / n, Real(j) / n);
  std::fprintf(f, "vn 0 1 0\ng left_half\n");
  for (LONG j = 0; j < n; ++j) {
    for (LONG i = 0; i < n; ++i) {
      const long a = j * (n + 1) + i + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
      std::fprintf(f, "f %ld/%ld/1 %ld/%ld/1 %ld/%ld/1 %ld/%ld/1\n", a, a, b, b, c, c, d, d);
    }
  }
  std::fclose(f);
}

// Reads the OBJ text back into arrays: the parsing an importer cannot avoid.
size_t ReadObj(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) Fail("cannot read " + path);
  std::vector<double> v, vt;
  std::vector<long> faces;
  char line[512];
  while (std::fgets(line, sizeof(line), f)) {
    char* p = line + 2;
    if (line[0] == 'v' && line[1] == ' ') {
      for (int k = 0; k < 3; ++k) v.push_back(std::strtod(p, &p));
    } else if (line[0] == 'v' && line[1] == 't') {
      p = line + 3;
      for (int k = 0; k < 2; ++k) vt.push_back(std::strtod(p, &p));
    } else if (line[0] == 'f') {
      for (;;) {
        char* end = p;
        const long index = std::strtol(p, &end, 10);
        if (end == p) break;
        faces.push_back(index);
        p = *end == '/' ? end + 1 : end;
      }
    }
  }
  std::fclose(f);
  return v.size() + vt.size() + faces.size();
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kelvane_bench_scene";
  const LONG n = argc > 2 ? std::atoi(argv[2]) : 1000;
  fs::create_directories(folder);
  host::EchoConsole(false);
  const std::string scenePath = (folder / "grid.kscn").string();
  const std::string objPath = (folder / "grid.obj").string();

  BaseDocument* doc = MakeGridScene(n);
  std::string error;
  const double save = Seconds([&] {
    if (!host::SaveScene(doc, scenePath, &error)) Fail("save: " + error);
  });
  BaseDocument::Free(doc);
  LONG polygons = 0;
  const double load = Seconds([&] {
    BaseDocument* loaded = host::LoadScene(scenePath, &error);
    if (!loaded) Fail("load: " + error);
    polygons = ToPoly(loaded->GetFirstObject())->GetPolygonCount();
    BaseDocument::Free(loaded);
  });
  const double objWrite = Seconds([&] { WriteObj(objPath, n); });
  size_t values = 0;
  const double objRead = Seconds([&] { values = ReadObj(objPath); });

  const double sceneMB = static_cast<double>(fs::file_size(scenePath)) / 1e6;
  const double objMB = static_cast<double>(fs::file_size(objPath)) / 1e6;
  std::printf("scene of %d polygons with UVW and normal tags and a selection\n", polygons);
  std::printf("  scene file %8.1f MB   save %7.3f s (%6.0f MB/s)   load %7.3f s (%6.0f MB/s)\n", sceneMB, save,
              sceneMB / save, load, sceneMB / load);
  std::printf("  OBJ text   %8.1f MB   print %6.3f s (%6.0f MB/s)   parse %6.3f s (%6.0f MB/s), %zu values\n", objMB,
              objWrite, objMB / objWrite, objRead, objMB / objRead, values);
  std::printf("  ratios: save / OBJ print %.2f   load / OBJ parse %.2f   (below 1: the scene file is faster)\n",
              save / objWrite, load / objRead);
  fs::remove(scenePath);
  fs::remove(objPath);
  return 0;
}

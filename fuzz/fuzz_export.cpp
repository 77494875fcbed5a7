// Fuzzes the OBJ export on every scene the loader accepts: the polygonised copy, the
// pre-pass (export mask, visibility, the n-gon check), the object walk with its file
// naming, and the OBJ and MTL writers.
//
// Input: an option word (four bytes, little-endian), then the payload of a scene file
// as fuzz_scene takes it. Bits 0..15 of the word switch the writer's options in the
// order of kSwitches; bit 16 writes a file set per polygon object (with sub-folders)
// instead of one file, so that object names become file and folder names. Every file
// must land inside the export folder, and every input must leave the host allocator as
// it found it. Scenes whose generators ask for huge meshes are left out (Modest).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "c4d.h"
#include "host_control.h"
#include "objexp.h"
#include "objwrite.h"
#include "optrecord.h"
#include "scene_file.h"

namespace fs = std::filesystem;

namespace {

constexpr ULONG kSwitches[] = {GEOM_GROUPS,     GEOM_REGIONS,      GEOM_MATERIALS,  GEOM_UVS,
                               GEOM_NORMALS,    GEOM_NGONS,        GEOM_FACES,      GEOM_REVERSE_ORDER,
                               GEOM_SWAP_YZ,    GEOM_NEGATE_X,     GEOM_FLIP_V,     GEOM_WHOLE_GROUP_NAMES,
                               XP_OBJECT_LINES, XP_EXACT_NUMBERS,  XP_IGNORE_VISIBILITY, XP_ORDER_BY_MATERIAL};
constexpr int kLayoutFrom = 12;  // kSwitches from here on are layout flags
constexpr ULONG kPerObject = 1u << 16;

// Whether the generators of op's list (and their children) make meshes small enough to
// export within the fuzzer's time limit: a scene may legally ask for planes of 25
// million polygons or arrays of a thousand copies, which take seconds under the
// sanitizers without saying anything about the export.
bool Modest(const BaseObject* op, int arrays = 0) {
  for (; op; op = op->GetNext()) {
    const BaseContainer* bc = op->GetDataInstance();
    const LONG type = op->GetType();
    if (type == Oplane && LLONG(bc->GetLong(PRIM_PLANE_SUBW, 20)) * bc->GetLong(PRIM_PLANE_SUBH, 20) > 10000)
      return false;
    if (type == Ocube &&
        LLONG(bc->GetLong(PRIM_CUBE_SUBX, 1)) * bc->GetLong(PRIM_CUBE_SUBY, 1) * bc->GetLong(PRIM_CUBE_SUBZ, 1) > 125000)
      return false;
    if (type == Oarray && (bc->GetLong(ARRAYOBJECT_COPIES, 7) > 20 || arrays >= 2)) return false;
    if (!Modest(op->GetDown(), arrays + (type == Oarray ? 1 : 0))) return false;
  }
  return true;
}

fs::path g_root;    // this process's folder: holds only the export folder
fs::path g_folder;  // where the files go

void RemoveAll() {
  std::error_code ec;
  fs::remove_all(g_root, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  const fs::path parent = ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
  g_root = parent / ("kelvane_fuzz_export_" + std::to_string(::getpid()));
  g_folder = g_root / "out";
  std::error_code ec;
  fs::create_directories(g_folder, ec);
  if (ec) {
    std::fprintf(stderr, "fuzz_export: cannot create %s\n", g_folder.c_str());
    std::abort();
  }
  std::atexit(RemoveAll);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const ULONG word = ULONG(data[0]) | ULONG(data[1]) << 8 | ULONG(data[2]) << 16 | ULONG(data[3]) << 24;
  const LLONG before = host::GetMemoryStats().liveBlocks;
  {
    std::string error;
    BaseDocument* doc = host::internal::DecodeScene(std::string(reinterpret_cast<const char*>(data + 4), size - 4),
                                                    host::internal::kSceneVersion, &error);
    if (doc && !Modest(doc->GetFirstObject())) {
      BaseDocument::Free(doc);
      doc = nullptr;
    }
    if (doc) {
      PluginOpts opts;
      opts.SetFromTable(kExportPresetTable[0]);
      opts.geomFlags &= ~(GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS | GEOM_UVS | GEOM_NORMALS | GEOM_NGONS | GEOM_FACES);
      for (int i = 0; i < int(sizeof(kSwitches) / sizeof(kSwitches[0])); ++i)
        if (word & (1u << i)) (i < kLayoutFrom ? opts.geomFlags : opts.layoutFlags) |= kSwitches[i];
      if (word & kPerObject) opts.layoutFlags |= XP_OBJECT_SUBFOLDERS | XP_EXISTING_NUMBER;
      const ConfirmedExportOpts adjusted = AdjustConfirmedExportOpts(opts);

      ObjExportContext* ctx = ObjExportContext::Alloc();
      if (ctx) {
        ctx->options = &opts;
        ctx->ignoreVisibility = adjusted.ignoreVisibility;
        ctx->faceForm = adjusted.faceForm;
        ctx->exportMode = (word & kPerObject) ? 2 : 0;
        // The n-gon question takes its default answer (Yes): polygons are written
        // separately.
        if (PrepareExport(ctx, doc) == EXPORT_PREPARED) {
          ctx->baseDirectory = Filename(String(g_folder.string().c_str()));
          ctx->objFileName = Filename(String((g_folder / "scene.obj").string().c_str()));
          ctx->mtlFileName = Filename(String((g_folder / "scene.mtl").string().c_str()));
          BaseObject* first = ctx->sourceDocument->GetFirstObject();
          Bool written = ctx->exportMode == 2 || OpenFileSet(ctx);
          if (written) {
            if (ctx->exportMode == 2) ctx->nameObjectFiles = NameObjectFiles;
            written = WalkObjects(ctx, first, TRUE, 0, nullptr, ctx->baseDirectory);
          }
          CloseFileSet(ctx, written);
        }
        ObjExportContext::Free(ctx);
      }
      BaseDocument::Free(doc);
    }
  }
  host::FreeDocuments();
  if (host::GetMemoryStats().liveBlocks != before) {
    std::fprintf(stderr, "fuzz_export: host blocks leaked:\n");
    for (const auto& line : host::LeakReport()) std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
  }
  // Nothing may land beside the export folder, whatever the objects are called.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(g_root, ec)) {
    if (entry.path() != g_folder) {
      std::fprintf(stderr, "fuzz_export: a file outside the export folder: %s\n", entry.path().c_str());
      std::abort();
    }
  }
  for (const auto& entry : fs::directory_iterator(g_folder, ec)) fs::remove_all(entry.path(), ec);
  host::ClearConsole();
  host::ClearUserLog();
  return 0;
}

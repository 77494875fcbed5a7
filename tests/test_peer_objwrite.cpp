// What the OBJ writer gives, read by the peers: tinyobjloader and assimp must find the
// same points, faces (n-gons as one face each) and materials as the writer wrote.
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <tiny_obj_loader.h>

#include <string>
#include <vector>

#include "host_fixture.h"
#include "iofaceset.h"
#include "lib_ngon.h"
#include "main.h"
#include "objexp.h"
#include "objwrite.h"
#include "plugopts.h"
#include "scene_helpers.h"

namespace {

struct Counts {
  size_t points = 0, faces = 0, corners = 0, materials = 0;
};

class PeerTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    doc.reset(BaseDocument::Alloc());
  }
  void TearDown() override {
    doc.reset();
    PluginTest::TearDown();
  }

  // Writes every polygon object of the document into one OBJ/MTL pair.
  std::string Write(ULONG geom, ULONG layout) {
    PluginOpts opts;
    opts.geomFlags = geom;
    opts.layoutFlags = layout;
    const std::string path = TempDir() + "/peer model.obj";
    ObjExportContext* ctx = ObjExportContext::Alloc();
    ctx->options = &opts;
    ctx->objFileName = Filename(String(path.c_str()));
    ctx->mtlFileName = Filename(String((TempDir() + "/peer model.mtl").c_str()));
    bool ok = OpenFileSet(ctx);
    for (BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) ok = ok && WriteObject(ctx, op, op->GetMg());
    ok = CloseFileSet(ctx, ok) && ok;
    ObjExportContext::Free(ctx);
    EXPECT_TRUE(ok);
    return path;
  }

  // What the writer put in the file, counted from its lines.
  static Counts Written(const std::string& path) {
    Counts c;
    const std::string text = ReadFile(path);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(pos, end - pos);
      if (line.compare(0, 2, "v ") == 0) ++c.points;
      if (line.compare(0, 2, "f ") == 0) {
        ++c.faces;
        for (size_t i = 1; i < line.size(); ++i) c.corners += line[i] == ' ';
      }
      pos = end + 1;
    }
    // The library's file name was made safe: "peer model.mtl" is created as peer_model.mtl.
    const std::string mtl = ReadFile(path.substr(0, path.rfind('/')) + "/peer_model.mtl");
    for (size_t at = mtl.find("newmtl "); at != std::string::npos; at = mtl.find("newmtl ", at + 1)) ++c.materials;
    return c;
  }

  static Counts Tiny(const std::string& path) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.mtl_search_path = path.substr(0, path.rfind('/'));
    tinyobj::ObjReader reader;
    EXPECT_TRUE(reader.ParseFromFile(path, config)) << reader.Error();
    Counts c;
    c.points = reader.GetAttrib().vertices.size() / 3;
    for (const auto& shape : reader.GetShapes()) {
      c.faces += shape.mesh.num_face_vertices.size();
      c.corners += shape.mesh.indices.size();
    }
    c.materials = reader.GetMaterials().size();
    return c;
  }

  // assimp gives every corner a vertex of its own, and adds a default material.
  static Counts Assimp(const std::string& path) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    EXPECT_NE(scene, nullptr) << importer.GetErrorString();
    Counts c;
    if (!scene) return c;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
      c.faces += scene->mMeshes[m]->mNumFaces;
      c.corners += scene->mMeshes[m]->mNumVertices;
    }
    c.materials = scene->mNumMaterials;
    return c;
  }

  void Scene() {
    PolygonObject* grid = ToPoly(InsertLast(doc.get(), Grid(4, 3), "grid part"));
    // Two quads as one n-gon, a triangle, selections as group and material.
    const std::vector<LONG> outline = {E(0, 0), E(1, 0), E(1, 1), E(1, 2), E(0, 2), E(0, 3) | NGON_EDGE_SEGMENTEND};
    NgonBase* base = grid->GetNgonBase();
    ASSERT_NE(base->BuildNgon(nullptr, outline.data(), 0, 6, grid->GetPolygonR(), grid->GetPointR()), NOTOK);
    ASSERT_TRUE(base->InitMap());
    grid->GetPolygonW()[5].d = grid->GetPolygonW()[5].c;
    SelectionTag* sel = static_cast<SelectionTag*>(grid->MakeTag(Tpolygonselection, LastTagOf(grid)));
    sel->SetName(String("red #1"));
    sel->GetBaseSelect()->SelectAll(3, 7);
    for (const char* name : {"red #1", "blue"}) {
      Material* mat = Material::Alloc();
      mat->SetName(String(name));
      doc->InsertMaterial(mat);
      TextureTag* tag = static_cast<TextureTag*>(grid->MakeTag(Ttexture, LastTagOf(grid)));
      tag->SetMaterial(mat);
      if (std::string(name) == "red #1") tag->GetDataInstance()->SetString(TEXTURETAG_RESTRICTION, String(name));
    }
    InsertLast(doc.get(), Grid(2, 2), "second");
  }

  DocPtr doc;
};

TEST_F(PeerTest, PeersReadTheSameCountsForEveryForm) {
  Scene();
  const ULONG all = GEOM_FACES | GEOM_NGONS | GEOM_GROUPS | GEOM_MATERIALS | GEOM_SCALE_MULTIPLY;
  for (const ULONG extra : {0u, ULONG(GEOM_UVS), ULONG(GEOM_NORMALS), ULONG(GEOM_UVS | GEOM_NORMALS),
                            ULONG(GEOM_UVS | GEOM_NORMALS | GEOM_REVERSE_ORDER)}) {
    const std::string path = Write(all | extra, XP_OBJECT_LINES);
    const Counts written = Written(path), tiny = Tiny(path), assimp = Assimp(path);
    SCOPED_TRACE(extra);
    EXPECT_EQ(written.materials, 3u);  // blue (the object's own), red__1, default_Mat
    EXPECT_EQ(written.faces, 12u + 4u - 1u);  // the n-gon's two quads are one face
    EXPECT_EQ(tiny.points, written.points);
    EXPECT_EQ(tiny.faces, written.faces);
    EXPECT_EQ(tiny.corners, written.corners);
    EXPECT_EQ(tiny.materials, written.materials);
    EXPECT_EQ(assimp.faces, written.faces);
    EXPECT_EQ(assimp.corners, written.corners);
    EXPECT_EQ(assimp.materials, written.materials + 1);
  }
}

}  // namespace

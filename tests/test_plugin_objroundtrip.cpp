// Round trips: OBJ files read by the import command, written by the OBJ writer and read
// again give the same objects (points, polygons and their corner order, n-gons, texture
// coordinates, selections, materials), exactly with exact numbers and within the
// written precision without.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "main.h"
#include "objexp.h"
#include "objwrite.h"
#include "plugin_ids.h"
#include "plugopts.h"
#include "scene_helpers.h"

namespace {

// Every feature the writer carries, in a file of a few lines: objects, groups, a region,
// materials, an n-gon, triangles, texture coordinates and normals.
const char* kFeatures =
    "mtllib features.mtl\n"
    "o first\n"
    "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 2 1 0\nv 1 1 0\nv 0 1 0\nv 0.5 2.125 0.000001\nv 12345.67 -3.25e-7 1e22\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.3333333 0.6666667\n"
    "vn 0 0 1\nvn 0 1 0\n"
    "g top\nusemtl red\n"
    "f 1/1/1 2/2/1 3/3/1 4/3/1 5/4/1 6/4/1\n"
    "g bottom\n# r skin\nusemtl blue\n"
    "f 6/1/2 5/2/2 7/5/2\nf 5/1/1 4/2/1 8/3/1\n"
    "o second\n"
    "v 5 5 5\nv 6 5 5\nv 6 6 5\nv 5 6 5\n"
    "usemtl red\nf 9/1 10/2 11/3 12/4\n";
const char* kFeaturesMtl = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\nKs 1 1 1\nNs 30\n";

class RoundTripTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    importOpts.layoutFlags = IMP_OBJECT_PER_MESH;
    importOpts.geomFlags =
        GEOM_UVS | GEOM_NORMALS | GEOM_NGONS | GEOM_GROUPS | GEOM_REGIONS | GEOM_SCALE_MULTIPLY | GEOM_WHOLE_GROUP_NAMES;
    importOpts.materialFlags = MAT_NEW | MAT_COLOR | MAT_SPECULAR | MAT_TEXTURE_TAGS | MAT_BUILD;
    importOpts.scale = 1;
    // Overlapping groups combined: a face in groups "a" and "b" is written under "g a b".
    exportOpts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS | GEOM_NGONS | GEOM_GROUPS | GEOM_REGIONS |
                           GEOM_MATERIALS | GEOM_SCALE_MULTIPLY | GEOM_WHOLE_GROUP_NAMES;
    exportOpts.layoutFlags = XP_OBJECT_LINES | XP_EXACT_NUMBERS;
    exportOpts.scale = 1;
  }
  void TearDown() override {
    docs.clear();
    PluginTest::TearDown();
  }

  // A new document with path imported into it, or null.
  BaseDocument* Import(const std::string& path) {
    PresetStore store;
    if (!store.Load()) return nullptr;
    importOpts.CopyTo(&store.importOpts);
    if (!store.Save()) return nullptr;
    docs.emplace_back(BaseDocument::Alloc());
    host::QueueFileSelection(path);
    CommandData* command = FindPlugin(ID_IMPORT_PLUGIN, PLUGINTYPE_COMMAND)->GetCommand();
    return command->Execute(docs.back().get()) ? docs.back().get() : nullptr;
  }

  // Every polygon object of doc written into one file set.
  bool Export(BaseDocument* doc, const std::string& path) {
    ObjExportContext* ctx = ObjExportContext::Alloc();
    ctx->options = &exportOpts;
    ctx->objFileName = Filename(String(path.c_str()));
    Filename mtl = ctx->objFileName;
    mtl.SetSuffix(String("mtl"));
    ctx->mtlFileName = mtl;
    ctx->scaleFactor = exportOpts.ScaleFactor();
    bool ok = OpenFileSet(ctx);
    for (PolygonObject* op : Polygons(doc)) ok = ok && WriteObject(ctx, op, op->GetMg());
    ok = CloseFileSet(ctx, ok) && ok;
    ObjExportContext::Free(ctx);
    return ok;
  }

  static std::vector<PolygonObject*> Polygons(BaseDocument* doc) {
    std::vector<PolygonObject*> all;
    std::function<void(BaseObject*)> walk = [&](BaseObject* op) {
      for (; op; op = op->GetNext()) {
        if (op->GetType() == Opolygon) all.push_back(ToPoly(op));
        walk(op->GetDown());
      }
    };
    walk(doc->GetFirstObject());
    return all;
  }

  // Everything a round trip keeps of one object, as text; numbers within tolerance
  // (0: exactly) of the first object's are printed as the first object's.
  static std::map<std::string, std::vector<LONG>> Selections(PolygonObject* op) {
    std::map<std::string, std::vector<LONG>> out;
    for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
      if (tag->GetType() == Tpolygonselection) out[Name(tag)] = SelectedIndices(tag);
    return out;
  }
  static std::vector<std::string> Materials(PolygonObject* op) {
    std::vector<std::string> out;
    for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
      if (tag->GetType() == Ttexture) {
        BaseMaterial* mat = static_cast<TextureTag*>(tag)->GetMaterial();
        out.push_back(Name(mat) + "@" + tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std());
      }
    return out;
  }

  void ExpectSameObjects(BaseDocument* a, BaseDocument* b, double tolerance) {
    const std::vector<PolygonObject*> as = Polygons(a), bs = Polygons(b);
    ASSERT_EQ(as.size(), bs.size());
    for (size_t k = 0; k < as.size(); ++k) {
      PolygonObject *p = as[k], *q = bs[k];
      SCOPED_TRACE(Name(p));
      EXPECT_EQ(Name(p), Name(q));
      ASSERT_EQ(p->GetPointCount(), q->GetPointCount());
      for (LONG i = 0; i < p->GetPointCount(); ++i) {
        const Vector d = p->GetPointR()[i] - q->GetPointR()[i];
        const Vector& v = p->GetPointR()[i];
        const double allowed = tolerance * std::max({1.0, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
        ASSERT_TRUE(std::fabs(d.x) <= allowed && std::fabs(d.y) <= allowed && std::fabs(d.z) <= allowed)
            << "point " << i;
      }
      ASSERT_EQ(p->GetPolygonCount(), q->GetPolygonCount());
      for (LONG i = 0; i < p->GetPolygonCount(); ++i) {
        const CPolygon &x = p->GetPolygonR()[i], &y = q->GetPolygonR()[i];
        ASSERT_TRUE(x.a == y.a && x.b == y.b && x.c == y.c && x.d == y.d) << "polygon " << i;
      }
      EXPECT_EQ(p->GetNgonCount(), q->GetNgonCount());
      const UVWTag* tp = static_cast<const UVWTag*>(p->GetTag(Tuvw));
      const UVWTag* tq = static_cast<const UVWTag*>(q->GetTag(Tuvw));
      ASSERT_EQ(tp != nullptr, tq != nullptr);
      for (LONG i = 0; tp && i < p->GetPolygonCount(); ++i) {
        const UVWStruct s = tp->GetSlow(i), t = tq->GetSlow(i);
        for (int c = 0; c < 4; ++c) {
          const Vector& u = (&s.a)[c];
          const Vector& w = (&t.a)[c];
          ASSERT_NEAR(u.x, w.x, tolerance > 0 ? 0.5e-5 : 0.0) << "uv of polygon " << i;
          ASSERT_NEAR(u.y, w.y, tolerance > 0 ? 0.5e-5 : 0.0) << "uv of polygon " << i;
        }
      }
      EXPECT_EQ(Selections(p), Selections(q));
      EXPECT_EQ(Materials(p), Materials(q));
    }
  }

  PluginOpts importOpts, exportOpts;
  std::vector<DocPtr> docs;
};

TEST_F(RoundTripTest, TheFeatureFileComesBackExactly) {
  WriteFile("features.mtl", kFeaturesMtl);
  BaseDocument* first = Import(WriteFile("features.obj", kFeatures));
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(Polygons(first).size(), 2u);
  ASSERT_EQ(Polygons(first)[0]->GetNgonCount(), 1);
  const std::string written = TempDir() + "/written.obj";
  ASSERT_TRUE(Export(first, written));
  BaseDocument* second = Import(written);
  ASSERT_NE(second, nullptr);
  ExpectSameObjects(first, second, 0.0);
  // The library carries the values the host materials hold.
  EXPECT_NE(ReadFile(TempDir() + "/written.mtl").find("newmtl blue\nKd 0.000000 0.000000 1.000000\n"),
            std::string::npos)
      << ReadFile(TempDir() + "/written.mtl");
}

TEST_F(RoundTripTest, SixDigitsKeepTheSampleWithinTheirPrecision) {
  exportOpts.layoutFlags = XP_OBJECT_LINES;
  BaseDocument* first = Import(SourceDir() + "/samples/robot.obj");
  ASSERT_NE(first, nullptr);
  const std::string written = TempDir() + "/robot.obj";
  ASSERT_TRUE(Export(first, written));
  BaseDocument* second = Import(written);
  ASSERT_NE(second, nullptr);
  ExpectSameObjects(first, second, 1e-5);
}

TEST_F(RoundTripTest, ExactNumbersKeepPointsThatSixDigitsWouldRound) {
  const char* text = "v 12345.67 0.1 -7.000001\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  BaseDocument* first = Import(WriteFile("far.obj", text));
  ASSERT_NE(first, nullptr);
  for (const bool exact : {false, true}) {
    exportOpts.layoutFlags = XP_OBJECT_LINES | (exact ? XP_EXACT_NUMBERS : 0u);
    ASSERT_TRUE(Export(first, TempDir() + "/far2.obj"));
    BaseDocument* second = Import(TempDir() + "/far2.obj");
    ASSERT_NE(second, nullptr);
    const Vector p = Polygons(second)[0]->GetPointR()[0];
    EXPECT_EQ(p.x == 12345.67 && p.z == -7.000001, exact) << p.x << " " << p.z;
  }
}

}  // namespace

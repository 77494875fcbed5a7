// The OBJ and MTL writers on small scenes built in memory: the text they give for each
// option (golden text below), index bases across objects, n-gons, selections as groups,
// regions and materials, the material library, and what failures leave on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "fileio.h"
#include "host_fixture.h"
#include "iomesh.h"
#include "lib_ngon.h"
#include "main.h"
#include "objexp.h"
#include "objwrite.h"
#include "plugopts.h"
#include "scene_helpers.h"

namespace {

const int kHeaderLines = 9;

class ObjWriteTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    doc.reset(BaseDocument::Alloc());
    opts.geomFlags = GEOM_FACES | GEOM_NGONS;
    opts.layoutFlags = 0;
    objPath = TempDir() + "/out.obj";
    mtlPath = TempDir() + "/out.mtl";
  }
  void TearDown() override {
    doc.reset();
    PluginTest::TearDown();
  }

  ObjExportContext* NewContext() {
    ObjExportContext* ctx = ObjExportContext::Alloc();
    if (!ctx) return nullptr;
    ctx->options = &opts;
    ctx->objFileName = Filename(String(objPath.c_str()));
    ctx->mtlFileName = Filename(String(mtlPath.c_str()));
    ctx->scaleFactor = opts.ScaleFactor();
    return ctx;
  }

  // Writes the objects into one file set; false when a step failed.
  bool Write(const std::vector<BaseObject*>& objects) {
    ObjExportContext* ctx = NewContext();
    contextMade = ctx != nullptr;
    bool ok = ctx && OpenFileSet(ctx);
    for (BaseObject* op : objects)
      if (ok) ok = WriteObject(ctx, op, op->GetMg());
    if (ctx) ok = CloseFileSet(ctx, ok) && ok;
    ObjExportContext::Free(ctx);
    return ok;
  }

  // The written OBJ text after the header, without comment lines and empty lines
  // (unless keepComments).
  std::string Body(bool keepComments = false) const {
    const std::string text = ReadFile(objPath);
    std::string out;
    size_t pos = 0;
    for (int line = 0; pos < text.size(); ++line) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string l = text.substr(pos, end - pos);
      pos = end + 1;
      if (line < kHeaderLines || l.empty()) continue;
      if (!keepComments && l[0] == '#' && l.compare(0, 4, "# r ") != 0) continue;
      out += l + "\n";
    }
    return out;
  }

  PolygonObject* Add(PolygonObject* op, const char* name) {
    return ToPoly(InsertLast(doc.get(), op, name));
  }

  // Points (0,0,0) (1,0,0) (1,1,0) (0,1,0) (2,0,0): a quad and a triangle.
  PolygonObject* QuadAndTriangle(const char* name = "mixed") {
    PolygonObject* op = PolygonObject::Alloc(5, 2);
    Vector* p = op->GetPointW();
    p[0] = Vector(0, 0, 0);
    p[1] = Vector(1, 0, 0);
    p[2] = Vector(1, 1, 0);
    p[3] = Vector(0, 1, 0);
    p[4] = Vector(2, 0, 0);
    op->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
    op->GetPolygonW()[1] = CPolygon(1, 4, 2, 2);
    return Add(op, name);
  }

  // Tags are appended: their order is the order of the calls.
  SelectionTag* Select(BaseObject* op, const char* name, const std::vector<LONG>& polygons) {
    SelectionTag* tag = static_cast<SelectionTag*>(op->MakeTag(Tpolygonselection, LastTagOf(op)));
    tag->SetName(String(name));
    for (LONG i : polygons) tag->GetBaseSelect()->Select(i);
    return tag;
  }
  void Marker(BaseObject* op, LONG type, const std::vector<const char*>& names) {
    BaseTag* tag = op->MakeTag(type, LastTagOf(op));
    BaseContainer* data = tag->GetDataInstance();
    data->SetLong(IOTAG_NAME_COUNT, LONG(names.size()));
    for (size_t i = 0; i < names.size(); ++i) data->SetString(IOTAG_FIRST_NAME + LONG(i), String(names[i]));
  }
  Material* NewMaterial(const char* name) {
    Material* mat = Material::Alloc();
    mat->SetName(String(name));
    doc->InsertMaterial(mat);
    return mat;
  }
  TextureTag* Texture(BaseObject* op, BaseMaterial* mat, const char* restriction = "") {
    TextureTag* tag = static_cast<TextureTag*>(op->MakeTag(Ttexture, LastTagOf(op)));
    tag->SetMaterial(mat);
    tag->GetDataInstance()->SetString(TEXTURETAG_RESTRICTION, String(restriction));
    return tag;
  }

  DocPtr doc;
  PluginOpts opts;
  std::string objPath, mtlPath;
  bool contextMade = false;  // the last Write had its context
};

// --- the face forms ------------------------------------------------------------------------

TEST_F(ObjWriteTest, EveryFaceFormOfAQuadAndATriangle) {
  // The flat projection gives u = x / 2 and v = 1 - y here; the normals all point along z.
  struct Case {
    ULONG geom;
    const char* faces;
  } cases[] = {
      {0, "f 1 2 3 4\nf 2 5 3\n"},
      {GEOM_REVERSE_ORDER, "f 4 3 2 1\nf 3 5 2\n"},
      {GEOM_UVS, "f 1/1 2/2 3/3 4/4\nf 2/2 5/5 3/3\n"},
      {GEOM_UVS | GEOM_REVERSE_ORDER, "f 4/4 3/3 2/2 1/1\nf 3/3 5/5 2/2\n"},
      {GEOM_NORMALS, "f 1//1 2//1 3//1 4//1\nf 2//1 5//1 3//1\n"},
      {GEOM_NORMALS | GEOM_REVERSE_ORDER, "f 4//1 3//1 2//1 1//1\nf 3//1 5//1 2//1\n"},
      {GEOM_UVS | GEOM_NORMALS, "f 1/1/1 2/2/1 3/3/1 4/4/1\nf 2/2/1 5/5/1 3/3/1\n"},
      {GEOM_UVS | GEOM_NORMALS | GEOM_REVERSE_ORDER, "f 4/4/1 3/3/1 2/2/1 1/1/1\nf 3/3/1 5/5/1 2/2/1\n"},
  };
  QuadAndTriangle();
  for (const Case& c : cases) {
    opts.geomFlags = GEOM_FACES | c.geom;
    ASSERT_TRUE(Write({doc->GetFirstObject()}));
    std::string expected = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\n";
    if (c.geom & GEOM_UVS)
      expected += "vt 0.00000 1.00000\nvt 0.50000 1.00000\nvt 0.50000 0.00000\nvt 0.00000 0.00000\nvt 1.00000 1.00000\n";
    if (c.geom & GEOM_NORMALS) expected += "vn 0 0 1\n";
    EXPECT_EQ(Body(), expected + c.faces) << "geomFlags " << c.geom;
  }
}

TEST_F(ObjWriteTest, SectionsEndWithTheirCountsAndTheHeaderNamesTheProgram) {
  QuadAndTriangle();
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS;
  ASSERT_TRUE(Write({doc->GetFirstObject()}));
  const std::string text = ReadFile(objPath);
  const std::string rule = "#  " + std::string(74, '=') + "\n";
  EXPECT_EQ(text.compare(0, rule.size(), rule), 0);
  EXPECT_NE(text.find("#  Kelvane "), std::string::npos);
  EXPECT_NE(text.find("#     (a commercial plugin for Cinema 4D PC & Mac, R9.6 or later)\n"), std::string::npos);
  EXPECT_NE(text.find("#  https://kelvane.org/\n#  \n" + rule), std::string::npos);
  for (const char* count : {"# 5 vertices\n\n", "# 5 texture coordinates\n\n", "# 1 vertex normals\n\n", "# 2 facets\n\n"})
    EXPECT_NE(text.find(count), std::string::npos) << count;
}

TEST_F(ObjWriteTest, UncompressedTablesGiveEveryCornerItsOwnEntry) {
  QuadAndTriangle();
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS;
  opts.layoutFlags = XP_NO_UV_COMPRESSION | XP_NO_NORMAL_COMPRESSION;
  ASSERT_TRUE(Write({doc->GetFirstObject()}));
  const std::string body = Body();
  EXPECT_NE(body.find("f 1/1/1 2/2/2 3/3/3 4/4/4\nf 2/5/5 5/6/6 3/7/7\n"), std::string::npos) << body;
  EXPECT_NE(ReadFile(objPath).find("# 7 texture coordinates"), std::string::npos);
}

// --- several objects, n-gons, empty objects ------------------------------------------------

TEST_F(ObjWriteTest, IndicesOfALaterObjectContinueFromTheEarlierOnes) {
  QuadAndTriangle("first");
  QuadAndTriangle("second");
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS;
  opts.layoutFlags = XP_OBJECT_LINES;
  ASSERT_TRUE(Write({doc->GetFirstObject(), doc->GetFirstObject()->GetNext()}));
  const std::string body = Body();
  EXPECT_NE(body.find("o first\n"), std::string::npos);
  EXPECT_NE(body.find("o second\n"), std::string::npos);
  EXPECT_NE(body.find("f 6/6/2 7/7/2 8/8/2 9/9/2\nf 7/7/2 10/10/2 8/8/2\n"), std::string::npos) << body;
}

TEST_F(ObjWriteTest, AnNgonIsWrittenOnceAtItsFirstMember) {
  // Quads 0 and 1 of a 3 x 1 grid form one six-corner n-gon; quad 2 stays alone.
  PolygonObject* op = Add(Grid(3, 1), "strip");
  NgonBase* base = op->GetNgonBase();
  const std::vector<LONG> outline = {E(0, 0), E(1, 0), E(1, 1), E(1, 2), E(0, 2), E(0, 3) | NGON_EDGE_SEGMENTEND};
  ASSERT_NE(base->BuildNgon(nullptr, outline.data(), 0, LONG(outline.size()), op->GetPolygonR(), op->GetPointR()),
            NOTOK);
  ASSERT_TRUE(base->InitMap());
  struct Case {
    ULONG geom;
    const char* faces;
  } cases[] = {
      {GEOM_NGONS, "f 1 2 3 7 6 5\nf 3 4 8 7\n"},
      {GEOM_NGONS | GEOM_REVERSE_ORDER, "f 5 6 7 3 2 1\nf 7 8 4 3\n"},
      {0, "f 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\n"},
  };
  for (const Case& c : cases) {
    opts.geomFlags = GEOM_FACES | c.geom;
    ASSERT_TRUE(Write({op}));
    const std::string body = Body();
    EXPECT_EQ(body.substr(body.find("f ")), c.faces) << c.geom;
  }
  ObjExportContext* ctx = NewContext();
  ctx->exportNgons = FALSE;  // the user declined n-gons
  opts.geomFlags = GEOM_FACES | GEOM_NGONS;
  ASSERT_TRUE(OpenFileSet(ctx) && WriteObject(ctx, op, op->GetMg()) && CloseFileSet(ctx));
  ObjExportContext::Free(ctx);
  EXPECT_NE(ReadFile(objPath).find("# 3 facets"), std::string::npos);
}

TEST_F(ObjWriteTest, AnNgonLongerThanTheLineBufferIsOneLine) {
  // 300 quads in a row as one n-gon: 602 corners, several thousand characters.
  const LONG n = 300;
  PolygonObject* op = Add(Grid(n, 1), "long");
  std::vector<LONG> outline;
  for (LONG i = 0; i < n; ++i) outline.push_back(E(i, 0));
  outline.push_back(E(n - 1, 1));
  for (LONG i = n - 1; i >= 0; --i) outline.push_back(E(i, 2));
  outline.push_back(E(0, 3) | NGON_EDGE_SEGMENTEND);
  NgonBase* base = op->GetNgonBase();
  ASSERT_NE(base->BuildNgon(nullptr, outline.data(), 0, LONG(outline.size()), op->GetPolygonR(), op->GetPointR()),
            NOTOK);
  ASSERT_TRUE(base->InitMap());
  opts.geomFlags = GEOM_FACES | GEOM_NGONS | GEOM_UVS | GEOM_NORMALS;
  ASSERT_TRUE(Write({op}));
  const std::string body = Body();
  const std::string face = body.substr(body.find("f "));
  ASSERT_EQ(std::count(face.begin(), face.end(), '\n'), 1) << "one face line";
  EXPECT_EQ(std::count(face.begin(), face.end(), ' '), 2 * n + 2);
  EXPECT_EQ(face.compare(0, 16, "f 1/1/1 2/2/1 3/"), 0) << face.substr(0, 40);
}

TEST_F(ObjWriteTest, PointsWithoutFacesAreWrittenAndSaidSo) {
  PolygonObject* op = Add(PolygonObject::Alloc(2, 0), "cloud");
  op->GetPointW()[1] = Vector(1, 2, 3);
  ASSERT_TRUE(Write({op}));
  EXPECT_EQ(Body(), "v 0 0 0\nv 1 2 3\n");
  EXPECT_TRUE(ConsoleHas("Object named: cloud has 2 vertices, but zero faces - No faces will be written."));
}

TEST_F(ObjWriteTest, TheStatusBarFollowsEvery64ItemsWhenShown) {
  // 10 x 10 quads: 121 points and 100 faces, 221 items.
  PolygonObject* op = Add(Grid(10, 10), "grid");
  for (const ULONG shown : {0u, ULONG(PROGRESS_STATUS_BAR)}) {
    ObjExportContext* ctx = NewContext();
    ctx->progressShown = shown;
    ctx->progressTotal = 221;
    const LLONG before = host::Status().barUpdates;
    ASSERT_TRUE(OpenFileSet(ctx) && WriteObject(ctx, op, Matrix()) && CloseFileSet(ctx));
    EXPECT_EQ(ctx->progressCount, 221u);
    ObjExportContext::Free(ctx);
    // At items 64, 128 and 192: 28, 57 and 86 %.
    EXPECT_EQ(host::Status().barUpdates - before, shown ? 3 : 0);
    if (shown) {
      EXPECT_EQ(host::Status().bar, 86);
    }
  }
}

// --- coordinates ----------------------------------------------------------------------------

TEST_F(ObjWriteTest, AxisOptionsScaleAndPlacementActOnEveryPoint) {
  struct Case {
    ULONG geom;
    LONG scale;
    Vector offset;
    const char* vertex;
  } cases[] = {
      {0, 1, Vector(), "v 1 2 3\n"},
      {GEOM_SWAP_YZ | GEOM_NEGATE_Z, 1, Vector(), "v 1 -3 2\n"},
      {GEOM_NEGATE_X, 1, Vector(), "v -1 2 3\n"},
      {GEOM_SCALE_MULTIPLY, 100, Vector(), "v 100 200 300\n"},
      {0, 4, Vector(), "v 0.25 0.5 0.75\n"},
      {0, 1, Vector(10, 0, -0.5), "v 11 2 2.5\n"},
  };
  for (const Case& c : cases) {
    PolygonObject* op = PolygonObject::Alloc(1, 0);
    op->GetPointW()[0] = Vector(1, 2, 3);
    Add(op, "p");
    Matrix mg;
    mg.off = c.offset;
    op->SetMg(mg);
    opts.geomFlags = GEOM_FACES | c.geom;
    opts.scale = c.scale;
    ASSERT_TRUE(Write({op}));
    EXPECT_EQ(Body(), c.vertex) << c.geom;
    op->Remove();
    BaseObject* gone = op;
    BaseObject::Free(gone);
  }
}

TEST_F(ObjWriteTest, TextureCoordinatesFollowTheFlipsAndShareWithinFourDecimals) {
  PolygonObject* op = QuadAndTriangle();
  UVWTag* uvw = UVWTag::Alloc(2);
  ASSERT_NE(uvw, nullptr);
  op->InsertTag(uvw);
  // Quad corners; the triangle repeats two of them, one a hair away.
  uvw->SetSlow(0, UVWStruct{Vector(0.25, 0.25, 0), Vector(0.75, 0.25, 0), Vector(0.75, 0.75, 0), Vector(0.25, 0.75, 0)});
  uvw->SetSlow(1, UVWStruct{Vector(0.750004, 0.25009, 0), Vector(0.12345, 0, 0), Vector(0.12355, 0, 0),
                            Vector(0.12355, 0, 0)});
  struct Case {
    ULONG geom, layout;
    const char* table;
  } cases[] = {
      {0, 0,
       "vt 0.25000 0.25000\nvt 0.75000 0.25000\nvt 0.75000 0.75000\nvt 0.25000 0.75000\nvt 0.12345 0.00000\n"
       "vt 0.12355 0.00000\n"},
      {GEOM_FLIP_V, 0,
       "vt 0.25000 0.75000\nvt 0.75000 0.75000\nvt 0.75000 0.25000\nvt 0.25000 0.25000\nvt 0.12345 1.00000\n"
       "vt 0.12355 1.00000\n"},
      {GEOM_FLIP_U, XP_EXACT_NUMBERS,
       // Values that are floats print as floats; 1 - 0.12345f is no float, so it prints as a double.
       "vt 0.75 0.25\nvt 0.25 0.25\nvt 0.25 0.75\nvt 0.75 0.75\nvt 0.249996 0.25009\n"
       "vt 0.8765499964356422 0\nvt 0.87645 0\n"},
  };
  for (const Case& c : cases) {
    opts.geomFlags = GEOM_UVS | c.geom;
    opts.layoutFlags = c.layout;
    ASSERT_TRUE(Write({op}));
    const std::string body = Body();
    EXPECT_EQ(body.substr(body.find("vt ")), c.table) << c.geom;
  }
}

// --- selections ---------------------------------------------------------------------------

TEST_F(ObjWriteTest, SelectionsBecomeGroupRegionAndMaterialLines) {
  PolygonObject* op = Add(Grid(3, 1), "body");
  Marker(op, IOTAG_GROUP_ID, {"arm", "leg"});
  Marker(op, IOTAG_REGION_ID, {"skin"});
  Select(op, "arm", {0, 1});
  Select(op, "leg", {1, 2, 7});  // 1 is already an arm; 7 is past the polygons
  Select(op, "skin", {2});
  Select(op, "red", {0});
  Select(op, "other", {0, 1, 2});  // neither group, region nor material
  Texture(op, NewMaterial("Red Paint"), "red");
  opts.geomFlags = GEOM_FACES | GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS;
  ASSERT_TRUE(Write({op}));
  EXPECT_EQ(Body().substr(Body().find("g ")),
            "g arm\n# r body_Rgn\nusemtl Red_Paint\nf 1 2 6 5\nusemtl default_Mat\nf 2 3 7 6\n"
            "g leg\n# r skin\nf 3 4 8 7\n");
  EXPECT_NE(Body().find("mtllib out.mtl\n"), std::string::npos);

  // Combined, the second group's polygon moves to a group named after both.
  opts.geomFlags |= GEOM_WHOLE_GROUP_NAMES;
  opts.layoutFlags = XP_ORDER_BY_GROUP;
  ASSERT_TRUE(Write({op}));
  const std::string combined = Body();
  // The combined group was made at polygon 1, before "leg" claimed polygon 2.
  EXPECT_NE(combined.find("g arm\n# r body_Rgn\nusemtl Red_Paint\nf 1 2 6 5\ng arm leg\nusemtl default_Mat\n"
                          "f 2 3 7 6\ng leg\n# r skin\nf 3 4 8 7\n"),
            std::string::npos)
      << combined;
}

TEST_F(ObjWriteTest, WithoutSelectionsNoGroupRegionOrMaterialLineIsWritten) {
  QuadAndTriangle();
  opts.geomFlags = GEOM_FACES | GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS;
  ASSERT_TRUE(Write({doc->GetFirstObject()}));
  EXPECT_EQ(Body(), "mtllib out.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nf 1 2 3 4\nf 2 5 3\n");
  // The default material still has its block: faces use it.
  EXPECT_NE(ReadFile(mtlPath).find("\nnewmtl default_Mat\nKd 0.349020 0.376471 0.407843\nillum 1\n"),
            std::string::npos);
}

TEST_F(ObjWriteTest, FaceOrdersWalkMaterialsGroupsOrRegionsInListOrder) {
  PolygonObject* op = Add(Grid(3, 1), "body");
  Marker(op, IOTAG_GROUP_ID, {"a", "b"});
  Marker(op, IOTAG_REGION_ID, {"r"});
  Select(op, "b", {0});
  Select(op, "a", {2});
  Select(op, "r", {1});
  Texture(op, NewMaterial("M"), "b");
  opts.geomFlags = GEOM_FACES;
  struct Case {
    ULONG order;
    const char* faces;
  } cases[] = {
      {0, "f 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\n"},
      {XP_ORDER_BY_GROUP, "f 2 3 7 6\nf 1 2 6 5\nf 3 4 8 7\n"},  // body_Grp, b, a
      {XP_ORDER_BY_REGION, "f 1 2 6 5\nf 3 4 8 7\nf 2 3 7 6\n"},
      {XP_ORDER_BY_MATERIAL, "f 2 3 7 6\nf 3 4 8 7\nf 1 2 6 5\n"},
      {XP_ORDER_BY_MATERIAL | XP_ORDER_BY_GROUP, "f 2 3 7 6\nf 3 4 8 7\nf 1 2 6 5\n"},  // material first
  };
  for (const Case& c : cases) {
    opts.layoutFlags = c.order;
    ASSERT_TRUE(Write({op}));
    EXPECT_EQ(Body().substr(Body().find("f ")), c.faces) << c.order;
  }
}

TEST_F(ObjWriteTest, NamesAreWrittenSoThatReadersGetOneName) {
  PolygonObject* op = Add(Grid(1, 1), "  my part #2\tleft ");
  Marker(op, IOTAG_GROUP_ID, {"über gruppe"});
  Select(op, "über gruppe", {0});
  opts.geomFlags = GEOM_FACES | GEOM_GROUPS;
  opts.layoutFlags = XP_OBJECT_LINES;
  ASSERT_TRUE(Write({op}));
  EXPECT_EQ(Body(), "o my_part__2_left\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\ng über_gruppe\nf 1 2 4 3\n");
}

// --- the material library --------------------------------------------------------------------

TEST_F(ObjWriteTest, AMaterialUsedByTwoObjectsHasOneBlock) {
  Material* mat = NewMaterial("Shiny");
  mat->SetChannelState(CHANNEL_SPECULAR, TRUE);
  mat->SetChannelState(CHANNEL_COLOR, TRUE);
  PolygonObject* first = QuadAndTriangle("first");
  PolygonObject* second = QuadAndTriangle("second");
  Texture(first, mat);
  Texture(second, mat);
  NewMaterial("Unused");
  opts.geomFlags = GEOM_FACES | GEOM_MATERIALS;
  ASSERT_TRUE(Write({first, second}));
  const std::string mtl = ReadFile(mtlPath);
  EXPECT_EQ(mtl.find("newmtl Shiny"), mtl.rfind("newmtl Shiny"));
  EXPECT_NE(mtl.find("\nnewmtl Shiny\nKd "), std::string::npos) << mtl;
  EXPECT_NE(mtl.find("illum 2\nNs 50.781250\n"), std::string::npos) << mtl;
  EXPECT_EQ(mtl.find("Unused"), std::string::npos);
  EXPECT_EQ(mtl.find("default_Mat"), std::string::npos);
  EXPECT_EQ(mtl.rfind("#  " + std::string(74, '=') + "\n#  Wavefront Material file\n", 0), 0u);
  // The object's own texture tag names the material of all its faces.
  EXPECT_NE(Body().find("usemtl Shiny\nf 1 2 3 4\nf 2 5 3\n"), std::string::npos);
}

TEST_F(ObjWriteTest, TheLibraryFileNameIsCleanedAndItsFileCreatedSo) {
  QuadAndTriangle();
  mtlPath = TempDir() + "/my scene#1.mtl";
  opts.geomFlags = GEOM_FACES | GEOM_MATERIALS;
  ASSERT_TRUE(Write({doc->GetFirstObject()}));
  EXPECT_NE(Body().find("mtllib my_scene_1.mtl\n"), std::string::npos);
  EXPECT_FALSE(ReadFile(TempDir() + "/my_scene_1.mtl").empty());
}

TEST_F(ObjWriteTest, ALibraryThatCannotBeCreatedLeavesTheObjExportGoingOn) {
  QuadAndTriangle();
  mtlPath = TempDir() + "/no such folder/out.mtl";
  opts.geomFlags = GEOM_FACES | GEOM_MATERIALS;
  ASSERT_TRUE(Write({doc->GetFirstObject(), doc->GetFirstObject()}));
  EXPECT_TRUE(ConsoleHas("cannot create the material library"));
  EXPECT_NE(Body().find("f 2 5 3\n"), std::string::npos);
  EXPECT_EQ(Body().find("newmtl"), std::string::npos);
}

TEST_F(ObjWriteTest, LaterFramesShareTheFirstFramesLibrary) {
  QuadAndTriangle();
  opts.geomFlags = GEOM_FACES | GEOM_MATERIALS;
  opts.layoutFlags = XP_ONE_MTL;
  // Numbered from the start frame, not from a first file number that is not used.
  opts.firstFileNumber = 7;
  for (LONG frame : {3, 4}) {
    objPath = TempDir() + "/f" + std::to_string(frame) + ".obj";
    ObjExportContext* ctx = NewContext();
    ctx->exportMode = 3;
    ctx->fileNumber = frame;
    ctx->firstFrameFile = frame == 3;
    ctx->mtlFileName = Filename(String((TempDir() + "/f" + std::to_string(frame) + ".mtl").c_str()));
    ASSERT_TRUE(OpenFileSet(ctx) && WriteObject(ctx, doc->GetFirstObject(), Matrix()) && CloseFileSet(ctx));
    ObjExportContext::Free(ctx);
    EXPECT_NE(Body().find("mtllib f" + std::to_string(frame) + ".mtl"), std::string::npos);
  }
  EXPECT_FALSE(ReadFile(TempDir() + "/f3.mtl").empty());
  FILE* later = std::fopen((TempDir() + "/f4.mtl").c_str(), "rb");
  EXPECT_EQ(later, nullptr);
  if (later) std::fclose(later);
}

// --- failures -------------------------------------------------------------------------------

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

TEST_F(ObjWriteTest, WritingTheSameSceneTwiceGivesTheSameBytes) {
  PolygonObject* op = QuadAndTriangle();
  Texture(op, NewMaterial("Red"));
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS | GEOM_MATERIALS | GEOM_GROUPS;
  ASSERT_TRUE(Write({op}));
  const std::string first = ReadFile(objPath) + ReadFile(mtlPath);
  ASSERT_TRUE(Write({op}));
  EXPECT_EQ(ReadFile(objPath) + ReadFile(mtlPath), first);
}

TEST_F(ObjWriteTest, AFailedWriteAnywhereLeavesNoFileAndIsReported) {
  PolygonObject* op = Add(Grid(40, 40), "grid");
  Texture(op, NewMaterial("Red"));
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS | GEOM_MATERIALS;
  ASSERT_TRUE(Write({op}));
  const LLONG size = LLONG(ReadFile(objPath).size() + ReadFile(mtlPath).size());
  for (LLONG cut = 0; cut < size; cut += size / 12 + 1) {
    std::remove(objPath.c_str());
    std::remove(mtlPath.c_str());
    host::ClearConsole();
    host::FailWritesAfter(cut);
    EXPECT_FALSE(Write({op})) << cut;
    host::ResetFaults();
    EXPECT_FALSE(Exists(objPath)) << cut;
    EXPECT_TRUE(ConsoleHas("Kelvane: File Error - ")) << cut;
  }
}

TEST_F(ObjWriteTest, MissingMemoryAtEveryAllocationFailsCleanly) {
  PolygonObject* op = QuadAndTriangle();
  Marker(op, IOTAG_GROUP_ID, {"g"});
  Select(op, "g", {1});
  Texture(op, NewMaterial("Red"), "g");
  opts.geomFlags = GEOM_FACES | GEOM_UVS | GEOM_NORMALS | GEOM_MATERIALS | GEOM_GROUPS | GEOM_NGONS;
  ASSERT_TRUE(Write({op}));
  const std::string expected = ReadFile(objPath);
  EveryAllocation([&] {
    std::remove(objPath.c_str());
    host::ClearConsole();
    const bool ok = Write({op});
    // A failed export leaves no file behind and says why.
    if (!ok) {
      EXPECT_FALSE(Exists(objPath));
    }
    if (!ok && contextMade) {
      EXPECT_TRUE(ConsoleHas("Kelvane: "));
    }
    return ok && ReadFile(objPath) == expected;
  });
}

}  // namespace

// The import command in-process: options from the stored "Last Used" record, the file
// from the scripted user, the model built into the document. The scene builder's rules
// are checked on the document the command leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "lib_ngon.h"
#include "main.h"
#include "objread.h"
#include "plugin_ids.h"
#include "plugopts.h"
#include "scene_helpers.h"

namespace {

class ImportTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    host::EchoMessageBoxes(false);
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    ASSERT_TRUE(PluginStart());
    host::ClearConsole();
    PresetStore store;
    ASSERT_TRUE(store.Load());
    opts = store.importOpts;
    // A plain starting point: the current document, one object, nothing mirrored.
    opts.layoutFlags = 0;
    opts.geomFlags = GEOM_UVS | GEOM_NORMALS | GEOM_NGONS | GEOM_GROUPS | GEOM_REGIONS | GEOM_SCALE_MULTIPLY;
    opts.materialFlags = MAT_NEW | MAT_COLOR;
    opts.scale = 1;
  }
  void TearDown() override {
    doc.reset();  // plug-in tags run the module's code as they go: before the registry
    host::FreeDocuments();
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  // Runs the command on path with opts stored as "Last Used"; the document that
  // received the import is `target`.
  bool Import(const std::string& path) {
    if (!doc) doc.reset(BaseDocument::Alloc());
    target = doc.get();  // also when the import does not start
    PresetStore store;
    if (!store.Load()) return false;
    opts.CopyTo(&store.importOpts);
    if (!store.Save()) return false;
    host::QueueFileSelection(path);
    CommandData* command = FindPlugin(ID_IMPORT_PLUGIN, PLUGINTYPE_COMMAND)->GetCommand();
    const bool ok = command->Execute(doc.get());
    target = (opts.layoutFlags & IMP_NEW_DOCUMENT) ? GetActiveDocument() : doc.get();
    return ok;
  }

  // Objects of the target document, depth first, as "name(type)".
  std::vector<BaseObject*> Objects() const {
    std::vector<BaseObject*> all;
    std::function<void(BaseObject*)> walk = [&](BaseObject* op) {
      for (; op; op = op->GetNext()) {
        all.push_back(op);
        walk(op->GetDown());
      }
    };
    walk(target->GetFirstObject());
    return all;
  }
  PolygonObject* Poly(const char* name) const {
    BaseObject* op = target->SearchObject(String(name));
    return op && op->GetType() == Opolygon ? ToPoly(op) : nullptr;
  }

  PluginOpts opts;
  DocPtr doc;
  BaseDocument* target = nullptr;
};

std::vector<LONG> Corners(const CPolygon& p) { return {p.a, p.b, p.c, p.d}; }

const char* kTwoGroups =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\n"
    "g left\nf 1/1 2/2 3/3 4/1\n"
    "g right\nf 2/1 5/2 6/3\n";

TEST_F(ImportTest, OneObjectHoldsEveryPointAndFaceInTheCornerOrder) {
  const std::string path = WriteFile("two.obj", kTwoGroups);
  ASSERT_TRUE(Import(path));
  PolygonObject* op = Poly("two.obj");
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(op->GetPointCount(), 6);
  ASSERT_EQ(op->GetPolygonCount(), 2);
  EXPECT_EQ(Corners(op->GetPolygonR()[0]), (std::vector<LONG>{0, 1, 2, 3}));
  EXPECT_EQ(Corners(op->GetPolygonR()[1]), (std::vector<LONG>{1, 4, 5, 5}));
  EXPECT_EQ(op->GetPointR()[4].x, 2.0);

  opts.geomFlags |= GEOM_REVERSE_ORDER;
  doc.reset();
  ASSERT_TRUE(Import(path));
  op = Poly("two.obj");
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(Corners(op->GetPolygonR()[0]), (std::vector<LONG>{3, 2, 1, 0}));
  EXPECT_EQ(Corners(op->GetPolygonR()[1]), (std::vector<LONG>{5, 4, 1, 1}));
  // The UVs follow the corners: the triangle's a is the file's third corner (vt 3).
  const UVWTag* uvw = static_cast<const UVWTag*>(op->GetTag(Tuvw));
  ASSERT_NE(uvw, nullptr);
  const UVWStruct t = uvw->GetSlow(1);
  EXPECT_FLOAT_EQ(static_cast<float>(t.a.x), 1.0f);
  EXPECT_FLOAT_EQ(static_cast<float>(t.a.y), 1.0f);
  EXPECT_EQ(t.d.x, 0.0);
}

TEST_F(ImportTest, PerGroupObjectsHoldOnlyThePointsTheirFacesUse) {
  opts.layoutFlags = IMP_OBJECT_PER_GROUP;
  ASSERT_TRUE(Import(WriteFile("two.obj", kTwoGroups)));
  BaseObject* null = target->GetFirstObject();
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(Name(null), "two.obj");
  PolygonObject* left = Poly("left");
  PolygonObject* right = Poly("right");
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(left->GetUp(), null);
  EXPECT_EQ(left->GetNext(), right);
  EXPECT_EQ(left->GetPointCount(), 4);
  EXPECT_EQ(right->GetPointCount(), 3);
  EXPECT_EQ(Corners(right->GetPolygonR()[0]), (std::vector<LONG>{0, 1, 2, 2}));
  EXPECT_EQ(right->GetPointR()[0].x, 1.0);
  EXPECT_EQ(right->GetPointR()[1].x, 2.0);
}

TEST_F(ImportTest, TheOneObjectBuildKeepsWhatTagsAndSplinesStillRead) {
  // The single-object build gives back model arrays early: the positions only when
  // neither a normal tag (faces without normals take theirs from the positions) nor
  // a spline reads them later, the normals only without a normal tag.
  const std::string path = WriteFile("mixed.obj",
                                     "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 3\nvn 0 0 1\n"
                                     "o first\nf 1//1 2//1 3//1\no second\nf 1 2 4\nl 1 3 4\n");
  const struct {
    bool normals, lines;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.normals ? "normal tag" : "no normal tag") + (c.lines ? ", lines" : ", no lines"));
    opts.geomFlags = GEOM_UVS | GEOM_NGONS | GEOM_GROUPS | GEOM_REGIONS | GEOM_SCALE_MULTIPLY;
    if (c.normals) opts.geomFlags |= GEOM_NORMALS;
    opts.layoutFlags = c.lines ? ULONG{IMP_LINE_ELEMENTS} : 0;
    doc.reset();
    ASSERT_TRUE(Import(path));
    PolygonObject* op = nullptr;
    BaseObject* spline = nullptr;
    for (BaseObject* o : Objects()) {
      if (o->GetType() == Opolygon) op = ToPoly(o);
      if (o->GetType() == Ospline) spline = o;
    }
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->GetPointCount(), 4);
    ASSERT_EQ(op->GetPolygonCount(), 2);
    EXPECT_EQ(op->GetPointR()[3], Vector(0, 0, 3));
    const auto* tag = static_cast<const NormalTag*>(op->GetTag(Tnormal));
    ASSERT_EQ(tag != nullptr, c.normals);
    if (tag) {
      NormalStruct n;
      NormalTag::Get(tag->GetDataAddressR(), 0, n);
      EXPECT_EQ(n.a, Vector(0, 0, 1));
      NormalTag::Get(tag->GetDataAddressR(), 1, n);  // from the corners' positions
      EXPECT_EQ(n.a.x, 0.0);
      EXPECT_EQ(std::abs(n.a.y), 1.0);
      EXPECT_EQ(n.a.z, 0.0);
    }
    ASSERT_EQ(spline != nullptr, c.lines);
    if (spline) {
      const auto* points = static_cast<PointObject*>(spline);
      ASSERT_EQ(points->GetPointCount(), 3);
      EXPECT_EQ(points->GetPointR()[1], Vector(0, 2, 0));
      EXPECT_EQ(points->GetPointR()[2], Vector(0, 0, 3));
    }
  }
}

TEST_F(ImportTest, UVsAreTheSameWhenTheFacesAreCompactedForThem) {
  // Without a normal tag the one-object build keeps only the faces' UV indices for the
  // UVW tag; with one it reads the whole face records. Both must give the same tag for
  // triangles and quads, faces without UVs, faces whose UVs were out of range, n-gons
  // split into pieces, in both corner orders.
  const std::string path = WriteFile("uvs.obj",
                                     "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 3 0.5 0\n"
                                     "vt 0.1 0.2\nvt 0.3 0.4\nvt 0.5 0.6\nvt 0.7 0.8\nvt 0.9 0.25\n"
                                     "f 1/1 2/2 3/3 4/4\nf 2/5 5/4 6/3\nf 1 2 3\nf 1/1 2/9 3/2\n"
                                     "f 1/5/ 2/4/ 3/3/ 4/2/\nf 2/1 5/2 7/3 6/4 3/5\nf 3/-1 4/-2 1/-5\n");
  for (const bool reverse : {false, true}) {
    SCOPED_TRACE(reverse ? "reversed" : "file order");
    std::vector<UVWStruct> tags[2];
    for (int normals = 0; normals < 2; ++normals) {
      opts.geomFlags = GEOM_UVS | GEOM_NGONS | GEOM_SCALE_MULTIPLY;
      if (normals) opts.geomFlags |= GEOM_NORMALS;
      if (reverse) opts.geomFlags |= GEOM_REVERSE_ORDER;
      doc.reset();
      ASSERT_TRUE(Import(path));
      PolygonObject* op = Poly("uvs.obj");
      ASSERT_NE(op, nullptr);
      const auto* uvw = static_cast<const UVWTag*>(op->GetTag(Tuvw));
      ASSERT_NE(uvw, nullptr);
      for (LONG i = 0; i < op->GetPolygonCount(); ++i) tags[normals].push_back(uvw->GetSlow(i));
    }
    ASSERT_EQ(tags[0].size(), tags[1].size());
    EXPECT_GE(tags[0].size(), 8u);
    for (size_t i = 0; i < tags[0].size(); ++i) {
      const UVWStruct& a = tags[0][i];
      const UVWStruct& b = tags[1][i];
      EXPECT_TRUE(a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d) << "polygon " << i;
    }
    // Spot checks that the tags hold the file's values: the quad, the face without UVs.
    const UVWStruct& quad = tags[0][0];
    EXPECT_FLOAT_EQ(static_cast<float>(quad.a.x), reverse ? 0.7f : 0.1f);
    EXPECT_FLOAT_EQ(static_cast<float>(quad.d.y), reverse ? 0.2f : 0.8f);
    EXPECT_EQ(tags[0][2].a, Vector());
    EXPECT_EQ(tags[0][1].d, Vector());  // a triangle's fourth corner
  }
}

// An object large enough to be filled by halves on two threads (points, polygons, the
// UVW tag) is the object one thread makes, with the faces compacted for the UVW tag and
// without, in both corner orders.
TEST_F(ImportTest, ALargeObjectFilledOnTwoThreadsIsTheObjectOfOne) {
  const int side = 300;  // 90 601 points, 90 000 faces: both above the halves' threshold
  std::string text;
  char line[96];
  for (int j = 0; j <= side; ++j)
    for (int i = 0; i <= side; ++i) {
      std::snprintf(line, sizeof(line), "v %d %d 0\nvt %.4f %.4f\n", i, j, i / double(side), j / double(side));
      text += line;
    }
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) {
      const int a = j * (side + 1) + i + 1, b = a + 1, c = a + side + 2, d = a + side + 1;
      std::snprintf(line, sizeof(line), (i + j) % 7 ? "f %d/%d %d/%d %d/%d %d/%d\n" : "f %d/%d %d/%d %d/%d\n", a, a,
                    b, b, c, c, d, d);
      text += line;
    }
  const std::string path = WriteFile("large.obj", text);
  for (const ULONG geom : {ULONG(0), ULONG(GEOM_NORMALS), ULONG(GEOM_REVERSE_ORDER)}) {
    SCOPED_TRACE(geom);
    std::string objects[2];
    for (const char* threads : {"1", "2"}) {
      SetEnv("KELVANE_THREADS", threads);
      opts.geomFlags = GEOM_UVS | GEOM_SCALE_MULTIPLY | geom;
      doc.reset();
      const bool imported = Import(path);
      SetEnv("KELVANE_THREADS", nullptr);
      ASSERT_TRUE(imported);
      PolygonObject* op = Poly("large.obj");
      ASSERT_NE(op, nullptr);
      const auto* uvw = static_cast<const UVWTag*>(op->GetTag(Tuvw));
      ASSERT_NE(uvw, nullptr);
      ASSERT_EQ(op->GetPolygonCount(), side * side);
      std::string& all = objects[threads[0] - '1'];
      all.append(reinterpret_cast<const char*>(op->GetPointR()), sizeof(Vector) * op->GetPointCount());
      all.append(reinterpret_cast<const char*>(op->GetPolygonR()), sizeof(CPolygon) * op->GetPolygonCount());
      all.append(static_cast<const char*>(uvw->GetDataAddressR()),
                 static_cast<size_t>(uvw->GetDataSize()) * static_cast<size_t>(uvw->GetDataCount()));
    }
    EXPECT_TRUE(objects[0] == objects[1]);
    EXPECT_GT(objects[0].size(), size_t{4} << 20);
  }
}

TEST_F(ImportTest, APentagonBecomesOneNgonOnlyWithTheOption) {
  const std::string path = WriteFile("penta.obj",
                                     "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\n"
                                     "f 1 2 3 4 5\n");
  ASSERT_TRUE(Import(path));
  PolygonObject* op = Poly("penta.obj");
  ASSERT_NE(op, nullptr);
  const LONG split = op->GetPolygonCount();
  EXPECT_GE(split, 2);
  EXPECT_EQ(op->GetNgonCount(), 1);
  Pgon* pgons = op->GetAndBuildNgon();
  ASSERT_NE(pgons, nullptr);
  EXPECT_EQ(pgons[0].GetOutlineCount(), 5);

  opts.geomFlags &= ~static_cast<ULONG>(GEOM_NGONS);
  doc.reset();
  ASSERT_TRUE(Import(path));
  op = Poly("penta.obj");
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(op->GetPolygonCount(), split);
  EXPECT_EQ(op->GetNgonCount(), 0);
}

TEST_F(ImportTest, FacesWithIndicesOutOfRangeAreDroppedAndCountedOnce) {
  const std::string path = WriteFile("bad.obj",
                                     "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\n"
                                     "f 1 2 3\nf 1 2 9\nf 0 1 2\nf 1/1 2/7 3/1\nf 2 3 4\n");
  ASSERT_TRUE(Import(path));
  PolygonObject* op = Poly("bad.obj");
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(op->GetPolygonCount(), 3);
  EXPECT_EQ(Corners(op->GetPolygonR()[2]), (std::vector<LONG>{1, 2, 3, 3}));
  EXPECT_TRUE(ConsoleHas("Kelvane: 3 faces had indices out of range: 2 without their points were dropped, "
                         "1 were kept without their UVs or normals"));
}

TEST_F(ImportTest, CenterAxisKeepsThePointsInPlace) {
  opts.layoutFlags = IMP_CENTER_AXES;
  ASSERT_TRUE(Import(WriteFile("far.obj", "v 20000 0 0\nv 20010 0 0\nv 20010 1 0\nv 20000 1 0\nf 1 2 3 4\n")));
  PolygonObject* op = Poly("far.obj");
  ASSERT_NE(op, nullptr);
  EXPECT_DOUBLE_EQ(op->GetMl().off.x, 20005.0);
  EXPECT_DOUBLE_EQ(op->GetPointR()[0].x, -5.0);
  EXPECT_DOUBLE_EQ(op->GetMg().off.x + op->GetPointR()[1].x, 20010.0);
}

}  // namespace

namespace {

// The document as text: every object with its type, counts, layer and tags, then the
// materials and layers. Two imports that built the same scene give the same text.
std::string DescribeScene(BaseDocument* doc) {
  std::string text;
  auto layerName = [&](const BaseList2D* node) {
    const LayerObject* layer = node->GetLayerObject(doc);
    return layer ? " @" + layer->GetName().Std() : std::string();
  };
  std::function<void(BaseObject*, int)> walk = [&](BaseObject* op, int depth) {
    for (; op; op = op->GetNext()) {
      text += std::string(static_cast<size_t>(depth) * 2, ' ') + Name(op) + " " + std::to_string(op->GetType());
      if (op->IsInstanceOf(Opoint)) text += " p" + std::to_string(ToPoint(op)->GetPointCount());
      if (op->GetType() == Opolygon)
        text += " f" + std::to_string(ToPoly(op)->GetPolygonCount()) + " n" + std::to_string(ToPoly(op)->GetNgonCount());
      text += layerName(op) + "\n";
      for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
        text += std::string(static_cast<size_t>(depth) * 2 + 2, ' ') + "tag " + std::to_string(tag->GetType()) + " " +
                Name(tag) + layerName(tag);
        if (tag->GetType() == Tpolygonselection)
          text += " s" + std::to_string(static_cast<SelectionTag*>(tag)->GetBaseSelect()->GetCount());
        text += "\n";
      }
      walk(op->GetDown(), depth + 1);
    }
  };
  walk(doc->GetFirstObject(), 0);
  for (BaseMaterial* mat = doc->GetFirstMaterial(); mat; mat = mat->GetNext()) text += "material " + Name(mat) + "\n";
  for (GeListNode* layer = doc->GetLayerObjectRoot()->GetFirst(); layer; layer = layer->GetNext())
    text += "layer " + Name(static_cast<BaseList2D*>(layer)) + "\n";
  return text;
}

const char* kEverything =
    "mtllib all.mtl\n"
    "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\n"
    "o body\ng arm left\nusemtl red\n# r front\n"
    "f 1/1/1 2/2/1 3/3/1 4/1/1 5/2/1\n"
    "g torso\nusemtl blue\nf 6/1/1 7/2/1 8/3/1\n"
    "o wire\ng torso\nl 1 2 3\nl 6 7\n";
const char* kEverythingMtl =
    "newmtl red\nKd 1 0 0\nmap_Kd red.png\nnewmtl blue\nKd 0 0 1\nd 0.5\nbump b.png\n";

}  // namespace

TEST_F(ImportTest, MissingMemoryAtEveryAllocationOfAWholeImport) {
  WriteFile("all.mtl", kEverythingMtl);
  const std::string path = WriteFile("all.obj", kEverything);
  opts.layoutFlags = IMP_OBJECT_PER_GROUP | IMP_LINE_ELEMENTS | IMP_SPLINE_PER_GROUP | IMP_SPLINE_NULL_PER_MESH |
                     IMP_LAYER_POLYGON_OBJECTS | IMP_LAYER_GROUP_SELECTIONS | IMP_PHONG_TAGS | IMP_CENTER_AXES;
  opts.geomFlags |= GEOM_MATERIALS;
  opts.materialFlags = MAT_REUSE | MAT_COLOR | MAT_TRANSPARENCY | MAT_BUMP | MAT_LOAD_TEXTURES;
  ASSERT_TRUE(Import(path));
  const std::string whole = DescribeScene(target);
  ASSERT_NE(whole.find("  left 5100"), std::string::npos) << whole;
  ASSERT_NE(whole.find("Splines"), std::string::npos) << whole;

  LLONG runs = 0, reported = 0;
  host::KeepSettingsInMemory(true);  // the runs need not write the settings file each time
  EveryAllocation([&] {
    doc.reset();
    host::FreeDocuments();
    host::ClearConsole();
    host::ClearUserLog();
    const LLONG liveBefore = host::GetMemoryStats().liveBlocks;
    doc.reset(BaseDocument::Alloc());
    if (!doc) return false;  // the test's own document, not the import
    const bool ok = Import(path);
    const std::string scene = DescribeScene(target);
    const bool complete = ok && scene == whole;
    const bool told = !host::MessageBoxes().empty() || ConsoleHas("Kelvane: Memory Allocation Error") ||
                      ConsoleHas("Failed to load: ") || ConsoleHas("could not be split") ||
                      ConsoleHas("Error parsing Ngon edges") ||
                      ConsoleHas("could not be opened") ||
                      !host::DialogErrors().empty();  // the host's own report of a dialog that failed
    ++runs;
    if (told) ++reported;
    EXPECT_TRUE(complete || told) << "run " << runs << " lost part of the scene without a word:\n"
                                   << scene << (host::DialogErrors().empty() ? "" : host::DialogErrors().back());
    doc.reset();
    host::FreeDocuments();
    EXPECT_LE(host::GetMemoryStats().liveBlocks, liveBefore) << "run " << runs;
    return complete;
  });
  host::KeepSettingsInMemory(false);
  EXPECT_GT(reported, 0);
}

// kelvane import run on small OBJ and MTL files written by each test; the scene file it
// writes is loaded back and the document checked: objects and their hierarchy, points,
// polygons in their corner order, n-gons, tags with their selections and marker lists,
// materials with their channels, and layers. Every run has a settings folder of its own,
// so its options start from the built-in defaults plus the flags it is given.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "c4d.h"
#include "c4d_symbols.h"
#include "lib_ngon.h"
#include "scene_helpers.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

constexpr LONG kGroupTag = 1016210;
constexpr LONG kRegionTag = 1016229;
constexpr Real kPi = 3.14159265358979323846;

// Options under which points and corners come out as the file has them: the built-in
// preset mirrors Z (which also reverses the corner order), flips V and centres axes.
const char* const kPlain = "--set negate-z=off --set flip-v=off --set centre-axes=off";

// --- reading the document back -----------------------------------------------------------

std::string Tree(const BaseObject* op);

// One object and its children: a null as name{children}, a spline as name<points of each
// segment>, a polygon object by its name.
std::string Subtree(const BaseObject* op) {
  if (!op) return "<none>";
  std::string text = Name(op);
  if (op->GetType() == Ospline) {
    const auto* spline = static_cast<const SplineObject*>(op);
    text += "<";
    for (LONG s = 0; s < spline->GetSegmentCount(); ++s)
      text += (s ? "," : "") + std::to_string(spline->GetSegmentR()[s].cnt);
    text += ">";
  }
  if (op->GetType() == Onull || op->GetDown()) text += "{" + Tree(op->GetDown()) + "}";
  return text;
}

// The objects from op on, with their children.
std::string Tree(const BaseObject* op) {
  std::string text;
  for (; op; op = op->GetNext()) text += (text.empty() ? "" : " ") + Subtree(op);
  return text;
}

std::string DocTree(const BaseDocument* doc) { return Tree(doc->GetFirstObject()); }

// The object of that name and type under parent (anywhere below it, depth first), or null.
BaseObject* FindIn(BaseObject* parent, const std::string& name, LONG type) {
  for (BaseObject* op = parent; op; op = op->GetNext()) {
    if (Name(op) == name && op->GetType() == type) return op;
    if (BaseObject* found = FindIn(op->GetDown(), name, type)) return found;
  }
  return nullptr;
}

PolygonObject* Poly(const BaseDocument* doc, const std::string& name) {
  return ToPoly(FindIn(doc->GetFirstObject(), name, Opolygon));
}

// Point i of op; the origin, with a failure recorded, when there is no such point.
Vector PointOf(const PointObject* op, LONG i) {
  if (op && i >= 0 && i < op->GetPointCount()) return op->GetPointR()[i];
  ADD_FAILURE() << "no point " << i;
  return Vector();
}

// The point indices of polygon i; empty, with a failure recorded, when there is none.
std::vector<LONG> Corners(const PolygonObject* op, LONG i) {
  if (!op || i < 0 || i >= op->GetPolygonCount()) {
    ADD_FAILURE() << "no polygon " << i;
    return {};
  }
  const CPolygon& p = op->GetPolygonR()[i];
  return {p.a, p.b, p.c, p.d};
}

// Corner positions of polygon i (a triangle repeats c in d).
std::vector<Vector> CornerPoints(const PolygonObject* op, LONG i) {
  const CPolygon& p = op->GetPolygonR()[i];
  const Vector* points = op->GetPointR();
  return {points[p.a], points[p.b], points[p.c], points[p.d]};
}

::testing::AssertionResult Near(const Vector& a, const Vector& b, Real tolerance = 1e-6) {
  if (std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") is not (" << b.x << ", " << b.y
                                       << ", " << b.z << ")";
}

::testing::AssertionResult NearAll(const std::vector<Vector>& a, const std::vector<Vector>& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " corners, expected " << b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    ::testing::AssertionResult r = Near(a[i], b[i]);
    if (!r) return r << " at corner " << i;
  }
  return ::testing::AssertionSuccess();
}

// Polygon i has exactly these corner positions, in this order.
::testing::AssertionResult HasCorners(const PolygonObject* op, LONG i, const std::vector<Vector>& corners) {
  if (!op) return ::testing::AssertionFailure() << "no object";
  if (i >= op->GetPolygonCount()) return ::testing::AssertionFailure() << "no polygon " << i;
  return NearAll(CornerPoints(op, i), corners);
}

BaseTag* TagNamed(const BaseObject* op, LONG type, const std::string& name) {
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == type && Name(tag) == name) return tag;
  return nullptr;
}

std::vector<BaseTag*> TagsOf(const BaseObject* op, LONG type) {
  std::vector<BaseTag*> tags;
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == type) tags.push_back(tag);
  return tags;
}

// The tags' names in alphabetical order (the order of tags on an object is not fixed).
std::vector<std::string> Names(const std::vector<BaseTag*>& tags) {
  std::vector<std::string> names;
  for (const BaseTag* tag : tags) names.push_back(Name(tag));
  std::sort(names.begin(), names.end());
  return names;
}

// The polygons the object's selection tag of that name selects, ascending; {-1} when the
// object has no such tag.
std::vector<LONG> Selected(const BaseObject* op, const std::string& name) {
  const BaseTag* tag = op ? TagNamed(op, Tpolygonselection, name) : nullptr;
  if (!tag) return {-1};
  const BaseSelect* bs = static_cast<const SelectionTag*>(tag)->GetBaseSelect();
  std::vector<LONG> indices;
  LONG a = 0, b = 0;
  for (LONG seg = 0; bs->GetRange(seg, 0x7FFFFFFF, &a, &b); ++seg)
    for (LONG i = a; i <= b; ++i) indices.push_back(i);
  return indices;
}

// The names a group or region marker tag lists (container 1000: count, 1001..: names).
std::vector<std::string> Listed(const BaseObject* op, LONG type) {
  const BaseTag* tag = op->GetTag(type);
  if (!tag) return {"<no tag>"};
  const BaseContainer* bc = tag->GetDataInstance();
  std::vector<std::string> names;
  for (LONG i = 0; i < bc->GetLong(1000); ++i) names.push_back(bc->GetString(1001 + i).Std());
  return names;
}

std::string LayerOf(const BaseDocument* doc, const BaseList2D* node) {
  const LayerObject* layer = node ? node->GetLayerObject(doc) : nullptr;
  return layer ? Name(layer) : std::string();
}

std::vector<std::string> LayerNames(const BaseDocument* doc) {
  std::vector<std::string> names;
  for (const GeListNode* n = doc->GetLayerObjectRoot()->GetFirst(); n; n = n->GetNext())
    names.push_back(Name(static_cast<const LayerObject*>(n)));
  return names;
}

std::vector<std::string> MaterialNames(const BaseDocument* doc) {
  std::vector<std::string> names;
  for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) names.push_back(Name(m));
  return names;
}

// The first standard material of that name, or null.
Material* Mat(const BaseDocument* doc, const std::string& name) {
  for (BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext())
    if (Name(m) == name && m->GetType() == Mmaterial) return static_cast<Material*>(m);
  return nullptr;
}

// A channel's data; empty when there is no such material.
BaseContainer Channel(Material* mat, LONG id) { return mat ? mat->GetChannel(id)->GetData() : BaseContainer(); }
std::string Texture(Material* mat, LONG id) {
  return mat ? Channel(mat, id).GetString(BASECHANNEL_TEXTURE).Std() : "<no material>";
}

const TextureTag* TextureTagFor(const BaseObject* op, const std::string& restriction) {
  for (const BaseTag* tag : TagsOf(op, Ttexture))
    if (tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std() == restriction)
      return static_cast<const TextureTag*>(tag);
  return nullptr;
}

// The texture coordinates and the normals of polygon i; zeros, with a failure recorded,
// when the object has no such tag or the tag no such entry.
UVWStruct UVWOf(const BaseObject* op, LONG i) {
  const auto* tag = op ? static_cast<const UVWTag*>(op->GetTag(Tuvw)) : nullptr;
  if (tag && i < tag->GetDataCount()) return tag->GetSlow(i);
  ADD_FAILURE() << "no texture coordinates for polygon " << i;
  return UVWStruct();
}

NormalStruct NormalsOf(const BaseObject* op, LONG i) {
  const auto* tag = op ? static_cast<const VariableTag*>(op->GetTag(Tnormal)) : nullptr;
  NormalStruct n;
  if (tag && i < tag->GetDataCount()) {
    NormalTag::Get(tag->GetDataAddressR(), i, n);
    return n;
  }
  ADD_FAILURE() << "no normals for polygon " << i;
  return NormalStruct();
}

// The material the object's texture tag for that selection applies, or null.
BaseMaterial* MaterialOf(const BaseObject* op, const std::string& restriction) {
  const TextureTag* tag = op ? TextureTagFor(op, restriction) : nullptr;
  return tag ? tag->GetMaterial() : nullptr;
}

LONG TypeOf(const BaseList2D* node) { return node ? node->GetType() : -1; }

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The outline of n-gon i as the positions its outline edges start at, in order.
std::vector<Vector> Outline(PolygonObject* op, LONG i) {
  std::vector<Vector> outline;
  Pgon* pgons = op->GetAndBuildNgon();
  if (!pgons || i >= op->GetNgonCount()) return outline;
  const CPolygon* polygons = op->GetPolygonR();
  const Vector* points = op->GetPointR();
  for (LONG e = 0; e < pgons[i].GetOutlineCount(); ++e) {
    const PgonEdge* edge = pgons[i].GetEdge(e);
    const CPolygon& p = polygons[edge->GetPolygon()];
    const LONG corner[4] = {p.a, p.b, p.c, p.d};
    outline.push_back(points[corner[edge->GetSide()]]);
  }
  return outline;
}

// The outline runs through the corners in their order, starting anywhere.
::testing::AssertionResult SameLoop(const std::vector<Vector>& outline, const std::vector<Vector>& corners) {
  if (outline.size() != corners.size())
    return ::testing::AssertionFailure() << "outline of " << outline.size() << " edges, expected " << corners.size();
  for (size_t start = 0; start < corners.size(); ++start) {
    bool all = true;
    for (size_t k = 0; all && k < corners.size(); ++k) all = Near(outline[k], corners[(start + k) % corners.size()]);
    if (all) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the outline does not follow the corners";
}

std::vector<Vector> Reversed(std::vector<Vector> v) { return {v.rbegin(), v.rend()}; }

// --- the fixture ----------------------------------------------------------------------------

class ShellImportScenesTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    // Layer names are the plug-in's resource strings.
    ASSERT_TRUE(resource.Init(Filename((BinDir() + "/res").c_str())));
    for (LONG id = IDS_LAYER_POLYGONS; id <= IDS_LAYER_GROUP_SELECTIONS; ++id)
      m_layerNames[id] = GeLoadString(id).Std();
    resource.Free();
    for (const auto& entry : m_layerNames) ASSERT_FALSE(entry.second.empty()) << entry.first;
  }

  const std::string& Layer(LONG id) { return m_layerNames[id]; }

  // "kelvane import PATH -o OUT ARGS" in the test's folder, with a settings folder of its
  // own and no progress line; standard error is mixed into out.
  ShellRun Import(const std::string& path, const std::string& out, const std::string& args = "") {
    const std::string settings = TempDir() + "/settings" + std::to_string(++m_runs);
    return RunShell(TempDir(),
                    "--settings-dir '" + settings + "' --no-progress import '" + path + "' -o '" + out + "' " + args);
  }

  // Imports and loads the scene written; null (with the failure recorded) when either fails.
  DocPtr ImportAndLoad(const std::string& path, const std::string& args, ShellRun* run = nullptr) {
    const std::string out = "out" + std::to_string(m_runs + 1) + ".kscn";
    const ShellRun r = Import(path, out, args);
    if (run) *run = r;
    EXPECT_EQ(r.exitCode, 0) << path << " " << args << "\n" << r.out;
    if (r.exitCode != 0) return DocPtr();
    return Load(out);
  }

  DocPtr Load(const std::string& name) {
    std::string error;
    DocPtr doc(host::LoadScene(TempDir() + "/" + name, &error));
    EXPECT_TRUE(doc) << name << ": " << error;
    return doc;
  }

  bool Exists(const std::string& name) { return fs::exists(fs::path(TempDir()) / name); }

  // The scene files anywhere under the test's folder.
  std::vector<std::string> SceneFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(TempDir()))
      if (entry.path().extension() == ".kscn") files.push_back(fs::relative(entry.path(), TempDir()).string());
    return files;
  }

  // --into scenes: a document saved as name, made by fill.
  template <class Fill>
  void WriteScene(const std::string& name, Fill fill) {
    DocPtr doc(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    fill(doc.get());
    std::string error;
    ASSERT_TRUE(host::SaveScene(doc.get(), TempDir() + "/" + name, &error)) << error;
  }

 private:
  std::map<LONG, std::string> m_layerNames;
  int m_runs = 0;
};

// --- polygon layouts ---------------------------------------------------------------------

// Two mesh objects, two groups, a region after the first face, two materials; face 3 has
// neither texture coordinates nor normals.
const char* const kLayouts =
    "mtllib layouts.mtl\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\nv 3 0 0\nv 3 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 1\n"
    "o body\ng left\nusemtl red\n"
    "f 1/1/1 2/2/1 3/3/1 4/4/1\n"
    "# r upper\ng right\n"
    "f 2/1/1 5/2/1 6/3/1\n"
    "o wheel\nusemtl blue\n"
    "f 5/1/1 7/2/1 8/3/1 6/4/1\n"
    "g left\n"
    "f 3 2 6\n";
const char* const kLayoutsMtl = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n";

// The file's points (1-based as in the file) and its faces as corner positions.
const Vector kP[] = {Vector(),        Vector(0, 0, 0), Vector(1, 0, 0), Vector(1, 1, 0), Vector(0, 1, 0),
                     Vector(2, 0, 0), Vector(2, 1, 0), Vector(3, 0, 0), Vector(3, 1, 0)};
const std::vector<Vector> kFace0 = {kP[1], kP[2], kP[3], kP[4]};
const std::vector<Vector> kFace1 = {kP[2], kP[5], kP[6], kP[6]};
const std::vector<Vector> kFace2 = {kP[5], kP[7], kP[8], kP[6]};
const std::vector<Vector> kFace3 = {kP[3], kP[2], kP[6], kP[6]};

TEST_F(ShellImportScenesTest, OneObjectHoldsEveryPointAndFaceWithItsSelections) {
  WriteFile("layouts.obj", kLayouts);
  WriteFile("layouts.mtl", kLayoutsMtl);
  DocPtr doc = ImportAndLoad("layouts.obj", kPlain);
  ASSERT_TRUE(doc);
  // No null: nothing was split and there are no line elements.
  EXPECT_EQ(DocTree(doc.get()), "layouts.obj");
  PolygonObject* op = Poly(doc.get(), "layouts.obj");
  ASSERT_TRUE(op);
  ASSERT_EQ(op->GetPointCount(), 8);
  for (LONG i = 0; i < 8; ++i) EXPECT_TRUE(Near(PointOf(op, i), kP[i + 1])) << i;
  ASSERT_EQ(op->GetPolygonCount(), 4);
  EXPECT_TRUE(HasCorners(op, 0, kFace0));
  EXPECT_TRUE(HasCorners(op, 1, kFace1));
  EXPECT_TRUE(HasCorners(op, 2, kFace2));
  EXPECT_TRUE(HasCorners(op, 3, kFace3));
  EXPECT_EQ(Corners(op, 1)[2], Corners(op, 1)[3]);

  // Selections in face order, and the marker tags listing which are groups and regions.
  EXPECT_EQ(Listed(op, kGroupTag), (std::vector<std::string>{"left", "right"}));
  EXPECT_EQ(Listed(op, kRegionTag), (std::vector<std::string>{"default_Rgn", "upper"}));
  EXPECT_EQ(Selected(op, "left"), (std::vector<LONG>{0, 3}));
  EXPECT_EQ(Selected(op, "right"), (std::vector<LONG>{1, 2}));
  EXPECT_EQ(Selected(op, "default_Rgn"), (std::vector<LONG>{0}));
  EXPECT_EQ(Selected(op, "upper"), (std::vector<LONG>{1, 2, 3}));
  EXPECT_EQ(Selected(op, "red"), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Selected(op, "blue"), (std::vector<LONG>{2, 3}));
  EXPECT_EQ(TagsOf(op, Tpolygonselection).size(), 6u);

  // One texture tag per material: restricted to its selection, UVW projection, linked.
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "blue"}));
  ASSERT_EQ(TagsOf(op, Ttexture).size(), 2u);
  for (const char* name : {"red", "blue"}) {
    const TextureTag* tag = TextureTagFor(op, name);
    ASSERT_TRUE(tag) << name;
    EXPECT_EQ(tag->GetDataInstance()->GetLong(TEXTURETAG_PROJECTION), TEXTURETAG_PROJECTION_UVW);
    EXPECT_EQ(tag->GetMaterial(), Mat(doc.get(), name)) << name;
  }

  // UVs by corner; the face without them has zeros.
  const UVWTag* uvw = static_cast<const UVWTag*>(op->GetTag(Tuvw));
  ASSERT_TRUE(uvw);
  ASSERT_EQ(uvw->GetDataCount(), 4);
  const UVWStruct quad = uvw->GetSlow(2);
  EXPECT_TRUE(Near(quad.a, Vector(0, 0, 1)));
  EXPECT_TRUE(Near(quad.c, Vector(1, 1, 1)));
  EXPECT_TRUE(Near(quad.d, Vector(0, 1, 1)));
  const UVWStruct triangle = uvw->GetSlow(1);
  EXPECT_TRUE(Near(triangle.c, Vector(1, 1, 1)));
  EXPECT_TRUE(Near(triangle.d, Vector(0, 0, 0))) << "a triangle's fourth UV stays zero";
  EXPECT_TRUE(Near(uvw->GetSlow(3).a, Vector(0, 0, 0)));
  // Normals are off in the built-in preset.
  EXPECT_FALSE(op->GetTag(Tnormal));
}

TEST_F(ShellImportScenesTest, EachSplitLayoutMakesOneObjectPerEntryWithOnlyItsOwnPoints) {
  WriteFile("layouts.obj", kLayouts);
  WriteFile("layouts.mtl", kLayoutsMtl);
  const struct {
    const char* layout;
    const char* tree;
    std::map<std::string, std::vector<std::vector<Vector>>> faces;  // per object, in order
  } cases[] = {
      {"per-object", "layouts.obj{body wheel}", {{"body", {kFace0, kFace1}}, {"wheel", {kFace2, kFace3}}}},
      {"per-group", "layouts.obj{left right}", {{"left", {kFace0, kFace3}}, {"right", {kFace1, kFace2}}}},
      {"per-region",
       "layouts.obj{default_Rgn upper}",
       {{"default_Rgn", {kFace0}}, {"upper", {kFace1, kFace2, kFace3}}}},
      {"per-material", "layouts.obj{red blue}", {{"red", {kFace0, kFace1}}, {"blue", {kFace2, kFace3}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    DocPtr doc = ImportAndLoad("layouts.obj", std::string(kPlain) + " --set layout=" + c.layout);
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocTree(doc.get()), c.tree);
    for (const auto& entry : c.faces) {
      PolygonObject* op = Poly(doc.get(), entry.first);
      ASSERT_TRUE(op) << entry.first;
      ASSERT_EQ(op->GetPolygonCount(), static_cast<LONG>(entry.second.size())) << entry.first;
      // Only the points its faces use, each once.
      std::vector<Vector> used;
      for (const auto& face : entry.second)
        for (const Vector& p : face) {
          bool seen = false;
          for (const Vector& u : used) seen = seen || Near(u, p);
          if (!seen) used.push_back(p);
        }
      EXPECT_EQ(op->GetPointCount(), static_cast<LONG>(used.size())) << entry.first;
      for (size_t k = 0; k < entry.second.size(); ++k)
        EXPECT_TRUE(HasCorners(op, static_cast<LONG>(k), entry.second[k])) << entry.first << " polygon " << k;
    }
  }
}

TEST_F(ShellImportScenesTest, SplitObjectsCarryTheSelectionsAndTagsOfTheirOwnFaces) {
  WriteFile("layouts.obj", kLayouts);
  WriteFile("layouts.mtl", kLayoutsMtl);
  DocPtr doc = ImportAndLoad("layouts.obj", std::string(kPlain) + " --set layout=per-group --set normals=on");
  ASSERT_TRUE(doc);
  PolygonObject* left = Poly(doc.get(), "left");
  PolygonObject* right = Poly(doc.get(), "right");
  ASSERT_TRUE(left && right);

  // "left" holds face 0 (body, default region, red) and face 3 (wheel, upper, blue).
  EXPECT_EQ(Listed(left, kGroupTag), std::vector<std::string>{"left"});
  EXPECT_EQ(Selected(left, "left"), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Listed(left, kRegionTag), (std::vector<std::string>{"default_Rgn", "upper"}));
  EXPECT_EQ(Selected(left, "default_Rgn"), std::vector<LONG>{0});
  EXPECT_EQ(Selected(left, "upper"), std::vector<LONG>{1});
  EXPECT_EQ(Selected(left, "red"), std::vector<LONG>{0});
  EXPECT_EQ(Selected(left, "blue"), std::vector<LONG>{1});
  // "right" holds faces 1 and 2, both in the region "upper".
  EXPECT_EQ(Listed(right, kGroupTag), std::vector<std::string>{"right"});
  EXPECT_EQ(Listed(right, kRegionTag), std::vector<std::string>{"upper"});
  EXPECT_EQ(Selected(right, "upper"), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Selected(right, "default_Rgn"), std::vector<LONG>{-1});

  // Texture tags of both objects apply the same two host materials, made once.
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "blue"}));
  for (const PolygonObject* op : {left, right})
    for (const char* name : {"red", "blue"}) {
      const TextureTag* tag = TextureTagFor(op, name);
      ASSERT_TRUE(tag) << Name(op) << " " << name;
      EXPECT_EQ(tag->GetMaterial(), Mat(doc.get(), name));
      EXPECT_EQ(tag->GetDataInstance()->GetLong(TEXTURETAG_PROJECTION), TEXTURETAG_PROJECTION_UVW);
    }

  // UVW and normal tags sized to the object's polygons and in its polygon order.
  const UVWTag* uvw = static_cast<const UVWTag*>(right->GetTag(Tuvw));
  ASSERT_TRUE(uvw);
  ASSERT_EQ(uvw->GetDataCount(), 2);
  EXPECT_TRUE(Near(uvw->GetSlow(1).b, Vector(1, 0, 1)));
  EXPECT_TRUE(Near(uvw->GetSlow(1).d, Vector(0, 1, 1)));
  const VariableTag* normals = static_cast<const VariableTag*>(right->GetTag(Tnormal));
  ASSERT_TRUE(normals);
  EXPECT_EQ(normals->GetDataCount(), 2);
  NormalStruct n;
  NormalTag::Get(normals->GetDataAddressR(), 1, n);
  EXPECT_TRUE(Near(n.a, Vector(0, 0, 1)));
  EXPECT_TRUE(Near(n.d, Vector(0, 0, 1)));
}

TEST_F(ShellImportScenesTest, ALayoutWithoutItsKindOfEntryInTheFileBuildsOneObject) {
  // Faces only: no "o", "g", "# r" or "usemtl".
  WriteFile("plain.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nf 1 2 3 4\nf 2 5 3\n");
  for (const char* layout : {"per-object", "per-group", "per-region", "per-material"}) {
    SCOPED_TRACE(layout);
    DocPtr doc = ImportAndLoad("plain.obj", std::string(kPlain) + " --set layout=" + layout);
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocTree(doc.get()), "plain.obj") << "no null, one object named after the file";
    PolygonObject* op = Poly(doc.get(), "plain.obj");
    ASSERT_TRUE(op);
    EXPECT_EQ(op->GetPointCount(), 5);
    EXPECT_EQ(op->GetPolygonCount(), 2);
    // The reader's defaults still give it its selections.
    EXPECT_EQ(Selected(op, "default_Grp"), (std::vector<LONG>{0, 1}));
    EXPECT_EQ(Selected(op, "default_Rgn"), (std::vector<LONG>{0, 1}));
    EXPECT_EQ(MaterialNames(doc.get()), std::vector<std::string>{}) << "no usemtl: no material";
  }

  // Points only: one object of points without polygons (and so no Phong tag).
  WriteFile("points.obj", "v 1 2 3\nv 4 5 6\n");
  DocPtr doc = ImportAndLoad("points.obj", std::string(kPlain) + " --set layout=per-group");
  ASSERT_TRUE(doc);
  EXPECT_EQ(DocTree(doc.get()), "points.obj");
  PolygonObject* op = Poly(doc.get(), "points.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(op->GetPointCount(), 2);
  EXPECT_EQ(op->GetPolygonCount(), 0);
  EXPECT_TRUE(Near(PointOf(op, 1), Vector(4, 5, 6)));
  EXPECT_FALSE(op->GetTag(Tphong));
}

TEST_F(ShellImportScenesTest, AGroupOfSeveralNamesSelectsItsFacesInEachName) {
  WriteFile("multi.obj",
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
            "g a b\nf 1 2 3\ng b  c\nf 1 3 4\n# r my region\nf 2 3 4\n");
  DocPtr single = ImportAndLoad("multi.obj", std::string(kPlain) + " --set whole-group-names=on");
  ASSERT_TRUE(single);
  PolygonObject* op = Poly(single.get(), "multi.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Listed(op, kGroupTag), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Selected(op, "a"), std::vector<LONG>{0});
  EXPECT_EQ(Selected(op, "b"), (std::vector<LONG>{0, 1, 2}));
  EXPECT_EQ(Selected(op, "c"), (std::vector<LONG>{1, 2}));
  EXPECT_EQ(Selected(op, "a b"), std::vector<LONG>{-1});
  EXPECT_EQ(Listed(op, kRegionTag), (std::vector<std::string>{"default_Rgn", "my_region"}));
  EXPECT_EQ(Selected(op, "my_region"), std::vector<LONG>{2});

  // Per group the object takes the whole name; its selections are the words.
  DocPtr split = ImportAndLoad("multi.obj", std::string(kPlain) + " --set whole-group-names=on --set layout=per-group");
  ASSERT_TRUE(split);
  EXPECT_EQ(DocTree(split.get()), "multi.obj{a b b  c}");
  PolygonObject* bc = Poly(split.get(), "b  c");
  ASSERT_TRUE(bc);
  EXPECT_EQ(Listed(bc, kGroupTag), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(Selected(bc, "b"), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Selected(bc, "c"), (std::vector<LONG>{0, 1}));

  // Without whole names only the last word counts: "b" has face 0 only.
  DocPtr last = ImportAndLoad("multi.obj", std::string(kPlain) + " --set whole-group-names=off");
  ASSERT_TRUE(last);
  op = Poly(last.get(), "multi.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Listed(op, kGroupTag), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(Selected(op, "b"), std::vector<LONG>{0});
  EXPECT_EQ(Selected(op, "c"), (std::vector<LONG>{1, 2}));
}

TEST_F(ShellImportScenesTest, SelectionsAreMadeOnlyWhenAskedFor) {
  WriteFile("layouts.obj", kLayouts);
  WriteFile("layouts.mtl", kLayoutsMtl);
  // The per-group layout still splits by group; "left" has a red and a blue face.
  for (const char* layout : {"single-object", "per-group"}) {
    SCOPED_TRACE(layout);
    DocPtr doc = ImportAndLoad("layouts.obj",
                               std::string(kPlain) + " --set groups=off --set regions=off --set layout=" + layout);
    ASSERT_TRUE(doc);
    PolygonObject* op = Poly(doc.get(), std::string(layout) == "per-group" ? "left" : "layouts.obj");
    ASSERT_TRUE(op);
    EXPECT_FALSE(op->GetTag(kGroupTag));
    EXPECT_FALSE(op->GetTag(kRegionTag));
    // What remains are the material selections, each with its texture tag.
    EXPECT_EQ(Names(TagsOf(op, Tpolygonselection)), (std::vector<std::string>{"blue", "red"}));
    EXPECT_EQ(TagsOf(op, Ttexture).size(), 2u);
  }
}

TEST_F(ShellImportScenesTest, WindowsLineEndsAndTabsLeaveNoTraceInNames) {
  WriteFile("crlf.obj",
            "mtllib crlf.mtl\r\nv 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\no thing \r\ng\tleft side\r\n"
            "# r top part\r\nusemtl my mat\r\nf 1 2 3\r\n");
  WriteFile("crlf.mtl", "newmtl my mat\r\nKd 1 0 0\r\nmap_Kd  C:\\tex\\wood grain.jpg \r\n");
  DocPtr doc = ImportAndLoad("crlf.obj", std::string(kPlain) + " --set layout=per-object --set whole-group-names=on");
  ASSERT_TRUE(doc);
  EXPECT_EQ(DocTree(doc.get()), "crlf.obj{thing}");
  PolygonObject* op = Poly(doc.get(), "thing");
  ASSERT_TRUE(op);
  EXPECT_EQ(Listed(op, kGroupTag), (std::vector<std::string>{"left", "side"}));
  EXPECT_EQ(Listed(op, kRegionTag), std::vector<std::string>{"top_part"});
  EXPECT_EQ(MaterialNames(doc.get()), std::vector<std::string>{"my_mat"});
  ASSERT_TRUE(Mat(doc.get(), "my_mat"));
  EXPECT_EQ(Texture(Mat(doc.get(), "my_mat"), CHANNEL_COLOR), "wood grain.jpg");
  EXPECT_TRUE(Near(Channel(Mat(doc.get(), "my_mat"), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
}

TEST_F(ShellImportScenesTest, FacesBeforeTheFirstObjectStatementFormAnObjectNamedAfterTheFile) {
  // The default mesh object takes the file's name; the per-object layout names objects by
  // the last word of their entry's name.
  WriteFile("my part.obj",
            "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 0 0\nv 6 0 0\nv 5 1 0\n"
            "f 1 2 3\no second one\nf 4 5 6\n");
  DocPtr doc = ImportAndLoad("my part.obj", std::string(kPlain) + " --set layout=per-object");
  ASSERT_TRUE(doc);
  EXPECT_EQ(DocTree(doc.get()), "my part.obj{part.obj second_one}");
  EXPECT_TRUE(HasCorners(Poly(doc.get(), "second_one"), 0,
                         {Vector(5, 0, 0), Vector(6, 0, 0), Vector(5, 1, 0), Vector(5, 1, 0)}));
}

// --- splines -------------------------------------------------------------------------------

// Line elements only: two mesh objects, two groups; no faces.
const char* const kLines =
    "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 3 0 0\nv 4 0 0\nv 5 0 0\n"
    "o alpha\ng ga\nl 1 2\nl 2 3\ng gb\nl 3 4\n"
    "o beta\ng ga\nl 4 5 6\n";

TEST_F(ShellImportScenesTest, EachSplineLayoutBuildsItsHierarchy) {
  WriteFile("lines.obj", kLines);
  const struct {
    const char* sets;
    const char* tree;
  } cases[] = {
      {"--set spline-layout=single", "lines.obj{lines.obj Spline<2,2,2,3>}"},
      {"--set spline-layout=per-object --set spline-nulls=none", "lines.obj{lines.obj Splines{alpha<2,2,2> beta<3>}}"},
      {"--set spline-layout=per-object --set spline-nulls=per-object",
       "lines.obj{lines.obj Splines{alpha{alpha<2,2,2>} beta{beta<3>}}}"},
      {"--set spline-layout=per-group --set spline-nulls=none", "lines.obj{lines.obj Splines{ga<2,2> gb<2> ga<3>}}"},
      {"--set spline-layout=per-group --set spline-nulls=per-object",
       "lines.obj{lines.obj Splines{alpha{ga<2,2> gb<2>} beta{ga<3>}}}"},
      {"--set spline-layout=per-segment --set spline-nulls=none",
       "lines.obj{lines.obj Splines{Spline0<2> Spline1<2> Spline2<2> Spline0<3>}}"},
      {"--set spline-layout=per-segment --set spline-nulls=per-object",
       "lines.obj{lines.obj Splines{alpha{Spline0<2> Spline1<2> Spline2<2>} beta{Spline0<3>}}}"},
      {"--set spline-layout=per-segment --set spline-nulls=per-group",
       "lines.obj{lines.obj Splines{alpha{ga{Spline0<2> Spline1<2>} gb{Spline2<2>}} beta{ga{Spline0<3>}}}}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sets);
    DocPtr doc = ImportAndLoad("lines.obj", std::string(kPlain) + " " + c.sets);
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocTree(doc.get()), c.tree);
    // The file has no faces: its polygon object holds the points alone.
    PolygonObject* points = Poly(doc.get(), "lines.obj");
    ASSERT_TRUE(points);
    EXPECT_EQ(points->GetPointCount(), 6);
    EXPECT_EQ(points->GetPolygonCount(), 0);
    for (BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) EXPECT_EQ(op->GetType(), Onull);
  }
}

TEST_F(ShellImportScenesTest, WithoutObjectStatementsSplinesHaveNoObjectNulls) {
  // One mesh object (the file's); the first element comes before any group.
  WriteFile("nol.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nl 1 2\ng ga\nl 2 3\ng gb\nl 1 3\ng ga\nl 3 1\n");
  const struct {
    const char* sets;
    const char* splines;
  } cases[] = {
      {"--set spline-layout=per-object --set spline-nulls=per-object", "nol.obj<2,2,2,2>"},
      {"--set spline-layout=per-group --set spline-nulls=per-object", "default_Grp<2> ga<2,2> gb<2>"},
      // Segment splines keep their place in the object's list as their number.
      {"--set spline-layout=per-segment --set spline-nulls=per-group",
       "default_Grp{Spline0<2>} ga{Spline1<2> Spline3<2>} gb{Spline2<2>}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sets);
    DocPtr doc = ImportAndLoad("nol.obj", std::string(kPlain) + " " + c.sets);
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocTree(doc.get()), std::string("nol.obj{nol.obj Splines{") + c.splines + "}}");
  }
}

TEST_F(ShellImportScenesTest, SplinePointsFollowTheirSegmentsAndTheClosedOption) {
  WriteFile("lines.obj", kLines);
  DocPtr open = ImportAndLoad("lines.obj", std::string(kPlain) + " --set spline-layout=single");
  ASSERT_TRUE(open);
  auto* spline = static_cast<SplineObject*>(FindIn(open->GetFirstObject(), "Spline", Ospline));
  ASSERT_TRUE(spline);
  const std::vector<Real> xs = {0, 1, 1, 2, 2, 3, 3, 4, 5};
  ASSERT_EQ(spline->GetPointCount(), static_cast<LONG>(xs.size()));
  for (size_t i = 0; i < xs.size(); ++i)
    EXPECT_TRUE(Near(PointOf(spline, static_cast<LONG>(i)), Vector(xs[i], 0, 0))) << i;
  EXPECT_FALSE(spline->IsClosed());
  for (LONG s = 0; s < spline->GetSegmentCount(); ++s) EXPECT_FALSE(spline->GetSegmentR()[s].closed);
  EXPECT_EQ(spline->GetInterpolationType(), SPLINETYPE_LINEAR);

  DocPtr closed =
      ImportAndLoad("lines.obj", std::string(kPlain) + " --set spline-layout=per-segment --set closed-splines=on");
  ASSERT_TRUE(closed);
  BaseObject* beta = FindIn(closed->GetFirstObject(), "beta", Onull);
  ASSERT_TRUE(beta);
  auto* last = static_cast<SplineObject*>(FindIn(beta->GetDown(), "Spline0", Ospline));
  ASSERT_TRUE(last);
  EXPECT_TRUE(last->IsClosed());
  ASSERT_EQ(last->GetSegmentCount(), 1);
  EXPECT_TRUE(last->GetSegmentR()[0].closed);
  ASSERT_EQ(last->GetPointCount(), 3);
  EXPECT_TRUE(Near(PointOf(last, 2), Vector(5, 0, 0)));
}

TEST_F(ShellImportScenesTest, LineElementsCanBeFacesOrLeftOut) {
  // With faces in the file the splines sit beside the polygon object under the file null.
  WriteFile("mixed.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 2 2 0\nf 1 2 3\nl 1 4\nl 2 3 4\n");
  DocPtr splines = ImportAndLoad("mixed.obj", std::string(kPlain) + " --set spline-layout=single");
  ASSERT_TRUE(splines);
  EXPECT_EQ(DocTree(splines.get()), "mixed.obj{mixed.obj Spline<2,3>}");
  ASSERT_TRUE(Poly(splines.get(), "mixed.obj"));
  EXPECT_EQ(Poly(splines.get(), "mixed.obj")->GetPolygonCount(), 1);

  // As faces: the element of three points is a triangle; one of two points is no face.
  DocPtr faces = ImportAndLoad("mixed.obj", std::string(kPlain) + " --set lines=as-faces");
  ASSERT_TRUE(faces);
  EXPECT_EQ(DocTree(faces.get()), "mixed.obj");
  PolygonObject* op = Poly(faces.get(), "mixed.obj");
  ASSERT_TRUE(op);
  ASSERT_EQ(op->GetPolygonCount(), 2);
  EXPECT_TRUE(HasCorners(op, 1, {Vector(1, 0, 0), Vector(1, 1, 0), Vector(2, 2, 0), Vector(2, 2, 0)}));

  DocPtr none = ImportAndLoad("mixed.obj", std::string(kPlain) + " --set line-elements=off");
  ASSERT_TRUE(none);
  EXPECT_EQ(DocTree(none.get()), "mixed.obj");
  ASSERT_TRUE(Poly(none.get(), "mixed.obj"));
  EXPECT_EQ(Poly(none.get(), "mixed.obj")->GetPolygonCount(), 1);
}

// --- n-gons ----------------------------------------------------------------------------------

// A pentagon in group a; a hexagon and a quad in group b.
const char* const kNgons =
    "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\n"
    "v 5 0 0\nv 6 0 0\nv 7 1 0\nv 6 2 0\nv 5 2 0\nv 4 1 0\n"
    "v 10 0 0\nv 11 0 0\nv 11 1 0\nv 10 1 0\n"
    "g a\nf 1 2 3 4 5\n"
    "g b\nf 6 7 8 9 10 11\nf 12 13 14 15\n";
const std::vector<Vector> kPentagon = {Vector(0, 0, 0), Vector(2, 0, 0), Vector(3, 1, 0), Vector(1, 2, 0),
                                       Vector(-1, 1, 0)};
const std::vector<Vector> kHexagon = {Vector(5, 0, 0), Vector(6, 0, 0), Vector(7, 1, 0),
                                      Vector(6, 2, 0), Vector(5, 2, 0), Vector(4, 1, 0)};

TEST_F(ShellImportScenesTest, LargeFacesBecomeNgonsOnlyWithTheOption) {
  WriteFile("ngons.obj", kNgons);
  for (const bool reverse : {false, true}) {
    SCOPED_TRACE(reverse ? "reversed" : "forward");
    const std::string order = std::string(" --set reverse-order=") + (reverse ? "on" : "off");
    DocPtr doc = ImportAndLoad("ngons.obj", kPlain + order);
    ASSERT_TRUE(doc);
    PolygonObject* op = Poly(doc.get(), "ngons.obj");
    ASSERT_TRUE(op);
    // A pentagon splits into at least 2 polygons, a hexagon into at least 2, plus the quad.
    const LONG polygons = op->GetPolygonCount();
    EXPECT_GE(polygons, 5);
    ASSERT_EQ(op->GetNgonCount(), 2);
    EXPECT_TRUE(SameLoop(Outline(op, 0), reverse ? Reversed(kPentagon) : kPentagon));
    EXPECT_TRUE(SameLoop(Outline(op, 1), reverse ? Reversed(kHexagon) : kHexagon));

    DocPtr flat = ImportAndLoad("ngons.obj", kPlain + order + " --set ngons=off");
    ASSERT_TRUE(flat);
    PolygonObject* plain = Poly(flat.get(), "ngons.obj");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->GetPolygonCount(), polygons) << "the same polygons, not joined";
    EXPECT_EQ(plain->GetNgonCount(), 0);
  }
}

TEST_F(ShellImportScenesTest, SplitObjectsRebuildTheirOwnNgons) {
  WriteFile("ngons.obj", kNgons);
  for (const bool reverse : {false, true}) {
    SCOPED_TRACE(reverse ? "reversed" : "forward");
    DocPtr doc = ImportAndLoad(
        "ngons.obj", std::string(kPlain) + " --set layout=per-group --set reverse-order=" + (reverse ? "on" : "off"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocTree(doc.get()), "ngons.obj{a b}");
    PolygonObject* a = Poly(doc.get(), "a");
    PolygonObject* b = Poly(doc.get(), "b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->GetPointCount(), 5);
    EXPECT_EQ(b->GetPointCount(), 10);
    ASSERT_EQ(a->GetNgonCount(), 1);
    ASSERT_EQ(b->GetNgonCount(), 1);
    EXPECT_TRUE(SameLoop(Outline(a, 0), reverse ? Reversed(kPentagon) : kPentagon));
    EXPECT_TRUE(SameLoop(Outline(b, 0), reverse ? Reversed(kHexagon) : kHexagon));
    // The quad after the hexagon stays a polygon of its own, last in b.
    const std::vector<Vector> quad = {Vector(10, 0, 0), Vector(11, 0, 0), Vector(11, 1, 0), Vector(10, 1, 0)};
    EXPECT_TRUE(HasCorners(b, b->GetPolygonCount() - 1, reverse ? Reversed(quad) : quad));
  }
  DocPtr flat = ImportAndLoad("ngons.obj", std::string(kPlain) + " --set layout=per-group --set ngons=off");
  ASSERT_TRUE(flat);
  ASSERT_TRUE(Poly(flat.get(), "a") && Poly(flat.get(), "b"));
  EXPECT_EQ(Poly(flat.get(), "a")->GetNgonCount(), 0);
  EXPECT_EQ(Poly(flat.get(), "b")->GetNgonCount(), 0);
}

// --- corner order, axes, scale, axis centre, Phong ----------------------------------------

TEST_F(ShellImportScenesTest, ReverseWindingTurnsCornersTexturesAndNormals) {
  WriteFile("turn.obj",
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0.1 0.2\nvt 0.3 0.4\nvt 0.5 0.6\nvt 0.7 0.8\n"
            "vn 1 0 0\nvn 0 1 0\nvn 0 0 1\n"
            "f 1/1/1 2/2/2 3/3/3\nf 1/1/1 2/2/2 3/3/3 4/4/1\n");
  DocPtr doc = ImportAndLoad("turn.obj", std::string(kPlain) + " --set reverse-order=on --set normals=on");
  ASSERT_TRUE(doc);
  PolygonObject* op = Poly(doc.get(), "turn.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Corners(op, 0), (std::vector<LONG>{2, 1, 0, 0}));
  EXPECT_EQ(Corners(op, 1), (std::vector<LONG>{3, 2, 1, 0}));

  const UVWTag* uvw = static_cast<const UVWTag*>(op->GetTag(Tuvw));
  ASSERT_TRUE(uvw);
  EXPECT_TRUE(Near(uvw->GetSlow(0).a, Vector(0.5, 0.6, 1)));
  EXPECT_TRUE(Near(uvw->GetSlow(0).c, Vector(0.1, 0.2, 1)));
  EXPECT_TRUE(Near(uvw->GetSlow(1).a, Vector(0.7, 0.8, 1)));
  EXPECT_TRUE(Near(uvw->GetSlow(1).d, Vector(0.1, 0.2, 1)));

  // Reversing the winding turns the normals round as well, in the same corner order.
  const VariableTag* normals = static_cast<const VariableTag*>(op->GetTag(Tnormal));
  ASSERT_TRUE(normals);
  NormalStruct n;
  NormalTag::Get(normals->GetDataAddressR(), 0, n);
  EXPECT_TRUE(Near(n.a, Vector(0, 0, -1)));
  EXPECT_TRUE(Near(n.b, Vector(0, -1, 0)));
  EXPECT_TRUE(Near(n.c, Vector(-1, 0, 0)));
  EXPECT_TRUE(Near(n.d, Vector(-1, 0, 0))) << "a triangle repeats its last normal";
}

TEST_F(ShellImportScenesTest, AxisOptionsMoveThePointsAndEachMirrorTurnsTheWinding) {
  WriteFile("axes.obj", "v 1 2 3\nv 4 5 6\nv 7 8 10\nvn 0 3 4\nf 1//1 2//1 3//1\n");
  const struct {
    const char* sets;
    Vector first;   // point 1
    Vector normal;  // the normal, unit length
    bool reversed;  // an odd number of mirrors
  } cases[] = {
      {"", Vector(1, 2, 3), Vector(0, 0.6, 0.8), false},
      {"--set swap-yz=on", Vector(1, 3, 2), Vector(0, 0.8, 0.6), true},
      {"--set negate-z=on", Vector(1, 2, -3), Vector(0, 0.6, -0.8), true},
      {"--set negate-x=on", Vector(-1, 2, 3), Vector(0, 0.6, 0.8), true},
      {"--set swap-yz=on --set negate-z=on", Vector(1, 3, -2), Vector(0, 0.8, -0.6), false},
      {"--set swap-yz=on --set negate-z=on --set negate-x=on", Vector(-1, 3, -2), Vector(0, 0.8, -0.6), true},
      // A mirror and the reverse option cancel out for the corners; normals follow the option.
      {"--set negate-x=on --set reverse-order=on", Vector(-1, 2, 3), Vector(0, -0.6, -0.8), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sets);
    DocPtr doc = ImportAndLoad("axes.obj", std::string(kPlain) + " --set normals=on " + c.sets);
    ASSERT_TRUE(doc);
    PolygonObject* op = Poly(doc.get(), "axes.obj");
    ASSERT_TRUE(op);
    EXPECT_TRUE(Near(PointOf(op, 0), c.first));
    EXPECT_EQ(Corners(op, 0), c.reversed ? std::vector<LONG>({2, 1, 0, 0}) : std::vector<LONG>({0, 1, 2, 2}));
    const VariableTag* normals = static_cast<const VariableTag*>(op->GetTag(Tnormal));
    ASSERT_TRUE(normals);
    NormalStruct n;
    NormalTag::Get(normals->GetDataAddressR(), 0, n);
    EXPECT_TRUE(Near(n.a, c.normal, 1e-6));
  }
}

TEST_F(ShellImportScenesTest, TheScaleMultipliesOrDividesPointsButNotNormalsOrTextures) {
  WriteFile("scale.obj", "v 1 2 3\nv 4 0 0\nv 0 8 0\nvt 0.5 0.25\nvn 0 0 2\nf 1/1/1 2/1/1 3/1/1\n");
  const struct {
    const char* sets;
    Real factor;
  } cases[] = {
      {"--set scale-mode=multiply --set scale=100", 100.0},
      {"--set scale-mode=divide --set scale=4", 0.25},
      {"--set scale-mode=divide --set scale=1", 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sets);
    DocPtr doc = ImportAndLoad("scale.obj", std::string(kPlain) + " --set normals=on " + c.sets);
    ASSERT_TRUE(doc);
    PolygonObject* op = Poly(doc.get(), "scale.obj");
    ASSERT_TRUE(op);
    EXPECT_TRUE(Near(PointOf(op, 0), Vector(1, 2, 3) * c.factor));
    EXPECT_TRUE(Near(PointOf(op, 2), Vector(0, 8, 0) * c.factor));
    EXPECT_TRUE(Near(NormalsOf(op, 0).b, Vector(0, 0, 1)));
    EXPECT_TRUE(Near(UVWOf(op, 0).b, Vector(0.5, 0.25, 1)));
  }
  // The texture options flip coordinates in place.
  DocPtr flipped = ImportAndLoad("scale.obj", std::string(kPlain) + " --set flip-u=on --set flip-v=on");
  ASSERT_TRUE(flipped);
  EXPECT_TRUE(Near(UVWOf(Poly(flipped.get(), "scale.obj"), 0).a, Vector(0.5, 0.75, 1)));
}

TEST_F(ShellImportScenesTest, CentredAxesKeepEveryPointInPlace) {
  // Two groups far from the origin; each split object gets its own centre.
  WriteFile("far.obj",
            "v 20000 0 0\nv 20010 0 0\nv 20010 4 0\nv 20000 4 -2\nv -30 0 0\nv -10 0 0\nv -10 6 8\n"
            "g near\nf 1 2 3 4\ng other\nf 5 6 7\n");
  DocPtr single = ImportAndLoad("far.obj", "--set negate-z=off --set centre-axes=on");
  ASSERT_TRUE(single);
  PolygonObject* op = Poly(single.get(), "far.obj");
  ASSERT_TRUE(op);
  EXPECT_TRUE(Near(op->GetMl().off, Vector(9990, 3, 3)));
  EXPECT_TRUE(Near(op->GetMl().v1, Vector(1, 0, 0)));
  EXPECT_TRUE(Near(op->GetMg().off + PointOf(op, 1), Vector(20010, 0, 0)));

  DocPtr split = ImportAndLoad("far.obj", "--set negate-z=off --set centre-axes=on --set layout=per-group");
  ASSERT_TRUE(split);
  PolygonObject* near = Poly(split.get(), "near");
  PolygonObject* other = Poly(split.get(), "other");
  ASSERT_TRUE(near && other);
  EXPECT_TRUE(Near(near->GetMl().off, Vector(20005, 2, -1)));
  EXPECT_TRUE(Near(PointOf(near, 0), Vector(-5, -2, 1)));
  EXPECT_TRUE(Near(other->GetMl().off, Vector(-20, 3, 4)));
  EXPECT_TRUE(Near(other->GetMg().off + PointOf(other, 2), Vector(-10, 6, 8)));

  DocPtr still = ImportAndLoad("far.obj", "--set negate-z=off --set centre-axes=off");
  ASSERT_TRUE(still);
  ASSERT_TRUE(Poly(still.get(), "far.obj"));
  EXPECT_TRUE(Near(Poly(still.get(), "far.obj")->GetMl().off, Vector(0, 0, 0)));
  EXPECT_TRUE(Near(PointOf(Poly(still.get(), "far.obj"), 1), Vector(20010, 0, 0)));
}

TEST_F(ShellImportScenesTest, PhongTagsCarryTheAngleLimit) {
  WriteFile("layouts.obj", kLayouts);
  WriteFile("layouts.mtl", kLayoutsMtl);
  DocPtr doc = ImportAndLoad("layouts.obj", std::string(kPlain) +
                                                " --set phong-tags=on --set smooth-angle=45 "
                                                "--set layout=per-object");
  ASSERT_TRUE(doc);
  for (const char* name : {"body", "wheel"}) {
    PolygonObject* op = Poly(doc.get(), name);
    ASSERT_TRUE(op) << name;
    const BaseTag* phong = op->GetTag(Tphong);
    ASSERT_TRUE(phong) << name;
    EXPECT_TRUE(phong->GetDataInstance()->GetBool(PHONGTAG_PHONG_ANGLELIMIT));
    EXPECT_NEAR(phong->GetDataInstance()->GetReal(PHONGTAG_PHONG_ANGLE), 45.0 * kPi / 180.0, 1e-6);
  }
  DocPtr off = ImportAndLoad("layouts.obj", std::string(kPlain) + " --set phong-tags=off");
  ASSERT_TRUE(off);
  ASSERT_TRUE(Poly(off.get(), "layouts.obj"));
  EXPECT_FALSE(Poly(off.get(), "layouts.obj")->GetTag(Tphong));
}

// --- materials -------------------------------------------------------------------------------

// One material with every statement, one with none, one no face uses.
const char* const kFullObj =
    "mtllib full.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl full\nf 1 2 3\nusemtl plain\nf 1 3 2\n";
const char* const kFullMtl =
    "newmtl full\n"
    "Ka 0.1 0.2 0.3\nKd 0.4 0.5 0.6\nKs 0.7 0.8 0.9\nNs 50\nNi 1.5\nd 0.25\n"
    "map_Kd C:\\tex\\wood.jpg\nmap_Ka glow.png\nmap_Ks /maps/shine.png\n"
    "map_Bump bumps/bump.png\ndisp disp.png\nmap_d alpha.png\n"
    "newmtl plain\n"
    "newmtl unused\nKd 1 0 0\n";

const LONG kAllChannels[] = {CHANNEL_COLOR,         CHANNEL_LUMINANCE, CHANNEL_TRANSPARENCY, CHANNEL_SPECULAR,
                             CHANNEL_SPECULARCOLOR, CHANNEL_BUMP,      CHANNEL_DISPLACEMENT, CHANNEL_ALPHA};

TEST_F(ShellImportScenesTest, MaterialChannelsFollowTheLibraryAndTheChannelSwitches) {
  WriteFile("full.obj", kFullObj);
  WriteFile("full.mtl", kFullMtl);
  DocPtr doc = ImportAndLoad("full.obj", std::string(kPlain) + " --set texture-sampling=circle --set texture-blur=30%");
  ASSERT_TRUE(doc);
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"full", "plain"})) << "no face uses 'unused'";
  Material* full = Mat(doc.get(), "full");
  ASSERT_TRUE(full);
  for (const LONG channel : kAllChannels) EXPECT_TRUE(full->GetChannelState(channel)) << channel;
  EXPECT_TRUE(Near(Channel(full, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.4, 0.5, 0.6)));
  EXPECT_EQ(Channel(full, CHANNEL_COLOR).GetReal(BASECHANNEL_BRIGHTNESS_EX), 1.0);
  EXPECT_EQ(Texture(full, CHANNEL_COLOR), "wood.jpg");
  EXPECT_EQ(Channel(full, CHANNEL_COLOR).GetLong(BASECHANNEL_MIXSTRENGTH_EX), 1);
  EXPECT_EQ(Channel(full, CHANNEL_COLOR).GetLong(BASECHANNEL_MIXMODE_EX), 5);
  EXPECT_TRUE(Near(Channel(full, CHANNEL_LUMINANCE).GetVector(BASECHANNEL_COLOR_EX), Vector(0.1, 0.2, 0.3)));
  EXPECT_EQ(Texture(full, CHANNEL_LUMINANCE), "glow.png");
  EXPECT_TRUE(Near(Channel(full, CHANNEL_SPECULARCOLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.7, 0.8, 0.9)));
  EXPECT_EQ(Texture(full, CHANNEL_SPECULARCOLOR), "shine.png");
  EXPECT_TRUE(Near(Channel(full, CHANNEL_TRANSPARENCY).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 1, 1)));
  EXPECT_NEAR(Channel(full, CHANNEL_TRANSPARENCY).GetReal(BASECHANNEL_BRIGHTNESS_EX), 0.75, 1e-9);
  EXPECT_NEAR(full->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION), 1.5, 1e-9);
  EXPECT_EQ(Texture(full, CHANNEL_BUMP), "bump.png");
  EXPECT_EQ(Channel(full, CHANNEL_BUMP).GetLong(BASECHANNEL_MIXMODE_EX), 5);
  EXPECT_EQ(Texture(full, CHANNEL_DISPLACEMENT), "disp.png");
  EXPECT_EQ(Texture(full, CHANNEL_ALPHA), "alpha.png");

  // A library material that sets nothing shows nothing, not even its colour.
  Material* plain = Mat(doc.get(), "plain");
  ASSERT_TRUE(plain);
  for (const LONG channel : kAllChannels) EXPECT_FALSE(plain->GetChannelState(channel)) << channel;

  // Without texture loading the colour-like channels keep their colour but no map; the
  // map channels still take theirs.
  DocPtr untextured = ImportAndLoad("full.obj", std::string(kPlain) + " --set load-textures=off");
  ASSERT_TRUE(untextured);
  full = Mat(untextured.get(), "full");
  ASSERT_TRUE(full);
  EXPECT_TRUE(full->GetChannelState(CHANNEL_COLOR));
  EXPECT_EQ(Texture(full, CHANNEL_COLOR), "");
  EXPECT_EQ(Texture(full, CHANNEL_LUMINANCE), "");
  EXPECT_EQ(Texture(full, CHANNEL_SPECULARCOLOR), "");
  EXPECT_EQ(Texture(full, CHANNEL_BUMP), "bump.png");
  EXPECT_EQ(Texture(full, CHANNEL_ALPHA), "alpha.png");

  // Every channel switched off.
  DocPtr bare = ImportAndLoad("full.obj", std::string(kPlain) +
                                              " --set colour=off --set luminance=off --set transparency=off"
                                              " --set specular=off --set specular-colour=off --set bump=off"
                                              " --set displacement=off --set alpha=off");
  ASSERT_TRUE(bare);
  full = Mat(bare.get(), "full");
  ASSERT_TRUE(full);
  for (const LONG channel : kAllChannels) EXPECT_FALSE(full->GetChannelState(channel)) << channel;

  // Transparency without the refraction value.
  DocPtr clear = ImportAndLoad("full.obj", std::string(kPlain) + " --set refraction=off");
  ASSERT_TRUE(clear);
  full = Mat(clear.get(), "full");
  ASSERT_TRUE(full);
  EXPECT_TRUE(full->GetChannelState(CHANNEL_TRANSPARENCY));
  EXPECT_NE(full->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.0), 1.5);
}

TEST_F(ShellImportScenesTest, WithoutItsLibraryEveryMaterialShowsItsDefaultColour) {
  WriteFile("lost.obj", "mtllib nowhere.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nusemtl paint\nf 1 3 2\n");
  DocPtr doc = ImportAndLoad("lost.obj", kPlain);
  ASSERT_TRUE(doc);
  // The face before any usemtl has the default material.
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"default_Mat", "paint"}));
  for (const char* name : {"default_Mat", "paint"}) {
    Material* mat = Mat(doc.get(), name);
    ASSERT_TRUE(mat) << name;
    EXPECT_TRUE(mat->GetChannelState(CHANNEL_COLOR)) << name;
    EXPECT_TRUE(Near(Channel(mat, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.34902, 0.376471, 0.407843)))
        << name;
    EXPECT_FALSE(mat->GetChannelState(CHANNEL_TRANSPARENCY)) << name;
  }
  PolygonObject* op = Poly(doc.get(), "lost.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Selected(op, "default_Mat"), std::vector<LONG>{0});
  EXPECT_EQ(Selected(op, "paint"), std::vector<LONG>{1});
}

TEST_F(ShellImportScenesTest, TexturesAreLookedUpInTheTextureFolder) {
  WriteFile("full.obj", kFullObj);
  WriteFile("full.mtl", kFullMtl);
  fs::create_directories(fs::path(TempDir()) / "textures/wood");
  WriteFile("textures/wood/wood.jpg", "not really a picture");
  WriteFile("textures/disp.png", "nor this");
  const std::string folder = TempDir() + "/textures";
  DocPtr doc = ImportAndLoad("full.obj", std::string(kPlain) + " --set 'texture-path=" + folder + "'");
  ASSERT_TRUE(doc);
  Material* full = Mat(doc.get(), "full");
  ASSERT_TRUE(full);
  EXPECT_EQ(Texture(full, CHANNEL_COLOR), "wood.jpg");
  EXPECT_EQ(fs::path(Channel(full, CHANNEL_COLOR).GetFilename(BASECHANNEL_SUGGESTEDFOLDER).GetString().Std()),
            fs::path(folder) / "wood");
  EXPECT_EQ(fs::path(Channel(full, CHANNEL_DISPLACEMENT).GetFilename(BASECHANNEL_SUGGESTEDFOLDER).GetString().Std()),
            fs::path(folder));
  // A map that is not in the folder keeps its name and gets no folder.
  EXPECT_EQ(Texture(full, CHANNEL_BUMP), "bump.png");
  EXPECT_EQ(Channel(full, CHANNEL_BUMP).GetFilename(BASECHANNEL_SUGGESTEDFOLDER).GetString().Std(), "");

  // Without a texture folder, or with one that does not exist, nothing is found.
  for (const std::string& sets : {std::string(), " --set 'texture-path=" + TempDir() + "/no/such/folder'"}) {
    SCOPED_TRACE(sets);
    DocPtr none = ImportAndLoad("full.obj", kPlain + sets);
    ASSERT_TRUE(none);
    Material* mat = Mat(none.get(), "full");
    ASSERT_TRUE(mat);
    EXPECT_EQ(Texture(mat, CHANNEL_COLOR), "wood.jpg");
    EXPECT_EQ(Channel(mat, CHANNEL_COLOR).GetFilename(BASECHANNEL_SUGGESTEDFOLDER).GetString().Std(), "");
  }
}

// A file using red, blue and a name the scene has as another kind of material.
const char* const kModesObj =
    "mtllib modes.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\n"
    "usemtl red\nf 1 2 3\nusemtl blue\nf 2 4 3\nusemtl fogged\nf 1 4 2\n";
const char* const kModesMtl = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\nnewmtl fogged\nKd 1 1 0\n";

class ShellImportMaterialModesTest : public ShellImportScenesTest {
 protected:
  void SetUp() override {
    ShellImportScenesTest::SetUp();
    WriteFile("modes.obj", kModesObj);
    WriteFile("modes.mtl", kModesMtl);
    // The scene has a green standard material "red" and a fog material "fogged".
    WriteScene("scene.kscn", [](BaseDocument* doc) {
      Material* red = Material::Alloc();
      ASSERT_TRUE(red);
      red->SetName(String("red"));
      BaseContainer bc;
      bc.SetVector(BASECHANNEL_COLOR_EX, Vector(0, 1, 0));
      bc.SetReal(BASECHANNEL_BRIGHTNESS_EX, 0.5);
      red->GetChannel(CHANNEL_COLOR)->SetData(bc);
      red->SetChannelState(CHANNEL_COLOR, TRUE);
      doc->InsertMaterial(red);
      BaseMaterial* fog = BaseMaterial::Alloc(Mfog);
      ASSERT_TRUE(fog);
      fog->SetName(String("fogged"));
      doc->InsertMaterial(fog, red);
    });
  }

  DocPtr Into(const std::string& sets) {
    return ImportAndLoad("modes.obj", std::string(kPlain) + " --into scene.kscn " + sets);
  }
};

TEST_F(ShellImportMaterialModesTest, NoMaterialsLeavesTheSceneAloneButKeepsTheSelections) {
  DocPtr doc = Into("--set materials=none");
  ASSERT_TRUE(doc);
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "fogged"}));
  PolygonObject* op = Poly(doc.get(), "modes.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Names(TagsOf(op, Tpolygonselection)),
            (std::vector<std::string>{"blue", "default_Grp", "default_Rgn", "fogged", "red"}));
  EXPECT_TRUE(TagsOf(op, Ttexture).empty());
}

TEST_F(ShellImportMaterialModesTest, NewMaterialsAreMadeBesideTheScenesOwn) {
  DocPtr doc = Into("--set materials=new");
  ASSERT_TRUE(doc);
  ASSERT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "fogged", "red", "blue", "fogged"}));
  BaseMaterial* oldRed = doc->GetFirstMaterial();
  BaseMaterial* newRed = oldRed->GetNext()->GetNext();
  PolygonObject* op = Poly(doc.get(), "modes.obj");
  ASSERT_TRUE(op);
  ASSERT_TRUE(TextureTagFor(op, "red"));
  EXPECT_EQ(MaterialOf(op, "red"), newRed);
  EXPECT_TRUE(
      Near(Channel(static_cast<Material*>(newRed), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
  EXPECT_TRUE(
      Near(Channel(static_cast<Material*>(oldRed), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0, 1, 0)));
  ASSERT_TRUE(TextureTagFor(op, "fogged"));
  EXPECT_EQ(TypeOf(MaterialOf(op, "fogged")), Mmaterial);
}

TEST_F(ShellImportMaterialModesTest, ReusedMaterialsAreLinkedNotDuplicated) {
  DocPtr doc = Into("--set materials=reuse --set rewrite-materials=off");
  ASSERT_TRUE(doc);
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "fogged", "blue"}));
  Material* red = Mat(doc.get(), "red");
  ASSERT_TRUE(red);
  EXPECT_TRUE(Near(Channel(red, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0, 1, 0))) << "left as it was";
  EXPECT_EQ(Channel(red, CHANNEL_COLOR).GetReal(BASECHANNEL_BRIGHTNESS_EX), 0.5);
  PolygonObject* op = Poly(doc.get(), "modes.obj");
  ASSERT_TRUE(op);
  for (const char* name : {"red", "blue", "fogged"}) ASSERT_TRUE(TextureTagFor(op, name)) << name;
  EXPECT_EQ(MaterialOf(op, "red"), red);
  EXPECT_EQ(MaterialOf(op, "blue"), Mat(doc.get(), "blue"));
  // Another kind of material is linked as it is.
  const BaseMaterial* fog = MaterialOf(op, "fogged");
  ASSERT_TRUE(fog);
  EXPECT_EQ(fog->GetType(), Mfog);
  EXPECT_EQ(Name(fog), "fogged");
}

TEST_F(ShellImportMaterialModesTest, ReusedMaterialsCanBeRewrittenFromTheFile) {
  DocPtr doc = Into("--set materials=reuse --set rewrite-materials=on");
  ASSERT_TRUE(doc);
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"red", "fogged", "blue"}));
  Material* red = Mat(doc.get(), "red");
  ASSERT_TRUE(red);
  EXPECT_TRUE(Near(Channel(red, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
  EXPECT_EQ(Channel(red, CHANNEL_COLOR).GetReal(BASECHANNEL_BRIGHTNESS_EX), 1.0);
  PolygonObject* op = Poly(doc.get(), "modes.obj");
  ASSERT_TRUE(op);
  ASSERT_TRUE(TextureTagFor(op, "red"));
  EXPECT_EQ(MaterialOf(op, "red"), red);
  ASSERT_TRUE(TextureTagFor(op, "fogged"));
  EXPECT_EQ(TypeOf(MaterialOf(op, "fogged")), Mfog) << "never rewritten";
}

TEST_F(ShellImportScenesTest, DuplicateMaterialsMergeWithinTheTolerance) {
  WriteFile("merge.obj",
            "mtllib merge.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\n"
            "usemtl a\nf 1 2 3\nusemtl b\nf 2 4 3\nusemtl c\nf 1 4 2\nusemtl mapped\nf 1 3 4\n");
  WriteFile("merge.mtl",
            "newmtl a\nKd 0.5 0.5 0.5\nnewmtl b\nKd 0.502 0.5 0.5\nnewmtl c\nKd 0.5 0.5 0.52\n"
            "newmtl mapped\nKd 0.5 0.5 0.5\nmap_Kd wood.jpg\n");

  ShellRun run;
  DocPtr merged = ImportAndLoad("merge.obj", std::string(kPlain) + " --set consolidate-materials=on", &run);
  ASSERT_TRUE(merged);
  EXPECT_NE(run.out.find("NumMaterials: 4\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Merged: 3\n"), std::string::npos) << run.out;
  EXPECT_EQ(MaterialNames(merged.get()), (std::vector<std::string>{"a", "c", "mapped"}));
  PolygonObject* op = Poly(merged.get(), "merge.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(Selected(op, "a"), (std::vector<LONG>{0, 1})) << "b's face went to a";
  EXPECT_EQ(Selected(op, "b"), std::vector<LONG>{-1});
  EXPECT_EQ(Selected(op, "c"), std::vector<LONG>{2});

  // A wider blue tolerance takes c in as well; a material with a map never merges.
  DocPtr wide = ImportAndLoad("merge.obj",
                              std::string(kPlain) + " --set consolidate-materials=on --set merge-tolerance-b=8", &run);
  ASSERT_TRUE(wide);
  EXPECT_NE(run.out.find("Merged: 2\n"), std::string::npos) << run.out;
  EXPECT_EQ(MaterialNames(wide.get()), (std::vector<std::string>{"a", "mapped"}));

  // Per material, the merged entries make one object.
  DocPtr split =
      ImportAndLoad("merge.obj", std::string(kPlain) + " --set consolidate-materials=on --set layout=per-material");
  ASSERT_TRUE(split);
  EXPECT_EQ(DocTree(split.get()), "merge.obj{a c mapped}");
  ASSERT_TRUE(Poly(split.get(), "a"));
  EXPECT_EQ(Poly(split.get(), "a")->GetPolygonCount(), 2);

  DocPtr apart = ImportAndLoad("merge.obj", std::string(kPlain) + " --set consolidate-materials=off", &run);
  ASSERT_TRUE(apart);
  EXPECT_EQ(run.out.find("NumMaterials:"), std::string::npos) << run.out;
  EXPECT_EQ(MaterialNames(apart.get()), (std::vector<std::string>{"a", "b", "c", "mapped"}));
}

// --- layers ----------------------------------------------------------------------------------

TEST_F(ShellImportScenesTest, LayersHoldWhatTheirNamesSay) {
  WriteFile("layouts.obj", std::string(kLayouts) + "l 1 7\n");
  WriteFile("layouts.mtl", kLayoutsMtl);
  DocPtr doc = ImportAndLoad("layouts.obj", std::string(kPlain) + " --set normals=on --set spline-layout=single");
  ASSERT_TRUE(doc);
  EXPECT_EQ(LayerNames(doc.get()),
            (std::vector<std::string>{Layer(IDS_LAYER_POLYGONS), Layer(IDS_LAYER_SPLINES), Layer(IDS_LAYER_TEXTURES),
                                      Layer(IDS_LAYER_MATERIAL_SELECTIONS), Layer(IDS_LAYER_GROUP_SELECTIONS),
                                      Layer(IDS_LAYER_REGION_SELECTIONS), Layer(IDS_LAYER_NORMALS),
                                      Layer(IDS_LAYER_PHONG), Layer(IDS_LAYER_UVW)}));
  PolygonObject* op = Poly(doc.get(), "layouts.obj");
  ASSERT_TRUE(op);
  const BaseDocument* d = doc.get();
  EXPECT_EQ(LayerOf(d, op), Layer(IDS_LAYER_POLYGONS));
  EXPECT_EQ(LayerOf(d, FindIn(doc->GetFirstObject(), "Spline", Ospline)), Layer(IDS_LAYER_SPLINES));
  EXPECT_EQ(LayerOf(d, op->GetTag(Tuvw)), Layer(IDS_LAYER_UVW));
  EXPECT_EQ(LayerOf(d, op->GetTag(Tnormal)), Layer(IDS_LAYER_NORMALS));
  EXPECT_EQ(LayerOf(d, op->GetTag(Tphong)), Layer(IDS_LAYER_PHONG));
  for (const BaseTag* tag : TagsOf(op, Ttexture)) EXPECT_EQ(LayerOf(d, tag), Layer(IDS_LAYER_TEXTURES));
  EXPECT_EQ(LayerOf(d, TagNamed(op, Tpolygonselection, "red")), Layer(IDS_LAYER_MATERIAL_SELECTIONS));
  EXPECT_EQ(LayerOf(d, TagNamed(op, Tpolygonselection, "left")), Layer(IDS_LAYER_GROUP_SELECTIONS));
  EXPECT_EQ(LayerOf(d, TagNamed(op, Tpolygonselection, "upper")), Layer(IDS_LAYER_REGION_SELECTIONS));
  // Nulls are on no layer.
  EXPECT_EQ(LayerOf(d, doc->GetFirstObject()), "");

  // All switched off: no layer at all.
  DocPtr off = ImportAndLoad("layouts.obj",
                             std::string(kPlain) +
                                 " --set normals=on --set layer-polygon-objects=off --set layer-spline-objects=off"
                                 " --set layer-phong-tags=off --set layer-uvw-tags=off --set layer-normal-tags=off"
                                 " --set layer-texture-tags=off --set layer-material-selections=off"
                                 " --set layer-group-selections=off --set layer-region-selections=off");
  ASSERT_TRUE(off);
  EXPECT_TRUE(LayerNames(off.get()).empty());
  op = Poly(off.get(), "layouts.obj");
  ASSERT_TRUE(op);
  EXPECT_EQ(LayerOf(off.get(), op), "");
  EXPECT_EQ(LayerOf(off.get(), op->GetTag(Tuvw)), "");
}

TEST_F(ShellImportScenesTest, LayersAreMadeOnlyForWhatTheFileHasAndReusedByName) {
  // No normals, UVs, groups, regions, materials or line elements.
  WriteFile("bare.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  DocPtr bare = ImportAndLoad("bare.obj", std::string(kPlain) + " --set normals=on");
  ASSERT_TRUE(bare);
  EXPECT_EQ(LayerNames(bare.get()), (std::vector<std::string>{Layer(IDS_LAYER_POLYGONS), Layer(IDS_LAYER_PHONG)}));

  // A scene that has the polygon layer already: it is found by name, not made twice.
  WriteScene("scene.kscn", [this](BaseDocument* doc) {
    LayerObject* layer = LayerObject::Alloc();
    ASSERT_TRUE(layer);
    layer->SetName(String(Layer(IDS_LAYER_POLYGONS).c_str()));
    doc->GetLayerObjectRoot()->InsertLast(layer);
  });
  DocPtr into = ImportAndLoad("bare.obj", std::string(kPlain) + " --into scene.kscn");
  ASSERT_TRUE(into);
  EXPECT_EQ(LayerNames(into.get()), (std::vector<std::string>{Layer(IDS_LAYER_POLYGONS), Layer(IDS_LAYER_PHONG)}));
  EXPECT_EQ(LayerOf(into.get(), Poly(into.get(), "bare.obj")), Layer(IDS_LAYER_POLYGONS));

  // One switch off leaves the others.
  DocPtr some = ImportAndLoad("bare.obj", std::string(kPlain) + " --set layer-polygon-objects=off");
  ASSERT_TRUE(some);
  EXPECT_EQ(LayerNames(some.get()), std::vector<std::string>{Layer(IDS_LAYER_PHONG)});
  EXPECT_EQ(LayerOf(some.get(), Poly(some.get(), "bare.obj")), "");
}

// --- folders and lone libraries ------------------------------------------------------------

class ShellImportFolderTest : public ShellImportScenesTest {
 protected:
  void SetUp() override {
    ShellImportScenesTest::SetUp();
    const fs::path root = fs::path(TempDir()) / "models";
    fs::create_directories(root / "sub/deeper");
    WriteFile("models/a.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteFile("models/b.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 4 3\nl 1 4\n");
    WriteFile("models/notes.txt", "v 0 0 0\n");
    WriteFile("models/.hidden.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteFile("models/sub/c.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nf 1 2 3\n");
    WriteFile("models/sub/deeper/d.obj", "v 0 0 0\nv 3 0 0\nv 0 3 0\nf 1 2 3\n");
  }

  // The names of the objects right under op, in order: the folder walk's, by name.
  static std::vector<std::string> Children(const BaseObject* op) {
    std::vector<std::string> names;
    for (const BaseObject* c = op ? op->GetDown() : nullptr; c; c = c->GetNext()) names.push_back(Name(c));
    return names;
  }
};

TEST_F(ShellImportFolderTest, TheTopFolderOnlyUnderANullNamedAfterIt) {
  DocPtr doc = ImportAndLoad("models", kPlain);
  ASSERT_TRUE(doc);
  BaseObject* top = doc->GetFirstObject();
  ASSERT_TRUE(top);
  EXPECT_EQ(Name(top), "models");
  EXPECT_EQ(top->GetType(), Onull);
  EXPECT_FALSE(top->GetNext());
  // a.obj is one object; b.obj has line elements, so its objects sit under its own null.
  EXPECT_EQ(Children(top), (std::vector<std::string>{"a.obj", "b.obj"}));
  BaseObject* b = FindIn(top->GetDown(), "b.obj", Onull);
  ASSERT_TRUE(b);
  EXPECT_EQ(Tree(b->GetDown()), "b.obj Splines{default_Grp<2>}");
  EXPECT_FALSE(FindIn(top, "c.obj", Opolygon));
  EXPECT_FALSE(FindIn(top, ".hidden.obj", Opolygon));
}

// Every polygon object of the scene, by name, depth first.
std::multiset<std::string> PolygonNames(const BaseObject* op) {
  std::multiset<std::string> names;
  for (; op; op = op->GetNext()) {
    if (op->GetType() == Opolygon) names.insert(Name(op));
    for (const std::string& n : PolygonNames(op->GetDown())) names.insert(n);
  }
  return names;
}

TEST_F(ShellImportFolderTest, LinksLeadToEveryFolderAndFileOnce) {
  const fs::path root = fs::path(TempDir()) / "models";
  fs::create_directory_symlink("..", root / "sub/loop");             // back up: a loop
  fs::create_directory_symlink("sub/deeper", root / "shortcut");     // a second way in
  fs::create_symlink("a.obj", root / "again.obj");                   // one file, two names
  const std::string sets = std::string(kPlain) + " --set subfolders=on --set null-per-folder=on";
  ShellRun run;
  DocPtr doc = ImportAndLoad("models", sets, &run);
  ASSERT_TRUE(doc);
  // The polygon objects of a, b, c and d: each once, whatever the links.
  EXPECT_EQ(PolygonNames(doc->GetFirstObject()), (std::multiset<std::string>{"a.obj", "b.obj", "c.obj", "d.obj"}));
  EXPECT_NE(run.out.find("models/again.obj' is a file imported already"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("models/sub/loop' leads to a folder imported already"), std::string::npos) << run.out;
  // The walk goes in name order: "shortcut" reaches deeper before "sub" does.
  EXPECT_NE(run.out.find("models/sub/deeper' leads to a folder imported already"), std::string::npos) << run.out;
}

TEST_F(ShellImportFolderTest, ADeepTreeStopsAtADepthItsSceneStillLoads) {
  fs::path deep = fs::path(TempDir()) / "deep";
  for (int level = 0; level < 300; ++level) deep /= "d";
  fs::create_directories(deep);
  WriteFile(fs::relative(deep / "bottom.obj", TempDir()).string(), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteFile("deep/top.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ShellRun run;
  DocPtr doc = ImportAndLoad("deep", std::string(kPlain) + " --set subfolders=on --set null-per-folder=on", &run);
  ASSERT_TRUE(doc);  // saved and loaded back
  EXPECT_EQ(PolygonNames(doc->GetFirstObject()), std::multiset<std::string>{"top.obj"});
  EXPECT_NE(run.out.find("lies more than 256 folders deep and was not imported"), std::string::npos) << run.out;
}

TEST_F(ShellImportFolderTest, WhatCannotBeReadIsSaid) {
  const fs::path root = fs::path(TempDir()) / "models";
  fs::create_directory_symlink("nowhere", root / "gone");  // a folder that is not there
  ShellRun run = Import("models", "out.kscn", std::string(kPlain) + " --set subfolders=on");
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("models/gone' cannot be read and was skipped"), std::string::npos) << run.out;
  if (::geteuid() != 0) {  // permissions bind everyone but root
    fs::permissions(root / "sub", fs::perms::none);
    run = Import("models", "out2.kscn", std::string(kPlain) + " --set subfolders=on");
    fs::permissions(root / "sub", fs::perms::owner_all);
    EXPECT_NE(run.out.find("models/sub' cannot be read and was not imported"), std::string::npos) << run.out;
  }
}

TEST_F(ShellImportFolderTest, SubfoldersFlatOrUnderANullEach) {
  DocPtr flat = ImportAndLoad("models", std::string(kPlain) + " --set subfolders=on");
  ASSERT_TRUE(flat);
  EXPECT_EQ(Children(flat->GetFirstObject()), (std::vector<std::string>{"a.obj", "b.obj", "c.obj", "d.obj"}));
  ASSERT_TRUE(Poly(flat.get(), "d.obj"));
  EXPECT_TRUE(Near(PointOf(Poly(flat.get(), "d.obj"), 1), Vector(3, 0, 0)));

  DocPtr nested = ImportAndLoad("models", std::string(kPlain) + " --set subfolders=on --set null-per-folder=on");
  ASSERT_TRUE(nested);
  BaseObject* top = nested->GetFirstObject();
  ASSERT_TRUE(top);
  EXPECT_EQ(Children(top), (std::vector<std::string>{"a.obj", "b.obj", "sub"}));
  BaseObject* sub = FindIn(top->GetDown(), "sub", Onull);
  ASSERT_TRUE(sub);
  EXPECT_EQ(Children(sub), (std::vector<std::string>{"c.obj", "deeper"}));
  BaseObject* deeper = FindIn(sub->GetDown(), "deeper", Onull);
  ASSERT_TRUE(deeper);
  EXPECT_EQ(Children(deeper), std::vector<std::string>{"d.obj"});

  // The folder nulls go with the sub-folders: without them the switch cannot be set.
  const ShellRun refused = Import("models", "refused.kscn", std::string(kPlain) + " --set null-per-folder=on");
  EXPECT_EQ(refused.exitCode, 1) << refused.out;
  EXPECT_FALSE(Exists("refused.kscn"));
}

TEST_F(ShellImportFolderTest, FilesOfAFolderShareOnlyTheDocument) {
  // Each file has its own groups and its own library beside it; both use "paint".
  WriteFile("models/a.obj", "mtllib a.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\ng ga\nusemtl paint\nf 1 2 3\n");
  WriteFile("models/a.mtl", "newmtl paint\nKd 1 0 0\n");
  WriteFile("models/sub/c.obj",
            "mtllib c.mtl\nv 0 0 0\nv 2 0 0\nv 0 2 0\nv 9 9 9\ng gc\nusemtl paint\nf 1 2 3\nusemtl other\nf 1 3 2\n");
  WriteFile("models/sub/c.mtl", "newmtl paint\nKd 0 1 0\nnewmtl other\nKd 0 0 1\n");
  fs::remove(fs::path(TempDir()) / "models/b.obj");
  fs::remove_all(fs::path(TempDir()) / "models/sub/deeper");
  const std::string sets = std::string(kPlain) + " --set subfolders=on --set layout=per-group";

  DocPtr doc = ImportAndLoad("models", sets + " --set materials=new");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetDocumentName().GetString().Std(), "models.c4d");
  ASSERT_TRUE(doc->GetFirstObject());
  EXPECT_EQ(Children(doc->GetFirstObject()), (std::vector<std::string>{"a.obj", "c.obj"}));
  EXPECT_EQ(Subtree(FindIn(doc->GetFirstObject(), "a.obj", Onull)), "a.obj{ga}");
  EXPECT_EQ(Subtree(FindIn(doc->GetFirstObject(), "c.obj", Onull)), "c.obj{gc}");
  PolygonObject* ga = Poly(doc.get(), "ga");
  PolygonObject* gc = Poly(doc.get(), "gc");
  ASSERT_TRUE(ga && gc);
  EXPECT_EQ(Listed(ga, kGroupTag), std::vector<std::string>{"ga"});
  EXPECT_EQ(Listed(gc, kGroupTag), std::vector<std::string>{"gc"});
  EXPECT_EQ(gc->GetPointCount(), 3) << "the unused point of c.obj stays out";
  EXPECT_EQ(Names(TagsOf(ga, Tpolygonselection)), (std::vector<std::string>{"ga", "paint"}));
  // New materials: one "paint" per file, each from the library beside its file.
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"paint", "paint", "other"}));
  ASSERT_TRUE(TextureTagFor(ga, "paint") && TextureTagFor(gc, "paint"));
  auto* red = static_cast<Material*>(MaterialOf(ga, "paint"));
  auto* green = static_cast<Material*>(MaterialOf(gc, "paint"));
  ASSERT_TRUE(red && green);
  EXPECT_NE(red, green);
  EXPECT_TRUE(Near(Channel(red, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
  EXPECT_TRUE(Near(Channel(green, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0, 1, 0)));
  // Layers are found by name for the second file, not made again.
  std::vector<std::string> layers = LayerNames(doc.get());
  std::sort(layers.begin(), layers.end());
  EXPECT_EQ(std::unique(layers.begin(), layers.end()), layers.end());

  // Reused materials: the second file takes the first file's "paint" (and rewrites it).
  DocPtr reused = ImportAndLoad("models", sets + " --set materials=reuse --set rewrite-materials=on");
  ASSERT_TRUE(reused);
  EXPECT_EQ(MaterialNames(reused.get()), (std::vector<std::string>{"paint", "other"}));
  ga = Poly(reused.get(), "ga");
  gc = Poly(reused.get(), "gc");
  ASSERT_TRUE(ga && gc && TextureTagFor(ga, "paint") && TextureTagFor(gc, "paint"));
  EXPECT_EQ(MaterialOf(ga, "paint"), MaterialOf(gc, "paint"));
  EXPECT_TRUE(
      Near(Channel(Mat(reused.get(), "paint"), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0, 1, 0)));
}

TEST_F(ShellImportFolderTest, AFolderWithoutObjFilesGivesItsNullAlone) {
  fs::create_directories(fs::path(TempDir()) / "empty/inner");
  WriteFile("empty/readme.txt", "v 0 0 0\n");
  WriteFile("empty/inner/deep.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  DocPtr doc = ImportAndLoad("empty", kPlain);
  ASSERT_TRUE(doc);
  EXPECT_EQ(DocTree(doc.get()), "empty{}");
}

TEST_F(ShellImportFolderTest, SuffixesAreMatchedWithoutRegardToCase) {
  WriteFile("models/sub/E.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteFile("LIB.Mtl", "newmtl shiny\nKd 0 1 0\n");
  DocPtr folder = ImportAndLoad("models/sub", kPlain);
  ASSERT_TRUE(folder);
  EXPECT_EQ(Children(folder->GetFirstObject()), (std::vector<std::string>{"E.OBJ", "c.obj"}));
  DocPtr file = ImportAndLoad("models/sub/E.OBJ", kPlain);
  ASSERT_TRUE(file);
  EXPECT_EQ(DocTree(file.get()), "E.OBJ");
  DocPtr library = ImportAndLoad("LIB.Mtl", kPlain);
  ASSERT_TRUE(library);
  EXPECT_EQ(MaterialNames(library.get()), std::vector<std::string>{"shiny"});
}

TEST_F(ShellImportFolderTest, AFileThatCannotBeOpenedStopsTheWalkAndWhatWasBuiltIsWritten) {
  // A link to nothing is listed as a file but cannot be opened.
  fs::create_symlink(fs::path(TempDir()) / "nowhere.obj", fs::path(TempDir()) / "models/broken.obj");
  const ShellRun r = Import("models", "models.kscn", kPlain);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_EQ(Occurrences(r.out, "Kelvane: File Error - Open Failed\n"), 1u) << r.out;
  EXPECT_NE(r.out.find("Failed to load: " + (fs::path(TempDir()) / "models/broken.obj").string() + "\n"),
            std::string::npos)
      << r.out;
  // The files before it in the walk stay in the scene, which is written.
  EXPECT_NE(r.out.find("kelvane: import: the walk stopped at 'models/broken.obj' (Open Failed) after 2 files; "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(SceneFiles(), (std::vector<std::string>{"models.kscn"}));
}

TEST_F(ShellImportScenesTest, ALoneLibraryBringsEveryMaterialAndNoObject) {
  WriteFile("full.mtl", kFullMtl);
  DocPtr doc = ImportAndLoad("full.mtl", kPlain);
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->GetFirstObject());
  EXPECT_TRUE(LayerNames(doc.get()).empty());
  EXPECT_EQ(MaterialNames(doc.get()), (std::vector<std::string>{"full", "plain", "unused"}));
  Material* full = Mat(doc.get(), "full");
  ASSERT_TRUE(full);
  EXPECT_TRUE(Near(Channel(full, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.4, 0.5, 0.6)));
  EXPECT_EQ(Texture(full, CHANNEL_COLOR), "wood.jpg");
  EXPECT_TRUE(full->GetChannelState(CHANNEL_TRANSPARENCY));
  EXPECT_TRUE(Near(Channel(Mat(doc.get(), "unused"), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
  ASSERT_TRUE(Mat(doc.get(), "plain"));

  // Into a scene with "full" already: reused and rewritten by the built-in preset.
  WriteScene("scene.kscn", [](BaseDocument* d) {
    Material* mat = Material::Alloc();
    ASSERT_TRUE(mat);
    mat->SetName(String("full"));
    d->InsertMaterial(mat);
  });
  DocPtr into = ImportAndLoad("full.mtl", std::string(kPlain) + " --into scene.kscn");
  ASSERT_TRUE(into);
  EXPECT_EQ(MaterialNames(into.get()), (std::vector<std::string>{"full", "plain", "unused"}));
  EXPECT_TRUE(
      Near(Channel(Mat(into.get(), "full"), CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.4, 0.5, 0.6)));
}

// --- what cannot be imported ---------------------------------------------------------------

TEST_F(ShellImportScenesTest, FilesThatCannotBeImportedFailWithTheirMessageAndWriteNothing) {
  WriteFile("model.txt", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteFile("comments.obj", "# made by hand\n# r not a region without faces\n\n#\n");
  WriteFile("faces.obj", "f 1 2 3\nvt 0 0\nvn 0 0 1\n");  // no vertex: nothing to parse
  const struct {
    const char* file;
    std::vector<std::string> lines;
  } cases[] = {
      {"model.txt", {"This plugin will only import Wavefront '.obj'", "or '.mtl' format files - operation canceled."}},
      {"comments.obj",
       {"Kelvane: File Error - File Parsing Failed\n", "Failed to load: " + TempDir() + "/comments.obj\n"}},
      {"faces.obj", {"Kelvane: File Error - File Parsing Failed\n", "Failed to load: " + TempDir() + "/faces.obj\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ShellRun r = Import(c.file, "out.kscn", kPlain);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    for (const std::string& line : c.lines) EXPECT_EQ(Occurrences(r.out, line), 1u) << line << "\n" << r.out;
    EXPECT_NE(r.out.find(std::string("kelvane: import: nothing was imported from '") + c.file + "'; no file written"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(Exists("out.kscn"));
  }
  // A file the user may not read, where the user is not allowed everything.
  if (geteuid() != 0) {
    WriteFile("locked.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ASSERT_EQ(chmod((TempDir() + "/locked.obj").c_str(), 0), 0);
    const ShellRun r = Import("locked.obj", "out.kscn", kPlain);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Kelvane: File Error - Open Failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Failed to load: " + TempDir() + "/locked.obj\n"), std::string::npos) << r.out;
    EXPECT_FALSE(Exists("out.kscn"));
  }
  EXPECT_TRUE(SceneFiles().empty());
}

TEST_F(ShellImportScenesTest, IndicesOutOfRangeDropWhatTheyBreakAndAreReportedOnce) {
  WriteFile("broken.obj",
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 3 1 0\nv 2 2 0\nvt 0 0\n"
            "g keep\n"
            "f 1 2 3\n"              // sound
            "f 1 2 9\n"              // no point 9
            "f 0 1 2\n"              // index 0 names nothing
            "f -9 1 2\n"             // before the first point
            "f 1/1 2/7 3/1\n"        // no UV 7: kept without UVs
            "f 1 2 4294967299\n"     // past every count, not wrapped round to point 3
            "g lost\nf 1 2 8\n"      // the group loses its only face
            "g ngon\nf 2 5 6 7 3\n"  // a pentagon after the dropped faces
            "l 1 2\nl 1 99\n"
            "g gone\nl 99 1\n");  // a group whose only line element is dropped
  const std::vector<Vector> pentagon = {Vector(1, 0, 0), Vector(2, 0, 0), Vector(3, 1, 0), Vector(2, 2, 0),
                                        Vector(1, 1, 0)};
  const std::string faces =
      "Kelvane: 6 faces had indices out of range: 5 without their points were dropped, 1 were kept without their UVs "
      "or normals\n";
  const std::string lines = "Kelvane: 2 line elements with point indices out of range were dropped\n";

  ShellRun run;
  DocPtr single = ImportAndLoad("broken.obj", std::string(kPlain) + " --set spline-layout=single", &run);
  ASSERT_TRUE(single);
  EXPECT_EQ(Occurrences(run.out, faces), 1u) << run.out;
  EXPECT_EQ(Occurrences(run.out, lines), 1u) << run.out;
  EXPECT_EQ(DocTree(single.get()), "broken.obj{broken.obj Spline<2>}");
  PolygonObject* op = Poly(single.get(), "broken.obj");
  ASSERT_TRUE(op);
  EXPECT_TRUE(HasCorners(op, 0, {Vector(0, 0, 0), Vector(1, 0, 0), Vector(1, 1, 0), Vector(1, 1, 0)}));
  EXPECT_TRUE(HasCorners(op, 1, {Vector(0, 0, 0), Vector(1, 0, 0), Vector(1, 1, 0), Vector(1, 1, 0)}));
  EXPECT_GE(op->GetPolygonCount(), 4);
  ASSERT_EQ(op->GetNgonCount(), 1);
  EXPECT_TRUE(SameLoop(Outline(op, 0), pentagon));
  EXPECT_EQ(Selected(op, "keep"), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Selected(op, "lost"), std::vector<LONG>{-1});

  DocPtr split =
      ImportAndLoad("broken.obj", std::string(kPlain) + " --set layout=per-group --set spline-layout=single", &run);
  ASSERT_TRUE(split);
  EXPECT_EQ(Occurrences(run.out, faces), 1u) << run.out;
  EXPECT_EQ(DocTree(split.get()), "broken.obj{keep ngon Spline<2>}");
  PolygonObject* ngon = Poly(split.get(), "ngon");
  ASSERT_TRUE(ngon);
  EXPECT_EQ(ngon->GetPointCount(), 5);
  ASSERT_EQ(ngon->GetNgonCount(), 1);
  EXPECT_TRUE(SameLoop(Outline(ngon, 0), pentagon));
  ASSERT_TRUE(Poly(split.get(), "keep"));
  EXPECT_EQ(Poly(split.get(), "keep")->GetPolygonCount(), 2);

  // A spline per group: the group that lost its element gets no empty spline.
  DocPtr groups = ImportAndLoad("broken.obj", std::string(kPlain) + " --set spline-layout=per-group");
  ASSERT_TRUE(groups);
  EXPECT_EQ(Subtree(FindIn(groups->GetFirstObject(), "Splines", Onull)), "Splines{ngon<2>}");
}

TEST_F(ShellImportScenesTest, AnImportIntoANewDocumentNamesItAfterTheFile) {
  WriteFile("named.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  DocPtr doc = ImportAndLoad("named.obj", std::string(kPlain) + " --set document=new");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetDocumentName().GetString().Std(), "named.c4d");
  EXPECT_EQ(DocTree(doc.get()), "named.obj");
}

}  // namespace

namespace {

TEST_F(ShellImportScenesTest, ALoneLibraryKeepsTheColourOfMaterialsWithoutKd) {
  // No OBJ file named this library, so the colour rule treats it as none read: a
  // material without "Kd" keeps its colour channel, with the default colour.
  WriteFile("lone.mtl", "newmtl plain\nKs 1 1 1\nnewmtl red\nKd 1 0 0\n");
  DocPtr doc = ImportAndLoad("lone.mtl", kPlain);
  ASSERT_TRUE(doc);
  Material* plain = Mat(doc.get(), "plain");
  Material* red = Mat(doc.get(), "red");
  ASSERT_TRUE(plain && red);
  EXPECT_TRUE(plain->GetChannelState(CHANNEL_COLOR));
  EXPECT_TRUE(Near(Channel(plain, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.34902, 0.376471, 0.407843)));
  EXPECT_TRUE(Near(Channel(red, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0)));
  EXPECT_FALSE(doc->GetFirstObject());
}

}  // namespace

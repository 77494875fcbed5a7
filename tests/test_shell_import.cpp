// kelvane import run as a user runs it: usage errors, paths that cannot be imported,
// the bundled sample into a new document and into a scene, the scene file it writes
// (loaded back and compared with the printed summary), and failures that write nothing.
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "c4d.h"
#include "scene_helpers.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

constexpr LONG kGroupTag = 1016210;
constexpr LONG kRegionTag = 1016229;

// What a scene holds, counted the way the import's summary counts.
struct SceneCounts {
  long objects = 0, polygonObjects = 0, splineObjects = 0, nullObjects = 0;
  long polygons = 0, ngons = 0, points = 0, materials = 0, selections = 0, layers = 0;
  std::vector<std::string> names;  // objects, depth first
  std::map<std::string, const BaseObject*> byName;
};

void CountObjects(const BaseObject* op, SceneCounts* c) {
  for (; op; op = op->GetNext()) {
    ++c->objects;
    for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext())
      if (t->GetType() == Tpolygonselection) ++c->selections;
    c->names.push_back(Name(op));
    c->byName.emplace(Name(op), op);
    if (op->GetType() == Opolygon) {
      const auto* poly = static_cast<const PolygonObject*>(op);
      ++c->polygonObjects;
      c->polygons += poly->GetPolygonCount();
      c->ngons += poly->GetNgonCount();
      c->points += poly->GetPointCount();
    } else if (op->GetType() == Ospline) {
      ++c->splineObjects;
      c->points += static_cast<const SplineObject*>(op)->GetPointCount();
    } else if (op->GetType() == Onull) {
      ++c->nullObjects;
    }
    CountObjects(op->GetDown(), c);
  }
}

long CountLayers(const GeListNode* layer) {
  long n = 0;
  for (; layer; layer = layer->GetNext()) n += 1 + CountLayers(layer->GetDown());
  return n;
}

SceneCounts Count(const BaseDocument* doc) {
  SceneCounts c;
  CountObjects(doc->GetFirstObject(), &c);
  c.layers = CountLayers(doc->GetLayerObjectRoot()->GetFirst());
  for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) ++c.materials;
  return c;
}

std::set<std::string> MaterialNames(const BaseDocument* doc) {
  std::set<std::string> names;
  for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) names.insert(Name(m));
  return names;
}

std::set<std::string> SelectionNames(const BaseObject* op) {
  std::set<std::string> names;
  for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext())
    if (t->GetType() == Tpolygonselection) names.insert(Name(t));
  return names;
}

// The names a group or region tag of the object lists.
std::set<std::string> ListedNames(const BaseObject* op, LONG type) {
  std::set<std::string> names;
  const BaseTag* tag = op->GetTag(type);
  if (!tag) return names;
  const BaseContainer* bc = tag->GetDataInstance();
  for (LONG i = 0; i < bc->GetLong(1000); ++i) names.insert(bc->GetString(1001 + i).Std());
  return names;
}

class ShellImportTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    fs::create_directories(fs::path(TempDir()) / "models");
    for (const char* file : {"robot.obj", "robot.mtl"})
      fs::copy_file(SourceDir() + "/samples/" + file, fs::path(TempDir()) / "models" / file);
  }

  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }
  static bool Has(const ShellRun& r, const std::string& text) { return r.out.find(text) != std::string::npos; }
  bool Exists(const std::string& name) { return fs::exists(fs::path(TempDir()) / name); }

  // The scene files in the test's folder and in models/.
  std::set<std::string> SceneFiles() {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(TempDir()))
      if (entry.path().extension() == ".kscn") files.insert(fs::relative(entry.path(), TempDir()).string());
    return files;
  }

  DocPtr Load(const std::string& name) {
    std::string error;
    DocPtr doc(host::LoadScene(TempDir() + "/" + name, &error));
    EXPECT_TRUE(doc) << name << ": " << error;
    return doc;
  }

  // The number after "label:" in the summary, or -1.
  static long Summary(const ShellRun& r, const std::string& label) {
    const size_t at = r.out.find("  " + label + ":");
    if (at == std::string::npos) return -1;
    return std::strtol(r.out.c_str() + at + label.size() + 3, nullptr, 10);
  }

  // scene.kscn: a null "Keep" with a polygon object "Floor" under it.
  void WriteScene() {
    DocPtr doc(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    BaseObject* keep = InsertLast(doc.get(), BaseObject::Alloc(Onull), "Keep");
    ASSERT_TRUE(keep);
    ASSERT_TRUE(InsertLast(doc.get(), Grid(2, 2), "Floor", keep));
    std::string error;
    ASSERT_TRUE(host::SaveScene(doc.get(), TempDir() + "/scene.kscn", &error)) << error;
  }
};

// --- command lines that cannot run ---------------------------------------------------------

TEST_F(ShellImportTest, UsageErrorsExitWithTwoAndWriteNothing) {
  WriteScene();
  const std::string scene = ReadFile(TempDir() + "/scene.kscn");
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"import", "PATH is required"},
      {"import models/robot.obj --set bogus=1", "--set bogus=1: there is no key 'bogus'"},
      {"import models/robot.obj --set swap-yz=maybe", "swap-yz takes on or off"},
      {"import models/robot.obj --into scene.kscn --set document=new",
       "--into imports into that scene, which does not go with --set document=new"},
      {"import models/robot.obj --into scene.kscn --set new-document=yes",
       "--into imports into that scene, which does not go with --set document=new"},
      {"import models --set source=one-file", "PATH is a folder, which does not go with --set source=one-file"},
      {"import models/robot.obj --set whole-folder=on", "PATH is a file, which does not go with --set source=folder"},
      {"import models/robot.obj --frobnicate", "frobnicate"},
      {"import models/robot.obj -o models/../models/robot.obj", "would replace PATH itself"},
  };
  for (const auto& c : cases) {
    const ShellRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.out;
    EXPECT_TRUE(Has(r, c.message)) << c.args << "\n" << r.out;
  }
  EXPECT_EQ(SceneFiles(), std::set<std::string>{"scene.kscn"});
  EXPECT_EQ(ReadFile(TempDir() + "/scene.kscn"), scene);
  EXPECT_EQ(ReadFile(TempDir() + "/models/robot.obj"), ReadFile(SourceDir() + "/samples/robot.obj"));
}

TEST_F(ShellImportTest, FlagsThatAgreeWithPathAndIntoAreAccepted) {
  WriteScene();
  // Choosing what PATH and --into decide anyway is no conflict.
  const ShellRun r = Run("import models/robot.obj --into scene.kscn --set document=current --set one-file=on -o out.kscn");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(Exists("out.kscn"));
}

TEST_F(ShellImportTest, APathThatDoesNotExistFailsClearlyAndWritesNothing) {
  for (const char* args : {"import missing.obj", "import missing.obj -o out.kscn", "import models/nothing/"}) {
    const ShellRun r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << args << "\n" << r.out;
    EXPECT_TRUE(Has(r, "kelvane: import: no such file or folder: '")) << args << "\n" << r.out;
  }
  // A device is no file to import (reading it might never end).
  const ShellRun device = Run("import /dev/zero");
  EXPECT_EQ(device.exitCode, 1) << device.out;
  EXPECT_TRUE(Has(device, "kelvane: import: '/dev/zero' is neither a file nor a folder")) << device.out;
  EXPECT_TRUE(SceneFiles().empty());
}

// --- failures of the import itself ----------------------------------------------------------

TEST_F(ShellImportTest, AFileOfAnotherSuffixShowsTheSuffixMessage) {
  WriteFile("notes.txt", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const ShellRun r = Run("import notes.txt");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_TRUE(Has(r, "This plugin will only import Wavefront '.obj'")) << r.out;
  EXPECT_TRUE(Has(r, "or '.mtl' format files - operation canceled.")) << r.out;
  EXPECT_TRUE(Has(r, "kelvane: import: nothing was imported from 'notes.txt'; no file written")) << r.out;
  EXPECT_TRUE(SceneFiles().empty());
}

TEST_F(ShellImportTest, AFailedImportLeavesEveryFileAsItWas) {
  WriteFile("comments.obj", "# nothing but comments\n# r region\n");
  WriteFile("existing.kscn", "not touched");
  const ShellRun parsed = Run("import comments.obj -o existing.kscn");
  EXPECT_EQ(parsed.exitCode, 1) << parsed.out;
  EXPECT_TRUE(Has(parsed, "File Parsing Failed")) << parsed.out;
  EXPECT_TRUE(Has(parsed, "Failed to load: ")) << parsed.out;
  EXPECT_EQ(ReadFile(TempDir() + "/existing.kscn"), "not touched");
  EXPECT_FALSE(Exists("comments.kscn"));

  // A damaged scene for --into is not loaded, not imported into and not replaced.
  WriteFile("damaged.kscn", "KSCN but not really a scene");
  const ShellRun damaged = Run("import models/robot.obj --into damaged.kscn");
  EXPECT_EQ(damaged.exitCode, 1) << damaged.out;
  EXPECT_TRUE(Has(damaged, "kelvane: cannot load scene 'damaged.kscn': ")) << damaged.out;
  EXPECT_EQ(ReadFile(TempDir() + "/damaged.kscn"), "KSCN but not really a scene");

  // A popup value that names no entry is refused before the import, as a usage error.
  const ShellRun refused = Run("import models/robot.obj --set texture-blur=nonsense");
  EXPECT_EQ(refused.exitCode, 2) << refused.out;
  EXPECT_TRUE(Has(refused, "texture-blur takes one of: 0%, 5%")) << refused.out;
  EXPECT_FALSE(Has(refused, "Imported")) << refused.out;
  // A value the dialog refuses (a gadget the preset leaves disabled) cancels it:
  // nothing is imported with other options.
  const ShellRun disabled = Run("import models/robot.obj --set subfolders=on");
  EXPECT_EQ(disabled.exitCode, 1) << disabled.out;
  EXPECT_TRUE(Has(disabled, "kelvane: import: the options dialog refused a flag; nothing was imported")) << disabled.out;

  EXPECT_EQ(SceneFiles(), (std::set<std::string>{"damaged.kscn", "existing.kscn"}));
}

TEST_F(ShellImportTest, AnOutputThatCannotBeWrittenFailsBeforeTheImport) {
  const ShellRun r = Run("import models/robot.obj -o no/such/folder/robot.kscn");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_TRUE(Has(r, "kelvane: cannot save scene 'no/such/folder/robot.kscn': no such folder")) << r.out;
  EXPECT_FALSE(Has(r, "Imported")) << r.out;
  EXPECT_TRUE(SceneFiles().empty());
}

// --- the sample ------------------------------------------------------------------------------

TEST_F(ShellImportTest, TheSampleImportsAndItsSceneLoadsBackAsSummarized) {
  const ShellRun r = Run("import models/robot.obj");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  // Named after PATH, in the current folder, not beside PATH.
  EXPECT_TRUE(Has(r, "Wrote robot.kscn\n")) << r.out;
  EXPECT_EQ(SceneFiles(), std::set<std::string>{"robot.kscn"});

  DocPtr doc = Load("robot.kscn");
  ASSERT_TRUE(doc);
  const SceneCounts c = Count(doc.get());
  EXPECT_GE(c.polygonObjects, 1);
  EXPECT_EQ(c.splineObjects, 1) << "the two antennas are line elements of one spline";
  // The chest plate (five corners) and the head's two caps (eight corners).
  EXPECT_EQ(c.ngons, 3);
  EXPECT_EQ(MaterialNames(doc.get()), (std::set<std::string>{"paint", "chest_plate", "glass", "metal", "rubber"}));

  EXPECT_EQ(Summary(r, "objects"), c.objects) << r.out;
  EXPECT_EQ(Summary(r, "polygons"), c.polygons) << r.out;
  EXPECT_EQ(Summary(r, "n-gons"), c.ngons) << r.out;
  EXPECT_EQ(Summary(r, "points"), c.points) << r.out;
  EXPECT_EQ(Summary(r, "materials"), c.materials) << r.out;
  EXPECT_GT(c.selections, 0);
  EXPECT_EQ(Summary(r, "selection tags"), c.selections) << r.out;
  EXPECT_EQ(Summary(r, "layers"), c.layers) << r.out;
  EXPECT_TRUE(Has(r, "  time: ")) << r.out;

  // The scene shows in the shell as well.
  const ShellRun shown = Run("scene show robot.kscn");
  EXPECT_EQ(shown.exitCode, 0) << shown.out;
  EXPECT_TRUE(Has(shown, "\"paint\"")) << shown.out;
}

TEST_F(ShellImportTest, PerObjectLayoutWithGroupsOfSeveralNames) {
  const ShellRun whole = Run("import models/robot.obj --set layout=per-object --set whole-group-names=on -o whole.kscn");
  ASSERT_EQ(whole.exitCode, 0) << whole.out;
  DocPtr doc = Load("whole.kscn");
  ASSERT_TRUE(doc);
  const SceneCounts c = Count(doc.get());
  for (const char* name : {"body", "head", "arm_left", "arm_right", "legs"}) {
    ASSERT_TRUE(c.byName.count(name)) << name << "\n" << whole.out;
    EXPECT_EQ(c.byName.at(name)->GetType(), Opolygon) << name;
  }
  // "g arm left": the arm's faces are in both groups, each a selection listed by the
  // object's group tag.
  const BaseObject* left = c.byName.at("arm_left");
  EXPECT_TRUE(SelectionNames(left).count("arm")) << whole.out;
  EXPECT_TRUE(SelectionNames(left).count("left"));
  EXPECT_EQ(ListedNames(left, kGroupTag), (std::set<std::string>{"arm", "left"}));
  EXPECT_EQ(ListedNames(c.byName.at("arm_right"), kGroupTag), (std::set<std::string>{"arm", "right"}));
  // Regions: the legs are the lower part, the body the upper.
  EXPECT_EQ(ListedNames(c.byName.at("legs"), kRegionTag), std::set<std::string>{"lower"});
  EXPECT_EQ(ListedNames(c.byName.at("body"), kRegionTag), std::set<std::string>{"upper"});
  // Each object holds only the points its faces use: the body's box and chest plate.
  EXPECT_EQ(static_cast<const PolygonObject*>(c.byName.at("body"))->GetPointCount(), 13);

  // Without whole names only the last word of "g arm left" names the group.
  const ShellRun last = Run("import models/robot.obj --set layout=per-object --set whole-group-names=off -o last.kscn");
  ASSERT_EQ(last.exitCode, 0) << last.out;
  DocPtr lastDoc = Load("last.kscn");
  ASSERT_TRUE(lastDoc);
  const SceneCounts lc = Count(lastDoc.get());
  ASSERT_TRUE(lc.byName.count("arm_left")) << last.out;
  EXPECT_EQ(ListedNames(lc.byName.at("arm_left"), kGroupTag), std::set<std::string>{"left"});
  EXPECT_FALSE(SelectionNames(lc.byName.at("arm_left")).count("arm"));
}

TEST_F(ShellImportTest, IntoKeepsTheScenesObjectsAndSavesBackByDefault) {
  WriteScene();
  const std::string scene = ReadFile(TempDir() + "/scene.kscn");
  const ShellRun copy = Run("import models/robot.obj --into scene.kscn -o out.kscn");
  ASSERT_EQ(copy.exitCode, 0) << copy.out;
  EXPECT_TRUE(Has(copy, "Wrote out.kscn\n")) << copy.out;
  EXPECT_EQ(ReadFile(TempDir() + "/scene.kscn"), scene) << "-o leaves the --into scene alone";

  DocPtr out = Load("out.kscn");
  ASSERT_TRUE(out);
  const SceneCounts c = Count(out.get());
  // The scene's own objects stay as they were; the import adds its own beside them.
  ASSERT_TRUE(c.byName.count("Keep") && c.byName.count("Floor")) << copy.out;
  EXPECT_EQ(c.byName.at("Floor")->GetUp(), c.byName.at("Keep"));
  EXPECT_TRUE(c.byName.count("robot.obj")) << copy.out;
  // The summary counts what the import added, not what the scene had.
  EXPECT_EQ(Summary(copy, "objects"), c.objects - 2) << copy.out;
  EXPECT_EQ(Summary(copy, "polygons"), c.polygons - 4) << copy.out;

  // Without -o the scene itself is replaced; a saved "new document" choice does not
  // take the import elsewhere.
  ASSERT_EQ(Run("import models/robot.obj --set document=new -o elsewhere.kscn").exitCode, 0);
  const ShellRun back = Run("import models/robot.obj --into scene.kscn");
  ASSERT_EQ(back.exitCode, 0) << back.out;
  EXPECT_TRUE(Has(back, "Wrote scene.kscn\n")) << back.out;
  DocPtr saved = Load("scene.kscn");
  ASSERT_TRUE(saved);
  const SceneCounts s = Count(saved.get());
  EXPECT_TRUE(s.byName.count("Keep"));
  EXPECT_EQ(s.objects, c.objects);
}

TEST_F(ShellImportTest, AFolderImportsEveryObjFileUnderANullNamedAfterIt) {
  const fs::path models = fs::path(TempDir()) / "models";
  fs::copy_file(models / "robot.obj", models / "twin.obj");
  fs::create_directories(models / "parts");
  fs::copy_file(models / "robot.obj", models / "parts/spare.obj");
  fs::copy_file(models / "robot.mtl", models / "parts/robot.mtl");
  for (const char* args : {"import models", "import models/"}) {
    fs::remove(fs::path(TempDir()) / "models.kscn");
    const ShellRun r = Run(args);
    ASSERT_EQ(r.exitCode, 0) << args << "\n" << r.out;
    EXPECT_TRUE(Has(r, "Wrote models.kscn\n")) << r.out;
    DocPtr doc = Load("models.kscn");
    ASSERT_TRUE(doc);
    const BaseObject* top = doc->GetFirstObject();
    ASSERT_TRUE(top);
    EXPECT_EQ(Name(top), "models");
    EXPECT_EQ(top->GetType(), Onull);
    EXPECT_FALSE(top->GetNext()) << "everything sits under the folder's null";
    // Two files of three n-gons each; the sub-folder is left out.
    EXPECT_EQ(Count(doc.get()).ngons, 6);
  }

  // The sub-folder's source needs the folder source chosen first, which PATH does.
  const ShellRun sub = Run("import models --set subfolders=on --set null-per-folder=on -o sub.kscn");
  ASSERT_EQ(sub.exitCode, 0) << sub.out;
  DocPtr doc = Load("sub.kscn");
  ASSERT_TRUE(doc);
  const SceneCounts c = Count(doc.get());
  EXPECT_EQ(c.ngons, 9);
  ASSERT_TRUE(c.byName.count("parts")) << sub.out;
  EXPECT_EQ(c.byName.at("parts")->GetType(), Onull);
  EXPECT_EQ(Name(c.byName.at("parts")->GetUp()), "models");
  EXPECT_TRUE(c.byName.at("parts")->GetDown()) << "the sub-folder's file is built under its null";
}

TEST_F(ShellImportTest, AnMtlFileBringsItsMaterialsAndNoObject) {
  const ShellRun r = Run("import models/robot.mtl -o materials.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  DocPtr doc = Load("materials.kscn");
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->GetFirstObject());
  EXPECT_EQ(MaterialNames(doc.get()), (std::set<std::string>{"paint", "chest_plate", "glass", "metal", "rubber"}));
  EXPECT_EQ(Summary(r, "materials"), 5) << r.out;
  EXPECT_EQ(Summary(r, "objects"), 0) << r.out;
}

}  // namespace

namespace {

TEST_F(ShellImportTest, ValuesThatAreNoNumbersNeverReachThePositions) {
  WriteFile("nan.obj", "v nan 0 0\nv 2 inf 0\nv 2 2 0\nv 0 2 0\nf 1 2 3 4\n");
  const ShellRun r = Run("import nan.obj --set centre-axes=on -o nan.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string line = "2 vertex, texture or normal values were not finite numbers";
  ASSERT_NE(r.out.find(line), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(line, r.out.find(line) + 1), std::string::npos) << "said twice:\n" << r.out;
  DocPtr doc = Load("nan.kscn");
  ASSERT_TRUE(doc);
  BaseObject* op = doc->GetFirstObject();
  ASSERT_NE(op, nullptr);
  const Vector at = op->GetMg().off;
  EXPECT_EQ(at, Vector(1, 1, 0));  // the centre of (0,0) (2,0) (2,2) (0,2)
  const Vector* points = ToPoly(op)->GetPointR();
  for (LONG i = 0; i < ToPoly(op)->GetPointCount(); ++i)
    EXPECT_TRUE(std::isfinite(points[i].x) && std::isfinite(points[i].y) && std::isfinite(points[i].z)) << i;
}

}  // namespace

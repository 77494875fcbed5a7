// kelvane export run as a user runs it, on scenes the tests build: the four modes and
// the files they name, the existing-file rules, the export mask and visibility, names
// that must not leave the chosen folder, the n-gon question, and failures that write
// nothing.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "c4d.h"
#include "c4d_symbols.h"
#include "plugin_ids.h"
#include "scene_helpers.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

class ShellExportTest : public PluginTest {
 protected:
  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }

  // Every file under folder, relative to it, sorted.
  std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(Path(folder), ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file()) names.push_back(fs::relative(it->path(), Path(folder)).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A quad of four points named name (under parent), or a cloud of points without
  // polygons when quad is false.
  static BaseObject* AddMesh(BaseDocument* doc, const char* name, BaseObject* parent = nullptr, bool quad = true) {
    PolygonObject* op = quad ? Grid(1, 1) : PolygonObject::Alloc(2, 0);
    return InsertLast(doc, op, name, parent);
  }
  static BaseObject* AddNull(BaseDocument* doc, const char* name, BaseObject* parent = nullptr) {
    return InsertLast(doc, BaseObject::Alloc(Onull), name, parent);
  }
  void Save(BaseDocument* doc, const std::string& name) {
    std::string error;
    ASSERT_TRUE(host::SaveScene(doc, Path(name), &error)) << error;
  }

  // Left (null) > A, Inner (null) > B; Right; "../../x"; "a/b".
  void SaveTree() {
    DocPtr doc(BaseDocument::Alloc());
    doc->SetDocumentName(Filename("tree.c4d"));
    BaseObject* left = AddNull(doc.get(), "Left");
    AddMesh(doc.get(), "A", left);
    AddMesh(doc.get(), "B", AddNull(doc.get(), "Inner", left));
    AddMesh(doc.get(), "Right");
    AddMesh(doc.get(), "../../x");
    AddMesh(doc.get(), "a/b");
    Save(doc.get(), "tree.kscn");
  }
};

TEST_F(ShellExportTest, EachModeNamesItsFilesInsideTheChosenFolder) {
  SaveTree();
  struct Case {
    const char* flags;
    const char* folder;
    std::vector<std::string> files;
  } cases[] = {
      {"-o doc/tree.obj --mode document", "doc", {"tree.obj"}},
      {"-o top --mode top-level", "top", {".._.._x.obj", "Left.obj", "Right.obj", "a_b.obj"}},
      {"-o each --mode per-object", "each", {".._.._x.obj", "A.obj", "B.obj", "Right.obj", "a_b.obj"}},
      {"-o nested --mode per-object --set object-subfolders=on", "nested",
       {".._.._x.obj", "Left/A.obj", "Left/Inner/B.obj", "Right.obj", "a_b.obj"}},
  };
  for (const Case& c : cases) {
    // Materials off: each set is its OBJ file alone.
    const ShellRun r = Run("export tree.kscn --set materials=off " + std::string(c.flags));
    ASSERT_EQ(r.exitCode, 0) << c.flags << "\n" << r.out;
    EXPECT_EQ(Files(c.folder), c.files) << c.flags;
    EXPECT_NE(r.out.find("  objects:   5\n"), std::string::npos) << c.flags << "\n" << r.out;
    EXPECT_NE(r.out.find("  faces:     5\n"), std::string::npos) << c.flags << "\n" << r.out;
  }
  // Off a terminal the progress window comes as a line per file; --no-progress hides it.
  ShellRun r = Run("export tree.kscn --mode per-object -o quiet --no-progress");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out.find("Files: ("), std::string::npos) << r.out;
  r = Run("export tree.kscn --mode per-object -o shown");
  EXPECT_NE(r.out.find("Files: (0/5) " + Path("shown/A.obj") + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files: (4/5) " + Path("shown/a_b.obj") + "\n"), std::string::npos) << r.out;
  // Nothing landed beside the test's folder or above it.
  EXPECT_FALSE(fs::exists(fs::path(TempDir()).parent_path() / "x.obj"));
  EXPECT_FALSE(fs::exists(Path("x.obj")));
}

TEST_F(ShellExportTest, PerFrameFilesAreNumberedByStepOrByOneAndShareOneLibrary) {
  ASSERT_EQ(Run("scene make wave -o wave.kscn").exitCode, 0);
  struct Case {
    const char* flags;
    std::vector<std::string> files;
  } cases[] = {
      {"--set number-by-step=on", {"Wave.mtl", "Wave_000000.obj", "Wave_000005.obj", "Wave_000010.obj"}},
      {"--set number-by-step=off", {"Wave.mtl", "Wave_000000.obj", "Wave_000001.obj", "Wave_000002.obj"}},
      {"--set one-mtl=off",
       {"Wave_000000.mtl", "Wave_000000.obj", "Wave_000001.mtl", "Wave_000001.obj", "Wave_000002.mtl",
        "Wave_000002.obj"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = "frames" + std::to_string(n++);
    const ShellRun r = Run("export wave.kscn -o " + folder + " --frames 0:10:5 " + c.flags);
    ASSERT_EQ(r.exitCode, 0) << c.flags << "\n" << r.out;
    EXPECT_EQ(Files(folder), c.files) << c.flags;
  }
  // Every frame names the library it uses; the shared one lists the material once.
  for (const char* frame : {"Wave_000000.obj", "Wave_000002.obj"})
    EXPECT_NE(ReadFile(Path("frames1/") + frame).find("mtllib Wave.mtl\n"), std::string::npos) << frame;
  const std::string library = ReadFile(Path("frames1/Wave.mtl"));
  size_t materials = 0;
  for (size_t at = library.find("newmtl "); at != std::string::npos; at = library.find("newmtl ", at + 1)) ++materials;
  EXPECT_EQ(materials, 1u) << library;
  // The frames hold the points of their times: the wave moves.
  EXPECT_NE(ReadFile(Path("frames1/Wave_000000.obj")).substr(400, 2000),
            ReadFile(Path("frames1/Wave_000001.obj")).substr(400, 2000));
}

TEST_F(ShellExportTest, ADeformedObjectExportsTheCachedPointsOfEachFrame) {
  ASSERT_EQ(Run("scene make wave -o wave.kscn").exitCode, 0);
  ASSERT_EQ(Run("scene make grid --segments 20 -o still.kscn").exitCode, 0);
  ASSERT_EQ(Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:60").exitCode, 0);
  ASSERT_EQ(Run("mdd attach still.kscn wave.mdd --object Grid -o played.kscn").exitCode, 0);
  ASSERT_EQ(Run("export wave.kscn -o keyed --frames 0:20:5 --set materials=off").exitCode, 0);
  const ShellRun r = Run("export played.kscn -o cached --frames 0:20:5 --set materials=off");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  // The points alone: the two objects differ in name and texture coordinates.
  auto points = [](const std::string& text) {
    std::string out;
    for (size_t at = text.find("\nv "); at != std::string::npos; at = text.find("\nv ", at + 1))
      out += text.substr(at, text.find('\n', at + 1) - at);
    return out;
  };
  for (const char* frame : {"000000", "000001", "000002", "000003", "000004"}) {
    const std::string cached = points(ReadFile(Path("cached/Grid_") + frame + ".obj"));
    EXPECT_EQ(std::count(cached.begin(), cached.end(), '\n'), 441) << frame;
    EXPECT_EQ(cached, points(ReadFile(Path("keyed/Wave_") + frame + ".obj"))) << frame;
  }
}

TEST_F(ShellExportTest, ExistingFilesAreOverwrittenNumberedOrAskedFor) {
  SaveTree();
  const std::string base = "export tree.kscn --mode per-object --set materials=off -o out ";
  ASSERT_EQ(Run(base).exitCode, 0);
  const std::string firstA = ReadFile(Path("out/A.obj"));
  WriteFile("out/Right-01.obj", "taken\n");

  ShellRun r = Run(base + "--set existing-file=number");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(fs::exists(Path("out/A-01.obj")));
  EXPECT_TRUE(fs::exists(Path("out/Right-02.obj"))) << "the next free number";
  EXPECT_EQ(ReadFile(Path("out/Right-01.obj")), "taken\n");

  // Ask, with no name given (the shell's file selector is cancelled): nothing more.
  r = Run(base + "--set existing-file=ask");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_FALSE(fs::exists(Path("out/A-02.obj")));

  WriteFile("out/A.obj", "old\n");
  r = Run(base + "--set existing-file=overwrite");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFile(Path("out/A.obj")), firstA);
}

TEST_F(ShellExportTest, TwoObjectsOfOneNameNeverShareAFile) {
  DocPtr doc(BaseDocument::Alloc());
  AddMesh(doc.get(), "Same");
  AddMesh(doc.get(), "Same");
  AddMesh(doc.get(), "same");  // one file on systems that ignore case
  Save(doc.get(), "twins.kscn");
  const ShellRun r = Run("export twins.kscn --mode per-object --set existing-file=overwrite -o out");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Files("out"), (std::vector<std::string>{"Same-01.mtl", "Same-01.obj", "Same.mtl", "Same.obj",
                                                    "same-02.mtl", "same-02.obj"}));
  EXPECT_NE(ReadFile(Path("out/Same-01.obj")).find("mtllib Same-01.mtl"), std::string::npos);
}

TEST_F(ShellExportTest, TheMaskAndVisibilityDecideWhatIsWritten) {
  DocPtr doc(BaseDocument::Alloc());
  BaseObject* hidden = AddMesh(doc.get(), "Hidden");
  hidden->SetEditorMode(MODE_OFF);
  AddMesh(doc.get(), "InheritChild", hidden);
  AddMesh(doc.get(), "OnChild", hidden)->SetEditorMode(MODE_ON);
  BaseObject* masked = AddMesh(doc.get(), "Masked");
  BaseTag* mask = masked->MakeTag(ID_XPMASK_TAG);
  ASSERT_TRUE(mask);
  mask->GetDataInstance()->SetBool(XPMASK_SKIP_CHILDREN, FALSE);
  AddMesh(doc.get(), "MaskedChild", masked);
  BaseObject* all = AddMesh(doc.get(), "MaskedAll");
  ASSERT_TRUE(all->MakeTag(ID_XPMASK_TAG));
  AddMesh(doc.get(), "Gone", all);
  Save(doc.get(), "mask.kscn");
  doc.reset();

  ShellRun r = Run("export mask.kscn --mode per-object --set materials=off -o shown");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Files("shown"), (std::vector<std::string>{"MaskedChild.obj", "OnChild.obj"}));
  r = Run("export mask.kscn --mode per-object --set materials=off --set ignore-visibility=on -o all");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Files("all"),
            (std::vector<std::string>{"Hidden.obj", "InheritChild.obj", "MaskedChild.obj", "OnChild.obj"}));
}

TEST_F(ShellExportTest, NothingToExportAndObjectsWithoutFacesAreSaid) {
  DocPtr doc(BaseDocument::Alloc());
  AddNull(doc.get(), "Empty");
  Save(doc.get(), "empty.kscn");
  AddMesh(doc.get(), "cloud", nullptr, false);
  Save(doc.get(), "cloud.kscn");
  doc.reset();

  ShellRun r = Run("export empty.kscn -o empty.obj");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("There is nothing to export"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(Path("empty.obj")));

  r = Run("export cloud.kscn -o cloud.obj");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Object named: cloud has 2 vertices, but zero faces - No faces will be written."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  points:    2\n"), std::string::npos) << r.out;
}

TEST_F(ShellExportTest, TheNgonQuestionDecidesWhetherAnythingIsWritten) {
  DocPtr doc(BaseDocument::Alloc());
  PolygonObject* ring = Grid(3, 3);
  ASSERT_TRUE(ring);
  // The ring around the centre quad: one n-gon with a hole.
  const std::vector<LONG> outline = {E(0, 0), E(1, 0), E(2, 0), E(2, 1), E(5, 1), E(8, 1), E(8, 2), E(7, 2),
                                     E(6, 2), E(6, 3), E(3, 3), E(0, 3) | NGON_EDGE_SEGMENTEND, E(1, 2), E(3, 1),
                                     E(7, 0), E(5, 3) | NGON_EDGE_SEGMENTEND};
  NgonBase* ngons = ring->GetNgonBase();
  ASSERT_TRUE(ngons);
  ASSERT_NE(ngons->BuildNgon(nullptr, outline.data(), 0, LONG(outline.size()), ring->GetPolygonR(), ring->GetPointR()),
            NOTOK);
  ASSERT_TRUE(ngons->InitMap());
  InsertLast(doc.get(), ring, "Ring");
  Save(doc.get(), "ring.kscn");
  doc.reset();

  ShellRun r = Run("export ring.kscn -o no.obj --no");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("n-gons with holes and the question was answered No"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(Path("no.obj")));

  r = Run("export ring.kscn -o yes.obj --yes");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("  faces:     9\n"), std::string::npos) << "every polygon on its own\n" << r.out;
  EXPECT_NE(r.out.find("  n-gons:    0\n"), std::string::npos) << r.out;
}

TEST_F(ShellExportTest, BadScenesFoldersAndFlagsFailWithoutWriting) {
  SaveTree();
  WriteFile("damaged.kscn", ReadFile(Path("tree.kscn")).substr(0, 40));
  WriteFile("plain.txt", "a file, not a folder\n");
  struct Case {
    const char* args;
    int exitCode;
    const char* says;
  } cases[] = {
      {"export damaged.kscn -o d.obj", 1, "cannot load scene 'damaged.kscn'"},
      {"export missing.kscn -o d.obj", 1, "cannot load scene 'missing.kscn'"},
      {"export tree.kscn -o plain.txt/out --mode per-object", 1, "nothing was written"},
      {"export tree.kscn -o plain.txt/x.obj", 1, "nothing was written"},
      {"export tree.kscn -o f --frames 5:1", 2, "--frames takes START:END"},
      {"export tree.kscn -o f --frames 1:5:0", 2, "--frames takes START:END"},
      {"export tree.kscn -o f --frames 0:5 --mode document", 2, "--frames goes with --mode per-frame"},
      {"export tree.kscn -o f --frames 10:10", 2, "does not fit the scene's frames 0 to 90"},
      {"export tree.kscn -o f --frames 0:100", 2, "does not fit the scene's frames 0 to 90"},
      {"export tree.kscn -o f --mode sideways", 2, "sideways"},
      {"export tree.kscn -o f --set no-such-key=1", 2, "no-such-key"},
  };
  for (const Case& c : cases) {
    const ShellRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  for (const char* name : {"d.obj", "f", "plain.txt/out"}) EXPECT_FALSE(fs::exists(Path(name))) << name;

  // A damaged scene is one message.
  const ShellRun damaged = Run("export damaged.kscn -o d.obj");
  EXPECT_EQ(std::count(damaged.out.begin(), damaged.out.end(), '\n'), 1) << damaged.out;
  // A special file is never the target: the FIFO stays a FIFO and nothing blocks.
  ASSERT_EQ(mkfifo(Path("pipe.obj").c_str(), 0600), 0);
  const ShellRun fifo = Run("export tree.kscn -o pipe.obj");
  EXPECT_EQ(fifo.exitCode, 1) << fifo.out;
  EXPECT_TRUE(fs::is_fifo(Path("pipe.obj")));
}

TEST_F(ShellExportTest, TheSampleRoundTripKeepsItsCounts) {
  const std::string sample = SourceDir() + "/samples/robot.obj";
  ASSERT_EQ(Run("import '" + sample + "' -o robot.kscn").exitCode, 0);
  const ShellRun exported = Run("export robot.kscn -o back/robot.obj");
  ASSERT_EQ(exported.exitCode, 0) << exported.out;
  const ShellRun first = Run("import '" + sample + "' -o one.kscn");
  const ShellRun again = Run("import back/robot.obj -o two.kscn");
  ASSERT_EQ(again.exitCode, 0) << again.out;
  // What OBJ carries comes back: the polygon geometry, its materials and selections.
  // (The sample's line elements and its null hierarchy are not polygon objects, so they
  // are not exported.)
  auto line = [](const std::string& out, const std::string& label) {
    const size_t from = out.find("  " + label + ":");
    return from == std::string::npos ? "no " + label : out.substr(from, out.find('\n', from) - from);
  };
  for (const char* label : {"polygons", "n-gons", "materials", "selection tags"})
    EXPECT_EQ(line(again.out, label), line(first.out, label)) << first.out << again.out;
  // Face lines: an n-gon is one line however many polygons hold it.
  EXPECT_NE(exported.out.find("  faces:     53\n  n-gons:    3\n"), std::string::npos) << exported.out;
}

}  // namespace

// The kelvane shell run as a user runs it: exit codes, the plug-in listing and the
// failure when the plug-in's resources are missing.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "c4d.h"
#include "container_codec.h"
#include "host_fixture.h"
#include "scene_file.h"
#include "scene_helpers.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

using RunResult = ShellRun;

class ShellTest : public HostTest {
 protected:
  RunResult Run(const std::string& args, const std::string& environment = "") {
    return RunShell(TempDir(), args, environment);
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
};

TEST_F(ShellTest, PluginsPrintsTheBannerAndTenPlugInsInOrder) {
  const RunResult r = Run("plugins");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 18u) << r.out;
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], std::string(61, '='));
  EXPECT_EQ(lines[3], "Cinema 4D 32bit Release R13 (or later) version Installed.");
  EXPECT_EQ(lines[4], std::string(61, '='));
  // The banner's host line is the plug-in's fixed text: the shell says what it runs on.
  EXPECT_EQ(lines[6].rfind("Host: the kelvane embedded host ", 0), 0u) << r.out;
  EXPECT_NE(lines[6].find("not the application release the banner names"), std::string::npos) << r.out;

  const char* expected[][2] = {
      {"command", "1022493"}, {"command", "1022494"}, {"command", "1025200"}, {"deformer", "1028662"},
      {"command", "1025201"}, {"tag", "1016210"},     {"tag", "1016229"},     {"tag", "1020082"},
      {"command", "1023091"}, {"command", "1023090"},
  };
  size_t row = 0;
  for (const auto& line : lines) {
    if (row < std::size(expected) && line.rfind(expected[row][0], 0) == 0) {
      EXPECT_NE(line.find(expected[row][1]), std::string::npos) << line;
      ++row;
    }
  }
  EXPECT_EQ(row, std::size(expected)) << r.out;
  EXPECT_NE(r.out.find("10 plug-ins registered."), std::string::npos) << r.out;
  // The menu separators are registered too, but are no plug-ins.
  EXPECT_EQ(r.out.find("#$"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("1022534"), std::string::npos) << r.out;
}

TEST_F(ShellTest, MissingResourceFolderIsOneClearLineAndExitOne) {
  const fs::path folder = fs::path(TempDir()) / "bare";
  fs::create_directories(folder);
  fs::create_symlink(BinDir() + "/kelvane_plugin.so", folder / "kelvane_plugin.so");
  const RunResult r = Run("--plugin-dir '" + folder.string() + "' plugins");
  EXPECT_EQ(r.exitCode, 1);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  EXPECT_NE(lines[0].find((folder / "res").string()), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("version Installed."), std::string::npos) << "nothing may be registered";
}

TEST_F(ShellTest, PluginFolderFromFlagAndEnvironment) {
  const RunResult fromFlag = Run("--plugin-dir /nonexistent/folder plugins");
  EXPECT_EQ(fromFlag.exitCode, 1);
  EXPECT_NE(fromFlag.out.find("/nonexistent/folder/kelvane_plugin.so"), std::string::npos) << fromFlag.out;

  const RunResult fromEnv = Run("plugins", "KELVANE_PLUGIN_DIR=/nowhere");
  EXPECT_EQ(fromEnv.exitCode, 1);
  EXPECT_NE(fromEnv.out.find("/nowhere/kelvane_plugin.so"), std::string::npos) << fromEnv.out;

  // The flag wins over the environment.
  const RunResult both = Run("--plugin-dir '" + BinDir() + "' plugins", "KELVANE_PLUGIN_DIR=/nowhere");
  EXPECT_EQ(both.exitCode, 0) << both.out;
}

TEST_F(ShellTest, VersionHelpAndUsageErrors) {
  const RunResult version = Run("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("kelvane ", 0), 0u) << version.out;

  const RunResult help = Run("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("plugins"), std::string::npos);

  EXPECT_EQ(Run("").exitCode, 2);
  EXPECT_EQ(Run("no-such-command").exitCode, 2);
  EXPECT_EQ(Run("--frobnicate plugins").exitCode, 2);
  EXPECT_EQ(Run("--yes --no plugins").exitCode, 2);
}

TEST_F(ShellTest, SceneMakeThenShowPrintsTheTreeExactly) {
  ASSERT_EQ(Run("scene make cube --segments 2 --polygonize -o cube.kscn").exitCode, 0);
  const RunResult r = Run("scene show cube.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out,
            "Scene cube.kscn: document \"Cube\" (its file name \"Cube.c4d\")\n"
            "  time: frame 0 at 30 fps; range 0 to 90; preview 0 to 90\n"
            "  active object: \"Cube\"\n"
            "Layers: none\n"
            "Materials: none\n"
            "Objects: 1\n"
            "  Polygon \"Cube\"  26 points, 24 polygons, 0 n-gons\n"
            "    UVW tag: 24 entries\n"
            "    Phong tag: angle limit on, 80 degrees\n");
}

TEST_F(ShellTest, DemoSceneHasEveryKindOfElementAndSurvivesPolygonizing) {
  ASSERT_EQ(Run("scene make demo -o demo.kscn").exitCode, 0);
  const RunResult demo = Run("scene show demo.kscn");
  ASSERT_EQ(demo.exitCode, 0) << demo.out;
  for (const char* expected :
       {"Layers: 2\n", "Materials: 3\n", "Objects: 2 at the top, 7 in all\n", "texture \"checker.tif\"",
        "refraction 1.5", "Cube \"Cube\"  size (200, 200, 200), segments 2 x 2 x 2  [layer \"Geometry\"]",
        "Polygon Selection tag \"top\": 5 selected (5-9)", "selection \"top\"",
        "Spline \"Path\"  8 points, 1 segment, closed, linear  [layer \"Helpers\"]  [editor off]"})
    EXPECT_NE(demo.out.find(expected), std::string::npos) << expected << "\n" << demo.out;

  ASSERT_EQ(Run("scene make demo --polygonize -o flat.kscn").exitCode, 0);
  const RunResult flat = Run("scene show flat.kscn");
  ASSERT_EQ(flat.exitCode, 0) << flat.out;
  EXPECT_NE(flat.out.find("Polygon \"Cube\"  26 points, 24 polygons"), std::string::npos) << flat.out;
  EXPECT_NE(flat.out.find("Polygon \"Floor\"  81 points, 64 polygons"), std::string::npos) << flat.out;
  // The array's six copies, each still textured with the copied material.
  size_t copies = 0;
  for (size_t at = 0; (at = flat.out.find("Polygon \"Small cube\"  8 points, 6 polygons", at)) != std::string::npos; ++at)
    ++copies;
  EXPECT_EQ(copies, 6u) << flat.out;
  EXPECT_EQ(flat.out.find("material none"), std::string::npos) << flat.out;
}

// What an imported point cache leaves behind: a point-level track of many keys, beside a
// value track, a track on a tag and an object that is switched off.
TEST_F(ShellTest, SceneShowListsTracksWithTheirKeys) {
  BaseDocument* doc = BaseDocument::Alloc();
  ASSERT_NE(doc, nullptr);
  PolygonObject* mesh = PolygonObject::Alloc(4, 1);
  ASSERT_NE(mesh, nullptr);
  mesh->SetName(String("Mesh"));
  doc->InsertObject(mesh, nullptr, nullptr);
  CTrack* pla = CTrack::Alloc(mesh, DescID(DescLevel(CTpla, CTpla, 0)));
  CTrack* y = CTrack::Alloc(mesh, DescID(DescLevel(ID_BASEOBJECT_REL_POSITION), DescLevel(VECTOR_Y)));
  BaseTag* phong = mesh->MakeTag(Tphong);
  CTrack* angle = phong ? CTrack::Alloc(phong, DescID(DescLevel(PHONGTAG_PHONG_ANGLE))) : nullptr;
  bool ok = pla && y && angle && mesh->InsertTrackSorted(pla) && mesh->InsertTrackSorted(y) &&
            phong->InsertTrackSorted(angle);
  for (LONG frame = 0; ok && frame < 10; ++frame) {
    CKey* key = pla->GetCurve()->AddKey(BaseTime(frame, 25.0));
    ok = key && pla->FillKey(doc, mesh, key);
  }
  ok = ok && y->GetCurve()->AddKey(BaseTime(1.0)) && angle->GetCurve() != nullptr;
  mesh->SetDeformMode(FALSE);
  std::string error;
  ok = ok && host::SaveScene(doc, TempDir() + "/anim.kscn", &error);
  BaseDocument::Free(doc);
  ASSERT_TRUE(ok) << error;
  const RunResult r = Run("scene show anim.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out,
            "Scene anim.kscn: document \"Untitled\" (its file name \"Untitled.c4d\")\n"
            "  time: frame 0 at 30 fps; range 0 to 90; preview 0 to 90\n"
            "  active object: none\n"
            "Layers: none\n"
            "Materials: none\n"
            "Objects: 1\n"
            "  Polygon \"Mesh\"  4 points, 1 polygon, 0 n-gons  [switched off]\n"
            "    track position.y: 1 key at 1 s\n"
            "    track point-level animation: 10 keys at 0, 0.04, 0.08, 0.12, 0.16, 0.2, ..., 0.36 s, 4 points a key\n"
            "    Phong tag: angle limit off, 80 degrees\n"
            "      track parameter 1001: 0 keys\n");
}

TEST_F(ShellTest, SceneFailuresAreOneLineAndExitOne) {
  const RunResult missing = Run("scene show missing.kscn");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "kelvane: cannot load scene 'missing.kscn': No such file or directory\n");

  ASSERT_EQ(Run("scene make cube -o good.kscn").exitCode, 0);
  std::string bytes = ReadFile(TempDir() + "/good.kscn");
  bytes[bytes.size() / 2] ^= 0x40;
  WriteFile("flipped.kscn", bytes);
  WriteFile("short.kscn", bytes.substr(0, 30));
  WriteFile("text.kscn", "v 1 2 3\nf 1 2 3\n");
  const std::pair<const char*, const char*> damaged[] = {
      {"flipped.kscn", "damaged scene file: checksum mismatch"},
      {"short.kscn", "damaged scene file: length field says"},
      {"text.kscn", "damaged scene file: file is 16 bytes, shorter than its header"},
  };
  // A checksum-correct file with a polygon outside its points.
  {
    DocPtr doc(BaseDocument::Alloc());
    PolygonObject* op = Grid(1, 1);
    op->GetPolygonW()[0].b = 2147483647;
    op->SetName(String("Plane"));
    doc->InsertObject(op, nullptr, nullptr);
    std::string error;
    ASSERT_TRUE(host::internal::WriteFramedFile(TempDir() + "/index.kscn", host::internal::kSceneMagic,
                                                host::internal::kSceneVersion, host::internal::EncodeScene(doc.get()),
                                                &error));
  }
  const RunResult index = Run("scene show index.kscn");
  EXPECT_EQ(index.exitCode, 1);
  EXPECT_EQ(index.out, "kelvane: cannot load scene 'index.kscn': damaged scene file: document: object 'Plane': "
                       "polygon 0 uses point 2147483647 of 4 points\n");
  for (const auto& [file, message] : damaged) {
    const RunResult r = Run(std::string("scene show ") + file);
    EXPECT_EQ(r.exitCode, 1) << file;
    EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
  }

  const RunResult unwritable = Run("scene make cube -o no/such/folder/x.kscn");
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_NE(unwritable.out.find("cannot save scene 'no/such/folder/x.kscn'"), std::string::npos) << unwritable.out;
  EXPECT_EQ(Run("scene make teapot -o t.kscn").exitCode, 2);
  EXPECT_EQ(Run("scene make grid --segments 0 -o t.kscn").exitCode, 2);
}

}  // namespace

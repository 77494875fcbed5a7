// kelvane tag run as a user runs it: names moved through the plug-in's dialog, clear
// failures that leave the scene alone, the mask switches, and what scene show prints.
#include <filesystem>

#include "GroupTag.h"
#include "c4d_symbols.h"
#include "main.h"
#include "plugin_ids.h"
#include "scene_helpers.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

class ShellTagTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    ASSERT_TRUE(RegisterGroupTag());
    WriteScene();
  }
  void TearDown() override {
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }

  // scene.kscn: a polygon object "Mesh" with the selections A, B, C and a group tag
  // listing C and X, a null "Group" with a polygon object "Twin" under it, and a second
  // "Twin" at the top.
  void WriteScene() {
    DocPtr doc(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    BaseObject* mesh = InsertLast(doc.get(), PolygonObject::Alloc(4, 1), "Mesh");
    BaseObject* group = InsertLast(doc.get(), BaseObject::Alloc(Onull), "Group");
    ASSERT_TRUE(mesh && group);
    ASSERT_TRUE(InsertLast(doc.get(), PolygonObject::Alloc(3, 1), "Twin", group));
    ASSERT_TRUE(InsertLast(doc.get(), PolygonObject::Alloc(5, 1), "Twin"));
    BaseTag* last = nullptr;
    for (const char* name : {"A", "B", "C"}) {
      last = mesh->MakeTag(Tpolygonselection, last);
      ASSERT_TRUE(last);
      last->SetName(String(name));
    }
    BaseTag* tag = mesh->MakeTag(ID_GROUP_TAG, last);
    ASSERT_TRUE(tag);
    tag->GetDataInstance()->SetLong(GROUPTAG_COUNT, 2);
    tag->GetDataInstance()->SetString(GROUPTAG_FIRST_NAME, String("C"));
    tag->GetDataInstance()->SetString(GROUPTAG_FIRST_NAME + 1, String("X"));
    std::string error;
    ASSERT_TRUE(host::SaveScene(doc.get(), TempDir() + "/scene.kscn", &error)) << error;
  }

  static bool Has(const ShellRun& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

  // A plug-in folder of the built module and a copy of res/ to change.
  std::string PluginCopy() {
    const fs::path plugin = fs::path(TempDir()) / "plugin";
    fs::create_directories(plugin);
    fs::copy(SourceDir() + "/res", plugin / "res", fs::copy_options::recursive);
    fs::create_symlink(BinDir() + "/kelvane_plugin.so", plugin / "kelvane_plugin.so");
    return plugin.string();
  }
};

TEST_F(ShellTagTest, NamesAreAddedAndRemovedThroughTheDialog) {
  const std::string before = ReadFile(TempDir() + "/scene.kscn");
  const ShellRun added = Run("tag group scene.kscn Mesh --add A B -o out.kscn");
  ASSERT_EQ(added.exitCode, 0) << added.out;
  EXPECT_TRUE(Has(added, "OBJ Groups of \"Mesh\": C, A, B\n")) << added.out;
  EXPECT_EQ(ReadFile(TempDir() + "/scene.kscn"), before) << "-o leaves the scene file alone";

  // Adding a name the tag lists already changes nothing; removing goes back in place.
  const ShellRun removed = Run("tag group out.kscn Mesh --add A --remove C");
  ASSERT_EQ(removed.exitCode, 0) << removed.out;
  EXPECT_TRUE(Has(removed, "OBJ Groups of \"Mesh\": A, B\n")) << removed.out;

  const ShellRun shown = Run("scene show out.kscn");
  ASSERT_EQ(shown.exitCode, 0) << shown.out;
  EXPECT_TRUE(Has(shown, "    OBJ Groups tag: groups: \"A\", \"B\"\n")) << shown.out;

  // Without changes the dialog is still opened and confirmed: the stale X goes.
  const ShellRun listed = Run("tag group scene.kscn Mesh");
  ASSERT_EQ(listed.exitCode, 0) << listed.out;
  EXPECT_TRUE(Has(listed, "OBJ Groups of \"Mesh\": C\n")) << listed.out;
  EXPECT_TRUE(Has(Run("scene show scene.kscn"), "OBJ Groups tag: groups: \"C\"\n"));
}

TEST_F(ShellTagTest, ARegionTagIsMadeOnTheFirstObjectOfTheName) {
  const ShellRun r = Run("tag region scene.kscn Twin --add A");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r, "kelvane: 'A' is not a polygon selection of \"Twin\" (it has none)")) << r.out;

  const ShellRun none = Run("tag region scene.kscn Twin");
  EXPECT_EQ(none.exitCode, 0) << none.out;
  EXPECT_TRUE(Has(none, "\"Twin\" has no OBJ Regions tag")) << none.out;

  const ShellRun made = Run("tag region scene.kscn Mesh --add B --add A");
  ASSERT_EQ(made.exitCode, 0) << made.out;
  // Moved in the order of the dialog's rows, not of the flags.
  EXPECT_TRUE(Has(made, "OBJ Regions of \"Mesh\": A, B\n")) << made.out;
  const ShellRun shown = Run("scene show scene.kscn");
  EXPECT_TRUE(Has(shown, "    OBJ Groups tag: groups: \"C\", \"X\"\n"
                         "    OBJ Regions tag: regions: \"A\", \"B\"\n"))
      << shown.out;
}

TEST_F(ShellTagTest, FailuresAreClearAndLeaveTheSceneAlone) {
  const std::string before = ReadFile(TempDir() + "/scene.kscn");
  const struct {
    const char* args;
    int code;
    const char* message;
  } cases[] = {
      {"tag group scene.kscn Mesh --add A --add Q", 1,
       "kelvane: 'Q' is not a polygon selection of \"Mesh\" (its selections: A, B, C)\n"},
      {"tag group scene.kscn Mesh --remove X", 1, "'X' is not a polygon selection of \"Mesh\""},
      {"tag group scene.kscn Group --add A", 1,
       "kelvane: \"Group\" is a Null object, not a polygon object: OBJ Groups are chosen from a polygon object's "
       "selections\n"},
      {"tag group scene.kscn Nobody", 1, "kelvane: scene 'scene.kscn' has no object named 'Nobody'\n"},
      {"tag mask missing.kscn Mesh", 1, "kelvane: cannot load scene 'missing.kscn'"},
      {"tag group scene.kscn Mesh --add A --remove A", 2, "kelvane: 'A' is both added and removed\n"},
      {"tag mask scene.kscn Mesh --children maybe", 2, "--children"},
      {"tag mask scene.kscn Mesh --remove --children on", 2, "excludes"},
      {"tag group scene.kscn", 2, "OBJECT"},
      {"tag", 2, "subcommand"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ShellRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.code) << r.out;
    EXPECT_TRUE(Has(r, c.message)) << r.out;
  }
  EXPECT_EQ(ReadFile(TempDir() + "/scene.kscn"), before);
  EXPECT_FALSE(fs::exists(TempDir() + "/missing.kscn"));
}

TEST_F(ShellTagTest, MaskSwitchesAreSetAndShownByLabel) {
  const ShellRun made = Run("tag mask scene.kscn Twin --children off");
  ASSERT_EQ(made.exitCode, 0) << made.out;
  EXPECT_TRUE(Has(made, "OBJ Export Mask of \"Twin\": Leave the object out of the export: on; "
                        "Leave its children out as well: off\n"))
      << made.out;
  const ShellRun shown = Run("scene show scene.kscn");
  EXPECT_TRUE(Has(shown, "  Null \"Group\"\n    Polygon \"Twin\"  3 points, 1 polygon, 0 n-gons\n"
                         "      OBJ Export Mask tag: Leave the object out of the export: on; "
                         "Leave its children out as well: off\n"
                         "  Polygon \"Twin\"  5 points"))
      << shown.out;

  const ShellRun on = Run("tag mask scene.kscn Twin --children on -o on.kscn");
  ASSERT_EQ(on.exitCode, 0) << on.out;
  EXPECT_TRUE(Has(Run("scene show on.kscn"), "Leave its children out as well: on\n"));

  const ShellRun removed = Run("tag mask scene.kscn Twin --remove");
  ASSERT_EQ(removed.exitCode, 0) << removed.out;
  EXPECT_TRUE(Has(removed, "Removed the OBJ Export Mask tag of \"Twin\"")) << removed.out;
  EXPECT_FALSE(Has(Run("scene show scene.kscn"), "OBJ Export Mask"));
  const ShellRun again = Run("tag mask scene.kscn Twin --remove");
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(Has(again, "\"Twin\" has no OBJ Export Mask tag")) << again.out;
}

// A plug-in folder whose description is broken: scene show says so once and falls back
// to the tag's raw entries.
TEST_F(ShellTagTest, ABrokenDescriptionFallsBackToEntries) {
  ASSERT_EQ(Run("tag mask scene.kscn Mesh").exitCode, 0);
  ASSERT_EQ(Run("tag mask scene.kscn Twin").exitCode, 0);
  const std::string plugin = PluginCopy();
  WriteFile("plugin/res/description/Txpromask.res",
            "DESCRIPTION Txpromask\n{\n  BOOL XPMASK_SKIP_OBJECT { LABEL \"Out\"; }\n  FLOAT 7 { }\n}\n");
  const ShellRun r = Run("--plugin-dir '" + plugin + "' scene show scene.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string warning = "kelvane: description Txpromask is not used: " + plugin +
                              "/res/description/Txpromask.res:4: 'FLOAT' is no parameter kind or description property\n";
  ASSERT_TRUE(Has(r, warning)) << r.out;
  EXPECT_EQ(r.out.find(warning), r.out.rfind(warning)) << "said once";
  EXPECT_TRUE(Has(r, "OBJ Export Mask tag: {1000=1, 1001=1}\n")) << r.out;
}

// A tag whose plug-in did not register (its name is missing) is not edited: its bare
// node would answer the edit message without a dialog.
TEST_F(ShellTagTest, AnUnregisteredTagIsNotEdited) {
  const std::string plugin = PluginCopy();
  const std::string table = plugin + "/res/strings_us/c4d_strings.str";
  std::string strings = ReadFile(table);
  const size_t line = strings.find("  IDS_GROUPTAG_NAME ");
  ASSERT_NE(line, std::string::npos);
  strings.erase(line, strings.find('\n', line) + 1 - line);
  WriteFile("plugin/res/strings_us/c4d_strings.str", strings);
  const std::string before = ReadFile(TempDir() + "/scene.kscn");
  const ShellRun r = Run("--plugin-dir '" + plugin + "' tag group scene.kscn Mesh --add A");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r, "kelvane: the plug-in has not registered its tag 1016210")) << r.out;
  EXPECT_EQ(ReadFile(TempDir() + "/scene.kscn"), before);
  EXPECT_EQ(Run("--plugin-dir '" + plugin + "' tag region scene.kscn Mesh --add A").exitCode, 0);
}

}  // namespace

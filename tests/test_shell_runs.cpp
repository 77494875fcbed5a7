// The shell as its users run it: each import starts from the default preset unless
// --preset says otherwise, plain output by default and the trace with --verbose, global
// options after the command, unknown commands, and outputs checked before the import.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

class ShellRunsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    fs::create_directories(fs::path(TempDir()) / "models");
    for (const char* file : {"robot.obj", "robot.mtl"})
      fs::copy_file(SourceDir() + "/samples/" + file, fs::path(TempDir()) / "models" / file);
  }
  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args + " --no-progress"); }
  static bool Has(const ShellRun& r, const std::string& text) { return r.out.find(text) != std::string::npos; }
  // The summary's "objects:" line.
  static std::string Objects(const ShellRun& r) {
    const size_t at = r.out.find("  objects:");
    return at == std::string::npos ? std::string() : r.out.substr(at, r.out.find('\n', at) - at);
  }
};

TEST_F(ShellRunsTest, AnOptionSetInOneRunDoesNotLeakIntoTheNextUnlessLastUsedIsChosen) {
  const ShellRun plain = Run("import models/robot.obj -o plain.kscn");
  ASSERT_EQ(plain.exitCode, 0) << plain.out;
  EXPECT_TRUE(Has(plain, "  preset:         Default Import Options\n  changed:        nothing\n")) << plain.out;

  const ShellRun single = Run("import models/robot.obj --set layout=per-group -o single.kscn");
  ASSERT_EQ(single.exitCode, 0) << single.out;
  EXPECT_TRUE(Has(single, "  changed:        layout=per-group\n")) << single.out;
  ASSERT_NE(Objects(single), Objects(plain)) << "the flag must change the scene for this test to mean anything";

  const ShellRun again = Run("import models/robot.obj -o again.kscn");
  ASSERT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(Objects(again), Objects(plain));

  // "Last Used" is still saved after each run, and chosen on request.
  Run("import models/robot.obj --set layout=per-group -o single2.kscn");
  const ShellRun last = Run("import models/robot.obj --preset 'Last Used' -o last.kscn");
  ASSERT_EQ(last.exitCode, 0) << last.out;
  EXPECT_TRUE(Has(last, "  preset:         Last Used\n")) << last.out;
  EXPECT_EQ(Objects(last), Objects(single));
}

TEST_F(ShellRunsTest, TimingAndTraceLinesOnlyWithVerbose) {
  struct Case {
    const char* args;
    bool verbose;
  };
  for (const Case& c : {Case{"import models/robot.obj", false}, Case{"import models/robot.obj --verbose", true},
                        Case{"--verbose import models/robot.obj -o v.kscn", true}}) {
    const ShellRun r = Run(c.args);
    ASSERT_EQ(r.exitCode, 0) << c.args << "\n" << r.out;
    EXPECT_TRUE(Has(r, "Imported models/robot.obj")) << r.out;
    for (const char* line : {" elapsed = ", "[dialog] ", "[file selector] "})
      EXPECT_EQ(Has(r, line), c.verbose) << c.args << ": " << line << "\n" << r.out;
  }
}

TEST_F(ShellRunsTest, GlobalOptionsAreAcceptedAfterTheCommand) {
  const ShellRun r = RunShell(TempDir(), "import models/robot.obj --no-progress --yes --settings-dir other -o x.kscn");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(fs::exists(fs::path(TempDir()) / "other")) << "--settings-dir after the command was not used";
  EXPECT_EQ(RunShell(TempDir(), "import models/robot.obj --yes --no").exitCode, 2);
}

TEST_F(ShellRunsTest, AnUnknownCommandIsNamedAndTheCommandsListed) {
  for (const char* args : {"frob", "--no-progress frob models", "--settings-dir s frob"}) {
    const ShellRun r = RunShell(TempDir(), args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_TRUE(Has(r, "unknown command 'frob'")) << args << "\n" << r.out;
    EXPECT_TRUE(Has(r, "import")) << r.out;
  }
}

TEST_F(ShellRunsTest, AnUnwritableOutputFailsBeforeTheImport) {
  fs::create_directories(fs::path(TempDir()) / "folder.kscn");
  fs::create_directories(fs::path(TempDir()) / "locked");
  fs::permissions(fs::path(TempDir()) / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const bool rootWrites = access((TempDir() + "/locked").c_str(), W_OK) == 0;
  for (const char* output : {"no/such/folder/robot.kscn", "folder.kscn", "models/robot.obj/x.kscn", "locked/x.kscn"}) {
    if (std::string(output).rfind("locked", 0) == 0 && rootWrites) continue;
    const ShellRun r = Run(std::string("import models/robot.obj -o ") + output);
    EXPECT_EQ(r.exitCode, 1) << output << "\n" << r.out;
    EXPECT_TRUE(Has(r, std::string("kelvane: cannot save scene '") + output + "': ")) << r.out;
    EXPECT_FALSE(Has(r, "Imported")) << "the import ran before the output was checked:\n" << r.out;
  }
  fs::permissions(fs::path(TempDir()) / "locked", fs::perms::owner_all);
}

TEST_F(ShellRunsTest, AChosenSceneFileThatIsReplacedIsSaidSo) {
  const ShellRun first = Run("import models/robot.obj");
  ASSERT_EQ(first.exitCode, 0) << first.out;
  EXPECT_TRUE(Has(first, "Wrote robot.kscn\n")) << first.out;
  const ShellRun second = Run("import models/robot.obj");
  EXPECT_TRUE(Has(second, "Wrote robot.kscn (replaced the file that was there)\n")) << second.out;
  // A file named with -o is the user's choice.
  const ShellRun named = Run("import models/robot.obj -o robot.kscn");
  EXPECT_TRUE(Has(named, "Wrote robot.kscn\n")) << named.out;
}

TEST_F(ShellRunsTest, ValuesAsUsersWriteThemAndWrongValuesExitTwo) {
  struct Case {
    const char* set;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"layout=PER-GROUP", 0, "changed:        layout=per-group"},
      {"source=One-File", 0, "Imported"},
      {"scale=1", 0, "Imported"},
      {"scale=100000", 0, "Imported"},
      {"scale=0", 2, "scale takes a whole number from 1 to 100000, not 0"},
      {"scale=100001", 2, "scale takes a whole number from 1 to 100000, not 100001"},
      {"scale=ten", 2, "scale takes a whole number"},
      {"layout=sideways", 2, "layout takes one of: single-object, per-object, per-group"},
  };
  for (const Case& c : cases) {
    const ShellRun r = Run(std::string("import models/robot.obj -o out.kscn --set ") + c.set);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.set << "\n" << r.out;
    EXPECT_TRUE(Has(r, c.says)) << c.set << "\n" << r.out;
  }
}

TEST_F(ShellRunsTest, AFolderWithoutObjFilesIsAFailureAndWritesNothing) {
  fs::create_directories(fs::path(TempDir()) / "empty" / "sub");
  std::ofstream(TempDir() + "/empty/readme.txt") << "no models here\n";
  std::ofstream(TempDir() + "/empty/sub/robot.mtl") << "newmtl a\n";
  const ShellRun r = Run("import empty");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_TRUE(Has(r, "no OBJ files in empty")) << r.out;
  EXPECT_FALSE(fs::exists(fs::path(TempDir()) / "empty.kscn"));
  // One in a subfolder, in capitals, is enough for the walk to start.
  fs::copy_file(fs::path(TempDir()) / "models/robot.obj", fs::path(TempDir()) / "empty/sub/ROBOT.OBJ");
  EXPECT_FALSE(Has(Run("import empty"), "no OBJ files"));
}

TEST_F(ShellRunsTest, ADamagedSettingsFileIsReportedOnceOnStandardErrorAndTheRunGoesOn) {
  for (const char* args : {"import models/robot.obj -o d.kscn --no-progress", "presets list", "options import"}) {
    fs::create_directories(fs::path(TempDir()) / "settings");
    std::ofstream(TempDir() + "/settings/settings.kvs") << "not a settings file";
    fs::remove(fs::path(TempDir()) / "settings/settings.kvs.damaged");
    const ShellRun r = RunShell(TempDir(), args, "", true);
    EXPECT_EQ(r.exitCode, 0) << args << "\n" << r.out << r.err;
    size_t count = 0;
    for (size_t at = r.err.find("is damaged"); at != std::string::npos; at = r.err.find("is damaged", at + 1)) ++count;
    EXPECT_EQ(count, 1u) << args << "\n" << r.err;
    EXPECT_FALSE(Has(r, "is damaged")) << "not on standard output too:\n" << r.out;
  }
  EXPECT_TRUE(Has(RunShell(TempDir(), "presets list"), "Default Import Options")) << "the built-in presets";
}

}  // namespace

namespace {

class ShellRunsMoreTest : public ShellRunsTest {
 protected:
  static std::string Changed(const ShellRun& r) {
    const size_t at = r.out.find("  changed:        ");
    return at == std::string::npos ? std::string("<none>") : r.out.substr(at + 18, r.out.find('\n', at) - at - 18);
  }
};

TEST_F(ShellRunsMoreTest, TheSummaryListsEveryOptionThatDiffersFromThePreset) {
  struct Case {
    const char* flags;
    const char* changed;
  };
  const Case cases[] = {
      {"", "nothing"},
      // A set named twice, once by its own key, counts once, where the dialog has it.
      {"--set texture-sampling=AREA --set layout-per-group=on --set scale=20 --set layout=per-group",
       "scale=20, layout=per-group, texture-sampling=area"},
      // A value the preset has already is no change; short and full labels alike.
      {"--set scale=1 --set 'texture-sampling=Sampling: MIP'", "nothing"},
      {"--set texture-blur=50 --set scale=3 --set scale=1", "texture-blur=50%"},
      {"--preset 'Import From Poser' --set texture-sampling=none", "texture-sampling=none"},
  };
  for (const Case& c : cases) {
    const ShellRun r = Run(std::string("import models/robot.obj -o c.kscn ") + c.flags);
    ASSERT_EQ(r.exitCode, 0) << c.flags << "\n" << r.out;
    EXPECT_EQ(Changed(r), c.changed) << c.flags;
  }
  // The folder source that PATH chooses is no change of the user's.
  const ShellRun folder = Run("import models -o f.kscn");
  ASSERT_EQ(folder.exitCode, 0) << folder.out;
  EXPECT_EQ(Changed(folder), "nothing");
}

TEST_F(ShellRunsMoreTest, PresetsResetRestoresTheBuiltInsAndKeepsTheUsersOwnUnlessAll) {
  ASSERT_EQ(Run("presets add Mine --set scale=7").exitCode, 0);
  ASSERT_EQ(Run("presets rename 'Import From Poser' 'My Poser'").exitCode, 0);
  ASSERT_EQ(Run("presets delete 'Import From ZBrush'").exitCode, 0);
  ASSERT_EQ(Run("presets add --side export Theirs").exitCode, 0);
  ASSERT_EQ(Run("import models/robot.obj -o a.kscn --set scale=9").exitCode, 0);  // "Last Used" holds 9
  const ShellRun reset = Run("presets reset");
  ASSERT_EQ(reset.exitCode, 0) << reset.out;
  EXPECT_EQ(reset.out,
            "Reset the import presets: \"Last Used\" and the 4 built-in presets are as shipped; 2 presets of your own "
            "kept.\n");
  const ShellRun list = Run("presets list");
  EXPECT_EQ(list.out,
            "Import presets (entry 0 holds the options of the last run):\n"
            "   0  Last Used                        protected\n"
            "   1  Default Import Options           protected\n"
            "   2  Import From Poser\n"
            "   3  Import From ZBrush\n"
            "   4  Import From SketchUp\n"
            "   5  My Poser\n"
            "   6  Mine\n");
  EXPECT_TRUE(Has(Run("options import --preset 'Last Used'"), "Scale: 1 ")) << "Last Used is as shipped";
  EXPECT_TRUE(Has(Run("options import --preset Mine"), "Scale: 7 ")) << "a kept preset keeps its options";
  EXPECT_TRUE(Has(Run("presets list --side export"), "Theirs")) << "the other side is left alone";

  const ShellRun all = Run("presets reset --all");
  EXPECT_EQ(all.out,
            "Reset the import presets: \"Last Used\" and the 4 built-in presets are as shipped; 2 presets of your own "
            "deleted.\n");
  EXPECT_FALSE(Has(Run("presets list"), "Mine"));
  const ShellRun exportAll = Run("presets reset --side export --all");
  EXPECT_TRUE(Has(exportAll, "1 preset of your own deleted")) << exportAll.out;
  EXPECT_FALSE(Has(Run("presets list --side export"), "Theirs"));
  // On settings that hold nothing yet, and twice in a row, a reset changes nothing more.
  const ShellRun fresh = RunShell(TempDir(), "presets reset --settings-dir fresh");
  EXPECT_EQ(fresh.exitCode, 0) << fresh.out;
  EXPECT_EQ(Run("presets reset").out,
            "Reset the import presets: \"Last Used\" and the 4 built-in presets are as shipped.\n");
}

TEST_F(ShellRunsMoreTest, TheLogHoldsEveryLineTheTimingAndTraceLinesIncluded) {
  const ShellRun r = RunShell(TempDir(), "import models/robot.obj -o l.kscn --log run.log", "", true);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::ifstream in(TempDir() + "/run.log");
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // What the terminal showed, in order, and what it left out.
  EXPECT_NE(log.find(r.out), std::string::npos) << "log:\n" << log << "\nout:\n" << r.out;
  for (const char* line : {" elapsed = ", "[dialog] Wavefront OBJ Import: OK\n", "[file selector] ", "Kelvane 0.1.0"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(r.out.find(" elapsed = "), std::string::npos);
  EXPECT_LT(log.find("[file selector] "), log.find("Imported models/robot.obj"));
  EXPECT_EQ(log.find('\r'), std::string::npos) << "no progress line";
  // Standard error too, and a failure that ends the run; a log that cannot be written
  // fails before anything runs.
  const ShellRun failed = RunShell(TempDir(), "import models/none.obj --log failed.log --no-progress");
  EXPECT_EQ(failed.exitCode, 1);
  std::ifstream failedIn(TempDir() + "/failed.log");
  const std::string failedLog((std::istreambuf_iterator<char>(failedIn)), std::istreambuf_iterator<char>());
  EXPECT_NE(failedLog.find("kelvane: import: no such file or folder: 'models/none.obj'"), std::string::npos) << failedLog;
  const ShellRun unwritable = Run("import models/robot.obj --log no/such/folder/x.log");
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_TRUE(Has(unwritable, "kelvane: cannot write the log 'no/such/folder/x.log': ")) << unwritable.out;
  EXPECT_FALSE(Has(unwritable, "Imported"));
}

TEST_F(ShellRunsMoreTest, AFolderWalkStopsAtAFailingFileKeepsWhatWasBuiltAndKeepGoingImportsTheRest) {
  const fs::path f = fs::path(TempDir()) / "f";
  fs::create_directories(f / "sub");
  for (const char* name : {"a.obj", "c.obj", "sub/e.obj"}) fs::copy_file(f / "../models/robot.obj", f / name);
  fs::copy_file(f / "../models/robot.mtl", f / "robot.mtl");
  std::ofstream(f / "b.obj").flush();                                             // empty
  std::ofstream(f / "sub/d.obj", std::ios::binary) << std::string("\xff\xfev\0 \0" "1\0", 8);  // UTF-16
  std::ofstream(f / "sub/x.obj", std::ios::binary) << std::string("\x7f" "ELF\x02\x01\0\0\0\0", 10);  // not text

  const ShellRun stopped = Run("import f -o stopped.kscn --set subfolders=on");
  EXPECT_EQ(stopped.exitCode, 1) << stopped.out;
  EXPECT_TRUE(Has(stopped, "kelvane: import: the walk stopped at 'f/b.obj' (File Parsing Failed: no vertices or faces) "
                           "after 1 file; the scene holds what was built before it"))
      << stopped.out;
  EXPECT_TRUE(Has(stopped, "  objects:        6 (1 polygon, 1 spline, 4 null)")) << "a.obj and its folder's null";
  EXPECT_TRUE(fs::exists(fs::path(TempDir()) / "stopped.kscn"));

  const ShellRun going = Run("import f -o going.kscn --set subfolders=on --keep-going");
  EXPECT_EQ(going.exitCode, 1) << going.out;
  EXPECT_TRUE(Has(going, "kelvane: import: 3 files could not be imported; the scene holds the others:\n"
                         "  f/b.obj: File Parsing Failed: no vertices or faces\n"
                         "  f/sub/d.obj: File Parsing Failed: UTF-16 text is not supported\n"
                         "  f/sub/x.obj: File Parsing Failed: not text\n"))
      << going.out;
  EXPECT_TRUE(Has(going, "  polygons:       174\n")) << "a, c and sub/e:\n" << going.out;
  EXPECT_TRUE(fs::exists(fs::path(TempDir()) / "going.kscn"));
  // A line of a file imported in every walk is printed once.
  size_t warnings = 0;
  for (size_t at = going.out.find("Failed to load: "); at != std::string::npos;
       at = going.out.find("Failed to load: ", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 3u) << going.out;

  // Stopped at the first file: nothing was built, nothing is written.
  fs::remove(f / "a.obj");
  const ShellRun first = Run("import f -o first.kscn");
  EXPECT_EQ(first.exitCode, 1);
  EXPECT_TRUE(Has(first, "kelvane: import: 'f/b.obj': File Parsing Failed: no vertices or faces")) << first.out;
  EXPECT_FALSE(fs::exists(fs::path(TempDir()) / "first.kscn"));
  // Without failures --keep-going changes nothing.
  EXPECT_EQ(Run("import models --keep-going -o m.kscn").exitCode, 0);
  // One file that fails says why beside the message box.
  const ShellRun one = Run("import f/sub/d.obj -o one.kscn");
  EXPECT_EQ(one.exitCode, 1);
  EXPECT_TRUE(Has(one, "File Parsing Failed\n")) << one.out;
  EXPECT_TRUE(Has(one, "kelvane: import: 'f/sub/d.obj': File Parsing Failed: UTF-16 text is not supported")) << one.out;
}

TEST_F(ShellRunsMoreTest, AMissingMaterialLibraryIsWarnedOfOncePerLibrary) {
  const fs::path m = fs::path(TempDir()) / "m";
  fs::create_directories(m / "shelf.mtl");  // a folder where a library should be
  const auto write = [&](const char* name, const char* library) {
    std::ofstream(m / name) << "mtllib " << library << "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl paint\nf 1 2 3\n";
  };
  write("a.obj", "gone.mtl");
  write("b.obj", "gone.mtl");
  write("c.obj", "shelf.mtl");
  const ShellRun r = Run("import m -o m.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const auto count = [&](const std::string& text) {
    size_t n = 0;
    for (size_t at = r.out.find(text); at != std::string::npos; at = r.out.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Kelvane: Warning - the material library '" + (m / "gone.mtl").string() + "' named by '" +
                  (m / "a.obj").string() + "' cannot be opened; the import goes on without it\n"),
            1u)
      << r.out;
  EXPECT_EQ(count("the material library '" + (m / "shelf.mtl").string() + "' named by"), 1u) << r.out;
  EXPECT_EQ(count("Kelvane: Warning - "), 2u) << r.out;
  // A library that is there says nothing.
  EXPECT_FALSE(Has(Run("import models/robot.obj -o robot.kscn"), "Warning")) << "robot.mtl is beside it";
  // Its groups and regions, as scene show lists them.
  const ShellRun shown = Run("scene show robot.kscn");
  EXPECT_TRUE(Has(shown, "Scene robot.kscn: document ")) << shown.out;
  EXPECT_TRUE(Has(shown, "OBJ Regions tag: regions: \"upper\", \"lower\"\n")) << shown.out;
  EXPECT_TRUE(Has(shown, "OBJ Groups tag: groups: \"torso\", \"head\", \"left\", \"right\", \"legs\"\n")) << shown.out;
}

}  // namespace

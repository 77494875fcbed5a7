// kelvane mdd run as a user runs it: a cache exported from an animated scene and
// imported onto a still copy gives the same points back, info reads caches, and
// failures leave no cache and no scene behind.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "binfile.h"
#include "mddformat.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

class ShellMddTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(Run("scene make wave -o wave.kscn").exitCode, 0);
    ASSERT_EQ(Run("scene make grid --segments 20 -o still.kscn").exitCode, 0);
  }
  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }

  // The frame blocks of a cache as floats.
  std::vector<std::vector<Vector>> Frames(const std::string& name) {
    std::vector<std::vector<Vector>> frames;
    gantryBinFile* file = gantryBinFile::Alloc();
    mdd::Info info;
    String problem, warning;
    if (file->Open(Filename(Path(name).c_str()), BINFILE_READ, 65536) == 0 &&
        mdd::ReadHeader(file, Filename(Path(name).c_str()), &info, &problem, &warning)) {
      std::vector<Real> times(size_t(info.frames));
      mdd::ReadTimes(file, info, times.data());
      mdd::FrameBlock* block = mdd::FrameBlock::Alloc(info.points);
      for (LONG k = 0; k < info.wholeFrames && block->Read(file); ++k) {
        frames.emplace_back(size_t(info.points));
        block->GetAll(frames.back().data());
      }
      mdd::FrameBlock::Free(block);
    }
    gantryBinFile::Free(file);
    return frames;
  }
};

TEST_F(ShellMddTest, ExportImportOntoAStillCopyGivesThePointsBack) {
  ShellRun r = Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:60");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Wrote wave.mdd: 61 frames of 441 points of \"Wave\", 0 s to 2 s, 323064 bytes"),
            std::string::npos)
      << r.out;
  r = Run("mdd import still.kscn wave.mdd --object Grid --set start-file-times=on -o keyed.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("its point-level track has 61 keys (0 before)"), std::string::npos) << r.out;
  r = Run("mdd export keyed.kscn --object Grid -o again.mdd --frames 0:60");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFile(Path("again.mdd")), ReadFile(Path("wave.mdd"))) << "the same bytes";

  // Reversed: block k of the new cache is block 60 - k of the first.
  r = Run("mdd import still.kscn wave.mdd --object Grid --set start-file-times=on --set reverse=on -o reversed.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  ASSERT_EQ(Run("mdd export reversed.kscn --object Grid -o reversed.mdd --frames 0:60").exitCode, 0);
  const auto forward = Frames("wave.mdd"), backward = Frames("reversed.mdd");
  ASSERT_EQ(forward.size(), 61u);
  ASSERT_EQ(backward.size(), 61u);
  for (size_t k = 0; k < 61; k += 5) EXPECT_EQ(backward[k], forward[60 - k]) << "frame " << k;
}

TEST_F(ShellMddTest, InfoPrintsFramesTimesSizeAndBounds) {
  ASSERT_EQ(Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:60:2 --fps 15").exitCode, 0);
  ShellRun r = Run("mdd info wave.mdd");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  for (const char* line : {"  frames:      31\n", "  points:      441\n", "  time range:  0 s to 4 s\n",
                           "  step:        0.133333 s (7.5 frames per second)\n",
                           "  size:        164184 bytes, as the header expects\n",
                           "  first frame: x -0.5 .. 0.5, y 0.0101837 .. 0.0898163, z -0.5 .. 0.5\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

  ASSERT_EQ(::truncate(Path("wave.mdd").c_str(), 164184 - 100), 0);
  r = Run("mdd info wave.mdd");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("100 fewer than the header expects: 30 whole frames of 31"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("holds 30 whole frames of the 31 its header promises"), std::string::npos) << r.out;

  WriteFile("junk.mdd", std::string("\xff\xff\xff\xff\x00\x00\x00\x01", 8));
  r = Run("mdd info junk.mdd");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("its header says -1 frames of 1 points (file size 8 bytes)"), std::string::npos) << r.out;
}

TEST_F(ShellMddTest, MismatchedPointCountLeavesTheSceneAlone) {
  ASSERT_EQ(Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:4").exitCode, 0);
  ASSERT_EQ(Run("scene make grid --segments 10 -o small.kscn").exitCode, 0);
  const std::string before = ReadFile(Path("small.kscn"));
  const ShellRun r = Run("mdd import small.kscn wave.mdd --object Grid");
  EXPECT_EQ(r.exitCode, 1);
  for (const char* line : {"| The Point Count of the selected mesh object [121]\n",
                           "| Does not match the Point Count in the .mdd file[441]\n", "| Operation Aborted.\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no keys were made on \"Grid\"; no file written"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(Path("small.kscn")), before);
}

TEST_F(ShellMddTest, UnwritableTargetsLeaveNoCache) {
  WriteFile("plain.txt", "x");
  ASSERT_EQ(::symlink("/dev/full", Path("device.mdd").c_str()), 0);
  for (const char* target : {"missing/a.mdd", "plain.txt/a.mdd", "device.mdd"}) {
    const ShellRun r = Run(std::string("mdd export wave.kscn --object Wave -o ") + target + " --frames 0:10");
    EXPECT_EQ(r.exitCode, 1) << target << "\n" << r.out;
    EXPECT_NE(r.out.find("no cache written for \"Wave\""), std::string::npos) << r.out;
  }
  EXPECT_FALSE(fs::exists(Path("missing")));
  EXPECT_TRUE(fs::is_symlink(Path("device.mdd")));
}

TEST_F(ShellMddTest, ObjectsByPathAndUsageErrors) {
  ASSERT_EQ(Run("scene make demo -o demo.kscn").exitCode, 0);
  ShellRun r = Run("mdd export demo.kscn --object Demo/Wedge -o wedge.mdd --frames 0:2");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("3 frames of 12 points"), std::string::npos) << r.out;
  struct Case {
    const char* args;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"mdd export demo.kscn --object Demo/Nope -o a.mdd", 1, "has no object \"Demo/Nope\""},
      {"mdd export demo.kscn --object Demo/Cube -o a.mdd", 1, "not a point object"},
      {"mdd export demo.kscn --object Wedge -o a.cache", 2, "must end in .mdd"},
      {"mdd export demo.kscn --object Wedge -o a.mdd --frames 1:x", 2, "--frames takes START:END"},
      {"mdd export demo.kscn --object Wedge -o a.mdd --frames 0:4:0", 2, "STEP at least 1"},
      {"mdd export demo.kscn --object Wedge -o a.mdd --set speed=2", 2, "there is no key 'speed'"},
      {"mdd import demo.kscn nothing.mdd --object Wedge", 1, "no such cache file"},
  };
  for (const Case& c : cases) {
    r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  EXPECT_FALSE(fs::exists(Path("a.mdd")));
}

}  // namespace

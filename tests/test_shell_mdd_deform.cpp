// The MDD deformer from the shell: an animation exported as a cache and played back by
// the deformer on a still copy gives the animation's points at every exported frame and
// the blend of the two around it between them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "shell_run.h"

namespace {

struct Point3 {
  double x = 0, y = 0, z = 0;
};

// The "point i: (x, y, z)" lines of scene show --points.
std::vector<Point3> ListedPoints(const std::string& out) {
  std::vector<Point3> points;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    Point3 p;
    int index = 0;
    if (std::sscanf(line.c_str(), " point %d: (%lf, %lf, %lf)", &index, &p.x, &p.y, &p.z) == 4 &&
        index == int(points.size()))
      points.push_back(p);
  }
  return points;
}

class ShellMddDeformTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(Run("scene make wave -o wave.kscn").exitCode, 0);
    ASSERT_EQ(Run("scene make grid --segments 20 -o still.kscn").exitCode, 0);
  }
  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }

  // The object's evaluated points at frame, as scene show lists them.
  std::vector<Point3> At(const std::string& scene, int frame) {
    const ShellRun r = Run("scene show " + scene + " --frame " + std::to_string(frame) + " --points 441");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::vector<Point3> p = ListedPoints(r.out);
    EXPECT_EQ(p.size(), 441u) << r.out;
    return p;
  }
};

TEST_F(ShellMddDeformTest, PlaysAnExportedAnimationBackOnAStillCopy) {
  // Every second frame: the odd ones are blended by the deformer.
  ShellRun r = Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:60:2");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  r = Run("mdd attach still.kscn wave.mdd --object Grid --set scale=1000 -o played.kscn");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Attached an MDD deformer playing wave.mdd to \"Grid\""), std::string::npos) << r.out;
  r = Run("scene show played.kscn --frame 0");
  EXPECT_NE(r.out.find("\"Grid\": 441 points after its deformers"), std::string::npos) << r.out;

  // The wave stands 50 up; the cache holds world positions and the still grid stands
  // at the origin.
  const ShellRun tree = Run("scene show wave.kscn");
  ASSERT_NE(tree.out.find("position (0, 50, 0)"), std::string::npos) << tree.out;
  for (int frame : {0, 2, 10, 34, 60}) {
    const std::vector<Point3> played = At("played.kscn", frame), wave = At("wave.kscn", frame);
    ASSERT_EQ(played.size(), wave.size());
    for (size_t i = 0; i < wave.size(); ++i) {
      EXPECT_NEAR(played[i].x, wave[i].x, 2e-3) << "frame " << frame << " point " << i;
      EXPECT_NEAR(played[i].y, wave[i].y + 50.0, 2e-3) << "frame " << frame << " point " << i;
      EXPECT_NEAR(played[i].z, wave[i].z, 2e-3) << "frame " << frame << " point " << i;
    }
  }
  for (int frame : {1, 33}) {
    const std::vector<Point3> played = At("played.kscn", frame), before = At("wave.kscn", frame - 1),
                              after = At("wave.kscn", frame + 1);
    ASSERT_EQ(played.size(), before.size());
    double largest = 0.0;
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_NEAR(played[i].y, 0.5 * (before[i].y + after[i].y) + 50.0, 2e-3) << "frame " << frame << " point " << i;
      largest = std::fmax(largest, std::fabs(after[i].y - before[i].y));
    }
    EXPECT_GT(largest, 0.1) << "the wave does not move around frame " << frame;
  }
}

TEST_F(ShellMddDeformTest, PlaysFramesWithTheirTimes) {
  ASSERT_EQ(Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:60").exitCode, 0);
  ASSERT_EQ(Run("mdd attach still.kscn wave.mdd --object Grid --set mode=loop end-index=9 -o played.kscn").exitCode, 0);
  const ShellRun r = Run("scene play played.kscn --frames 0:12");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  for (int f = 0; f <= 12; ++f)
    EXPECT_NE(r.out.find("frame " + std::to_string(f) + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Played 13 frames in "), std::string::npos) << r.out;
  // Looping over frames 0 to 9 (a span of 9 frames), frame 10 shows frame 1.
  const std::vector<Point3> looped = At("played.kscn", 10), first = At("played.kscn", 1);
  ASSERT_EQ(looped.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_NEAR(looped[i].y, first[i].y, 2e-3) << i;
}

TEST_F(ShellMddDeformTest, AttachRefusesWhatItCannotUse) {
  ASSERT_EQ(Run("mdd export wave.kscn --object Wave -o wave.mdd --frames 0:10").exitCode, 0);
  struct Case {
    std::string args;
    int exitCode;
    std::string text;
  } cases[] = {
      {"mdd attach still.kscn missing.mdd --object Grid", 1, "no such cache file: 'missing.mdd'"},
      {"mdd attach still.kscn wave.mdd --object Nobody", 1, "has no object \"Nobody\""},
      {"mdd attach still.kscn wave.mdd --object Grid --set mode=sideways", 2, "mode is none, loop or hold"},
      {"mdd attach still.kscn wave.mdd --object Grid --set speed=2", 2, "KEY one of scale, start-frame"},
      {"mdd attach still.kscn wave.mdd --object Grid --set end-index=-4", 2, "end-index takes a whole number from 0"},
      {"scene play still.kscn --frames 3", 2, "--frames takes START:END"},
  };
  for (const Case& c : cases) {
    const ShellRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << c.args << "\n" << r.out;
  }
}

}  // namespace

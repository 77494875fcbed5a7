// The grid bench_objread measures on: its OBJ text, the check that lets a later run
// reuse the file, and the material library beside it.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "obj_grid.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Printf6(double value) {
  char text[400];
  std::snprintf(text, sizeof(text), "%.6f", value);
  return text;
}

class ObjGridTest : public HostTest {};

TEST_F(ObjGridTest, FixedNumbersAreThoseOfPrintf) {
  const double values[] = {0.0,      -0.0,       1e-7,          -1e-7,   4.9999995e-7, 5.0000005e-7,
                           0.1,      -0.1,       1.0 / 3,       -2.5,    123456.789,   1e20,
                           -1e-300,  0.0000015,  2.0000004999,  999999.9999996};
  for (const double value : values) {
    const std::string path = TempDir() + "/number.txt";
    {
      objgrid::Writer out(path);
      out.Fixed(value);
      ASSERT_TRUE(out.Close());
    }
    EXPECT_EQ(ReadFile(path), Printf6(value)) << "value " << value;
  }
}

TEST_F(ObjGridTest, SmallGridHasEveryElementAndQuadsOverItsCells) {
  const long side = 5;
  const std::string path = TempDir() + "/grid.obj";
  ASSERT_TRUE(objgrid::GenerateGrid(path, side));
  const std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front() + "\n", objgrid::Header(side));

  std::vector<std::vector<double>> positions;
  long uvs = 0, normals = 0, faces = 0, mtllibs = 0;
  std::string group, material;
  for (const std::string& line : lines) {
    const std::vector<std::string> w = Split(line);
    ASSERT_FALSE(w.empty()) << "an empty line";
    if (w[0] == "v") {
      ASSERT_EQ(w.size(), 4u) << line;
      positions.push_back({std::atof(w[1].c_str()), std::atof(w[2].c_str()), std::atof(w[3].c_str())});
      for (size_t k = 1; k < 4; ++k) EXPECT_EQ(w[k], Printf6(std::atof(w[k].c_str()))) << line;
    } else if (w[0] == "vt") {
      ASSERT_EQ(w.size(), 3u) << line;
      ++uvs;
    } else if (w[0] == "vn") {
      ASSERT_EQ(w.size(), 4u) << line;
      const double x = std::atof(w[1].c_str()), y = std::atof(w[2].c_str()), z = std::atof(w[3].c_str());
      EXPECT_NEAR(x * x + y * y + z * z, 1.0, 1e-5) << line;
      ++normals;
    } else if (w[0] == "g") {
      group = w.at(1);
    } else if (w[0] == "usemtl") {
      material = w.at(1);
    } else if (w[0] == "mtllib") {
      EXPECT_EQ(w.at(1), "grid.mtl");
      ++mtllibs;
    } else if (w[0] == "f") {
      EXPECT_FALSE(group.empty()) << "a face before any group";
      EXPECT_FALSE(material.empty()) << "a face before any material";
      ASSERT_EQ(w.size(), 5u) << line;
      long corner[4];
      for (int k = 0; k < 4; ++k) {
        long v = 0, t = 0, n = 0;
        ASSERT_EQ(std::sscanf(w[static_cast<size_t>(k) + 1].c_str(), "%ld/%ld/%ld", &v, &t, &n), 3) << line;
        EXPECT_TRUE(v == t && t == n) << line;
        ASSERT_GE(v, 1) << line;
        ASSERT_LE(v, side * side) << line;
        corner[k] = v - 1;
      }
      // a, a + 1, a + side + 1, a + side: one cell, not wrapping round a row's end.
      EXPECT_LT(corner[0] % side, side - 1) << line;
      EXPECT_EQ(corner[1], corner[0] + 1) << line;
      EXPECT_EQ(corner[2], corner[0] + side + 1) << line;
      EXPECT_EQ(corner[3], corner[0] + side) << line;
      ++faces;
    } else {
      EXPECT_EQ(w[0], "#") << line;
    }
  }
  EXPECT_EQ(static_cast<long>(positions.size()), side * side);
  EXPECT_EQ(uvs, side * side);
  EXPECT_EQ(normals, side * side);
  EXPECT_EQ(faces, (side - 1) * (side - 1));
  EXPECT_EQ(mtllibs, 1);
  // Points run along x first, 0.1 apart, centred.
  ASSERT_EQ(static_cast<long>(positions.size()), side * side);
  EXPECT_NEAR(positions[1][0] - positions[0][0], 0.1, 1e-9);
  EXPECT_NEAR(positions[static_cast<size_t>(side)][2] - positions[0][2], 0.1, 1e-9);
  EXPECT_NEAR(positions[0][0], -(side / 2) * 0.1, 1e-9);
}

TEST_F(ObjGridTest, BenchSizedRowsGiveSeveralGroupsAndMaterials) {
  // 101 points a side: the bench's proportions on a hundredth of the rows.
  const std::string path = TempDir() + "/grid.obj";
  ASSERT_TRUE(objgrid::GenerateGrid(path, 101));
  std::set<std::string> groups, materials;
  long groupLines = 0;
  for (const std::string& line : Lines(ReadFile(path))) {
    const std::vector<std::string> w = Split(line);
    if (w.size() == 2 && w[0] == "g") {
      groups.insert(w[1]);
      ++groupLines;
    }
    if (w.size() == 2 && w[0] == "usemtl") materials.insert(w[1]);
  }
  EXPECT_EQ(groups.size(), static_cast<size_t>(objgrid::kGroups));
  EXPECT_EQ(groupLines, objgrid::kGroups) << "each band of rows is one group, named once";
  EXPECT_EQ(materials.size(), static_cast<size_t>(objgrid::kMaterials));

  // The library names every material the grid uses.
  const std::string mtlPath = TempDir() + "/grid.mtl";
  ASSERT_TRUE(objgrid::WriteMaterials(mtlPath));
  std::set<std::string> defined;
  for (const std::string& line : Lines(ReadFile(mtlPath))) {
    const std::vector<std::string> w = Split(line);
    if (w.size() == 2 && w[0] == "newmtl") defined.insert(w[1]);
  }
  EXPECT_EQ(defined, materials);
}

TEST_F(ObjGridTest, OnlyACompleteGridOfTheSameSideIsReused) {
  const std::string path = TempDir() + "/grid.obj";
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "no file yet";
  ASSERT_TRUE(objgrid::GenerateGrid(path, 7));
  const std::string whole = ReadFile(path);
  EXPECT_TRUE(objgrid::GridIsComplete(path, 7));
  EXPECT_FALSE(objgrid::GridIsComplete(path, 8)) << "another side";

  auto rewrite = [&](const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  };
  rewrite(whole.substr(0, whole.size() - 1));
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "cut short";
  rewrite(whole + "\n");
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "a byte more";
  rewrite(whole.substr(0, whole.size() / 2) + whole.substr(whole.size() - objgrid::TrailerLength()));
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "middle missing, trailer kept";
  std::string other = whole;
  other[2] = 'X';
  rewrite(other);
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "another header";
  rewrite(whole.substr(0, 10));
  EXPECT_FALSE(objgrid::GridIsComplete(path, 7)) << "shorter than header and trailer";
  rewrite(whole);
  EXPECT_TRUE(objgrid::GridIsComplete(path, 7)) << "restored";
}

TEST_F(ObjGridTest, UnwritableFolderIsReported) {
  EXPECT_FALSE(objgrid::GenerateGrid(TempDir() + "/missing/folder/grid.obj", 3));
  EXPECT_FALSE(objgrid::WriteMaterials(TempDir() + "/missing/folder/grid.mtl"));
}

}  // namespace

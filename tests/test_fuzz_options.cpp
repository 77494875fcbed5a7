// The input layout of the OBJ fuzz target (option word, OBJ file, material library),
// and the seed corpus written for it: the corpus is the same bytes on every run and
// holds every face form the reader knows.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_options.h"
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

// The documented meaning of bits 0..15 (docs/development.md); saved inputs rely on it.
// Each switch is one bit of geomFlags (g), layoutFlags (l) or materialFlags (m).
struct Expected {
  char word;
  ULONG bit;
};
const Expected kExpected[] = {
    {'g', 0x4000},   // swap Y/Z
    {'g', 0x100},    // negate Z
    {'g', 0x8000},   // negate X
    {'g', 0x40},     // flip U
    {'g', 0x80},     // flip V
    {'g', 0x20},     // reverse order
    {'g', 0x2000},   // whole group names
    {'g', 0x10000},  // reverse normals
    {'l', 0x200},    // line elements
    {'l', 0x400},    // lines as faces
    {'m', 0x20000},  // merge near-identical materials
    {'l', 0x4},      // polygon objects per group
    {'l', 0x2},      // per mesh object
    {'l', 0x8},      // per region
    {'l', 0x10},     // per material
    {'l', 0x2000},   // one spline per line element
};
const ULONG kGeomSwitches = 0x4000 | 0x100 | 0x8000 | 0x40 | 0x80 | 0x20 | 0x2000 | 0x10000;
const ULONG kLayoutSwitches = 0x200 | 0x400 | 0x4 | 0x2 | 0x8 | 0x10 | 0x2000;
const ULONG kMaterialSwitches = 0x20000;

std::vector<uint8_t> Word(uint32_t word) {
  return {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
}

fuzzopts::Decoded Apply(uint32_t word, PluginOpts& opts) {
  const std::vector<uint8_t> bytes = Word(word);
  return fuzzopts::ApplyOptionWord(bytes.data(), bytes.size(), opts);
}

TEST(FuzzOptionWord, EachBitSwitchesItsOwnOption) {
  for (size_t i = 0; i < sizeof(kExpected) / sizeof(kExpected[0]); ++i) {
    PluginOpts opts;
    const fuzzopts::Decoded decoded = Apply(1u << i, opts);
    EXPECT_EQ(decoded.consumed, 4u);
    EXPECT_EQ(opts.geomFlags, kExpected[i].word == 'g' ? kExpected[i].bit : 0) << "bit " << i;
    EXPECT_EQ(opts.layoutFlags, kExpected[i].word == 'l' ? kExpected[i].bit : 0) << "bit " << i;
    EXPECT_EQ(opts.materialFlags, kExpected[i].word == 'm' ? kExpected[i].bit : 0) << "bit " << i;
  }
}

TEST(FuzzOptionWord, OtherOptionBitsAreLeftAsThePresetHasThem) {
  PluginOpts opts;
  opts.geomFlags = 0xFFFFFFFF;
  opts.layoutFlags = 0xFFFFFFFF;
  opts.materialFlags = 0xFFFFFFFF;
  Apply(0, opts);
  EXPECT_EQ(opts.geomFlags, ~kGeomSwitches);
  EXPECT_EQ(opts.layoutFlags, ~kLayoutSwitches);
  EXPECT_EQ(opts.materialFlags, ~kMaterialSwitches);

  Apply(0xFFFF, opts);
  EXPECT_EQ(opts.geomFlags, 0xFFFFFFFFu);
  EXPECT_EQ(opts.layoutFlags, 0xFFFFFFFFu);
  EXPECT_EQ(opts.materialFlags, 0xFFFFFFFFu);

  // Bits 29..31 mean nothing.
  PluginOpts plain;
  const fuzzopts::Decoded decoded = Apply(0xE0000000u, plain);
  EXPECT_EQ(plain.geomFlags, 0u);
  EXPECT_EQ(plain.layoutFlags, 0u);
  EXPECT_EQ(plain.materialFlags, 0u);
  EXPECT_EQ(decoded.blockSize, TEXTFILE_BLOCKSIZE);
}

TEST(FuzzOptionWord, BlockSizeField) {
  const struct {
    uint32_t field;
    LONG blockSize;
  } cases[] = {{0, TEXTFILE_BLOCKSIZE}, {1, 1},   {2, 2}, {650, 650}, {4096, 4096},
               {4097, TEXTFILE_BLOCKSIZE}, {0x1FFF, TEXTFILE_BLOCKSIZE}};
  for (const auto& c : cases) {
    PluginOpts opts;
    EXPECT_EQ(Apply(c.field << 16 | 0x1, opts).blockSize, c.blockSize) << "field " << c.field;
    EXPECT_EQ(opts.geomFlags, 0x4000u) << "the block size does not touch the switches";
  }
  // Little-endian: the low byte comes first.
  const uint8_t bytes[] = {0x01, 0x01, 0x07, 0x00, 'v'};
  PluginOpts opts;
  const fuzzopts::Decoded decoded = fuzzopts::ApplyOptionWord(bytes, sizeof(bytes), opts);
  EXPECT_EQ(decoded.blockSize, 7);
  EXPECT_EQ(decoded.consumed, 4u);
  EXPECT_EQ(opts.geomFlags, 0x4000u);
  EXPECT_EQ(opts.layoutFlags, 0x200u);
}

TEST(FuzzOptionWord, ShortInputIsAllFileWithNoOptions) {
  const uint8_t bytes[] = {0xFF, 0xFF, 0xFF};
  for (size_t size = 0; size <= sizeof(bytes); ++size) {
    PluginOpts opts;
    opts.geomFlags = kGeomSwitches;
    opts.layoutFlags = kLayoutSwitches;
    opts.materialFlags = kMaterialSwitches;
    const fuzzopts::Decoded decoded = fuzzopts::ApplyOptionWord(bytes, size, opts);
    EXPECT_EQ(decoded.consumed, 0u) << size;
    EXPECT_EQ(decoded.blockSize, TEXTFILE_BLOCKSIZE) << size;
    EXPECT_EQ(opts.geomFlags, 0u) << size;
    EXPECT_EQ(opts.layoutFlags, 0u) << size;
    EXPECT_EQ(opts.materialFlags, 0u) << size;
  }
}

std::string ObjPart(const fuzzopts::Files& files) {
  return std::string(reinterpret_cast<const char*>(files.obj), files.objSize);
}
std::string MtlPart(const fuzzopts::Files& files) {
  return files.mtl ? std::string(reinterpret_cast<const char*>(files.mtl), files.mtlSize) : "(none)";
}
fuzzopts::Files Split(const std::string& bytes) {
  return fuzzopts::SplitFiles(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzInputFiles, TheFirstSeparatorLineStartsTheLibrary) {
  const std::string sep = "\n--- fuzz.mtl ---\n";
  const struct {
    std::string input, obj, mtl;
  } cases[] = {
      {"v 1 2 3\nf 1 1 1\n", "v 1 2 3\nf 1 1 1\n", "(none)"},
      {"", "", "(none)"},
      {"v 1 2 3" + sep + "newmtl a\n", "v 1 2 3", "newmtl a\n"},
      {sep, "", ""},
      {"v" + sep + "a" + sep + "b", "v", "a" + sep + "b"},
      {"v" + sep.substr(0, sep.size() - 1), "v" + sep.substr(0, sep.size() - 1), "(none)"},
      {"v\n--- fuzz.mtl ---", "v\n--- fuzz.mtl ---", "(none)"},
      {std::string("a\0b", 3) + sep + "c", std::string("a\0b", 3), "c"},
  };
  for (const auto& c : cases) {
    const fuzzopts::Files files = Split(c.input);
    EXPECT_EQ(ObjPart(files), c.obj) << c.input;
    EXPECT_EQ(MtlPart(files), c.mtl) << c.input;
  }
}

// --- the seed corpus -------------------------------------------------------------------

class FuzzCorpusTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
#ifdef _WIN32
    GTEST_SKIP() << "the corpus script is a bash script of the Linux fuzz build";
#endif
  }
  // Runs the corpus script into folder; false when it fails.
  static bool MakeCorpus(const std::string& folder) {
    const std::string command = "bash '" + SourceDir() + "/fuzz/make_corpus.sh' '" + folder + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }
  // Every file below folder, by its path relative to folder.
  static std::set<std::string> Files(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
    return files;
  }
};

// The form of one corner token: every number becomes "n" ("12/-3/" gives "n/n/").
std::string TokenForm(const std::string& token) {
  std::string form;
  for (size_t i = 0; i < token.size();) {
    if (token[i] == '-' || std::isdigit(static_cast<unsigned char>(token[i]))) {
      size_t j = i + 1;
      while (j < token.size() && std::isdigit(static_cast<unsigned char>(token[j]))) ++j;
      form += 'n';
      i = j;
    } else {
      form += token[i++];
    }
  }
  return form;
}

TEST_F(FuzzCorpusTest, SameBytesOnEveryRun) {
  const std::string first = TempDir() + "/first", second = TempDir() + "/second";
  ASSERT_TRUE(MakeCorpus(first));
  ASSERT_TRUE(MakeCorpus(second));
  const std::set<std::string> files = Files(first);
  EXPECT_EQ(files, Files(second));
  for (const std::string& file : files) EXPECT_EQ(ReadFile(first + "/" + file), ReadFile(second + "/" + file)) << file;

  // A second run into the same folder leaves the same files, none left over.
  ASSERT_TRUE(MakeCorpus(first));
  EXPECT_EQ(Files(first), files);
}

TEST_F(FuzzCorpusTest, ObjSeedsCoverFaceFormsAndStatements) {
  const std::string folder = TempDir() + "/corpus";
  ASSERT_TRUE(MakeCorpus(folder));
  std::set<std::string> faceForms, statements;
  bool negative = false, crlf = false, continuation = false, longLine = false, largeNgon = false, smallBlock = false,
       mergedLibrary = false;
  size_t seeds = 0;
  for (const auto& entry : fs::directory_iterator(folder + "/obj")) {
    ++seeds;
    const std::string bytes = ReadFile(entry.path().string());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    PluginOpts opts;
    const fuzzopts::Decoded decoded = fuzzopts::ApplyOptionWord(data, bytes.size(), opts);
    if (decoded.blockSize < 100) smallBlock = true;
    const fuzzopts::Files files = fuzzopts::SplitFiles(data + decoded.consumed, bytes.size() - decoded.consumed);
    if (files.mtl && files.mtlSize > 0 && (opts.materialFlags & MAT_CONSOLIDATE)) mergedLibrary = true;
    const std::string text = bytes.substr(decoded.consumed);
    if (text.find("\r\n") != std::string::npos) crlf = true;
    if (text.find("\\\n") != std::string::npos) continuation = true;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() > 2047) longLine = true;
      std::istringstream words(line);
      std::string keyword;
      if (!(words >> keyword)) continue;
      statements.insert(keyword == "#" && line.rfind("# r ", 0) == 0 ? "# r" : keyword);
      if (keyword != "f") continue;
      std::set<std::string> forms;
      size_t corners = 0;
      for (std::string token; words >> token; ++corners) {
        forms.insert(TokenForm(token));
        if (token[0] == '-') negative = true;
      }
      if (forms.size() == 1 && corners >= 3) faceForms.insert(*forms.begin());
      if (corners >= 40) largeNgon = true;
    }
  }
  EXPECT_GE(seeds, 30u);
  const std::set<std::string> allForms = {"n", "n/n", "n/n/n", "n//n", "n/n/", "n//", "n/"};
  EXPECT_EQ(faceForms, allForms);
  for (const char* statement : {"v", "vt", "vn", "f", "l", "g", "o", "s", "usemtl", "mtllib", "# r", "#"})
    EXPECT_EQ(statements.count(statement), 1u) << statement;
  EXPECT_TRUE(negative);
  EXPECT_TRUE(crlf);
  EXPECT_TRUE(continuation);
  EXPECT_TRUE(longLine);
  EXPECT_TRUE(largeNgon);
  EXPECT_TRUE(smallBlock);
  EXPECT_TRUE(mergedLibrary);

  std::set<std::string> mtlStatements;
  for (const auto& entry : fs::directory_iterator(folder + "/mtl")) {
    std::istringstream lines(ReadFile(entry.path().string()));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string keyword;
      if (words >> keyword) mtlStatements.insert(keyword);
    }
  }
  for (const char* statement : {"newmtl", "Ka", "Kd", "Ks", "Ns", "Ni", "d", "Tf", "map_Kd", "map_Ka", "map_Ks",
                                "bump", "disp", "illum"})
    EXPECT_EQ(mtlStatements.count(statement), 1u) << statement;
}

}  // namespace

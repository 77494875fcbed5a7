// The export model's pieces on their own: number text against printf, names as the
// writers put them, the UV index hash, and what the mesh gatherer makes of selections.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <limits>
#include <string>
#include <vector>

#include "fileio.h"
#include "host_fixture.h"
#include "iomesh.h"
#include "main.h"
#include "numtext.h"
#include "scene_helpers.h"
#include "uvndxhash.h"

namespace {

// --- number text -----------------------------------------------------------------------------

std::string Printf(const char* format, double value) {
  char text[400];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

std::string General(double v) {
  char text[NUMTEXT_MAX];
  return std::string(text, AppendGeneral(text, v));
}
std::string Fixed(double v, LONG decimals) {
  char text[NUMTEXT_MAX];
  return std::string(text, AppendFixed(text, v, decimals));
}

TEST(NumberText, EdgeValuesMatchPrintfByteForByte) {
  const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, 0.1, 12345.67, 123456.5, 999999.0, 999999.5,
                           999998.5, 1e6, 1e-4, 9.99995e-5, 0.000123455, 0.999995, 9.999995, 99999.95,
                           1e-300, -1e300, 5e-324, 1.7976931348623157e308, 1e9, 0.25, 0.125, -0.00000049,
                           3.4028234663852886e38, 1e15, 4503599627370495.5, 0.1 + 0.2, std::nan(""),
                           INFINITY, -INFINITY};
  for (const double v : values) {
    EXPECT_EQ(General(v), Printf("%g", v)) << Printf("%.17g", v);
    EXPECT_EQ(Fixed(v, 5), Printf("%.05f", v)) << Printf("%.17g", v);
    EXPECT_EQ(Fixed(v, 6), Printf("%f", v)) << Printf("%.17g", v);
  }
}

TEST(NumberText, RandomValuesAndNearHalfwayValuesMatchPrintf) {
  std::mt19937_64 random(20261209);
  long mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    const double mantissa = std::ldexp(double(random() >> 11), -53);
    const double v = (random() & 1 ? -1 : 1) * mantissa * std::pow(10.0, int(random() % 30) - 15);
    // Values half-way between two six-digit or five-decimal texts, and their neighbours.
    const double tie = (double(random() % 1000000) + 0.5) * std::pow(10.0, int(random() % 12) - 10);
    for (const double x : {v, tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)}) {
      mismatches += General(x) != Printf("%g", x);
      mismatches += Fixed(x, 5) != Printf("%.05f", x);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(NumberText, ShortestTextReadsBackExactlyAndIntegersAreDecimal) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    double v = 0;
    const LULONG bits = random();
    std::memcpy(&v, &bits, sizeof(v));
    if (!std::isfinite(v)) continue;
    char text[NUMTEXT_MAX + 1];
    *AppendShortest(text, v) = 0;
    ASSERT_EQ(std::strtod(text, nullptr), v) << text;
  }
  // Single-precision values: the float's shortest text, which reads back to that float.
  for (const float f : {0.1f, 0.25009f, 1e-30f, 3.4028235e38f, -0.0f}) {
    char text[NUMTEXT_MAX + 1];
    *AppendShortestSingle(text, f) = 0;
    EXPECT_EQ(std::strtof(text, nullptr), f) << text;
    EXPECT_LE(std::strlen(text), 14u) << text;
  }
  char widened[NUMTEXT_MAX + 1];
  *AppendShortestSingle(widened, 0.1) = 0;  // no float: the double's text
  EXPECT_STREQ(widened, "0.1");
  *AppendShortestSingle(widened, double(0.1f)) = 0;
  EXPECT_STREQ(widened, "0.1");
  for (const LULONG n : {LULONG(0), LULONG(9), LULONG(10), LULONG(99), LULONG(100), LULONG(4294967295u),
                         LULONG(18446744073709551615ull)}) {
    char text[32];
    EXPECT_EQ(std::string(text, AppendUnsigned(text, n)), std::to_string(n));
  }
}

// --- names --------------------------------------------------------------------------------------

TEST(ExportNames, NamesComeOutAsOneWordThatNoReaderSplits) {
  struct Case {
    const char* name;
    const char* written;
  } cases[] = {
      {"plain", "plain"},
      {"  two words\t", "two_words"},
      {"a#b", "a_b"},                 // would start a comment
      {"line\\", "line_"},            // would join the next line
      {"cr\rlf\nff\f", "cr_lf_ff_"},  // would end the line
      {"über", "über"},               // other letters stay as they are
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExportName(String(c.name)).Std(), c.written) << c.name;
}

TEST(ExportNames, LongNamesAreCutOnACharacterBoundary) {
  // 254 bytes, then a two-byte letter across the 255-byte limit.
  const std::string crossing = std::string(254, 'a') + "ü" + "tail";
  EXPECT_EQ(ExportName(String(crossing.c_str())).Std(), std::string(254, 'a'));
  const std::string fits = std::string(253, 'a') + "ü" + "tail";
  EXPECT_EQ(ExportName(String(fits.c_str())).Std(), std::string(253, 'a') + "ü");
  EXPECT_EQ(ExportName(String(std::string(300, 'x').c_str())).Std(), std::string(255, 'x'));
}

TEST(ExportNames, FileNamesStayInsideTheFolderOnEverySystem) {
  struct Case {
    const char* name;
    const char* file;
  } cases[] = {
      {"Cube", "Cube"},
      {"Small cube", "Small cube"},
      {"v1.2", "v1.2"},
      {"../../x", ".._.._x"},
      {"a/b\\c", "a_b_c"},
      {"..", "_"},
      {".", "_"},
      {"", "_"},
      {"name. . ", "name"},
      {"C:\\Windows", "C__Windows"},
      {"what?<*>|\"", "what______"},
      {"tab\there", "tab_here"},
      {"CON", "_CON"},
      {"con.obj", "_con.obj"},
      {"Lpt9", "_Lpt9"},
      {"COM0", "COM0"},
      {"CONSOLE", "CONSOLE"},
      {"Würfel", "Würfel"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeFileName(String(c.name)).Std(), c.file) << c.name;
  // Long names are cut on a character boundary.
  const std::string crossing = std::string(199, 'a') + "ü";
  EXPECT_EQ(SafeFileName(String(crossing.c_str())).Std(), std::string(199, 'a'));
}

// --- the UV index hash ---------------------------------------------------------------------------

TEST(UVIndexHash, CoordinatesShareAnEntryWhenTheyAgreeToFourDecimals) {
  struct Case {
    double u1, v1, u2, v2;
    bool shared;
  } cases[] = {
      {0.25, 0.5, 0.250004, 0.50009, true},
      {0.12345, 0, 0.12355, 0, false},
      {-0.00009, 0, 0.00009, 0, true},  // truncation toward zero
      {0.5, 0.1, 0.5, 0.2, false},
      {1e12, 0, 1e13, 0, true},  // both beyond the quantised range
  };
  for (const Case& c : cases) {
    uvIndexHash* hash = uvIndexHash::Create(10000);
    ASSERT_NE(hash, nullptr);
    EXPECT_EQ(hash->FindOrAdd(c.u1, c.v1, 0, 0), 0);
    EXPECT_EQ(hash->FindOrAdd(c.u2, c.v2, 0.7, 1), c.shared ? 0 : 1) << c.u1 << " " << c.u2;
    uvIndexHash::Destroy(hash);
  }
  uvIndexHash* exact = uvIndexHash::Create(0);
  EXPECT_EQ(exact->FindOrAdd(0.25, 0.5, 0, 0), 0);
  // Texture coordinates are single precision: the next float apart is another entry.
  EXPECT_EQ(exact->FindOrAdd(std::nextafter(0.25f, 1.0f), 0.5, 0, 1), 1);
  EXPECT_EQ(exact->FindOrAdd(0.25, 0.5, 0, 2), 0);
  uvIndexHash::Destroy(exact);
}

TEST(UVIndexHash, ManyEntriesStayFindableAcrossGrowth) {
  uvIndexHash* hash = uvIndexHash::Create(10000);
  for (LONG i = 0; i < 50000; ++i) ASSERT_EQ(hash->FindOrAdd(i * 0.001, -i * 0.002, 0, i), i);
  for (LONG i = 0; i < 50000; i += 7) ASSERT_EQ(hash->FindOrAdd(i * 0.001, -i * 0.002, 0, -1), i);
  EXPECT_EQ(hash->Count(), 50000);
  uvIndexHash::Destroy(hash);
}

// --- the gatherer ------------------------------------------------------------------------------

class MeshGatherTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    doc.reset(BaseDocument::Alloc());
    op = ToPoly(InsertLast(doc.get(), Grid(3, 1), "body"));
  }
  void TearDown() override {
    doc.reset();
    PluginTest::TearDown();
  }
  void Select(const char* name, const std::vector<LONG>& polygons) {
    SelectionTag* tag = static_cast<SelectionTag*>(op->MakeTag(Tpolygonselection, LastTagOf(op)));
    tag->SetName(String(name));
    for (LONG i : polygons) tag->GetBaseSelect()->Select(i);
  }
  void Groups(const std::vector<const char*>& names) {
    BaseTag* tag = op->MakeTag(IOTAG_GROUP_ID, LastTagOf(op));
    tag->GetDataInstance()->SetLong(IOTAG_NAME_COUNT, LONG(names.size()));
    for (size_t i = 0; i < names.size(); ++i)
      tag->GetDataInstance()->SetString(IOTAG_FIRST_NAME + LONG(i), String(names[i]));
  }
  std::vector<std::string> GroupOfEachFace(const ioMesh* mesh) const {
    std::vector<std::string> out;
    for (ULONG i = 0; i < mesh->polygonCount; ++i) out.push_back(mesh->groups->FindByIndex(mesh->faces[i].group)->name.Std());
    return out;
  }

  DocPtr doc;
  PolygonObject* op = nullptr;
};

TEST_F(MeshGatherTest, WithoutSelectionsEveryFaceTakesTheDefaultsAndNoContentIsFlagged) {
  ioMesh* mesh = ioMesh::Alloc(op, String(), 0, FALSE, nullptr, nullptr);
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->contentFlags, 0u);
  EXPECT_EQ(mesh->name.Std(), "body");
  EXPECT_EQ(GroupOfEachFace(mesh), (std::vector<std::string>{"body_Grp", "body_Grp", "body_Grp"}));
  EXPECT_EQ(mesh->materials->First()->name.Std(), "default_Mat");
  EXPECT_EQ(mesh->materials->First()->faceCount, 3u);
  ioMesh::Free(mesh);
}

TEST_F(MeshGatherTest, APolygonInTwoGroupsStaysInTheFirstUnlessCombined) {
  Groups({"A", "B"});
  Select("A", {0, 1});
  Select("B", {1, 2, 9});  // 9 is past the polygons
  for (const Bool combine : {FALSE, TRUE}) {
    ioMesh* mesh = ioMesh::Alloc(op, String(), 0, combine, nullptr, nullptr);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->contentFlags, ULONG(IOMESH_HAS_GROUPS));
    EXPECT_EQ(GroupOfEachFace(mesh),
              (std::vector<std::string>{"A", combine ? "A B" : "A", "B"}));
    const ioGroup* a = mesh->groups->FindByName(String("A"));
    EXPECT_EQ(a->faceCount, combine ? 1u : 2u);
    EXPECT_EQ(a->faceIndexCount, a->faceCount);
    ioMesh::Free(mesh);
  }
}

TEST_F(MeshGatherTest, ASelectionNamingBothAMaterialAndAGroupGivesBoth) {
  Groups({"red"});
  Select("red", {1});
  Material* mat = Material::Alloc();
  mat->SetName(String("Red"));
  doc->InsertMaterial(mat);
  TextureTag* texture = static_cast<TextureTag*>(op->MakeTag(Ttexture, LastTagOf(op)));
  texture->SetMaterial(mat);
  texture->GetDataInstance()->SetString(TEXTURETAG_RESTRICTION, String("red"));
  ioMesh* mesh = ioMesh::Alloc(op, String(), 0, FALSE, nullptr, nullptr);
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->contentFlags, ULONG(IOMESH_HAS_GROUPS | IOMESH_HAS_MATERIALS));
  EXPECT_EQ(mesh->materials->FindByIndex(mesh->faces[1].material)->name.Std(), "Red");
  EXPECT_EQ(mesh->groups->FindByIndex(mesh->faces[1].group)->name.Std(), "red");
  EXPECT_EQ(mesh->faces[0].material, 0);
  ioMesh::Free(mesh);
}

TEST_F(MeshGatherTest, ATrianglesFourthCornerRepeatsItsThirdInEveryTable) {
  op->GetPolygonW()[2].d = op->GetPolygonW()[2].c;
  ioMesh* mesh = ioMesh::Alloc(op, String(), 0, FALSE, nullptr, nullptr);
  ASSERT_NE(mesh, nullptr);
  for (const Bool compress : {FALSE, TRUE}) {
    ASSERT_TRUE(mesh->BakeUVs(compress));
    ASSERT_TRUE(mesh->BuildNormals(compress));
    const ioFace& triangle = mesh->faces[2];
    EXPECT_EQ(triangle.cornerCount, 3);
    EXPECT_EQ(triangle.vt[3], triangle.vt[2]);
    EXPECT_EQ(triangle.vn[3], triangle.vn[2]);
    // Uncompressed, three entries for the triangle and four for each quad.
    if (!compress) {
      EXPECT_EQ(mesh->uvCount, 11u);
    }
  }
  ioMesh::Free(mesh);
}

TEST_F(MeshGatherTest, PointsThatAreNoNumbersStillGiveNormals) {
  // A scene file may hold them; the normal index must not turn a NaN into an integer.
  const Real nan = std::numeric_limits<Real>::quiet_NaN();
  op->GetPointW()[0] = Vector(nan, 0, nan);
  ioMesh* mesh = ioMesh::Alloc(op, String(), 0, FALSE, nullptr, nullptr);
  ASSERT_NE(mesh, nullptr);
  for (const Bool compress : {FALSE, TRUE}) {
    ASSERT_TRUE(mesh->BuildNormals(compress));
    EXPECT_GT(mesh->normalCount, 0u);
    for (ULONG i = 0; i < mesh->polygonCount; ++i)
      for (LONG k = 0; k < 4; ++k) EXPECT_LT(ULONG(mesh->faces[i].vn[k]), mesh->normalCount);
  }
  ioMesh::Free(mesh);
}

TEST_F(MeshGatherTest, AnObjectWithoutPointsIsNotGathered) {
  PolygonObject* empty = ToPoly(InsertLast(doc.get(), PolygonObject::Alloc(0, 0), "empty"));
  EXPECT_EQ(ioMesh::Alloc(empty, String(), 0, FALSE, nullptr, nullptr), nullptr);
  EXPECT_TRUE(ConsoleHas("ioMesh::Alloc() - GetMeshInfo() failure"));
}

}  // namespace

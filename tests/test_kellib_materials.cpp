// The material list: the MTL grammar line by line, reading across block boundaries, the
// names of a lone MTL file, the merge and its aliases, face indices, reading host
// materials, and memory failures of every step that allocates.
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "iomtl.h"
#include "scene_helpers.h"

namespace {

struct FreeMaterialList {
  void operator()(ioMaterialList* list) const { ioMaterialList::Free(list); }
};
using ListPtr = std::unique_ptr<ioMaterialList, FreeMaterialList>;

using Names = std::vector<std::string>;

// Every value an MTL file or a host material can give, compared field by field.
void ExpectSameValues(const ioMaterial& got, const ioMaterial& want) {
  auto sameVector = [](const Vector& a, const Vector& b, const char* what) {
    EXPECT_DOUBLE_EQ(a.x, b.x) << what;
    EXPECT_DOUBLE_EQ(a.y, b.y) << what;
    EXPECT_DOUBLE_EQ(a.z, b.z) << what;
  };
  sameVector(got.defaultColor, want.defaultColor, "defaultColor");
  sameVector(got.diffuse, want.diffuse, "diffuse");
  sameVector(got.ambient, want.ambient, "ambient");
  sameVector(got.specular, want.specular, "specular");
  sameVector(got.filter, want.filter, "filter");
  EXPECT_DOUBLE_EQ(got.transparency, want.transparency);
  EXPECT_DOUBLE_EQ(got.shininess, want.shininess);
  EXPECT_DOUBLE_EQ(got.shininessScale, want.shininessScale);
  EXPECT_DOUBLE_EQ(got.refraction, want.refraction);
  EXPECT_EQ(got.isStandard, want.isStandard);
  EXPECT_EQ(got.hasAmbient, want.hasAmbient);
  EXPECT_EQ(got.hasDiffuse, want.hasDiffuse);
  EXPECT_EQ(got.hasSpecularHighlight, want.hasSpecularHighlight);
  EXPECT_EQ(got.hasSpecularColor, want.hasSpecularColor);
  EXPECT_EQ(got.hasTransparency, want.hasTransparency);
  EXPECT_STREQ(got.mapDiffuse, want.mapDiffuse);
  EXPECT_STREQ(got.mapBump, want.mapBump);
  EXPECT_STREQ(got.mapDisplacement, want.mapDisplacement);
  EXPECT_STREQ(got.mapSpecular, want.mapSpecular);
  EXPECT_STREQ(got.mapAmbient, want.mapAmbient);
  EXPECT_STREQ(got.mapAlpha, want.mapAlpha);
}

class MaterialsTest : public HostTest {
 protected:
  // A list with an entry for each name, in order.
  static ListPtr ListOf(const Names& names) {
    ListPtr list(ioMaterialList::Alloc());
    EXPECT_NE(list, nullptr);
    if (!list) return list;
    for (const auto& name : names) EXPECT_NE(list->FindOrAdd(nullptr, String(name)), nullptr);
    return list;
  }

  // A list with these names after reading mtl through a reader of that block size.
  ListPtr Load(const std::string& mtl, const Names& names, LONG blockSize = TEXTFILE_BLOCKSIZE) {
    ListPtr list = ListOf(names);
    const std::string path = WriteFile("lib.mtl", mtl);
    TextReader reader(blockSize);
    EXPECT_EQ(reader.Open(Filename(path.c_str())), 0);
    if (list) {
      EXPECT_TRUE(list->LoadMTLs(reader));
    }
    reader.Close();
    return list;
  }
};

// --- the grammar ------------------------------------------------------------------------

struct LineCase {
  const char* lines;                          // the statements after "newmtl m"
  std::function<void(ioMaterial&)> expect;    // applied to a fresh record
};

TEST_F(MaterialsTest, EachStatementSetsItsFields) {
  const LineCase cases[] = {
      {"Kd 1 0.5 0.25", [](ioMaterial& m) { m.diffuse = Vector(1, 0.5, 0.25), m.hasDiffuse = 1; }},
      {"Ka 0.1 0.2 0.3", [](ioMaterial& m) { m.ambient = Vector(0.1f, 0.2f, 0.3f), m.hasAmbient = 1; }},
      {"Ks 0.7 0.8 0.9",
       [](ioMaterial& m) { m.specular = Vector(0.7f, 0.8f, 0.9f), m.hasSpecularColor = m.hasSpecularHighlight = 1; }},
      {"Tf 0.5 0.25 1", [](ioMaterial& m) { m.filter = Vector(0.5, 0.25, 1), m.hasTransparency = 1; }},
      // Fewer numbers: the missing components read as 0, the flag is set all the same.
      {"Ka 0.5 0.25", [](ioMaterial& m) { m.ambient = Vector(0.5, 0.25, 0), m.hasAmbient = 1; }},
      {"Kd 0.5", [](ioMaterial& m) { m.diffuse = Vector(0.5, 0, 0), m.hasDiffuse = 1; }},
      {"Ks", [](ioMaterial& m) { m.specular = Vector(0, 0, 0), m.hasSpecularColor = m.hasSpecularHighlight = 1; }},
      {"Tf 1 nan 1", [](ioMaterial& m) { m.filter = Vector(1, 0, 1), m.hasTransparency = 1; }},
      {"Ns 500", [](ioMaterial& m) { m.shininess = 128, m.hasSpecularHighlight = 1; }},
      {"Ns 50", [](ioMaterial& m) { m.shininess = 64, m.hasSpecularHighlight = 1; }},
      {"Ns 0", [](ioMaterial& m) { m.shininess = 0, m.hasSpecularHighlight = 1; }},
      {"Ni 9", [](ioMaterial& m) { m.refraction = 4; }},
      {"Ni 0.1", [](ioMaterial& m) { m.refraction = 0.25; }},
      {"Ni 1.5", [](ioMaterial& m) { m.refraction = 1.5; }},
      {"Ni -inf", [](ioMaterial& m) { m.refraction = 0.25; }},
      {"d 0.25", [](ioMaterial& m) { m.transparency = 0.75, m.hasTransparency = 1; }},
      {"d 1", [](ioMaterial& m) { m.hasTransparency = 1; }},
      {"map_Kd C:\\tex\\wood.jpg", [](ioMaterial& m) { std::strcpy(m.mapDiffuse, "wood.jpg"); }},
      {"map_Kd textures/wood.jpg  ", [](ioMaterial& m) { std::strcpy(m.mapDiffuse, "wood.jpg"); }},
      // Options before a file name without a folder stay part of the name.
      {"map_Kd -s 1 1 1 wood.jpg", [](ioMaterial& m) { std::strcpy(m.mapDiffuse, "-s 1 1 1 wood.jpg"); }},
      {"map_Ka /a/amb.png", [](ioMaterial& m) { std::strcpy(m.mapAmbient, "amb.png"); }},
      {"map_Ks spec.png", [](ioMaterial& m) { std::strcpy(m.mapSpecular, "spec.png"); }},
      {"map_d alpha.png", [](ioMaterial& m) { std::strcpy(m.mapAlpha, "alpha.png"); }},
      {"bump /maps/b.png", [](ioMaterial& m) { std::strcpy(m.mapBump, "b.png"); }},
      {"map_Bump b1.png", [](ioMaterial& m) { std::strcpy(m.mapBump, "b1.png"); }},
      {"map_bump\tb2.png", [](ioMaterial& m) { std::strcpy(m.mapBump, "b2.png"); }},
      // disp takes its second token only.
      {"disp maps/d.png -mm 0 1", [](ioMaterial& m) { std::strcpy(m.mapDisplacement, "d.png"); }},
      // A later map statement replaces an earlier one.
      {"map_Kd a.png\nmap_Kd b.png", [](ioMaterial& m) { std::strcpy(m.mapDiffuse, "b.png"); }},
      // Lines of other kinds, misspelt keywords and statements without their value.
      {"illum 2\nKe 1 1 1\n# Kd 1 0 0\nNx 5\nTr 0.5\nvp 1", [](ioMaterial&) {}},
      {"map_KD x.png\nmap_Kdx x.png\nbumpy x.png\ndisplace x.png\ndx 0.5", [](ioMaterial&) {}},
      {"Ns\nNs x\nNi\nNi nan\nNs nan\nd\nd nan\ndisp\nmap_Kd\nmap_Kd dir/\nbump", [](ioMaterial&) {}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.lines);
    ListPtr list = Load(std::string("newmtl m\n") + c.lines + "\n", {"m"});
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Count(), 1);
    ListPtr fresh = ListOf({"m"});
    ASSERT_NE(fresh, nullptr);
    c.expect(*fresh->First());
    ExpectSameValues(*list->First(), *fresh->First());
  }
}

TEST_F(MaterialsTest, LongMapNamesAreCutTo255Characters) {
  const std::string longName(400, 'x');
  ListPtr list = Load("newmtl m\nmap_Kd dir/" + longName + ".png\n", {"m"});
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list->First()->mapDiffuse), longName.substr(0, 255));
}

TEST_F(MaterialsTest, OnlyMaterialsOfTheListAreRead) {
  // red is not in the list: its statements go nowhere, and no entry is made for it.
  ListPtr list = Load("Kd 0 1 0\nNs 10\nnewmtl red\nKd 1 0 0\nmap_Kd red.png\nnewmtl blue\nKd 0 0 1\n", {"blue"});
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(list->FindByName(String("red")), nullptr);
  ListPtr fresh = ListOf({"blue"});
  ASSERT_NE(fresh, nullptr);
  fresh->First()->diffuse = Vector(0, 0, 1);
  fresh->First()->hasDiffuse = 1;
  ExpectSameValues(*list->First(), *fresh->First());

  // An MTL about other materials only changes nothing at all.
  ListPtr untouched = Load("newmtl red\nKd 1 0 0\n", {"blue"});
  ASSERT_NE(untouched, nullptr);
  ListPtr initial = ListOf({"blue"});
  ASSERT_NE(initial, nullptr);
  ExpectSameValues(*untouched->First(), *initial->First());
}

TEST_F(MaterialsTest, NewmtlNamesAreTrimmedAndTakeUnderscores) {
  ListPtr list = Load("newmtl   my mat \t\nKd 1 0 0\nnewmtl\tother\tone\nKd 0 1 0\n", {"my_mat", "other_one"});
  ASSERT_NE(list, nullptr);
  const ioMaterial* myMat = list->FindByName(String("my_mat"));
  const ioMaterial* otherOne = list->FindByName(String("other_one"));
  ASSERT_TRUE(myMat && otherOne);
  EXPECT_EQ(myMat->diffuse, Vector(1, 0, 0));
  EXPECT_EQ(otherOne->diffuse, Vector(0, 1, 0));
}

TEST_F(MaterialsTest, NewmtlWithoutNameEndsTheMaterialBeforeIt) {
  ListPtr list = Load("newmtl a\nKd 1 0 0\nnewmtl\nKd 0 1 0\nNs 50\n", {"a"});
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->First()->diffuse, Vector(1, 0, 0));
  EXPECT_EQ(list->First()->hasSpecularHighlight, 0);
}

TEST_F(MaterialsTest, LoadMTLsReportsItsTime) {
  ListPtr list = Load("newmtl a\n", {"a"});
  EXPECT_TRUE(ConsoleHas("LoadMTLs() elapsed = "));
}

TEST_F(MaterialsTest, EveryBlockSizeReadsTheSameMaterials) {
  // Joins, CR LF pairs, comments and long lines fall across block ends at small sizes.
  const std::string mtl =
      "# exported\r\nnewmtl skin\r\nKa 0.1 0.1 0.1\r\nKd 0.8 0.6 \\\r\n 0.5\r\nKs 0.2 0.2 0.2\r\nNs 20\r\n"
      "Ni 1.45\r\nd 0.9\r\nmap_Kd C:\\textures\\skin diffuse.png\r\n\r\nnewmtl   eye \r\nTf 0.1 0.2 0.3\r\n"
      "bump -bm 0.5 eye_bump.tga\rdisp eye/disp.tga\rmap_d eye_a.png\n# Kd 1 1 1 \\\nKd 0 0 0.25\n";
  const Names names = {"skin", "eye"};
  ListPtr reference = Load(mtl, names);
  ASSERT_NE(reference, nullptr);
  ASSERT_EQ(reference->Count(), 2);
  // The file did reach the records.
  EXPECT_STREQ(reference->First()->mapDiffuse, "skin diffuse.png");
  EXPECT_FLOAT_EQ(static_cast<float>(reference->First()->diffuse.z), 0.5f);
  EXPECT_STREQ(reference->First()->Next()->mapBump, "-bm 0.5 eye_bump.tga");
  EXPECT_EQ(reference->First()->Next()->diffuse, Vector(0, 0, 0.25));
  for (LONG block = 1; block <= 7; ++block) {
    SCOPED_TRACE("block size " + std::to_string(block));
    ListPtr list = Load(mtl, names, block);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Count(), 2);
    ExpectSameValues(*list->First(), *reference->First());
    ExpectSameValues(*list->First()->Next(), *reference->First()->Next());
  }
}

// --- names of a lone MTL file ------------------------------------------------------------

TEST_F(MaterialsTest, AddMTLNamesMakesAnEntryPerNewmtlName) {
  const std::string path =
      WriteFile("lone.mtl", "newmtl a\nKd 1 0 0\nnewmtl b c\nnewmtl a\nnewmtl\nnotnewmtl x\nKd 0 1 0\nnewmtl d\n");
  ListPtr list = ListOf({});
  ASSERT_NE(list, nullptr);
  TextReader reader;
  ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
  EXPECT_EQ(list->AddMTLNames(reader), 3);
  Names names;
  LONG index = 0;
  for (ioMaterial* m = list->First(); m; m = m->Next(), ++index) {
    names.push_back(m->name.Std());
    EXPECT_EQ(m->index, index);
  }
  EXPECT_EQ(names, (Names{"a", "b_c", "d"}));

  reader.Rewind();
  EXPECT_TRUE(list->LoadMTLs(reader));
  const ioMaterial* a = list->FindByName(String("a"));
  const ioMaterial* bc = list->FindByName(String("b_c"));
  ASSERT_TRUE(a && bc);
  EXPECT_EQ(a->diffuse, Vector(1, 0, 0));
  EXPECT_EQ(bc->hasDiffuse, 0);
}

TEST_F(MaterialsTest, AddMTLNamesReportsMissingMemory) {
  const std::string path = WriteFile("lone.mtl", "newmtl a\nnewmtl b\nnewmtl c\n");
  ListPtr list = ListOf({});
  ASSERT_NE(list, nullptr);
  EveryAllocation([&]() {
    list->Clear();
    TextReader reader;
    if (reader.Open(Filename(path.c_str())) != 0) return false;
    const LONG added = list->AddMTLNames(reader);
    if (added < 0) {
      EXPECT_TRUE(ConsoleHas("Kelvane: Memory Allocation Error - ioMaterialList::AddMTLNames()"));
      // What was added before the failure is whole and findable.
      LONG count = 0;
      for (ioMaterial* m = list->First(); m; m = m->Next(), ++count) EXPECT_EQ(list->FindByName(m->name), m);
      EXPECT_EQ(count, list->Count());
      EXPECT_LT(count, 3);
      return false;
    }
    EXPECT_EQ(added, 3);
    return true;
  });
}

// --- the list ------------------------------------------------------------------------------

TEST_F(MaterialsTest, FindOrAddNumbersEntriesAndFindsThemAgain) {
  ListPtr list = ListOf({"a", "b"});
  ASSERT_NE(list, nullptr);
  ioMaterial* a = list->FindByName(String("a"));
  ioMaterial* b = list->FindByName(String("b"));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->index, 0);
  EXPECT_EQ(b->index, 1);
  EXPECT_EQ(list->FindOrAdd(nullptr, String("a")), a);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->FindByName(String("A")), nullptr);
  EXPECT_EQ(list->FindByName(String("c")), nullptr);
  EXPECT_EQ(list->FindByIndex(1), b);
  EXPECT_EQ(list->FindByIndex(2), a) << "an unknown index gives the first entry";
  EXPECT_EQ(list->FindByIndex(-1), a);

  // Names compare by their first 255 characters.
  const std::string longName(300, 'n');
  ioMaterial* n = list->FindOrAdd(nullptr, String(longName));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(list->FindByName(String(longName.substr(0, 255) + "tail")), n);

  ListPtr empty = ListOf({});
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->FindByIndex(0), nullptr);
  EXPECT_EQ(empty->First(), nullptr);
}

TEST_F(MaterialsTest, MarkDefaultGivesTheDefaultItsColour) {
  ListPtr list = ListOf({"default_Mat"});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->First();
  EXPECT_EQ(m->hasDiffuse, 0);
  list->MarkDefault(m);
  list->MarkDefault(nullptr);
  EXPECT_EQ(m->isDefault, 1);
  EXPECT_EQ(m->hasDiffuse, 1);
  EXPECT_EQ(m->diffuse, Vector(0.34902, 0.376471, 0.407843));
}

TEST_F(MaterialsTest, SetFaceIndicesListsSequenceNumbersInFaceOrder) {
  ListPtr list = ListOf({"a", "b", "unused"});
  ASSERT_NE(list, nullptr);
  // Faces of materials a, b, a, a, b; sequence numbers differ from positions on purpose.
  ioFace faces[5] = {};
  const LONG materials[5] = {0, 1, 0, 0, 1};
  for (int i = 0; i < 5; ++i) {
    faces[i].material = materials[i];
    faces[i].sequence = 10 + i;
  }
  list->FindByIndex(0)->faceCount = 3;
  list->FindByIndex(1)->faceCount = 1;  // fewer counted than present: the first one only
  ASSERT_TRUE(list->SetFaceIndices(faces, 5));
  const ioMaterial* a = list->FindByIndex(0);
  ASSERT_EQ(a->faceIndexCount, 3u);
  EXPECT_EQ(std::vector<ULONG>(a->faceIndices, a->faceIndices + 3), (std::vector<ULONG>{10, 12, 13}));
  const ioMaterial* b = list->FindByIndex(1);
  ASSERT_EQ(b->faceIndexCount, 1u);
  EXPECT_EQ(b->faceIndices[0], 11u);
  EXPECT_EQ(list->FindByIndex(2)->faceIndices, nullptr);

  // More counted than present: only what is there is listed.
  list->FindByIndex(1)->faceCount = 4;
  ASSERT_TRUE(list->SetFaceIndices(faces, 5));
  EXPECT_EQ(list->FindByIndex(1)->faceIndexCount, 2u);

  // A table shorter than a count, or none, fails.
  EXPECT_FALSE(list->SetFaceIndices(faces, 2));
  EXPECT_FALSE(list->SetFaceIndices(nullptr, 5));
  EXPECT_EQ(list->First()->faceIndices, nullptr);
  EXPECT_EQ(list->First()->faceIndexCount, 0u);
}

TEST_F(MaterialsTest, ResetObjectSelectionsGivesOneEmptySlotPerEntry) {
  ListPtr list = ListOf({"a", "b"});
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(list->ResetObjectSelections());
  EXPECT_EQ(list->m_objectSelections.Count(), 2);
  TagPtr tag(SelectionTag::Alloc(Tpolygonselection));
  ASSERT_NE(tag, nullptr);
  SelectionTag* marker = static_cast<SelectionTag*>(tag.get());
  EXPECT_TRUE(list->m_objectSelections.Set(1, marker));
  EXPECT_FALSE(list->m_objectSelections.Set(2, marker));
  EXPECT_EQ(list->m_objectSelections.Get(1), marker);
  EXPECT_EQ(list->m_objectSelections.Get(2), nullptr);
  ASSERT_NE(list->FindOrAdd(nullptr, String("c")), nullptr);
  ASSERT_TRUE(list->ResetObjectSelections());
  EXPECT_EQ(list->m_objectSelections.Count(), 3);
  EXPECT_EQ(list->m_objectSelections.Get(1), nullptr);
}

TEST_F(MaterialsTest, FailedFindOrAddLeavesTheListAsItWas) {
  ListPtr list = ListOf({"a"});
  ASSERT_NE(list, nullptr);
  EveryAllocation([&]() {
    ioMaterial* m = list->FindOrAdd(nullptr, String("b"));
    if (!m) {
      EXPECT_EQ(list->Count(), 1);
      EXPECT_EQ(list->FindByName(String("b")), nullptr);
      return false;
    }
    EXPECT_EQ(m->index, 1);
    return true;
  });
  EXPECT_EQ(list->Count(), 2);
}

// --- the merge -------------------------------------------------------------------------------

TEST_F(MaterialsTest, NearColoursMergeWithinTheTolerance) {
  const std::string mtl = "newmtl a\nKd 0.5 0.5 0.5\nnewmtl b\nKd 0.502 0.5 0.5\n";
  ListPtr apart = Load(mtl, {"a", "b"});
  ASSERT_NE(apart, nullptr);
  ASSERT_TRUE(apart->Consolidate(0, 0, 0));
  EXPECT_EQ(apart->Count(), 2);
  EXPECT_NE(apart->FindByName(String("a")), apart->FindByName(String("b")));

  ListPtr merged = Load(mtl, {"a", "b"});
  ASSERT_NE(merged, nullptr);
  host::ClearConsole();
  ASSERT_TRUE(merged->Consolidate(1, 1, 1));
  EXPECT_TRUE(ConsoleHas("NumMaterials: 2"));
  EXPECT_TRUE(ConsoleHas("Merged: 1"));
  ASSERT_EQ(merged->Count(), 1);
  EXPECT_EQ(merged->FindByName(String("b")), merged->First()) << "the merged name leads to the kept entry";
  EXPECT_EQ(merged->First()->name.Std(), "a");
  EXPECT_FLOAT_EQ(static_cast<float>(merged->First()->diffuse.x), 0.5f);

  // Only the red tolerance is wide enough for a difference in red.
  ListPtr redOnly = Load(mtl, {"a", "b"});
  ASSERT_NE(redOnly, nullptr);
  ASSERT_TRUE(redOnly->Consolidate(0, 1, 1));
  EXPECT_EQ(redOnly->Count(), 2);
}

TEST_F(MaterialsTest, MergeNeedsEqualFlagsValuesAndNoMaps) {
  struct Case {
    const char* second;  // statements of b; a has Kd 0.5 0.5 0.5 and Ns 50
    bool merges;
  } cases[] = {
      {"Kd 0.5 0.5 0.5\nNs 50", true},
      {"Kd 0.5 0.5 0.5\nNs 50.5", false},    // shininess 64.64 against 64
      {"Kd 0.5 0.5 0.5\nNs 50.005", true},   // 64.0064 against 64
      {"Kd 0.5 0.5 0.5\nNs 51", false},
      {"Kd 0.5 0.5 0.5", false},             // no Ns: flags and shininess differ
      {"Kd 0.5 0.5 0.5\nNs 50\nKa 0 0 0", false},
      {"Kd 0.5 0.5 0.5\nNs 50\nNi 1.005", true},
      {"Kd 0.5 0.5 0.5\nNs 50\nNi 1.02", false},
      {"Kd 0.5 0.5 0.5\nNs 50\nd 0.995", false},  // hasTransparency differs
      {"Kd 0.5 0.5 0.5\nNs 50\nmap_Kd same.png", false},
      {"Kd 0.5 0.5 0.5\nNs 50\ndisp same.png", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    ListPtr list = Load(std::string("newmtl a\nKd 0.5 0.5 0.5\nNs 50\nnewmtl b\n") + c.second + "\n", {"a", "b"});
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->Consolidate(255, 255, 255));
    EXPECT_EQ(list->Count(), c.merges ? 1 : 2);
  }

  // Two records with the same map never merge, however equal they are.
  ListPtr maps = Load("newmtl a\nmap_Kd t.png\nnewmtl b\nmap_Kd t.png\n", {"a", "b"});
  ASSERT_NE(maps, nullptr);
  ASSERT_TRUE(maps->Consolidate(255, 255, 255));
  EXPECT_EQ(maps->Count(), 2);
}

TEST_F(MaterialsTest, MergedListIsRenumberedAndKeepsEveryName) {
  // a and c are alike, b differs, d is like b: the result is a (0) and b (1).
  ListPtr list = Load("newmtl a\nKd 1 0 0\nnewmtl b\nKd 0 0 1\nnewmtl c\nKd 1 0 0\nnewmtl d\nKd 0 0 1\n"
                      "newmtl e\nKd 0 1 0\n",
                      {"a", "b", "c", "d", "e"});
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(list->Consolidate(1, 1, 1));
  ASSERT_EQ(list->Count(), 3);
  ioMaterial* a = list->FindByName(String("a"));
  ioMaterial* b = list->FindByName(String("b"));
  ioMaterial* e = list->FindByName(String("e"));
  EXPECT_EQ(list->FindByName(String("c")), a);
  EXPECT_EQ(list->FindByName(String("d")), b);
  EXPECT_EQ(a->index, 0);
  EXPECT_EQ(b->index, 1);
  EXPECT_EQ(e->index, 2) << "renumbered from 4";
  EXPECT_EQ(list->FindByIndex(2), e);
  EXPECT_EQ(e->diffuse, Vector(0, 1, 0));

  // A second merge keeps the aliases of the first.
  e->diffuse = Vector(1, 0, 0);
  ASSERT_TRUE(list->Consolidate(1, 1, 1));
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->FindByName(String("c")), list->FindByName(String("e")));
  EXPECT_EQ(list->FindByName(String("c")), list->First());
  ASSERT_NE(list->FindByName(String("d")), nullptr);
  EXPECT_EQ(list->FindByName(String("d"))->index, 1);

  // An empty list merges to an empty list.
  ListPtr empty = ListOf({});
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->Consolidate(1, 1, 1));
  EXPECT_EQ(empty->Count(), 0);
}

TEST_F(MaterialsTest, FailedMergeKeepsTheOldList) {
  ListPtr list = Load("newmtl a\nKd 1 0 0\nnewmtl b\nKd 1 0 0\nnewmtl c\nKd 0 1 0\n", {"a", "b", "c"});
  ASSERT_NE(list, nullptr);
  ioMaterial* before[3] = {list->FindByIndex(0), list->FindByIndex(1), list->FindByIndex(2)};
  EveryAllocation([&]() {
    if (!list->Consolidate(1, 1, 1)) {
      EXPECT_EQ(list->Count(), 3);
      EXPECT_EQ(list->FindByName(String("a")), before[0]);
      EXPECT_EQ(list->FindByName(String("b")), before[1]);
      EXPECT_EQ(list->FindByName(String("c")), before[2]);
      for (LONG i = 0; i < 3; ++i) EXPECT_EQ(list->FindByIndex(i), before[i]);
      return false;
    }
    return true;
  });
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->FindByName(String("b")), list->First());
}

// --- host materials ------------------------------------------------------------------------

class HostMaterialTest : public MaterialsTest {
 protected:
  static void SetChannel(Material* mat, LONG id, const Vector& colour, Real brightness, const char* texture) {
    BaseChannel* channel = mat->GetChannel(id);
    ASSERT_NE(channel, nullptr);
    BaseContainer data;
    data.SetVector(BASECHANNEL_COLOR_EX, colour);
    data.SetReal(BASECHANNEL_BRIGHTNESS_EX, brightness);
    data.SetString(BASECHANNEL_TEXTURE, String(texture));
    channel->SetData(data);
    mat->SetChannelState(id, TRUE);
  }
};

TEST_F(HostMaterialTest, ChannelsThatAreOnGiveTheirValues) {
  MatPtr owner(Material::Alloc());
  ASSERT_NE(owner, nullptr);
  Material* mat = static_cast<Material*>(owner.get());
  SetChannel(mat, CHANNEL_COLOR, Vector(0.5, 0.4, 1.0), 0.5, "C:/tex/wood.png");
  SetChannel(mat, CHANNEL_TRANSPARENCY, Vector(0.9, 0.8, 0.7), 0.3, "");
  mat->GetDataInstance()->SetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.33);
  SetChannel(mat, CHANNEL_LUMINANCE, Vector(1, 1, 0), 0.25, "glow.png");
  SetChannel(mat, CHANNEL_SPECULAR, Vector(1, 1, 1), 1, "");
  SetChannel(mat, CHANNEL_SPECULARCOLOR, Vector(0.2, 0.4, 0.6), 2, "spec.png");
  SetChannel(mat, CHANNEL_BUMP, Vector(1, 1, 1), 1, "bump.png");
  SetChannel(mat, CHANNEL_DISPLACEMENT, Vector(1, 1, 1), 1, "disp.png");
  SetChannel(mat, CHANNEL_ALPHA, Vector(1, 1, 1), 1, "alpha.png");

  ListPtr list = ListOf({});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->FindOrAdd(mat, String("wood"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->hostMaterial, owner.get());
  EXPECT_EQ(m->isStandard, 1);
  EXPECT_EQ(m->diffuse, Vector(0.25, 0.2, 0.5));
  EXPECT_STREQ(m->mapDiffuse, "C:/tex/wood.png");
  EXPECT_EQ(m->filter, Vector(0.9, 0.8, 0.7));
  EXPECT_DOUBLE_EQ(m->transparency, 0.3);
  EXPECT_DOUBLE_EQ(m->refraction, 1.33);
  EXPECT_EQ(m->ambient, Vector(0.25, 0.25, 0));
  EXPECT_STREQ(m->mapAmbient, "glow.png");
  EXPECT_EQ(m->specular, Vector(0.4, 0.8, 1.2));
  EXPECT_STREQ(m->mapSpecular, "spec.png");
  EXPECT_STREQ(m->mapBump, "bump.png");
  EXPECT_STREQ(m->mapDisplacement, "disp.png");
  EXPECT_STREQ(m->mapAlpha, "alpha.png");
  EXPECT_EQ(m->hasDiffuse + m->hasTransparency + m->hasAmbient + m->hasSpecularHighlight + m->hasSpecularColor, 5);

  // Switched off, the same channels give nothing; reading again starts from scratch.
  for (LONG id : {CHANNEL_COLOR, CHANNEL_TRANSPARENCY, CHANNEL_LUMINANCE, CHANNEL_SPECULARCOLOR, CHANNEL_BUMP,
                  CHANNEL_DISPLACEMENT, CHANNEL_ALPHA})
    mat->SetChannelState(id, FALSE);
  m->ReadHostMaterial(mat);
  ListPtr fresh = ListOf({"wood"});
  ASSERT_NE(fresh, nullptr);
  fresh->First()->hasSpecularHighlight = 1;  // specular stays on, its colour channel is off
  ExpectSameValues(*m, *fresh->First());
}

TEST_F(HostMaterialTest, LayerShaderTextureIsItsBitmap) {
  MatPtr owner(Material::Alloc());
  ASSERT_NE(owner, nullptr);
  Material* mat = static_cast<Material*>(owner.get());
  BaseShader* layer = BaseShader::Alloc(Xlayer);
  ASSERT_NE(layer, nullptr);
  mat->InsertShader(layer);
  BaseShader* bitmap = BaseShader::Alloc(Xbitmap);
  ASSERT_NE(bitmap, nullptr);
  layer->InsertShader(bitmap);
  bitmap->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename("/maps/layered.png"));
  layer->GetDataInstance()->SetLink(LAYERSHADER_SHADER, bitmap);
  mat->GetChannel(CHANNEL_COLOR)->SetShader(layer);
  mat->SetChannelState(CHANNEL_COLOR, TRUE);

  ListPtr list = ListOf({"m"});
  ASSERT_NE(list, nullptr);
  list->First()->ReadHostMaterial(mat);
  EXPECT_STREQ(list->First()->mapDiffuse, "/maps/layered.png");

  // A layer that holds no bitmap gives no texture.
  layer->GetDataInstance()->SetLink(LAYERSHADER_SHADER, nullptr);
  list->First()->ReadHostMaterial(mat);
  EXPECT_STREQ(list->First()->mapDiffuse, "");
}

TEST_F(HostMaterialTest, OtherMaterialTypesOnlyGiveTheDefaultColour) {
  MatPtr fog(BaseMaterial::Alloc(Mfog));
  ASSERT_NE(fog, nullptr);
  ListPtr list = ListOf({});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->FindOrAdd(fog.get(), String("fog"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->hostMaterial, fog.get());
  EXPECT_EQ(m->isStandard, 0);
  EXPECT_EQ(m->hasDiffuse, 1);
  EXPECT_EQ(m->diffuse, m->defaultColor);
  EXPECT_EQ(m->hasTransparency + m->hasAmbient + m->hasSpecularHighlight + m->hasSpecularColor, 0);

  // Without a material the record is only reset.
  m->ReadHostMaterial(nullptr);
  EXPECT_EQ(m->hostMaterial, nullptr);
  EXPECT_EQ(m->isStandard, 1);
  EXPECT_EQ(m->hasDiffuse, 0);
}

}  // namespace

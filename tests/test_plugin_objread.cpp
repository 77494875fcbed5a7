// The OBJ reader from inline files: statements, face forms, indices, options, names,
// n-gons, line elements, the capacities, damaged input, and block sizes.
#include <algorithm>
#include <limits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host_fixture.h"
#include "objread.h"

namespace {

struct ImporterDeleter {
  void operator()(ObjImporter* p) const { ObjImporter::Free(p); }
};
using Importer = std::unique_ptr<ObjImporter, ImporterDeleter>;

PluginOpts DefaultOpts() {
  PluginOpts opts;
  opts.SetFromTable(kImportPresetTable[0]);
  opts.layoutFlags &= ~(IMP_LINE_ELEMENTS | IMP_LINES_AS_FACES);
  opts.geomFlags &= ~(GEOM_SWAP_YZ | GEOM_NEGATE_Z | GEOM_NEGATE_X | GEOM_FLIP_U | GEOM_FLIP_V | GEOM_REVERSE_ORDER |
                      GEOM_WHOLE_GROUP_NAMES | GEOM_REVERSE_NORMALS);
  return opts;
}

std::string Text(const String& s) { return s.Std(); }

// The whole model as text, for comparing two reads.
std::string Describe(const ObjImporter& m) {
  std::ostringstream out;
  out << "counts " << m.vertexCount << " " << m.normalCount << " " << m.uvCount << " " << m.faceCount << " "
      << m.ngonCount << " " << m.segmentCount << " flags " << m.contentFlags << " lines " << m.lineTotal << " mtllib '"
      << m.mtlLibName << "'\n";
  char number[64];
  auto vec = [&](const Vector& v) {
    std::snprintf(number, sizeof(number), "%a %a %a", v.x, v.y, v.z);
    out << number << "\n";
  };
  for (ULONG i = 0; i < m.vertexCount; ++i) vec(m.vertices[i]);
  for (ULONG i = 0; i < m.normalCount; ++i) vec(m.normals[i]);
  for (ULONG i = 0; i < m.uvCount; ++i) vec(m.uvs[i]);
  for (ULONG i = 0; i < m.faceCount; ++i) {
    const ObjFace& f = m.faces[i];
    out << "f " << f.flags << " " << f.material << " " << f.meshObj << " " << f.group << " " << f.region << " "
        << f.sequence << " " << f.cornerCount;
    for (int k = 0; k < 4; ++k) out << " " << f.v[k] << "/" << f.vt[k] << "/" << f.vn[k];
    out << "\n";
  }
  for (ULONG i = 0; i < m.segmentCount; ++i) {
    const ObjSegment& s = m.segments[i];
    out << "l " << s.material << " " << s.meshObj << " " << s.group << " " << s.region << " " << s.sequence;
    for (LONG k = 0; k < s.pointCount; ++k) out << " " << s.points[k];
    out << "\n";
  }
  for (linkNode* node = m.ngons.First(); node; node = node->Next()) {
    const NgonRecord* r = static_cast<const NgonRecord*>(node->Data());
    out << "ngon " << r->cornerCount << " " << r->polygonCount << " :";
    for (LONG k = 0; k < r->cornerCount; ++k) out << " " << r->corners[k];
    out << " :";
    for (LONG k = 0; k < r->polygonCount; ++k) out << " " << r->polygons[k];
    out << "\n";
  }
  // An entry's index lists (once SetListIndices made them) by their length and a hash.
  auto indices = [&](const ULONG* list, ULONG count) {
    unsigned long long hash = 14695981039346656037ull;
    for (ULONG i = 0; i < count; ++i) hash = (hash ^ list[i]) * 1099511628211ull;
    out << " [" << count << " " << std::hex << hash << std::dec << "]";
  };
  for (meshObj* o = m.m_pMeshObjList->First(); o; o = static_cast<meshObj*>(o->Next())) {
    out << "o " << Text(o->name) << " " << o->index << " " << o->faceCount << " " << o->segCount;
    indices(o->faceIndices, o->faceIndexCount);
    indices(o->segIndices, o->segIndexCount);
    out << "\n";
  }
  for (ioGroup* g = m.m_pGroupList->First(); g; g = static_cast<ioGroup*>(g->Next())) {
    out << "g " << Text(g->name) << " " << g->index << " " << g->multiName << " " << g->faceCount << " "
        << g->segCount;
    indices(g->faceIndices, g->faceIndexCount);
    indices(g->segIndices, g->segIndexCount);
    out << "\n";
  }
  for (ioRegion* r = m.m_pRegionList->First(); r; r = static_cast<ioRegion*>(r->Next())) {
    out << "r " << Text(r->name) << " " << r->index << " " << r->faceCount;
    indices(r->faceIndices, r->faceIndexCount);
    out << "\n";
  }
  for (ioMaterial* t = m.m_pMaterialList->First(); t; t = static_cast<ioMaterial*>(t->Next())) {
    out << "m " << Text(t->name) << " " << t->index << " " << t->faceCount;
    indices(t->faceIndices, t->faceIndexCount);
    out << "\n";
  }
  return out.str();
}

// Two models' descriptions, compared line by line: a failure names the first line that
// differs rather than printing (and diffing) megabytes of text.
void ExpectSameModel(const ObjImporter& a, const ObjImporter& b) {
  std::istringstream left(Describe(a)), right(Describe(b));
  std::string l, r;
  for (long line = 1;; ++line) {
    const bool more = static_cast<bool>(std::getline(left, l)), moreRight = static_cast<bool>(std::getline(right, r));
    if (!more && !moreRight) return;
    if (more != moreRight || l != r) {
      ADD_FAILURE() << "models differ at line " << line << ":\n  " << (more ? l : "(end)") << "\n  "
                    << (moreRight ? r : "(end)");
      return;
    }
  }
}

class ObjReaderTest : public HostTest {
 protected:
  Importer Read(const std::string& text, const PluginOpts& opts, LONG blockSize = TEXTFILE_BLOCKSIZE,
                Real scale = 1.0, Bool checkIndices = FALSE) {
    const std::string path = WriteFile("model.obj", text);
    // Unless checkIndices, pass 2's own result: indices as the file gives them.
    return Importer(ReadObjModel(Filename(path.c_str()), opts, scale, blockSize, checkIndices));
  }
  Importer Read(const std::string& text) { return Read(text, DefaultOpts()); }
  // The same text read with one thread, then with two; for a build of an object per mesh
  // object, so that the mesh objects' lists of faces are made and compared too.
  std::pair<Importer, Importer> ReadWithOneThreadAndTwo(const std::string& text, PluginOpts opts,
                                                       Bool checkIndices = FALSE) {
    opts.layoutFlags |= IMP_OBJECT_PER_MESH;
    SetEnv("KELVANE_THREADS", "1");
    Importer one = Read(text, opts, TEXTFILE_BLOCKSIZE, 1.0, checkIndices);
    SetEnv("KELVANE_THREADS", "2");
    Importer two = Read(text, opts, TEXTFILE_BLOCKSIZE, 1.0, checkIndices);
    SetEnv("KELVANE_THREADS", nullptr);
    return {std::move(one), std::move(two)};
  }

  static std::vector<std::string> GroupNames(const ObjImporter& m) {
    std::vector<std::string> names;
    for (ioGroup* g = m.m_pGroupList->First(); g; g = static_cast<ioGroup*>(g->Next())) names.push_back(Text(g->name));
    return names;
  }
};

const char kTriangle[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
const char kSquare[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST_F(ObjReaderTest, FacesBeforeAnyNameGetTheDefaultEntries) {
  Importer m = Read(std::string(kTriangle) + "f 1 2 3\n");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->faceCount, 1u);
  EXPECT_EQ(m->m_pMeshObjList->Count(), 1);
  EXPECT_EQ(Text(m->m_pMeshObjList->First()->name), "model.obj");
  EXPECT_EQ(Text(m->m_pGroupList->First()->name), "default_Grp");
  EXPECT_EQ(Text(m->m_pRegionList->First()->name), "default_Rgn");
  ioMaterial* material = m->m_pMaterialList->First();
  ASSERT_TRUE(material);
  EXPECT_EQ(Text(material->name), "default_Mat");
  EXPECT_TRUE(material->hasDiffuse);
  EXPECT_EQ(m->contentFlags, ULONG{OBJ_HAS_VERTICES | OBJ_HAS_FACES});
  EXPECT_EQ(m->uvCount, 1u);  // none in the file, one allocated
  EXPECT_EQ(m->normalCount, 1u);
}

TEST_F(ObjReaderTest, FileWithOnlyPointsHasNoMeshObject) {
  Importer m = Read(kTriangle);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->m_pMeshObjList->Count(), 0);
  EXPECT_EQ(m->faceCount, 0u);
  EXPECT_EQ(m->faces, nullptr);
}

struct FaceCase {
  const char* line;
  ULONG flags;
  LONG cornerCount;
  LONG v[4], vt[4], vn[4];
};

TEST_F(ObjReaderTest, EveryFaceFormAndIndexKind) {
  const std::string elements = std::string(kSquare) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";
  const FaceCase cases[] = {
      {"f 1/1/1 2/2/2 3/3/3 4/4/4", 0xC0, 4, {0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}},
      {"f 1//1 2//2 3//3", 0x40, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 1, 2, 2}},
      {"f 1/4 2/3 3/2", 0x80, 3, {0, 1, 2, 2}, {3, 2, 1, 1}, {0, 0, 0, 0}},
      {"f 1/1/ 2/2/ 3/3/", 0x80, 3, {0, 1, 2, 2}, {0, 1, 2, 2}, {0, 0, 0, 0}},
      {"f 1// 2// 3//", 0, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f 1/ 2/ 3/ 4/", 0, 4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f 1 2 3", 0, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"fo 4 3 2 1", 0, 4, {3, 2, 1, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f -4 -3 -2", 0, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f -1/-1/-1 -2/-2/-2 -3/-3/-3", 0xC0, 3, {3, 2, 1, 1}, {3, 2, 1, 1}, {3, 2, 1, 1}},
      {"f\t1\t2   3 \t", 0, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      // Tokens that do not fit the chosen form are skipped.
      {"f 1/1/1 2/2/2 3/3/3 4//4", 0xC0, 3, {0, 1, 2, 2}, {0, 1, 2, 2}, {0, 1, 2, 2}},
      {"f 1 2 3 x", 0, 3, {0, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      // Index 0 and indices beyond the counts stay out of range for the builder.
      {"f 0 2 3", 0, 3, {-1, 1, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f 1 2 99", 0, 3, {0, 1, 98, 98}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f 1 2 99999999999999999999", 0, 3, {0, 1, 2147483647, 2147483647}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"f 1 2 -9", 0, 3, {0, 1, -5, -5}, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const FaceCase& c : cases) {
    SCOPED_TRACE(c.line);
    Importer m = Read(elements + c.line + "\n");
    ASSERT_TRUE(m);
    ASSERT_EQ(m->faceCount, 1u);
    const ObjFace& f = m->faces[0];
    EXPECT_EQ(f.flags, c.flags);
    EXPECT_EQ(f.cornerCount, c.cornerCount);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(f.v[k], c.v[k]) << k;
      EXPECT_EQ(f.vt[k], c.vt[k]) << k;
      EXPECT_EQ(f.vn[k], c.vn[k]) << k;
    }
    EXPECT_EQ(f.sequence, 0);
  }
}

// A face line as the C library's sscanf reads it: the first form whose line pattern
// gives all conversions, then every blank-separated token that fits its token pattern.
struct LibraryFace {
  int form = -1;
  std::vector<std::vector<long>> corners;
};

LibraryFace ReadWithLibrary(const std::string& text) {
  static const char* linePatterns[] = {
      " %ld/%ld/%ld %ld/%ld/%ld %ld/%ld/%ld", " %ld//%ld %ld//%ld %ld//%ld", " %ld/%ld %ld/%ld %ld/%ld",
      " %ld/%ld/ %ld/%ld/ %ld/%ld/",         " %ld// %ld// %ld//",          " %ld/ %ld/ %ld/",
      " %ld %ld %ld"};
  static const int lineConversions[] = {9, 6, 6, 6, 3, 3, 3};
  static const char* tokenPatterns[] = {"%ld/%ld/%ld", "%ld//%ld", "%ld/%ld", "%ld/%ld/", "%ld//", "%ld/", "%ld"};
  static const int tokenConversions[] = {3, 2, 2, 2, 1, 1, 1};
  LibraryFace face;
  long v[9];
  for (int i = 0; i < 7 && face.form < 0; ++i)
    if (std::sscanf(text.c_str(), linePatterns[i], &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]) ==
        lineConversions[i])
      face.form = i;
  if (face.form < 0) return face;
  std::string copy = text;
  for (char* token = std::strtok(copy.data(), " \t"); token; token = std::strtok(nullptr, " \t")) {
    long t[3];
    if (std::sscanf(token, tokenPatterns[face.form], &t[0], &t[1], &t[2]) == tokenConversions[face.form])
      face.corners.push_back(std::vector<long>(t, t + tokenConversions[face.form]));
  }
  return face;
}

// The reader's faces against the library's reading: the form (by flagsByForm, when
// given), the corner count, and each corner's indices, the vertex resolved by vertex and
// the texture coordinate and normal by other.
template <typename VertexIndex, typename OtherIndex>
void ExpectLibraryFaces(const ObjFace* faces, const std::vector<LibraryFace>& expected, const ULONG* flagsByForm,
                        VertexIndex vertex, OtherIndex other) {
  for (size_t i = 0; i < expected.size(); ++i) {
    const LibraryFace& want = expected[i];
    const ObjFace& f = faces[i];
    SCOPED_TRACE(i);
    if (flagsByForm) {
      EXPECT_EQ(f.flags, flagsByForm[want.form]);
    }
    ASSERT_EQ(f.cornerCount, static_cast<LONG>(want.corners.size()));
    for (size_t k = 0; k < want.corners.size(); ++k) {
      const std::vector<long>& c = want.corners[k];
      EXPECT_EQ(f.v[k], vertex(c[0]));
      if (f.flags & FACE_HAS_UVS) {
        EXPECT_EQ(f.vt[k], other(c[1]));
      }
      if (f.flags & FACE_HAS_NORMALS) {
        EXPECT_EQ(f.vn[k], other(c.back()));
      }
    }
  }
}

TEST_F(ObjReaderTest, FaceLinesReadAsTheLibraryReadsThem) {
  const char* pieces[] = {"1", "2", "3", "-1", "-4", "+2", "0", "/", "/", "//", " ", " ", "\t", "x", "\v"};
  const ULONG kFlags[] = {0xC0, 0x40, 0x80, 0x80, 0, 0, 0};
  std::mt19937 random(11);
  std::string text = std::string(kSquare) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";
  std::vector<LibraryFace> expected;
  while (expected.size() < 400) {
    std::string line;
    const int count = 4 + static_cast<int>(random() % 14);
    for (int k = 0; k < count; ++k) line += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
    const LibraryFace face = ReadWithLibrary(line);
    if (face.corners.size() > 4) continue;  // n-gons are covered elsewhere
    if (face.corners.size() >= 3) expected.push_back(face);
    text += "f" + line + "\n";
  }
  Importer m = Read(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->faceCount, expected.size());
  auto resolve = [](long written) { return written > 0 ? written - 1 : written < 0 ? 4 + written : -1; };
  ExpectLibraryFaces(m->faces, expected, kFlags, resolve, resolve);
}

// Face lines from a few characters to about a hundred, their tokens apart by runs of
// blanks and tabs: three and four tokens make one face each, read as the library reads
// them; five make an n-gon. Among them, lines whose counts of tokens and slashes look
// like one plain shape although their tokens are not all of it.
TEST_F(ObjReaderTest, FaceLinesOfEveryLengthCountTheirTokens) {
  const char* shapes[] = {"%d/%d/%d", "%d//%d", "%d/%d", "%d"};
  const ULONG kFlags[] = {0xC0, 0x40, 0x80, 0x80, 0, 0, 0};
  std::mt19937 random(5);
  const std::string head =
      "v 0 0 0\nv 1 0 0\nv 1.5 1 0\nv 0.5 1.5 0\nv -0.5 1 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\n"
      "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";
  std::string faces = head, ngons = head;
  std::vector<LibraryFace> expected;
  ULONG ngonLines = 0;
  for (int line = 0; line < 400; ++line) {
    const int tokens = 3 + line % 3;
    std::string text;
    for (int k = 1; k <= tokens; ++k) {
      for (unsigned blanks = 1 + random() % 12; blanks > 0; --blanks) text += random() % 3 ? ' ' : '\t';
      char token[32];
      std::snprintf(token, sizeof(token), shapes[line / 3 % 4], k, k, k);
      text += token;
    }
    if (random() % 2) text += std::string(random() % 20, ' ');
    if (tokens == 5) {
      ngons += "f" + text + "\n";
      ++ngonLines;
    } else {
      faces += "f" + text + "\n";
      expected.push_back(ReadWithLibrary(text));
    }
  }
  for (const char* text : {" 1/1/1/1 2/2 3/3/3", " 1/1 2/2/2 3", " 1/ 2/ 3/", " 1// 2// 3//", " 1 2 x", " -1/+2 2/3 3/x",
                           " 1 2 3x 4", "\t1/2\t+2/3 -1/4x"}) {
    faces += std::string("f") + text + "\n";
    const LibraryFace face = ReadWithLibrary(text);
    if (face.corners.size() >= 3) expected.push_back(face);
  }
  Importer m = Read(faces);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->faceCount, expected.size());
  auto resolve = [](long written) { return written > 0 ? written - 1 : written < 0 ? 5 + written : -1; };
  ExpectLibraryFaces(m->faces, expected, kFlags, resolve, resolve);
  Importer n = Read(ngons);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->ngonCount, ngonLines);
}

TEST_F(ObjReaderTest, LinesThatAreNoFaces) {
  const char* lines[] = {"f 1 2", "f", "f 1/2/3 4/5/6", "f a b c", "foo", "f 1 2 3 extra",  // the last is a face
                         "s 1", "vp 0.5", "mg 1 2", "# f 1 2 3", "l 1 2 3"};
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    Importer m = Read(std::string(kTriangle) + line + "\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->faceCount, std::strcmp(line, "f 1 2 3 extra") == 0 ? 1u : 0u);
    EXPECT_EQ(m->segmentCount, 0u);
  }
}

TEST_F(ObjReaderTest, ElementsAndTheirOptions) {
  PluginOpts opts = DefaultOpts();
  opts.geomFlags |= GEOM_SWAP_YZ | GEOM_NEGATE_Z | GEOM_FLIP_V;
  Importer m = Read("v 1 2 3\nv 1 2\nv x 1 2\nvn 0 0 0\nvn 0 0 5\nvn 3 4 0 9\nvt 0.25 0.75\nvt 0.5 0.5 0.3\nvt 1\n", opts,
                    TEXTFILE_BLOCKSIZE, 2.0);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->vertexCount, 1u);
  EXPECT_EQ(m->vertices[0], Vector(2, 6, -4));  // swapped first, then the new z negated, then scaled
  ASSERT_EQ(m->normalCount, 3u);
  EXPECT_EQ(m->normals[0], Vector(0, 0, 0));
  EXPECT_EQ(m->normals[1], Vector(0, 1, 0));  // swapped to (0, 5, 0), then unit length
  EXPECT_NEAR(m->normals[2].x, 0.6, 1e-12);
  EXPECT_NEAR(m->normals[2].z, -0.8, 1e-12);
  ASSERT_EQ(m->uvCount, 2u);
  EXPECT_EQ(m->uvs[0], Vector(0.25, 0.25, 1.0));
  EXPECT_EQ(m->uvs[1], Vector(0.5, 0.5, 1.0));
  EXPECT_EQ(m->contentFlags, ULONG{OBJ_HAS_VERTICES | OBJ_HAS_NORMALS | OBJ_HAS_UVS});

  opts = DefaultOpts();
  opts.geomFlags |= GEOM_NEGATE_X | GEOM_REVERSE_NORMALS | GEOM_FLIP_U;
  m = Read("v 1 2 3\nvn 1 0 0\nvt 0.25 0.75\n", opts, TEXTFILE_BLOCKSIZE, 0.5);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->vertices[0], Vector(-0.5, 1, 1.5));
  EXPECT_EQ(m->normals[0], Vector(1, 0, 0));  // x negated, then all three
  EXPECT_EQ(m->uvs[0], Vector(0.75, 0.75, 1.0));
}

TEST_F(ObjReaderTest, ValuesThatAreNoNumbersReadAsZeroAndAreCountedOnce) {
  struct Case {
    const char* line;
    Vector read;
    ULONG notFinite;
    Real scale = 1.0;
  };
  const Case cases[] = {
      {"v nan 1 2", Vector(0, 1, 2), 1},
      {"v 1 inf -inf", Vector(1, 0, 0), 2},
      {"v -NaN INF 3", Vector(0, 0, 3), 2},
      {"v 1e999 -1e999 4", Vector(0, 0, 4), 2},     // too large for a double
      {"v 1e308 1 2", Vector(0, 1000, 2000), 1, 1000},  // finite, but not once scaled
      {"v 1e-320 0 0", Vector(1e-320, 0, 0), 0},      // tiny is still a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host::ClearConsole();
    Importer m = Read(std::string(c.line) + "\nv 0 0 0\nv 1 0 0\nf 1 2 3\n", DefaultOpts(), TEXTFILE_BLOCKSIZE, c.scale);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->vertices[0], c.read);
    EXPECT_EQ(m->valuesNotFinite, c.notFinite);
    EXPECT_EQ(ConsoleHas("were not finite numbers"), c.notFinite > 0);
  }
  // Texture coordinates and normals too; the normal keeps its finite direction.
  Importer m = Read("v 0 0 0\nvt nan 0.5\nvn inf 0 2\n");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->uvs[0], Vector(0, 0.5, 1));
  EXPECT_EQ(m->normals[0], Vector(0, 0, 1));
  EXPECT_EQ(m->valuesNotFinite, 2u);
}

TEST_F(ObjReaderTest, NamesOfObjectsGroupsRegionsMaterials) {
  const std::string text = std::string(kTriangle) +
                           "mtllib C:\\models\\lib one.mtl\n"
                           "o my object\n"
                           "g a b c\n"
                           "usemtl my mat\n"
                           "# r front side\n"
                           "f 1 2 3\n"
                           "o my object\n"
                           "g   \n"
                           "usemtl\n"
                           "f 3 2 1\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  EXPECT_STREQ(m->mtlLibName, "lib one.mtl");
  EXPECT_EQ(m->m_pMeshObjList->Count(), 1);  // the same "o" name twice is one entry
  EXPECT_EQ(Text(m->m_pMeshObjList->First()->name), "my_object");
  EXPECT_EQ(m->m_pMeshObjList->First()->faceCount, 2u);
  EXPECT_EQ(GroupNames(*m), std::vector<std::string>{"c"});
  EXPECT_EQ(Text(m->m_pMaterialList->First()->name), "my_mat");
  EXPECT_EQ(Text(m->m_pRegionList->First()->name), "front_side");
  // The library does not exist, so its flag is cleared again after pass 1.
  EXPECT_EQ(m->contentFlags, ULONG{OBJ_HAS_VERTICES | OBJ_HAS_FACES | OBJ_HAS_GROUPS | OBJ_HAS_REGIONS |
                                   OBJ_HAS_MATERIALS | OBJ_HAS_OBJECTS});
  for (ULONG i = 0; i < m->faceCount; ++i) {
    EXPECT_EQ(m->faces[i].group, 0);
    EXPECT_EQ(m->faces[i].material, 0);
  }

  PluginOpts opts = DefaultOpts();
  opts.geomFlags |= GEOM_WHOLE_GROUP_NAMES;
  m = Read(std::string(kTriangle) + "g a b\tc\nf 1 2 3\ng solo\nf 1 2 3\n", opts);
  ASSERT_TRUE(m);
  EXPECT_EQ(GroupNames(*m), (std::vector<std::string>{"a b\tc", "solo"}));
  EXPECT_TRUE(m->m_pGroupList->First()->multiName);
  for (const char* word : {"a", "b", "c", "solo"}) EXPECT_TRUE(m->m_pGroupList->IsKnownName(String(word))) << word;
  EXPECT_FALSE(m->m_pGroupList->IsKnownName(String("a b\tc")));
  EXPECT_EQ(m->groupNameCount, 4);
  EXPECT_EQ(m->faces[0].group, 0);
  EXPECT_EQ(m->faces[1].group, 1);
}

TEST_F(ObjReaderTest, FacesGetTheirObjectInAnyOrderOfNames) {
  // Pass 2 tries the entry after the current object first: every order of "o" names
  // must still give each face the entry of its own name (indices by first use).
  const std::string longA = std::string(260, 'x') + "a";
  const std::string longB = std::string(260, 'x') + "b";  // names keep 255 characters: one entry
  const struct {
    std::vector<std::string> names;  // one "o" line and one face after each
    std::vector<LONG> want;          // the faces' object indices
  } cases[] = {
      {{"a", "b", "c"}, {0, 1, 2}},
      {{"a", "b", "a", "c", "b"}, {0, 1, 0, 2, 1}},
      {{"a", "a", "b", "b"}, {0, 0, 1, 1}},
      {{"c", "b", "a", "b", "c"}, {0, 1, 2, 1, 0}},
      {{"a", "c", "b", "c"}, {0, 1, 2, 1}},
      {{longA, longB, longA, longB}, {0, 0, 0, 0}},
      {{longB, "b", longA, "b", "c", longB}, {0, 1, 0, 1, 2, 0}},
  };
  for (const auto& c : cases) {
    std::string text = kTriangle;
    for (const auto& name : c.names) text += "o " + name + "\nf 1 2 3\n";
    Importer m = Read(text);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->faceCount, c.want.size());
    for (ULONG i = 0; i < m->faceCount; ++i)
      EXPECT_EQ(m->faces[i].meshObj, c.want[i]) << "face " << i << " of " << c.names.size() << " names, first "
                                                << c.names[0].substr(0, 8);
  }
}

TEST_F(ObjReaderTest, EntriesCountTheirFacesAndIndexThem) {
  const std::string text = std::string(kSquare) +
                           "usemtl red\ng top\nf 1 2 3\n"
                           "usemtl blue\nf 1 3 4\n"
                           "g side\nusemtl red\nf 1 2 4\n"
                           "o second\ng top\nf 2 3 4\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->faceCount, 4u);
  // Faces before "o" belong to the file's object; groups and materials by first use.
  EXPECT_EQ(GroupNames(*m), (std::vector<std::string>{"top", "side"}));
  ioGroup* top = m->m_pGroupList->FindByName(String("top"));
  ASSERT_TRUE(top);
  EXPECT_EQ(top->faceCount, 3u);
  ASSERT_EQ(top->faceIndexCount, 3u);
  EXPECT_EQ(top->faceIndices[0], 0u);
  EXPECT_EQ(top->faceIndices[1], 1u);
  EXPECT_EQ(top->faceIndices[2], 3u);
  ioMaterial* red = m->m_pMaterialList->FindByName(String("red"));
  ASSERT_TRUE(red);
  EXPECT_EQ(red->faceCount, 3u);
  meshObj* second = m->m_pMeshObjList->FindByName(String("second"));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->faceCount, 1u);
  EXPECT_EQ(m->faces[3].meshObj, second->index);
}

TEST_F(ObjReaderTest, NgonsAreSplitByTheHostAndRecorded) {
  // A convex hexagon and a concave (L-shaped) hexagon.
  const std::string points =
      "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 2 2 0\nv 0 2 0\nv -1 1 0\n"
      "v 0 0 1\nv 2 0 1\nv 2 1 1\nv 1 1 1\nv 1 2 1\nv 0 2 1\n";
  for (const Bool reverse : {FALSE, TRUE}) {
    SCOPED_TRACE(reverse ? "reversed" : "in order");
    PluginOpts opts = DefaultOpts();
    if (reverse) opts.geomFlags |= GEOM_REVERSE_ORDER;
    Importer m = Read(points + "f 1 2 3 4 5 6\nf 7 8 9 10 11 12\nf 1 2 3\n", opts);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->ngonCount, 2u);
    ASSERT_EQ(m->ngons.Count(), 2);
    EXPECT_EQ(m->ngonParts.Count(), 0);  // made by a scene build by entries
    ULONG inNgons = 0;
    LONG record = 0;
    for (linkNode* node = m->ngons.First(); node; node = node->Next(), ++record) {
      const NgonRecord* r = static_cast<const NgonRecord*>(node->Data());
      ASSERT_EQ(r->cornerCount, 6);
      ASSERT_GT(r->polygonCount, 0);
      ASSERT_LE(r->polygonCount, 4);
      for (LONG k = 0; k < 6; ++k) EXPECT_EQ(r->corners[k], 6 * record + (reverse ? 5 - k : k));
      // The polygons are faces of this n-gon, and each uses only its corners.
      for (LONG p = 0; p < r->polygonCount; ++p) {
        const ObjFace& f = m->faces[r->polygons[p]];
        EXPECT_EQ(f.sequence, r->polygons[p]);
        for (int k = 0; k < 4; ++k) {
          EXPECT_GE(f.v[k], 6 * record);
          EXPECT_LT(f.v[k], 6 * record + 6);
        }
      }
      inNgons += static_cast<ULONG>(r->polygonCount);
    }
    EXPECT_EQ(m->faceCount, inNgons + 1);  // and the triangle after them
    EXPECT_EQ(m->faces[m->faceCount - 1].v[0], 0);
    EXPECT_EQ(m->m_pMeshObjList->First()->faceCount, m->faceCount);
  }
}

TEST_F(ObjReaderTest, IndicesOutOfRangeAreTakenOutBeforeTheListsAreIndexed) {
  // Bad faces around an n-gon, in two groups; a line element with a missing point.
  const std::string text =
      "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\nvt 0 0\nvn 0 0 1\n"
      "g a\nf 1 2 9\nf 0 1 2\nf 1/1/1 2/1/1 3/1/1\n"
      "g b\nf 1 2 3 4 5\nf 1/1/4 2/1/1 3/1/1\nf 1/5 2/1 3/1\nf 7 1 2\n"
      "l 1 2 3\nl 1 6\nl 2 3\n";
  const std::string path = WriteFile("model.obj", text);
  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS | IMP_OBJECT_PER_MESH;
  Importer m(ReadObjModel(Filename(path.c_str()), opts, 1.0, TEXTFILE_BLOCKSIZE, TRUE));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->facesDropped, 3u);
  EXPECT_EQ(m->facesWithoutUVsOrNormals, 2u);
  EXPECT_EQ(m->segmentsDropped, 1u);
  EXPECT_TRUE(ConsoleHas("Kelvane: 5 faces had indices out of range: 3 without their points were dropped, "
                         "2 were kept without their UVs or normals"));
  EXPECT_TRUE(ConsoleHas("Kelvane: 1 line elements with point indices out of range were dropped"));

  // What is left is numbered from 0 without gaps, every index inside its array.
  const ULONG ngonFaces = m->faceCount - 3;
  ASSERT_GE(ngonFaces, 2u);
  for (ULONG i = 0; i < m->faceCount; ++i) {
    const ObjFace& f = m->faces[i];
    EXPECT_EQ(f.sequence, static_cast<LONG>(i));
    for (int k = 0; k < 4; ++k) {
      EXPECT_LT(static_cast<ULONG>(f.v[k]), m->vertexCount);
      if (f.flags & FACE_HAS_UVS) {
        EXPECT_LT(static_cast<ULONG>(f.vt[k]), m->uvCount);
      }
      if (f.flags & FACE_HAS_NORMALS) {
        EXPECT_LT(static_cast<ULONG>(f.vn[k]), m->normalCount);
      }
    }
  }
  EXPECT_EQ(m->faces[0].flags & (FACE_HAS_UVS | FACE_HAS_NORMALS), ULONG{FACE_HAS_UVS | FACE_HAS_NORMALS});
  EXPECT_EQ(m->faces[1 + ngonFaces].flags & (FACE_HAS_UVS | FACE_HAS_NORMALS), ULONG{FACE_HAS_UVS});
  EXPECT_EQ(m->faces[2 + ngonFaces].flags & (FACE_HAS_UVS | FACE_HAS_NORMALS), 0u);

  // The n-gon's polygons moved down with the faces; the groups count what stayed.
  const NgonRecord* ngon = static_cast<const NgonRecord*>(m->ngons.First()->Data());
  ASSERT_EQ(ngon->polygonCount, static_cast<LONG>(ngonFaces));
  for (LONG p = 0; p < ngon->polygonCount; ++p) EXPECT_EQ(ngon->polygons[p], p + 1);
  ioGroup* a = m->m_pGroupList->FindByName(String("a"));
  ioGroup* b = m->m_pGroupList->FindByName(String("b"));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->faceIndexCount, 1u);
  EXPECT_EQ(a->faceIndices[0], 0u);
  EXPECT_EQ(b->faceIndexCount, ngonFaces + 2);
  EXPECT_EQ(b->faceIndices[0], 1u);
  EXPECT_EQ(m->m_pMeshObjList->First()->faceIndexCount, m->faceCount);

  ASSERT_EQ(m->segmentCount, 2u);
  EXPECT_EQ(m->segments[1].sequence, 1);
  EXPECT_EQ(m->segments[1].points[0], 1);
  EXPECT_EQ(b->segIndexCount, 2u);

  // A build of one object reads no mesh object's faces: none are listed, but the line
  // elements (splines in every build) are.
  opts.layoutFlags &= ~IMP_OBJECT_PER_MESH;
  Importer single(ReadObjModel(Filename(path.c_str()), opts, 1.0, TEXTFILE_BLOCKSIZE, TRUE));
  ASSERT_TRUE(single);
  const meshObj* object = single->m_pMeshObjList->First();
  EXPECT_EQ(object->faceIndices, nullptr);
  EXPECT_EQ(object->faceIndexCount, 0u);
  EXPECT_EQ(object->segIndexCount, 2u);
  EXPECT_EQ(single->m_pGroupList->FindByName(String("b"))->faceIndexCount, ngonFaces + 2);
}

TEST_F(ObjReaderTest, NgonsThatCannotBeSplitAreDroppedAlone) {
  // Collinear corners, an out-of-range corner, then a sound pentagon.
  const std::string text =
      "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 3 0 0\nv 4 0 0\n"
      "v 0 0 1\nv 2 0 1\nv 3 1 1\nv 1 2 1\nv -1 1 1\n"
      "f 1 2 3 4 5\nf 6 7 8 9 99\nf 6 7 8 9 10\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->ngonsNotSplit, 2u);
  EXPECT_TRUE(ConsoleHas("2 faces of more than 4 corners could not be split"));
  EXPECT_EQ(m->ngonCount, 3u);
  const NgonRecord* last = static_cast<const NgonRecord*>(m->ngons.Last()->Data());
  EXPECT_GT(last->polygonCount, 0);
  EXPECT_EQ(last->corners[0], 5);
  EXPECT_EQ(m->faceCount, static_cast<ULONG>(last->polygonCount));
}

// What every model must hold where n-gons were split: faces numbered by their place, each
// n-gon's polygons one run of faces on its own corners, and every entry counting the
// faces that name it.
void ExpectNgonsInPlace(const ObjImporter& m) {
  for (ULONG i = 0; i < m.faceCount; ++i) ASSERT_EQ(m.faces[i].sequence, static_cast<LONG>(i));
  for (linkNode* node = m.ngons.First(); node; node = node->Next()) {
    const NgonRecord* r = static_cast<const NgonRecord*>(node->Data());
    for (LONG p = 0; p < r->polygonCount; ++p) {
      ASSERT_LT(static_cast<ULONG>(r->polygons[p]), m.faceCount);
      EXPECT_EQ(r->polygons[p], r->polygons[0] + p);
      const ObjFace& f = m.faces[r->polygons[p]];
      for (int k = 0; k < 4; ++k)
        EXPECT_NE(std::find(r->corners, r->corners + r->cornerCount, f.v[k]), r->corners + r->cornerCount);
    }
  }
  auto expectCounts = [&](auto* first, LONG ObjFace::*field) {
    for (auto* e = first; e; e = static_cast<decltype(e)>(e->Next())) {
      ULONG named = 0;
      for (ULONG i = 0; i < m.faceCount; ++i) named += m.faces[i].*field == e->index;
      EXPECT_EQ(e->faceCount, named) << Text(e->name);
    }
  };
  expectCounts(m.m_pGroupList->First(), &ObjFace::group);
  expectCounts(m.m_pRegionList->First(), &ObjFace::region);
  expectCounts(m.m_pMaterialList->First(), &ObjFace::material);
  expectCounts(m.m_pMeshObjList->First(), &ObjFace::meshObj);
}

// The range check only reads the faces up to the first one it has to change; from there
// on it renumbers. Faces and n-gons ahead of that face keep their numbers, those behind
// it move down, wherever the first change comes.
TEST_F(ObjReaderTest, FacesAheadOfTheFirstChangeKeepTheirNumbers) {
  const std::string points =
      "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\nv 0 0 1\nv 2 0 1\nv 3 1 1\nv 1 2 1\nv -1 1 1\n"
      "vt 0 0\nvt 1 0\nvt 1 1\n";
  const std::string ngonA = "f 1 2 3 4 5\n", ngonB = "f 6/1 7/2 8/3 9/1 10/2\n";
  const std::string quad = "f 1/1 2/2 3/3 4/1\n", noPoint = "f 1 2 99\n", noUV = "f 1/1 2/2 3/9\n";
  const struct {
    const char* name;
    std::string faces;
    ULONG dropped, withoutUVs, ngonFacesFirst;  // ngonFacesFirst: the first n-gon's first face
  } cases[] = {
      {"every face sound", ngonA + quad + ngonB, 0, 0, 0},
      {"a dropped face after both n-gons", ngonA + ngonB + noPoint + quad, 1, 0, 0},
      {"a dropped face between the n-gons", quad + ngonA + noPoint + ngonB + noPoint, 2, 0, 1},
      {"a dropped face first", noPoint + quad + ngonA + ngonB, 1, 0, 1},
      {"UVs out of range between the n-gons", ngonA + noUV + ngonB + noPoint + quad, 1, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("model.obj", points + "g a\n" + c.faces);
    Importer m(ReadObjModel(Filename(path.c_str()), DefaultOpts(), 1.0, TEXTFILE_BLOCKSIZE, TRUE));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->facesDropped, c.dropped);
    EXPECT_EQ(m->facesWithoutUVsOrNormals, c.withoutUVs);
    ExpectNgonsInPlace(*m);
    ASSERT_EQ(m->ngons.Count(), 2);
    const auto* first = static_cast<const NgonRecord*>(m->ngons.First()->Data());
    const auto* second = static_cast<const NgonRecord*>(m->ngons.Last()->Data());
    EXPECT_EQ(first->polygons[0], static_cast<LONG>(c.ngonFacesFirst));
    // The n-gons' faces, the quad, and the face kept without its UVs.
    EXPECT_EQ(m->faceCount, static_cast<ULONG>(first->polygonCount + second->polygonCount) + 1u + c.withoutUVs);
    for (ULONG i = 0; i < m->faceCount; ++i) EXPECT_EQ(m->faces[i].reserved, 0) << "face " << i;
  }
}

// Faces out of range where the reading cannot see it: a coordinate line that pass 1
// counted but pass 2 could not read leaves one entry fewer than pass 1 found, so a face
// naming the last one is out of range after all; and a face in the second of two ranges
// is checked by the second thread. Either is dropped or loses its UVs or normals, with
// one thread and with two.
TEST_F(ObjReaderTest, FacesOutOfRangeAreTakenOutWhereverTheyAreFound) {
  const std::string sound = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1 3/1/1\n";
  std::string points, faces;  // enough for two ranges
  const int side = 150;
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) points += "v " + std::to_string(i) + " " + std::to_string(j) + " 0\nvt 0 0\n";
  for (int round = 0; faces.size() < (size_t{2} << 20); ++round) {
    const int a = 1 + round % (side * side - side - 1);
    faces += "f " + std::to_string(a) + "/1 " + std::to_string(a + 1) + "/1 " + std::to_string(a + side) + "/1\n";
  }
  const struct {
    const char* name;
    std::string text;
    ULONG dropped, withoutUVsOrNormals;
    bool byRanges;
  } cases[] = {
      {"a point that did not read", sound + "v 1 x 0\nf 1 2 4\n", 1, 0, false},
      {"a UV that did not read", sound + "vt x\nf 1/1 2/1 3/2\n", 0, 1, false},
      {"a normal that did not read", sound + "vn 0 x 1\nf 1//1 2//2 3//1\n", 0, 1, false},
      {"no point, second range", points + faces + "f 1/1 2/1 99999/1\n" + faces, 1, 0, true},
      {"no UV, second range", points + faces + "f 1/1 2/1 3/99999\n" + faces, 0, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto [one, two] = ReadWithOneThreadAndTwo(c.text, DefaultOpts(), TRUE);
    ASSERT_TRUE(one && two);
    for (const ObjImporter* m : {one.get(), two.get()}) {
      SCOPED_TRACE(m == one.get() ? "one thread" : "two threads");
      EXPECT_EQ(m->facesDropped, c.dropped);
      EXPECT_EQ(m->facesWithoutUVsOrNormals, c.withoutUVsOrNormals);
      ULONG outOfRange = 0;
      for (ULONG i = 0; i < m->faceCount; ++i)
        for (int k = 0; k < 4; ++k) {
          const ObjFace& f = m->faces[i];
          outOfRange += static_cast<ULONG>(f.v[k]) >= m->vertexCount || static_cast<ULONG>(f.vt[k]) >= m->uvCount ||
                        static_cast<ULONG>(f.vn[k]) >= m->normalCount;
        }
      EXPECT_EQ(outOfRange, 0u);
    }
    EXPECT_EQ(two->readByRanges != 0, c.byRanges);
    ExpectSameModel(*one, *two);
  }
}

// Enough n-gons for their split to run on two threads, between triangles, quads and
// naming statements, some with UVs and normals, some that cannot be split: one thread
// and two make the same model, and every face comes where its line stands.
TEST_F(ObjReaderTest, NgonsSplitAfterReadingStayInFileOrder) {
  std::string text = "vt 0.5 0.5\nvn 0 0 1\n";
  std::string faces;
  std::mt19937 random(1210);
  int points = 0, unsplittable = 0;
  const int kNgons = 400;
  std::vector<LONG> starts;  // each n-gon's first point
  for (int k = 0; k < kNgons; ++k) {
    const int n = 8 + static_cast<int>(random() % 33);
    const int first = points + 1;
    starts.push_back(points);
    for (int c = 0; c < n; ++c) {
      const double angle = 2 * M_PI * c / n;
      // Regular, star-shaped (concave) or all on one line (cannot be split).
      const double radius = k % 3 == 1 && c % 2 ? 0.6 : 1.0;
      char line[96];
      if (k % 50 == 7)
        std::snprintf(line, sizeof(line), "v %d 0 %d\n", c, k);
      else
        std::snprintf(line, sizeof(line), "v %.6f %.6f %d\n", radius * std::cos(angle), radius * std::sin(angle), k);
      text += line;
    }
    points += n;
    if (k % 7 == 0) faces += "g part" + std::to_string(k % 3) + "\n";
    if (k % 11 == 0) faces += "usemtl m" + std::to_string(k % 4) + "\n";
    if (k % 13 == 0) faces += "o obj" + std::to_string(k % 5) + "\n";
    if (k % 17 == 0) faces += "# r side" + std::to_string(k % 2) + "\n";
    faces += "f " + std::to_string(first) + " " + std::to_string(first + 1) + " " + std::to_string(first + 2) + "\n";
    std::string ngon = "f";
    for (int c = 0; c < n; ++c) {
      const int index = k % 70 == 30 && c == 3 ? 9999999 : first + c;  // a corner that does not exist
      ngon += " " + std::to_string(index) + (k % 4 == 2 ? "/1/1" : "");
    }
    faces += ngon + "\n";
    unsplittable += k % 50 == 7 || k % 70 == 30;
    faces += "f " + std::to_string(first) + " " + std::to_string(first + 1) + " " + std::to_string(first + 2) + " " +
             std::to_string(first + 3) + "\n";
  }
  text += faces;
  for (const Bool reverse : {FALSE, TRUE}) {
    SCOPED_TRACE(reverse ? "reversed" : "in order");
    PluginOpts opts = DefaultOpts();
    if (reverse) opts.geomFlags |= GEOM_REVERSE_ORDER;
    auto [one, two] = ReadWithOneThreadAndTwo(text, opts);
    ASSERT_TRUE(one);
    ASSERT_TRUE(two);
    ExpectSameModel(*one, *two);
    ExpectNgonsInPlace(*two);
    EXPECT_EQ(two->ngonCount, ULONG(kNgons));
    EXPECT_EQ(two->ngonsNotSplit, ULONG(unsplittable));
    // Without line elements no object has groups to mark.
    ASSERT_GE(two->m_pMeshObjList->Count(), 5);
    for (meshObj* o = two->m_pMeshObjList->First(); o; o = o->Next()) EXPECT_EQ(o->groupUsed, nullptr);
    // Faces in file order: the faces around an n-gon and its own lie on its points, and
    // the points come in the order of the n-gons.
    long previous = 0;
    for (ULONG i = 0; i < two->faceCount; ++i) {
      const LONG lowest = *std::min_element(two->faces[i].v, two->faces[i].v + 4);
      const long owner = std::upper_bound(starts.begin(), starts.end(), lowest) - starts.begin() - 1;
      EXPECT_GE(owner, previous) << "face " << i;
      previous = owner;
    }
    const ObjFace& last = two->faces[two->faceCount - 1];
    EXPECT_EQ(last.cornerCount, 4);  // the quad after the last n-gon
    // The n-gon with UVs and normals gives them to its polygons.
    const NgonRecord* withUVs = static_cast<const NgonRecord*>(two->ngons.First()->Next()->Next()->Data());
    ASSERT_GT(withUVs->polygonCount, 0);
    EXPECT_EQ(two->faces[withUVs->polygons[0]].flags & (FACE_HAS_UVS | FACE_HAS_NORMALS),
              ULONG{FACE_HAS_UVS | FACE_HAS_NORMALS});
    EXPECT_EQ(two->faces[withUVs->polygons[0]].vt[1], 0);
  }
}

// One splitter reused for outline after outline (one that cannot be covered among them)
// gives each the polygons a splitter of its own gives it.
TEST_F(ObjReaderTest, ASplitterReusedSplitsEachOutlineAsANewOne) {
  auto ring = [](int n, double inner) {
    std::vector<Vector> corners;
    for (int c = 0; c < n; ++c) {
      const double angle = 2 * M_PI * c / n, radius = c % 2 ? inner : 1.0;
      corners.emplace_back(radius * std::cos(angle), radius * std::sin(angle), 0.25 * c / n);
    }
    return corners;
  };
  const std::vector<std::vector<Vector>> outlines = {
      ring(5, 1.0),
      ring(12, 0.4),
      {Vector(0, 0, 0), Vector(1, 0, 0), Vector(2, 0, 0), Vector(3, 0, 0), Vector(4, 0, 0)},  // one line
      {Vector(0, 0, 0), Vector(2, 0, 0), Vector(2, 1, 0), Vector(1, 1, 0), Vector(1, 2, 0), Vector(0, 2, 0)},
      ring(64, 0.9),
      ring(6, 1.0),
  };
  NgonSplitter shared;
  for (size_t i = 0; i < outlines.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<Vector>& corners = outlines[i];
    const LONG n = static_cast<LONG>(corners.size());
    NgonSplitter own;
    LONG ownCount = 0, sharedCount = 0;
    Bool ownMemory = FALSE, sharedMemory = FALSE;
    const CPolygon* expected = own.Split(n, corners.data(), &ownCount, &ownMemory);
    const CPolygon* got = shared.Split(n, corners.data(), &sharedCount, &sharedMemory);
    EXPECT_FALSE(ownMemory || sharedMemory);
    ASSERT_EQ(got == nullptr, expected == nullptr);
    if (i == 2) {
      EXPECT_EQ(got, nullptr);
      continue;
    }
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(sharedCount, ownCount);
    EXPECT_GE(sharedCount, (n - 1) / 2);
    EXPECT_LE(sharedCount, n - 2);
    for (LONG p = 0; p < sharedCount; ++p) {
      const LONG a[] = {got[p].a, got[p].b, got[p].c, got[p].d}, b[] = {expected[p].a, expected[p].b, expected[p].c,
                                                                        expected[p].d};
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(a[k], b[k]);
        EXPECT_TRUE(a[k] >= 0 && a[k] < n);
      }
    }
  }
}

TEST_F(ObjReaderTest, LineElements) {
  const std::string text = std::string(kSquare) + "g wire\nl 1 2 3\nl 1/1 2/2\nl 1//4 3//2 -1//1\nl 5\n";
  Importer m = Read(text);  // without the option: ignored
  ASSERT_TRUE(m);
  EXPECT_EQ(m->segmentCount, 0u);
  EXPECT_EQ(m->faceCount, 0u);

  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS;
  m = Read(text, opts);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->segmentCount, 3u);
  EXPECT_EQ(m->contentFlags & OBJ_HAS_SEGMENTS, ULONG{OBJ_HAS_SEGMENTS});
  const std::vector<std::vector<LONG>> expected = {{0, 1, 2}, {0, 1}, {0, 2, 3}};
  for (ULONG i = 0; i < 3; ++i) {
    const ObjSegment& s = m->segments[i];
    ASSERT_EQ(s.pointCount, static_cast<LONG>(expected[i].size()));
    for (LONG k = 0; k < s.pointCount; ++k) {
      EXPECT_EQ(s.points[k], expected[i][static_cast<size_t>(k)]);
      EXPECT_EQ(s.pointUVs[k], 0);
      EXPECT_EQ(s.pointNormals[k], 0);
    }
    EXPECT_EQ(s.sequence, static_cast<LONG>(i));
    EXPECT_EQ(s.flags, 0u);
  }
  meshObj* object = m->m_pMeshObjList->First();
  ASSERT_TRUE(object);
  EXPECT_EQ(object->segCount, 3u);
  ioGroup* wire = m->m_pGroupList->FindByName(String("wire"));
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->segCount, 3u);
  ASSERT_GT(object->groupUsedCount, static_cast<ULONG>(wire->index));
  EXPECT_EQ(object->groupUsed[wire->index], 1);

  opts.layoutFlags |= IMP_LINES_AS_FACES;
  m = Read(text, opts);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->segmentCount, 0u);
  EXPECT_EQ(m->faceCount, 2u);  // "l 1 2 3" and the normal-index form; two corners make no face
}

TEST_F(ObjReaderTest, MaterialLibraryBesideTheFile) {
  WriteFile("lib.mtl",
            "newmtl red\nKd 1 0 0\nnewmtl red2\nKd 1 0 0\nnewmtl unused\nKd 0 1 0\nnewmtl wood\nmap_Kd C:\\tex\\wood.jpg\n");
  const std::string faces = std::string(kTriangle) + "mtllib ../elsewhere/lib.mtl\nusemtl red\nf 1 2 3\nusemtl red2\nf 1 2 3\n" +
                            "usemtl wood\nf 1 2 3\n";
  PluginOpts opts = DefaultOpts();
  opts.materialFlags &= ~ULONG{MAT_CONSOLIDATE};
  Importer m = Read(faces, opts);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->contentFlags & OBJ_HAS_MTLLIB, ULONG{OBJ_HAS_MTLLIB});
  EXPECT_EQ(m->m_pMaterialList->Count(), 3);  // "unused" is not used by any face
  ioMaterial* red = m->m_pMaterialList->FindByName(String("red"));
  ASSERT_TRUE(red);
  EXPECT_TRUE(red->hasDiffuse);
  EXPECT_EQ(red->diffuse, Vector(1, 0, 0));
  ioMaterial* wood = m->m_pMaterialList->FindByName(String("wood"));
  ASSERT_TRUE(wood);
  EXPECT_STREQ(wood->mapDiffuse, "wood.jpg");

  // Merged: red2 becomes red, and the faces of both name the one entry.
  opts.materialFlags |= MAT_CONSOLIDATE;
  opts.mergeToleranceR = opts.mergeToleranceG = opts.mergeToleranceB = 1;
  m = Read(faces, opts);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->m_pMaterialList->Count(), 2);
  EXPECT_TRUE(ConsoleHas("NumMaterials: 3"));
  EXPECT_TRUE(ConsoleHas("Merged: 2"));
  EXPECT_EQ(m->faces[0].material, m->faces[1].material);
  EXPECT_NE(m->faces[0].material, m->faces[2].material);
  EXPECT_EQ(m->m_pMaterialList->FindByName(String("red2")), m->m_pMaterialList->FindByName(String("red")));

  // A library that cannot be opened: the flag goes, the materials keep their defaults.
  m = Read(std::string(kTriangle) + "mtllib missing.mtl\nusemtl red\nf 1 2 3\n", opts);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->contentFlags & OBJ_HAS_MTLLIB, 0u);
  EXPECT_FALSE(m->m_pMaterialList->First()->hasDiffuse);
}

TEST_F(ObjReaderTest, OnlyCommentsFailsToParse) {
  EXPECT_FALSE(Read("# nothing here\n# at all\n"));
  EXPECT_TRUE(ConsoleHas("File Parsing Failed"));
  EXPECT_FALSE(Read(""));
}

// Pass 1 reads the numbers of a coordinate line only until one of its kind read; the
// counts the model ends with are still those of the lines that read.
TEST_F(ObjReaderTest, CoordinateCountsAreTheLinesThatRead) {
  const struct {
    const char* name;
    const char* text;
    ULONG vertices, normals, uvs;
    Vector last;  // the last vertex, which "f -1 ..." names
  } cases[] = {
      {"lines that do not read first", "v 1 x 3\nv 1 2 3\nvn 1\nvn 0 0 1\nvt .\nvt 0 1\nf -1 -1 -1\n", 1, 1, 1,
       Vector(1, 2, 3)},
      {"lines that do not read after sound ones",
       "v 1 2 3\nvn 0 1 0\nvt 0 0\nv 1 x 3\nvn 0 1\nvt x\nv 4 5 6\nv -\nf -1 -1 -1\n", 2, 1, 1, Vector(4, 5, 6)},
      {"no normal or uv line reads (one entry stands for none)", "v 0 0 7\nvt x y\nvn a b c\nf 1 1 1\n", 1, 1, 1,
       Vector(0, 0, 7)},
  };
  for (const auto& c : cases) {
    for (const char* threads : {"1", "2"}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + threads);
      SetEnv("KELVANE_THREADS", threads);
      Importer m = Read(c.text);
      SetEnv("KELVANE_THREADS", nullptr);
      ASSERT_TRUE(m);
      EXPECT_EQ(m->vertexCount, c.vertices);
      EXPECT_EQ(m->normalCount, c.normals);
      EXPECT_EQ(m->uvCount, c.uvs);
      ASSERT_EQ(m->faceCount, 1u);
      EXPECT_EQ(m->faces[0].v[0], static_cast<LONG>(c.vertices - 1));
      EXPECT_EQ(m->vertices[c.vertices - 1], c.last);
    }
  }
  // Whether any vertex reads still decides whether the file is read at all.
  EXPECT_FALSE(Read("v 1 x 3\nv -\nvt 0 0\nvn 0 0 1\nv 1 2\nf 1 2 3\n"));
  EXPECT_TRUE(ConsoleHas("File Parsing Failed"));
}

TEST_F(ObjReaderTest, CapacitiesSkipWholeStatements) {
  std::string bigFace = "f";
  for (int i = 0; i < 501; ++i) bigFace += " 1";
  std::string longFace = "f 1 2 3";
  while (longFace.size() < 2100) longFace += " 1";
  const std::string longComment = "# " + std::string(3000, 'c') + " v 1 1 1";
  const std::string longName = "g " + std::string(300, 'n');
  const std::string text = std::string(kTriangle) + bigFace + "\n" + longFace + "\n" + longComment + "\n" + longName +
                           "\nf 1 2 3\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->vertexCount, 3u);  // nothing of the long lines was read as a statement
  EXPECT_EQ(m->faceCount, 1u);
  EXPECT_EQ(m->facesTooLarge, 1u);
  EXPECT_EQ(m->linesTooLong, 1u);  // the face; the comment does not count
  EXPECT_TRUE(ConsoleHas("1 faces with more than 500 corners were skipped"));
  EXPECT_TRUE(ConsoleHas("1 lines longer than 2047 characters were skipped"));
  EXPECT_EQ(GroupNames(*m), (std::vector<std::string>{"default_Grp", std::string(255, 'n')}));
}

TEST_F(ObjReaderTest, DamagedFilesNeitherCrashNorMisread) {
  // No final line end; a continuation at the very end; CR line ends; a NUL byte.
  Importer m = Read(std::string(kTriangle) + "f 1 2 \\\n3");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->faceCount, 1u);
  m = Read(std::string(kTriangle) + "f 1 2 3 \\");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->faceCount, 1u);
  m = Read("v 0 0 0\rv 1 0 0\r\rv 0 1 0\rf 1 2 3");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->faceCount, 1u);
  m = Read(std::string("v 0 0 0\nv 1 0\0 0\nv 1 1 1\n", 25));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->vertexCount, 2u);

  // A UTF-16 file reads as nothing the reader knows.
  std::string wide = "\xFF\xFE";
  for (char c : std::string(kTriangle) + "f 1 2 3\n") {
    wide += c;
    wide += '\0';
  }
  EXPECT_FALSE(Read(wide));

  // Binary garbage: whatever is read, the model stays within its arrays.
  std::mt19937 random(99);
  for (int round = 0; round < 20; ++round) {
    std::string bytes;
    for (int i = 0; i < 4000; ++i) {
      const unsigned pick = random() % 100;
      static const char kWords[] = "v 1 2 3\nf 1 2 3 4 5 6\nl 1 2\ng x y\n";
      bytes += pick < 30 ? kWords[random() % (sizeof(kWords) - 1)] : static_cast<char>(random());
    }
    PluginOpts opts = DefaultOpts();
    opts.layoutFlags |= IMP_LINE_ELEMENTS;
    Importer g = Read(bytes, opts, 1 + static_cast<LONG>(random() % 64));
    if (!g) continue;
    for (ULONG i = 0; i < g->faceCount; ++i) EXPECT_EQ(g->faces[i].sequence, static_cast<LONG>(i));
  }
}

// Face lines of every form, well and badly written, with n-gons among them: the model
// is the same whatever the block size, and pass 2 stores exactly what pass 1 counted.
TEST_F(ObjReaderTest, BlockSizesAndBothPassesAgree) {
  std::string text = "mtllib lib.mtl\n";
  for (int i = 0; i < 12; ++i) {
    const double angle = i * 3.14159265358979 / 6;
    char line[96];
    std::snprintf(line, sizeof(line), "v %.6f %.6f 0\nvt %.3f %.3f\nvn 0 0 1\n", std::cos(angle), std::sin(angle),
                  0.5 + std::cos(angle) / 2, 0.5 + std::sin(angle) / 2);
    text += line;
  }
  const char* forms[] = {"%d", "%d/%d", "%d/%d/%d", "%d//%d", "%d/%d/", "%d//", "%d/", "%dx", "-%d"};
  std::mt19937 random(5);
  for (int i = 0; i < 150; ++i) {
    if (i % 17 == 0) text += "o part" + std::to_string(i % 3) + "\n";
    if (i % 11 == 0) text += "g grp" + std::to_string(i % 4) + " other\n";
    if (i % 13 == 0) text += "usemtl mat " + std::to_string(i % 5) + "\n";
    if (i % 19 == 0) text += "# r side" + std::to_string(i % 2) + "\n";
    if (i % 23 == 0) text += "l 1 2 3\n";
    const int corners = 3 + static_cast<int>(random() % 8);
    const int start = static_cast<int>(random() % 12);
    const int form = static_cast<int>(random() % 4);
    std::string line = "f";
    for (int k = 0; k < corners; ++k) {
      // A regular polygon's corners in order, mostly in one form.
      const int index = 1 + (start + k) % 12;
      const char* fmt = forms[(random() % 10 == 0) ? random() % 9 : static_cast<unsigned>(form)];
      char token[32];
      std::snprintf(token, sizeof(token), fmt, index, index, index);
      line += " ";
      line += token;
    }
    text += line + (i % 7 == 0 ? " \\\n" : "\n");
  }
  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS;
  Importer whole = Read(text, opts);
  ASSERT_TRUE(whole);
  const std::string expected = Describe(*whole);
  for (const LONG block : {1, 2, 3, 5, 7, 13, 64, 1000}) {
    SCOPED_TRACE(block);
    Importer m = Read(text, opts, block);
    ASSERT_TRUE(m);
    EXPECT_EQ(Describe(*m), expected);
  }

  // Pass by pass: every n-gon record is met by a face of its corner count.
  const std::string path = WriteFile("passes.obj", text);
  ObjImporter* importer = ObjImporter::Alloc();
  ASSERT_TRUE(importer);
  importer->SetOptions(opts, 1.0);
  ASSERT_EQ(importer->Open(Filename(path.c_str())), 0);
  ASSERT_TRUE(importer->ScanObj(String("passes.obj")));
  const ULONG ngonsCounted = importer->ngonCount;
  ASSERT_TRUE(importer->AllocModel());
  ASSERT_TRUE(importer->ReadObj());
  EXPECT_EQ(importer->ngonsStored, ngonsCounted);
  for (linkNode* node = importer->ngons.First(); node; node = node->Next()) {
    const NgonRecord* r = static_cast<const NgonRecord*>(node->Data());
    if (r->polygonCount == 0) continue;  // not splittable (repeated corners)
    for (LONG k = 0; k < r->cornerCount; ++k) EXPECT_GE(r->corners[k], 0);
  }
  ObjImporter::Free(importer);
}

TEST_F(ObjReaderTest, StatusBarEvery64Lines) {
  std::string text;
  for (int i = 0; i < 640; ++i) text += "v 1 2 3\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->lineTotal, 640u);
  EXPECT_EQ(host::Status().barUpdates, 10);
  EXPECT_EQ(host::Status().bar, 100);
}

TEST_F(ObjReaderTest, MissingMemoryAtEveryAllocation) {
  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS;
  const std::string path = WriteFile("mem.obj", std::string(kSquare) +
                                                    "vt 0 0\nvn 0 0 1\no a\ng g1\nusemtl m\n# r r1\n"
                                                    "f 1 2 3 4\nv 2 0.5 0\nf 1 2 5 3 4\nl 1 2 3\n");
  EveryAllocation([&] {
    ObjImporter* m = ReadObjModel(Filename(path.c_str()), opts, 1.0);
    const bool ok = m != nullptr;
    if (ok) {
      EXPECT_EQ(m->segmentCount, 1u);
      EXPECT_EQ(m->vertexCount, 5u);
    }
    ObjImporter::Free(m);
    return ok;
  });
}

}  // namespace

// Face lines of plain tokens (the reader's quick path) and lines that only look plain:
// read as the C library reads them, every shape, signs, a token of another shape.
TEST_F(ObjReaderTest, PlainFaceLinesReadAsTheLibraryReadsThem) {
  const char* shapes[] = {"n/n/n", "n//n", "n/n", "n/n/", "n//", "n/", "n"};
  const ULONG kFlags[] = {0xC0, 0x40, 0x80, 0x80, 0, 0, 0};
  std::mt19937 random(23);
  auto token = [&](const char* shape) {
    std::string t;
    for (const char* p = shape; *p; ++p) {
      if (*p != 'n') {
        t += *p;
        continue;
      }
      const unsigned sign = random() % 8;
      t += sign == 0 ? "-" : sign == 1 ? "+" : "";
      t += std::to_string(1 + random() % 4);
    }
    return t;
  };
  std::string text = std::string(kSquare) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";
  std::vector<LibraryFace> expected;
  while (expected.size() < 600) {
    const int shape = static_cast<int>(random() % 7);
    const int count = 2 + static_cast<int>(random() % 3);
    std::string line;
    for (int k = 0; k < count; ++k) {
      const bool odd = random() % 12 == 0;  // one token of another shape now and then
      line += (random() % 5 == 0 ? "\t" : " ") + token(shapes[odd ? random() % 7 : static_cast<unsigned>(shape)]);
    }
    if (random() % 6 == 0) line += " ";
    const LibraryFace face = ReadWithLibrary(line);
    if (face.corners.size() > 4) continue;
    if (face.corners.size() >= 3) expected.push_back(face);
    text += "f" + line + "\n";
  }
  Importer m = Read(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->faceCount, expected.size());
  auto resolve = [](long written) { return written > 0 ? written - 1 : written < 0 ? 4 + written : -1; };
  ExpectLibraryFaces(m->faces, expected, kFlags, resolve, resolve);
}

TEST_F(ObjReaderTest, LongIndicesReadAsTheLibraryReadsThem) {
  // Indices of 1 to 20 digits (leading zeros, signs), with all kinds of bytes after
  // them and near the line's end or far from it: eight digits are read at a time where
  // the line holds eight bytes, and the values must be what "%ld" gives (saturated),
  // cut to the index range.
  if (sizeof(long) < 8) GTEST_SKIP() << "\"%ld\" reads 32 bits here; the reader reads as where long has 64";
  const char* after[] = {"", "", "/", "x", ":", "\x2f", "\xfa", "\xff", "\x39\xfa", "."};
  std::mt19937 random(31);
  auto number = [&] {
    std::string t;
    const unsigned sign = random() % 6;
    t += sign == 0 ? "-" : sign == 1 ? "+" : "";
    t += std::string(random() % 4 == 0 ? random() % 9 : 0, '0');
    const int digits = 1 + static_cast<int>(random() % 20);
    t += static_cast<char>('1' + random() % 9);
    for (int k = 1; k < digits; ++k) t += static_cast<char>('0' + random() % 10);
    return t;
  };
  const char* shapes[] = {"n", "n/n", "n/n/n", "n//n"};
  std::string text = std::string(kSquare) + "vt 0 0\nvn 0 0 1\n";
  std::vector<LibraryFace> expected;
  while (expected.size() < 500) {
    const char* shape = shapes[random() % 4];
    std::string line;
    const int count = 3 + static_cast<int>(random() % 2);
    for (int k = 0; k < count; ++k) {
      line += " ";
      for (const char* p = shape; *p; ++p) line += *p == 'n' ? number() : std::string(1, *p);
      if (random() % 4 == 0) line += after[random() % (sizeof(after) / sizeof(after[0]))];
    }
    if (random() % 3 == 0) line += std::string(random() % 12, ' ');
    const LibraryFace face = ReadWithLibrary(line);
    if (face.corners.size() > 4) continue;
    if (face.corners.size() >= 3) expected.push_back(face);
    text += "f" + line + "\n";
  }
  Importer m = Read(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->faceCount, expected.size());
  auto resolve = [](long written) -> LONG {
    const long long r = written > 0 ? written - 1LL : written < 0 ? 4LL + written : -1;
    return static_cast<LONG>(std::clamp<long long>(r, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
  };
  auto uvResolve = [](long written) -> LONG {
    const long long r = written > 0 ? written - 1LL : written < 0 ? 1LL + written : -1;
    return static_cast<LONG>(std::clamp<long long>(r, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
  };
  ExpectLibraryFaces(m->faces, expected, nullptr, resolve, uvResolve);
}

// Coordinates give exactly the value strtod gives: the written forms of decimals,
// exponents, long mantissas, values at the ends of the range, and the forms only the
// general reader takes (hexadecimal, inf, nan, signs).
TEST_F(ObjReaderTest, CoordinatesReadAsStrtodReadsThem) {
  std::vector<std::string> numbers = {
      "0", "-0", "+2", ".5", "5.", "-.25", "1e-3", "1E+3", "1e", "2.5e", "0.1", "0.30000000000000004",
      "123456789012345678901234567890", "1.00000000000000011102230246251565404236316680908203125",
      "1.7976931348623157e308", "1.8e308", "4.9406564584124654e-324", "2.4703282292062327e-324", "1e-400",
      "2.2250738585072011e-308", "0x1p3", "0X1.8P1", "inf", "-INF", "000000.000001000", "9007199254740993",
      "0.000000000000000000000000000000000000001", "6.02214076e23", "-1.5e-5"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::string n = random() % 4 == 0 ? "-" : "";
    const int whole = static_cast<int>(random() % 12), fraction = static_cast<int>(random() % 20);
    for (int k = 0; k < whole; ++k) n += static_cast<char>('0' + random() % 10);
    if (fraction || whole == 0) n += ".";
    for (int k = 0; k < fraction || (whole == 0 && k == 0); ++k) n += static_cast<char>('0' + random() % 10);
    if (random() % 3 == 0) n += "e" + std::to_string(static_cast<int>(random() % 80) - 40);
    numbers.push_back(n);
  }
  std::string text;
  for (const std::string& n : numbers) text += "v " + n + " " + n + " 1\n";
  Importer m = Read(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->vertexCount, numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i) {
    // Values that are no finite numbers are read as 0.
    double want = std::strtod(numbers[i].c_str(), nullptr);
    if (!std::isfinite(want)) want = 0.0;
    SCOPED_TRACE(numbers[i]);
    EXPECT_EQ(std::memcmp(&m->vertices[i].x, &want, sizeof(double)), 0) << m->vertices[i].x << " vs " << want;
    EXPECT_EQ(std::memcmp(&m->vertices[i].y, &want, sizeof(double)), 0);
  }
  // "nan" reads, as the value 0.
  m = Read("v nan 0 0\n");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->vertices[0].x, 0.0);
  EXPECT_EQ(m->valuesNotFinite, 1u);
}

// Lines read in place in the file's block and lines the reader copies (continued, cut,
// with zero bytes or CR line ends, across blocks) give the same statements.
TEST_F(ObjReaderTest, LinesInPlaceAndCopiedAgree) {
  const std::string lines[] = {
      "v 1 2 3\n", "v 4 5 6\r\n", "   \tv 7 8 9\n", "\n\r\n", "v 1 \\\n 1 1\n", "# comment \\ kept\n",
      "g a\\b\n", "o name \"quoted \\\" text\"\n", std::string("v 2 2 2\0 9\n", 11), "f 1 2 3\r",
      "f 1/1/1 2/2/2 3/3/3\n", "usemtl m\n", "f 1 2 \\\n3 4\n", std::string(2100, 'x') + "\n", "f -1 -2 -3\n",
      "vt 0.5 0.5\n", "vn 0 0 1\n", "l 1 2 3\n", "# r region\n"};
  std::mt19937 random(3);
  std::string text;
  for (int i = 0; i < 1500; ++i) text += lines[random() % (sizeof(lines) / sizeof(lines[0]))];
  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS;
  Importer whole = Read(text, opts);
  ASSERT_TRUE(whole);
  const std::string expected = Describe(*whole);
  // Small blocks put line ends outside the block and send most lines the copying way.
  for (const LONG block : {1, 16, 100, 2047, 2048, 4099}) {
    SCOPED_TRACE(block);
    Importer m = Read(text, opts, block);
    ASSERT_TRUE(m);
    EXPECT_EQ(Describe(*m), expected);
  }
}

// A model large enough to be prefaulted by a second thread, of every feature: the same
// model with one thread and with two, field by field.
TEST_F(ObjReaderTest, OneThreadAndTwoReadTheSameModel) {
  std::string text = "mtllib lib.mtl\n";
  std::mt19937 random(17);
  const int side = 128;
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) {
      char line[160];
      std::snprintf(line, sizeof(line), "v %d.%03d %.6e %d\nvt %.4f %.4f\nvn 0 %d 1\n", i, j, j * 0.013, -i,
                    i / double(side), j / double(side), (i + j) % 3);
      text += line;
    }
  for (int round = 0; round < 14; ++round) {
    text += "o part" + std::to_string(round % 4) + "\ng grp" + std::to_string(round % 3) + " other\n";
    text += "usemtl mat" + std::to_string(round % 5) + "\n# r side" + std::to_string(round % 2) + "\n";
    for (int j = 0; j + 1 < side; ++j)
      for (int i = 0; i + 1 < side; ++i) {
        const int a = j * side + i + 1, b = a + 1, c = a + side + 1, d = a + side;
        char line[128];
        switch ((i + j + round) % 9) {
          case 0: std::snprintf(line, sizeof(line), "f %d %d %d\n", a, b, c); break;
          case 1: std::snprintf(line, sizeof(line), "f %d//%d %d//%d %d//%d\n", a, a, b, b, c, c); break;
          case 2: std::snprintf(line, sizeof(line), "f %d/%d %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, d, d); break;
          case 3: std::snprintf(line, sizeof(line), "f -1 -2 -%d\n", side); break;
          case 4: std::snprintf(line, sizeof(line), "l %d %d %d\n", a, b, c); break;
          case 5: std::snprintf(line, sizeof(line), "f %d/%d/ %d/%d/ %d/%d/ x\n", a, a, b, b, c, c); break;
          default:
            std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c, d,
                          d, d);
        }
        text += line;
      }
    // Points between the faces: negative indices count them in file order.
    text += "v 1 2 3\nvn 0 1 0\nvt 0.5 0.5\nf -1 -2 -3\n";
    // n-gons of a row of points and back
    for (int k = 0; k < 4; ++k) {
      std::string ngon = "f";
      const int row = static_cast<int>(random() % (side - 1));
      for (int i = 0; i < 8; ++i) ngon += " " + std::to_string(row * side + i + 1 + k * 8);
      for (int i = 7; i >= 0; --i) ngon += " " + std::to_string((row + 1) * side + i + 1 + k * 8);
      text += ngon + "\n";
    }
  }
  PluginOpts opts = DefaultOpts();
  opts.layoutFlags |= IMP_LINE_ELEMENTS;
  // Sound coordinates only, then with lines whose numbers do not read among them (the
  // second thread's count of them must still agree).
  const std::string broken = "v 1 x 3\nvt .\nvn 1 2\nv nan 1 1\nv 0x1p2 -inf +.5e1\n";
  for (const std::string& file : {text, broken + text + broken + "f -1 -2 -3\n"}) {
    auto [one, two] = ReadWithOneThreadAndTwo(file, opts);
    ASSERT_TRUE(one);
    ASSERT_TRUE(two);
    // Large enough for the second thread to be used.
    EXPECT_GE(file.size(), size_t{4} << 20);
    EXPECT_GE(sizeof(ObjFace) * two->faceCount + sizeof(Vector) * 3 * two->vertexCount, size_t{16} << 20);
    EXPECT_GT(two->ngonCount, 0u);
    EXPECT_GT(two->segmentCount, 0u);
    ExpectSameModel(*one, *two);
    EXPECT_EQ(one->valuesNotFinite, two->valuesNotFinite);
    // Each broken block holds two vertices that read (nan and hexadecimal ones do).
    const ULONG brokenBlocks = file == text ? 0 : 2;
    EXPECT_EQ(two->vertexCount, ULONG(side * side + 14) + 2 * brokenBlocks);
    EXPECT_EQ(two->uvCount, ULONG(side * side + 14));
    EXPECT_EQ(two->normalCount, ULONG(side * side + 14));
  }
}

// Files that pass 2 reads as two ranges on two threads (no n-gons, no line elements):
// the model of one thread, whatever stands around the point where the file is split.
// Naming statements of every kind, some that select nothing, come every few faces, so
// that the second range must start with the entries in force at its first line; faces
// count back to points defined on both sides; some coordinate lines do not read.
TEST_F(ObjReaderTest, TwoRangesReadTheModelOfOneThread) {
  std::mt19937 random(20261210);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // The last four name entries that no earlier statement named, so that the second
  // range's names come after the first's in the lists.
  const char* namings[] = {"g grp%d other\n", "g\n", "g   \n", "o part%d\n", "o\n", "usemtl mat%d\n",
                           "# r side%d\n", "# r\n", "# comment %d\n", "g late%d\n", "o late%d\n",
                           "usemtl late%d\n", "# r late%d\n"};
  int late = 0;
  // pointsBetween: 0 none, 1 sound ones, 2 some that do not read among them, 3 sound ones
  // and now and then a face line that pass 1 counts as a face but that makes none.
  auto build = [&](bool crlf, bool continued, int pointsBetween, int side, int namingEvery) {
    std::string text;
    char line[200];
    for (int j = 0; j < side; ++j)
      for (int i = 0; i < side; ++i) {
        std::snprintf(line, sizeof(line), "v %d.%03d %.6e %d\nvt %.4f %.4f\nvn 0 %d 1\n", i, j, j * 0.013, -i,
                      i / double(side), j / double(side), (i + j) % 3);
        text += line;
      }
    while (text.size() < (size_t{6} << 20)) {
      if (pick(namingEvery) == 0) {
        const int naming = pick(13);
        std::snprintf(line, sizeof(line), namings[naming], naming >= 9 ? late++ : pick(6));
        text += line;
      }
      if (pointsBetween && pick(3) == 0)
        text += pointsBetween == 2 && pick(5) == 0 ? "v 1 x 3\nvt .\n" : "v 1 2 3\nvn 0 1 0\nvt 0.5 0.5\n";
      if (pointsBetween == 3 && pick(50) == 0) text += "f 1 2 x\n";
      const int a = 1 + pick(side - 1) * side + pick(side - 1), b = a + 1, c = a + side + 1, d = a + side;
      switch (pick(6)) {
        case 0: std::snprintf(line, sizeof(line), "f %d %d %d", a, b, c); break;
        case 1: std::snprintf(line, sizeof(line), "f %d//%d %d//%d %d//%d", a, a, b, b, c, c); break;
        case 2: std::snprintf(line, sizeof(line), "f -1/-1 -2/-2 -3/-3 -4/-4"); break;
        case 3: std::snprintf(line, sizeof(line), "f %d/%d/ %d/%d/ %d/%d/ x", a, a, b, b, c, c); break;
        default:
          std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d", a, a, a, b, b, b, c, c, c, d, d,
                        d);
      }
      std::string face = line;
      if (continued && pick(4) == 0) face.insert(face.find(' ', 2), " \\\n ");
      text += face + (crlf ? "\r\n" : "\n");
    }
    return text;
  };
  // 150 points a side make 1.3 MB of points, 250 make 3.5 MB: the middle of the file,
  // where it is split, falls among the faces or among the points before the first face.
  // Naming statements before every fourth face are dense enough for pass 1 to read the
  // file as one range (a second reading counts the coordinates) and pass 2 as two.
  // Pass 1 by ranges only counts coordinate lines: where some before the split do not
  // read, pass 2's first range finds other counts and reads on alone.
  const struct {
    const char* name;
    bool crlf, continued;
    int pointsBetween, side, namingEvery;
    bool scannedByRanges, readByRanges;
  } files[] = {{"plain", false, false, 0, 150, 64, true, true},
               {"crlf, continued lines", true, true, 0, 150, 64, true, true},
               {"points between the faces", false, false, 1, 150, 64, true, true},
               {"points that do not read between the faces", false, false, 2, 150, 64, true, false},
               {"face lines that make no face between the faces", false, false, 3, 150, 64, true, false},
               {"the first face after the middle", false, false, 0, 250, 64, true, true},
               {"names before every fourth face", false, false, 0, 150, 4, false, true},
               {"names before every fourth face, points that do not read", false, false, 2, 150, 4, false, true}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const std::string text = build(file.crlf, file.continued, file.pointsBetween, file.side, file.namingEvery);
    auto [one, two] = ReadWithOneThreadAndTwo(text, DefaultOpts());
    ASSERT_TRUE(one && two);
    EXPECT_FALSE(one->readByRanges || one->scannedByRanges);
    EXPECT_EQ(two->readByRanges != 0, file.readByRanges);
    EXPECT_EQ(two->scannedByRanges != 0, file.scannedByRanges);
    ExpectSameModel(*one, *two);
    EXPECT_EQ(one->valuesNotFinite, two->valuesNotFinite);
    EXPECT_EQ(one->linesRead, two->linesRead);
  }
}

// What stands at the middle of the file decides where, and whether, it is split: the
// split must fall between statements whatever the line ends and continuations are, and
// a middle with no line end near it keeps pass 1 on one range.
TEST_F(ObjReaderTest, TheMiddleOfTheFileSplitsItBetweenStatements) {
  auto build = [this](const std::string& lineEnd, bool everyFaceContinued, bool commentsInTheMiddle) {
    std::string text = "mtllib none.mtl" + lineEnd;
    const int side = 200;
    for (int j = 0; j < side; ++j)
      for (int i = 0; i < side; ++i)
        text += "v " + std::to_string(i) + " " + std::to_string(j) + " 0" + lineEnd + "vt 0.5 0.25" + lineEnd;
    for (int round = 0; text.size() < (size_t{6} << 20); ++round) {
      if (round % 500 == 0) text += "g part" + std::to_string(round / 500) + lineEnd;
      const int a = 1 + (round % (side - 1)) * side + round / 7 % (side - 1);
      const std::string c1 = std::to_string(a), c2 = std::to_string(a + 1), c3 = std::to_string(a + side);
      text += "f " + c1 + "/" + c1 + (everyFaceContinued ? " \\" + lineEnd + "  " : " ") + c2 + "/" + c2 + " " + c3 +
              "/-1" + lineEnd;
    }
    if (commentsInTheMiddle) {
      // A million characters of short comment lines that end in backslashes, put where half
      // of pass 1's work lies: half of it still lies before them and half after, and they
      // weigh enough for the estimate's error to keep the middle among them. No line end
      // there ends a statement for certain.
      auto [one, two] = ReadWithOneThreadAndTwo(text, DefaultOpts());
      if (!two || two->scanMiddle < 0) return std::string();
      const size_t at = text.find(lineEnd, static_cast<size_t>(two->scanMiddle)) + lineEnd.size();
      std::string comments;
      while (comments.size() < 1000000) comments += "#\\" + lineEnd;
      text.insert(at, comments);
    }
    return text;
  };
  const struct {
    const char* name;
    std::string lineEnd;
    bool continued, comments, scannedByRanges;
  } files[] = {{"CR line ends", "\r", false, false, true},
               {"every face continued on a second line", "\n", true, false, true},
               {"CR LF, continued", "\r\n", true, false, true},
               {"comment lines ending in backslashes across the middle", "\n", false, true, false}};
  for (const auto& file : files) {
    const std::string body = build(file.lineEnd, file.continued, file.comments);
    // Continued files again with a comment before them that moves the middle by a few
    // characters at a time, so that it falls on both lines of a continued face.
    const int pads = file.continued ? 6 : 1;
    for (int pad = 0; pad < pads; ++pad) {
      SCOPED_TRACE(std::string(file.name) + ", padded by " + std::to_string(pad * 9));
      const std::string text = (pad ? "#" + std::string(static_cast<size_t>(pad * 9), ' ') + file.lineEnd : "") + body;
      auto [one, two] = ReadWithOneThreadAndTwo(text, DefaultOpts());
      ASSERT_TRUE(one && two);
      EXPECT_GT(one->faceCount, 100000u);
      EXPECT_EQ(two->scannedByRanges != 0, file.scannedByRanges);
      EXPECT_TRUE(two->readByRanges);
      ExpectSameModel(*one, *two);
      EXPECT_EQ(one->linesTooLong, two->linesTooLong);
    }
  }
}

// Reads that fail partway, with both threads reading the file: the model is whatever
// was read, never out of its arrays; with the reads sound again, the full model.
TEST_F(ObjReaderTest, NormalsCountedWithoutTheirValuesReadTheSameModel) {
  // vn lines of every kind; the faces name normals by position and counting back, so a
  // line counted differently would move them. Without the values kept, the counts, the
  // faces and the count of values that are no numbers must be what keeping them gives,
  // on one thread and (padded past 4 MiB) on two.
  const std::string digits400 = "1" + std::string(399, '0'), digits300 = "1" + std::string(299, '0');
  const std::string normals = "vn 0 0 1\nvn inf 0 1\nvn nan -nan 1\nvn 1e999 0 0\nvn " + digits400 +
                              " 0 0\nvn " + digits300 + " 0 0\nvn 1 x 2\nvn 0x1p2000 0 0\nvn 1.5e3 2 3\n"
                              "vn -0 +0 .5\nvn 1.2.3 4 5\nvn 5\nvn 1e-999 INF 7\nvn 2 3 4junk\n";
  std::string model = "v 0 0 0\nv 1 0 0\nv 0 1 0\n" + normals;
  for (int k = 1; k <= 12; ++k)
    model += "f 1//" + std::to_string(k) + " 2//-" + std::to_string(k) + " 3//" + std::to_string(13 - k) + "\n";
  model += normals + "f 1//-1 2//-12 3//24\nf 1//25 2//1 3//-24\n";
  const std::string padded = model + std::string(size_t{4} << 20, '#') + "\n" + model;
  auto read = [&](const std::string& text, bool keep) {
    const std::string path = WriteFile("normals.obj", text);
    Importer m(ObjImporter::Alloc());
    EXPECT_TRUE(m && m->Open(Filename(path.c_str())) == FILEERROR_NONE);
    if (!m) return m;
    m->SetOptions(DefaultOpts(), 1.0);
    EXPECT_TRUE(m->ScanObj(String("normals")));
    m->KeepNormals(keep ? TRUE : FALSE);
    EXPECT_TRUE(m->AllocModel());
    EXPECT_TRUE(m->ReadObj());
    m->Close();
    EXPECT_EQ(m->normals != nullptr, keep);
    return m;
  };
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    SetEnv("KELVANE_THREADS", threads);
    const std::string& text = threads[0] == '1' ? model : padded;
    Importer kept = read(text, true);
    Importer counted = read(text, false);
    SetEnv("KELVANE_THREADS", nullptr);
    ASSERT_TRUE(kept && counted);
    EXPECT_EQ(kept->normalCount, threads[0] == '1' ? 24u : 48u);  // 12 of each 14 lines read
    EXPECT_EQ(counted->normalCount, kept->normalCount);
    EXPECT_EQ(kept->valuesNotFinite, threads[0] == '1' ? 14u : 28u);  // 7 in each block of lines
    EXPECT_EQ(counted->valuesNotFinite, kept->valuesNotFinite);
    ASSERT_EQ(counted->faceCount, kept->faceCount);
    for (ULONG i = 0; i < kept->faceCount; ++i)
      for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(counted->faces[i].vn[c], kept->faces[i].vn[c]) << i;
        EXPECT_EQ(counted->faces[i].flags, kept->faces[i].flags) << i;
      }
  }
}

// A file changed between the passes (a vertex line before the split no longer reads):
// the first range ends with other counts than pass 1 found at the split, the second
// range's reading is dropped, and the first importer reads on alone. The model is then
// the one a single reading of the changed file gives, never a model cut at the split.
TEST_F(ObjReaderTest, ARangeThatCannotBeJoinedIsReadOnAlone) {
  std::string text;
  const int side = 300;
  char line[160];
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) {
      std::snprintf(line, sizeof(line), "v %d.%03d %.6e %d\nvt %.4f %.4f\n", i, j, j * 0.013, -i, i / double(side),
                    j / double(side));
      text += line;
    }
  for (int round = 0; text.size() < (size_t{6} << 20); ++round)
    for (int j = 0; j + 1 < side && text.size() < (size_t{6} << 20); ++j) {
      const int a = j * side + 1 + round % (side - 1), b = a + 1, c = a + side + 1, d = a + side;
      std::snprintf(line, sizeof(line), "f %d/%d %d/%d %d/%d %d/%d\nf -1/-1 -2/-2 -3/-3\n", a, a, b, b, c, c, d, d);
      text += line;
    }
  std::string changed = text;
  const size_t first = changed.find("v 1.000");
  ASSERT_NE(first, std::string::npos);
  changed[first + 2] = 'x';  // "v x.000 ...": skipped by pass 2 only

  const std::string path = WriteFile("changing.obj", text);
  SetEnv("KELVANE_THREADS", "2");
  Importer two(ObjImporter::Alloc());
  ASSERT_TRUE(two && two->Open(Filename(path.c_str())) == FILEERROR_NONE);
  two->SetOptions(DefaultOpts(), 1.0);
  ASSERT_TRUE(two->ScanObj(String("changed.obj")));  // the name the other reading gives
  ASSERT_TRUE(two->AllocModel());
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);  // the same file, in place
    file.seekp(static_cast<std::streamoff>(first + 2));
    file.put('x');
  }
  ASSERT_TRUE(two->ReadObj());
  two->Close();
  ASSERT_TRUE(two->SetListIndices());
  SetEnv("KELVANE_THREADS", "1");
  Importer one(ReadObjModel(Filename(WriteFile("changed.obj", changed).c_str()), DefaultOpts(), 1.0,
                            TEXTFILE_BLOCKSIZE, FALSE));
  SetEnv("KELVANE_THREADS", nullptr);
  ASSERT_TRUE(one);
  EXPECT_FALSE(two->readByRanges);
  EXPECT_EQ(two->vertexCount, ULONG(side * side - 1));
  ExpectSameModel(*one, *two);
}

// N-gons all through a large file: pass 2 reads it by ranges, each range's n-gons waiting
// for the split after it, unless the first range ends with other counts than pass 1 found
// there (an n-gon it cannot store takes no face places).
TEST_F(ObjReaderTest, NgonFilesAreReadByRangesWithTheModelOfOneThread) {
  auto build = [](int badNgonAt) {
    std::string text = "vt 0 0\nvn 0 0 1\n";
    char line[96];
    int points = 0;
    for (int k = 0; text.size() < (size_t{5} << 20); ++k) {
      const int n = 5 + k % 19, first = points + 1;
      for (int c = 0; c < n; ++c) {
        const double angle = 2 * M_PI * c / n, radius = k % 3 == 1 && c % 2 ? 0.5 : 1.0;
        std::snprintf(line, sizeof(line), "v %.5f %.5f %d\n", radius * std::cos(angle), radius * std::sin(angle), k);
        text += line;
      }
      points += n;
      if (k % 97 == 0) text += "g g" + std::to_string(k % 5) + "\nusemtl m" + std::to_string(k % 3) + "\n";
      if (k % 89 == 0) text += "o o" + std::to_string(k % 4) + "\n";
      std::string face = "f";
      // Every seventh n-gon also takes a corner of the file's first n-gon, far behind it.
      for (int c = 0; c < n; ++c) {
        const int index = c == 0 && k % 7 == 3 ? 1 : k == badNgonAt && c == 2 ? points + 50 : first + c;
        face += " " + std::to_string(index) + (k % 4 == 1 ? "/1/1" : "");
      }
      text += face + "\nf " + std::to_string(first) + " " + std::to_string(first + 1) + " " + std::to_string(first + 2) +
              "\n";
    }
    return text;
  };
  const struct {
    const char* name;
    int badNgonAt;
    bool byRanges;
  } files[] = {{"sound n-gons", -1, true},
               {"a corner out of range in the second range", 9000, true},
               {"a corner out of range in the first range", 100, false}};
  ULONG soundNotSplit = 0;  // folded outlines, where a corner of the first n-gon crosses them
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    auto [one, two] = ReadWithOneThreadAndTwo(build(file.badNgonAt), DefaultOpts());
    ASSERT_TRUE(one && two);
    EXPECT_GT(two->ngonCount, 11000u);
    EXPECT_EQ(two->readByRanges != 0, file.byRanges);
    if (file.badNgonAt < 0) soundNotSplit = one->ngonsNotSplit;
    EXPECT_EQ(one->ngonsNotSplit, soundNotSplit + (file.badNgonAt < 0 ? 0 : 1));
    EXPECT_EQ(two->ngonsNotSplit, one->ngonsNotSplit);
    ExpectSameModel(*one, *two);
    ExpectNgonsInPlace(*two);
  }

  // An n-gon late in the file loses a corner between the passes: its record no longer
  // fits, so it cannot wait, and the second range gives way to the first importer.
  const std::string text = build(-1);
  size_t at = text.find("\nf ", text.size() * 3 / 4), end = 0;
  for (; at != std::string::npos; at = text.find("\nf ", end)) {
    end = text.find('\n', at + 1);
    if (std::count(text.begin() + at, text.begin() + end, ' ') >= 8) break;
  }
  ASSERT_NE(at, std::string::npos);
  const size_t lastCorner = text.rfind(' ', end) + 1;
  const std::string path = WriteFile("changing.obj", text);
  auto readChanging = [&](const char* threads) {
    WriteFile("changing.obj", text);
    SetEnv("KELVANE_THREADS", threads);
    Importer m(ObjImporter::Alloc());
    EXPECT_TRUE(m && m->Open(Filename(path.c_str())) == FILEERROR_NONE);
    m->SetOptions(DefaultOpts(), 1.0);
    EXPECT_TRUE(m->ScanObj(String("changing.obj")) && m->AllocModel());
    {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(lastCorner));
      file << std::string(end - lastCorner, ' ');
    }
    EXPECT_TRUE(m->ReadObj());
    m->Close();
    EXPECT_TRUE(m->SetListIndices());
    SetEnv("KELVANE_THREADS", nullptr);
    return m;
  };
  Importer one = readChanging("1"), two = readChanging("2");
  ASSERT_TRUE(one && two);
  EXPECT_FALSE(two->readByRanges);
  ExpectSameModel(*one, *two);
}

TEST_F(ObjReaderTest, FailedReadsWithTwoThreads) {
  std::string text;
  const int side = 200;
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) text += "v " + std::to_string(i) + ".5 " + std::to_string(j) + ".25 -1.125\n";
  for (int round = 0; round < 4; ++round)
    for (int j = 0; j + 1 < side; ++j)
      for (int i = 0; i + 1 < side; ++i) {
        const int a = j * side + i + 1;
        text += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(a + side + 1) + " " +
                std::to_string(a + side) + "\n";
      }
  ASSERT_GE(text.size(), size_t{4} << 20);
  SetEnv("KELVANE_THREADS", "2");
  Importer full = Read(text);
  ASSERT_TRUE(full);
  const std::string expected = Describe(*full);
  const double size = static_cast<double>(text.size());
  for (const double at : {0.3, 1.2, 1.9, 2.5, 3.1, 3.7}) {
    SCOPED_TRACE(at);
    const std::string path = WriteFile("failing.obj", text);
    host::FailReadsAfter(static_cast<LLONG>(at * size));
    Importer m(ReadObjModel(Filename(path.c_str()), DefaultOpts(), 1.0));  // indices checked
    host::FailReadsAfter(-1);
    if (!m) continue;
    EXPECT_LE(m->faceCount, full->faceCount);
    EXPECT_LE(m->vertexCount, full->vertexCount);
    for (ULONG i = 0; i < m->faceCount; ++i) {
      ASSERT_EQ(m->faces[i].sequence, static_cast<LONG>(i));
      for (int k = 0; k < 4; ++k) ASSERT_LT(static_cast<ULONG>(m->faces[i].v[k]), m->vertexCount);
    }
  }
  Importer again = Read(text);
  SetEnv("KELVANE_THREADS", nullptr);
  ASSERT_TRUE(again);
  EXPECT_EQ(Describe(*again), expected);
}

// gantryBinFile: byte order on disk, buffering across block boundaries, positions,
// text fields, the side log, and every memory and file failure path.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "binfile.h"
#include "host_fixture.h"

namespace fs = std::filesystem;

struct gantryBinFileProbe {
  static BaseFile* HostFile(gantryBinFile* f) { return f->m_pHostFile; }
};

namespace {

std::string Be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}
std::string Le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}
uint32_t FloatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
float FloatFromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
// GCC 12's SLP vectoriser folds a narrowing and widening pair written inline in a
// constructor call (three casts side by side) back to the wide value; the volatile
// keeps the single-precision step.
Real Narrow(Real r) {
  volatile SReal f = static_cast<SReal>(r);
  return f;
}

std::string BeFloat(double d) { return Be32(FloatBits(static_cast<float>(d))); }

class BinFileTest : public HostTest {
 protected:
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }

  // A file opened by a fresh big-endian object; the test frees it.
  gantryBinFile* OpenFile(const std::string& path, LONG mode, LONG bufferSize, LONG order = BYTEORDER_MOTOROLA) {
    gantryBinFile* f = gantryBinFile::Alloc(order);
    EXPECT_NE(f, nullptr);
    if (!f) return nullptr;
    EXPECT_EQ(f->Open(Filename(path.c_str()), mode, bufferSize), 0);
    return f;
  }
};

// --- allocation and byte order ------------------------------------------------------

TEST_F(BinFileTest, AllocFixesTheByteOrder) {
  gantryBinFile* be = gantryBinFile::Alloc();
  gantryBinFile* le = gantryBinFile::Alloc(BYTEORDER_INTEL);
  ASSERT_NE(be, nullptr);
  ASSERT_NE(le, nullptr);
  EXPECT_EQ(be->GetByteOrder(), BYTEORDER_MOTOROLA);
  EXPECT_EQ(le->GetByteOrder(), BYTEORDER_INTEL);
  EXPECT_FALSE(be->IsOpen());
  gantryBinFile::Free(be);
  gantryBinFile::Free(le);
  EXPECT_EQ(be, nullptr);
  EXPECT_EQ(gantryBinFile::Alloc(0), nullptr);
  EXPECT_EQ(gantryBinFile::Alloc(3), nullptr);
  gantryBinFile* none = nullptr;
  gantryBinFile::Free(none);  // accepted
  EXPECT_EQ(none, nullptr);
}

TEST_F(BinFileTest, ScalarsAreStoredInTheFileOrder) {
  struct Case {
    LONG order;
    std::string longOne, wordOne, floatOne;
  };
  const Case cases[] = {
      {BYTEORDER_MOTOROLA, std::string("\0\0\0\1", 4), std::string("\0\1", 2), std::string("\x3f\x80\0\0", 4)},
      {BYTEORDER_INTEL, std::string("\1\0\0\0", 4), std::string("\1\0", 2), std::string("\0\0\x80\x3f", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    const std::string path = Path("scalars.bin");
    gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 3, c.order);
    const LONG one = 1, minus = -2;
    const SWORD wone = 1;
    const SReal fone = 1.0f;
    const Real rone = 1.0;
    EXPECT_TRUE(f->WriteLong(&one));
    EXPECT_TRUE(f->WriteWord(&wone));
    EXPECT_TRUE(f->WriteFloat(&fone));
    EXPECT_TRUE(f->WriteReal(&rone));
    EXPECT_TRUE(f->WriteLong(&minus));
    f->Close();
    EXPECT_EQ(ReadFile(path), c.longOne + c.wordOne + c.floatOne + c.floatOne +
                                  (c.order == BYTEORDER_MOTOROLA ? Be32(0xFFFFFFFEu) : Le32(0xFFFFFFFEu)));

    ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 3), 0);
    EXPECT_EQ(f->ReadLong(), 1);
    EXPECT_EQ(f->ReadWord(), 1);
    EXPECT_EQ(f->ReadFloat(), 1.0f);
    EXPECT_EQ(f->ReadFloat(), 1.0f);
    EXPECT_EQ(f->ReadLong(), -2);
    EXPECT_EQ(f->ReadLong(), 0);  // past the end
    gantryBinFile::Free(f);
  }
}

// The same values written element by element, as arrays and read back, with buffer
// sizes that split elements across blocks and arrays longer than one conversion chunk.
TEST_F(BinFileTest, ArraysRoundTripAcrossBlockBoundaries) {
  const LONG count = 5000;
  std::vector<Real> reals(count);
  std::vector<Vector> vectors(count);
  std::vector<LONG> longs(count);
  std::vector<SWORD> words(count);
  for (LONG i = 0; i < count; ++i) {
    reals[i] = 0.1 * i - 7.3;
    vectors[i] = Vector(i / 3.0, -i * 1e-3, 1e30 + i);
    longs[i] = i * 7919 - 123456;
    words[i] = static_cast<SWORD>(i * 31 - 9000);
  }
  std::string expected;
  for (Real r : reals) expected += BeFloat(r);
  for (const Vector& v : vectors) expected += BeFloat(v.x) + BeFloat(v.y) + BeFloat(v.z);
  for (LONG l : longs) expected += Be32(static_cast<uint32_t>(l));
  for (SWORD w : words) expected += std::string{static_cast<char>(w >> 8), static_cast<char>(w)};

  for (LONG bufferSize : {1, 3, 7, 4096, 1 << 20}) {
    SCOPED_TRACE(bufferSize);
    const std::string one = Path("one.bin"), many = Path("many.bin");
    gantryBinFile* f = OpenFile(one, BINFILE_WRITE, bufferSize);
    for (const Real& r : reals) ASSERT_TRUE(f->WriteReal(&r));
    for (const Vector& v : vectors) ASSERT_TRUE(f->WriteVector(&v));
    for (const LONG& l : longs) ASSERT_TRUE(f->WriteLong(&l));
    for (const SWORD& w : words) ASSERT_TRUE(f->WriteWord(&w));
    f->Close();
    ASSERT_EQ(f->Open(Filename(many.c_str()), BINFILE_WRITE, bufferSize), 0);
    EXPECT_TRUE(f->WriteReals(reals.data(), count));
    EXPECT_TRUE(f->WriteVectors(vectors.data(), count));
    EXPECT_TRUE(f->WriteLongs(longs.data(), count));
    EXPECT_TRUE(f->WriteWords(words.data(), count));
    EXPECT_EQ(f->GetFilePos(), static_cast<LLONG>(expected.size()));
    f->Close();
    EXPECT_TRUE(ReadFile(one) == expected);
    EXPECT_TRUE(ReadFile(many) == expected);

    ASSERT_EQ(f->Open(Filename(many.c_str()), BINFILE_READ, bufferSize), 0);
    EXPECT_EQ(f->GetLength(), static_cast<LLONG>(expected.size()));
    std::vector<Real> r(count);
    std::vector<Vector> v(count);
    std::vector<LONG> l(count);
    std::vector<SWORD> w(count);
    ASSERT_TRUE(f->ReadReals(r.data(), count));
    ASSERT_TRUE(f->ReadVectors(v.data(), count));
    ASSERT_TRUE(f->ReadLongs(l.data(), count));
    ASSERT_TRUE(f->ReadWords(w.data(), count));
    for (LONG i = 0; i < count; ++i) {
      // Written as single precision: the value comes back narrowed, not as given.
      ASSERT_EQ(r[i], static_cast<Real>(static_cast<SReal>(reals[i]))) << i;
      ASSERT_EQ(v[i], Vector(Narrow(vectors[i].x), Narrow(vectors[i].y), Narrow(vectors[i].z))) << i;
      ASSERT_EQ(l[i], longs[i]) << i;
      ASSERT_EQ(w[i], words[i]) << i;
    }
    EXPECT_EQ(f->GetFilePos(), static_cast<LLONG>(expected.size()));
    gantryBinFile::Free(f);
  }
  EXPECT_NE(static_cast<Real>(static_cast<SReal>(reals[1])), reals[1]);  // the narrowing above is real
}

TEST_F(BinFileTest, FloatArraysKeepTheirBits) {
  const SReal values[] = {0.0f, -0.0f, 1.5f, -3.25e-38f, 3.4e38f, 1.0e-45f};
  const std::string path = Path("floats.bin");
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 5);
  ASSERT_TRUE(f->WriteFloats(values, 6));
  f->Close();
  std::string expected;
  for (SReal v : values) expected += Be32(FloatBits(v));
  EXPECT_TRUE(ReadFile(path) == expected);
  ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 5), 0);
  SReal back[6] = {};
  ASSERT_TRUE(f->ReadFloats(back, 6));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(FloatBits(back[i]), FloatBits(values[i])) << i;
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, EmptyAndInvalidArgumentsAtTheEdges) {
  const std::string path = WriteFile("eight.bin", std::string(8, '\x11'));
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 4);
  SWORD w[2];
  LONG l[2];
  SReal s[2];
  Real r[2];
  Vector v[2];
  // Reads of nothing fail; nothing is consumed.
  EXPECT_FALSE(f->ReadWords(w, 0));
  EXPECT_FALSE(f->ReadLongs(l, -1));
  EXPECT_FALSE(f->ReadFloats(s, 0));
  EXPECT_FALSE(f->ReadReals(r, 0));
  EXPECT_FALSE(f->ReadVectors(v, 0));
  EXPECT_FALSE(f->ReadLongs(nullptr, 1));
  EXPECT_EQ(f->ReadBytes(l, 0), 0);
  EXPECT_EQ(f->ReadBytes(nullptr, 4), 0);
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_EQ(static_cast<ULONG>(f->ReadLong()), 0x11111111u);
  EXPECT_FALSE(f->ReadLongs(l, 2));  // only one left: short read
  gantryBinFile::Free(f);

  f = OpenFile(Path("out.bin"), BINFILE_WRITE, 4);
  // Writes of nothing succeed on an open file.
  EXPECT_TRUE(f->WriteBytes(l, 0));
  EXPECT_TRUE(f->WriteReals(r, 0));
  EXPECT_TRUE(f->WriteVectors(v, -3));
  EXPECT_FALSE(f->WriteLongs(nullptr, 2));
  EXPECT_FALSE(f->WriteLong(nullptr));
  f->Close();
  EXPECT_EQ(ReadFile(Path("out.bin")), "");
  // ...and fail on a closed one.
  const LONG one = 1;
  EXPECT_FALSE(f->WriteBytes(l, 0));
  EXPECT_FALSE(f->WriteReals(r, 0));
  EXPECT_FALSE(f->WriteLong(&one));
  EXPECT_EQ(f->ReadLong(), 0);
  EXPECT_EQ(f->Open(Filename(path.c_str()), 3, 4), FILEERROR_INVALID);
  EXPECT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 0), FILEERROR_INVALID);
  EXPECT_FALSE(f->IsOpen());
  gantryBinFile::Free(f);
}

// --- positions ----------------------------------------------------------------

TEST_F(BinFileTest, SetFilePosAcceptsOnlyOffsetsInsideTheFile) {
  std::string bytes;
  for (int i = 0; i < 10; ++i) bytes += static_cast<char>('a' + i);
  const std::string path = WriteFile("ten.bin", bytes);
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 4);
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_FALSE(f->SetFilePos(10));
  EXPECT_FALSE(f->SetFilePos(11));
  EXPECT_FALSE(f->SetFilePos(-1));
  ASSERT_TRUE(f->SetFilePos(9));
  EXPECT_EQ(f->GetFilePos(), 9);
  char c[2] = {};
  EXPECT_EQ(f->ReadBytes(c, 2), 1);
  EXPECT_EQ(c[0], 'j');
  EXPECT_EQ(f->GetFilePos(), 10);

  // Backwards after a partial block, and the position tracked inside blocks.
  ASSERT_TRUE(f->SetFilePos(2));
  EXPECT_EQ(f->GetFilePos(), 2);
  EXPECT_EQ(f->ReadBytes(c, 1), 1);
  EXPECT_EQ(c[0], 'c');
  EXPECT_EQ(f->GetFilePos(), 3);
  char five[5];
  EXPECT_EQ(f->ReadBytes(five, 5), 5);
  EXPECT_EQ(std::string(five, 5), "defgh");
  EXPECT_EQ(f->GetFilePos(), 8);

  f->Rewind();
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_EQ(f->ReadBytes(c, 1), 1);
  EXPECT_EQ(c[0], 'a');
  f->Close();
  EXPECT_FALSE(f->SetFilePos(0));
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_EQ(f->GetLength(), 0);
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, WritePositionCountsFlushedAndPendingBytes) {
  gantryBinFile* f = OpenFile(Path("pos.bin"), BINFILE_WRITE, 4);
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_TRUE(f->WriteBytes("0123456789", 10));
  EXPECT_EQ(f->GetFilePos(), 10);
  EXPECT_TRUE(f->Flush());
  EXPECT_FALSE(f->Flush());  // nothing pending
  EXPECT_EQ(f->GetFilePos(), 10);
  EXPECT_EQ(f->GetLength(), 0);  // the length is the one found at opening
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(Path("pos.bin")), "0123456789");
}

// --- reading past the data -------------------------------------------------------

TEST_F(BinFileTest, ReadRealsPastTheEndFillsWithZero) {
  struct Case {
    const char* name;
    std::string tail;  // bytes after the two whole floats
  };
  const Case cases[] = {{"exact end", ""}, {"partial float", std::string("\x40\x00", 2)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("reals.bin", BeFloat(1.5) + BeFloat(-2.0) + c.tail);
    for (LONG bufferSize : {3, 64}) {
      gantryBinFile* f = OpenFile(path, BINFILE_READ, bufferSize);
      Real r[5] = {9, 9, 9, 9, 9};
      EXPECT_TRUE(f->ReadReals(r, 5));
      EXPECT_EQ(r[0], 1.5);
      EXPECT_EQ(r[1], -2.0);
      for (int i = 2; i < 5; ++i) EXPECT_EQ(r[i], 0.0) << i;
      gantryBinFile::Free(f);
    }
  }
}

TEST_F(BinFileTest, ReadVectorsFailsOnAPartialLastVector) {
  const std::string whole = BeFloat(1) + BeFloat(2) + BeFloat(3);
  const std::string path = WriteFile("vec.bin", whole + BeFloat(4) + BeFloat(5));
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 5);
  Vector v[2] = {Vector(9.0), Vector(9.0)};
  EXPECT_FALSE(f->ReadVectors(v, 2));
  EXPECT_EQ(v[0], Vector(1, 2, 3));
  EXPECT_EQ(v[1], Vector(9.0));  // the cut vector is not stored
  gantryBinFile::Free(f);

  const std::string exact = WriteFile("vec1.bin", whole);
  f = OpenFile(exact, BINFILE_READ, 5);
  EXPECT_TRUE(f->ReadVectors(v, 1));
  EXPECT_FALSE(f->ReadVectors(v, 1));  // nothing left
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, ReadsOnAWriteModeObjectFail) {
  const std::string path = WriteFile("old.bin", Be32(5));
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 16);
  const LONG seven = 7;
  EXPECT_TRUE(f->WriteLong(&seven));
  EXPECT_EQ(f->ReadLong(), 0);
  LONG back = 0;
  EXPECT_EQ(f->ReadBytes(&back, 4), 0);
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(path), Be32(7));
}

// --- opening ---------------------------------------------------------------------

TEST_F(BinFileTest, OpeningAnExistingReadOnlyFileForWritingReplacesIt) {
  const std::string path = WriteFile("locked.mdd", std::string(100, 'x'));
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 8);
  ASSERT_TRUE(f->IsOpen());
  const LONG one = 1;
  EXPECT_TRUE(f->WriteLong(&one));
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(path), Be32(1));  // no tail of the old 100 bytes
}

TEST_F(BinFileTest, AMissingFileOpenedForReadingFailsAndCreatesNothing) {
  const std::string path = Path("absent.mdd");
  gantryBinFile* f = gantryBinFile::Alloc();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 16), FILEERROR_OPEN);
  EXPECT_FALSE(f->IsOpen());
  EXPECT_EQ(f->GetError(), 0);
  EXPECT_FALSE(fs::exists(path));
  // Opening again after the failure neither leaks the first buffer nor needs a Close.
  EXPECT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 16), FILEERROR_OPEN);
  const std::string real = WriteFile("present.mdd", Be32(3));
  EXPECT_EQ(f->Open(Filename(real.c_str()), BINFILE_READ, 16), 0);
  EXPECT_EQ(f->ReadLong(), 3);
  gantryBinFile::Free(f);
  EXPECT_TRUE(host::ConsoleLines().empty());  // the caller reports, not this class
}

TEST_F(BinFileTest, OpeningAnOpenObjectClosesTheFirstFile) {
  const std::string first = Path("first.bin");
  gantryBinFile* f = OpenFile(first, BINFILE_WRITE, 64);
  const LONG v = 0x01020304;
  EXPECT_TRUE(f->WriteLong(&v));  // still in the buffer
  const std::string second = WriteFile("second.bin", Be32(9));
  ASSERT_EQ(f->Open(Filename(second.c_str()), BINFILE_READ, 64), 0);
  EXPECT_EQ(ReadFile(first), Be32(0x01020304));
  EXPECT_EQ(f->ReadLong(), 9);
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, WritesOnAReadModeObjectFailOnceTheBufferFills) {
  const std::string content = "ABCDEFGHIJKLMNOPQRST";
  const std::string path = WriteFile("ro.bin", content);

  // Straight after opening the buffer counts as full: the first byte already fails.
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 8);
  EXPECT_FALSE(f->WriteBytes("z", 1));
  EXPECT_FALSE(f->IsOpen());
  gantryBinFile::Free(f);

  // After a read the rest of the block takes bytes until it is full.
  f = OpenFile(path, BINFILE_READ, 8);
  char two[2];
  EXPECT_EQ(f->ReadBytes(two, 2), 2);
  EXPECT_TRUE(f->WriteBytes("12345", 5));
  EXPECT_TRUE(f->IsOpen());
  EXPECT_FALSE(f->WriteBytes("6", 1));
  EXPECT_FALSE(f->IsOpen());
  const LONG one = 1;
  EXPECT_FALSE(f->WriteLong(&one));
  EXPECT_EQ(f->ReadLong(), 0);
  gantryBinFile::Free(f);

  // The array forms fail at the same point.
  f = OpenFile(path, BINFILE_READ, 8);
  EXPECT_EQ(f->ReadBytes(two, 2), 2);
  const LONG pair[2] = {1, 2};
  EXPECT_TRUE(f->WriteLongs(pair, 1));
  EXPECT_FALSE(f->WriteLongs(pair, 2));
  EXPECT_FALSE(f->IsOpen());
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(path), content);
}

// --- text fields -------------------------------------------------------------------

TEST_F(BinFileTest, ReadStringOutOfRangeIsEmptyWithoutReading) {
  const std::string path = WriteFile("text.bin", "hello" + std::string(1, '\0') + "xyz" + std::string(1100, 'q'));
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 7);
  EXPECT_EQ(f->ReadString(1025), String());
  EXPECT_EQ(f->ReadString(-1), String());
  EXPECT_EQ(f->ReadString(0), String());
  EXPECT_EQ(f->GetFilePos(), 0);
  EXPECT_EQ(f->ReadString(9), String("hello"));  // the field ends at its first 0
  EXPECT_EQ(f->GetFilePos(), 9);
  EXPECT_EQ(f->ReadString(1024), String(std::string(1024, 'q')));
  EXPECT_EQ(f->ReadString(100), String());  // only 76 bytes left
  gantryBinFile::Free(f);
  EXPECT_EQ(f, nullptr);
}

TEST_F(BinFileTest, WriteStringPadsOrCutsTheField) {
  struct Case {
    const char* name;
    std::string text;
    LONG len;
    std::string bytes;
  };
  const std::string longText(2000, 'L');
  const Case cases[] = {
      {"padded", "abc", 8, std::string("abc\0\0\0\0\0", 8)},
      {"cut", "abcdefghij", 4, std::string("abc\0", 4)},
      {"exact", "abc", 4, std::string("abc\0", 4)},
      {"one byte", "x", 1, std::string(1, '\0')},
      {"empty text", "", 8, ""},
      {"no field", "abc", 0, ""},
      {"field over 1024", longText, 2000, std::string(1023, 'L') + std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path("field.bin");
    gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 5);
    EXPECT_TRUE(f->WriteString(String(c.text), c.len));
    gantryBinFile::Free(f);
    EXPECT_TRUE(ReadFile(path) == c.bytes) << ReadFile(path).size();
  }
  // A padded field reads back as its text; an empty string succeeds even when closed.
  const std::string path = Path("back.bin");
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 5);
  EXPECT_TRUE(f->WriteString(String("name"), 12));
  EXPECT_TRUE(f->WriteString(String("next"), 6));
  f->Close();
  EXPECT_TRUE(f->WriteString(String(), 12));
  EXPECT_FALSE(f->WriteString(String("abc"), 12));
  ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 5), 0);
  EXPECT_EQ(f->ReadString(12), String("name"));
  EXPECT_EQ(f->ReadString(6), String("next"));
  gantryBinFile::Free(f);
}

// --- error codes and their texts ------------------------------------------------------

TEST_F(BinFileTest, ReportErrorNamesEveryHostCode) {
  struct Case {
    LONG code;
    const char* text;
  };
  const Case cases[] = {
      {FILEERROR_NONE, "File Error: FILEERROR_NONE"},
      {FILEERROR_OPEN, "File Error: FILEERROR_OPEN"},
      {FILEERROR_CLOSE, "File Error: FILEERROR_CLOSE"},
      {FILEERROR_READ, "File Error: FILEERROR_READ"},
      {FILEERROR_WRITE, "File Error: FILEERROR_WRITE"},
      {FILEERROR_SEEK, "File Error: FILEERROR_SEEK"},
      {FILEERROR_INVALID, "File Error: FILEERROR_INVALID"},
      {FILEERROR_MEMORY, "File Error: FILEERROR_MEMORY"},
      {FILEERROR_USERBREAK, "File Error: FILEERROR_USERBREAK"},
      {FILEERROR_WRONG_VALUE, "File Error: FILEERROR_WRONG_VALUE"},
      {-101, "File Error: Unknown"},
      {FILEERROR_CHUNK_NUMBER, "File Error: FILEERROR_CHUNK_NUMBER"},
      {FILEERROR_VALUE_NO_CHUNK, "File Error: FILEERROR_VALUE_NO_CHUNK"},
      {FILEERROR_FILE_END, "File Error: FILEERROR_FILE_END"},
      {FILEERROR_UNKNOWN_VALUE, "File Error: FILEERROR_UNKNOWN_VALUE"},
      {-9, "File Error: Unknown"},
      {-106, "File Error: Unknown"},
      {1, "File Error: Unknown"},
  };
  const std::string path = WriteFile("err.bin", "data");
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 4);
  for (const Case& c : cases) {
    host::ClearConsole();
    gantryBinFileProbe::HostFile(f)->SetError(c.code);
    EXPECT_EQ(f->GetError(), c.code);
    f->ReportError();
    ASSERT_EQ(host::ConsoleLines().size(), 1u) << c.code;
    EXPECT_EQ(host::ConsoleLines()[0], c.text);
  }
  f->Close();
  host::ClearConsole();
  f->ReportError();
  EXPECT_TRUE(host::ConsoleLines().empty());
  EXPECT_EQ(f->GetError(), 0);
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, ReportErrorAfterRealFailures) {
  // A failed explicit flush keeps the file open with the host's write error.
  gantryBinFile* f = OpenFile(Path("full.bin"), BINFILE_WRITE, 16);
  EXPECT_TRUE(f->WriteBytes("abcd", 4));
  host::FailWritesAfter(0);
  EXPECT_FALSE(f->Flush());
  EXPECT_EQ(f->GetError(), FILEERROR_WRITE);
  f->ReportError();
  EXPECT_TRUE(ConsoleHas("File Error: FILEERROR_WRITE"));
  gantryBinFile::Free(f);
  host::ResetFaults();

  // A fresh open starts without an error.
  const std::string path = WriteFile("ok.bin", "data");
  f = OpenFile(path, BINFILE_READ, 4);
  host::ClearConsole();
  f->ReportError();
  ASSERT_EQ(host::ConsoleLines().size(), 1u);
  EXPECT_EQ(host::ConsoleLines()[0], "File Error: FILEERROR_NONE");

  // A read error closes the file, so there is nothing left to report.
  EXPECT_TRUE(f->SetFilePos(1));
  host::FailReadsAfter(0);
  EXPECT_EQ(f->ReadWord(), 0);
  EXPECT_FALSE(f->IsOpen());
  host::ClearConsole();
  f->ReportError();
  EXPECT_TRUE(host::ConsoleLines().empty());
  gantryBinFile::Free(f);
}

// --- memory and file failures by fault injection ---------------------------------------

TEST_F(BinFileTest, AllocFailsCleanlyAtEveryAllocation) {
  LLONG failures = 0;
  for (LLONG n = 1; n < 50; ++n) {
    const LLONG live = host::GetMemoryStats().liveBlocks;
    host::FailAllocationAt(n);
    gantryBinFile* f = gantryBinFile::Alloc();
    host::ResetFaults();
    if (f) {
      EXPECT_EQ(f->Open(Filename(Path("after.bin").c_str()), BINFILE_WRITE, 8), 0);
      gantryBinFile::Free(f);
      break;
    }
    ++failures;
    EXPECT_EQ(host::GetMemoryStats().liveBlocks, live) << "allocation " << n;
  }
  EXPECT_GE(failures, 3);  // the object, its text buffer and its host file
}

TEST_F(BinFileTest, OpenWithoutMemoryForTheBufferReturnsMemoryError) {
  const std::string path = WriteFile("mem.bin", Be32(42));
  for (LONG mode : {BINFILE_READ, BINFILE_WRITE}) {
    gantryBinFile* f = gantryBinFile::Alloc();
    ASSERT_NE(f, nullptr);
    host::FailAllocationAt(1);
    EXPECT_EQ(f->Open(Filename(path.c_str()), mode, 1 << 20), FILEERROR_MEMORY);
    host::ResetFaults();
    EXPECT_FALSE(f->IsOpen());
    EXPECT_EQ(ReadFile(path), Be32(42));  // write mode did not get as far as deleting
    ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 16), 0);
    EXPECT_EQ(f->ReadLong(), 42);
    gantryBinFile::Free(f);
  }
  // A buffer size the address space cannot hold fails the same way.
  gantryBinFile* f = gantryBinFile::Alloc();
  host::FailAllocationsAfter(0);
  EXPECT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, 0x7FFFFFFF), FILEERROR_MEMORY);
  host::ResetFaults();
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, HostOpenFailureReturnsItsCode) {
  const std::string path = WriteFile("any.bin", Be32(1));
  for (LONG mode : {BINFILE_READ, BINFILE_WRITE}) {
    gantryBinFile* f = gantryBinFile::Alloc();
    host::FailNextOpen();
    EXPECT_EQ(f->Open(Filename(path.c_str()), mode, 16), FILEERROR_OPEN);
    EXPECT_FALSE(f->IsOpen());
    EXPECT_EQ(f->ReadLong(), 0);
    const LONG one = 1;
    EXPECT_FALSE(f->WriteLong(&one));
    gantryBinFile::Free(f);  // frees the buffer the failed open kept
  }
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(BinFileTest, ReadFailureClosesTheFileSoLaterReadsFailFast) {
  std::string bytes;
  for (uint32_t i = 0; i < 25; ++i) bytes += Be32(i);
  const std::string path = WriteFile("hundred.bin", bytes);
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 16);
  host::FailReadsAfter(20);  // the second block load is cut after 4 bytes
  LONG got[10] = {};
  EXPECT_EQ(f->ReadBytes(got, 40), 16);
  EXPECT_FALSE(f->IsOpen());
  EXPECT_EQ(f->GetError(), 0);
  host::ResetFaults();
  EXPECT_EQ(f->ReadLong(), 0);
  EXPECT_FALSE(f->SetFilePos(0));
  Real r[2] = {5, 5};
  EXPECT_FALSE(f->ReadReals(r, 2));
  gantryBinFile::Free(f);

  // Through the typed array reads: the values before the failed load arrive.
  f = OpenFile(path, BINFILE_READ, 16);
  host::FailReadsAfter(16);
  Real reals[8];
  for (Real& x : reals) x = 7.0;
  EXPECT_TRUE(f->ReadReals(reals, 8));  // missing values read as 0.0
  host::ResetFaults();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(reals[i], static_cast<Real>(FloatFromBits(static_cast<uint32_t>(i))));
  for (int i = 4; i < 8; ++i) EXPECT_EQ(reals[i], 0.0);
  EXPECT_FALSE(f->IsOpen());
  gantryBinFile::Free(f);
}

TEST_F(BinFileTest, WriteFailureAfterNBytesClosesTheFile) {
  for (LLONG limit : {0, 10, 16}) {
    SCOPED_TRACE(limit);
    const std::string path = Path("disk.bin");
    gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 8);
    host::FailWritesAfter(limit);
    LONG values[10];
    for (LONG i = 0; i < 10; ++i) values[i] = 0x41424344 + i;
    // 40 bytes in blocks of 8: a flush is cut at the limit and the call fails.
    EXPECT_FALSE(f->WriteLongs(values, 10));
    EXPECT_FALSE(f->IsOpen());
    host::ResetFaults();
    EXPECT_FALSE(f->WriteLong(&values[0]));
    const Vector v(1, 2, 3);
    EXPECT_FALSE(f->WriteVector(&v));
    gantryBinFile::Free(f);
    // The short file is not kept: no file looks complete that is not.
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST_F(BinFileTest, WriteFailureInsideARealsArrayStopsTheCall) {
  const std::string path = WriteFile("reals.bin", "the cache before");
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 1 << 12);
  std::vector<Real> reals(10000, 0.5);
  host::FailWritesAfter(20000);
  EXPECT_FALSE(f->WriteReals(reals.data(), 10000));
  EXPECT_FALSE(f->IsOpen());
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(path), "the cache before");
}

TEST_F(BinFileTest, CloseSaysWhetherTheFileIsInPlaceAndDiscardKeepsTheOldOne) {
  const std::string path = WriteFile("cache.bin", "old");
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, 4);
  const LONG value = 7;
  ASSERT_TRUE(f->WriteLong(&value));
  f->Discard();
  EXPECT_EQ(ReadFile(path), "old");

  ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_WRITE, 8), 0);
  ASSERT_TRUE(f->WriteLong(&value));
  host::FailWritesAfter(2);  // the last flush happens in Close
  EXPECT_EQ(f->Close(), FILEERROR_WRITE);
  host::ResetFaults();
  EXPECT_EQ(ReadFile(path), "old");

  ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_WRITE, 4), 0);
  ASSERT_TRUE(f->WriteLong(&value));
  EXPECT_EQ(f->Close(), 0);
  EXPECT_EQ(ReadFile(path), Be32(7));
  gantryBinFile::Free(f);
}

// --- the point-cache layout --------------------------------------------------------

TEST_F(BinFileTest, PointCacheLayoutIsByteExact) {
  const LONG frames = 3, points = 2;
  const Real times[frames] = {0.0, 1.0 / 30, 2.0 / 30};
  Vector pos[frames][points];
  for (LONG k = 0; k < frames; ++k)
    for (LONG p = 0; p < points; ++p) pos[k][p] = Vector(k + 0.25 * p, -k * 1.5, p * 100.125 + k);

  const std::string path = Path("cache.mdd");
  gantryBinFile* f = OpenFile(path, BINFILE_WRITE, BINFILE_BUFFERSIZE);
  ASSERT_TRUE(f->WriteLong(&frames));
  ASSERT_TRUE(f->WriteLong(&points));
  ASSERT_TRUE(f->WriteReals(times, frames));
  for (LONG k = 0; k < frames; ++k)
    for (LONG p = 0; p < points; ++p) ASSERT_TRUE(f->WriteVector(&pos[k][p]));
  f->Close();

  std::string expected = Be32(frames) + Be32(points);
  for (Real t : times) expected += BeFloat(t);
  for (LONG k = 0; k < frames; ++k)
    for (LONG p = 0; p < points; ++p) expected += BeFloat(pos[k][p].x) + BeFloat(pos[k][p].y) + BeFloat(pos[k][p].z);
  const std::string written = ReadFile(path);
  EXPECT_EQ(written.size(), static_cast<size_t>(8 + 4 * frames + 12 * points * frames));
  EXPECT_TRUE(written == expected);

  ASSERT_EQ(f->Open(Filename(path.c_str()), BINFILE_READ, BINFILE_BUFFERSIZE), 0);
  EXPECT_EQ(f->ReadLong(), frames);
  EXPECT_EQ(f->ReadLong(), points);
  Real t[frames];
  ASSERT_TRUE(f->ReadReals(t, frames));
  EXPECT_EQ(t[1], static_cast<Real>(static_cast<SReal>(1.0 / 30)));
  // Frames out of order through SetFilePos, as the deformer reads them.
  for (LONG k : {2, 0, 1}) {
    ASSERT_TRUE(f->SetFilePos(8 + 4 * frames + 12 * points * k));
    Vector v[points];
    ASSERT_TRUE(f->ReadVectors(v, points));
    for (LONG p = 0; p < points; ++p) EXPECT_EQ(v[p], pos[k][p]) << k << " " << p;
  }
  gantryBinFile::Free(f);
}

// --- side log ----------------------------------------------------------------------

TEST_F(BinFileTest, SideLogLiesBesideTheDataFile) {
  const std::string path = WriteFile("shot.mdd", Be32(0));
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 16);
  f->LogText("dropped");  // not open yet
  ASSERT_TRUE(f->OpenLog());
  const std::string logPath = Path("shot.log");
  EXPECT_TRUE(ConsoleHas("kx_import: opening log - " + logPath));
  EXPECT_TRUE(f->OpenLog());  // already open: no second line
  f->LogText("frames 0");
  f->LogString(String("points 2"));
  f->LogVector(Vector(1, -2.5, 0.125));
  gantryBinFile::Free(f);
  EXPECT_EQ(ReadFile(logPath), "frames 0\npoints 2\n1.00000000 -2.50000000 0.12500000\n");
  size_t opening = 0;
  for (const auto& line : host::ConsoleLines()) opening += line.find("opening log") != std::string::npos;
  EXPECT_EQ(opening, 1u);
}

TEST_F(BinFileTest, SideLogFailures) {
  const std::string path = WriteFile("shot.mdd", Be32(0));
  gantryBinFile* f = OpenFile(path, BINFILE_READ, 16);
  host::FailAllocationAt(1);
  EXPECT_FALSE(f->OpenLog());
  host::ResetFaults();
  EXPECT_TRUE(ConsoleHas("Failed to Alloc Log File! (]"));
  EXPECT_FALSE(fs::exists(Path("shot.log")));
  // The output object exists but cannot get its own buffers.
  host::FailAllocationsAfter(1);
  EXPECT_FALSE(f->OpenLog());
  host::ResetFaults();
  f->LogText("dropped");
  EXPECT_TRUE(f->OpenLog());  // a later attempt may succeed
  gantryBinFile::Free(f);

  // No data file has been opened: there is no name for the log.
  f = gantryBinFile::Alloc();
  host::ClearConsole();
  EXPECT_FALSE(f->OpenLog());
  EXPECT_TRUE(host::ConsoleLines().empty());
  gantryBinFile::Free(f);
}

}  // namespace

// GeData and BaseContainer semantics, and the binary container codec and file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "c4d_basecontainer.h"
#include "container_codec.h"
#include "host_fixture.h"

namespace fs = std::filesystem;
using host::internal::DecodeContainer;
using host::internal::EncodeContainer;
using host::internal::ReadContainerFile;
using host::internal::WriteContainerFile;

namespace {

constexpr char kMagic[8] = {'T', 'E', 'S', 'T', 'M', 'A', 'G', 'C'};

Matrix SomeMatrix() {
  Matrix m;
  m.off = Vector(1, 2, 3);
  m.v1 = Vector(0, -1, 0);
  m.v2 = Vector(1.5, 0, 0);
  m.v3 = Vector(0, 0, 1e-300);
  return m;
}

// A container with every value kind and two levels of nesting.
BaseContainer Sample() {
  BaseContainer inner(77);
  inner.SetString(1, String("inner text"));
  inner.SetLong(2, -5);
  BaseContainer middle(-3);
  middle.SetContainer(10, inner);
  middle.SetReal(11, 0.25);
  middle.SetContainer(12, BaseContainer());

  BaseContainer bc(1022494);
  bc.SetLong(1000, 5);
  bc.SetLong(-7, std::numeric_limits<LONG>::min());
  bc.SetBool(1001, TRUE);
  bc.SetLLong(1002, 0x0123456789ABCDEFLL);
  bc.SetReal(1003, -123.456);
  bc.SetVector(1004, Vector(1, -2, 3.5));
  bc.SetMatrix(1005, SomeMatrix());
  bc.SetString(1006, String(std::string("nul\0inside\xff", 11)));
  bc.SetString(1007, String());
  bc.SetFilename(1008, Filename("/tmp/a b/c.obj"));
  bc.SetData(1009, GeData());
  bc.SetContainer(2000, middle);
  return bc;
}

// --- GeData -------------------------------------------------------------------

TEST(GeDataTest, GettersAnswerOnlyForTheirKinds) {
  const GeData l(LONG(42)), ll(LLONG(1) << 40), r(Real(2.75)), s(String("x")), f(Filename("a/b")), nil;
  EXPECT_EQ(l.GetLong(), 42);
  EXPECT_EQ(l.GetLLong(), 42);       // widening is safe
  EXPECT_EQ(l.GetReal(), 42.0);      // and so is LONG to Real
  EXPECT_EQ(r.GetLong(), 0);         // a real is never cut to an integer
  EXPECT_EQ(ll.GetLong(), 0);        // nor a 64-bit integer to 32 bits
  EXPECT_EQ(ll.GetLLong(), LLONG(1) << 40);
  EXPECT_EQ(s.GetReal(), 0.0);
  EXPECT_EQ(f.GetString(), String("a/b"));
  EXPECT_EQ(s.GetFilename().GetString(), String("x"));
  EXPECT_EQ(nil.GetType(), DA_NIL);
  EXPECT_EQ(nil.GetContainer(), nullptr);
  EXPECT_EQ(GeData(TRUE).GetType(), DA_LONG);
  EXPECT_EQ(GeData(TRUE).GetLong(), 1);
  EXPECT_EQ(GeData(FALSE).GetBool(), FALSE);
}

TEST(GeDataTest, CopiesOwnTheirContainers) {
  BaseContainer bc;
  bc.SetLong(1, 1);
  GeData a(bc);
  GeData b(a);
  GeData c;
  c = a;
  ASSERT_NE(b.GetContainer(), a.GetContainer());
  ASSERT_NE(c.GetContainer(), a.GetContainer());
  b.GetContainer()->SetLong(1, 2);
  c.GetContainer()->SetLong(1, 3);
  EXPECT_EQ(a.GetContainer()->GetLong(1), 1);
  EXPECT_NE(a, b);
  a = a;  // self-assignment keeps the value
  ASSERT_TRUE(a.GetContainer());
  EXPECT_EQ(a.GetContainer()->GetLong(1), 1);
  // Assigning a value from inside the held container.
  BaseContainer outer;
  outer.SetLong(5, 9);
  GeData holder(outer);
  holder = *holder.GetContainer()->GetDataPointer(5);
  EXPECT_EQ(holder.GetType(), DA_LONG);
  EXPECT_EQ(holder.GetLong(), 9);
}

TEST(GeDataTest, EqualityComparesKindAndValue) {
  EXPECT_EQ(GeData(LONG(1)), GeData(TRUE));
  EXPECT_NE(GeData(LONG(1)), GeData(Real(1.0)));
  EXPECT_NE(GeData(String("a")), GeData(Filename("a")));
  EXPECT_EQ(GeData(SomeMatrix()), GeData(SomeMatrix()));
  Matrix other = SomeMatrix();
  other.v3.y = 1;
  EXPECT_NE(GeData(SomeMatrix()), GeData(other));
  EXPECT_EQ(GeData(Sample()), GeData(Sample()));
  BaseContainer changed = Sample();
  changed.GetContainerInstance(2000)->GetContainerInstance(10)->SetLong(2, -6);
  EXPECT_NE(GeData(Sample()), GeData(changed));
}

// --- BaseContainer ---------------------------------------------------------------

TEST(BaseContainerTest, TypedGettersFallBackToTheDefault) {
  BaseContainer bc;
  bc.SetLong(1, 7);
  bc.SetReal(2, 2.5);
  bc.SetString(3, String("s"));
  bc.SetFilename(4, Filename("f"));
  bc.SetLLong(5, 99);

  EXPECT_EQ(bc.GetLong(1, -1), 7);
  EXPECT_EQ(bc.GetLong(2, -1), -1);  // a real entry is not converted
  EXPECT_EQ(bc.GetLong(3, -1), -1);
  EXPECT_EQ(bc.GetLong(5, -1), -1);
  EXPECT_EQ(bc.GetLong(99, -1), -1);
  EXPECT_EQ(bc.GetReal(1, -1.0), 7.0);  // an integer entry is
  EXPECT_EQ(bc.GetReal(2, -1.0), 2.5);
  EXPECT_EQ(bc.GetReal(3, -1.0), -1.0);
  EXPECT_EQ(bc.GetBool(1, FALSE), TRUE);
  EXPECT_EQ(bc.GetBool(2, TRUE), TRUE);
  EXPECT_EQ(bc.GetLLong(1, -1), 7);
  EXPECT_EQ(bc.GetLLong(5, -1), 99);
  EXPECT_EQ(bc.GetString(3, String("d")), String("s"));
  EXPECT_EQ(bc.GetString(4, String("d")), String("f"));
  EXPECT_EQ(bc.GetString(1, String("d")), String("d"));
  EXPECT_EQ(bc.GetFilename(3).GetString(), String("s"));
  EXPECT_EQ(bc.GetVector(1, Vector(9)), Vector(9));
  EXPECT_EQ(bc.GetMatrix(1).v1, Vector(1, 0, 0));
  EXPECT_EQ(bc.GetContainerInstance(1), nullptr);
  EXPECT_EQ(bc.GetContainer(1).GetEntryCount(), 0);
  EXPECT_EQ(bc.GetDataPointer(99), nullptr);
  EXPECT_EQ(bc.GetData(99).GetType(), DA_NIL);
}

TEST(BaseContainerTest, SetDataReplacesInPlaceAndKeepsOrder) {
  BaseContainer bc;
  bc.SetLong(30, 1);
  bc.SetLong(10, 2);
  bc.SetLong(20, 3);
  bc.SetString(10, String("now text"));
  ASSERT_EQ(bc.GetEntryCount(), 3);
  EXPECT_EQ(bc.GetIndexId(0), 30);
  EXPECT_EQ(bc.GetIndexId(1), 10);
  EXPECT_EQ(bc.GetIndexId(2), 20);
  EXPECT_EQ(bc.GetIndexId(3), NOTOK);
  EXPECT_EQ(bc.GetIndexId(-1), NOTOK);
  EXPECT_EQ(bc.GetIndexData(3), nullptr);
  EXPECT_EQ(bc.GetIndexData(1)->GetString(), String("now text"));
  EXPECT_EQ(bc.GetLong(10, -1), -1);

  EXPECT_TRUE(bc.RemoveData(30));
  EXPECT_FALSE(bc.RemoveData(30));
  EXPECT_EQ(bc.GetIndexId(0), 10);
  bc.FlushAll();
  EXPECT_EQ(bc.GetEntryCount(), 0);
}

TEST(BaseContainerTest, SubContainersAreDeepCopies) {
  BaseContainer sub(5);
  sub.SetLong(1, 1);
  BaseContainer bc;
  bc.SetContainer(100, sub);
  sub.SetLong(1, 2);  // the stored copy does not follow
  EXPECT_EQ(bc.GetContainer(100).GetLong(1), 1);
  EXPECT_EQ(bc.GetContainer(100).GetId(), 5);

  BaseContainer copy = bc;
  copy.GetContainerInstance(100)->SetLong(1, 3);
  EXPECT_EQ(bc.GetContainerInstance(100)->GetLong(1), 1);
  BaseContainer clone = bc.GetClone();
  BaseContainer target;
  bc.CopyTo(&target);
  bc.CopyTo(nullptr);
  EXPECT_EQ(clone, bc);
  EXPECT_EQ(target, bc);
  EXPECT_NE(copy, bc);

  // Through the in-place pointer the stored container changes.
  bc.GetContainerInstance(100)->SetLong(2, 4);
  EXPECT_EQ(bc.GetContainer(100).GetLong(2), 4);
}

TEST(BaseContainerTest, SettingAnEntryFromItsOwnContainer) {
  BaseContainer bc;
  BaseContainer sub;
  sub.SetString(1, String("keep me"));
  bc.SetContainer(1, sub);
  // Appends copy the value before the entry table grows.
  for (LONG id = 2; id < 40; ++id) bc.SetData(id, *bc.GetDataPointer(1));
  EXPECT_EQ(bc.GetEntryCount(), 39);
  EXPECT_EQ(bc.GetContainer(39).GetString(1), String("keep me"));
  // Replacing a container with one of its own entries.
  bc.SetData(1, *bc.GetContainerInstance(1)->GetDataPointer(1));
  EXPECT_EQ(bc.GetString(1), String("keep me"));
  // And with itself.
  bc.SetData(2, *bc.GetDataPointer(2));
  EXPECT_EQ(bc.GetContainer(2).GetString(1), String("keep me"));
}

// --- codec -----------------------------------------------------------------------

TEST(ContainerCodecTest, RoundTripKeepsEveryKindOrderAndNesting) {
  const BaseContainer bc = Sample();
  const std::string bytes = EncodeContainer(bc);
  BaseContainer back;
  std::string error;
  ASSERT_TRUE(DecodeContainer(bytes.data(), bytes.size(), &back, &error)) << error;
  EXPECT_EQ(back, bc);
  ASSERT_EQ(back.GetEntryCount(), bc.GetEntryCount());
  for (LONG i = 0; i < bc.GetEntryCount(); ++i) EXPECT_EQ(back.GetIndexId(i), bc.GetIndexId(i));
  EXPECT_EQ(back.GetData(1008).GetType(), DA_FILENAME);
  EXPECT_EQ(back.GetData(1001).GetType(), DA_LONG);
  EXPECT_EQ(back.GetString(1006).GetLength(), 11);
  EXPECT_EQ(back.GetContainer(2000).GetContainer(10).GetId(), 77);
  EXPECT_EQ(back.GetContainer(2000).GetId(), -3);
  EXPECT_EQ(EncodeContainer(back), bytes);
}

TEST(ContainerCodecTest, RealsKeepTheirBits) {
  const Real values[] = {-0.0, std::numeric_limits<Real>::infinity(), std::numeric_limits<Real>::quiet_NaN(),
                         std::numeric_limits<Real>::denorm_min(), 1.0 / 3.0};
  for (Real v : values) {
    BaseContainer bc;
    bc.SetReal(1, v);
    const std::string bytes = EncodeContainer(bc);
    BaseContainer back;
    ASSERT_TRUE(DecodeContainer(bytes.data(), bytes.size(), &back, nullptr));
    const Real r = back.GetReal(1, 7.0);
    EXPECT_EQ(std::memcmp(&r, &v, sizeof(r)), 0) << v;
  }
}

TEST(ContainerCodecTest, LayoutIsLittleEndian) {
  BaseContainer bc(0x01020304);
  bc.SetLong(-2, 0x0A0B0C0D);
  bc.SetString(5, String("hi"));
  const std::string expected(
      "\x04\x03\x02\x01"  // id
      "\x02\x00\x00\x00"  // two entries
      "\xfe\xff\xff\xff" "\x0f\x00\x00\x00" "\x0d\x0c\x0b\x0a"  // -2: LONG
      "\x05\x00\x00\x00" "\x82\x00\x00\x00" "\x02\x00\x00\x00" "hi",  // 5: STRING
      34);
  EXPECT_EQ(EncodeContainer(bc), expected);
}

TEST(ContainerCodecTest, EveryTruncationIsRefused) {
  const std::string bytes = EncodeContainer(Sample());
  for (size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    BaseContainer out(4711);
    out.SetLong(1, 1);
    std::string error;
    // A copy of exactly n bytes, so that a read past the end is caught by the sanitizer.
    const std::vector<char> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    EXPECT_FALSE(DecodeContainer(cut.data(), cut.size(), &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(out.GetId(), 4711);  // untouched on failure
    EXPECT_EQ(out.GetEntryCount(), 1);
  }
}

TEST(ContainerCodecTest, DamagedPayloadsAreRefusedWithAReason) {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"huge entry count", u32(1) + u32(0xFFFFFFFF), "entry count"},
      {"count beyond the data", u32(1) + u32(2) + u32(1) + u32(DA_NIL), "entry count"},
      {"huge text length", u32(1) + u32(1) + u32(1) + u32(DA_STRING) + u32(0xFFFFFFF0) + "abc", "text length"},
      {"unknown type", u32(1) + u32(1) + u32(1) + u32(4242), "unknown value type 4242"},
      {"byte array is not stored", u32(1) + u32(1) + u32(1) + u32(DA_BYTEARRAY) + u32(0), "unknown value type"},
      {"duplicate entry", u32(1) + u32(2) + u32(9) + u32(DA_NIL) + u32(9) + u32(DA_NIL), "appears twice"},
      {"trailing bytes", u32(1) + u32(0) + "x", "after the end"},
      {"nested count too big", u32(1) + u32(1) + u32(1) + u32(DA_CONTAINER) + u32(2) + u32(1000), "entry count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BaseContainer out;
    std::string error;
    EXPECT_FALSE(DecodeContainer(c.bytes.data(), c.bytes.size(), &out, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_NE(error.find("at byte"), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(DecodeContainer(nullptr, 4, nullptr, &error));
  EXPECT_FALSE(DecodeContainer(nullptr, 0, nullptr, &error));
}

TEST(ContainerCodecTest, NestingIsLimitedTo64Levels) {
  auto nested = [](int levels) {
    BaseContainer bc(levels);
    for (int i = 1; i < levels; ++i) {
      BaseContainer outer(levels - i);
      outer.SetContainer(1, bc);
      bc = outer;
    }
    return bc;
  };
  const std::string ok = EncodeContainer(nested(host::internal::kMaxContainerDepth));
  BaseContainer back;
  std::string error;
  ASSERT_TRUE(DecodeContainer(ok.data(), ok.size(), &back, &error)) << error;
  const BaseContainer* deepest = &back;
  int depth = 1;
  while (const BaseContainer* next = deepest->GetContainerInstance(1)) {
    deepest = next;
    ++depth;
  }
  EXPECT_EQ(depth, host::internal::kMaxContainerDepth);
  EXPECT_EQ(deepest->GetId(), host::internal::kMaxContainerDepth);

  const std::string tooDeep = EncodeContainer(nested(host::internal::kMaxContainerDepth + 1));
  EXPECT_FALSE(DecodeContainer(tooDeep.data(), tooDeep.size(), &back, &error));
  EXPECT_NE(error.find("nested deeper than 64"), std::string::npos) << error;
}

TEST(ContainerCodecTest, Crc32MatchesTheStandardCheckValue) {
  EXPECT_EQ(host::internal::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(host::internal::Crc32("", 0), 0u);
}

// --- container files -------------------------------------------------------------

class ContainerFileTest : public HostTest {
 protected:
  std::string Path() { return TempDir() + "/data.kvs"; }
  std::string Written() {
    std::string error;
    EXPECT_TRUE(WriteContainerFile(Path(), Sample(), kMagic, &error)) << error;
    return ReadFile(Path());
  }
  // Reads bytes as a container file: the reason when refused, "" when read.
  std::string Refusal(const std::string& bytes) {
    WriteFile("damaged.kvs", bytes);
    BaseContainer out;
    std::string error;
    bool unreadable = true;
    if (ReadContainerFile(TempDir() + "/damaged.kvs", &out, kMagic, &error, &unreadable)) return "";
    EXPECT_FALSE(unreadable);
    EXPECT_FALSE(error.empty());
    return error.empty() ? "?" : error;
  }
};

TEST_F(ContainerFileTest, RoundTripLeavesNoTemporaryFile) {
  const std::string bytes = Written();
  EXPECT_EQ(bytes.size(), host::internal::kContainerFileHeaderSize + EncodeContainer(Sample()).size());
  EXPECT_EQ(bytes.compare(0, 8, std::string(kMagic, 8)), 0);
  EXPECT_FALSE(fs::exists(Path() + ".tmp"));
  BaseContainer back;
  std::string error;
  ASSERT_TRUE(ReadContainerFile(Path(), &back, kMagic, &error)) << error;
  EXPECT_EQ(back, Sample());

  // A second write replaces the first.
  BaseContainer small;
  small.SetLong(1, 2);
  ASSERT_TRUE(WriteContainerFile(Path(), small, kMagic, &error)) << error;
  ASSERT_TRUE(ReadContainerFile(Path(), &back, kMagic, &error)) << error;
  EXPECT_EQ(back, small);
}

TEST_F(ContainerFileTest, EveryTruncationIsReportedAsDamage) {
  const std::string bytes = Written();
  for (size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    const std::string why = Refusal(bytes.substr(0, n));
    EXPECT_NE(why, "");
    if (n < host::internal::kContainerFileHeaderSize)
      EXPECT_NE(why.find("shorter than its header"), std::string::npos) << why;
    else
      EXPECT_NE(why.find("length field"), std::string::npos) << why;
  }
}

TEST_F(ContainerFileTest, EveryFlippedByteIsCaught) {
  const std::string bytes = Written();
  for (size_t i = 0; i < bytes.size(); ++i) {
    SCOPED_TRACE(i);
    std::string flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    EXPECT_NE(Refusal(flipped), "");
  }
}

TEST_F(ContainerFileTest, HeaderFaultsNameTheirReason) {
  const std::string bytes = Written();
  std::string wrongMagic = bytes;
  wrongMagic[0] = 'X';
  EXPECT_NE(Refusal(wrongMagic).find("wrong file signature"), std::string::npos);

  std::string version = bytes;
  version[8] = 2;
  EXPECT_NE(Refusal(version).find("unsupported version 2"), std::string::npos);

  std::string hugeLength = bytes;
  for (int i = 12; i < 20; ++i) hugeLength[static_cast<size_t>(i)] = '\xff';
  EXPECT_NE(Refusal(hugeLength).find("length field says 18446744073709551615 bytes"), std::string::npos);

  std::string crc = bytes;
  crc[20] = static_cast<char>(crc[20] ^ 1);
  EXPECT_NE(Refusal(crc).find("checksum"), std::string::npos);

  // A file whose checksum is right but whose payload is not a container.
  std::string bad =
      bytes.substr(0, host::internal::kContainerFileHeaderSize) + std::string("\x01\x00\x00\x00\xff\xff\xff\xff", 8);
  const uint64_t length = 8;
  const uint32_t sum = host::internal::Crc32(bad.data() + 24, 8);
  std::memcpy(&bad[12], &length, 8);
  std::memcpy(&bad[20], &sum, 4);
  EXPECT_NE(Refusal(bad).find("entry count"), std::string::npos);
}

TEST_F(ContainerFileTest, MissingOrUnopenableFilesAreUnreadable) {
  BaseContainer out;
  std::string error;
  bool unreadable = false;
  EXPECT_FALSE(ReadContainerFile(TempDir() + "/none.kvs", &out, kMagic, &error, &unreadable));
  EXPECT_TRUE(unreadable);
  EXPECT_FALSE(error.empty());
  fs::create_directories(TempDir() + "/folder.kvs");
  EXPECT_FALSE(ReadContainerFile(TempDir() + "/folder.kvs", &out, kMagic, &error, &unreadable));
  EXPECT_TRUE(unreadable);
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

TEST_F(ContainerFileTest, AFailedWriteKeepsTheOldFile) {
  const std::string before = Written();
  BaseContainer other;
  other.SetLong(1, 1);
  std::string error;
  for (LLONG budget : {0, 5, 30}) {  // the disk fills in the header, the payload, at its end
    SCOPED_TRACE(budget);
    host::FailWritesAfter(budget);
    EXPECT_FALSE(WriteContainerFile(Path(), other, kMagic, &error));
    host::ResetFaults();
    EXPECT_NE(error.find("cannot write '" + Path() + "'"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(Path()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(TempDir()), fs::directory_iterator()), 1);  // no temporary file
  }

  EXPECT_FALSE(WriteContainerFile(TempDir() + "/no/such/folder/x.kvs", other, kMagic, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace

namespace {

// Look-ups halve while the IDs were set in ascending order and walk otherwise: either way
// every entry is found, in the order it was set, and removals keep both right.
TEST(BaseContainerOrderTest, EntriesAreFoundWhateverTheOrderTheyWereSetIn) {
  const std::vector<std::vector<LONG>> orders = {
      {1, 2, 3, 1000, 5000},        // ascending: the halving search
      {5000, 1000, 3, 2, 1},        // descending
      {3, 1, 1000, 2, 5000},        // mixed
      {1, 2, 3, 2, 1000, 4},        // ascending, then an existing ID, then a smaller new one
  };
  for (const std::vector<LONG>& order : orders) {
    BaseContainer bc;
    std::vector<LONG> distinct;
    for (const LONG id : order) {
      bc.SetLong(id, id * 10);
      if (std::find(distinct.begin(), distinct.end(), id) == distinct.end()) distinct.push_back(id);
    }
    ASSERT_EQ(bc.GetEntryCount(), static_cast<LONG>(distinct.size()));
    for (size_t i = 0; i < distinct.size(); ++i) {
      EXPECT_EQ(bc.GetIndexId(static_cast<LONG>(i)), distinct[i]);  // insertion order kept
      EXPECT_EQ(bc.GetLong(distinct[i], -1), distinct[i] * 10);
    }
    EXPECT_EQ(bc.GetLong(999, -1), -1);
    EXPECT_TRUE(bc.RemoveData(distinct[1]));
    EXPECT_FALSE(bc.RemoveData(distinct[1]));
    EXPECT_EQ(bc.GetLong(distinct[1], -1), -1);
    for (size_t i = 0; i < distinct.size(); ++i) {
      if (i != 1) {
        EXPECT_EQ(bc.GetLong(distinct[i], -1), distinct[i] * 10);
      }
    }
    bc.FlushAll();
    bc.SetLong(7, 1);
    bc.SetLong(8, 2);
    EXPECT_EQ(bc.GetLong(8), 2);
  }
  // Many names set in order, as group markers are, each found.
  BaseContainer names;
  for (LONG i = 0; i < 20000; ++i) names.SetString(1001 + i, String("g") + LongToString(i));
  EXPECT_EQ(names.GetString(1001 + 12345).Std(), "g12345");
}

}  // namespace

// Name tables: numbering, raw-byte keys, host String conversion, Clear and Destroy, and
// every allocation failure, uthash's own table and bucket growth included.
#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "namehash.h"

namespace {

const char kMemoryLine[] = "Kelvane: Memory Allocation Error - name table";

std::string NameNumber(int i) { return "name_" + std::to_string(i); }

class NameHashTest : public HostTest {};

TEST_F(NameHashTest, NamesAreNumberedInOrderOfFirstInsertion) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->Count(), 0);
  EXPECT_EQ(table->Find("a"), nullptr);

  struct Step {
    const char* name;
    LONG present;  // AddName's answer
    LONG index;    // the name's index afterwards
  } steps[] = {
      {"Wood", 0, 0}, {"Wood", 1, 0}, {"wood", 0, 1}, {"WOOD", 0, 2}, {"Wood ", 0, 3},
      {" Wood", 0, 4}, {"wood", 1, 1}, {"Wo od", 0, 5}, {"Wo  od", 0, 6}, {"", 0, 7}, {"", 1, 7},
  };
  LONG expectedNext = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string("'") + s.name + "'");
    EXPECT_EQ(table->AddName(s.name), s.present);
    if (!s.present) ++expectedNext;
    EXPECT_EQ(table->NextIndex(), expectedNext);
    const nameEntry* entry = table->Find(s.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->index, s.index);
    EXPECT_STREQ(entry->key, s.name);
    EXPECT_EQ(entry->keyLength, static_cast<LONG>(std::strlen(s.name)));
  }
  EXPECT_EQ(table->Count(), expectedNext);
  EXPECT_EQ(table->Find("Woo"), nullptr);
  EXPECT_EQ(table->Find("Woodd"), nullptr);
  EXPECT_EQ(table->Find(nullptr), nullptr);
  EXPECT_EQ(table->AddName(static_cast<const CHAR*>(nullptr)), 0);
  EXPECT_EQ(table->AddNameEntry(static_cast<const CHAR*>(nullptr)), nullptr);
  EXPECT_EQ(table->Count(), expectedNext);

  nameHash::Destroy(&table);
  EXPECT_EQ(table, nullptr);
  nameHash::Destroy(&table);  // already null: nothing to do
  nameHash::Destroy(nullptr);
}

TEST_F(NameHashTest, AddNameEntryReturnsTheExistingEntry) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  nameEntry* first = table->AddNameEntry("grp");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(table->AddNameEntry("grp"), first);
  EXPECT_EQ(table->AddNameEntry(String("grp")), first);
  EXPECT_EQ(table->AddName("grp"), 1);
  EXPECT_EQ(table->NextIndex(), 1);

  // The key is the table's copy, not the caller's buffer.
  char buffer[] = "tmp";
  nameEntry* copy = table->AddNameEntry(buffer);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->key, buffer);
  buffer[0] = 'x';
  EXPECT_EQ(table->Find("tmp"), copy);
  EXPECT_EQ(table->Find("xmp"), nullptr);
  nameHash::Destroy(&table);
}

TEST_F(NameHashTest, HostStringsAreCutTo255Characters) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  const std::string first255(255, 'm');
  const String longName((first255 + "tail that is dropped").c_str());
  const String otherTail((first255 + "another tail").c_str());

  EXPECT_EQ(table->AddName(longName), 0);
  const nameEntry* entry = table->Find(first255.c_str());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->keyLength, 255);
  EXPECT_EQ(table->Find(longName), entry);
  EXPECT_EQ(table->Find(otherTail), entry);
  EXPECT_EQ(table->AddName(otherTail), 1);
  EXPECT_EQ(table->Find(String(std::string(254, 'm').c_str())), nullptr);

  // A 256-byte 8-bit name is not cut: it is a name of its own.
  const std::string byte256(256, 'm');
  EXPECT_EQ(table->AddName(byte256.c_str()), 0);
  EXPECT_EQ(table->Find(byte256.c_str())->keyLength, 256);
  EXPECT_EQ(table->Count(), 2);

  // Short host strings map to the same entries as their 8-bit text.
  EXPECT_EQ(table->AddName("short"), 0);
  EXPECT_EQ(table->Find(String("short")), table->Find("short"));
  EXPECT_EQ(table->Find(String("")), nullptr);
  nameHash::Destroy(&table);
}

TEST_F(NameHashTest, ClearEmptiesAndRestartsNumbering) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_NE(table->AddNameEntry(NameNumber(i).c_str()), nullptr);
  table->Clear();
  EXPECT_EQ(table->Count(), 0);
  EXPECT_EQ(table->NextIndex(), 0);
  EXPECT_EQ(table->Find(NameNumber(3).c_str()), nullptr);
  EXPECT_EQ(table->First(), nullptr);

  EXPECT_EQ(table->AddName(NameNumber(50).c_str()), 0);
  EXPECT_EQ(table->Find(NameNumber(50).c_str())->index, 0);
  table->Clear();
  table->Clear();  // an empty table clears too
  nameHash::Destroy(&table);
}

TEST_F(NameHashTest, IterationFollowsInsertionOrderAcrossBucketGrowth) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  const int count = 2000;  // far past the initial bucket array
  for (int i = 0; i < count; ++i) ASSERT_EQ(table->AddName(NameNumber(i).c_str()), 0);
  EXPECT_EQ(table->Count(), count);

  int expected = 0;
  for (const nameEntry* e = table->First(); e; e = nameHash::Next(e), ++expected) {
    ASSERT_EQ(e->index, expected);
    ASSERT_EQ(std::string(e->key), NameNumber(expected));
  }
  EXPECT_EQ(expected, count);
  for (int i = 0; i < count; ++i) {
    const nameEntry* e = table->Find(NameNumber(i).c_str());
    ASSERT_NE(e, nullptr) << i;
    ASSERT_EQ(e->index, i);
  }
  nameHash::Destroy(&table);
}

TEST_F(NameHashTest, TableMemoryComesFromTheHostAllocator) {
  const LLONG atStart = host::GetMemoryStats().liveBlocks;
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  ASSERT_NE(table->AddNameEntry("one"), nullptr);
  // The table object, the entry with its key, and uthash's table header and buckets.
  EXPECT_EQ(host::GetMemoryStats().liveBlocks - atStart, 4);
  ASSERT_NE(table->AddNameEntry("two"), nullptr);
  EXPECT_EQ(host::GetMemoryStats().liveBlocks - atStart, 5);
  nameHash::Destroy(&table);
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, atStart);
}

class NameMapTest : public HostTest {};

TEST_F(NameMapTest, ExistingEntryKeepsItsFirstValue) {
  int records[3] = {0, 0, 0};
  meshHash* table = meshHash::Create();
  ASSERT_NE(table, nullptr);
  meshHash::Entry* a = table->AddEntry("sel_a", &records[0]);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->value, &records[0]);
  EXPECT_EQ(a->index, 0);
  EXPECT_EQ(table->AddEntry("sel_a", &records[1]), a);
  EXPECT_EQ(a->value, &records[0]);
  meshHash::Entry* b = table->AddEntry(String("sel_b"), &records[2]);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->index, 1);
  EXPECT_EQ(table->Find("sel_b")->value, &records[2]);
  EXPECT_EQ(table->Find(String("sel_a")), a);
  EXPECT_EQ(table->Find("SEL_A"), nullptr);
  EXPECT_EQ(table->AddEntry("no_record", nullptr)->value, nullptr);

  std::vector<LONG> order;
  for (const meshHash::Entry* e = table->First(); e; e = meshHash::Next(e)) order.push_back(e->index);
  EXPECT_EQ(order, (std::vector<LONG>{0, 1, 2}));

  table->Clear();
  EXPECT_EQ(table->AddEntry("sel_b", &records[1])->index, 0);
  meshHash::Destroy(&table);
  EXPECT_EQ(table, nullptr);
}

TEST_F(NameMapTest, MaterialMapHoldsTypedRecords) {
  materialHash* table = materialHash::Create();
  ASSERT_NE(table, nullptr);
  ioMaterial* record = reinterpret_cast<ioMaterial*>(&table);  // only compared, never used
  materialHash::Entry* entry = table->AddEntry("default_Mat", record);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(table->Find("default_Mat")->value, record);
  materialHash::Destroy(&table);
}

// --- allocation failures --------------------------------------------------------

class NameHashFaultTest : public HostTest {};

TEST_F(NameHashFaultTest, FirstAddFailingAtEachAllocationLeavesEmptyUsableTable) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);

  // The entry with its key, then uthash's table header and its first buckets.
  for (LLONG n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    host::ClearConsole();
    host::ClearUserLog();
    host::FailAllocationAt(n);
    EXPECT_EQ(table->AddNameEntry("first"), nullptr);
    EXPECT_GE(host::AllocationsSinceArmed(), n);
    host::ResetFaults();
    EXPECT_EQ(table->Count(), 0);
    EXPECT_EQ(table->NextIndex(), 0);
    EXPECT_EQ(table->Find("first"), nullptr);
    EXPECT_EQ(table->First(), nullptr);
    // uthash's own growth is reported here; the entry is the caller's to report.
    const bool uthashFailed = n >= 2;
    EXPECT_EQ(ConsoleHas(kMemoryLine), uthashFailed);
    int lines = 0;
    for (const auto& line : host::ConsoleLines()) lines += line.find("name table") != std::string::npos;
    EXPECT_EQ(lines, uthashFailed ? 1 : 0);
    if (uthashFailed) {
      ASSERT_EQ(host::MessageBoxes().size(), 1u);
      EXPECT_EQ(host::MessageBoxes()[0], "Memory Allocation Error!\nname table");
    }
  }
  EXPECT_FALSE(UthashOutOfMemory());

  host::FailAllocationAt(0);
  nameEntry* entry = table->AddNameEntry("first");
  EXPECT_EQ(host::AllocationsSinceArmed(), 3);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->index, 0);
  nameHash::Destroy(&table);
}

// Walks every allocation of every add while the table grows, so that each bucket
// expansion fails once; the old entries must survive each failure untouched.
TEST_F(NameHashFaultTest, EveryFailedAddDuringGrowthKeepsTheTableIntact) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->AddName("seed"), 0);

  const int count = 1500;
  int growthFailures = 0;
  for (int i = 1; i <= count; ++i) {
    const std::string name = NameNumber(i);
    for (LLONG n = 1;; ++n) {
      host::ClearConsole();
      host::FailAllocationAt(n);
      nameEntry* entry = table->AddNameEntry(name.c_str());
      const LLONG used = host::AllocationsSinceArmed();
      host::ResetFaults();
      if (used < n) {
        // The add did not reach allocation n: it must have succeeded, numbered i.
        ASSERT_NE(entry, nullptr) << name;
        ASSERT_EQ(entry->index, i);
        break;
      }
      ASSERT_EQ(entry, nullptr) << name << " failing at " << n;
      ASSERT_EQ(table->Count(), i) << name << " failing at " << n;
      ASSERT_EQ(table->NextIndex(), i);
      ASSERT_EQ(table->Find(name.c_str()), nullptr);
      ASSERT_EQ(ConsoleHas(kMemoryLine), n >= 2) << name << " failing at " << n;
      if (n >= 2) {
        ++growthFailures;
        ASSERT_NE(table->Find("seed"), nullptr);
        for (int k = 1; k < i; ++k) {
          const nameEntry* old = table->Find(NameNumber(k).c_str());
          ASSERT_NE(old, nullptr) << "lost " << NameNumber(k) << " when growth failed at " << name;
          ASSERT_EQ(old->index, k);
        }
      }
    }
  }
  EXPECT_GE(growthFailures, 3) << "the walk never reached a bucket expansion";
  EXPECT_EQ(table->Count(), count + 1);

  int walked = 0;
  for (const nameEntry* e = table->First(); e; e = nameHash::Next(e)) ASSERT_EQ(e->index, walked++);
  EXPECT_EQ(walked, count + 1);
  nameHash::Destroy(&table);
}

TEST_F(NameHashFaultTest, AddNameReportsZeroAndLeavesNameOutWhenMemoryIsMissing) {
  nameHash* table = nameHash::Create();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->AddName("kept"), 0);
  host::FailAllocationAt(1);
  EXPECT_EQ(table->AddName("lost"), 0);
  host::ResetFaults();
  EXPECT_EQ(table->Find("lost"), nullptr);
  EXPECT_EQ(table->AddName("lost"), 0);
  EXPECT_EQ(table->Find("lost")->index, 1);
  nameHash::Destroy(&table);
}

TEST_F(NameHashFaultTest, ValuedAddAndCreateFailCleanly) {
  host::FailAllocationAt(1);
  EXPECT_EQ(meshHash::Create(), nullptr);
  host::FailAllocationAt(1);
  EXPECT_EQ(nameHash::Create(), nullptr);
  host::ResetFaults();

  int record = 0;
  meshHash* table = meshHash::Create();
  ASSERT_NE(table, nullptr);
  for (LLONG n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    host::FailAllocationAt(n);
    EXPECT_EQ(table->AddEntry("x", &record), nullptr);
    host::ResetFaults();
    EXPECT_EQ(table->Count(), 0);
  }
  meshHash::Entry* entry = table->AddEntry("x", &record);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->value, &record);
  EXPECT_EQ(entry->index, 0);
  meshHash::Destroy(&table);
}

}  // namespace

// Counted lists, n-gon records, string lists and the ordered double-keyed storage.
#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "linknode.h"
#include "tstorage.h"

namespace {

// Every invariant of a list: count equals the entries reachable from the head, each
// entry's prev is the one before it (the head node for the first), every owner is the
// list, and Last() is the last reachable entry.
void ExpectConsistent(const linkList& list) {
  LONG reached = 0;
  const linkNode* before = list.Head();
  for (const linkNode* node = list.First(); node; node = node->Next()) {
    ASSERT_EQ(node->Prev(), before) << "entry " << reached;
    ASSERT_EQ(node->Owner(), &list) << "entry " << reached;
    before = node;
    ++reached;
  }
  EXPECT_EQ(reached, list.Count());
  EXPECT_EQ(list.Last(), reached ? before : nullptr);
  EXPECT_EQ(list.Head()->Prev(), nullptr);
  EXPECT_EQ(list.Head()->Data(), nullptr);
}

std::vector<intptr_t> Payloads(const linkList& list) {
  std::vector<intptr_t> out;
  for (const linkNode* node = list.First(); node; node = node->Next())
    out.push_back(reinterpret_cast<intptr_t>(node->Data()));
  return out;
}

void* Tag(intptr_t value) { return reinterpret_cast<void*>(value); }

// Intrusive element whose destructor unlinks itself, as the interchange records do.
class countedElement : public linkNode {
 public:
  explicit countedElement(int* destroyed) : m_pDestroyed(destroyed) {}
  ~countedElement() override {
    Unlink();
    ++*m_pDestroyed;
  }

 private:
  int* m_pDestroyed;
};

class LinkListTest : public HostTest {};

TEST_F(LinkListTest, AppendToEmptyMakesHeadAndTailAndRemovingItRestoresEmpty) {
  linkList list;
  ExpectConsistent(list);
  EXPECT_EQ(list.First(), nullptr);

  linkNode* node = list.Append(Tag(7));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(list.First(), node);
  EXPECT_EQ(list.Last(), node);
  EXPECT_EQ(node->Prev(), list.Head());
  EXPECT_EQ(node->Data(), Tag(7));
  ExpectConsistent(list);

  list.Remove(node);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  ExpectConsistent(list);

  // The tail is the head node again: the next append links from there.
  ASSERT_NE(list.Append(Tag(8)), nullptr);
  EXPECT_EQ(Payloads(list), std::vector<intptr_t>{8});
  ExpectConsistent(list);
}

TEST_F(LinkListTest, RemoveAtEveryPositionKeepsTheOthersInOrder) {
  for (int victim = 0; victim < 5; ++victim) {
    SCOPED_TRACE(victim);
    linkList list;
    for (intptr_t i = 0; i < 5; ++i) ASSERT_NE(list.Append(Tag(i)), nullptr);
    list.Remove(list.GetNode(static_cast<ULONG>(victim)));
    std::vector<intptr_t> expected;
    for (intptr_t i = 0; i < 5; ++i)
      if (i != victim) expected.push_back(i);
    EXPECT_EQ(Payloads(list), expected);
    ExpectConsistent(list);
    ASSERT_NE(list.Append(Tag(9)), nullptr);
    expected.push_back(9);
    EXPECT_EQ(Payloads(list), expected);
    ExpectConsistent(list);
  }
}

TEST_F(LinkListTest, RemoveIgnoresHeadNodeForeignNodesAndNull) {
  linkList list, other;
  ASSERT_NE(list.Append(Tag(1)), nullptr);
  linkNode* foreign = other.Append(Tag(2));
  ASSERT_NE(foreign, nullptr);

  list.Remove(const_cast<linkNode*>(list.Head()));
  list.Remove(foreign);
  list.Remove(nullptr);
  EXPECT_EQ(Payloads(list), std::vector<intptr_t>{1});
  EXPECT_EQ(Payloads(other), std::vector<intptr_t>{2});
  ExpectConsistent(list);
  ExpectConsistent(other);

  // Removing from the empty list's head node must not move the tail off the head.
  linkList empty;
  empty.Remove(const_cast<linkNode*>(empty.Head()));
  ASSERT_NE(empty.Append(Tag(3)), nullptr);
  ExpectConsistent(empty);
}

TEST_F(LinkListTest, IndexedAccessRefusesOutOfRange) {
  linkList list;
  EXPECT_EQ(list.GetNode(0), nullptr);
  for (intptr_t i = 10; i < 13; ++i) ASSERT_NE(list.Append(Tag(i)), nullptr);

  struct Case {
    ULONG index;
    intptr_t payload;  // 0: no entry
  } cases[] = {{0, 10}, {1, 11}, {2, 12}, {3, 0}, {4, 0}, {UINT_MAX, 0}, {0x80000000u, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    if (c.payload) {
      ASSERT_NE(list.GetNode(c.index), nullptr);
      EXPECT_EQ(list.GetData(c.index), Tag(c.payload));
    } else {
      EXPECT_EQ(list.GetNode(c.index), nullptr);
      EXPECT_EQ(list.GetData(c.index), nullptr);
    }
  }
}

TEST_F(LinkListTest, IntrusiveElementsAreOwnedAndDestroyedByTheList) {
  int destroyed = 0;
  {
    linkList list;
    std::vector<countedElement*> elements;
    for (int i = 0; i < 4; ++i) {
      countedElement* element = gNew countedElement(&destroyed);
      ASSERT_NE(element, nullptr);
      EXPECT_EQ(list.AppendNode(element), element);
      elements.push_back(element);
    }
    ExpectConsistent(list);
    EXPECT_EQ(list.GetNode(2), elements[2]);
    EXPECT_EQ(list.GetData(2), nullptr);

    // Still linked: a second list must not take it.
    linkList other;
    EXPECT_EQ(other.AppendNode(elements[1]), nullptr);
    EXPECT_EQ(other.AppendNode(nullptr), nullptr);
    EXPECT_EQ(other.Count(), 0);

    list.Remove(elements[1]);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetNode(1), elements[2]);
    ExpectConsistent(list);

    list.Clear();
    EXPECT_EQ(destroyed, 4);
    ExpectConsistent(list);

    ASSERT_NE(list.AppendNode(gNew countedElement(&destroyed)), nullptr);
  }
  // The list's own destructor freed the last one.
  EXPECT_EQ(destroyed, 5);
}

TEST_F(LinkListTest, UnlinkJoinsNeighboursAndReturnsFormerNext) {
  int destroyed = 0;
  linkList list;
  for (int i = 0; i < 3; ++i) ASSERT_NE(list.AppendNode(gNew countedElement(&destroyed)), nullptr);
  linkNode* first = list.GetNode(0);
  linkNode* middle = list.GetNode(1);
  linkNode* last = list.GetNode(2);

  EXPECT_EQ(middle->Unlink(), last);
  EXPECT_EQ(first->Next(), last);
  EXPECT_EQ(last->Prev(), first);
  EXPECT_EQ(middle->Next(), nullptr);
  EXPECT_EQ(middle->Prev(), nullptr);
  EXPECT_EQ(middle->Unlink(), nullptr);  // unlinked twice: nothing to join

  // Unlink leaves the count alone; the list is being torn down by its owner.
  EXPECT_EQ(list.Count(), 3);
  linkNode* detached = middle;
  gDelete(detached);
  list.Clear();
  EXPECT_EQ(destroyed, 3);
}

TEST_F(LinkListTest, CopiedElementIsUnlinked) {
  int destroyed = 0;
  linkList list;
  countedElement* element = gNew countedElement(&destroyed);
  ASSERT_NE(list.AppendNode(element), nullptr);
  ASSERT_NE(list.AppendNode(gNew countedElement(&destroyed)), nullptr);

  countedElement* copy = gNew countedElement(*element);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->Next(), nullptr);
  linkList other;
  EXPECT_EQ(other.AppendNode(copy), copy);
  ExpectConsistent(list);
  ExpectConsistent(other);
}

TEST_F(LinkListTest, OwningTeardownsFreeTheirPayloads) {
  // The fixture's leak check proves every payload was freed.
  for (auto policy : {linkList::PAYLOAD_FREE, linkList::PAYLOAD_NGON_RECORDS}) {
    linkList list;
    for (int i = 0; i < 3; ++i) {
      if (policy == linkList::PAYLOAD_FREE)
        ASSERT_NE(list.Append(GeAlloc(16)), nullptr);
      else
        ASSERT_NE(list.AddNgonRecord(5 + i, 3 + i), nullptr);
    }
    ASSERT_NE(list.Append(nullptr), nullptr);  // a null payload is skipped
    list.Destroy(policy);
    EXPECT_EQ(list.Count(), 0);
    ExpectConsistent(list);
  }
}

TEST_F(LinkListTest, AddNgonRecordSizesArraysAndSetsCounts) {
  linkList list;
  NgonRecord* record = list.AddNgonRecord(7, 5);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(list.GetData(0), record);
  EXPECT_EQ(record->cornerCount, 7);
  EXPECT_EQ(record->polygonCount, 5);
  EXPECT_EQ(record->meshObj, 0);
  ASSERT_NE(record->corners, nullptr);
  ASSERT_NE(record->polygons, nullptr);
  ASSERT_NE(record->edgeCounts, nullptr);
  // The three arrays share one block: each must hold its own values, and the last one
  // must end inside the block (sanitizer build).
  for (LONG i = 0; i < 7; ++i) record->corners[i] = 100 + i;
  for (LONG i = 0; i < 5; ++i) record->polygons[i] = 200 + i;
  for (LONG i = 0; i < 5; ++i) record->edgeCounts[i] = 300 + i;
  for (LONG i = 0; i < 7; ++i) EXPECT_EQ(record->corners[i], 100 + i);
  for (LONG i = 0; i < 5; ++i) EXPECT_EQ(record->polygons[i], 200 + i);
  EXPECT_EQ(record->cornerCount, 7);
  EXPECT_EQ(record->polygonCount, 5);

  NgonRecord* empty = list.AddNgonRecord(0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->corners, nullptr);
  EXPECT_EQ(empty->polygons, nullptr);

  EXPECT_EQ(list.AddNgonRecord(-1, 3), nullptr);
  EXPECT_EQ(list.AddNgonRecord(3, -1), nullptr);
  EXPECT_EQ(list.Count(), 2);
  list.FreeNgonRecords();
}

TEST_F(LinkListTest, AddNgonRecordFailingAtEachAllocationLeavesListAsItWas) {
  linkList list;
  ASSERT_NE(list.AddNgonRecord(6, 6), nullptr);

  host::FailAllocationAt(0);
  NgonRecord* probe = list.AddNgonRecord(5, 5);
  ASSERT_NE(probe, nullptr);
  const LLONG allocations = host::AllocationsSinceArmed();
  EXPECT_EQ(allocations, 2);  // the record's block, the node

  for (LLONG n = 1; n <= allocations; ++n) {
    SCOPED_TRACE(n);
    host::FailAllocationAt(n);
    EXPECT_EQ(list.AddNgonRecord(5, 5), nullptr);
    host::ResetFaults();
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetData(1), probe);
    ExpectConsistent(list);
  }
  list.FreeNgonRecords();
}

TEST_F(LinkListTest, FailedAppendLeavesListUnchanged) {
  linkList list;
  ASSERT_NE(list.Append(Tag(1)), nullptr);
  host::FailAllocationAt(1);
  EXPECT_EQ(list.Append(Tag(2)), nullptr);
  host::ResetFaults();
  EXPECT_EQ(Payloads(list), std::vector<intptr_t>{1});
  ExpectConsistent(list);
  ASSERT_NE(list.Append(Tag(3)), nullptr);
  EXPECT_EQ(Payloads(list), (std::vector<intptr_t>{1, 3}));
}

class StringListTest : public HostTest {};

TEST_F(StringListTest, AddUniqueStringIsExactAndCaseSensitive) {
  linkList list;
  struct Step {
    const char* text;
    LONG countAfter;
  } steps[] = {
      {"wood", 1}, {"Wood", 2}, {"wood", 2}, {"wood ", 3}, {"", 4}, {"WOOD", 5}, {"Wood", 5}, {"", 5},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.text);
    EXPECT_EQ(list.AddUniqueString(s.text), s.countAfter);
  }
  EXPECT_EQ(list.AddUniqueString(nullptr), 0);
  EXPECT_EQ(list.Count(), 5);

  EXPECT_EQ(list.FindString("wood"), 0);
  EXPECT_EQ(list.FindString("Wood"), 1);
  EXPECT_EQ(list.FindString("wood "), 2);
  EXPECT_EQ(list.FindString(""), 3);
  EXPECT_EQ(list.FindString("woo"), -1);
  EXPECT_EQ(list.FindString(nullptr), -1);
  EXPECT_STREQ(list.GetString(4), "WOOD");
  EXPECT_EQ(list.GetString(5), nullptr);

  // The list holds copies, not the caller's buffer.
  char buffer[] = "metal";
  ASSERT_EQ(list.AddUniqueString(buffer), 6);
  buffer[0] = 'p';
  EXPECT_STREQ(list.GetString(5), "metal");
  list.FreeAll();
}

TEST_F(StringListTest, RemoveStringDropsOnlyTheEqualEntry) {
  linkList list;
  for (const char* text : {"a", "b", "c"}) ASSERT_GT(list.AddUniqueString(text), 0);
  EXPECT_FALSE(list.RemoveString("B"));
  EXPECT_TRUE(list.RemoveString("b"));
  EXPECT_FALSE(list.RemoveString("b"));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.FindString("c"), 1);
  EXPECT_TRUE(list.RemoveString("c"));
  ExpectConsistent(list);
  EXPECT_EQ(list.AddUniqueString("d"), 2);
  EXPECT_STREQ(list.GetString(1), "d");
  list.FreeAll();
}

TEST_F(StringListTest, FailedAddLeavesListUnchanged) {
  linkList list;
  ASSERT_EQ(list.AddUniqueString("keep"), 1);
  for (LLONG n = 1; n <= 2; ++n) {  // the copy, then the node
    SCOPED_TRACE(n);
    host::FailAllocationAt(n);
    EXPECT_EQ(list.AddUniqueString("lost"), 0);
    host::ResetFaults();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FindString("lost"), -1);
    ExpectConsistent(list);
  }
  EXPECT_EQ(list.AddUniqueString("lost"), 2);
  list.FreeAll();
}

// ---------------------------------------------------------------------------------

// Checks the red-black rules and the thread: returns the black height of the subtree.
int CheckSubtree(const TStorage& s, const TStorage::Node* node, const TStorage::Node* parent,
                 std::vector<const TStorage::Node*>* inOrder, bool* ok) {
  if (node == s.Nil()) return 1;
  if (node->parent != parent || (node->colour != TStorage::COLOUR_RED && node->colour != TStorage::COLOUR_BLACK)) {
    *ok = false;
    return 0;
  }
  if (node->colour == TStorage::COLOUR_RED &&
      (node->left->colour == TStorage::COLOUR_RED || node->right->colour == TStorage::COLOUR_RED))
    *ok = false;
  const int left = CheckSubtree(s, node->left, node, inOrder, ok);
  inOrder->push_back(node);
  const int right = CheckSubtree(s, node->right, node, inOrder, ok);
  if (left != right) *ok = false;
  return left + (node->colour == TStorage::COLOUR_BLACK ? 1 : 0);
}

struct SeqPayload {
  LONG sequence;
  char pad[28];
};

LONG SequenceOf(const TStorage::Node* node) {
  SeqPayload p;
  std::memcpy(&p, node->payload, sizeof(p));
  return p.sequence;
}

// The whole structure: tree rules, thread order (non-decreasing keys, tree nodes in
// in-order sequence, equal keys in insertion order), links both ways and the count.
void ExpectValidStorage(const TStorage& s) {
  ASSERT_NE(s.Nil(), nullptr);
  EXPECT_EQ(s.Nil()->colour, TStorage::COLOUR_BLACK);
  std::vector<const TStorage::Node*> inOrder;
  bool ok = true;
  if (s.Root() != s.Nil()) {
    EXPECT_EQ(s.Root()->colour, TStorage::COLOUR_BLACK);
    CheckSubtree(s, s.Root(), s.Nil(), &inOrder, &ok);
  }
  EXPECT_TRUE(ok) << "red-black rules or parent links broken";

  LONG walked = 0;
  size_t treeSeen = 0;
  const TStorage::Node* before = nullptr;
  for (const TStorage::Node* node = s.First(); node; node = node->next) {
    ASSERT_EQ(node->prev, before);
    if (before) {
      ASSERT_LE(before->key, node->key) << "thread out of key order";
      if (s.Compare(before->key, node->key) == 0 && node->colour == TStorage::COLOUR_DUPLICATE) {
        ASSERT_LT(SequenceOf(before), SequenceOf(node)) << "equal keys out of insertion order";
      }
    }
    if (node->colour == TStorage::COLOUR_DUPLICATE) {
      ASSERT_NE(before, nullptr) << "a duplicate cannot lead the thread";
    } else {
      ASSERT_LT(treeSeen, inOrder.size());
      ASSERT_EQ(node, inOrder[treeSeen]) << "tree node out of in-order position";
      ++treeSeen;
    }
    before = node;
    ++walked;
  }
  EXPECT_EQ(s.Last(), before);
  EXPECT_EQ(treeSeen, inOrder.size());
  EXPECT_EQ(walked, s.Count());
}

TStorage::Node* InsertSeq(TStorage* s, Real key, LONG sequence) {
  SeqPayload p{};
  p.sequence = sequence;
  return s->Insert(Vector(key, 0, 0), &p);
}

class TStorageTest : public HostTest {};

TEST_F(TStorageTest, StaysBalancedAndOrderedUnderManyInsertOrders) {
  enum Order { ASCENDING, DESCENDING, RANDOM_FEW_KEYS, RANDOM_SPREAD, ZIGZAG };
  for (Order order : {ASCENDING, DESCENDING, RANDOM_FEW_KEYS, RANDOM_SPREAD, ZIGZAG}) {
    SCOPED_TRACE(static_cast<int>(order));
    TStorage* s = TStorage::Alloc();
    ASSERT_NE(s, nullptr);
    std::mt19937 rng(1234 + static_cast<unsigned>(order));
    std::vector<Real> keys;
    for (int i = 0; i < 3000; ++i) {
      Real key = 0;
      switch (order) {
        case ASCENDING: key = i; break;
        case DESCENDING: key = -i; break;
        case RANDOM_FEW_KEYS: key = static_cast<Real>(rng() % 40); break;
        case RANDOM_SPREAD: key = std::uniform_real_distribution<Real>(-1e6, 1e6)(rng); break;
        case ZIGZAG: key = (i % 2) ? i : -i; break;
      }
      keys.push_back(key);
      ASSERT_NE(InsertSeq(s, key, i), nullptr);
    }
    ExpectValidStorage(*s);
    std::vector<Real> threaded;
    for (const TStorage::Node* n = s->First(); n; n = n->next) threaded.push_back(n->key);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(threaded, keys);
    for (Real key : {keys.front(), keys[keys.size() / 2], keys.back()}) {
      const TStorage::Node* found = s->FindEqual(key);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->key, key);
      EXPECT_NE(found->colour, TStorage::COLOUR_DUPLICATE);
    }
    EXPECT_EQ(s->FindEqual(keys.back() + 1), nullptr);
    TStorage::Free(s);
    EXPECT_EQ(s, nullptr);
  }
}

TEST_F(TStorageTest, EqualKeysFollowTheTreeNodeInInsertionOrder) {
  TStorage* s = TStorage::Alloc();
  ASSERT_NE(s, nullptr);
  // 5 goes in first, then its equals interleaved with keys that land on both sides.
  const Real keys[] = {5, 3, 5, 8, 5, 4, 6, 5, 9, 1};
  for (LONG i = 0; i < 10; ++i) ASSERT_NE(InsertSeq(s, keys[i], i), nullptr);
  ExpectValidStorage(*s);

  const TStorage::Node* node = s->FindEqual(5.0);
  ASSERT_NE(node, nullptr);
  std::vector<LONG> sequences;
  for (; node && s->Compare(node->key, 5.0) == 0; node = node->next) sequences.push_back(SequenceOf(node));
  EXPECT_EQ(sequences, (std::vector<LONG>{0, 2, 4, 7}));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->key, 6.0);

  // Equal to the largest key: the duplicate goes to the very end.
  ASSERT_NE(InsertSeq(s, 9, 10), nullptr);
  EXPECT_EQ(SequenceOf(s->Last()), 10);
  EXPECT_EQ(s->Last()->colour, TStorage::COLOUR_DUPLICATE);
  ExpectValidStorage(*s);
  TStorage::Free(s);
}

TEST_F(TStorageTest, EmptyStorageFindsNothingAndClearKeepsItUsable) {
  TStorage* s = TStorage::Alloc();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->FindEqual(0.0), nullptr);
  EXPECT_EQ(s->First(), nullptr);
  ExpectValidStorage(*s);

  // Many duplicates: Clear must reach them through the thread (leak check).
  for (LONG i = 0; i < 200; ++i) ASSERT_NE(InsertSeq(s, i % 3, i), nullptr);
  s->Clear();
  EXPECT_EQ(s->Count(), 0);
  EXPECT_EQ(s->Root(), s->Nil());
  EXPECT_EQ(s->First(), nullptr);
  EXPECT_EQ(s->Last(), nullptr);
  EXPECT_EQ(s->FindEqual(1.0), nullptr);

  ASSERT_NE(InsertSeq(s, 2, 0), nullptr);
  ExpectValidStorage(*s);
  EXPECT_EQ(s->Count(), 1);
  // Destruction with duplicates left in: also freed.
  for (LONG i = 1; i < 20; ++i) ASSERT_NE(InsertSeq(s, 2, i), nullptr);
  TStorage::Free(s);
}

TEST_F(TStorageTest, PayloadIsCopiedAtInsertion) {
  TStorage* s = TStorage::Alloc();
  ASSERT_NE(s, nullptr);
  unsigned char bytes[TStorage::PAYLOAD_SIZE];
  for (int i = 0; i < TStorage::PAYLOAD_SIZE; ++i) bytes[i] = static_cast<unsigned char>(0xA0 + i);
  TStorage::Node* node = s->Insert(Vector(1, 2, 3), bytes);
  ASSERT_NE(node, nullptr);
  std::fill(bytes, bytes + sizeof(bytes), 0);
  for (int i = 0; i < TStorage::PAYLOAD_SIZE; ++i) EXPECT_EQ(node->payload[i], 0xA0 + i) << i;
  EXPECT_EQ(node->key, 1.0);
  TStorage::Free(s);
}

TEST_F(TStorageTest, NormStorageComparesWithTolerance) {
  NormStorage* s = NormStorage::Alloc();
  ASSERT_NE(s, nullptr);
  struct Case {
    Real a, b;
    LONG expected;
  } cases[] = {
      {1.0, 1.0, 0},         {1.0, 1.0 + 5e-9, 0},  {1.0 + 5e-9, 1.0, 0}, {1.0, 1.0 + 2e-8, -1},
      {1.0 + 2e-8, 1.0, 1},  {-1.0, 1.0, -1},       {0.0, -0.0, 0},       {-1e-9, 1e-9, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(s->Compare(c.a, c.b), c.expected) << c.a << " vs " << c.b;

  // A storage of exact comparison tells the same keys apart.
  TStorage* exact = TStorage::Alloc();
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(exact->Compare(1.0, 1.0 + 5e-9), -1);
  TStorage::Free(exact);
  NormStorage::Free(s);
}

TEST_F(TStorageTest, NormStorageMergesCloseNormalsInInsertionOrder) {
  NormStorage* s = NormStorage::Alloc();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(s->Add(Vector(0.5, 0, 1), 0), nullptr);
  ASSERT_NE(s->Add(Vector(1.0, 0.1, 0), 1), nullptr);
  ASSERT_NE(s->Add(Vector(1.0 + 2e-8, 0.2, 0), 2), nullptr);  // a key of its own
  ASSERT_NE(s->Add(Vector(1.0 + 5e-9, 0.3, 0), 3), nullptr);
  ASSERT_NE(s->Add(Vector(1.0 - 4e-9, 0.4, 0), 4), nullptr);
  EXPECT_EQ(s->Count(), 5);

  const TStorage::Node* node = s->FindEqual(Vector(1.0, 0, 0));
  ASSERT_NE(node, nullptr);
  std::vector<LONG> indices;
  std::vector<Real> ys;
  for (; node && s->Compare(node->key, 1.0) == 0; node = node->next) {
    NormPayload p = NormStorage::Read(node);
    indices.push_back(p.index);
    ys.push_back(p.y);
  }
  EXPECT_EQ(indices, (std::vector<LONG>{1, 3, 4}));
  EXPECT_EQ(ys, (std::vector<Real>{0.1, 0.3, 0.4}));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(NormStorage::Read(node).index, 2);
  NormStorage::Free(s);
}

TEST_F(TStorageTest, FailedInsertLeavesStorageUnchanged) {
  TStorage* s = TStorage::Alloc();
  ASSERT_NE(s, nullptr);
  for (LONG i = 0; i < 50; ++i) ASSERT_NE(InsertSeq(s, i % 17, i), nullptr);
  std::vector<const TStorage::Node*> before;
  for (const TStorage::Node* n = s->First(); n; n = n->next) before.push_back(n);
  const TStorage::Node* root = s->Root();

  for (Real key : {-1.0, 3.0, 100.0}) {  // new smallest, duplicate, new largest
    host::FailAllocationAt(1);
    EXPECT_EQ(InsertSeq(s, key, 99), nullptr);
    host::ResetFaults();
  }
  EXPECT_EQ(s->Count(), 50);
  EXPECT_EQ(s->Root(), root);
  std::vector<const TStorage::Node*> after;
  for (const TStorage::Node* n = s->First(); n; n = n->next) after.push_back(n);
  EXPECT_EQ(after, before);
  ExpectValidStorage(*s);
  TStorage::Free(s);
}

TEST_F(TStorageTest, AllocFailsCleanlyAtEachAllocation) {
  host::FailAllocationAt(0);
  TStorage* probe = TStorage::Alloc();
  ASSERT_NE(probe, nullptr);
  const LLONG allocations = host::AllocationsSinceArmed();
  EXPECT_EQ(allocations, 2);  // the object and its sentinel
  TStorage::Free(probe);

  for (LLONG n = 1; n <= allocations; ++n) {
    SCOPED_TRACE(n);
    host::FailAllocationAt(n);
    EXPECT_EQ(TStorage::Alloc(), nullptr);
    host::FailAllocationAt(n);
    EXPECT_EQ(NormStorage::Alloc(), nullptr);
    host::ResetFaults();
  }
}

}  // namespace

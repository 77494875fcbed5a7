// Ordered multiset keyed by a double: a red-black tree whose nodes are also threaded, in
// key order, on a doubly linked list. Entries whose key compares equal to a key already
// in the tree are not put into the tree; they are threaded right after the earlier equal
// entries, so a walk along next from FindEqual's node yields them in insertion order.
#pragma once

#include "c4d.h"

class TStorage {
 public:
  enum : LONG {
    COLOUR_RED = 0,
    COLOUR_BLACK = 1,
    COLOUR_DUPLICATE = 2,  // threaded on the ordered list only, not in the tree
  };
  static constexpr LONG PAYLOAD_SIZE = 32;

  struct Node {
    Node* next;  // ordered thread
    Node* prev;
    Node* left;  // tree; the storage's nil sentinel where a child is missing
    Node* right;
    Node* parent;
    LONG colour;
    Real key;
    alignas(8) UCHAR payload[PAYLOAD_SIZE];
  };

  // New empty storage; null when memory is missing.
  static TStorage* Alloc();
  // Destroys the storage and sets the pointer to null.
  static void Free(TStorage*& storage);

  TStorage();
  virtual ~TStorage();
  TStorage(const TStorage&) = delete;
  TStorage& operator=(const TStorage&) = delete;

  // -1, 0 or 1. Exact comparison here; subclasses may compare with a tolerance.
  virtual LONG Compare(Real a, Real b) const;

  // Adds an entry keyed by point.x (or key) with PAYLOAD_SIZE bytes copied from payload
  // (zeros when payload is null). Null when the node cannot be allocated; the storage
  // is then unchanged.
  Node* Insert(const Vector& point, const void* payload);
  Node* Insert(Real key, const void* payload);
  // A node whose key compares equal, found by descending the tree (so never a
  // duplicate), or null.
  Node* FindEqual(const Vector& point) const;
  Node* FindEqual(Real key) const;
  // Frees every node, duplicates included; the storage stays usable.
  void Clear();

  LONG Count() const { return m_count; }
  // Ends of the ordered thread, null when empty.
  Node* First() const { return m_pFirst; }
  Node* Last() const { return m_pLast; }
  // Tree root (the nil sentinel when empty) and the sentinel, for walks and checks.
  Node* Root() const { return m_pRoot; }
  const Node* Nil() const { return m_pNil; }
  // False when the constructor could not allocate the sentinel.
  Bool IsValid() const { return m_pNil != nullptr; }

 private:
  Node* Successor(Node* node) const;
  void ThreadBefore(Node* node, Node* successor);
  void RotateLeft(Node* x);
  void RotateRight(Node* x);
  void FixInsert(Node* z);

  Node* m_pFirst = nullptr;
  Node* m_pLast = nullptr;
  Node* m_pRoot = nullptr;
  Node* m_pNil = nullptr;
  LONG m_count = 0;
};

// What NormStorage keeps per entry: the normal's index in the output table and the
// normal itself.
struct NormPayload {
  LONG index;
  Real x, y, z;
};
static_assert(sizeof(NormPayload) == TStorage::PAYLOAD_SIZE, "NormPayload fills the node payload");

// Normal vectors keyed by x; keys closer than NORM_TOLERANCE compare equal.
class NormStorage : public TStorage {
 public:
  static constexpr Real NORM_TOLERANCE = 1e-8;

  static NormStorage* Alloc();
  static void Free(NormStorage*& storage);

  LONG Compare(Real a, Real b) const override;

  // Inserts normal with its index as payload.
  Node* Add(const Vector& normal, LONG index);
  // The payload of a node of this storage.
  static NormPayload Read(const Node* node);
};

// Counted doubly linked lists. One list class serves two uses:
//  - wrapper list: each entry is a small linkNode carrying an untyped payload pointer
//    (presets, name strings, n-gon records);
//  - intrusive list: element classes derive from linkNode and are appended themselves.
// Every node and payload lives on the host allocator.
#pragma once

#include "c4d.h"

class linkList;

class linkNode {
 public:
  linkNode() = default;
  // A copy is a fresh, unlinked node: element classes may copy their records without
  // ending up in the list of the original.
  linkNode(const linkNode&) {}
  linkNode& operator=(const linkNode&) { return *this; }
  // Virtual so that a list can free the intrusive elements it owns.
  virtual ~linkNode() = default;

  // Joins the neighbours to each other, clears this node's links and returns the former
  // next. The owner's count and tail are left alone: element destructors use this while
  // the whole list is being torn down. Harmless on a node that is not linked.
  linkNode* Unlink();

  linkNode* Next() const { return m_pNext; }
  // The list's head pseudo node for the first entry; never null while linked.
  linkNode* Prev() const { return m_pPrev; }
  void* Data() const { return m_pData; }
  linkList* Owner() const { return m_pOwner; }

 private:
  friend class linkList;
  linkNode* m_pPrev = nullptr;
  linkNode* m_pNext = nullptr;
  void* m_pData = nullptr;
  linkList* m_pOwner = nullptr;
};

// Payload of the n-gon lists of the OBJ reader: one record per face of five or more
// corners. The three arrays are owned by the record.
struct NgonRecord {
  LONG meshObj;
  LONG material;
  LONG group;
  LONG region;
  LONG cornerCount;
  LONG polygonCount;
  LONG* corners;     // cornerCount vertex indices, outline order
  LONG* polygons;    // polygonCount face numbers
  LONG* edgeCounts;  // polygonCount counters, filled by the scene builder
};

class linkList {
 public:
  // How Destroy treats the payloads of a wrapper list.
  enum PayloadPolicy {
    PAYLOAD_KEEP,          // payloads belong to someone else (Clear)
    PAYLOAD_FREE,          // payloads are host-allocator blocks (FreeAll)
    PAYLOAD_NGON_RECORDS,  // payloads are NgonRecords (FreeNgonRecords)
  };

  linkList() { Init(); }
  // Frees the nodes still linked (never the payloads of a wrapper list).
  ~linkList() { Clear(); }
  linkList(const linkList&) = delete;
  linkList& operator=(const linkList&) = delete;

  // Empty list: count 0, head node all null, tail = head node. Only for a fresh or
  // emptied list; entries still linked would be lost.
  void Init();

  // Wrapper append: a new node carrying payload, linked after the tail. Null when the
  // node cannot be allocated (the list is unchanged).
  linkNode* Append(void* payload);
  // Intrusive append of an element allocated with gNew; the list owns it from now on
  // (Remove and Clear free it through its virtual destructor). Null for a null element
  // or one that is still linked somewhere.
  linkNode* AppendNode(linkNode* element);

  LONG Count() const { return m_count; }
  // First and last real entries, null when empty.
  linkNode* First() const { return m_headNode.m_pNext; }
  linkNode* Last() const { return m_pTail == &m_headNode ? nullptr : m_pTail; }
  // The embedded pseudo entry before the first one.
  const linkNode* Head() const { return &m_headNode; }

  // Entry at index, or null when index >= Count() (refused before walking).
  linkNode* GetNode(ULONG index) const;
  // Payload of the entry at index, or null.
  void* GetData(ULONG index) const;

  // Unlinks and frees the node (an intrusive element is destroyed); a wrapper payload is
  // not freed. Nodes of other lists and the head node are ignored.
  void Remove(linkNode* node);

  // Moves every node of other, in order, to the end of this list (no allocation);
  // other is left empty.
  void TakeAll(linkList& other);

  // Frees every node from the tail back to the head; payloads are not freed.
  void Clear();
  // Frees every non-null payload with the host allocator, then Clear.
  void FreeAll();
  // Frees every NgonRecord payload (made by AddNgonRecord), then Clear.
  void FreeNgonRecords();
  // Teardown by the owner: frees per policy and leaves an empty list.
  void Destroy(PayloadPolicy policy = PAYLOAD_KEEP);

  // New NgonRecord with its arrays (polygons, edgeCounts, corners; zero-filled; an array
  // of 0 entries stays null), all in one block and the two counts set, appended to the list. On any
  // allocation failure, or a negative count, everything allocated is freed and null
  // returned.
  NgonRecord* AddNgonRecord(LONG cornerCount, LONG polygonCount);

  // String lists: wrapper lists whose payloads are zero-terminated 8-bit copies owned by
  // the list (tear down with FreeAll). Comparison is exact and case-sensitive.
  //
  // Appends a copy of text unless an equal entry exists. Returns the entry count
  // afterwards, or 0 when text is null or memory is missing.
  LONG AddUniqueString(const CHAR* text);
  // Index of the first equal entry, or -1.
  LONG FindString(const CHAR* text) const;
  // Text at index, or null.
  const CHAR* GetString(ULONG index) const;
  // Frees the first equal entry and its text. False when there is none.
  Bool RemoveString(const CHAR* text);

 private:
  linkNode* FindStringNode(const CHAR* text, LONG* index) const;

  LONG m_count = 0;
  linkNode m_headNode;
  linkNode* m_pTail = nullptr;
};

#include "linknode.h"

#include <cstring>

linkNode* linkNode::Unlink() {
  linkNode* next = m_pNext;
  if (m_pPrev) m_pPrev->m_pNext = m_pNext;
  if (m_pNext) m_pNext->m_pPrev = m_pPrev;
  m_pPrev = nullptr;
  m_pNext = nullptr;
  return next;
}

void linkList::Init() {
  m_count = 0;
  m_headNode.m_pPrev = nullptr;
  m_headNode.m_pNext = nullptr;
  m_headNode.m_pData = nullptr;
  m_headNode.m_pOwner = nullptr;
  m_pTail = &m_headNode;
}

linkNode* linkList::Append(void* payload) {
  linkNode* node = gNew linkNode;
  if (!node) return nullptr;
  AppendNode(node);
  node->m_pData = payload;
  return node;
}

linkNode* linkList::AppendNode(linkNode* element) {
  if (!element || element->m_pOwner || element->m_pPrev || element->m_pNext) return nullptr;
  element->m_pOwner = this;
  element->m_pPrev = m_pTail;
  element->m_pNext = nullptr;
  element->m_pData = nullptr;
  m_pTail->m_pNext = element;
  m_pTail = element;
  ++m_count;
  return element;
}

void linkList::TakeAll(linkList& other) {
  if (&other == this || !other.m_headNode.m_pNext) return;
  for (linkNode* node = other.m_headNode.m_pNext; node; node = node->m_pNext) node->m_pOwner = this;
  linkNode* first = other.m_headNode.m_pNext;
  first->m_pPrev = m_pTail;
  m_pTail->m_pNext = first;
  m_pTail = other.m_pTail;
  m_count += other.m_count;
  other.Init();
}

linkNode* linkList::GetNode(ULONG index) const {
  if (m_count <= 0 || index >= static_cast<ULONG>(m_count)) return nullptr;
  linkNode* node = m_headNode.m_pNext;
  for (ULONG i = 0; i < index && node; ++i) node = node->m_pNext;
  return node;
}

void* linkList::GetData(ULONG index) const {
  linkNode* node = GetNode(index);
  return node ? node->m_pData : nullptr;
}

void linkList::Remove(linkNode* node) {
  if (!node || node == &m_headNode || node->m_pOwner != this) return;
  if (node == m_pTail) m_pTail = node->m_pPrev;
  if (m_count > 0) --m_count;
  node->Unlink();
  node->m_pOwner = nullptr;
  gDelete(node);
}

void linkList::Clear() {
  linkNode* node = m_pTail;
  while (node && node != &m_headNode) {
    linkNode* prev = node->m_pPrev;
    if (prev) prev->m_pNext = nullptr;
    node->m_pPrev = nullptr;
    node->m_pNext = nullptr;
    node->m_pOwner = nullptr;
    gDelete(node);
    node = prev;
  }
  m_count = 0;
  m_headNode.m_pNext = nullptr;
  m_pTail = &m_headNode;
}

void linkList::FreeAll() {
  for (linkNode* node = m_headNode.m_pNext; node; node = node->m_pNext) GeFree(node->m_pData);
  Clear();
}

void linkList::FreeNgonRecords() {
  for (linkNode* node = m_headNode.m_pNext; node; node = node->m_pNext) {
    NgonRecord* record = static_cast<NgonRecord*>(node->m_pData);
    if (!record) continue;
    LLONG* block = reinterpret_cast<LLONG*>(record);
    bDelete(block);
    node->m_pData = nullptr;
  }
  Clear();
}

void linkList::Destroy(PayloadPolicy policy) {
  switch (policy) {
    case PAYLOAD_FREE:
      FreeAll();
      break;
    case PAYLOAD_NGON_RECORDS:
      FreeNgonRecords();
      break;
    case PAYLOAD_KEEP:
      Clear();
      break;
  }
  m_headNode.m_pNext = nullptr;
  m_pTail = &m_headNode;
}

NgonRecord* linkList::AddNgonRecord(LONG cornerCount, LONG polygonCount) {
  if (cornerCount < 0 || polygonCount < 0) return nullptr;
  // One block per record: the record, then corners, polygons and edgeCounts. A file of
  // many n-gons makes a record per n-gon, and four allocations each cost more than
  // reading the n-gon's line.
  constexpr LLONG kHead = (static_cast<LLONG>(sizeof(NgonRecord)) + 7) / 8;
  const LLONG words = kHead + (LLONG(cornerCount) + 2 * LLONG(polygonCount) + 1) / 2;
  LLONG* block = bNew(LLONG, words);
  if (!block) return nullptr;
  NgonRecord* record = reinterpret_cast<NgonRecord*>(block);
  LONG* arrays = reinterpret_cast<LONG*>(block + kHead);
  record->corners = cornerCount > 0 ? arrays : nullptr;
  record->polygons = polygonCount > 0 ? arrays + cornerCount : nullptr;
  record->edgeCounts = polygonCount > 0 ? arrays + cornerCount + polygonCount : nullptr;
  record->cornerCount = cornerCount;
  record->polygonCount = polygonCount;
  if (!Append(record)) {
    bDelete(block);
    return nullptr;
  }
  return record;
}

linkNode* linkList::FindStringNode(const CHAR* text, LONG* index) const {
  if (index) *index = -1;
  if (!text) return nullptr;
  LONG i = 0;
  for (linkNode* node = m_headNode.m_pNext; node; node = node->m_pNext, ++i) {
    const CHAR* entry = static_cast<const CHAR*>(node->m_pData);
    if (entry && std::strcmp(entry, text) == 0) {
      if (index) *index = i;
      return node;
    }
  }
  return nullptr;
}

LONG linkList::AddUniqueString(const CHAR* text) {
  if (!text) return 0;
  if (FindStringNode(text, nullptr)) return m_count;
  const size_t length = std::strlen(text);
  CHAR* copy = bNew(CHAR, static_cast<VLONG>(length) + 1);
  if (!copy) return 0;
  std::memcpy(copy, text, length + 1);
  if (!Append(copy)) {
    bDelete(copy);
    return 0;
  }
  return m_count;
}

LONG linkList::FindString(const CHAR* text) const {
  LONG index = -1;
  FindStringNode(text, &index);
  return index;
}

const CHAR* linkList::GetString(ULONG index) const { return static_cast<const CHAR*>(GetData(index)); }

Bool linkList::RemoveString(const CHAR* text) {
  linkNode* node = FindStringNode(text, nullptr);
  if (!node) return false;
  GeFree(node->m_pData);
  Remove(node);
  return true;
}

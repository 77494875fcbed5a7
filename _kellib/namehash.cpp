#include "namehash.h"

#include <cstring>

namespace {

// Host strings become names of at most MAX_NAME_LENGTH characters.
struct ShortName {
  explicit ShortName(const String& name) { name.GetCString(text, sizeof(text)); }
  CHAR text[nameTable::MAX_NAME_LENGTH + 1];
};

}  // namespace

LONG nameTable::Count() const { return m_pHead ? static_cast<LONG>(HASH_COUNT(m_pHead)) : 0; }

void nameTable::Clear() {
  // The table's buckets go first, at once; the entries are then freed along their own
  // list (in order of insertion) without taking each out of its bucket.
  nameEntry* entry = m_pHead;
  HASH_CLEAR(hh, m_pHead);
  while (entry) {
    nameEntry* next = static_cast<nameEntry*>(entry->hh.next);
    GeFree(entry);  // its key with it
    entry = next;
  }
  m_nextIndex = 0;
}

nameEntry* nameTable::FindKey(const CHAR* name) const {
  if (!name || !m_pHead) return nullptr;
  const size_t length = std::strlen(name);
  nameEntry* entry = nullptr;
  HASH_FIND(hh, m_pHead, name, static_cast<unsigned>(length), entry);
  return entry;
}

nameEntry* nameTable::FindKey(const String& name) const { return FindKey(ShortName(name).text); }

nameEntry* nameTable::AddKey(const CHAR* name, VULONG entrySize, Bool* created) {
  if (created) *created = false;
  if (!name || entrySize < sizeof(nameEntry)) return nullptr;
  const size_t length = std::strlen(name);
  if (length > static_cast<size_t>(0x7fffffff - 2)) return nullptr;
  // The name is hashed once, for the lookup and the add.
  unsigned hashValue = 0;
  HASH_VALUE(name, static_cast<unsigned>(length), hashValue);
  nameEntry* found = nullptr;
  if (m_pHead) HASH_FIND_BYHASHVALUE(hh, m_pHead, name, static_cast<unsigned>(length), hashValue, found);
  if (found) return found;

  // The key follows the entry in its block: a file of many names makes one block per
  // name, not two.
  const VULONG keyAt = (entrySize + 7) / 8 * 8;
  if (length + 2 > static_cast<size_t>(PTRDIFF_MAX) - keyAt) return nullptr;
  nameEntry* entry = static_cast<nameEntry*>(GeAlloc(static_cast<VLONG>(keyAt + length + 2)));
  if (!entry) return nullptr;
  entry->key = reinterpret_cast<CHAR*>(entry) + keyAt;
  std::memcpy(entry->key, name, length);
  entry->key[length] = 0;
  entry->keyLength = static_cast<LONG>(length);
  entry->index = m_nextIndex;

  UthashClearOutOfMemory();
  HASH_ADD_KEYPTR_BYHASHVALUE(hh, m_pHead, entry->key, static_cast<unsigned>(entry->keyLength), hashValue, entry);
  if (UthashOutOfMemory()) {
    // uthash has already taken the entry back out; the earlier entries are untouched.
    UthashClearOutOfMemory();
    GeFree(entry);
    ReportMemoryError("name table");
    return nullptr;
  }
  ++m_nextIndex;
  if (created) *created = true;
  return entry;
}

nameEntry* nameTable::AddKey(const String& name, VULONG entrySize, Bool* created) {
  return AddKey(ShortName(name).text, entrySize, created);
}

nameHash* nameHash::Create() { return gNew nameHash; }

void nameHash::Destroy(nameHash** table) {
  if (table) gDelete(*table);
}

LONG nameHash::AddName(const CHAR* name) {
  Bool created = false;
  nameEntry* entry = AddKey(name, sizeof(nameEntry), &created);
  return entry && !created ? 1 : 0;
}

LONG nameHash::AddName(const String& name) { return AddName(ShortName(name).text); }

nameEntry* nameHash::AddNameEntry(const CHAR* name) { return AddKey(name, sizeof(nameEntry), nullptr); }

nameEntry* nameHash::AddNameEntry(const String& name) { return AddKey(name, sizeof(nameEntry), nullptr); }

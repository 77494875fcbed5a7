// Name-keyed tables on uthash. Names are raw 8-bit bytes (case and blanks matter, no
// trimming here); each new name is numbered in order of first insertion, from 0. Entries
// are never removed one at a time, only all together by Clear.
//
// Three kinds share one base:
//   nameHash      name set     AddName (1 when present, else 0), AddNameEntry
//   materialHash  name -> ioMaterial*   AddEntry
//   meshHash      name -> record of the export mesh gatherer   AddEntry
// Host Strings are converted to at most MAX_NAME_LENGTH characters before use.
#pragma once

#include "c4d.h"
#include "uthash_host.h"

struct nameEntry {
  CHAR* key;        // the table's own zero-terminated copy of the name, in the entry's block
  LONG keyLength;   // bytes, without the terminator
  LONG index;       // order of first insertion
  UT_hash_handle hh;
};

template <class T>
struct nameValueEntry : nameEntry {
  T* value;  // the caller's record; not owned
};

class nameTable {
 public:
  static constexpr LONG MAX_NAME_LENGTH = 255;

  nameTable(const nameTable&) = delete;
  nameTable& operator=(const nameTable&) = delete;

  // Entries in the table.
  LONG Count() const;
  // The index the next new name receives.
  LONG NextIndex() const { return m_nextIndex; }
  // Deletes and frees every entry; the next new name gets index 0 again.
  void Clear();

 protected:
  nameTable() = default;
  ~nameTable() { Clear(); }

  nameEntry* FindKey(const CHAR* name) const;
  nameEntry* FindKey(const String& name) const;
  // The entry of name, existing or new (entrySize bytes, zero-filled, key and index
  // set); *created tells which. Null when memory is missing: the table is unchanged,
  // and a failure of uthash's own growth is reported as a memory error.
  nameEntry* AddKey(const CHAR* name, VULONG entrySize, Bool* created);
  nameEntry* AddKey(const String& name, VULONG entrySize, Bool* created);

  nameEntry* FirstEntry() const { return m_pHead; }
  static nameEntry* NextEntry(const nameEntry* entry) {
    return entry ? static_cast<nameEntry*>(entry->hh.next) : nullptr;
  }

  nameEntry* m_pHead = nullptr;  // uthash head; null while empty
  LONG m_nextIndex = 0;
};

// The name set.
class nameHash : public nameTable {
 public:
  // Empty table, or null when memory is missing.
  static nameHash* Create();
  // Clears and frees the table, and sets *table to null.
  static void Destroy(nameHash** table);

  // 1 when the name was already present, else 0 (added, or memory missing: then the
  // name is not in the table).
  LONG AddName(const CHAR* name);
  LONG AddName(const String& name);
  // The entry of the name, existing or new; null when memory is missing.
  nameEntry* AddNameEntry(const CHAR* name);
  nameEntry* AddNameEntry(const String& name);

  nameEntry* Find(const CHAR* name) const { return FindKey(name); }
  nameEntry* Find(const String& name) const { return FindKey(name); }

  // Entries in order of first insertion (index order).
  nameEntry* First() const { return FirstEntry(); }
  static nameEntry* Next(const nameEntry* entry) { return NextEntry(entry); }

 private:
  nameHash() = default;
};

// The valued kinds: each entry holds a pointer to the caller's record for the name.
template <class T>
class nameMap : public nameTable {
 public:
  typedef nameValueEntry<T> Entry;

  static nameMap* Create() { return gNew nameMap; }
  static void Destroy(nameMap** table) {
    if (table) gDelete(*table);
  }

  // The entry of the name, existing (its value unchanged) or new with value; null when
  // memory is missing.
  Entry* AddEntry(const CHAR* name, T* value) {
    Bool created = false;
    nameEntry* entry = AddKey(name, sizeof(Entry), &created);
    return Store(entry, created, value);
  }
  Entry* AddEntry(const String& name, T* value) {
    Bool created = false;
    nameEntry* entry = AddKey(name, sizeof(Entry), &created);
    return Store(entry, created, value);
  }

  Entry* Find(const CHAR* name) const { return static_cast<Entry*>(FindKey(name)); }
  Entry* Find(const String& name) const { return static_cast<Entry*>(FindKey(name)); }

  Entry* First() const { return static_cast<Entry*>(FirstEntry()); }
  static Entry* Next(const Entry* entry) { return static_cast<Entry*>(NextEntry(entry)); }

 private:
  nameMap() = default;

  static Entry* Store(nameEntry* entry, Bool created, T* value) {
    Entry* typed = static_cast<Entry*>(entry);
    if (typed && created) typed->value = value;
    return typed;
  }
};

class ioMaterial;
typedef nameMap<ioMaterial> materialHash;
typedef nameMap<void> meshHash;

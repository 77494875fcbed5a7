// Files: file names, byte access, existence, deletion, folders and folder browsing.
#pragma once

#include "c4d_string.h"
#include "ge_types.h"

// Host file error codes.
enum : LONG {
  FILEERROR_NONE = 0,
  FILEERROR_OPEN = -1,
  FILEERROR_CLOSE = -2,
  FILEERROR_READ = -3,
  FILEERROR_WRITE = -4,
  FILEERROR_SEEK = -5,
  FILEERROR_INVALID = -6,
  FILEERROR_MEMORY = -7,
  FILEERROR_USERBREAK = -8,
  FILEERROR_WRONG_VALUE = -100,
  FILEERROR_CHUNK_NUMBER = -102,
  FILEERROR_VALUE_NO_CHUNK = -103,
  FILEERROR_FILE_END = -104,
  FILEERROR_UNKNOWN_VALUE = -105,
};

// Open modes.
enum : LONG {
  FILEOPEN_APPEND = 0,
  FILEOPEN_READ = 1,
  FILEOPEN_WRITE = 2,      // creates or truncates
  FILEOPEN_READWRITE = 3,  // opens or creates, keeps existing bytes
  FILEOPEN_READ_NOCACHE = 4,
};

// Error dialog modes of BaseFile::Open.
enum : LONG {
  FILEDIALOG_NONE = 0,
  FILEDIALOG_ANY = 1,
  FILEDIALOG_IGNOREOPEN = 2,
};

// Seek modes.
enum : LONG {
  FILESEEK_START = 0,
  FILESEEK_RELATIVE = 2,
};

// GeFKill flags.
enum : LONG {
  GE_FKILL_DIRECTORY = 1,
  GE_FKILL_RECURSIVE = 2,
  GE_FKILL_FORCE = 4,
};

// File selector types and flags.
enum : LONG {
  FILESELECTTYPE_ANYTHING = 0,
  FILESELECTTYPE_IMAGES = 1,
  FILESELECTTYPE_SCENES = 2,
  FILESELECT_LOAD = 0,
  FILESELECT_SAVE = 1,
  FILESELECT_DIRECTORY = 2,
};

// A file or folder name. Folders are separated by "/".
class Filename {
 public:
  Filename() = default;
  Filename(const String& path) : m_path(path) {}  // NOLINT(google-explicit-constructor)
  Filename(const CHAR* path) : m_path(path) {}    // NOLINT(google-explicit-constructor)

  const String& GetString() const { return m_path; }
  void SetString(const String& path) { m_path = path; }
  Bool Content() const { return m_path.Content(); }

  // The folder part (everything before the last separator; empty when there is none).
  Filename GetDirectory() const;
  // The file part (after the last separator).
  Filename GetFile() const;
  String GetFileString() const { return GetFile().GetString(); }
  void SetDirectory(const Filename& dir);
  void SetFile(const Filename& file);

  // Suffix without the dot; empty when the file part has none.
  String GetSuffix() const;
  // Case-insensitive suffix test ("OBJ" matches "model.obj").
  Bool CheckSuffix(const String& suffix) const;
  // Replaces (or adds) the suffix.
  void SetSuffix(const String& suffix);
  void ClearSuffix();

  // Folder joined with a file or sub-path.
  Filename operator+(const Filename& sub) const;
  Filename& operator+=(const Filename& sub) { *this = *this + sub; return *this; }
  bool operator==(const Filename& o) const { return m_path == o.m_path; }
  bool operator!=(const Filename& o) const { return m_path != o.m_path; }

  // The scripted user's file or folder selection (false when cancelled).
  // type: FILESELECTTYPE_*; flags: FILESELECT_LOAD, _SAVE or _DIRECTORY.
  Bool FileSelect(LONG type, LONG flags, const String* title = nullptr);

 private:
  String m_path;
};

namespace host::internal {
class SafeSave;
}

// Byte access to one file.
//
// FILEOPEN_WRITE saves safely: the bytes go to a new temporary file beside the target,
// which replaces the target at Close only when no error was recorded on the file (a failed
// write, or SetError by a writer that gives up); otherwise Close removes it and the
// target stays as it was. Every mode refuses a path that is not a regular file (a
// device, FIFO, socket or folder) without waiting on it.
class BaseFile {
 public:
  static BaseFile* Alloc();
  static void Free(BaseFile*& file);

  // Opens name; mode FILEOPEN_*. Byte order, type and creator are accepted for the
  // host's signature: BaseFile transfers bytes as they are.
  Bool Open(const Filename& name, LONG mode = FILEOPEN_READ, LONG error_dialog = FILEDIALOG_IGNOREOPEN,
            LONG order = BYTEORDER_MOTOROLA, LONG type = 0x43344443 /* C4DC */, LONG creator = 0x43344431 /* C4D1 */);
  // Ends the access; in FILEOPEN_WRITE the file is put in place now (see above). False
  // when the file could not be closed or, when writing, was not saved.
  Bool Close();

  // Reads up to length bytes; returns the number read. A short read sets
  // FILEERROR_FILE_END (end of data) or FILEERROR_READ.
  VLONG ReadBytes(void* data, VLONG length, Bool just_try = FALSE);
  Bool WriteBytes(const void* data, VLONG length);
  // Positions and lengths are 64-bit also in 32-bit builds: files may exceed 4 GiB.
  Bool Seek(LLONG position, LONG mode = FILESEEK_RELATIVE);
  LLONG GetPosition();
  LLONG GetLength();
  LONG GetError() const { return m_error; }
  void SetError(LONG error) { m_error = error; }

  ~BaseFile();

 private:
  BaseFile() = default;
  int m_fd = -1;
  host::internal::SafeSave* m_save = nullptr;  // FILEOPEN_WRITE: the file being saved
  LONG m_mode = 0;
  LONG m_error = FILEERROR_NONE;
  LLONG m_position = 0;
  Filename m_name;
  friend struct BaseFileAccess;
};

// Existence of a file (isdir false) or folder (isdir true).
Bool GeFExist(const Filename& name, Bool isdir = FALSE);
// Deletes a file (GE_FKILL_FORCE: even when read-only) or, with GE_FKILL_DIRECTORY,
// an empty folder (with GE_FKILL_RECURSIVE: a folder and its content).
Bool GeFKill(const Filename& name, LONG flags = 0);
// Creates a folder (its parent must exist); true when it exists afterwards.
Bool GeFCreateDir(const Filename& name);

// A file's time. nsec and size are the embedded host's additions: together with the
// time they tell a rewritten or replaced file from the one seen before.
struct LocalFileTime {
  LONG year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  LONG nsec = 0;
  LLONG size = 0;
  bool operator==(const LocalFileTime& o) const {
    return year == o.year && month == o.month && day == o.day && hour == o.hour && minute == o.minute &&
           second == o.second && nsec == o.nsec && size == o.size;
  }
  bool operator!=(const LocalFileTime& o) const { return !(*this == o); }
};
enum : LONG {
  GE_FILETIME_CREATED = 0,
  GE_FILETIME_MODIFIED = 1,
  GE_FILETIME_ACCESS = 2,
};
// The file's time of the kind mode (GE_FILETIME_*) in UTC; false when it does not exist.
Bool GeGetFileTime(const Filename& name, LONG mode, LocalFileTime* out);

// The identity of a file or folder: the same for every name (symbolic link) it is
// reached by, different for different files.
struct FileIdentity {
  LLONG volume = 0;
  LLONG index = 0;
  bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
};
// The identity of what name leads to (links followed); false when it does not exist or
// cannot be reached.
Bool GeFGetIdentity(const Filename& name, FileIdentity* identity);

// Folder browsing: the entries of one folder, not recursive, in name order.
enum : LONG {
  BROWSEFILES_CALCSIZE = 1,
};
class BrowseFiles {
 public:
  static BrowseFiles* Alloc();
  static void Free(BrowseFiles*& browse);

  // Starts a listing of folder; hidden entries (names starting with ".") are skipped.
  // False (an empty listing) when the folder cannot be read.
  Bool Init(const Filename& folder, LONG flags = 0);
  // Advances to the next entry; false at the end.
  Bool GetNext();
  Filename GetFilename() const;
  Bool IsDir() const;
  Bool IsHidden() const;
  LLONG GetSize() const;

  ~BrowseFiles();

 private:
  BrowseFiles() = default;
  struct Listing;
  Listing* m_listing = nullptr;
};

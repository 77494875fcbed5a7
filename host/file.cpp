// Files: name arithmetic, byte access on descriptors, existence, deletion, folder
// creation and folder browsing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "c4d_file.h"
#include "c4d_general.h"
#include "c4d_memory.h"
#include "host_internal.h"
#include "platform.h"
#include "safe_save.h"

namespace {

const std::string& Text(const Filename& name) { return name.GetString().Std(); }

// Index just past the folder part: the file part starts here.
size_t FileStart(const std::string& path) {
  const size_t slash = path.find_last_of(host::platform::kPathSeparators);
  return slash == std::string::npos ? 0 : slash + 1;
}

// Position of the suffix dot in path, or npos. A dot that starts the file part
// (".profile") or lies inside a folder name is not a suffix dot.
size_t SuffixDot(const std::string& path) {
  const size_t start = FileStart(path);
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= start) return std::string::npos;
  return dot;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// --- Filename ----------------------------------------------------------------

Filename Filename::GetDirectory() const {
  const std::string& path = Text(*this);
  const size_t slash = path.find_last_of(host::platform::kPathSeparators);
  if (slash == std::string::npos) return Filename();
  if (slash == 0) return Filename("/");  // the root keeps its separator
  return Filename(String(path.substr(0, slash)));
}

Filename Filename::GetFile() const {
  const std::string& path = Text(*this);
  return Filename(String(path.substr(FileStart(path))));
}

void Filename::SetDirectory(const Filename& dir) { *this = dir + GetFile(); }

void Filename::SetFile(const Filename& file) { *this = GetDirectory() + file; }

String Filename::GetSuffix() const {
  const std::string& path = Text(*this);
  const size_t dot = SuffixDot(path);
  return dot == std::string::npos ? String() : String(path.substr(dot + 1));
}

Bool Filename::CheckSuffix(const String& suffix) const {
  const std::string& path = Text(*this);
  const size_t dot = SuffixDot(path);
  if (dot == std::string::npos) return FALSE;
  return EqualNoCase(path.substr(dot + 1), suffix.Std());
}

void Filename::SetSuffix(const String& suffix) {
  ClearSuffix();
  if (!suffix.Content()) return;
  const std::string& path = Text(*this);
  if (FileStart(path) >= path.size()) return;  // no file part to carry a suffix
  m_path = String(path + "." + suffix.Std());
}

void Filename::ClearSuffix() {
  const std::string& path = Text(*this);
  const size_t dot = SuffixDot(path);
  if (dot != std::string::npos) m_path = String(path.substr(0, dot));
}

Filename Filename::operator+(const Filename& sub) const {
  const std::string& left = Text(*this);
  const std::string& right = Text(sub);
  if (left.empty()) return sub;
  if (right.empty()) return *this;
  size_t leftEnd = left.size();
  auto separator = [](char c) { return std::strchr(host::platform::kPathSeparators, c) != nullptr && c != 0; };
  while (leftEnd > 0 && separator(left[leftEnd - 1])) --leftEnd;
  size_t rightStart = 0;
  while (rightStart < right.size() && separator(right[rightStart])) ++rightStart;
  return Filename(String(left.substr(0, leftEnd) + "/" + right.substr(rightStart)));
}

// --- BaseFile ----------------------------------------------------------------

BaseFile* BaseFile::Alloc() { return gNew BaseFile; }

void BaseFile::Free(BaseFile*& file) { gDelete(file); }

BaseFile::~BaseFile() { Close(); }

Bool BaseFile::Open(const Filename& name, LONG mode, LONG error_dialog, LONG order, LONG type, LONG creator) {
  (void)order;
  (void)type;
  (void)creator;
  Close();
  m_error = FILEERROR_NONE;
  m_position = 0;
  m_mode = mode;
  m_name = name;

  const bool known = mode == FILEOPEN_READ || mode == FILEOPEN_READ_NOCACHE || mode == FILEOPEN_WRITE ||
                     mode == FILEOPEN_READWRITE || mode == FILEOPEN_APPEND;

  int fd = -1;
  const std::string& path = Text(name);
  std::string refusal;
  if (known && !path.empty() && !host::internal::OpenShouldFail()) {
    if (mode == FILEOPEN_WRITE) {
      m_save = new (std::nothrow) host::internal::SafeSave;  // replaces the file once complete
      if (m_save && m_save->Begin(path, &refusal)) {
        fd = m_save->Descriptor();
      } else {
        delete m_save;
        m_save = nullptr;
      }
    } else {
      // A device or pipe would block the open or the reads: refused before opening.
      refusal = host::internal::NotARegularFile(path);
      if (!refusal.empty()) {
        refusal = "cannot open '" + path + "': " + refusal;
      } else if (mode == FILEOPEN_READ || mode == FILEOPEN_READ_NOCACHE) {
        std::string why;
        fd = host::platform::OpenForReading(path, &why);
        // Replaced between the check and the open.
        if (fd < 0 && why == "not a regular file") refusal = "cannot open '" + path + "': " + why;
      } else {
        fd = host::platform::OpenForWriting(path, mode == FILEOPEN_READWRITE);
        host::platform::FileStatus st;
        if (fd >= 0 && (!host::platform::StatusOf(fd, &st) || !st.isRegular)) {
          host::platform::Close(fd);  // replaced between the check and the open
          fd = -1;
          refusal = "cannot open '" + path + "': not a regular file";
        }
      }
    }
  }
  if (fd >= 0 && mode == FILEOPEN_APPEND) {
    const int64_t end = host::platform::Seek(fd, 0, SEEK_END);
    if (end < 0) {
      host::platform::Close(fd);
      fd = -1;
    } else {
      m_position = end;
    }
  }
  if (fd < 0) {
    m_error = FILEERROR_OPEN;
    // The reason the plug-in's own report cannot know.
    if (!refusal.empty()) GePrint(String("Kelvane host: ") + String(refusal));
    if (error_dialog == FILEDIALOG_ANY) MessageDialog(String("Cannot open the file\n") + name.GetString());
    return FALSE;
  }
  m_fd = fd;
  return TRUE;
}

Bool BaseFile::Close() {
  if (m_save) {
    host::internal::SafeSave* save = m_save;
    m_save = nullptr;
    m_fd = -1;
    m_position = 0;
    Bool saved = FALSE;
    if (m_error == FILEERROR_NONE) {
      std::string why;
      saved = save->Commit(&why);
      if (!saved) {
        m_error = FILEERROR_WRITE;
        GePrint(String("Kelvane host: ") + String(why));
      }
    }
    delete save;  // removes the temporary file when it was not committed
    return saved;
  }
  if (m_fd < 0) return TRUE;
  const bool closed = host::platform::Close(m_fd);
  m_fd = -1;
  m_position = 0;
  if (!closed) {
    m_error = FILEERROR_CLOSE;
    return FALSE;
  }
  return TRUE;
}

VLONG BaseFile::ReadBytes(void* data, VLONG length, Bool just_try) {
  if (length == 0) return 0;
  if (m_fd < 0 || !data || length < 0) {
    m_error = FILEERROR_READ;
    return 0;
  }
  const LLONG budget = host::internal::ReadBudget();
  VLONG want = length;
  if (budget >= 0 && budget < want) want = static_cast<VLONG>(budget);

  char* dst = static_cast<char*>(data);
  VLONG got = 0;
  bool failed = false, atEnd = false;
  while (got < want) {
    const int64_t n = host::platform::Read(m_fd, dst + got, static_cast<size_t>(want - got));
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) {
      atEnd = true;
      break;
    }
    got += n;
  }
  if (budget >= 0) host::internal::ConsumeRead(got);
  m_position += got;
  if (got < length) {
    if (failed || (!atEnd && want < length)) {
      m_error = FILEERROR_READ;  // a device error, or the armed fault's budget ran out
    } else if (!just_try) {
      m_error = FILEERROR_FILE_END;
    }
  }
  return got;
}

Bool BaseFile::WriteBytes(const void* data, VLONG length) {
  if (length == 0) return TRUE;
  if (m_fd < 0 || !data || length < 0) {
    m_error = FILEERROR_WRITE;
    return FALSE;
  }
  const LLONG budget = host::internal::WriteBudget();
  VLONG allowed = length;
  if (budget >= 0 && budget < allowed) allowed = static_cast<VLONG>(budget);

  const char* src = static_cast<const char*>(data);
  VLONG put = 0;
  bool failed = false;
  while (put < allowed) {
    const int64_t n = host::platform::Write(m_fd, src + put, static_cast<size_t>(allowed - put));
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) {  // no progress: treat as a full device rather than spin
      failed = true;
      break;
    }
    put += n;
  }
  if (budget >= 0) host::internal::ConsumeWrite(put);
  m_position += put;
  if (failed || put < length) {
    m_error = FILEERROR_WRITE;
    return FALSE;
  }
  return TRUE;
}

Bool BaseFile::Seek(LLONG position, LONG mode) {
  if (m_fd < 0) {
    m_error = FILEERROR_SEEK;
    return FALSE;
  }
  LLONG target;
  if (mode == FILESEEK_START) {
    target = position;
  } else if (mode == FILESEEK_RELATIVE) {
    if ((position > 0 && m_position > INT64_MAX - position)) {
      m_error = FILEERROR_SEEK;
      return FALSE;
    }
    target = m_position + position;
  } else {
    m_error = FILEERROR_SEEK;
    return FALSE;
  }
  if (target < 0 || host::platform::Seek(m_fd, target, SEEK_SET) < 0) {
    m_error = FILEERROR_SEEK;
    return FALSE;
  }
  m_position = target;
  return TRUE;
}

LLONG BaseFile::GetPosition() { return m_fd < 0 ? 0 : m_position; }

LLONG BaseFile::GetLength() {
  host::platform::FileStatus st;
  if (m_fd < 0 || !host::platform::StatusOf(m_fd, &st)) return 0;
  return st.size;
}

// --- existence, deletion, folders --------------------------------------------

Bool GeFExist(const Filename& name, Bool isdir) {
  const std::string& path = Text(name);
  host::platform::FileStatus st;
  if (!host::platform::Status(path, &st)) return FALSE;
  return st.isDir ? isdir : !isdir;
}

namespace {

// A read-only file is removed only when forced.
bool RemoveFile(const std::string& path, const host::platform::FileStatus& st, bool force) {
  if (!st.writable) {
    if (!force) return false;
    host::platform::MakeWritable(path, st);
  }
  return host::platform::RemoveFile(path);
}

bool RemoveTree(const std::string& path, bool force) {
  std::vector<std::string> names;
  if (!host::platform::ListFolder(path, &names)) return false;
  bool ok = true;
  for (const std::string& n : names) {
    const std::string child = path + "/" + n;
    host::platform::FileStatus st;
    if (!host::platform::Status(child, &st, false)) {
      ok = false;
    } else if (st.isDir && !st.isLink) {
      ok = RemoveTree(child, force) && ok;
    } else if (st.isDir) {
      ok = host::platform::RemoveFolder(child) && ok;  // a folder link goes, not what it names
    } else {
      ok = RemoveFile(child, st, force) && ok;
    }
  }
  return ok && host::platform::RemoveFolder(path);
}

}  // namespace

Bool GeFKill(const Filename& name, LONG flags) {
  const std::string& path = Text(name);
  host::platform::FileStatus st;
  if (!host::platform::Status(path, &st, false)) return FALSE;
  const bool force = (flags & GE_FKILL_FORCE) != 0;
  if (!st.isDir) return RemoveFile(path, st, force);
  if (!(flags & GE_FKILL_DIRECTORY)) return FALSE;
  if (flags & GE_FKILL_RECURSIVE) return RemoveTree(path, force);
  return host::platform::RemoveFolder(path);
}

Bool GeFCreateDir(const Filename& name) {
  const std::string& path = Text(name);
  if (path.empty()) return FALSE;
  if (!host::platform::MakeFolder(path) && errno != EEXIST) return FALSE;
  return GeFExist(name, TRUE);
}

// --- BrowseFiles -------------------------------------------------------------

struct BrowseFiles::Listing {
  struct Entry {
    std::string name;
    bool isDir = false;
    LLONG size = 0;
  };
  std::string folder;
  std::vector<Entry> entries;
  size_t next = 0;  // index of the entry GetNext hands out next
};

namespace {

struct BrowseLog {
  std::mutex mutex;
  std::vector<std::string> handedOut;
  std::set<std::string> hidden;
};

BrowseLog& Browsed() {
  static auto* log = new BrowseLog;
  return *log;
}

std::string JoinedPath(const std::string& folder, const std::string& name) {
  return std::filesystem::path(folder + "/" + name).lexically_normal().string();
}

}  // namespace

namespace host {

std::vector<std::string> BrowsedPaths() {
  std::lock_guard<std::mutex> lock(Browsed().mutex);
  return Browsed().handedOut;
}

void ClearBrowsedPaths() {
  std::lock_guard<std::mutex> lock(Browsed().mutex);
  Browsed().handedOut.clear();
}

void HideFromBrowsing(const std::string& path) {
  std::lock_guard<std::mutex> lock(Browsed().mutex);
  if (path.empty())
    Browsed().hidden.clear();
  else
    Browsed().hidden.insert(std::filesystem::path(path).lexically_normal().string());
}

}  // namespace host

BrowseFiles* BrowseFiles::Alloc() { return gNew BrowseFiles; }

void BrowseFiles::Free(BrowseFiles*& browse) { gDelete(browse); }

BrowseFiles::~BrowseFiles() { delete m_listing; }

Bool GeFGetIdentity(const Filename& name, FileIdentity* identity) {
  const std::string& path = Text(name);
  host::platform::FileStatus st;
  if (!host::platform::Status(path, &st)) return FALSE;
  if (identity) {
    identity->volume = static_cast<LLONG>(st.volume);
    identity->index = static_cast<LLONG>(st.index);
  }
  return TRUE;
}

Bool BrowseFiles::Init(const Filename& folder, LONG flags) {
  (void)flags;  // sizes come with the stat that tells folders from files anyway
  delete m_listing;
  m_listing = new (std::nothrow) Listing;
  if (!m_listing) return FALSE;
  const std::string& path = Text(folder);
  try {
    std::vector<std::string> names;
    if (!host::platform::ListFolder(path, &names)) return FALSE;
    for (std::string& n : names) {
      if (n.empty() || n[0] == '.') continue;
      Listing::Entry e;
      {
        std::lock_guard<std::mutex> lock(Browsed().mutex);
        if (!Browsed().hidden.empty() && Browsed().hidden.count(JoinedPath(path, n))) continue;
      }
      host::platform::FileStatus st;
      if (host::platform::Status(path + "/" + n, &st)) {
        e.isDir = st.isDir;
        e.size = e.isDir ? 0 : st.size;
      }
      e.name = std::move(n);
      m_listing->entries.push_back(std::move(e));
    }
  } catch (const std::bad_alloc&) {
    m_listing->entries.clear();  // out of memory: an empty listing rather than a partial one
    return FALSE;
  }
  m_listing->folder = path;
  std::sort(m_listing->entries.begin(), m_listing->entries.end(),
            [](const Listing::Entry& a, const Listing::Entry& b) { return a.name < b.name; });
  return TRUE;
}

Bool BrowseFiles::GetNext() {
  if (!m_listing || m_listing->next >= m_listing->entries.size()) return FALSE;
  ++m_listing->next;
  try {
    const std::string entry = JoinedPath(m_listing->folder, m_listing->entries[m_listing->next - 1].name);
    std::lock_guard<std::mutex> lock(Browsed().mutex);
    Browsed().handedOut.push_back(entry);
  } catch (const std::bad_alloc&) {
    // The log is for the shell's report; the walk goes on without it.
  }
  return TRUE;
}

Filename BrowseFiles::GetFilename() const {
  if (!m_listing || m_listing->next == 0) return Filename();
  return Filename(String(m_listing->entries[m_listing->next - 1].name));
}

Bool BrowseFiles::IsDir() const {
  return m_listing && m_listing->next > 0 && m_listing->entries[m_listing->next - 1].isDir;
}

Bool BrowseFiles::IsHidden() const {
  return FALSE;  // hidden entries never make it into the listing
}

LLONG BrowseFiles::GetSize() const {
  if (!m_listing || m_listing->next == 0) return 0;
  return m_listing->entries[m_listing->next - 1].size;
}

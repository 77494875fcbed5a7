#include "safe_save.h"

#include "host_internal.h"
#include "platform.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host::internal {

namespace {

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Every byte to fd; false (errno kept) on a write error, ENOSPC when nothing more goes.
bool WriteAll(int fd, const char* p, size_t size) {
  while (size > 0) {
    const int64_t n = host::platform::Write(fd, p, size);
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

size_t LastSeparator(const std::string& path) { return path.find_last_of(host::platform::kPathSeparators); }

std::string FolderOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FilePartOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name no other save uses: the process, a per-process counter and the clock. The
// exclusive create is what guarantees it; the name only makes collisions rare.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const auto nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count() % 1000000000;
  // Long file names leave room for the additions within the file system's limit.
  std::string base = FilePartOf(target).substr(0, 96);
  char tail[64];
  std::snprintf(tail, sizeof(tail), ".%lx.%x%lx.tmp", host::platform::ProcessId(), counter.fetch_add(1),
                static_cast<unsigned long>(nsec));
  const std::string folder = FolderOf(target);
  return (folder == "/" ? "/" : folder + "/") + "." + base + tail;
}

}  // namespace

std::string NotARegularFile(const std::string& path) {
  host::platform::FileStatus st;
  if (!host::platform::Status(path, &st)) return "";
  return st.isRegular ? "" : "not a regular file";
}

bool SafeSave::Begin(const std::string& target, std::string* error) {
  Abandon();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    m_target.clear();
    return false;
  };
  if (target.empty()) return fail("no file name");

  m_target = target;
  m_keepMode = false;
  host::platform::FileStatus st;
  if (host::platform::Status(target, &st, false) && st.isLink) {
    // The link stays; the file it names is the one replaced.
    m_target = host::platform::ResolvedPath(target);
    if (m_target.empty())
      return fail("cannot write " + Quote(target) + ": a symbolic link to nothing that can be written");
  }
  if (host::platform::Status(m_target, &st)) {
    if (!st.isRegular) return fail("cannot write " + Quote(target) + ": not a regular file");
    m_keepMode = true;
    m_mode = st.mode;
  } else if (errno != ENOENT) {
    return fail("cannot write " + Quote(target) + ": " + std::strerror(errno));
  }

  for (int attempt = 0; attempt < 100; ++attempt) {
    m_temp = TemporaryName(m_target);
    m_fd = host::platform::CreateExclusive(m_temp);
    if (m_fd >= 0) break;
    if (errno != EEXIST) break;
  }
  if (m_fd < 0) {
    const std::string why = std::strerror(errno);
    m_temp.clear();
    return fail("cannot write " + Quote(target) + ": cannot create a file in " + Quote(FolderOf(m_target)) + " (" +
                why + ")");
  }
  if (m_keepMode) host::platform::SetMode(m_fd, m_mode);
  m_written = m_writebackFrom = 0;
  return true;
}

bool SafeSave::Write(const void* data, size_t size) {
  if (m_fd < 0) {
    errno = EBADF;
    return false;
  }
  const char* p = static_cast<const char*>(data);
  // The write-fault control of the tests stands for a full disk.
  const LLONG budget = WriteBudget();
  const bool cut = budget >= 0 && static_cast<unsigned long long>(budget) < size;
  if (budget >= 0) {
    const size_t allowed = cut ? static_cast<size_t>(budget) : size;
    ConsumeWrite(static_cast<LLONG>(allowed));
    size = allowed;
  }
  if (!WriteAll(m_fd, p, size)) return false;
  m_written += static_cast<int64_t>(size);
  if (cut) {
    errno = ENOSPC;
    return false;
  }
  // A large file is on its way to the disk while the rest of it is made and written;
  // Commit's flush would otherwise start it all at the end.
  constexpr int64_t kWritebackStep = int64_t{8} << 20;
  if (m_written - m_writebackFrom >= kWritebackStep) {
    host::platform::StartWriteback(m_fd, m_writebackFrom, m_written - m_writebackFrom);
    m_writebackFrom = m_written;
  }
  return true;
}

bool SafeSave::Rewrite(int64_t offset, const void* data, size_t size) {
  if (m_fd < 0) {
    errno = EBADF;
    return false;
  }
  if (offset < 0 || static_cast<uint64_t>(offset) + size > static_cast<uint64_t>(m_written)) {
    errno = EINVAL;
    return false;
  }
  if (host::platform::Seek(m_fd, offset, SEEK_SET) != offset) return false;
  const bool written = WriteAll(m_fd, static_cast<const char*>(data), size);
  const int saved = errno;
  if (host::platform::Seek(m_fd, m_written, SEEK_SET) != m_written) return false;
  errno = saved;
  return written;
}

bool SafeSave::Commit(std::string* error) {
  if (m_fd < 0) {
    if (error) *error = "nothing to save";
    return false;
  }
  auto fail = [&](const std::string& what) {
    if (error) *error = what + " " + Quote(m_target) + ": " + std::strerror(errno);
    Abandon();
    return false;
  };
  if (!host::platform::Sync(m_fd)) return fail("cannot write");
  const int fd = m_fd;
  m_fd = -1;
  if (!host::platform::Close(fd)) return fail("cannot write");
  // The target may have turned into something else since Begin; a rename would then put
  // a regular file in the place of a device or folder the user did not mean to replace.
  if (const std::string why = NotARegularFile(m_target); !why.empty()) {
    errno = EINVAL;
    if (error) *error = "cannot write " + Quote(m_target) + ": " + why;
    Abandon();
    return false;
  }
  if (!host::platform::Rename(m_temp, m_target)) return fail("cannot replace");
  m_temp.clear();
  host::platform::SyncFolder(FolderOf(m_target));  // the rename reaches the disk with the folder
  host::internal::RecordSaved(m_target);
  return true;
}

void SafeSave::Abandon() {
  if (m_fd >= 0) {
    host::platform::Close(m_fd);
    m_fd = -1;
  }
  if (!m_temp.empty()) {
    host::platform::RemoveFile(m_temp);
    m_temp.clear();
  }
}

bool SaveFileSafely(const std::string& target, const void* data, size_t size, std::string* error) {
  SafeSave save;
  if (!save.Begin(target, error)) return false;
  if (!save.Write(data, size)) {
    if (error) *error = "cannot write " + Quote(target) + ": " + std::strerror(errno);
    return false;  // the destructor removes the temporary file
  }
  return save.Commit(error);
}

}  // namespace host::internal

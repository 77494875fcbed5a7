#include "safe_save.h"

#include "host_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host::internal {

namespace {

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FilePartOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name no other save uses: the process, a per-process counter and the clock. The
// exclusive create is what guarantees it; the name only makes collisions rare.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // Long file names leave room for the additions within the file system's limit.
  std::string base = FilePartOf(target).substr(0, 96);
  char tail[64];
  std::snprintf(tail, sizeof(tail), ".%lx.%x%lx.tmp", static_cast<unsigned long>(::getpid()),
                counter.fetch_add(1), static_cast<unsigned long>(now.tv_nsec));
  const std::string folder = FolderOf(target);
  return (folder == "/" ? "/" : folder + "/") + "." + base + tail;
}

bool FsyncFolder(const std::string& folder) {
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return false;
  const bool ok = ::fsync(dirfd) == 0;
  ::close(dirfd);
  return ok;
}

}  // namespace

std::string NotARegularFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return S_ISREG(st.st_mode) ? "" : "not a regular file";
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
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // The link stays; the file it names is the one replaced.
    char* resolved = ::realpath(target.c_str(), nullptr);
    if (!resolved) return fail("cannot write " + Quote(target) + ": a symbolic link to nothing that can be written");
    m_target = resolved;
    std::free(resolved);
  }
  if (::stat(m_target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return fail("cannot write " + Quote(target) + ": not a regular file");
    m_keepMode = true;
    m_mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return fail("cannot write " + Quote(target) + ": " + std::strerror(errno));
  }

  for (int attempt = 0; attempt < 100; ++attempt) {
    m_temp = TemporaryName(m_target);
    m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (m_fd >= 0) break;
    if (errno != EEXIST && errno != EINTR) break;
  }
  if (m_fd < 0) {
    const std::string why = std::strerror(errno);
    m_temp.clear();
    return fail("cannot write " + Quote(target) + ": cannot create a file in " + Quote(FolderOf(m_target)) + " (" +
                why + ")");
  }
  if (m_keepMode) ::fchmod(m_fd, static_cast<mode_t>(m_mode));
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
  while (size > 0) {
    const ssize_t n = ::write(m_fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  if (cut) errno = ENOSPC;
  return !cut;
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
  if (::fsync(m_fd) != 0) return fail("cannot write");
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) return fail("cannot write");
  // The target may have turned into something else since Begin; a rename would then put
  // a regular file in the place of a device or folder the user did not mean to replace.
  if (const std::string why = NotARegularFile(m_target); !why.empty()) {
    errno = EINVAL;
    if (error) *error = "cannot write " + Quote(m_target) + ": " + why;
    Abandon();
    return false;
  }
  if (::rename(m_temp.c_str(), m_target.c_str()) != 0) return fail("cannot replace");
  m_temp.clear();
  FsyncFolder(FolderOf(m_target));  // the rename reaches the disk with the folder
  return true;
}

void SafeSave::Abandon() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (!m_temp.empty()) {
    ::unlink(m_temp.c_str());
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

// The host's system services on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace host::platform {

namespace {

FileTimeStamp Stamp(const timespec& ts) { return {static_cast<int64_t>(ts.tv_sec), static_cast<long>(ts.tv_nsec)}; }

void Fill(const struct stat& st, FileStatus* out) {
  out->isDir = S_ISDIR(st.st_mode);
  out->isRegular = S_ISREG(st.st_mode);
  out->isLink = S_ISLNK(st.st_mode);
  out->writable = (st.st_mode & S_IWUSR) != 0;
  out->size = static_cast<int64_t>(st.st_size);
  out->mode = st.st_mode & 07777;
  out->volume = static_cast<uint64_t>(st.st_dev);
  out->index = static_cast<uint64_t>(st.st_ino);
  out->modified = Stamp(st.st_mtim);
  out->accessed = Stamp(st.st_atim);
  out->created = Stamp(st.st_ctim);  // no birth time in struct stat
}

}  // namespace

bool Status(const std::string& path, FileStatus* status, bool followLinks) {
  struct stat st;
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
  if (status) Fill(st, status);
  return true;
}

bool StatusOf(int fd, FileStatus* status) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (status) Fill(st, status);
  return true;
}

int OpenForReading(const std::string& path, std::string* why) {
  int fd = -1;
  // Non-blocking so that a FIFO in place of the file cannot hang the open.
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return -1;
  }
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    const int saved = statted ? EINVAL : errno;
    ::close(fd);
    errno = saved;
    if (why) *why = statted ? "not a regular file" : std::strerror(saved);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int OpenForWriting(const std::string& path, bool readToo) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), (readToo ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int CreateExclusive(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int64_t Read(int fd, void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int64_t>(n);
  }
}

int64_t Write(int fd, const void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int64_t>(n);
  }
}

int64_t Seek(int fd, int64_t offset, int whence) {
  static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");
  return static_cast<int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

bool Sync(int fd) { return ::fsync(fd) == 0; }

void StartWriteback(int fd, int64_t offset, int64_t size) {
#ifdef __linux__
  ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
#else
  (void)fd, (void)offset, (void)size;
#endif
}

bool Close(int fd) { return ::close(fd) == 0 || errno == EINTR; }

void SetMode(int fd, unsigned mode) { ::fchmod(fd, static_cast<mode_t>(mode)); }

bool Rename(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RemoveFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool MakeWritable(const std::string& path, const FileStatus& status) {
  return ::chmod(path.c_str(), static_cast<mode_t>(status.mode | S_IWUSR)) == 0;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  DIR* dir = path.empty() ? nullptr : ::opendir(path.c_str());
  if (!dir) return false;
  try {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string n = entry->d_name;
      if (n != "." && n != "..") names->push_back(n);
    }
  } catch (...) {
    ::closedir(dir);
    throw;
  }
  ::closedir(dir);
  return true;
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return "";
  std::string out = resolved;
  std::free(resolved);
  return out;
}

void SyncFolder(const std::string& path) {
  const int dirfd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return;
  ::fsync(dirfd);
  ::close(dirfd);
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool UtcTime(int64_t seconds, struct tm* utc) {
  const time_t t = static_cast<time_t>(seconds);
  return ::gmtime_r(&t, utc) != nullptr;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return ".";
}

std::string DefaultSettingsFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/kelvane";
  return HomeFolder() + "/.config/kelvane";
}

bool FolderWritable(const std::string& path) { return ::access(path.c_str(), W_OK | X_OK) == 0; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

int OpenLockFile(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool TryLock(int fd, bool* busy) {
  *busy = false;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  *busy = errno == EWOULDBLOCK || errno == EINTR;
  return false;
}

void Unlock(int fd) { ::flock(fd, LOCK_UN); }

void PrepareConsole() {}  // terminals take UTF-8 as it is

bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

size_t ErrorColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

namespace {
void (*g_onInterrupt)() = nullptr;
volatile sig_atomic_t g_interrupts = 0;

void OnSigint(int) {
  if (g_interrupts++ > 0 || !g_onInterrupt) {
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
    return;
  }
  g_onInterrupt();
}
}  // namespace

void CatchInterrupt(void (*onInterrupt)()) {
  g_onInterrupt = onInterrupt;
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

void* AllocateBlock(size_t size, bool cleared) { return cleared ? std::calloc(1, size) : std::malloc(size ? size : 1); }

void* ResizeBlock(void* block, size_t size) { return std::realloc(block, size); }

void FreeBlock(void* block) { std::free(block); }

void* LoadModule(const std::string& path, std::string* error) {
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module && error) *error = ::dlerror();
  return module;
}

void* ModuleSymbol(void* module, const char* name) { return ::dlsym(module, name); }

void UnloadModule(void* module) {
  if (module) ::dlclose(module);
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "";
  return std::string(path, static_cast<size_t>(n));
}

const char* ModuleFileName() { return "kelvane_plugin.so"; }

std::string MakeTemporaryFolder(const std::string& prefix, std::string* where) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  if (where) *where = path;
  if (!::mkdtemp(path.data())) return "";
  return path;
}

namespace {

OutputCopyFunction g_copy = nullptr;
std::FILE* g_stdout = nullptr;  // the streams before the copies began
std::FILE* g_stderr = nullptr;

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// One write of a copying stream: to its file descriptor (the cookie), then to the copy.
ssize_t CopyingWrite(void* cookie, const char* data, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  WriteAll(fd, data, size);
  if (g_copy && size > 0) g_copy(fd, data, size);
  return static_cast<ssize_t>(size);
}

std::FILE* CopyingStream(int fd, int buffering) {
  cookie_io_functions_t functions{};
  functions.write = CopyingWrite;
  std::FILE* stream = ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), "w", functions);
  if (stream) std::setvbuf(stream, nullptr, buffering, BUFSIZ);
  return stream;
}

}  // namespace

bool StartOutputCopy(OutputCopyFunction copy) {
  if (g_copy) {
    errno = EBUSY;
    return false;
  }
  std::FILE* out = CopyingStream(STDOUT_FILENO, _IOLBF);
  std::FILE* err = CopyingStream(STDERR_FILENO, _IONBF);
  if (!out || !err) {
    const int why = errno;
    if (out) std::fclose(out);
    if (err) std::fclose(err);
    errno = why;
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  g_copy = copy;
  g_stdout = stdout;
  g_stderr = stderr;
  stdout = out;
  stderr = err;
  return true;
}

void StopOutputCopy() {
  if (!g_copy) return;
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  stdout = g_stdout;
  stderr = g_stderr;
  std::fclose(out);
  std::fclose(err);
  g_copy = nullptr;
}

}  // namespace host::platform

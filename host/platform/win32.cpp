// The host's system services on Windows: wide-character file APIs under UTF-8 paths,
// C runtime descriptors in binary mode (no line-end translation), 64-bit offsets.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform.h"

namespace host::platform {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

// errno for the thread's last Windows error, so that callers report it alike everywhere.
void SetErrnoFromLastError() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    case ERROR_DIR_NOT_EMPTY: errno = ENOTEMPTY; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: errno = ENOMEM; break;
    case ERROR_DIRECTORY: errno = ENOTDIR; break;
    default: errno = EIO; break;
  }
}

FileTimeStamp Stamp(const FILETIME& ft) {
  // 100-nanosecond ticks since 1601-01-01.
  const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const int64_t since1970 = ticks - 116444736000000000LL;
  int64_t seconds = since1970 / 10000000, rest = since1970 % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return {seconds, static_cast<long>(rest * 100)};
}

bool Describe(HANDLE handle, FileStatus* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) {
    SetErrnoFromLastError();
    return false;
  }
  if (!out) return true;
  const DWORD attributes = info.dwFileAttributes;
  out->isDir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out->isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  out->isRegular = !out->isDir && !out->isLink && ::GetFileType(handle) == FILE_TYPE_DISK;
  out->writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  out->size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out->mode = 0;
  out->volume = info.dwVolumeSerialNumber;
  out->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out->modified = Stamp(info.ftLastWriteTime);
  out->accessed = Stamp(info.ftLastAccessTime);
  out->created = Stamp(info.ftCreationTime);
  return true;
}

HANDLE Handle(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n && text ? Narrow(text, n) : "error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string Env(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value ? Narrow(value, std::wcslen(value)) : std::string();
}

}  // namespace

bool Status(const std::string& path, FileStatus* status, bool followLinks) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = ::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  const bool ok = Describe(h, status);
  ::CloseHandle(h);
  return ok;
}

bool StatusOf(int fd, FileStatus* status) {
  const HANDLE h = Handle(fd);
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  return Describe(h, status);
}

int OpenForReading(const std::string& path, std::string* why) {
  FileStatus st;
  // Devices (NUL, CON, pipes) are refused before an open could wait on them.
  if (Status(path, &st) && !st.isRegular) {
    errno = EINVAL;
    if (why) *why = "not a regular file";
    return -1;
  }
  const int fd = ::_wopen(Widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return -1;
  }
  if (!StatusOf(fd, &st) || !st.isRegular) {
    ::_close(fd);
    errno = EINVAL;
    if (why) *why = "not a regular file";
    return -1;
  }
  return fd;
}

int OpenForWriting(const std::string& path, bool readToo) {
  return ::_wopen(Widen(path).c_str(), (readToo ? _O_RDWR : _O_WRONLY) | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

int CreateExclusive(const std::string& path) {
  return ::_wopen(Widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

// The C runtime moves at most INT_MAX bytes per call; callers loop.
constexpr size_t kMaxChunk = size_t(1) << 30;

int64_t Read(int fd, void* data, size_t size) {
  return ::_read(fd, data, static_cast<unsigned>(size < kMaxChunk ? size : kMaxChunk));
}

int64_t Write(int fd, const void* data, size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size < kMaxChunk ? size : kMaxChunk));
}

int64_t Seek(int fd, int64_t offset, int whence) { return ::_lseeki64(fd, offset, whence); }

bool Sync(int fd) { return ::_commit(fd) == 0; }

void StartWriteback(int, int64_t, int64_t) {}  // the cache manager writes behind by itself

bool Close(int fd) { return ::_close(fd) == 0; }

void SetMode(int, unsigned) {}  // no permission bits; a new file is writable

bool Rename(const std::string& from, const std::string& to) {
  if (::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  SetErrnoFromLastError();
  return false;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileW(Widen(path).c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool RemoveFolder(const std::string& path) {
  if (::RemoveDirectoryW(Widen(path).c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool MakeFolder(const std::string& path) {
  if (::CreateDirectoryW(Widen(path).c_str(), nullptr)) return true;
  SetErrnoFromLastError();
  return false;
}

bool MakeWritable(const std::string& path, const FileStatus&) {
  const std::wstring wide = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !::SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    SetErrnoFromLastError();
    return false;
  }
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(Widen(path + "/*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root
    SetErrnoFromLastError();
    return false;
  }
  try {
    do {
      const std::string n = Narrow(found.cFileName, std::wcslen(found.cFileName));
      if (n != "." && n != "..") names->push_back(n);
    } while (::FindNextFileW(h, &found));
  } catch (...) {
    ::FindClose(h);
    throw;
  }
  ::FindClose(h);
  return true;
}

std::string ResolvedPath(const std::string& path) {
  HANDLE h = ::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  wchar_t buffer[32768];
  const DWORD n = ::GetFinalPathNameByHandleW(h, buffer, 32768, FILE_NAME_NORMALIZED);
  ::CloseHandle(h);
  if (n == 0 || n >= 32768) return "";
  std::wstring out(buffer, n);
  if (out.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    out = L"\\\\" + out.substr(8);
  else if (out.compare(0, 4, L"\\\\?\\") == 0)
    out = out.substr(4);
  return Narrow(out);
}

void SyncFolder(const std::string&) {}  // a rename is durable with the file system's journal

unsigned long ProcessId() { return ::GetCurrentProcessId(); }

bool UtcTime(int64_t seconds, struct tm* utc) {
  const __time64_t t = seconds;
  return ::_gmtime64_s(utc, &t) == 0;
}

std::string HomeFolder() {
  std::string home = Env(L"USERPROFILE");
  if (home.empty()) home = Env(L"HOME");
  return home.empty() ? "." : home;
}

std::string DefaultSettingsFolder() {
  const std::string appData = Env(L"APPDATA");
  return (appData.empty() ? HomeFolder() : appData) + "/kelvane";
}

bool FolderWritable(const std::string&) { return true; }  // access rights show when saving

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\')) return true;
  return path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\');
}

int OpenLockFile(const std::string& path) { return OpenForWriting(path, true); }

bool TryLock(int fd, bool* busy) {
  *busy = false;
  OVERLAPPED whole{};
  if (::LockFileEx(Handle(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) return true;
  *busy = ::GetLastError() == ERROR_LOCK_VIOLATION || ::GetLastError() == ERROR_IO_PENDING;
  SetErrnoFromLastError();
  return false;
}

void Unlock(int fd) {
  OVERLAPPED whole{};
  ::UnlockFileEx(Handle(fd), 0, 1, 0, &whole);
}

void PrepareConsole() { ::SetConsoleOutputCP(CP_UTF8); }

bool OutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

size_t ErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return static_cast<size_t>(columns);
  }
  return 80;
}

namespace {
void (*g_onInterrupt)() = nullptr;
volatile LONG g_interrupts = 0;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  // The second press goes on to the default handler, which ends the process.
  if (::InterlockedIncrement(&g_interrupts) > 1 || !g_onInterrupt) return FALSE;
  g_onInterrupt();
  return TRUE;
}
}  // namespace

void CatchInterrupt(void (*onInterrupt)()) {
  g_onInterrupt = onInterrupt;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void* AllocateBlock(size_t size, bool cleared) {
  void* block = ::_aligned_malloc(size ? size : 1, 16);
  if (block && cleared) std::memset(block, 0, size);
  return block;
}

void* ResizeBlock(void* block, size_t size) { return ::_aligned_realloc(block, size ? size : 1, 16); }

void FreeBlock(void* block) { ::_aligned_free(block); }

void* LoadModule(const std::string& path, std::string* error) {
  HMODULE module = ::LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module && error) *error = SystemMessage(::GetLastError());
  return reinterpret_cast<void*>(module);
}

void* ModuleSymbol(void* module, const char* name) {
  const FARPROC entry = ::GetProcAddress(reinterpret_cast<HMODULE>(module), name);
  void* out = nullptr;
  static_assert(sizeof(out) == sizeof(entry), "function and data pointers have one size");
  std::memcpy(&out, &entry, sizeof(out));
  return out;
}

void UnloadModule(void* module) {
  if (module) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::string ExecutablePath() {
  wchar_t buffer[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, 32768);
  if (n == 0 || n >= 32768) return "";
  return Narrow(buffer, n);
}

const char* ModuleFileName() { return "kelvane_plugin.dll"; }

std::string MakeTemporaryFolder(const std::string& prefix, std::string* where) {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) {
    if (where) *where = prefix + "XXXXXX";
    SetErrnoFromLastError();
    return "";
  }
  std::string folder = Narrow(buffer, n);
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (where) *where = folder + "\\" + prefix + "XXXXXX";
  // Names from the process, the time and a counter; one that is taken is tried again.
  static LONG counter = 0;
  const unsigned long long seed = (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64();
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long long value = seed + 0x9E3779B97F4A7C15ULL * static_cast<unsigned>(::InterlockedIncrement(&counter));
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = prefix;
    for (int i = 0; i < 6; ++i, value /= 36) name += kLetters[value % 36];
    const std::string path = folder + "\\" + name;
    if (::CreateDirectoryW(Widen(path).c_str(), nullptr)) return path;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      SetErrnoFromLastError();
      return "";
    }
  }
  errno = EEXIST;
  return "";
}

namespace {

// The copies of standard output and error: each stream's descriptor is a pipe's writing
// end, and a thread reads the pipe into the descriptor the stream had before (kept as a
// duplicate) and into the copy.
struct StreamCopy {
  int saved = -1;   // the descriptor before the copy
  int reader = -1;  // the pipe's reading end
  std::thread thread;
};
OutputCopyFunction g_copy = nullptr;
StreamCopy g_streams[2];

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const int n = ::_write(fd, data, static_cast<unsigned>(size));
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void Forward(int fd, StreamCopy* copy) {
  char buffer[4096];
  for (;;) {
    const int n = ::_read(copy->reader, buffer, sizeof(buffer));
    if (n <= 0) return;  // every writing end is closed
    WriteAll(copy->saved, buffer, static_cast<size_t>(n));
    g_copy(fd, buffer, static_cast<size_t>(n));
  }
}

// Puts the stream's descriptor back and waits until its thread has handed over the rest.
void EndStreamCopy(int fd) {
  StreamCopy& copy = g_streams[fd - 1];
  if (copy.saved >= 0) ::_dup2(copy.saved, fd);  // closes the pipe's last writing end
  if (copy.thread.joinable()) copy.thread.join();
  if (copy.reader >= 0) ::_close(copy.reader);
  if (copy.saved >= 0) ::_close(copy.saved);
  copy = StreamCopy();
}

bool BeginStreamCopy(int fd) {
  StreamCopy& copy = g_streams[fd - 1];
  int ends[2];
  if (::_pipe(ends, 65536, _O_BINARY | _O_NOINHERIT) != 0) return false;
  copy.saved = ::_dup(fd);
  if (copy.saved < 0 || ::_dup2(ends[1], fd) != 0) {
    const int why = errno;
    ::_close(ends[0]);
    ::_close(ends[1]);
    if (copy.saved >= 0) ::_close(copy.saved);
    copy = StreamCopy();
    errno = why;
    return false;
  }
  ::_close(ends[1]);
  // _dup2 made the pipe the process's standard handle too: the standard handle names
  // what it did before, so that the terminal queries (OutputIsTerminal, ErrorColumns)
  // still answer for the terminal.
  ::SetStdHandle(fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, Handle(copy.saved));
  copy.reader = ends[0];
  try {
    copy.thread = std::thread(Forward, fd, &copy);
  } catch (...) {
    EndStreamCopy(fd);
    errno = EAGAIN;
    return false;
  }
  return true;
}

}  // namespace

bool StartOutputCopy(OutputCopyFunction copy) {
  if (g_copy) {
    errno = EBUSY;
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  g_copy = copy;
  if (!BeginStreamCopy(1)) {
    g_copy = nullptr;
    return false;
  }
  if (!BeginStreamCopy(2)) {
    const int why = errno;
    EndStreamCopy(1);
    g_copy = nullptr;
    errno = why;
    return false;
  }
  // A stream that is not a terminal gets the C library's full buffering at its first
  // write: standard error stays unbuffered, so that its lines come out as they are
  // written. (Standard output is written in blocks and at each flush.)
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  return true;
}

void StopOutputCopy() {
  if (!g_copy) return;
  std::fflush(stdout);
  std::fflush(stderr);
  EndStreamCopy(1);
  EndStreamCopy(2);
  g_copy = nullptr;
}

}  // namespace host::platform

// The few operating-system services the host needs, behind one small interface: file
// descriptors, file status, folders, the settings lock, the terminal, loading the plug-in
// module. Paths are UTF-8 on every system. Sizes and offsets are 64-bit, also in 32-bit
// builds. platform/posix.cpp and platform/win32.cpp implement it; the build picks one.
// Functions that fail leave errno set, so callers report std::strerror(errno).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace host::platform {

// The characters that end a folder name in a path.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

struct FileTimeStamp {
  int64_t seconds = 0;  // since 1970-01-01 UTC
  long nsec = 0;
};

struct FileStatus {
  bool isDir = false;
  bool isRegular = false;
  bool isLink = false;     // only when asked not to follow links
  bool writable = true;    // the owner may write (not a read-only file)
  int64_t size = 0;
  unsigned mode = 0;       // permission bits where the system has them, else 0
  uint64_t volume = 0;     // with index: the same file under any name
  uint64_t index = 0;
  FileTimeStamp modified, accessed, created;  // created: the status change where no birth time is kept
};

// Status of a path; followLinks false describes a symbolic link itself.
bool Status(const std::string& path, FileStatus* status, bool followLinks = true);
bool StatusOf(int fd, FileStatus* status);

// A regular file opened for reading (devices and pipes are refused without blocking on
// them). -1 with *why ("not a regular file" or the system's reason) on failure.
int OpenForReading(const std::string& path, std::string* why);
// Opened for writing without truncation, created when missing; readToo adds reading.
int OpenForWriting(const std::string& path, bool readToo);
// A new file created exclusively (never through a symbolic link), for writing.
int CreateExclusive(const std::string& path);
// One read or write call, retried on interruption: bytes moved, -1 on error.
int64_t Read(int fd, void* data, size_t size);
int64_t Write(int fd, const void* data, size_t size);
// Moves the position (whence as in SEEK_SET/SEEK_END); the new position or -1.
int64_t Seek(int fd, int64_t offset, int whence);
bool Sync(int fd);
// Asks the system to start writing the bytes [offset, offset + size) of a file to the
// disk without waiting for them, so that a later Sync finds most of them written. Nothing
// where the system has no such request.
void StartWriteback(int fd, int64_t offset, int64_t size);
bool Close(int fd);
// Gives an open file the permission bits of the file it replaces (nothing where the
// system has none).
void SetMode(int fd, unsigned mode);

// Replaces to with from (both on the same volume).
bool Rename(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
bool RemoveFolder(const std::string& path);
// errno EEXIST when the name is taken.
bool MakeFolder(const std::string& path);
// Clears the read-only state of a file.
bool MakeWritable(const std::string& path, const FileStatus& status);
// The names in a folder without "." and "..", in the system's order.
bool ListFolder(const std::string& path, std::vector<std::string>* names);
// The path with links resolved, "" when it cannot be resolved.
std::string ResolvedPath(const std::string& path);
// Makes a rename in the folder durable where the system needs that.
void SyncFolder(const std::string& path);
unsigned long ProcessId();
// The calendar time in UTC of a count of seconds since 1970 (64-bit also where time_t is not).
bool UtcTime(int64_t seconds, struct tm* utc);
// The user's home folder.
std::string HomeFolder();
// The folder for per-user settings when no other is configured.
std::string DefaultSettingsFolder();
// False when the user may not create files in the folder (where the system tells
// without trying: else true, and a failing save reports why).
bool FolderWritable(const std::string& path);
// True when path names a location independently of the working folder.
bool IsAbsolutePath(const std::string& path);

// The settings lock file, opened (created when missing) for TryLock; never through a
// symbolic link.
int OpenLockFile(const std::string& path);
// An exclusive advisory lock on an open file, not waiting: true when taken; false with
// *busy when another process holds it, else with errno.
bool TryLock(int fd, bool* busy);
void Unlock(int fd);

// Makes a console window show the program's UTF-8 output (nothing elsewhere).
void PrepareConsole();
// Standard output or standard error is a terminal; the width of standard error's in
// columns (80 when unknown).
bool OutputIsTerminal();
bool ErrorIsTerminal();
size_t ErrorColumns();
// Calls onInterrupt when the user presses Ctrl+C; it runs as a signal handler, so it
// may only set an atomic flag. A second Ctrl+C ends the process as usual.
void CatchInterrupt(void (*onInterrupt)());

// Memory blocks aligned to 16 bytes (the C library's malloc guarantees only 8 on 32-bit
// Windows): a new block, zeroed when cleared is set, a resized one (nullptr leaves the
// block as it was), release.
void* AllocateBlock(size_t size, bool cleared);
void* ResizeBlock(void* block, size_t size);
void FreeBlock(void* block);

// Loadable modules: a handle or nullptr with *error.
void* LoadModule(const std::string& path, std::string* error);
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);
// The full path of the running executable, "" when unknown.
std::string ExecutablePath();
// The file name of the plug-in module on this system.
const char* ModuleFileName();

// A new folder of a unique name (prefix and random characters) in the system's folder
// for temporary files ($TMPDIR or /tmp; on Windows the user's temporary folder). Its
// path, or "" with errno; *where names the folder it was to be made in, for a report.
std::string MakeTemporaryFolder(const std::string& prefix, std::string* where);

// Copies of standard output and standard error. While they run, everything a module of
// the process writes to the two streams still reaches them and is also handed to
// copy(stream, data, size), stream 1 (output) or 2 (error). Where kOutputCopyKeepsWrites
// each call is one write of the C library's stream, in the order of the writes; else
// (Windows, where the streams pass through pipes) each stream's bytes come in order in
// pieces of any size, from a thread per stream, and the order between the two streams is
// not kept. StartOutputCopy: false with errno when it cannot start (or runs already).
// StopOutputCopy flushes the streams, hands over what was written before it and puts
// the streams back as they were.
#ifdef _WIN32
inline constexpr bool kOutputCopyKeepsWrites = false;
#else
inline constexpr bool kOutputCopyKeepsWrites = true;
#endif
using OutputCopyFunction = void (*)(int stream, const char* data, size_t size);
bool StartOutputCopy(OutputCopyFunction copy);
void StopOutputCopy();

}  // namespace host::platform

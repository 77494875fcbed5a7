// Safe saving: every file the host or a plug-in writes goes to a temporary file created
// exclusively beside its target and replaces the target by a rename only once it is
// complete. A failed or abandoned save leaves the target as it was; a target that is not
// a regular file (a device, a FIFO, a folder) is refused before anything is written.
// Used by BaseFile's write mode, scene files and the settings store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host::internal {

class SafeSave {
 public:
  SafeSave() = default;
  ~SafeSave() { Abandon(); }
  SafeSave(const SafeSave&) = delete;
  SafeSave& operator=(const SafeSave&) = delete;

  // Checks the target and creates the temporary file (never following a symbolic link,
  // never reusing a name). A target that is a symbolic link is saved where the link
  // points. False with *error (the target and the reason) when nothing can be written.
  bool Begin(const std::string& target, std::string* error);
  // The descriptor to write to; -1 before Begin and after Commit or Abandon.
  int Descriptor() const { return m_fd; }
  // Writes all bytes; false (errno kept) on a write error. Every few megabytes written,
  // the system is asked to start putting them on the disk, so that Commit's flush waits
  // for little more than the last of them.
  bool Write(const void* data, size_t size);
  // Writes size bytes again at offset, inside what Write wrote (a header completed once
  // the bytes after it are known); later writes continue at the end. False (errno kept)
  // on a write error, EINVAL past the end.
  bool Rewrite(int64_t offset, const void* data, size_t size);
  // Flushes the temporary file to the disk and renames it over the target. On failure
  // the temporary file is removed, the target is unchanged and *error says why.
  bool Commit(std::string* error);
  // Removes the temporary file; the target stays as it was. Nothing when not begun.
  void Abandon();

  const std::string& Target() const { return m_target; }
  const std::string& TemporaryPath() const { return m_temp; }

 private:
  int m_fd = -1;
  int64_t m_written = 0;         // bytes Write wrote
  int64_t m_writebackFrom = 0;   // the first of them not yet handed to StartWriteback
  std::string m_target;  // the path that is replaced (a link's destination)
  std::string m_temp;
  bool m_keepMode = false;  // the target existed: the new file takes its permissions
  unsigned m_mode = 0;
};

// A file written whole by one call through SafeSave.
bool SaveFileSafely(const std::string& target, const void* data, size_t size, std::string* error);

// Why a path cannot be opened as a file for reading or writing: "" when it is a regular
// file or does not exist, else "not a regular file" (a folder, device, FIFO or socket).
std::string NotARegularFile(const std::string& path);

}  // namespace host::internal

#include "output_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host_control.h"

namespace {

std::FILE* g_log = nullptr;
std::FILE* g_stdout = nullptr;  // the streams the run started with
std::FILE* g_stderr = nullptr;

// Writes all of data to fd, as far as it takes it.
void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// A write to standard output or error: to its file descriptor, and to the log unless
// it draws or erases the progress line (which always starts with a carriage return).
ssize_t Tee(void* cookie, const char* data, size_t size) {
  WriteAll(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), data, size);
  if (g_log && size > 0 && data[0] != '\r') {
    std::fwrite(data, 1, size, g_log);
    std::fflush(g_log);
  }
  return static_cast<ssize_t>(size);
}

void Withheld(const std::string& line) {
  if (!g_log) return;
  std::fputs(line.c_str(), g_log);
  std::fputc('\n', g_log);
  std::fflush(g_log);
}

std::FILE* TeeStream(int fd, int buffering) {
  cookie_io_functions_t functions{};
  functions.write = Tee;
  std::FILE* stream = ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), "w", functions);
  if (stream) std::setvbuf(stream, nullptr, buffering, BUFSIZ);
  return stream;
}

}  // namespace

bool OutputLog::Start(const std::string& path, std::string* error) {
  Stop();
  g_log = std::fopen(path.c_str(), "w");
  if (!g_log) {
    *error = "cannot write the log '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::FILE* out = TeeStream(STDOUT_FILENO, _IOLBF);
  std::FILE* err = TeeStream(STDERR_FILENO, _IONBF);
  if (!out || !err) {
    if (out) std::fclose(out);
    if (err) std::fclose(err);
    std::fclose(g_log);
    g_log = nullptr;
    *error = "cannot set up the log '" + path + "'";
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  g_stdout = stdout;
  g_stderr = stderr;
  stdout = out;
  stderr = err;
  host::SetWithheldLineSink(Withheld);
  return true;
}

void OutputLog::Stop() {
  if (!g_log) return;
  host::SetWithheldLineSink(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  stdout = g_stdout;
  stderr = g_stderr;
  std::fclose(out);
  std::fclose(err);
  std::fclose(g_log);
  g_log = nullptr;
}

// Measuring one piece of work in a child process of its own: the benchmark runs itself
// again with "--child ..." arguments, reads the child's last "result ..." line from a
// pipe and its peak resident memory from wait4, so that the figure is that work's alone.
// Also the grid input (obj_grid.h) written once into a folder and reused.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "obj_grid.h"

extern char** environ;

namespace bench {

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct ChildResult {
  bool ok = false;
  std::string result;  // the text after the last "result " of its output
  std::string error;   // why it failed: its "error " line, exit status or signal
  double peakMB = 0;   // the child's maximum resident set, MB of 10^6 bytes
};

// Runs program with args (after argv[0]) and collects what it printed and its peak
// memory. A child succeeds when it exits with 0 after printing a "result " line.
inline ChildResult RunChild(const std::string& program, const std::vector<std::string>& args) {
  ChildResult r;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    r.error = "pipe failed";
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    r.error = std::string("cannot start the child: ") + std::strerror(spawned);
    return r;
  }
  std::string output;
  char chunk[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof(chunk))) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(chunk, static_cast<size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  r.peakMB = usage.ru_maxrss * 1024.0 / 1e6;  // ru_maxrss is in KiB on Linux

  const size_t at = output.rfind("result ");
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && at != std::string::npos) {
    r.ok = true;
    r.result = output.substr(at + 7);
    return r;
  }
  const size_t err = output.rfind("error ");
  r.error = err != std::string::npos ? output.substr(err + 6) : output;
  while (!r.error.empty() && r.error.back() == '\n') r.error.pop_back();
  if (WIFSIGNALED(status))
    r.error += " (killed by signal " + std::to_string(WTERMSIG(status)) + ")";
  else if (r.error.empty())
    r.error = "exit status " + std::to_string(WEXITSTATUS(status));
  return r;
}

// grid.obj of side x side points and its grid.mtl in folder, written unless a complete
// one is there already; says which. Returns the OBJ file's path.
inline std::string PrepareGrid(const char* program, const std::filesystem::path& folder, long side) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) Fail(program, "cannot create " + folder.string() + ": " + ec.message());
  const std::string path = (folder / "grid.obj").string();
  if (!objgrid::WriteMaterials((folder / "grid.mtl").string()))
    Fail(program, "cannot write grid.mtl in " + folder.string());
  if (objgrid::GridIsComplete(path, side)) {
    std::printf("Reusing %s\n", path.c_str());
    return path;
  }
  const std::string part = path + ".part";
  const double start = Now();
  if (!objgrid::GenerateGrid(part, side)) Fail(program, "cannot write " + part + " (disk full?)");
  fs::rename(part, path, ec);
  if (ec) Fail(program, "cannot rename " + part + ": " + ec.message());
  std::printf("Generated %s in %.1f s\n", path.c_str(), Now() - start);
  return path;
}

// Reads the file once in 1 MiB blocks, so every child finds it in the page cache.
inline void WarmPageCache(const char* program, const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail(program, "cannot read " + path);
  std::vector<char> block(1 << 20);
  while (::read(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

}  // namespace bench

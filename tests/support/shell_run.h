// Running the built kelvane shell from a test, in a folder of the test's own, with its
// own settings folder.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "host_fixture.h"

struct ShellRun {
  int exitCode = -1;
  std::string out;  // standard output and standard error, in order
};

// Runs "kelvane args" in folder; environment is put before the command ("NAME=value").
inline ShellRun RunShell(const std::string& folder, const std::string& args, const std::string& environment = "") {
  const std::string command = "cd '" + folder + "' && " + environment + " KELVANE_SETTINGS_DIR='" + folder +
                              "/settings' '" + BinDir() + "/kelvane' " + args + " 2>&1";
  ShellRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.out.append(chunk.data(), n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Running the built kelvane shell from a test, in a folder of the test's own, with its
// own settings folder.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "host_fixture.h"

struct ShellRun {
  int exitCode = -1;
  std::string out;  // standard output, and standard error in order unless kept apart
  std::string err;  // standard error when kept apart
};

// Runs "kelvane args" in folder; environment is put before the command ("NAME=value").
// With separateErr, standard error goes to err instead of being mixed into out.
inline ShellRun RunShell(const std::string& folder, const std::string& args, const std::string& environment = "",
                         bool separateErr = false) {
  const std::string errFile = folder + "/kelvane-stderr.txt";
  const std::string redirect = separateErr ? " 2>'" + errFile + "'" : " 2>&1";
  const std::string command = "cd '" + folder + "' && " + environment + " KELVANE_SETTINGS_DIR='" + folder +
                              "/settings' '" + BinDir() + "/kelvane' " + args + redirect;
  ShellRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.out.append(chunk.data(), n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (separateErr) {
    std::ifstream in(errFile, std::ios::binary);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return result;
}

#include "shell_commands.h"

#include <cstdio>

int ShellFail(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  return kExitFailure;
}

int ShellUsage(const std::string& text) {
  std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  return kExitUsage;
}

// Test fixture: a fresh embedded host per test, quiet on the terminal, with its own
// settings folder, and a leak check at the end of every test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host_control.h"

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh empty folder for this test (removed at the end).
  const std::string& TempDir();
  // Writes bytes to a file under TempDir and returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes);
  static std::string ReadFile(const std::string& path);
  // True when some console line contains the text.
  static bool ConsoleHas(const std::string& text);

 private:
  long long m_liveAtStart = 0;
  std::string m_tempDir;
};

// Folder of the built shell, plug-in module and res/.
std::string BinDir();
std::string SourceDir();

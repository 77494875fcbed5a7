// Test fixture: a fresh embedded host per test, quiet on the terminal, with its own
// settings folder, and a leak check at the end of every test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
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
  // Runs step with allocation n failing, for n = 1, 2, ... until a run meets no failure
  // (the step then allocated fewer than n blocks); that last run must succeed. The step
  // checks each failed run itself and returns whether it succeeded.
  static void EveryAllocation(const std::function<bool()>& step);

 private:
  long long m_liveAtStart = 0;
  std::string m_tempDir;
};

// A host with the plug-in started (resources, registrations) and a quiet console.
// Fixtures that hold documents free them before calling TearDown: plug-in tags run
// the module's code as they go.
class PluginTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// path with '/' for every separator: on Windows the host joins the names it adds with
// '\\', and a path is the same whichever separator it uses. Unchanged elsewhere.
std::string Slashed(std::string path);

// Folder of the built shell, plug-in module and res/.
std::string BinDir();
std::string SourceDir();

// Sets (value) or removes (nullptr) an environment variable of the test process.
void SetEnv(const char* name, const char* value);

#include "host_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "main.h"
#include "platform.h"

namespace fs = std::filesystem;

std::string BinDir() { return KELVANE_BIN_DIR; }
std::string SourceDir() { return KELVANE_SOURCE_DIR; }

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");  // an empty value removes the variable
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

void HostTest::SetUp() {
  host::ResetHost();
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  host::SetPluginFolder(BinDir());
  host::SetSettingsFolder(TempDir() + "/settings");
  m_liveAtStart = host::GetMemoryStats().liveBlocks;
}

void HostTest::TearDown() {
  host::ResetFaults();
  const long long live = host::GetMemoryStats().liveBlocks;
  if (live != m_liveAtStart) {
    std::string report;
    for (const auto& line : host::LeakReport()) report += "  " + line + "\n";
    ADD_FAILURE() << (live - m_liveAtStart) << " host blocks leaked:\n" << report;
  }
  host::ResetHost();
  if (!m_tempDir.empty()) {
    std::error_code ec;
    fs::permissions(m_tempDir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_tempDir, ec);
  }
}

void PluginTest::SetUp() {
  HostTest::SetUp();
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
  ASSERT_TRUE(PluginStart());
  host::ClearConsole();
}

void PluginTest::TearDown() {
  host::FreeDocuments();
  PluginEnd();
  resource.Free();
  host::FreeRegistry();
  HostTest::TearDown();
}

const std::string& HostTest::TempDir() {
  if (m_tempDir.empty()) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info ? info->test_suite_name() : "test") + "_" + (info ? info->name() : "x");
    for (char& c : name)
      if (c == '/') c = '_';
    fs::path dir = fs::temp_directory_path() / ("kelvane_" + std::to_string(host::platform::ProcessId()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    m_tempDir = dir.string();
  }
  return m_tempDir;
}

std::string HostTest::WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = TempDir() + "/" + name;
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string HostTest::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool HostTest::ConsoleHas(const std::string& text) {
  for (const auto& line : host::ConsoleLines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

void HostTest::EveryAllocation(const std::function<bool()>& step) {
  for (LLONG n = 1;; ++n) {
    host::FailAllocationAt(n);
    const bool ok = step();
    const LLONG made = host::AllocationsSinceArmed();
    host::ResetFaults();
    if (made < n) {
      EXPECT_TRUE(ok) << "without a failure the step must succeed";
      break;
    }
    ASSERT_LT(n, 100000) << "runaway";
  }
}

std::string Slashed(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

// The kelvane shell run as a user runs it: exit codes, the plug-in listing and the
// failure when the plug-in's resources are missing.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output and standard error, in order
};

class ShellTest : public HostTest {
 protected:
  RunResult Run(const std::string& args, const std::string& environment = "") {
    const std::string command = "cd '" + TempDir() + "' && " + environment + " KELVANE_SETTINGS_DIR='" + TempDir() +
                                "/settings' '" + BinDir() + "/kelvane' " + args + " 2>&1";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
};

TEST_F(ShellTest, PluginsPrintsTheBannerAndTwelveRegistrationsInOrder) {
  const RunResult r = Run("plugins");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 20u) << r.out;
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], std::string(61, '='));
  EXPECT_EQ(lines[3], "Cinema 4D 32bit Release R13 (or later) version Installed.");
  EXPECT_EQ(lines[4], std::string(61, '='));

  const char* expected[][2] = {
      {"command", "1022493"}, {"command", "1022494"}, {"command", "1025200"}, {"deformer", "1028662"},
      {"command", "1025201"}, {"tag", "1016210"},     {"tag", "1016229"},     {"tag", "1020082"},
      {"command", "1023091"}, {"command", "1023090"}, {"command", "1022534"}, {"command", "1022536"},
  };
  size_t row = 0;
  for (const auto& line : lines) {
    if (row < std::size(expected) && line.rfind(expected[row][0], 0) == 0) {
      EXPECT_NE(line.find(expected[row][1]), std::string::npos) << line;
      ++row;
    }
  }
  EXPECT_EQ(row, std::size(expected)) << r.out;
  EXPECT_NE(r.out.find("12 plug-ins registered."), std::string::npos) << r.out;
}

TEST_F(ShellTest, MissingResourceFolderIsOneClearLineAndExitOne) {
  const fs::path folder = fs::path(TempDir()) / "bare";
  fs::create_directories(folder);
  fs::create_symlink(BinDir() + "/kelvane_plugin.so", folder / "kelvane_plugin.so");
  const RunResult r = Run("--plugin-dir '" + folder.string() + "' plugins");
  EXPECT_EQ(r.exitCode, 1);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  EXPECT_NE(lines[0].find((folder / "res").string()), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("version Installed."), std::string::npos) << "nothing may be registered";
}

TEST_F(ShellTest, PluginFolderFromFlagAndEnvironment) {
  const RunResult fromFlag = Run("--plugin-dir /nonexistent/folder plugins");
  EXPECT_EQ(fromFlag.exitCode, 1);
  EXPECT_NE(fromFlag.out.find("/nonexistent/folder/kelvane_plugin.so"), std::string::npos) << fromFlag.out;

  const RunResult fromEnv = Run("plugins", "KELVANE_PLUGIN_DIR=/nowhere");
  EXPECT_EQ(fromEnv.exitCode, 1);
  EXPECT_NE(fromEnv.out.find("/nowhere/kelvane_plugin.so"), std::string::npos) << fromEnv.out;

  // The flag wins over the environment.
  const RunResult both = Run("--plugin-dir '" + BinDir() + "' plugins", "KELVANE_PLUGIN_DIR=/nowhere");
  EXPECT_EQ(both.exitCode, 0) << both.out;
}

TEST_F(ShellTest, VersionHelpAndUsageErrors) {
  const RunResult version = Run("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("kelvane ", 0), 0u) << version.out;

  const RunResult help = Run("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("plugins"), std::string::npos);

  EXPECT_EQ(Run("").exitCode, 2);
  EXPECT_EQ(Run("no-such-command").exitCode, 2);
  EXPECT_EQ(Run("--frobnicate plugins").exitCode, 2);
  EXPECT_EQ(Run("--yes --no plugins").exitCode, 2);
}

}  // namespace

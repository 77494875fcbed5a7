// Shells sharing one settings folder at the same time: every preset change whose command
// succeeded survives the others, and no shell ever reads a damaged store — also when
// shells are killed in the middle of their work.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

// Each shell run is ten times slower under the sanitizers; fewer rounds keep the test
// short there, and the normal build runs them all.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRoundScale = 4;
#else
constexpr int kRoundScale = 1;
#endif

class ShellConcurrencyTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    WriteFile("quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  }

  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }

  // The import presets as listed, by name.
  std::set<std::string> Listed() {
    const ShellRun r = Run("presets list");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::set<std::string> names;
    size_t start = 0;
    while (start < r.out.size()) {
      const size_t end = r.out.find('\n', start);
      const std::string line = r.out.substr(start, end - start);
      // "   5  name        protected"
      const size_t digits = line.find_first_not_of(' ');
      if (digits != std::string::npos && std::isdigit(static_cast<unsigned char>(line[digits]))) {
        const size_t name = line.find_first_not_of(' ', line.find(' ', digits));
        std::string text = line.substr(name);
        const size_t mark = text.find("  ");
        names.insert(mark == std::string::npos ? text : text.substr(0, mark));
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return names;
  }

  bool NoDamage(const std::string& output) {
    return output.find("damaged") == std::string::npos && output.find("cannot replace") == std::string::npos;
  }
};

TEST_F(ShellConcurrencyTest, EightShellsAddingRenamingAndDeletingLoseNothing) {
  constexpr int kShells = 8, kRounds = 20 / kRoundScale;
  std::mutex lock;
  std::set<std::string> expected, gone;
  std::vector<std::string> problems;
  std::vector<std::thread> shells;
  for (int s = 0; s < kShells; ++s) {
    shells.emplace_back([&, s] {
      auto note = [&](const std::string& problem) {
        std::lock_guard<std::mutex> guard(lock);
        problems.push_back(problem);
      };
      for (int round = 0; round < kRounds; ++round) {
        const std::string name = "s" + std::to_string(s) + "-" + std::to_string(round);
        const ShellRun add = Run("presets add " + name + " --set scale=" + std::to_string(round + 2));
        if (!NoDamage(add.out)) note(add.out);
        if (add.exitCode != 0) {
          note("add " + name + ": " + add.out);
          continue;
        }
        const ShellRun rename = Run("presets rename " + name + " " + name + "-r");
        if (!NoDamage(rename.out)) note(rename.out);
        const std::string now = rename.exitCode == 0 ? name + "-r" : name;
        if (rename.exitCode != 0) note("rename " + name + ": " + rename.out);
        bool deleted = false;
        if (round % 3 == 2) {  // every third one goes again
          const ShellRun del = Run("presets delete " + now);
          if (!NoDamage(del.out)) note(del.out);
          deleted = del.exitCode == 0;
          if (!deleted) note("delete " + now + ": " + del.out);
        }
        const ShellRun import = Run("import quad.obj -o out" + std::to_string(s) + ".kscn");
        if (import.exitCode != 0 || !NoDamage(import.out)) note("import: " + import.out);
        std::lock_guard<std::mutex> guard(lock);
        (deleted ? gone : expected).insert(now);
        if (now != name) gone.insert(name);
      }
    });
  }
  for (std::thread& t : shells) t.join();
  for (const std::string& p : problems) ADD_FAILURE() << p;

  const std::set<std::string> listed = Listed();
  for (const std::string& name : expected) EXPECT_TRUE(listed.count(name)) << name << " was lost";
  for (const std::string& name : gone) EXPECT_FALSE(listed.count(name)) << name << " is back";
  EXPECT_EQ(listed.size(), expected.size() + 5);  // and the five built-in entries
  EXPECT_FALSE(fs::exists(TempDir() + "/settings/settings.kvs.damaged"));
}

TEST_F(ShellConcurrencyTest, ShellsKilledMidwayLeaveAStoreThatLoadsWithEveryCompletedChange) {
  constexpr int kShells = 6, kRounds = 12 / kRoundScale;
  std::mutex lock;
  std::set<std::string> completed;
  std::vector<std::thread> shells;
  for (int s = 0; s < kShells; ++s) {
    shells.emplace_back([&, s] {
      std::mt19937 random(static_cast<unsigned>(1234 + s));
      for (int round = 0; round < kRounds; ++round) {
        const std::string name = "k" + std::to_string(s) + "-" + std::to_string(round);
        const std::string settings = TempDir() + "/settings";
        const pid_t pid = ::fork();
        if (pid == 0) {
          ::setenv("KELVANE_SETTINGS_DIR", settings.c_str(), 1);
          const int null = ::open("/dev/null", O_WRONLY);
          ::dup2(null, 1);
          ::dup2(null, 2);
          const std::string shell = BinDir() + "/kelvane";
          ::execl(shell.c_str(), shell.c_str(), "presets", "add", name.c_str(), static_cast<char*>(nullptr));
          ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        if (random() % 2 == 0) {  // half of them die at a random moment of their run
          ::usleep(static_cast<useconds_t>(random() % 15000));
          ::kill(pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
          std::lock_guard<std::mutex> guard(lock);
          completed.insert(name);
        }
      }
    });
  }
  for (std::thread& t : shells) t.join();
  ASSERT_FALSE(completed.empty());

  const ShellRun list = Run("presets list");
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_TRUE(NoDamage(list.out)) << list.out;
  const std::set<std::string> listed = Listed();
  for (const std::string& name : completed) EXPECT_TRUE(listed.count(name)) << name << " was lost";
  // Killed shells leave no temporary files behind that anything reads; the store is whole.
  EXPECT_FALSE(fs::exists(TempDir() + "/settings/settings.kvs.damaged"));
}

}  // namespace

// Legal but unusual OBJ files whose cost used to grow with the square of their size: one
// face per distinct material ("usemtl"), and one face per distinct group with whole
// group names kept. Each file is imported by the shell as a user would ("kelvane import
// FILE -o SCENE", the scene file written), in a process of its own, at 10 000, 100 000
// and 200 000 elements; the time per element must stay flat.
//
//   bench_pathological [--folder DIR] [--sizes N,N,...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"

extern char** environ;

namespace {

constexpr const char* kProgram = "bench_pathological";

struct Kind {
  const char* name;                  // what one element is
  const char* line;                  // the statement that starts one ("usemtl m", "g part ")
  std::vector<std::string> options;  // import options of the run
  const char* shown;                 // the options as a user types them
};

const Kind kKinds[] = {
    {"materials", "usemtl m", {}, "(default options)"},
    {"groups", "g part ", {"--set", "whole-group-names=on"}, "--set whole-group-names=on"},
};

std::string WriteFile(const std::filesystem::path& folder, const Kind& kind, long count) {
  const std::filesystem::path path = folder / (std::string(kind.name) + std::to_string(count) + ".obj");
  if (std::filesystem::exists(path)) return path.string();
  std::ofstream out(path, std::ios::binary);
  out << "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  for (long i = 0; i < count; ++i) out << kind.line << i << "\nf 1 2 3\n";
  if (!out) bench::Fail(kProgram, "cannot write " + path.string());
  return path.string();
}

// Seconds of one "kelvane import" of path.
double Import(const std::string& shell, const std::string& path, const Kind& kind, const std::string& folder) {
  std::vector<std::string> args = {shell, "--no-progress", "--settings-dir", folder + "/settings", "import", path};
  args.insert(args.end(), kind.options.begin(), kind.options.end());
  args.insert(args.end(), {"-o", folder + "/out.kscn"});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, shell.c_str(), &quiet, nullptr, argv.data(), environ) != 0)
    bench::Fail(kProgram, "cannot start " + shell);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  posix_spawn_file_actions_destroy(&quiet);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) bench::Fail(kProgram, "the import of " + path + " failed");
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "build/bench-pathological";
  std::vector<long> sizes = {10000, 100000, 200000};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg == "--sizes" && i + 1 < argc) {
      sizes.clear();
      for (const char* p = argv[++i]; *p;) {
        char* end = nullptr;
        sizes.push_back(std::strtol(p, &end, 10));
        p = *end == ',' ? end + 1 : end;
      }
    } else {
      std::fprintf(stderr, "usage: %s [--folder DIR] [--sizes N,N,...]\n", kProgram);
      return 2;
    }
  }
  std::filesystem::create_directories(folder);
  const std::string shell = (std::filesystem::canonical("/proc/self/exe").parent_path() / "kelvane").string();

  for (const Kind& kind : kKinds) {
    std::printf("%s (one face each; kelvane import FILE %s):\n", kind.name, kind.shown);
    std::vector<double> perElement;
    for (const long n : sizes) {
      const std::string path = WriteFile(folder, kind, n);
      const double seconds = Import(shell, path, kind, folder);
      perElement.push_back(seconds / static_cast<double>(n));
      std::printf("  %7ld %s: %8.3f s   %7.2f us per element\n", n, kind.name, seconds, perElement.back() * 1e6);
      std::fflush(stdout);
    }
    const double ratio = perElement.back() / perElement.front();
    const bool met = ratio <= 2.0;
    std::printf("  time per element at %ld / at %ld = %.2fx\n", sizes.back(), sizes.front(), ratio);
    std::printf("goal time per element at %ld <= 2x at %ld (%s): %s\n", sizes.back(), sizes.front(), kind.name,
                met ? "met" : "NOT met");
  }
  return 0;
}

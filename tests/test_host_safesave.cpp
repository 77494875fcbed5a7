// Safe saving: a file is replaced whole or not at all, never through a planted link, never
// in place of a device, pipe or folder; and reading never waits on a pipe or device.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "c4d.h"
#include "container_codec.h"
#include "host_fixture.h"
#include "safe_save.h"
#include "scene_file.h"
#include "shell_run.h"

namespace fs = std::filesystem;

namespace {

class SafeSaveTest : public HostTest {
 protected:
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }

  std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes bytes to path through BaseFile; how the writer ends is up to finish.
  bool Save(const std::string& path, const std::string& bytes, const std::function<void(BaseFile*)>& finish = {}) {
    BaseFile* file = BaseFile::Alloc();
    bool ok = file->Open(Filename(path.c_str()), FILEOPEN_WRITE) && file->WriteBytes(bytes.data(), VLONG(bytes.size()));
    if (finish) finish(file);
    ok = file->Close() && ok;
    BaseFile::Free(file);
    return ok;
  }

  std::string Fifo(const std::string& name) {
    const std::string path = Path(name);
    EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
    return path;
  }
};

TEST_F(SafeSaveTest, TargetsThatAreNotRegularFilesAreRefusedInEveryMode) {
  fs::create_directory(Path("folder"));
  const std::string fifo = Fifo("pipe");
  std::vector<std::string> targets = {Path("folder"), fifo};
  if (fs::exists("/dev/full")) targets.push_back("/dev/full");
  for (const std::string& target : targets) {
    const fs::file_type before = fs::status(target).type();
    for (const LONG mode : {FILEOPEN_WRITE, FILEOPEN_APPEND, FILEOPEN_READWRITE, FILEOPEN_READ}) {
      SCOPED_TRACE(target + " mode " + std::to_string(mode));
      host::ClearConsole();
      BaseFile* file = BaseFile::Alloc();
      // A pipe without a writer would block an open for reading: the open must come back.
      auto opened = std::async(std::launch::async, [&] { return file->Open(Filename(target.c_str()), mode); });
      ASSERT_EQ(opened.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the open hangs";
      EXPECT_FALSE(opened.get());
      EXPECT_EQ(file->GetError(), FILEERROR_OPEN);
      EXPECT_TRUE(ConsoleHas("not a regular file"));
      BaseFile::Free(file);
      EXPECT_EQ(fs::status(target).type(), before);  // the device or pipe is still what it was
    }
  }
  EXPECT_EQ(Names(TempDir()), (std::vector<std::string>{"folder", "pipe"}));  // no temporary file
}

TEST_F(SafeSaveTest, AFailedSaveKeepsTheOldFileByteForByte) {
  struct Case {
    const char* name;
    std::function<void(BaseFile*)> finish;
  };
  const Case cases[] = {
      {"the disk fills", [](BaseFile* f) {
         host::FailWritesAfter(3);
         EXPECT_FALSE(f->WriteBytes("more", 4));
         host::ResetFaults();
       }},
      {"the writer gives up", [](BaseFile* f) { f->SetError(FILEERROR_USERBREAK); }},
      {"the file is freed after a failure without Close", nullptr},
  };
  const std::string old = std::string("old\0bytes\n", 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("scene.obj", old);
    ::chmod(path.c_str(), 0640);
    if (c.finish) {
      EXPECT_FALSE(Save(path, "a new text", c.finish));
    } else {
      BaseFile* file = BaseFile::Alloc();
      ASSERT_TRUE(file->Open(Filename(path.c_str()), FILEOPEN_WRITE));
      host::FailWritesAfter(0);
      EXPECT_FALSE(file->WriteBytes("x", 1));
      host::ResetFaults();
      BaseFile::Free(file);
    }
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(Names(TempDir()), std::vector<std::string>{"scene.obj"});
  }
  // A good save replaces it and keeps its permissions.
  const std::string path = Path("scene.obj");
  EXPECT_TRUE(Save(path, "new"));
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(SafeSaveTest, PlantedLinksAreNotFollowedAndALinkedTargetStaysALink) {
  const std::string victim = WriteFile("victim.txt", "precious");
  const std::string path = Path("out.kscn");
  // Links where a save with a guessable temporary name would have written.
  for (const std::string& planted : {path + ".tmp", Path(".out.kscn.tmp"), Path(".out.kscn")})
    fs::create_symlink(victim, planted);
  std::unique_ptr<BaseDocument, void (*)(BaseDocument*)> doc(BaseDocument::Alloc(),
                                                             [](BaseDocument* d) { BaseDocument::Free(d); });
  doc->InsertObject(BaseObject::Alloc(Onull), nullptr, nullptr);
  std::string error;
  ASSERT_TRUE(host::SaveScene(doc.get(), path, &error)) << error;
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(path));
  BaseDocument* loaded = host::LoadScene(path, &error);
  ASSERT_NE(loaded, nullptr) << error;
  BaseDocument::Free(loaded);

  // A target that is itself a link (the user's own) is saved where it points.
  const std::string real = WriteFile("real.obj", "before");
  fs::create_symlink(real, Path("link.obj"));
  EXPECT_TRUE(Save(Path("link.obj"), "after"));
  EXPECT_TRUE(fs::is_symlink(Path("link.obj")));
  EXPECT_EQ(ReadFile(real), "after");
  // A link to nothing is refused rather than guessed at.
  fs::create_symlink(Path("missing/none.obj"), Path("dangling.obj"));
  EXPECT_FALSE(Save(Path("dangling.obj"), "x"));
  EXPECT_FALSE(fs::exists(Path("missing")));
}

TEST_F(SafeSaveTest, ConcurrentSavesToOneTargetLeaveAWholeFile) {
  const std::string path = Path("shared.bin");
  constexpr int kWriters = 6, kRounds = 15;
  constexpr size_t kSize = 300000;  // several writes each
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string bytes(kSize, static_cast<char>('a' + w));
      int failures = 0;
      for (int r = 0; r < kRounds; ++r) failures += Save(path, bytes) ? 0 : 1;
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  const std::string result = ReadFile(path);
  ASSERT_EQ(result.size(), kSize);
  EXPECT_EQ(result, std::string(kSize, result[0]));  // one writer's bytes, whole
  EXPECT_EQ(Names(TempDir()), std::vector<std::string>{"shared.bin"});
}

// Large framed files go out in pieces, their checksum filled into the header last.
TEST_F(SafeSaveTest, FramedFilesInPiecesReadBackWithTheirChecksum) {
  namespace hi = host::internal;
  const size_t kMiB = size_t{1} << 20;
  for (const size_t size : {size_t{0}, size_t{1}, 4 * kMiB - 1, 4 * kMiB, 4 * kMiB + 1, 9 * kMiB + 7}) {
    SCOPED_TRACE(size);
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string path = Path("framed.bin");
    std::string error;
    ASSERT_TRUE(hi::WriteFramedFile(path, hi::kSceneMagic, 7, payload, &error)) << error;
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), hi::kFramedHeaderSize + size);
    uint32_t stored = 0;
    for (int b = 3; b >= 0; --b) stored = stored << 8 | static_cast<unsigned char>(bytes[20 + b]);
    EXPECT_EQ(stored, hi::Crc32(payload.data(), payload.size()));
    std::string back;
    uint32_t version = 0;
    ASSERT_TRUE(hi::ReadFramedFile(path, hi::kSceneMagic, 7, 7, &back, &version, &error, nullptr)) << error;
    EXPECT_TRUE(back == payload);
    // The same payload in pieces, an empty one among them, gives the same file.
    const size_t cut = size / 3;
    const std::vector<hi::PayloadPiece> pieces = {
        {payload.data(), cut}, {payload.data() + cut, 0}, {payload.data() + cut, size - cut}};
    ASSERT_TRUE(hi::WriteFramedFile(path, hi::kSceneMagic, 7, pieces, &error)) << error;
    EXPECT_TRUE(ReadFile(path) == bytes);
  }
  EXPECT_EQ(Names(TempDir()), std::vector<std::string>{"framed.bin"});
}

TEST_F(SafeSaveTest, ADiskFillingInAnyPieceKeepsTheOldFramedFile) {
  namespace hi = host::internal;
  const size_t size = (size_t{9} << 20) + 3;
  const std::string payload(size, 'p'), path = Path("framed.bin");
  std::string error;
  ASSERT_TRUE(hi::WriteFramedFile(path, hi::kSceneMagic, 1, "old", &error)) << error;
  const std::string before = ReadFile(path);
  const LLONG header = LLONG(hi::kFramedHeaderSize);
  for (const LLONG room : {LLONG{0}, header - 1, header + (LLONG{4} << 20) + 5, header + LLONG(size) - 1}) {
    SCOPED_TRACE(room);
    host::FailWritesAfter(room);
    EXPECT_FALSE(hi::WriteFramedFile(path, hi::kSceneMagic, 1, payload, &error));
    host::ResetFaults();
    EXPECT_NE(error.find("framed.bin"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Names(TempDir()), std::vector<std::string>{"framed.bin"});
  }
}

TEST_F(SafeSaveTest, RewritesStayInsideWhatWasWritten) {
  host::internal::SafeSave save;
  std::string error;
  ASSERT_TRUE(save.Begin(Path("r.bin"), &error)) << error;
  ASSERT_TRUE(save.Write("abcdef", 6));
  EXPECT_TRUE(save.Rewrite(4, "EF", 2));
  EXPECT_FALSE(save.Rewrite(5, "FG", 2));  // past the end: the file would grow
  EXPECT_EQ(errno, EINVAL);
  ASSERT_TRUE(save.Write("gh", 2));  // at the end, after the rewrite
  ASSERT_TRUE(save.Commit(&error)) << error;
  EXPECT_EQ(ReadFile(Path("r.bin")), "abcdEFgh");
}

// --- through the shell --------------------------------------------------------------

class SafeSaveShellTest : public SafeSaveTest {
 protected:
  void SetUp() override {
    SafeSaveTest::SetUp();
    WriteFile("quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  }
  ShellRun Run(const std::string& args) { return RunShell(TempDir(), args); }
};

TEST_F(SafeSaveShellTest, AnOutputThatIsNotARegularFileIsRefused) {
  fs::create_directory(Path("folder.kscn"));
  const std::string fifo = Fifo("pipe.kscn");
  std::vector<std::string> outputs = {"folder.kscn", "pipe.kscn"};
  if (fs::exists("/dev/full")) outputs.push_back("/dev/full");
  for (const std::string& out : outputs) {
    SCOPED_TRACE(out);
    const fs::file_type before = fs::status(out[0] == '/' ? out : Path(out)).type();
    const ShellRun r = Run("import quad.obj -o " + out);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    // A folder is seen before the import starts; a pipe or device when the scene is saved.
    const char* said = out == "folder.kscn" ? "it is a folder" : "not a regular file";
    EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
    EXPECT_EQ(fs::status(out[0] == '/' ? out : Path(out)).type(), before);
  }
}

TEST_F(SafeSaveShellTest, AnExistingSceneSurvivesAFailedSave) {
  ASSERT_EQ(Run("import quad.obj -o kept.kscn").exitCode, 0);
  const std::string before = ReadFile(Path("kept.kscn"));
  // The import fails (nothing to build), so the scene named by --into is not written.
  WriteFile("empty.obj", "# nothing\n");
  EXPECT_EQ(Run("import empty.obj --into kept.kscn").exitCode, 1);
  EXPECT_EQ(ReadFile(Path("kept.kscn")), before);
  // A save that cannot create its file leaves the old one.
  const std::string folder = Path("ro");
  fs::create_directory(folder);
  if (::geteuid() != 0) {  // root writes into read-only folders
    ASSERT_EQ(Run("import quad.obj -o ro/kept.kscn").exitCode, 0);
    const std::string old = ReadFile(folder + "/kept.kscn");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(Run("import quad.obj -o ro/kept.kscn").exitCode, 1);
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(ReadFile(folder + "/kept.kscn"), old);
  }
}

TEST_F(SafeSaveShellTest, AMaterialLibraryThatIsAPipeDoesNotBlockTheImport) {
  Fifo("pipe.mtl");
  WriteFile("piped.obj", "mtllib pipe.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl red\nf 1 2 3\n");
  auto run = std::async(std::launch::async, [&] { return Run("import piped.obj -o piped.kscn"); });
  if (run.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // Unblock the shell so the test can end, then fail.
    const int fd = ::open(Path("pipe.mtl").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    FAIL() << "the import waits on the pipe";
  }
  const ShellRun r = run.get();
  EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(Path("piped.kscn"))) << r.out;  // the geometry is still imported
}

}  // namespace

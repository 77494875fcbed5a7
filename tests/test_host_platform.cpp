// The host's system services (platform.h) on each system: file status, exclusive
// creation, replacing renames, 64-bit offsets, the settings lock, dates past 2038,
// absolute paths, temporary folders and copies of standard output and error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "c4d_file.h"
#include "host_fixture.h"
#include "platform.h"

namespace fs = std::filesystem;
namespace pf = host::platform;

namespace {

class PlatformTest : public HostTest {};

TEST_F(PlatformTest, StatusTellsFilesFoldersAndMissingNames) {
  const std::string file = WriteFile("a.obj", "v 1 2 3\n");
  fs::create_directory(TempDir() + "/folder");
  struct Case {
    std::string path;
    bool exists, isDir, isRegular;
    int64_t size;
  };
  const Case cases[] = {
      {file, true, false, true, 8},
      {TempDir() + "/folder", true, true, false, -1},
      {TempDir() + "/none.obj", false, false, false, -1},
      {"", false, false, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    pf::FileStatus st;
    ASSERT_EQ(pf::Status(c.path, &st), c.exists);
    if (!c.exists) continue;
    EXPECT_EQ(st.isDir, c.isDir);
    EXPECT_EQ(st.isRegular, c.isRegular);
    if (c.size >= 0) {
      EXPECT_EQ(st.size, c.size);
    }
  }
  pf::FileStatus a, b;
  ASSERT_TRUE(pf::Status(file, &a));
  ASSERT_TRUE(pf::Status(TempDir() + "/folder/../a.obj", &b));
  EXPECT_EQ(a.index, b.index);  // one file under two names
  EXPECT_EQ(a.volume, b.volume);
}

TEST_F(PlatformTest, ExclusiveCreationRenameAndListing) {
  const std::string target = WriteFile("scene.kscn", "old");
  const std::string temp = TempDir() + "/new.tmp";
  const int fd = pf::CreateExclusive(temp);
  ASSERT_GE(fd, 0);
  EXPECT_LT(pf::CreateExclusive(temp), 0);  // the name is taken
  ASSERT_EQ(pf::Write(fd, "new\r\nline\n", 10), 10);  // bytes as given, no line-end translation
  ASSERT_TRUE(pf::Sync(fd));
  ASSERT_TRUE(pf::Close(fd));
  ASSERT_TRUE(pf::Rename(temp, target));  // replaces the existing file
  EXPECT_EQ(ReadFile(target), "new\r\nline\n");
  std::vector<std::string> names;
  ASSERT_TRUE(pf::ListFolder(TempDir(), &names));
  EXPECT_EQ(names, std::vector<std::string>{"scene.kscn"});
  EXPECT_FALSE(pf::ListFolder(TempDir() + "/none", &names));
  std::string why;
  EXPECT_LT(pf::OpenForReading(TempDir(), &why), 0);  // a folder is no file to read
  EXPECT_EQ(why, "not a regular file");
}

TEST_F(PlatformTest, OffsetsPast4GiBAreKept) {
  const std::string path = WriteFile("big.bin", "");
  const int64_t far = (int64_t(1) << 32) + 12345;
  std::error_code ec;
  fs::resize_file(path, static_cast<uintmax_t>(far + 4), ec);
  if (ec) GTEST_SKIP() << "no sparse file of " << far << " bytes here";
  const int fd = pf::OpenForWriting(path, true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pf::Seek(fd, far, SEEK_SET), far);
  ASSERT_EQ(pf::Write(fd, "MARK", 4), 4);
  EXPECT_EQ(pf::Seek(fd, 0, SEEK_END), far + 4);
  pf::FileStatus st;
  ASSERT_TRUE(pf::StatusOf(fd, &st));
  EXPECT_EQ(st.size, far + 4);
  char back[4] = {};
  EXPECT_EQ(pf::Seek(fd, far, SEEK_SET), far);
  ASSERT_EQ(pf::Read(fd, back, 4), 4);
  EXPECT_EQ(std::string(back, 4), "MARK");
  EXPECT_TRUE(pf::Close(fd));
  fs::remove(path);
}

TEST_F(PlatformTest, TheLockIsExclusiveUntilReleased) {
  const std::string path = TempDir() + "/settings.lock";
  const int first = pf::OpenLockFile(path), second = pf::OpenLockFile(path);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  bool busy = true;
  ASSERT_TRUE(pf::TryLock(first, &busy));
  EXPECT_FALSE(pf::TryLock(second, &busy));
  EXPECT_TRUE(busy);  // held, not an error
  pf::Unlock(first);
  EXPECT_TRUE(pf::TryLock(second, &busy));
  pf::Unlock(second);
  pf::Close(first);
  pf::Close(second);
}

TEST_F(PlatformTest, Utf8NamesAreKeptInEveryFileOperation) {
  const std::string folder = TempDir() + "/dossier \xc3\xa9t\xc3\xa9";         // "dossier été"
  const std::string name = "\xe6\xa8\xa1\xe5\x9e\x8b \xc3\xbc.obj";        // "模型 ü.obj"
  const std::string path = folder + "/" + name;
  ASSERT_TRUE(GeFCreateDir(Filename(folder.c_str())));
  {
    BaseFile* file = BaseFile::Alloc();
    ASSERT_TRUE(file->Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(file->WriteBytes("v 0 0 0\r\n", 9));
    ASSERT_TRUE(file->Close());
    BaseFile::Free(file);
  }
  // Stored under the UTF-8 name itself, not a name in another code page.
  EXPECT_TRUE(fs::exists(fs::u8path(path)));
  EXPECT_TRUE(GeFExist(Filename(path.c_str())));
  LocalFileTime when;
  EXPECT_TRUE(GeGetFileTime(Filename(path.c_str()), GE_FILETIME_MODIFIED, &when));
  EXPECT_EQ(when.size, 9);
  BrowseFiles* browse = BrowseFiles::Alloc();
  ASSERT_TRUE(browse->Init(Filename(folder.c_str())));
  ASSERT_TRUE(browse->GetNext());
  EXPECT_EQ(browse->GetFilename().GetString().Std(), name);
  EXPECT_EQ(browse->GetSize(), 9);
  EXPECT_FALSE(browse->GetNext());
  BrowseFiles::Free(browse);
  {
    BaseFile* file = BaseFile::Alloc();
    ASSERT_TRUE(file->Open(Filename(path.c_str()), FILEOPEN_READ));
    char bytes[9];
    ASSERT_EQ(file->ReadBytes(bytes, 9), 9);
    EXPECT_EQ(std::string(bytes, 9), "v 0 0 0\r\n");  // the line end as written
    BaseFile::Free(file);
  }
  EXPECT_TRUE(GeFKill(Filename(folder.c_str()), GE_FKILL_DIRECTORY | GE_FKILL_RECURSIVE));
  EXPECT_FALSE(fs::exists(fs::u8path(folder)));
}

TEST(PlatformTimeTest, DatesPast2038Convert) {
  struct Case {
    int64_t seconds;
    int year, month, day, hour;
  };
  const Case cases[] = {
      {0, 1970, 1, 1, 0},
      {2147483647, 2038, 1, 19, 3},   // the last second of a 32-bit time_t
      {2147483648, 2038, 1, 19, 3},
      {4102444800, 2100, 1, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    struct tm utc = {};
    ASSERT_TRUE(pf::UtcTime(c.seconds, &utc));
    EXPECT_EQ(utc.tm_year + 1900, c.year);
    EXPECT_EQ(utc.tm_mon + 1, c.month);
    EXPECT_EQ(utc.tm_mday, c.day);
    EXPECT_EQ(utc.tm_hour, c.hour);
  }
}

TEST(PlatformPathTest, AbsolutePathsOfTheSystem) {
  struct Case {
    const char* path;
    bool absolute;
  };
  const Case cases[] = {
      {"", false}, {"a/b", false}, {"./a", false},
#ifdef _WIN32
      {"C:\\models", true}, {"c:/models", true}, {"\\\\server\\share", true}, {"C:models", false},
#else
      {"/home/a", true}, {"/", true}, {"C:\\models", false},
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(pf::IsAbsolutePath(c.path), c.absolute) << c.path;
}

// The variable that names the folder for temporary files.
#ifdef _WIN32
constexpr const char* kTempVariable = "TMP";
#else
constexpr const char* kTempVariable = "TMPDIR";
#endif

TEST_F(PlatformTest, TemporaryFoldersAreNewAndUniqueAndAMissingParentIsReported) {
  const char* old = std::getenv(kTempVariable);
  const std::string saved = old ? old : "";
  SetEnv(kTempVariable, (TempDir() + "/none").c_str());
  std::string where;
  errno = 0;
  EXPECT_EQ(pf::MakeTemporaryFolder("kv-", &where), "");
  EXPECT_EQ(errno, ENOENT);
  EXPECT_NE(where.find("none"), std::string::npos) << where;
  EXPECT_NE(where.find("kv-"), std::string::npos) << where;

  SetEnv(kTempVariable, TempDir().c_str());
  std::vector<std::string> made;
  for (int i = 0; i < 20; ++i) made.push_back(pf::MakeTemporaryFolder("kv-", &where));
  SetEnv(kTempVariable, old ? saved.c_str() : nullptr);
  std::vector<std::string> names;
  ASSERT_TRUE(pf::ListFolder(TempDir(), &names));
  EXPECT_EQ(names.size(), made.size());
  for (const std::string& path : made) {
    SCOPED_TRACE(path);
    pf::FileStatus st;
    ASSERT_TRUE(pf::Status(path, &st));
    EXPECT_TRUE(st.isDir);
    EXPECT_EQ(fs::u8path(path).parent_path(), fs::u8path(TempDir()));
    EXPECT_EQ(fs::u8path(path).filename().u8string().rfind("kv-", 0), 0u);
    EXPECT_TRUE(pf::RemoveFolder(path));
  }
}

// What the output copies handed over, per stream.
std::mutex g_copiedMutex;
std::string g_copied[3];

void Collect(int stream, const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(g_copiedMutex);
  if (stream == 1 || stream == 2) g_copied[stream].append(data, size);
}

TEST(PlatformOutputCopyTest, BothStreamsAreCopiedInOrderUntilStopped) {
  for (std::string& copied : g_copied) copied.clear();
  ASSERT_TRUE(pf::StartOutputCopy(Collect));
  errno = 0;
  EXPECT_FALSE(pf::StartOutputCopy(Collect));
  EXPECT_EQ(errno, EBUSY);
  std::fputs("[output copy] first line\n", stdout);
  std::fprintf(stderr, "[output copy] %s\n", "an error");
  const std::string big(10000, 'x');
  std::fwrite(big.data(), 1, big.size(), stdout);
  std::fputs("\n[output copy] last line\n", stdout);
  std::fputs("\r[output copy] progress", stderr);
  std::fflush(stderr);
  pf::StopOutputCopy();
  pf::StopOutputCopy();  // once is enough; again does nothing
  std::fputs("[output copy] after the copy\n", stdout);
  std::fflush(stdout);
  std::fputs("\n", stderr);
  {
    std::lock_guard<std::mutex> lock(g_copiedMutex);
    EXPECT_EQ(g_copied[1], "[output copy] first line\n" + big + "\n[output copy] last line\n");
    EXPECT_EQ(g_copied[2], "[output copy] an error\n\r[output copy] progress");
    g_copied[1].clear();
  }
  // A copy starts again after a stop.
  ASSERT_TRUE(pf::StartOutputCopy(Collect));
  std::fputs("[output copy] again\n", stdout);
  pf::StopOutputCopy();
  std::lock_guard<std::mutex> lock(g_copiedMutex);
  EXPECT_EQ(g_copied[1], "[output copy] again\n");
}

}  // namespace

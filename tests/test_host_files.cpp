// Host files: name arithmetic, byte access with its error codes and injected faults,
// existence, deletion, folder creation and folder browsing.
#include <filesystem>
#include <string>
#include <vector>

#include "c4d_file.h"
#include "c4d_memory.h"
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

// No write bit for anyone: a read-only file (the read-only attribute on Windows).
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

// --- Filename ------------------------------------------------------------------

struct PartsCase {
  const char* path;
  const char* directory;
  const char* file;
  const char* suffix;
};

const PartsCase kParts[] = {
    {"a/b/c.obj", "a/b", "c.obj", "obj"},
    {"c.obj", "", "c.obj", "obj"},
    {"/c.obj", "/", "c.obj", "obj"},
    {"/x/y/model.tar.gz", "/x/y", "model.tar.gz", "gz"},
    {"scenes.v2/model", "scenes.v2", "model", ""},  // a dot in a folder name is no suffix
    {"a/.profile", "a", ".profile", ""},
    {"a/name.", "a", "name.", ""},
    {"a/b/", "a/b", "", ""},
    {"", "", "", ""},
#ifdef _WIN32
    // Windows names: backslashes and drive letters, mixed with slashes.
    {"C:\\models\\robot.obj", "C:\\models", "robot.obj", "obj"},
    {"C:\\a/b\\c.obj", "C:\\a/b", "c.obj", "obj"},
    {"D:\\scenes.v2\\model", "D:\\scenes.v2", "model", ""},
    {"\\\\server\\share\\m.mtl", "\\\\server\\share", "m.mtl", "mtl"},
#else
    {"odd\\name.obj", "", "odd\\name.obj", "obj"},  // a backslash is a character of the name
#endif
};

TEST(FilenameTest, DirectoryFileAndSuffix) {
  for (const PartsCase& c : kParts) {
    SCOPED_TRACE(c.path);
    const Filename name(c.path);
    EXPECT_EQ(name.GetDirectory().GetString().Std(), c.directory);
    EXPECT_EQ(name.GetFile().GetString().Std(), c.file);
    EXPECT_EQ(name.GetFileString().Std(), c.file);
    EXPECT_EQ(name.GetSuffix().Std(), c.suffix);
  }
}

TEST(FilenameTest, CheckSuffixIgnoresCaseAndNeedsTheWholeSuffix) {
  struct Case {
    const char* path;
    const char* suffix;
    bool match;
  };
  const Case cases[] = {
      {"model.OBJ", "obj", true},    {"model.obj", "OBJ", true},   {"dir/Model.Mtl", "mTL", true},
      {"model.objx", "obj", false},  {"model.ob", "obj", false},   {"scene.obj/model", "obj", false},
      {"model", "obj", false},       {"obj", "obj", false},        {"a/b.tar.gz", "tar", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " / " + c.suffix);
    EXPECT_EQ(Filename(c.path).CheckSuffix(String(c.suffix)), c.match);
  }
}

TEST(FilenameTest, SetSuffixReplacesOrAdds) {
  struct Case {
    const char* path;
    const char* suffix;
    const char* result;
  };
  const Case cases[] = {
      {"a/b/c.obj", "mtl", "a/b/c.mtl"},
      {"a/b/c", "mtl", "a/b/c.mtl"},
      {"scenes.v2/model", "log", "scenes.v2/model.log"},
      {"c.tar.gz", "log", "c.tar.log"},
      {"c.obj", "", "c"},
      {".profile", "bak", ".profile.bak"},
      {"a/", "obj", "a/"},  // no file part to carry it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " + " + c.suffix);
    Filename name(c.path);
    name.SetSuffix(String(c.suffix));
    EXPECT_EQ(name.GetString().Std(), c.result);
  }
  Filename cleared("dir.d/file.mdd");
  cleared.ClearSuffix();
  EXPECT_EQ(cleared.GetString().Std(), "dir.d/file");
  cleared.ClearSuffix();
  EXPECT_EQ(cleared.GetString().Std(), "dir.d/file");
}

TEST(FilenameTest, JoinUsesExactlyOneSeparator) {
  struct Case {
    const char* left;
    const char* right;
    const char* result;
  };
  const Case cases[] = {
      {"a", "b", "a/b"},     {"a/", "b", "a/b"},          {"a", "/b", "a/b"},  {"a//", "//b", "a/b"},
      {"", "b.obj", "b.obj"}, {"a", "", "a"},             {"/", "b", "/b"},    {"a/b", "c/d.obj", "a/b/c/d.obj"},
#ifdef _WIN32
      {"C:\\models\\", "robot.obj", "C:\\models/robot.obj"}, {"C:\\models", "\\robot.obj", "C:\\models/robot.obj"},
#else
      {"a\\", "b", "a\\/b"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.left) + " + " + c.right);
    EXPECT_EQ((Filename(c.left) + Filename(c.right)).GetString().Std(), c.result);
  }
  Filename grown("root");
  grown += Filename("res");
  grown += Filename("icon.tif");
  EXPECT_EQ(grown.GetString().Std(), "root/res/icon.tif");
}

TEST(FilenameTest, SetFileAndSetDirectoryKeepTheOtherPart) {
  Filename name("a/b/c.obj");
  name.SetFile(Filename("d.mtl"));
  EXPECT_EQ(name.GetString().Std(), "a/b/d.mtl");
  name.SetDirectory(Filename("x/y/"));
  EXPECT_EQ(name.GetString().Std(), "x/y/d.mtl");

  Filename bare("c.obj");
  bare.SetFile(Filename("d"));
  EXPECT_EQ(bare.GetString().Std(), "d");
  bare.SetDirectory(Filename("out"));
  EXPECT_EQ(bare.GetString().Std(), "out/d");
}

// --- BaseFile --------------------------------------------------------------------

// A host file freed at the end of the scope, whatever the test does.
struct ScopedFile {
  BaseFile* f = BaseFile::Alloc();
  ~ScopedFile() { BaseFile::Free(f); }
  BaseFile* operator->() const { return f; }
};

class BaseFileTest : public HostTest {
 protected:
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }
};

TEST_F(BaseFileTest, WriteReadSeekRoundTrip) {
  const std::string path = Path("data.bin");
  {
    ScopedFile out;
    ASSERT_NE(out.f, nullptr);
    ASSERT_TRUE(out->Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(out->WriteBytes("0123456789", 10));
    ASSERT_TRUE(out->WriteBytes("abcdef", 6));
    EXPECT_EQ(out->GetPosition(), 16);
    EXPECT_EQ(out->GetLength(), 16);
    EXPECT_TRUE(out->Close());
  }
  EXPECT_EQ(ReadFile(path), "0123456789abcdef");

  ScopedFile in;
  ASSERT_TRUE(in->Open(Filename(path.c_str()), FILEOPEN_READ));
  EXPECT_EQ(in->GetLength(), 16);
  char buf[32] = {};
  EXPECT_EQ(in->ReadBytes(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(in->GetPosition(), 4);

  ASSERT_TRUE(in->Seek(6));  // relative by default
  EXPECT_EQ(in->GetPosition(), 10);
  EXPECT_EQ(in->ReadBytes(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");

  ASSERT_TRUE(in->Seek(-9, FILESEEK_RELATIVE));
  EXPECT_EQ(in->ReadBytes(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "45");

  ASSERT_TRUE(in->Seek(14, FILESEEK_START));
  EXPECT_EQ(in->ReadBytes(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(in->GetError(), FILEERROR_NONE);
}

TEST_F(BaseFileTest, ReadPastEndReturnsWhatThereIsAndSetsFileEnd) {
  const std::string path = WriteFile("short.bin", "xyz");
  ScopedFile in;
  ASSERT_TRUE(in->Open(Filename(path.c_str())));
  char buf[16] = {};
  EXPECT_EQ(in->ReadBytes(buf, 10), 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(in->GetError(), FILEERROR_FILE_END);
  EXPECT_EQ(in->GetPosition(), 3);
  EXPECT_EQ(in->ReadBytes(buf, 1), 0);
  EXPECT_EQ(in->GetError(), FILEERROR_FILE_END);

  // A tentative read reports no error for a short result.
  ScopedFile tryFile;
  ASSERT_TRUE(tryFile->Open(Filename(path.c_str())));
  EXPECT_EQ(tryFile->ReadBytes(buf, 10, TRUE), 3);
  EXPECT_EQ(tryFile->GetError(), FILEERROR_NONE);
}

TEST_F(BaseFileTest, SeekBeforeStartFailsAndKeepsThePosition) {
  const std::string path = WriteFile("seek.bin", "0123456789");
  ScopedFile in;
  ASSERT_TRUE(in->Open(Filename(path.c_str())));
  ASSERT_TRUE(in->Seek(5, FILESEEK_START));
  EXPECT_FALSE(in->Seek(-6, FILESEEK_RELATIVE));
  EXPECT_EQ(in->GetError(), FILEERROR_SEEK);
  EXPECT_EQ(in->GetPosition(), 5);
  EXPECT_FALSE(in->Seek(-1, FILESEEK_START));
  EXPECT_EQ(in->GetPosition(), 5);
  char c = 0;
  EXPECT_EQ(in->ReadBytes(&c, 1), 1);
  EXPECT_EQ(c, '5');
}

TEST_F(BaseFileTest, OpenModesTreatExistingBytesAsDocumented) {
  const std::string path = WriteFile("modes.bin", "ABCDEFGH");
  {
    ScopedFile rw;  // keeps the bytes, overwrites in place
    ASSERT_TRUE(rw->Open(Filename(path.c_str()), FILEOPEN_READWRITE));
    EXPECT_EQ(rw->GetLength(), 8);
    ASSERT_TRUE(rw->Seek(2, FILESEEK_START));
    ASSERT_TRUE(rw->WriteBytes("cd", 2));
    char buf[4] = {};
    EXPECT_EQ(rw->ReadBytes(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "EF");
  }
  EXPECT_EQ(ReadFile(path), "ABcdEFGH");
  {
    ScopedFile app;  // writes go after the existing bytes
    ASSERT_TRUE(app->Open(Filename(path.c_str()), FILEOPEN_APPEND));
    EXPECT_EQ(app->GetPosition(), 8);
    ASSERT_TRUE(app->WriteBytes("++", 2));
  }
  EXPECT_EQ(ReadFile(path), "ABcdEFGH++");
  {
    ScopedFile w;  // truncates
    ASSERT_TRUE(w->Open(Filename(path.c_str()), FILEOPEN_WRITE));
    EXPECT_EQ(w->GetLength(), 0);
    ASSERT_TRUE(w->WriteBytes("z", 1));
  }
  EXPECT_EQ(ReadFile(path), "z");

  const std::string created = Path("created.bin");
  ScopedFile make;  // READWRITE creates a missing file
  ASSERT_TRUE(make->Open(Filename(created.c_str()), FILEOPEN_READWRITE));
  EXPECT_EQ(make->GetLength(), 0);
  EXPECT_TRUE(GeFExist(Filename(created.c_str())));
}

TEST_F(BaseFileTest, OpenFailuresSetOpenErrorAndShowTheDialogOnlyWhenAsked) {
  const std::string missing = Path("missing.obj");
  struct Case {
    LONG dialog;
    bool box;
  };
  const Case cases[] = {{FILEDIALOG_NONE, false}, {FILEDIALOG_IGNOREOPEN, false}, {FILEDIALOG_ANY, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    host::ClearUserLog();
    ScopedFile f;
    EXPECT_FALSE(f->Open(Filename(missing.c_str()), FILEOPEN_READ, c.dialog));
    EXPECT_EQ(f->GetError(), FILEERROR_OPEN);
    if (c.box) {
      ASSERT_EQ(host::MessageBoxes().size(), 1u);
      EXPECT_EQ(host::MessageBoxes()[0], "Cannot open the file\n" + missing);
    } else {
      EXPECT_TRUE(host::MessageBoxes().empty());
    }
  }
}

TEST_F(BaseFileTest, FoldersAndEmptyNamesDoNotOpen) {
  const LONG modes[] = {FILEOPEN_READ, FILEOPEN_WRITE, FILEOPEN_READWRITE, FILEOPEN_APPEND};
  for (LONG mode : modes) {
    SCOPED_TRACE(mode);
    ScopedFile f;
    EXPECT_FALSE(f->Open(Filename(TempDir().c_str()), mode));
    EXPECT_EQ(f->GetError(), FILEERROR_OPEN);
    EXPECT_FALSE(f->Open(Filename(""), mode));
    EXPECT_EQ(f->GetError(), FILEERROR_OPEN);
  }
  // Writing into a folder that does not exist.
  ScopedFile f;
  EXPECT_FALSE(f->Open(Filename((TempDir() + "/no/such/out.obj").c_str()), FILEOPEN_WRITE));
  EXPECT_EQ(f->GetError(), FILEERROR_OPEN);
}

TEST_F(BaseFileTest, InjectedOpenFailureHitsOnlyTheNextOpen) {
  const std::string path = WriteFile("present.bin", "data");
  ScopedFile f;
  host::FailNextOpen();
  EXPECT_FALSE(f->Open(Filename(path.c_str())));
  EXPECT_EQ(f->GetError(), FILEERROR_OPEN);
  ASSERT_TRUE(f->Open(Filename(path.c_str())));
  EXPECT_EQ(f->GetError(), FILEERROR_NONE);
  EXPECT_EQ(f->GetLength(), 4);
}

TEST_F(BaseFileTest, InjectedReadFailureDeliversTheBudgetThenFails) {
  const std::string path = WriteFile("twenty.bin", "abcdefghijklmnopqrst");
  ScopedFile in;
  ASSERT_TRUE(in->Open(Filename(path.c_str())));
  host::FailReadsAfter(6);
  char buf[32] = {};
  EXPECT_EQ(in->ReadBytes(buf, 4), 4);
  EXPECT_EQ(in->GetError(), FILEERROR_NONE);
  EXPECT_EQ(in->ReadBytes(buf + 4, 4), 2);
  EXPECT_EQ(in->GetError(), FILEERROR_READ);  // data remains: not the end of the file
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(in->ReadBytes(buf, 1), 0);
  EXPECT_EQ(in->GetError(), FILEERROR_READ);

  host::FailReadsAfter(-1);
  EXPECT_EQ(in->ReadBytes(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "ghi");  // nothing was skipped by the failure
}

TEST_F(BaseFileTest, InjectedReadBudgetBeyondTheDataStillEndsWithFileEnd) {
  const std::string path = WriteFile("three.bin", "abc");
  ScopedFile in;
  ASSERT_TRUE(in->Open(Filename(path.c_str())));
  host::FailReadsAfter(100);
  char buf[8] = {};
  EXPECT_EQ(in->ReadBytes(buf, 8), 3);
  EXPECT_EQ(in->GetError(), FILEERROR_FILE_END);
}

TEST_F(BaseFileTest, WriteFailingAfterNBytesSavesNothing) {
  const std::string path = Path("full.bin");
  {
    ScopedFile out;
    ASSERT_TRUE(out->Open(Filename(path.c_str()), FILEOPEN_WRITE));
    host::FailWritesAfter(7);
    EXPECT_TRUE(out->WriteBytes("abcd", 4));
    EXPECT_EQ(out->GetError(), FILEERROR_NONE);
    EXPECT_FALSE(out->WriteBytes("efghijkl", 8));
    EXPECT_EQ(out->GetError(), FILEERROR_WRITE);
    EXPECT_FALSE(out->WriteBytes("m", 1));
    EXPECT_EQ(out->GetPosition(), 7);
    EXPECT_FALSE(out->Close());  // the incomplete file is not put in place
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(TempDir()), fs::directory_iterator()), 0);
}

TEST_F(BaseFileTest, WriteBudgetOfZeroWritesNothing) {
  const std::string path = Path("zero.bin");
  {
    ScopedFile out;
    ASSERT_TRUE(out->Open(Filename(path.c_str()), FILEOPEN_WRITE));
    host::FailWritesAfter(0);
    EXPECT_FALSE(out->WriteBytes("abc", 3));
    EXPECT_EQ(out->GetError(), FILEERROR_WRITE);
    EXPECT_TRUE(out->WriteBytes("abc", 0));  // nothing to write cannot fail
  }
  EXPECT_EQ(ReadFile(path), "");
}

TEST_F(BaseFileTest, DeviceErrorsMapToReadAndWriteCodes) {
  const std::string path = WriteFile("modes.bin", "content");
  {
    ScopedFile in;  // a file opened for reading cannot be written
    ASSERT_TRUE(in->Open(Filename(path.c_str()), FILEOPEN_READ));
    EXPECT_FALSE(in->WriteBytes("x", 1));
    EXPECT_EQ(in->GetError(), FILEERROR_WRITE);
  }
  {
    ScopedFile out;  // and one opened for writing cannot be read: an error, not the end
    ASSERT_TRUE(out->Open(Filename(path.c_str()), FILEOPEN_APPEND));
    char c;
    EXPECT_EQ(out->ReadBytes(&c, 1), 0);
    EXPECT_EQ(out->GetError(), FILEERROR_READ);
  }
  EXPECT_EQ(ReadFile(path), "content");

}

TEST_F(BaseFileTest, UnopenedFileRefusesEveryTransfer) {
  ScopedFile f;
  char buf[4];
  EXPECT_EQ(f->ReadBytes(buf, 4), 0);
  EXPECT_EQ(f->GetError(), FILEERROR_READ);
  EXPECT_FALSE(f->WriteBytes("ab", 2));
  EXPECT_EQ(f->GetError(), FILEERROR_WRITE);
  EXPECT_FALSE(f->Seek(0, FILESEEK_START));
  EXPECT_EQ(f->GetError(), FILEERROR_SEEK);
  EXPECT_EQ(f->GetLength(), 0);
  EXPECT_EQ(f->GetPosition(), 0);
  EXPECT_TRUE(f->Close());
}

TEST_F(BaseFileTest, ReopeningClosesThePreviousFileAndClearsTheError) {
  const std::string first = WriteFile("first.bin", "1111");
  const std::string second = WriteFile("second.bin", "22");
  ScopedFile f;
  EXPECT_FALSE(f->Open(Filename(Path("none").c_str())));
  ASSERT_TRUE(f->Open(Filename(first.c_str())));
  EXPECT_EQ(f->GetError(), FILEERROR_NONE);
  ASSERT_TRUE(f->Open(Filename(second.c_str())));
  EXPECT_EQ(f->GetLength(), 2);
  char buf[4] = {};
  EXPECT_EQ(f->ReadBytes(buf, 4), 2);
  EXPECT_EQ(std::string(buf, 2), "22");
}

TEST_F(BaseFileTest, AllocationFailureGivesNull) {
  host::FailAllocationAt(1);
  BaseFile* f = BaseFile::Alloc();
  EXPECT_EQ(f, nullptr);
  BaseFile::Free(f);  // a null pointer is accepted
  EXPECT_EQ(f, nullptr);
}

// --- existence, deletion, folders ---------------------------------------------

class FileSystemTest : public HostTest {};

TEST_F(FileSystemTest, ExistenceTellsFilesFromFolders) {
  const std::string file = WriteFile("f.txt", "x");
  const std::string dir = TempDir() + "/d";
  fs::create_directory(dir);
  struct Case {
    std::string path;
    bool asFile, asDir;
  };
  const Case cases[] = {{file, true, false}, {dir, false, true}, {TempDir() + "/none", false, false}, {"", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(GeFExist(Filename(c.path.c_str())), c.asFile);
    EXPECT_EQ(GeFExist(Filename(c.path.c_str()), TRUE), c.asDir);
  }
}

TEST_F(FileSystemTest, ReadOnlyFileIsDeletedOnlyWithForce) {
  const std::string file = WriteFile("locked.mdd", "cache");
  fs::permissions(file, kReadOnly);
  EXPECT_FALSE(GeFKill(Filename(file.c_str())));
  EXPECT_TRUE(fs::exists(file));
  EXPECT_TRUE(GeFKill(Filename(file.c_str()), GE_FKILL_FORCE));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(GeFKill(Filename(file.c_str()), GE_FKILL_FORCE));  // already gone

  const std::string writable = WriteFile("plain.obj", "v 0 0 0\n");
  EXPECT_TRUE(GeFKill(Filename(writable.c_str())));
  EXPECT_FALSE(fs::exists(writable));
}

TEST_F(FileSystemTest, FoldersNeedTheDirectoryFlagAndContentNeedsRecursion) {
  const std::string empty = TempDir() + "/empty";
  fs::create_directory(empty);
  EXPECT_FALSE(GeFKill(Filename(empty.c_str())));
  EXPECT_TRUE(fs::exists(empty));
  EXPECT_TRUE(GeFKill(Filename(empty.c_str()), GE_FKILL_DIRECTORY));
  EXPECT_FALSE(fs::exists(empty));

  const std::string tree = TempDir() + "/tree";
  WriteFile("tree/a.obj", "a");
  WriteFile("tree/sub/b.mtl", "b");
  WriteFile("tree/sub/deeper/.hidden", "c");
  EXPECT_FALSE(GeFKill(Filename(tree.c_str()), GE_FKILL_DIRECTORY));
  EXPECT_TRUE(fs::exists(tree + "/sub/b.mtl"));
  EXPECT_TRUE(GeFKill(Filename(tree.c_str()), GE_FKILL_DIRECTORY | GE_FKILL_RECURSIVE));
  EXPECT_FALSE(fs::exists(tree));
}

TEST_F(FileSystemTest, RecursiveDeletionHonoursReadOnlyFilesInside) {
  const std::string tree = TempDir() + "/tree";
  const std::string locked = WriteFile("tree/sub/locked.txt", "x");
  fs::permissions(locked, kReadOnly);
  EXPECT_FALSE(GeFKill(Filename(tree.c_str()), GE_FKILL_DIRECTORY | GE_FKILL_RECURSIVE));
  EXPECT_TRUE(fs::exists(locked));
  EXPECT_TRUE(GeFKill(Filename(tree.c_str()), GE_FKILL_DIRECTORY | GE_FKILL_RECURSIVE | GE_FKILL_FORCE));
  EXPECT_FALSE(fs::exists(tree));
}

TEST_F(FileSystemTest, RecursiveDeletionDoesNotFollowLinks) {
  const std::string outside = WriteFile("keep/kept.txt", "keep");
  const std::string tree = TempDir() + "/tree";
  fs::create_directory(tree);
  std::error_code ec;
  fs::create_directory_symlink(TempDir() + "/keep", tree + "/link", ec);
  if (ec) GTEST_SKIP() << "no folder links here: " << ec.message();
  EXPECT_TRUE(GeFKill(Filename(tree.c_str()), GE_FKILL_DIRECTORY | GE_FKILL_RECURSIVE));
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(ReadFile(outside), "keep");
}

TEST_F(FileSystemTest, CreateDirNeedsTheParentAndAcceptsAnExistingFolder) {
  const std::string dir = TempDir() + "/out";
  EXPECT_TRUE(GeFCreateDir(Filename(dir.c_str())));
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_TRUE(GeFCreateDir(Filename(dir.c_str())));  // already there
  EXPECT_FALSE(GeFCreateDir(Filename((TempDir() + "/a/b").c_str())));
  EXPECT_FALSE(fs::exists(TempDir() + "/a"));
  const std::string file = WriteFile("plain", "x");
  EXPECT_FALSE(GeFCreateDir(Filename(file.c_str())));
  EXPECT_FALSE(GeFCreateDir(Filename("")));
}

// --- browsing ------------------------------------------------------------------

struct ScopedBrowse {
  BrowseFiles* b = BrowseFiles::Alloc();
  ~ScopedBrowse() { BrowseFiles::Free(b); }
  BrowseFiles* operator->() const { return b; }
};

struct Listed {
  std::string name;
  bool dir;
  LLONG size;
};

std::vector<Listed> List(const std::string& folder) {
  ScopedBrowse browse;
  std::vector<Listed> out;
  if (!browse.b) return out;
  browse->Init(Filename(folder.c_str()), BROWSEFILES_CALCSIZE);
  while (browse->GetNext()) {
    out.push_back({browse->GetFilename().GetString().Std(), browse->IsDir() != 0, browse->GetSize()});
    EXPECT_FALSE(browse->IsHidden());
  }
  EXPECT_FALSE(browse->GetNext());  // stays at the end
  return out;
}

TEST_F(FileSystemTest, BrowsingListsOneFolderInNameOrderWithoutHiddenEntries) {
  WriteFile("b.obj", "12345");
  WriteFile("a.mtl", "12");
  WriteFile("C.txt", "");
  WriteFile(".hidden", "secret");
  WriteFile(".cache/inner.obj", "x");
  WriteFile("sub/nested.obj", "nested");
  const std::vector<Listed> got = List(TempDir());
  ASSERT_EQ(got.size(), 4u);
  const Listed want[] = {{"C.txt", false, 0}, {"a.mtl", false, 2}, {"b.obj", false, 5}, {"sub", true, 0}};
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].name, want[i].name);
    EXPECT_EQ(got[i].dir, want[i].dir);
    if (!want[i].dir) {
      EXPECT_EQ(got[i].size, want[i].size);
    }
  }
}

TEST_F(FileSystemTest, BrowsingAMissingOrEmptyFolderYieldsNothing) {
  EXPECT_TRUE(List(TempDir() + "/none").empty());
  fs::create_directory(TempDir() + "/empty");
  EXPECT_TRUE(List(TempDir() + "/empty").empty());
  EXPECT_TRUE(List("").empty());
}

TEST_F(FileSystemTest, BrowsingRestartsOnInitAndIsEmptyBeforeTheFirstStep) {
  WriteFile("one.obj", "1");
  WriteFile("two.obj", "22");
  ScopedBrowse browse;
  ASSERT_NE(browse.b, nullptr);
  EXPECT_FALSE(browse->GetNext());  // not started
  browse->Init(Filename(TempDir().c_str()));
  EXPECT_FALSE(browse->GetFilename().Content());
  ASSERT_TRUE(browse->GetNext());
  EXPECT_EQ(browse->GetFilename().GetString().Std(), "one.obj");
  browse->Init(Filename(TempDir().c_str()));
  ASSERT_TRUE(browse->GetNext());
  EXPECT_EQ(browse->GetFilename().GetString().Std(), "one.obj");
  ASSERT_TRUE(browse->GetNext());
  EXPECT_EQ(browse->GetFilename().GetString().Std(), "two.obj");
  EXPECT_EQ(browse->GetSize(), 2);
  EXPECT_FALSE(browse->GetNext());
}

TEST_F(BaseFileTest, FileTimeTellsARewrittenFile) {
  const std::string path = WriteFile("t.bin", "abc");
  LocalFileTime first, again, after;
  ASSERT_TRUE(GeGetFileTime(Filename(path.c_str()), GE_FILETIME_MODIFIED, &first));
  EXPECT_EQ(first.size, 3);
  EXPECT_GE(first.year, 2000);
  ASSERT_TRUE(GeGetFileTime(Filename(path.c_str()), GE_FILETIME_MODIFIED, &again));
  EXPECT_EQ(first, again);
  WriteFile("t.bin", "abcdef");
  ASSERT_TRUE(GeGetFileTime(Filename(path.c_str()), GE_FILETIME_MODIFIED, &after));
  EXPECT_EQ(after.size, 6);
  EXPECT_NE(first, after);
  EXPECT_FALSE(GeGetFileTime(Filename((TempDir() + "/none.bin").c_str()), GE_FILETIME_MODIFIED, &after));
  EXPECT_FALSE(GeGetFileTime(Filename(TempDir().c_str()), GE_FILETIME_MODIFIED, &after));
  EXPECT_FALSE(GeGetFileTime(Filename(path.c_str()), GE_FILETIME_MODIFIED, nullptr));
}

TEST_F(BaseFileTest, OpensAndReadsAreCounted) {
  const std::string path = WriteFile("c.bin", std::string(100, 'x'));
  host::ResetFileAccesses();
  BaseFile* file = BaseFile::Alloc();
  ASSERT_TRUE(file->Open(Filename(path.c_str()), FILEOPEN_READ));
  char buffer[40];
  EXPECT_EQ(file->ReadBytes(buffer, 40), 40);
  EXPECT_EQ(file->ReadBytes(buffer, 40), 40);
  file->Close();
  BaseFile::Free(file);
  EXPECT_EQ(host::FileAccesses().opens, 1);
  EXPECT_EQ(host::FileAccesses().reads, 2);
  host::ResetFileAccesses();
  EXPECT_EQ(host::FileAccesses().opens, 0);
}

}  // namespace

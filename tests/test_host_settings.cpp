// World plug-in settings: storing by plug-in ID, persistence in the settings file,
// the folder it lives in, and damaged or unwritable files.

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "c4d_basecontainer.h"
#include "container_codec.h"
#include "host_fixture.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

constexpr LONG kImport = 1022494;
constexpr LONG kExport = 1022493;

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    SetEnv(name, value);
  }
  ~ScopedEnv() { SetEnv(m_name, m_old ? m_old->c_str() : nullptr); }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

BaseContainer Preset(LONG count, const char* path) {
  BaseContainer bc;
  bc.SetLong(1000, count);
  bc.SetLong(1001, 3);
  bc.SetString(1003, String(path));
  BaseContainer sub;
  sub.SetString(1, String("Last Used"));
  sub.SetReal(2, 0.5);
  bc.SetContainer(2000, sub);
  return bc;
}

class SettingsTest : public HostTest {
 protected:
  int ConsoleCount(const std::string& text) {
    int n = 0;
    for (const auto& line : host::ConsoleLines())
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }
};

TEST_F(SettingsTest, StoredContainersSurviveAReload) {
  EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
  EXPECT_FALSE(fs::exists(host::SettingsFile()));  // nothing is written by reading

  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(5, "/a"), FALSE));
  ASSERT_TRUE(SetWorldPluginData(kExport, Preset(4, "/b"), FALSE));
  EXPECT_EQ(host::SettingsFile(), TempDir() + "/settings/settings.kvs");
  ASSERT_TRUE(fs::exists(host::SettingsFile()));  // the folder was created on the first save

  host::UnloadSettings();
  const BaseContainer* import = GetWorldPluginData(kImport);
  const BaseContainer* exportData = GetWorldPluginData(kExport);
  ASSERT_TRUE(import);
  ASSERT_TRUE(exportData);
  EXPECT_EQ(*import, Preset(5, "/a"));
  EXPECT_EQ(exportData->GetString(1003), String("/b"));
  EXPECT_EQ(exportData->GetContainer(2000).GetReal(2), 0.5);
  EXPECT_EQ(GetWorldPluginData(4711), nullptr);
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(SettingsTest, AddMergesAndReplaceDiscards) {
  BaseContainer first;
  first.SetLong(1, 1);
  first.SetLong(2, 2);
  ASSERT_TRUE(SetWorldPluginData(kImport, first, FALSE));
  BaseContainer* stored = GetWorldPluginData(kImport);
  ASSERT_TRUE(stored);

  BaseContainer more;
  more.SetLong(2, 20);
  more.SetLong(3, 30);
  ASSERT_TRUE(SetWorldPluginData(kImport, more, TRUE));
  EXPECT_EQ(GetWorldPluginData(kImport), stored);  // the same container, changed in place
  EXPECT_EQ(stored->GetEntryCount(), 3);
  EXPECT_EQ(stored->GetLong(1), 1);
  EXPECT_EQ(stored->GetLong(2), 20);
  EXPECT_EQ(stored->GetLong(3), 30);
  EXPECT_EQ(stored->GetIndexId(1), 2);  // merged entries keep their place

  BaseContainer only;
  only.SetLong(9, 9);
  ASSERT_TRUE(SetWorldPluginData(kImport, only, FALSE));
  EXPECT_EQ(GetWorldPluginData(kImport), stored);
  EXPECT_EQ(stored->GetEntryCount(), 1);
  EXPECT_EQ(stored->GetLong(1, -1), -1);

  // add = TRUE with nothing stored yet stores the container as it is.
  ASSERT_TRUE(SetWorldPluginData(kExport, more, TRUE));
  EXPECT_EQ(*GetWorldPluginData(kExport), more);

  host::UnloadSettings();
  EXPECT_EQ(*GetWorldPluginData(kImport), only);
}

TEST_F(SettingsTest, StoringTheStoredContainerItself) {
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  BaseContainer* stored = GetWorldPluginData(kImport);
  stored->SetLong(1000, 2);
  EXPECT_TRUE(SetWorldPluginData(kImport, *stored, FALSE));
  EXPECT_TRUE(SetWorldPluginData(kImport, *stored, TRUE));
  // A sub-container of the stored one merged into it.
  EXPECT_TRUE(SetWorldPluginData(kImport, *stored->GetContainerInstance(2000), TRUE));
  host::UnloadSettings();
  const BaseContainer* back = GetWorldPluginData(kImport);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetLong(1000), 2);
  EXPECT_EQ(back->GetString(1), String("Last Used"));
  EXPECT_EQ(back->GetContainer(2000).GetReal(2), 0.5);
}

TEST_F(SettingsTest, StoringWhatIsStoredLeavesTheFileAlone) {
  // Every save replaces the file by a new one: its identity (the inode, or Windows' file
  // index) tells whether it was written.
  auto inode = [] {
    host::platform::FileStatus st;
    return host::platform::Status(host::SettingsFile(), &st) ? st.index : uint64_t{0};
  };
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  const uint64_t first = inode();
  ASSERT_NE(first, uint64_t{0});
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), TRUE));
  EXPECT_EQ(inode(), first);
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(2, "/x"), FALSE));
  const uint64_t changed = inode();
  EXPECT_NE(changed, first);

  // A change the full disk kept from the file is saved with the next store, even one
  // that changes nothing more.
  host::FailWritesAfter(10);
  EXPECT_FALSE(SetWorldPluginData(kExport, Preset(3, "/y"), FALSE));
  host::ResetFaults();
  EXPECT_EQ(inode(), changed);
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(2, "/x"), FALSE));
  host::UnloadSettings();
  ASSERT_TRUE(GetWorldPluginData(kExport));
  EXPECT_EQ(GetWorldPluginData(kExport)->GetLong(1000), 3);
}

TEST_F(SettingsTest, TheFolderComesFromTheFlagThenTheEnvironment) {
  const std::string root = TempDir();
  ScopedEnv home("HOME", (root + "/home").c_str());
  ScopedEnv xdg("XDG_CONFIG_HOME", (root + "/xdg").c_str());
  ScopedEnv dir("KELVANE_SETTINGS_DIR", (root + "/env").c_str());

  host::SetSettingsFolder(root + "/flag");
  EXPECT_EQ(host::SettingsFolder(), root + "/flag");
  EXPECT_EQ(host::SettingsFile(), root + "/flag/settings.kvs");
  host::SetSettingsFolder("");
  EXPECT_EQ(host::SettingsFolder(), root + "/env");
  {
    ScopedEnv unset("KELVANE_SETTINGS_DIR", nullptr);
#ifdef _WIN32
    // Windows keeps per-user settings under the roaming application data folder.
    ScopedEnv appData("APPDATA", (root + "\\appdata").c_str());
    EXPECT_EQ(host::SettingsFolder(), root + "\\appdata/kelvane");
#else
    EXPECT_EQ(host::SettingsFolder(), root + "/xdg/kelvane");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(host::SettingsFolder(), root + "/home/.config/kelvane");
    ScopedEnv empty("XDG_CONFIG_HOME", "");
    EXPECT_EQ(host::SettingsFolder(), root + "/home/.config/kelvane");
#endif
  }
  // Changing the folder reads the settings of the new one.
  host::SetSettingsFolder(root + "/one");
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(1, "/one"), FALSE));
  host::SetSettingsFolder(root + "/two");
  EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
  host::SetSettingsFolder(root + "/one");
  ASSERT_TRUE(GetWorldPluginData(kImport));
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/one"));
}

TEST_F(SettingsTest, AResetHostKeepsTheSettingsFolder) {
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(1, "/kept"), FALSE));
  const std::string folder = host::SettingsFolder();
  host::ResetHost();
  host::EchoConsole(false);
  EXPECT_EQ(host::SettingsFolder(), folder);
  ASSERT_TRUE(GetWorldPluginData(kImport));  // read again from the same file
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/kept"));
}

TEST_F(SettingsTest, ADamagedFileIsReportedOnceAndSetAside) {
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(5, "/a"), FALSE));
  const std::string path = host::SettingsFile();
  const std::string good = ReadFile(path);
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  std::string flipped = good;
  flipped[flipped.size() - 3] ^= 0x10;
  const Case cases[] = {
      {"garbage", "this is not a settings file at all", "wrong file signature"},
      {"empty", "", "shorter than its header"},
      {"truncated", good.substr(0, good.size() - 1), "length field"},
      {"flipped byte", flipped, "checksum"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path + ".damaged");
    WriteFile("settings/settings.kvs", c.bytes);
    host::UnloadSettings();
    host::ClearConsole();
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
    EXPECT_EQ(GetWorldPluginData(kExport), nullptr);
    host::LoadSettings();  // the file is gone: nothing more to report
    const std::string err = testing::internal::GetCapturedStderr();

    ASSERT_EQ(host::ConsoleLines().size(), 1u);
    const std::string& line = host::ConsoleLines()[0];
    EXPECT_EQ(line, "Kelvane host: settings file '" + path + "' is damaged (" +
                        line.substr(line.find('(') + 1, line.find(')') - line.find('(') - 1) + "); kept as '" + path +
                        ".damaged', starting with empty settings");
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    EXPECT_EQ(err, line + "\n");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFile(path + ".damaged"), c.bytes);

    // The next save writes a good file again.
    ASSERT_TRUE(SetWorldPluginData(kExport, Preset(2, "/new"), FALSE));
    host::UnloadSettings();
    ASSERT_TRUE(GetWorldPluginData(kExport));
    EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
    EXPECT_EQ(host::ConsoleLines().size(), 1u);
  }
}

TEST_F(SettingsTest, EveryTruncationOfARealFileIsHandled) {
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(5, "/a"), FALSE));
  ASSERT_TRUE(SetWorldPluginData(kExport, Preset(4, "/b"), FALSE));
  const std::string path = host::SettingsFile();
  const std::string good = ReadFile(path);
  for (size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    WriteFile("settings/settings.kvs", good.substr(0, n));
    host::UnloadSettings();
    host::ClearConsole();
    testing::internal::CaptureStderr();
    host::LoadSettings();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
    EXPECT_EQ(ConsoleCount("is damaged"), 1);
  }
}

TEST_F(SettingsTest, AValidFileOfTheWrongShapeIsDamaged) {
  BaseContainer wrong;
  wrong.SetLong(kImport, 5);  // a plug-in entry must be a container
  std::string error;
  fs::create_directories(host::SettingsFolder());
  ASSERT_TRUE(host::internal::WriteContainerFile(host::SettingsFile(), wrong, "KVSETTNG", &error)) << error;
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ConsoleCount("entry 1022494 is not a container"), 1);
}

TEST_F(SettingsTest, AnUnreadableFileIsReplacedByEmptySettings) {
  // A folder in place of the file: it cannot be read as one.
  fs::create_directories(host::SettingsFile());
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ConsoleCount("cannot be read (not a regular file)"), 1);
  EXPECT_NE(err.find("cannot be read"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(host::SettingsFile() + ".damaged"));
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
}

TEST_F(SettingsTest, AnUnwritableFolderIsReportedAndTheCallFails) {
  // The settings folder would have to be made inside a file.
  WriteFile("blocker", "x");
  host::SetSettingsFolder(TempDir() + "/blocker/settings");
  EXPECT_FALSE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  ASSERT_EQ(host::ConsoleLines().size(), 1u);
  EXPECT_NE(host::ConsoleLines()[0].find("cannot save the settings to '" + host::SettingsFile() + "'"),
            std::string::npos)
      << host::ConsoleLines()[0];
  // Reported once, while the folder stays unusable; the session still sees its values.
  EXPECT_FALSE(SetWorldPluginData(kExport, Preset(2, "/y"), FALSE));
  EXPECT_EQ(host::ConsoleLines().size(), 1u);
  ASSERT_TRUE(GetWorldPluginData(kImport));
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/x"));

  // Once writing works again, a later failure is reported anew.
  host::SetSettingsFolder(TempDir() + "/ok");
  EXPECT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  host::FailWritesAfter(10);  // the disk is full
  EXPECT_FALSE(SetWorldPluginData(kImport, Preset(3, "/z"), FALSE));
  EXPECT_EQ(ConsoleCount("cannot save the settings"), 2);
  // The session keeps its change through the next update, which reads the file again.
  EXPECT_FALSE(SetWorldPluginData(kExport, Preset(4, "/w"), FALSE));
  EXPECT_EQ(GetWorldPluginData(kImport)->GetLong(1000), 3);
  host::ResetFaults();
  // The file on disk still holds the last good save.
  host::UnloadSettings();
  ASSERT_TRUE(GetWorldPluginData(kImport));
  EXPECT_EQ(GetWorldPluginData(kImport)->GetLong(1000), 1);
}

TEST_F(SettingsTest, SettingsKeptInMemoryLeaveTheFileUntilWrittenOnPurpose) {
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(5, "/disk"), FALSE));
  const std::string path = host::SettingsFile();
  const std::string before = ReadFile(path);

  host::KeepSettingsInMemory(true);
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(6, "/memory"), FALSE));
  ASSERT_TRUE(SetWorldPluginData(kExport, Preset(1, "/memory"), FALSE));
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/memory"));
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(host::ConsoleLines().empty());
  host::UnloadSettings();  // forgotten: the file's values come back
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/disk"));
  EXPECT_EQ(GetWorldPluginData(kExport), nullptr);

  ASSERT_TRUE(SetWorldPluginData(kExport, Preset(2, "/kept"), FALSE));
  std::string error;
  ASSERT_TRUE(host::WriteSettings(&error)) << error;
  EXPECT_NE(ReadFile(path), before);
  host::UnloadSettings();
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/disk"));
  ASSERT_TRUE(GetWorldPluginData(kExport));
  EXPECT_EQ(GetWorldPluginData(kExport)->GetString(1003), String("/kept"));

  // Writing before anything was read keeps what the file holds.
  host::UnloadSettings();
  ASSERT_TRUE(host::WriteSettings(&error)) << error;
  host::UnloadSettings();
  ASSERT_TRUE(GetWorldPluginData(kExport));

  // A fresh host writes again.
  host::ResetHost();
  host::EchoConsole(false);
  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(7, "/after"), FALSE));
  host::UnloadSettings();
  EXPECT_EQ(GetWorldPluginData(kImport)->GetString(1003), String("/after"));
}

TEST_F(SettingsTest, ADamagedFileReadInMemoryStaysInPlaceUntilWritten) {
  const std::string path = WriteFile("settings/settings.kvs", "not settings");
  host::KeepSettingsInMemory(true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetWorldPluginData(kImport), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ConsoleCount("(the file is left as it is)"), 1);
  EXPECT_EQ(ReadFile(path), "not settings");
  EXPECT_FALSE(fs::exists(path + ".damaged"));

  ASSERT_TRUE(SetWorldPluginData(kImport, Preset(1, "/x"), FALSE));
  std::string error;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(host::WriteSettings(&error)) << error;
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(path + ".damaged"), "not settings");
  host::UnloadSettings();
  ASSERT_TRUE(GetWorldPluginData(kImport));

  // Writing where no file can be made fails with the reason.
  WriteFile("blocker", "x");
  host::SetSettingsFolder(TempDir() + "/blocker/settings");
  EXPECT_FALSE(host::WriteSettings(&error));
  EXPECT_NE(error.find("cannot save the settings to '" + host::SettingsFile() + "'"), std::string::npos) << error;
}

}  // namespace

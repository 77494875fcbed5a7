// Start-up of the plug-in in-process: resource loading, the registration table in
// order, the skip rules and the banner.
#include <filesystem>
#include <fstream>
#include <regex>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "main.h"
#include "plugin_ids.h"

namespace fs = std::filesystem;

namespace {

struct Row {
  LONG type;
  LONG id;
  const char* name;
  const char* icon;
};

// The registration table, in menu order.
const Row kTable[] = {
    {PLUGINTYPE_COMMAND, 1022493, "Export Wavefront OBJ...", "export.tif"},
    {PLUGINTYPE_COMMAND, 1022494, "Import Wavefront OBJ...", "import.tif"},
    {PLUGINTYPE_COMMAND, 1025200, "Import MDD Point Cache...", "mdd_mp.tif"},
    {PLUGINTYPE_OBJECT, 1028662, "MDD Cache Deformer", "mdd_deform.tif"},
    {PLUGINTYPE_COMMAND, 1025201, "Export MDD Point Cache...", "mdd_xp.tif"},
    {PLUGINTYPE_TAG, 1016210, "OBJ Groups", "GroupTag.tif"},
    {PLUGINTYPE_TAG, 1016229, "OBJ Regions", "RegionTag.tif"},
    {PLUGINTYPE_TAG, 1020082, "OBJ Export Mask", "dontXP.tif"},
    {PLUGINTYPE_COMMAND, 1023091, "Kelvane on the Web", "url.tif"},
    {PLUGINTYPE_COMMAND, 1023090, "Kelvane User Guide", "kvpdocs.tif"},
    {PLUGINTYPE_COMMAND, 1022534, "#$10--", ""},
    {PLUGINTYPE_COMMAND, 1022536, "#$30--", ""},
};

class PluginStartTest : public HostTest {
 protected:
  void TearDown() override {
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  // A copy of res/ whose string table lacks the given string names.
  std::string ResourceCopyWithout(const std::vector<std::string>& dropped) {
    const fs::path root = fs::path(TempDir()) / "plugin";
    fs::create_directories(root);
    fs::copy(SourceDir() + "/res", root / "res", fs::copy_options::recursive);
    const fs::path table = root / "res/strings_us/c4d_strings.str";
    std::ifstream in(table);
    std::string text, line;
    while (std::getline(in, line)) {
      bool drop = false;
      for (const auto& name : dropped)
        if (line.find("  " + name + " ") == 0) drop = true;
      if (!drop) text += line + "\n";
    }
    in.close();
    std::ofstream(table) << text;
    return root.string();
  }
};

TEST_F(PluginStartTest, MessagesAnswerAsTheHostExpects) {
  LONG priority = 0;
  EXPECT_TRUE(PluginMessage(C4DMSG_PRIORITY, &priority));
  EXPECT_EQ(priority, -1);
  EXPECT_TRUE(PluginMessage(C4DPL_ENDACTIVITY, nullptr));
  EXPECT_FALSE(PluginMessage(4711, nullptr));
  EXPECT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  EXPECT_EQ(GeLoadString(IDS_IMPORT_NAME), String("Import Wavefront OBJ..."));
}

TEST_F(PluginStartTest, MissingResourceFolderFailsSystemInitialisation) {
  host::SetPluginFolder(TempDir());
  EXPECT_FALSE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  EXPECT_NE(Slashed(host::ResourceError()).find(Slashed(TempDir()) + "/res"), std::string::npos) << host::ResourceError();
}

TEST_F(PluginStartTest, RegistersTheTableInOrderAndPrintsTheBanner) {
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  ASSERT_TRUE(PluginStart());

  const auto plugins = host::RegisteredPlugins();
  ASSERT_EQ(plugins.size(), std::size(kTable));
  for (size_t i = 0; i < plugins.size(); ++i) {
    SCOPED_TRACE(kTable[i].name);
    EXPECT_EQ(plugins[i]->GetID(), kTable[i].id);
    EXPECT_EQ(plugins[i]->GetPluginType(), kTable[i].type);
    EXPECT_EQ(plugins[i]->GetName().Std(), kTable[i].name);
    EXPECT_EQ(plugins[i]->GetIconFile().Std(), kTable[i].icon);
  }
  const BasePlugin* deformer = FindPlugin(ID_MDD_DEFORMER, PLUGINTYPE_OBJECT);
  ASSERT_TRUE(deformer);
  EXPECT_EQ(deformer->GetInfo(), OBJECT_MODIFIER);
  EXPECT_EQ(deformer->GetDescription().Std(), "Omdddeformer");
  EXPECT_EQ(FindPlugin(ID_XPMASK_TAG, PLUGINTYPE_TAG)->GetDescription().Std(), "Txpromask");
  EXPECT_EQ(FindPlugin(ID_GROUP_TAG, PLUGINTYPE_TAG)->GetDescription().Std(), "");
  EXPECT_EQ(FindPlugin(ID_IMPORT_PLUGIN, PLUGINTYPE_COMMAND)->GetHelp().Std(),
            "Import a Wavefront OBJ file, an MTL material library or a folder of OBJ files");

  const auto& lines = host::ConsoleLines();
  ASSERT_EQ(lines.size(), 6u);
  const std::string equals(61, '=');
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], equals);
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("Kelvane [0-9]+\\.[0-9]+\\.[0-9]+ - .+"))) << lines[2];
  EXPECT_EQ(lines[3], "Cinema 4D 32bit Release R13 (or later) version Installed.");
  EXPECT_EQ(lines[4], equals);
  EXPECT_EQ(lines[5], " ");
}

TEST_F(PluginStartTest, EmptyNamesSkipTheirRowsWithSuccess) {
  host::SetPluginFolder(ResourceCopyWithout({"IDS_URL_NAME", "IDS_REGIONTAG_NAME", "IDS_EXPORT_NAME"}));
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  ASSERT_TRUE(PluginStart());
  EXPECT_FALSE(FindPlugin(ID_URL_PLUGIN, PLUGINTYPE_ANY));
  EXPECT_FALSE(FindPlugin(ID_REGION_TAG, PLUGINTYPE_ANY));
  EXPECT_FALSE(FindPlugin(ID_EXPORT_PLUGIN, PLUGINTYPE_ANY));
  EXPECT_EQ(host::RegisteredPlugins().size(), std::size(kTable) - 3);
  EXPECT_TRUE(ConsoleHas("version Installed."));
}

TEST_F(PluginStartTest, ATagRegisteredByAnotherPluginIsSkippedWithoutError) {
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  struct OtherTag : TagData {};
  ASSERT_TRUE(RegisterTagPlugin(ID_GROUP_TAG, String("Someone else's tag"), 0,
                                [] { return static_cast<NodeData*>(gNew OtherTag); }, String(), nullptr, 0));
  ASSERT_TRUE(PluginStart());
  EXPECT_EQ(FindPlugin(ID_GROUP_TAG, PLUGINTYPE_TAG)->GetName().Std(), "Someone else's tag");
  EXPECT_EQ(host::RegisteredPlugins().size(), std::size(kTable));
}

TEST_F(PluginStartTest, AFailedEarlyRegistrationStopsWithoutBanner) {
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  // The import command's ID taken by another command makes row 2 fail.
  ASSERT_TRUE(RegisterCommandPlugin(ID_IMPORT_PLUGIN, String("Other import"), 0, nullptr, String(),
                                    gNew CommandData));
  EXPECT_FALSE(PluginStart());
  EXPECT_TRUE(FindPlugin(ID_EXPORT_PLUGIN, PLUGINTYPE_COMMAND));
  EXPECT_FALSE(FindPlugin(ID_MDDMP_PLUGIN, PLUGINTYPE_ANY));
  EXPECT_FALSE(FindPlugin(ID_MENU_SEPARATOR_1, PLUGINTYPE_ANY));
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(PluginStartTest, HelpCommandsOpenTheGuideInThePluginFolderAndTheHomePage) {
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  ASSERT_TRUE(PluginStart());
  struct Case {
    LONG id;
    std::string opened;
  };
  const Case cases[] = {
      {1023090, (GeGetPluginPath() + Filename("docs/index.html")).GetString().Std()},
      {1023091, "https://kelvane.org/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const BasePlugin* plugin = FindPlugin(c.id, PLUGINTYPE_COMMAND);
    ASSERT_NE(plugin, nullptr);
    CommandData* command = plugin->GetCommand();
    EXPECT_EQ(command->GetState(nullptr), 0x40000000);  // always enabled
    host::ClearUserLog();
    EXPECT_TRUE(command->Execute(nullptr));
    EXPECT_EQ(host::OpenedInBrowser(), std::vector<std::string>{c.opened});
    EXPECT_TRUE(host::MessageBoxes().empty());
  }
  // Nothing is said even when the guide is not there: the browser reports that.
  host::ClearConsole();
  const std::string elsewhere = TempDir() + "/nowhere";
  host::SetPluginFolder(elsewhere);
  EXPECT_TRUE(FindPlugin(1023090, PLUGINTYPE_COMMAND)->GetCommand()->Execute(nullptr));
  EXPECT_EQ(host::OpenedInBrowser().back(), elsewhere + "/docs/index.html");
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(PluginStartTest, AllocationFailureDuringStartLeaksNothing) {
  ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
  for (LLONG n = 1; n <= 20; ++n) {
    SCOPED_TRACE(n);
    host::FailAllocationAt(n);
    const Bool started = PluginStart();
    host::ResetFaults();
    // The first allocation is the export command's object: row 1 fails, nothing follows.
    if (n == 1) {
      EXPECT_FALSE(started);
      EXPECT_TRUE(host::RegisteredPlugins().empty());
      EXPECT_TRUE(host::ConsoleLines().empty());
    }
    host::FreeRegistry();
    host::ClearConsole();
  }
}

}  // namespace

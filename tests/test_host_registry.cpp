// The plug-in registry: registration of each kind, refused IDs, look-up by type and
// the release of the command objects.
#include <string>
#include <vector>

#include "c4d.h"
#include "host_fixture.h"

namespace {

std::vector<std::string>& Destroyed() {
  static std::vector<std::string> names;
  return names;
}

// A command that notes its destruction.
class NotingCommand : public CommandData {
 public:
  explicit NotingCommand(std::string name) : m_name(std::move(name)) {}
  ~NotingCommand() override { Destroyed().push_back(m_name); }

 private:
  std::string m_name;
};

struct SomeTag : TagData {};
struct SomeObject : ObjectData {};
NodeData* AllocTag() { return gNew SomeTag; }
NodeData* AllocObject() { return gNew SomeObject; }

class RegistryTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Destroyed().clear();
  }
  void TearDown() override {
    host::FreeRegistry();
    HostTest::TearDown();
  }
  static NotingCommand* Command(const char* name) { return gNew NotingCommand(name); }
};

TEST_F(RegistryTest, KeepsWhatEachKindRegisters) {
  BaseBitmap* icon = BaseBitmap::Alloc();
  ASSERT_TRUE(icon);
  ASSERT_EQ(icon->Init(Filename((SourceDir() + "/res/export.tif").c_str())), IMAGERESULT_OK);
  CommandData* command = Command("export");
  ASSERT_TRUE(RegisterCommandPlugin(1022493, String("Export"), 0, icon, String("Export help"), command));
  ASSERT_TRUE(RegisterObjectPlugin(1028662, String("Deformer"), OBJECT_MODIFIER, AllocObject, String("Omdddeformer"),
                                   nullptr, 0));
  ASSERT_TRUE(RegisterTagPlugin(1020082, String("Mask"), TAG_VISIBLE, AllocTag, String("Txpromask"), icon, 3));
  BaseBitmap::Free(icon);

  const auto plugins = host::RegisteredPlugins();
  ASSERT_EQ(plugins.size(), 3u);
  const BasePlugin* c = plugins[0];
  EXPECT_EQ(c->GetID(), 1022493);
  EXPECT_EQ(c->GetPluginType(), PLUGINTYPE_COMMAND);
  EXPECT_EQ(c->GetName().Std(), "Export");
  EXPECT_EQ(c->GetHelp().Std(), "Export help");
  EXPECT_EQ(c->GetIconFile().Std(), "export.tif");  // the file part only
  EXPECT_EQ(c->GetCommand(), command);
  EXPECT_EQ(c->GetAllocator(), nullptr);

  const BasePlugin* o = plugins[1];
  EXPECT_EQ(o->GetPluginType(), PLUGINTYPE_OBJECT);
  EXPECT_EQ(o->GetInfo(), OBJECT_MODIFIER);
  EXPECT_EQ(o->GetDescription().Std(), "Omdddeformer");
  EXPECT_EQ(o->GetIconFile().Std(), "");
  EXPECT_EQ(o->GetAllocator(), &AllocObject);
  EXPECT_EQ(o->GetCommand(), nullptr);

  const BasePlugin* t = plugins[2];
  EXPECT_EQ(t->GetPluginType(), PLUGINTYPE_TAG);
  EXPECT_EQ(t->GetDiskLevel(), 3);
  EXPECT_EQ(t->GetIconFile().Std(), "export.tif");
  NodeData* node = t->GetAllocator()();
  ASSERT_TRUE(node);
  EXPECT_TRUE(dynamic_cast<SomeTag*>(node));
  gDelete(node);
}

TEST_F(RegistryTest, FindsByIdAndType) {
  ASSERT_TRUE(RegisterCommandPlugin(100, String("C"), 0, nullptr, String(), Command("c")));
  ASSERT_TRUE(RegisterTagPlugin(200, String("T"), 0, AllocTag, String(), nullptr, 0));
  ASSERT_TRUE(RegisterObjectPlugin(300, String("O"), 0, AllocObject, String(), nullptr, 0));
  struct Case {
    LONG id, type;
    bool found;
  };
  const Case cases[] = {
      {100, PLUGINTYPE_COMMAND, true}, {100, PLUGINTYPE_ANY, true},     {100, PLUGINTYPE_TAG, false},
      {200, PLUGINTYPE_TAG, true},     {200, PLUGINTYPE_OBJECT, false}, {300, PLUGINTYPE_OBJECT, true},
      {300, PLUGINTYPE_ANY, true},     {400, PLUGINTYPE_ANY, false},    {0, PLUGINTYPE_ANY, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.type));
    const BasePlugin* p = FindPlugin(c.id, c.type);
    EXPECT_EQ(p != nullptr, c.found);
    if (p) {
      EXPECT_EQ(p->GetID(), c.id);
    }
  }
}

TEST_F(RegistryTest, ATakenIdIsRefusedWhateverTheKind) {
  ASSERT_TRUE(RegisterCommandPlugin(100, String("first"), 0, nullptr, String(), Command("first")));
  ASSERT_TRUE(RegisterTagPlugin(200, String("tag"), 0, AllocTag, String(), nullptr, 0));
  const LLONG live = host::GetMemoryStats().liveBlocks;

  EXPECT_FALSE(RegisterCommandPlugin(100, String("second"), 0, nullptr, String(), Command("second")));
  EXPECT_FALSE(RegisterCommandPlugin(200, String("third"), 0, nullptr, String(), Command("third")));
  EXPECT_FALSE(RegisterTagPlugin(100, String("tag2"), 0, AllocTag, String(), nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(200, String("obj"), 0, AllocObject, String(), nullptr, 0));
  // The refused command objects are destroyed at once.
  EXPECT_EQ(Destroyed(), (std::vector<std::string>{"second", "third"}));
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, live);

  ASSERT_EQ(host::RegisteredPlugins().size(), 2u);
  EXPECT_EQ(FindPlugin(100, PLUGINTYPE_ANY)->GetName().Std(), "first");
  EXPECT_EQ(FindPlugin(200, PLUGINTYPE_ANY)->GetPluginType(), PLUGINTYPE_TAG);
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(RegistryTest, UnusableArgumentsAreRefused) {
  const LLONG live = host::GetMemoryStats().liveBlocks;
  EXPECT_FALSE(RegisterCommandPlugin(100, String(), 0, nullptr, String(), Command("unnamed")));
  EXPECT_FALSE(RegisterCommandPlugin(0, String("zero"), 0, nullptr, String(), Command("zero")));
  EXPECT_FALSE(RegisterCommandPlugin(101, String("none"), 0, nullptr, String(), nullptr));
  EXPECT_FALSE(RegisterTagPlugin(102, String("tag"), 0, nullptr, String(), nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(103, String(), 0, AllocObject, String(), nullptr, 0));
  EXPECT_EQ(Destroyed(), (std::vector<std::string>{"unnamed", "zero"}));
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, live);
  EXPECT_TRUE(host::RegisteredPlugins().empty());
}

TEST_F(RegistryTest, FreeRegistryDestroysCommandsInReverseOrder) {
  const LLONG live = host::GetMemoryStats().liveBlocks;
  ASSERT_TRUE(RegisterCommandPlugin(1, String("a"), 0, nullptr, String(), Command("a")));
  ASSERT_TRUE(RegisterTagPlugin(2, String("tag"), 0, AllocTag, String(), nullptr, 0));
  ASSERT_TRUE(RegisterCommandPlugin(3, String("b"), 0, nullptr, String(), Command("b")));
  ASSERT_TRUE(RegisterCommandPlugin(4, String("c"), 0, nullptr, String(), Command("c")));
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, live + 3);
  EXPECT_TRUE(Destroyed().empty());

  host::FreeRegistry();
  EXPECT_EQ(Destroyed(), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, live);
  EXPECT_TRUE(host::RegisteredPlugins().empty());
  EXPECT_EQ(FindPlugin(1, PLUGINTYPE_ANY), nullptr);
  // The IDs are free again.
  EXPECT_TRUE(RegisterCommandPlugin(1, String("again"), 0, nullptr, String(), Command("again")));
  host::FreeRegistry();
  host::FreeRegistry();  // nothing left: a no-op
  EXPECT_EQ(Destroyed().size(), 4u);
}

TEST_F(RegistryTest, AResetHostReleasesTheRegistry) {
  ASSERT_TRUE(RegisterCommandPlugin(1, String("a"), 0, nullptr, String(), Command("a")));
  host::ResetHost();
  host::EchoConsole(false);
  EXPECT_EQ(Destroyed(), std::vector<std::string>{"a"});
  EXPECT_TRUE(host::RegisteredPlugins().empty());
}

TEST_F(RegistryTest, BaseClassesAnswerWithTheHostDefaults) {
  CommandData command;
  EXPECT_FALSE(command.Execute(nullptr));
  EXPECT_EQ(command.GetState(nullptr), CMD_ENABLED);
  EXPECT_FALSE(command.RestoreLayout(nullptr));
  SomeTag tag;
  EXPECT_TRUE(tag.Init(nullptr));
  EXPECT_TRUE(tag.Message(nullptr, 21, nullptr));
  tag.Free(nullptr);
  SomeObject object;
  EXPECT_TRUE(object.Init(nullptr));
  EXPECT_TRUE(object.Message(nullptr, MSG_UPDATE, nullptr));
}

}  // namespace

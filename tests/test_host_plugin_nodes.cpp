// Plug-in objects and tags: nodes whose class comes from the registry. The host makes
// the class with the plug-in's allocator, runs Init, forwards messages and parameters,
// copies the class with the node, frees it with the node, and keeps a node whose
// plug-in is not loaded with its container.
#include <string>

#include "c4d.h"
#include "host_fixture.h"
#include "scene_file.h"

namespace {

constexpr LONG kTestTag = 1999001;
constexpr LONG kTestObject = 1999002;
constexpr LONG kCountParameter = 2000;  // answered by the plug-in, not stored

struct Calls {
  int inits = 0, frees = 0, messages = 0, copies = 0;
  LONG lastMessage = -1;
  LONG stored = 0;  // what SetDParameter received for kCountParameter
};
Calls g_calls;

class CountingTag : public TagData {
 public:
  Bool Init(GeListNode* node) override {
    ++g_calls.inits;
    static_cast<BaseList2D*>(node)->GetDataInstance()->SetLong(1000, 0);
    return TRUE;
  }
  void Free(GeListNode*) override { ++g_calls.frees; }
  Bool Message(GeListNode*, LONG type, void*) override {
    ++g_calls.messages;
    g_calls.lastMessage = type;
    return TRUE;
  }
  Bool GetDParameter(GeListNode*, const DescID& id, GeData& t_data, DESCFLAGS_GET& flags) override {
    if (id[0].id != kCountParameter) return TRUE;
    t_data = GeData(LONG(42));
    flags |= DESCFLAGS_GET_PARAM_GET;
    return TRUE;
  }
  Bool SetDParameter(GeListNode*, const DescID& id, const GeData& t_data, DESCFLAGS_SET& flags) override {
    if (id[0].id != kCountParameter) return TRUE;
    g_calls.stored = t_data.GetLong();
    flags |= DESCFLAGS_SET_PARAM_SET;
    return TRUE;
  }
  Bool CopyTo(NodeData*, GeListNode*, GeListNode*, LONG, AliasTrans*) override {
    ++g_calls.copies;
    return TRUE;
  }
};
NodeData* AllocCountingTag() { return gNew CountingTag; }

class RefusingObject : public ObjectData {
 public:
  Bool Init(GeListNode*) override { return FALSE; }
};
NodeData* AllocRefusingObject() { return gNew RefusingObject; }

class PluginNodeTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    g_calls = Calls();
    ASSERT_TRUE(RegisterTagPlugin(kTestTag, String("Counting"), TAG_VISIBLE, AllocCountingTag, String(), nullptr, 0));
  }
};

TEST_F(PluginNodeTest, TheRegistryMakesTheClassAndTheHostDrivesIt) {
  EXPECT_EQ(BaseTag::Alloc(kTestTag + 100), nullptr) << "an unregistered type is refused";
  BaseObject* op = BaseObject::Alloc(Onull);
  ASSERT_NE(op, nullptr);
  BaseTag* tag = op->MakeTag(kTestTag);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(g_calls.inits, 1);
  ASSERT_NE(tag->GetNodeData(), nullptr);
  EXPECT_EQ(tag->GetDataInstance()->GetLong(1000, -1), 0) << "Init wrote its default";

  tag->Message(MSG_UPDATE);
  EXPECT_EQ(g_calls.lastMessage, MSG_UPDATE);
  EXPECT_EQ(host::UpdateMessageCount(tag), 1);

  // The plug-in answers its own parameter; others fall through to the container.
  GeData value;
  ASSERT_TRUE(tag->GetParameter(DescID(kCountParameter), value, DESCFLAGS_GET_0));
  EXPECT_EQ(value.GetLong(), 42);
  ASSERT_TRUE(tag->SetParameter(DescID(kCountParameter), GeData(LONG(7)), DESCFLAGS_SET_0));
  EXPECT_EQ(g_calls.stored, 7);
  EXPECT_EQ(tag->GetDataInstance()->GetDataPointer(kCountParameter), nullptr) << "handled by the plug-in, not stored";
  ASSERT_TRUE(tag->SetParameter(DescID(1000), GeData(LONG(3)), DESCFLAGS_SET_0));
  EXPECT_EQ(tag->GetDataInstance()->GetLong(1000), 3);

  BaseObject* copy = static_cast<BaseObject*>(op->GetClone(COPYFLAGS_0, nullptr));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(g_calls.copies, 1);
  EXPECT_EQ(g_calls.inits, 2);
  EXPECT_EQ(copy->GetTag(kTestTag)->GetDataInstance()->GetLong(1000), 3) << "the container comes along";

  BaseObject::Free(copy);
  BaseObject::Free(op);
  EXPECT_EQ(g_calls.frees, 2) << "every class is told before its node goes";
}

TEST_F(PluginNodeTest, AnObjectWhoseInitRefusesIsNotMade) {
  ASSERT_TRUE(RegisterObjectPlugin(kTestObject, String("Refusing"), 0, AllocRefusingObject, String(), nullptr, 0));
  EXPECT_EQ(BaseObject::Alloc(kTestObject), nullptr);
}

TEST_F(PluginNodeTest, ANodeOfAMissingPluginLoadsWithItsContainerAndSavesUnchanged) {
  BaseDocument* doc = BaseDocument::Alloc();
  BaseObject* op = BaseObject::Alloc(Onull);
  ASSERT_TRUE(doc && op);
  doc->InsertObject(op, nullptr, nullptr);
  BaseTag* tag = op->MakeTag(kTestTag);
  ASSERT_NE(tag, nullptr);
  tag->GetDataInstance()->SetString(1001, String("kept"));
  const std::string payload = host::internal::EncodeScene(doc);
  BaseDocument::Free(doc);

  // The plug-in is gone: the node survives as data.
  host::FreeRegistry();
  std::string error;
  BaseDocument* loaded = host::internal::DecodeScene(payload, host::internal::kSceneVersion, &error);
  ASSERT_NE(loaded, nullptr) << error;
  BaseTag* orphan = loaded->GetFirstObject()->GetTag(kTestTag);
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->GetNodeData(), nullptr);
  EXPECT_EQ(orphan->GetDataInstance()->GetString(1001), String("kept"));
  EXPECT_EQ(host::internal::EncodeScene(loaded), payload);
  BaseDocument::Free(loaded);
}

}  // namespace

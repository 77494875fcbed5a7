// The OBJ export command in process: the progress window it drives, and stopping a run
// from the keyboard (Escape at the next file, Ctrl+C within a single file) without
// leaving a half-written file.
#include <filesystem>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_fixture.h"
#include "plugin_ids.h"
#include "scene_helpers.h"

namespace fs = std::filesystem;

namespace {

using host::DialogAction;

class PluginExportTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    m_doc.reset(BaseDocument::Alloc());
    ASSERT_TRUE(m_doc);
    for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(InsertLast(m_doc.get(), Grid(20, 20), name));
    m_out = TempDir() + "/out";
    fs::create_directory(m_out);
  }
  void TearDown() override {
    m_doc.reset();
    PluginTest::TearDown();
  }

  // Runs the export command in the dialog's mode choice, into folder (or the file
  // folder/scene.obj in mode document).
  Bool Export(const std::string& mode, const std::string& folder) {
    CommandData* command = nullptr;
    for (const BasePlugin* plugin : host::RegisteredPlugins())
      if (plugin->GetID() == ID_EXPORT_PLUGIN && plugin->GetPluginType() == PLUGINTYPE_COMMAND)
        command = plugin->GetCommand();
    if (!command) return FALSE;
    const std::string dialog = "10080";
    host::QueueDialogAction(DialogAction::Set("mode", mode).For(dialog));
    host::QueueDialogAction(DialogAction::Set("materials", "off").For(dialog));
    host::QueueDialogAction(DialogAction::Ok().For(dialog));
    host::QueueFileSelection(mode == "document" ? folder + "/scene.obj" : folder);
    return command->Execute(m_doc.get());
  }

  std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static bool BoxShown(const std::string& text) {
    for (const std::string& box : host::MessageBoxes())
      if (box.find(text) != std::string::npos) return true;
    return false;
  }

  DocPtr m_doc;
  std::string m_out;  // the export's folder
};

TEST_F(PluginExportTest, TheProgressWindowCountsTheFilesAndCloses) {
  ASSERT_TRUE(Export("per-polygon-object", m_out));
  EXPECT_EQ(Files(m_out), (std::vector<std::string>{"A.obj", "B.obj", "C.obj"}));
  const host::DialogRecord* window = nullptr;
  for (const host::DialogRecord& record : host::DialogLog())
    if (!record.modal && record.pluginId == ID_EXPORT_PLUGIN) window = &record;
  ASSERT_TRUE(window) << "the window was opened and closed";
  EXPECT_EQ(window->title, "Exporting Wavefront OBJ files");
  ASSERT_TRUE(window->Find(6000));
  EXPECT_EQ(window->Find(6000)->label, "Files: (3/3)");
  EXPECT_EQ(window->Find(6001)->label, m_out + "/C.obj");
  EXPECT_TRUE(BoxShown("The OBJ export is finished."));
}

TEST_F(PluginExportTest, EscapeAtTheNextFileStopsAndKeepsTheFilesDone) {
  host::QueueKey(0);        // no key while the first file is named
  host::QueueKey(KEY_ESC);  // Escape while the second is
  EXPECT_FALSE(Export("per-polygon-object", m_out));
  EXPECT_EQ(Files(m_out), (std::vector<std::string>{"A.obj"}));
  EXPECT_TRUE(BoxShown("The export was cancelled.\nThe files written so far are kept."));
  EXPECT_FALSE(BoxShown("The OBJ export is finished."));
}

TEST_F(PluginExportTest, CtrlCWithinOneFileLeavesNoFileBehind) {
  const std::string old = WriteFile("out/scene.obj", "an earlier export\n");
  host::SimulateInterrupt();
  EXPECT_FALSE(Export("document", m_out));
  EXPECT_EQ(Files(m_out), (std::vector<std::string>{"scene.obj"})) << "no temporary file stays";
  EXPECT_EQ(ReadFile(old), "an earlier export\n");
  EXPECT_TRUE(BoxShown("The export was cancelled."));
  // Without the interrupt the same run writes the file.
  host::ClearUserLog();
  EXPECT_TRUE(Export("document", m_out));
  EXPECT_NE(ReadFile(old).find("# 441 vertices"), std::string::npos);
}

}  // namespace

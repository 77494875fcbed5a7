// "kelvane docs": the help commands through the shell, and the guide they open.
#include <filesystem>
#include <string>

#include "host_fixture.h"
#include "shell_run.h"

namespace {

class ShellDocsTest : public HostTest {};

TEST_F(ShellDocsTest, TheGuideShipsBesideThePluginAndTheWebCommandNamesTheHomePage) {
  const ShellRun guide = RunShell(TempDir(), "docs", "", true);
  ASSERT_EQ(guide.exitCode, 0) << guide.err;
  const std::string page = guide.out.substr(0, guide.out.find('\n'));
  EXPECT_EQ(page, BinDir() + "/docs/index.html");
  const std::string html = ReadFile(page);
  EXPECT_NE(html.find("<title>Kelvane</title>"), std::string::npos);
  // Every page of docs/ is there, and links between pages point at pages, not at Markdown.
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() + "/docs")) {
    if (entry.path().extension() != ".md") continue;
    const std::string built = BinDir() + "/docs/" + entry.path().stem().string() + ".html";
    SCOPED_TRACE(built);
    EXPECT_TRUE(std::filesystem::is_regular_file(built));
    EXPECT_EQ(ReadFile(built).find(".md\""), std::string::npos);
  }

  const ShellRun web = RunShell(TempDir(), "docs --web", "", true);
  EXPECT_EQ(web.exitCode, 0) << web.err;
  EXPECT_EQ(web.out, "https://kelvane.org/\n");

  // A plug-in folder without the guide: the command still opens it, the shell says so.
  std::filesystem::create_directories(TempDir() + "/plugin");
  std::filesystem::copy(BinDir() + "/kelvane_plugin.so", TempDir() + "/plugin/kelvane_plugin.so");
  std::filesystem::copy(BinDir() + "/res", TempDir() + "/plugin/res", std::filesystem::copy_options::recursive);
  const ShellRun missing = RunShell(TempDir(), "--plugin-dir plugin docs", "", true);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("the user guide is missing"), std::string::npos) << missing.err;
}

}  // namespace

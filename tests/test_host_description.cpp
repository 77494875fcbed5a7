// Description resources: the shipped export-mask description, every parameter kind,
// and broken files refused with file, line and reason.
#include "c4d.h"
#include "host_fixture.h"

namespace {

const char* const kSymbols =
    "enum\n"
    "{\n"
    "  MY_SWITCH = 1000,\n"
    "  MY_COUNT,\n"
    "  MY_SCALE = 0x3F0,\n"
    "  _DUMMY_ELEMENT_\n"
    "};\n";

class DescriptionTest : public HostTest {
 protected:
  // A plug-in folder whose res/ holds the symbols and description/<name>.res.
  void Plugin(const std::string& name, const std::string& text) {
    WriteFile("plugin/res/c4d_symbols.h", kSymbols);
    m_path = WriteFile("plugin/res/description/" + name + ".res", text);
    host::SetPluginFolder(TempDir() + "/plugin");
  }
  std::string m_path;
};

TEST_F(DescriptionTest, TheShippedMaskDescriptionNamesBothSwitches) {
  host::SetPluginFolder(SourceDir());
  std::string title, error;
  std::vector<host::ParameterInfo> parameters;
  ASSERT_TRUE(host::DescribeDescription("Txpromask", &title, &parameters, &error)) << error;
  EXPECT_EQ(title, "OBJ Export Mask");
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(parameters[0].id, 1000);
  EXPECT_EQ(parameters[0].symbol, "XPMASK_SKIP_OBJECT");
  EXPECT_EQ(parameters[0].kind, host::ParameterKind::Bool);
  EXPECT_EQ(parameters[0].label, "Leave the object out of the export");
  EXPECT_EQ(parameters[1].id, 1001);
  EXPECT_EQ(parameters[1].label, "Leave its children out as well");
}

TEST_F(DescriptionTest, EveryKindWithSymbolsOrNumbers) {
  Plugin("Tmine",
         "/* all kinds */\n"
         "DESCRIPTION Tmine\n"
         "{\n"
         "  BOOL MY_SWITCH { LABEL \"On\"; }   // a comment\n"
         "  LONG MY_COUNT { LABEL \"Count\"; }\n"
         "  REAL MY_SCALE { LABEL \"Scale \\\"x\\\"\"; }\n"
         "  STRING 2000 { LABEL \"Name\"; }\n"
         "  FILENAME 2001 { LABEL \"File\"; }\n"
         "  BITMAPBUTTON 2002 { LABEL \"Record\"; }\n"
         "}\n");
  std::string title = "unchanged", error;
  std::vector<host::ParameterInfo> parameters;
  ASSERT_TRUE(host::DescribeDescription("Tmine", &title, &parameters, &error)) << error;
  EXPECT_EQ(title, "");
  ASSERT_EQ(parameters.size(), 6u);
  const host::ParameterKind kinds[] = {host::ParameterKind::Bool,     host::ParameterKind::Long,
                                       host::ParameterKind::Real,     host::ParameterKind::String,
                                       host::ParameterKind::FileName, host::ParameterKind::BitmapButton};
  const LONG ids[] = {1000, 1001, 0x3F0, 2000, 2001, 2002};
  const char* names[] = {"BOOL", "LONG", "REAL", "STRING", "FILENAME", "BITMAPBUTTON"};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(parameters[i].kind, kinds[i]) << i;
    EXPECT_EQ(parameters[i].id, ids[i]) << i;
    EXPECT_STREQ(host::ParameterKindName(parameters[i].kind), names[i]);
  }
  EXPECT_EQ(parameters[2].label, "Scale \"x\"");
  EXPECT_EQ(parameters[3].symbol, "");
}

TEST_F(DescriptionTest, BrokenFilesAreRefusedWithFileAndLine) {
  const struct {
    const char* text;
    int line;
    const char* reason;
  } cases[] = {
      {"", 1, "expected DESCRIPTION"},
      {"DIALOG Tmine {}", 1, "expected DESCRIPTION"},
      {"DESCRIPTION Tother\n{\n}\n", 1, "the file holds description Tother, not Tmine"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { LABEL \"a\"; }\n", 2, "the description is not closed"},
      {"DESCRIPTION Tmine\n{\n  FLOAT MY_SWITCH { }\n}\n", 3, "'FLOAT' is no parameter kind or description property"},
      {"DESCRIPTION Tmine\n{\n  BOOL NOT_THERE { LABEL \"a\"; }\n}\n", 3, "'NOT_THERE' is not declared in c4d_symbols.h"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { LABEL \"a\"; }\n\n  LONG 1000 { LABEL \"b\"; }\n}\n", 5,
       "ID 1000 is used twice (first on line 3)"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { }\n}\n", 3, "BOOL 1000 has no LABEL"},
      {"DESCRIPTION Tmine\n{\n  BITMAPBUTTON 7 { }\n}\n", 3, "BITMAPBUTTON 7 has no LABEL"},
      {"DESCRIPTION Tmine\n{\n  FILENAME { LABEL \"a\"; }\n}\n", 3, "FILENAME needs an ID"},
      {"DESCRIPTION Tmine\n{\n  BUTTON 7 { LABEL \"a\"; }\n}\n", 3, "'BUTTON' is no parameter kind"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { KEY \"x\"; }\n}\n", 3, "'KEY' is no parameter property"},
      {"DESCRIPTION Tmine\n{\n  BOOL 0 { LABEL \"a\"; }\n}\n", 3, "parameter IDs are above 0"},
      {"DESCRIPTION Tmine\n{\n  BOOL { LABEL \"a\"; }\n}\n", 3, "BOOL needs an ID"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { LABEL \"a\n\"; }\n}\n", 3, "text not closed on its line"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { LABEL \"a\" }\n}\n", 3, "expected ';'"},
      {"DESCRIPTION Tmine\n{\n  BOOL MY_SWITCH { LABEL \"a\";\n", 3, "BOOL 1000 is not closed"},
      {"DESCRIPTION Tmine\n{\n  TITLE 5;\n}\n", 3, "expected a quoted text"},
      {"DESCRIPTION Tmine\n{\n}\n}\n", 4, "unexpected '}' after the description"},
      {"DESCRIPTION Tmine\n{\n/* open\n}\n", 3, "comment not closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Plugin("Tmine", c.text);
    std::string error;
    std::vector<host::ParameterInfo> parameters;
    EXPECT_FALSE(host::DescribeDescription("Tmine", nullptr, &parameters, &error));
    EXPECT_EQ(Slashed(error).rfind(Slashed(m_path) + ":" + std::to_string(c.line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(parameters.empty());
  }
}

// Cuts of the shipped file after each token and inside each text are refused with
// their place; none reads on.
TEST_F(DescriptionTest, CutCopiesOfTheShippedFileAreRefused) {
  const std::string whole = ReadFile(SourceDir() + "/res/description/Txpromask.res");
  ASSERT_FALSE(whole.empty());
  WriteFile("plugin/res/c4d_symbols.h", ReadFile(SourceDir() + "/res/c4d_symbols.h"));
  host::SetPluginFolder(TempDir() + "/plugin");
  const std::string path = TempDir() + "/plugin/res/description/Txpromask.res";
  const size_t end = whole.find_last_of('}');
  ASSERT_NE(end, std::string::npos);
  int cuts = 0;
  for (size_t cut = 1; cut < end; ++cut) {
    const char before = whole[cut - 1];
    const bool boundary = before == ';' || before == '{' || before == '}' || before == '"' || before == '\n' ||
                          (before != ' ' && whole[cut] == ' ');
    if (!boundary) continue;
    SCOPED_TRACE(cut);
    ++cuts;
    WriteFile("plugin/res/description/Txpromask.res", whole.substr(0, cut));
    std::string error;
    EXPECT_FALSE(host::DescribeDescription("Txpromask", nullptr, nullptr, &error));
    EXPECT_EQ(Slashed(error).rfind(Slashed(path) + ":", 0), 0u) << error;
  }
  EXPECT_GT(cuts, 20);
}

TEST_F(DescriptionTest, NamesThatAreNoFileNamesAndMissingFilesAreRefused) {
  Plugin("Tmine", "DESCRIPTION Tmine\n{\n}\n");
  WriteFile("plugin/res/Tup.res", "DESCRIPTION Tup\n{\n}\n");
  std::string error;
  for (const char* name : {"", "../Tup", "T mine", "1abc", "Tmine.res"}) {
    EXPECT_FALSE(host::DescribeDescription(name, nullptr, nullptr, &error)) << name;
    EXPECT_EQ(error, "'" + std::string(name) + "' is no description name");
  }
  EXPECT_FALSE(host::DescribeDescription("Omdddeformer", nullptr, nullptr, &error));
  EXPECT_NE(Slashed(error).find("cannot read '" + Slashed(TempDir()) + "/plugin/res/description/Omdddeformer.res'"),
            std::string::npos)
      << error;
  EXPECT_TRUE(host::DescribeDescription("Tmine", nullptr, nullptr, &error)) << error;
}

}  // namespace

// The plug-in resource: symbols and string table parsing, the folder rules and the
// reasons given when a resource cannot be loaded.
#include <filesystem>

#include "c4d.h"
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

const char* const kSymbols =
    "// IDs of a small test resource\n"
    "#ifndef TEST_SYMBOLS\n"
    "enum\n"
    "{\n"
    "  IDS_FIRST = 10000,  /* the first */\n"
    "  IDS_NEXT,           // counts on: 10001\n"
    "  IDS_HEX = 0x2710A,\n"
    "  IDS_NEG = -5,\n"
    "  IDS_UNUSED = 20000,\n"
    "  IDS_LAST = 12\n"
    "  , IDS_AFTER,\n"
    "  _DUMMY_ELEMENT_\n"
    "};\n"
    "#endif\n";

const char* const kStrings =
    "// Texts\n"
    "STRINGTABLE\n"
    "{\n"
    "  IDS_FIRST \"Import Wavefront OBJ...\";\n"
    "  /* a comment\n"
    "     over lines */\n"
    "  IDS_NEXT \"two \" \"parts\"\n"
    "           \" and three\";\n"
    "  IDS_HEX \"tab\\there\\nnew line \\\"quoted\\\" back\\\\slash // not a comment\";\n"
    "  IDS_NEG \"\";\n"
    "  IDS_LAST \"# of #: #\";\n"
    "  IDS_AFTER \"#$10--\";\n"
    "}\n";

class ResourceTest : public HostTest {
 protected:
  void TearDown() override {
    resource.Free();
    HostTest::TearDown();
  }

  // A plug-in folder with res/ holding the given files; returns the plug-in folder.
  std::string Plugin(const std::string& symbols, const std::string& strings, const std::string& name = "plugin") {
    WriteFile(name + "/res/c4d_symbols.h", symbols);
    WriteFile(name + "/res/strings_us/c4d_strings.str", strings);
    return TempDir() + "/" + name;
  }
};

TEST_F(ResourceTest, LoadsTheTableWithCommentsEscapesAndJoinedTexts) {
  host::SetPluginFolder(Plugin(kSymbols, kStrings));
  EXPECT_EQ(GeGetPluginPath().GetString().Std(), TempDir() + "/plugin");
  ASSERT_TRUE(resource.Init()) << host::ResourceError();
  EXPECT_TRUE(resource.IsLoaded());
  EXPECT_EQ(host::ResourceError(), "");
  EXPECT_EQ(GeLoadString(10000).Std(), "Import Wavefront OBJ...");
  EXPECT_EQ(GeLoadString(10001).Std(), "two parts and three");
  EXPECT_EQ(GeLoadString(0x2710A).Std(), "tab\there\nnew line \"quoted\" back\\slash // not a comment");
  EXPECT_EQ(GeLoadString(-5).Std(), "");
  EXPECT_EQ(GeLoadString(12).Std(), "# of #: #");
  EXPECT_EQ(GeLoadString(13).Std(), "#$10--");
  EXPECT_EQ(GeLoadString(20000).Std(), "");  // declared, no text
  EXPECT_EQ(GeLoadString(4711).Std(), "");
}

TEST_F(ResourceTest, ParametersFillTheFirstTwoMarks) {
  host::SetPluginFolder(Plugin(kSymbols, kStrings));
  ASSERT_TRUE(resource.Init()) << host::ResourceError();
  EXPECT_EQ(GeLoadString(12, String("3"), String("7")).Std(), "3 of 7: #");
  EXPECT_EQ(GeLoadString(12, String("#")).Std(), "# of : #");  // inserted text is not scanned again
  EXPECT_EQ(GeLoadString(10000, String("x"), String("y")).Std(), "Import Wavefront OBJ...");
  EXPECT_EQ(GeLoadString(4711, String("x")).Std(), "");
}

TEST_F(ResourceTest, InitTakesThePluginFolderOrTheResourceFolderItself) {
  const std::string plugin = Plugin(kSymbols, kStrings);
  ASSERT_TRUE(resource.Init(Filename(plugin.c_str())));
  EXPECT_EQ(GeLoadString(10000).Std(), "Import Wavefront OBJ...");
  resource.Free();
  EXPECT_FALSE(resource.IsLoaded());
  EXPECT_EQ(GeLoadString(10000).Std(), "");
  ASSERT_TRUE(resource.Init(Filename((plugin + "/res").c_str())));
  EXPECT_EQ(GeLoadString(10001).Std(), "two parts and three");
}

TEST_F(ResourceTest, AMissingFolderIsNamedAbsolutely) {
  host::SetPluginFolder(TempDir() + "/nowhere");
  EXPECT_FALSE(resource.Init());
  EXPECT_FALSE(resource.IsLoaded());
  EXPECT_EQ(Slashed(host::ResourceError()), "no resource folder '" + Slashed(TempDir()) + "/nowhere/res'");

  // A relative plug-in folder is reported as the absolute path it stands for.
  const fs::path cwd = fs::current_path();
  fs::current_path(TempDir());
  host::SetPluginFolder("rel/./dir");
  const Bool loaded = resource.Init();
  const std::string error = host::ResourceError();
  fs::current_path(cwd);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(Slashed(error), "no resource folder '" + Slashed(TempDir()) + "/rel/dir/res'");
}

TEST_F(ResourceTest, MissingFilesAreNamed) {
  WriteFile("a/res/strings_us/c4d_strings.str", kStrings);
  host::SetPluginFolder(TempDir() + "/a");
  EXPECT_FALSE(resource.Init());
  EXPECT_EQ(Slashed(host::ResourceError()), "cannot read '" + Slashed(TempDir()) + "/a/res/c4d_symbols.h'");

  WriteFile("b/res/c4d_symbols.h", kSymbols);
  host::SetPluginFolder(TempDir() + "/b");
  EXPECT_FALSE(resource.Init());
  EXPECT_EQ(Slashed(host::ResourceError()),
            "cannot read the string table '" + Slashed(TempDir()) + "/b/res/strings_us/c4d_strings.str'");
}

TEST_F(ResourceTest, MalformedStringTablesNameFileAndLine) {
  struct Case {
    const char* what;
    const char* table;
    const char* error;  // after "<path>:"
  };
  const Case cases[] = {
      {"unknown name", "STRINGTABLE {\n  IDS_FIRST \"a\";\n  IDS_NOPE \"b\";\n}\n",
       "3: 'IDS_NOPE' is not declared in '"},
      {"no semicolon", "STRINGTABLE {\n  IDS_FIRST \"a\"\n  IDS_NEXT \"b\";\n}\n",
       "3: expected ';' after the text of 'IDS_FIRST'"},
      {"no text", "STRINGTABLE {\n\n  IDS_FIRST;\n}\n", "3: expected a quoted text after 'IDS_FIRST'"},
      {"open text", "STRINGTABLE {\n  IDS_FIRST \"a;\n}\n", "2: text not closed on its line"},
      {"open text at the end", "STRINGTABLE {\n  IDS_FIRST \"a", "2: text not closed on its line"},
      {"bad escape", "STRINGTABLE {\n  IDS_FIRST \"a\\qb\";\n}\n", "2: unknown escape '\\q'"},
      {"no keyword", "\n{ IDS_FIRST \"a\"; }\n", "2: expected STRINGTABLE"},
      {"no brace", "STRINGTABLE\n IDS_FIRST \"a\";\n", "2: expected '{' after STRINGTABLE"},
      {"not closed", "STRINGTABLE {\n  IDS_FIRST \"a\";\n", "3: the table is not closed with '}'"},
      {"open comment", "STRINGTABLE {\n /* never\n closed\n", "2: comment not closed"},
      {"twice", "STRINGTABLE {\n  IDS_FIRST \"a\";\n  IDS_FIRST \"b\";\n}\n",
       "3: 'IDS_FIRST' already has a text (line 2)"},
      {"after the table", "STRINGTABLE {\n}\nIDS_FIRST \"a\";\n", "3: unexpected 'IDS_FIRST' after the table"},
      {"stray character", "STRINGTABLE {\n  IDS_FIRST @\"a\";\n}\n", "2: unexpected character '@'"},
      {"number as name", "STRINGTABLE {\n  10000 \"a\";\n}\n", "2: expected a string name"},
  };
  const std::string good = Plugin(kSymbols, kStrings, "good");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::SetPluginFolder(Plugin(kSymbols, c.table));
    // A good load first: a failed one must leave nothing behind.
    ASSERT_TRUE(resource.Init(Filename(good.c_str())));
    EXPECT_FALSE(resource.Init());
    EXPECT_FALSE(resource.IsLoaded());
    EXPECT_EQ(GeLoadString(10000).Std(), "");
    const std::string prefix = Slashed(TempDir()) + "/plugin/res/strings_us/c4d_strings.str:";
    EXPECT_EQ(Slashed(host::ResourceError()).rfind(Slashed(prefix + c.error), 0), 0u) << host::ResourceError();
  }
  EXPECT_EQ(Slashed(host::ResourceError()),
            Slashed(TempDir()) + "/plugin/res/strings_us/c4d_strings.str:2: expected a string name");
  host::SetPluginFolder(Plugin(kSymbols, cases[0].table));
  EXPECT_FALSE(resource.Init());
  EXPECT_NE(Slashed(host::ResourceError()).find("not declared in '" + Slashed(TempDir()) + "/plugin/res/c4d_symbols.h'"),
            std::string::npos);
}

TEST_F(ResourceTest, MalformedSymbolFilesNameFileAndLine) {
  struct Case {
    const char* what;
    const char* symbols;
    const char* error;
  };
  const Case cases[] = {
      {"no number", "enum {\n  IDS_FIRST = ,\n};\n", "2: expected a number after 'IDS_FIRST ='"},
      {"bad number", "enum {\n  IDS_FIRST = 12x,\n};\n", "2: expected a number after 'IDS_FIRST ='"},
      {"too big", "enum {\n  IDS_FIRST = 4294967296,\n};\n", "2: expected a number after 'IDS_FIRST ='"},
      {"no comma", "enum {\n  IDS_FIRST = 1\n  IDS_NEXT = 2,\n};\n", "2: expected ',' after 'IDS_FIRST'"},
      {"twice", "enum {\n  IDS_FIRST = 1,\n\n  IDS_FIRST = 2,\n};\n", "4: 'IDS_FIRST' is declared twice"},
      {"stray text", "enum {\n  \"IDS_FIRST\" = 1,\n};\n", "2: expected a name"},
      {"counts past the range", "enum {\n  IDS_FIRST = 0x7FFFFFFF,\n  IDS_NEXT,\n};\n",
       "3: 'IDS_NEXT' counts past the largest ID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::SetPluginFolder(Plugin(c.symbols, "STRINGTABLE { }"));
    EXPECT_FALSE(resource.Init());
    const std::string prefix = Slashed(TempDir()) + "/plugin/res/c4d_symbols.h:";
    EXPECT_EQ(Slashed(host::ResourceError()).rfind(Slashed(prefix + c.error), 0), 0u) << host::ResourceError();
  }
}

TEST_F(ResourceTest, TheLargestIdIsASymbolLikeAnyOther) {
  host::SetPluginFolder(
      Plugin("enum {\n  IDS_FIRST = 0x7FFFFFFF,\n  _DUMMY_ELEMENT_\n};\n", "STRINGTABLE { IDS_FIRST \"max\"; }"));
  ASSERT_TRUE(resource.Init()) << host::ResourceError();
  EXPECT_EQ(GeLoadString(0x7FFFFFFF).Std(), "max");
}

TEST_F(ResourceTest, ReloadingReplacesTheTable) {
  const std::string one = Plugin(kSymbols, kStrings, "one");
  const std::string two = Plugin("enum { IDS_OTHER = 10001, };", "STRINGTABLE { IDS_OTHER \"other\"; }", "two");
  ASSERT_TRUE(resource.Init(Filename(one.c_str())));
  ASSERT_TRUE(resource.Init(Filename(two.c_str())));
  EXPECT_EQ(GeLoadString(10000).Std(), "");
  EXPECT_EQ(GeLoadString(10001).Std(), "other");
}

TEST_F(ResourceTest, TheProjectResourceHasEveryString) {
  ASSERT_TRUE(resource.Init(Filename((SourceDir() + "/res").c_str()))) << host::ResourceError();
  for (LONG id = 10000; id <= 10079; ++id) EXPECT_TRUE(GeLoadString(id).Content()) << id;
}

}  // namespace

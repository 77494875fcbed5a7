// Failure reports, console formatting and the elapsed-time text.
#include <string>
#include <vector>

#include "compat.h"
#include "host_fixture.h"

namespace {

using Texts = std::vector<std::string>;

class CompatTest : public HostTest {};

TEST_F(CompatTest, MemoryErrorGoesToConsoleAndBox) {
  ReportMemoryError("no UVs");
  ReportMemoryError(String("no Normals"));
  EXPECT_EQ(host::ConsoleLines(),
            (Texts{"Kelvane: Memory Allocation Error - no UVs", "Kelvane: Memory Allocation Error - no Normals"}));
  EXPECT_EQ(host::MessageBoxes(), (Texts{"Memory Allocation Error!\nno UVs", "Memory Allocation Error!\nno Normals"}));
}

TEST_F(CompatTest, FileErrorWithEmptyOrMissingText) {
  ReportFileError("");
  ReportFileError(static_cast<const CHAR*>(nullptr));
  ReportFileError(String("Open Failed"));
  EXPECT_EQ(host::ConsoleLines(),
            (Texts{"Kelvane: File Error - ", "Kelvane: File Error - ", "Kelvane: File Error - Open Failed"}));
  EXPECT_EQ(host::MessageBoxes(), (Texts{"File Error!\n", "File Error!\n", "File Error!\nOpen Failed"}));
}

TEST_F(CompatTest, ConsolePrintfFormatsOneLine) {
  ConsolePrintf("m_pFrameTimes Alloc() %d of %s", 3, "frames");
  ConsolePrintf("%s", "");
  EXPECT_EQ(host::ConsoleLines(), (Texts{"m_pFrameTimes Alloc() 3 of frames", ""}));
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(CompatTest, ConsolePrintfCutsLongResults) {
  const std::string head(1000, 'h');
  const std::string tail(3000, 't');
  ConsolePrintf("%s%s", head.c_str(), tail.c_str());
  ConsolePrintf("%s", std::string(1023, 'e').c_str());  // exactly fits
  ASSERT_EQ(host::ConsoleLines().size(), 2u);
  EXPECT_EQ(host::ConsoleLines()[0], head + std::string(23, 't'));
  EXPECT_EQ(host::ConsoleLines()[1], std::string(1023, 'e'));
}

TEST_F(CompatTest, FormatElapsed) {
  const struct {
    Real ms;
    bool total;
    const char* text;
  } kCases[] = {
      {0.0, false, "00:00:00 + 0 secs"},
      {0.0, true, "00:00:00 + 0 secs   (0 total secs)"},
      {83456.0, false, "00:01:23 + 0.456 secs"},
      {83456.0, true, "00:01:23 + 0.456 secs   (83.456 total secs)"},
      {25.0 * 3600000.0 + 1.0, false, "25:00:00 + 0.001 secs"},  // no day wrap
      {3599999.0, false, "00:59:59 + 0.999 secs"},
      {3600000.0, false, "01:00:00 + 0 secs"},
      {100.0 * 3600000.0, false, "100:00:00 + 0 secs"},
      {999.0, true, "00:00:00 + 0.999 secs   (0.999 total secs)"},
      {59999.9, false, "00:00:59 + 1 secs"},  // the fraction rounds in the host rendering only
      {-5.0, true, "00:00:00 + 0 secs   (0 total secs)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(FormatElapsed(c.ms, c.total).Std(), c.text);
  }
  // 32 bits of seconds hold about 136 years; beyond that the clock stops instead of wrapping.
  EXPECT_EQ(FormatElapsed(1e13, false).Std(), "1193046:28:15 + 0 secs");
}

TEST_F(CompatTest, ReportElapsedLine) {
  ReportElapsed("ReadObj()", 1500.0);
  ReportElapsed("ImportObjFile() total", 61250.0);
  EXPECT_EQ(host::ConsoleLines(), (Texts{"ReadObj() elapsed = 00:00:01 + 0.5 secs   (1.5 total secs)",
                                         "ImportObjFile() total elapsed = 00:01:01 + 0.25 secs   (61.25 total secs)"}));
}

}  // namespace

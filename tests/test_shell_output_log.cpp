// The shell's run log (kelvane --log), in-process: what it takes of each stream (the
// progress line left out, however the stream's bytes are cut into pieces), and a log of
// both streams and the withheld console lines.
#include <string>
#include <vector>

#include "c4d_general.h"
#include "host_fixture.h"
#include "output_log.h"

namespace {

// The bytes of stderr while a progress line is drawn, redrawn and erased around lines.
const std::vector<std::string> kWrites = {
    "first line\n", "\r[#.....]  10%", "\r[###...]  50%   ", "\r                \r", "second line\n",
    "\rspinner |",  "\r         \r",   "no newline yet ",     "third line\n",
};
const std::string kLogged = "first line\nsecond line\nno newline yet third line\n";

std::string TakeAll(LoggedText* logged, const std::vector<std::string>& pieces) {
  std::string out;
  for (const std::string& piece : pieces) out += logged->Take(piece.data(), piece.size());
  return out;
}

TEST(LoggedTextTest, WholeWritesThatBeginWithACarriageReturnAreLeftOut) {
  struct Case {
    std::vector<std::string> writes;
    std::string logged;
  };
  const Case cases[] = {
      {kWrites, kLogged},
      {{"\r", "", "a\rb\n"}, "a\rb\n"},          // only a return at the start marks the line
      {{"\rcarried\n", "kept\n"}, "kept\n"},      // the whole write goes
  };
  for (const Case& c : cases) {
    LoggedText logged(true);
    EXPECT_EQ(TakeAll(&logged, c.writes), c.logged);
  }
}

TEST(LoggedTextTest, PiecesOfAnySizeLogWhatWholeWritesLog) {
  std::string stream;
  for (const std::string& write : kWrites) stream += write;
  // Cut in two at every place, and byte by byte.
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    LoggedText logged(false);
    EXPECT_EQ(TakeAll(&logged, {stream.substr(0, cut), stream.substr(cut)}), kLogged) << cut;
  }
  LoggedText bytes(false);
  std::vector<std::string> single;
  for (char c : stream) single.emplace_back(1, c);
  EXPECT_EQ(TakeAll(&bytes, single), kLogged);
  // Whole lines only; a progress line the stream ends with is never logged, the start
  // of a line is.
  LoggedText open(false);
  EXPECT_EQ(TakeAll(&open, {"done\n\r[##] 20%", "\r[###] 30%"}), "done\n");
  EXPECT_EQ(open.Rest(), "");
  EXPECT_EQ(TakeAll(&open, {"\r   \r", "li", "ne\nnext "}), "line\n");
  EXPECT_EQ(TakeAll(&open, {"li", "ne"}), "");
  EXPECT_EQ(open.Rest(), "next line");
  EXPECT_EQ(LoggedText(true).Rest(), "");
}

class OutputLogTest : public HostTest {};

TEST_F(OutputLogTest, TheLogHoldsBothStreamsAndTheWithheldLinesButNoProgressLine) {
  const std::string path = TempDir() + "/run.log";
  WriteFile("run.log", "an older log\n");
  {
    OutputLog log;
    std::string error;
    ASSERT_TRUE(log.Start(path, &error)) << error;
    std::fputs("[log test] on standard output\n", stdout);
    for (const std::string& write : kWrites) {
      std::fwrite(write.data(), 1, write.size(), stderr);
      std::fflush(stderr);
    }
    GePrint("[log test] a console line that is not echoed");
    std::fputs("[log test] unfinished", stderr);
    log.Stop();
    std::fputs("\n", stderr);
    std::fputs("[log test] after the log\n", stdout);
    std::fflush(stdout);
  }
  const std::string text = ReadFile(path);
  // Each stream's lines in order (the two streams' order among each other is not kept
  // everywhere).
  EXPECT_NE(text.find("[log test] on standard output\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[log test] a console line that is not echoed\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[log test] unfinished"), std::string::npos) << text;
  size_t at = 0;
  for (const char* line : {"first line\n", "second line\n", "no newline yet third line\n"}) {
    at = text.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\nin\n" << text;
  }
  EXPECT_EQ(text.find('\r'), std::string::npos) << text;
  EXPECT_EQ(text.find("an older log"), std::string::npos) << text;
  EXPECT_EQ(text.find("after the log"), std::string::npos) << text;
}

TEST_F(OutputLogTest, ALogThatCannotBeWrittenIsReportedAndNothingIsCopied) {
  OutputLog log;
  std::string error;
  EXPECT_FALSE(log.Start(TempDir() + "/no/such/folder/x.log", &error));
  EXPECT_EQ(error.rfind("cannot write the log '" + TempDir() + "/no/such/folder/x.log': ", 0), 0u) << error;
  // The streams were left alone: a log started now works.
  ASSERT_TRUE(log.Start(TempDir() + "/x.log", &error)) << error;
  log.Stop();
}

}  // namespace

// Feedback channels of the host: console log, status bar and its terminal line, the
// mouse pointer, the scripted user's boxes and file selectors, and the clock.
#include <algorithm>
#include <string>

#include "c4d_file.h"
#include "c4d_general.h"
#include "host_fixture.h"
#include "host_internal.h"

namespace {

class HostConsoleTest : public HostTest {};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// --- console -----------------------------------------------------------------------

TEST_F(HostConsoleTest, ConsoleKeepsLinesInOrderUntilCleared) {
  GePrint("first");
  GePrint(String());
  GePrint("third line with  blanks ");
  ASSERT_EQ(host::ConsoleLines().size(), 3u);
  EXPECT_EQ(host::ConsoleLines()[0], "first");
  EXPECT_EQ(host::ConsoleLines()[1], "");
  EXPECT_EQ(host::ConsoleLines()[2], "third line with  blanks ");
  EXPECT_TRUE(ConsoleHas("with  blanks"));

  host::ClearConsole();
  EXPECT_TRUE(host::ConsoleLines().empty());
  GePrint("again");
  host::ResetHost();
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(HostConsoleTest, EchoWritesEachLineToStandardOutput) {
  host::EchoConsole(true);
  testing::internal::CaptureStdout();
  GePrint("Kelvane: File Error - Open Failed");
  GePrint("second");
  const std::string out = testing::internal::GetCapturedStdout();
  host::EchoConsole(false);
  EXPECT_EQ(out, "Kelvane: File Error - Open Failed\nsecond\n");

  testing::internal::CaptureStdout();
  GePrint("quiet");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(host::ConsoleLines().back(), "quiet") << "the log is kept with echo off";
}

// --- status bar ----------------------------------------------------------------------

TEST_F(HostConsoleTest, StatusStateFollowsTheCalls) {
  const host::StatusState& status = host::Status();
  EXPECT_EQ(status.text, "");
  EXPECT_EQ(status.bar, -1);
  EXPECT_FALSE(status.spin);

  StatusSetText("Reading file");
  StatusSetBar(40);
  EXPECT_EQ(status.text, "Reading file");
  EXPECT_EQ(status.bar, 40);

  StatusSetSpin();
  EXPECT_TRUE(status.spin);
  EXPECT_EQ(status.bar, -1) << "a spinner replaces the bar";
  StatusSetBar(60);
  EXPECT_FALSE(status.spin) << "a bar replaces the spinner";

  // Out-of-range percentages are clamped, and every bar call is counted.
  const struct {
    LONG in, shown;
  } clamps[] = {{-5, 0}, {0, 0}, {100, 100}, {101, 100}, {1 << 30, 100}};
  for (const auto& c : clamps) {
    StatusSetBar(c.in);
    EXPECT_EQ(status.bar, c.shown) << c.in;
  }
  EXPECT_EQ(status.barUpdates, 7);

  GeShowMouse(MOUSE_BUSY);
  StatusClear();
  EXPECT_EQ(status.text, "");
  EXPECT_EQ(status.bar, -1);
  EXPECT_FALSE(status.spin);
  EXPECT_EQ(status.mouse, MOUSE_BUSY) << "the pointer is not part of the status bar";
}

TEST_F(HostConsoleTest, MousePointerStateIgnoresUnknownValues) {
  EXPECT_EQ(host::Status().mouse, MOUSE_NORMAL);
  GeShowMouse(MOUSE_BUSY);
  EXPECT_EQ(host::Status().mouse, MOUSE_BUSY);
  GeShowMouse(42);
  GeShowMouse(-1);
  EXPECT_EQ(host::Status().mouse, MOUSE_BUSY);
  GeShowMouse(MOUSE_NORMAL);
  EXPECT_EQ(host::Status().mouse, MOUSE_NORMAL);
  GeShowMouse(MOUSE_BUSY);
  host::ResetHost();
  EXPECT_EQ(host::Status().mouse, MOUSE_NORMAL);
}

TEST_F(HostConsoleTest, StatusLineIsDrawnAndErasedOnStandardError) {
  host::DrawStatus(1);
  testing::internal::CaptureStderr();
  StatusSetBar(50);
  StatusClear();
  const std::string err = testing::internal::GetCapturedStderr();
  host::DrawStatus(0);
  EXPECT_NE(err.find("\r[##########..........]  50%"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), std::string::npos) << "the status line never scrolls the terminal";
  // Erased by blanking its columns and returning to the line start.
  const std::string drawn = "[##########..........]  50%";
  EXPECT_NE(err.find("\r" + std::string(drawn.size(), ' ') + "\r"), std::string::npos) << err;
}

TEST_F(HostConsoleTest, StatusLineShowsTextBeforeTheSpinner) {
  // Set the state while not drawing, so the one draw below shows text and spinner.
  StatusSetText("Exporting");
  StatusSetSpin();
  host::DrawStatus(1);
  testing::internal::CaptureStderr();
  StatusSetSpin();
  StatusClear();
  const std::string err = testing::internal::GetCapturedStderr();
  host::DrawStatus(0);
  const std::string drawn = "\rExporting ";
  ASSERT_EQ(err.rfind(drawn, 0), 0u) << err;
  ASSERT_GT(err.size(), drawn.size());
  EXPECT_NE(std::string("|/-\\").find(err[drawn.size()]), std::string::npos) << err;
  EXPECT_EQ(err.substr(drawn.size() + 1), "\r" + std::string(11, ' ') + "\r") << "erased by StatusClear";
}

TEST_F(HostConsoleTest, LongStatusTextIsClippedToOneTerminalLine) {
  host::DrawStatus(1);
  testing::internal::CaptureStderr();
  StatusSetText(String(std::string(300, 'x')));
  StatusClear();
  const std::string err = testing::internal::GetCapturedStderr();
  host::DrawStatus(0);
  // Standard error is a file here, so the width falls back to 80 columns.
  ASSERT_EQ(err.rfind("\rxxxx", 0), 0u) << err;
  const size_t drawn = err.find('\r', 1) - 1;
  EXPECT_LT(drawn, 80u);
  EXPECT_GT(drawn, 40u);
  EXPECT_EQ(err.substr(drawn + 1), "\r" + std::string(drawn, ' ') + "\r");
}

TEST_F(HostConsoleTest, StatusRedrawsAreThrottled) {
  host::DrawStatus(1);
  testing::internal::CaptureStderr();
  const Real start = GeGetMilliSeconds();
  constexpr int kUpdates = 5000;
  for (int i = 0; i < kUpdates; ++i) StatusSetBar(i % 101);
  const Real elapsed = GeGetMilliSeconds() - start;
  EXPECT_EQ(host::Status().barUpdates, kUpdates) << "every update counts, drawn or not";
  StatusClear();
  const std::string err = testing::internal::GetCapturedStderr();
  host::DrawStatus(0);
  ASSERT_GE(Count(err, "\r"), 3u) << "at least one draw and the erase";
  const size_t redraws = Count(err, "\r") - 2;
  // At most one redraw per 50 ms, plus the first one and the stage's finishing draw at
  // 100 % when the status is cleared.
  EXPECT_LE(static_cast<Real>(redraws), elapsed / 50.0 + 2.0) << redraws << " redraws in " << elapsed << " ms";
}

TEST_F(HostConsoleTest, EveryStageWithABarIsSeenToFinishAndItsBarIsNotCarriedOn) {
  host::DrawStatus(1);
  testing::internal::CaptureStderr();
  StatusSetText("Reading");
  for (LONG percent = 0; percent <= 97; ++percent) StatusSetBar(percent);  // the last draws are throttled
  StatusSetText("Building");
  StatusSetText("Texturing");
  StatusSetBar(100);
  StatusSetText("Done");
  StatusClear();
  const std::string err = testing::internal::GetCapturedStderr();
  host::DrawStatus(0);
  EXPECT_EQ(Count(err, "\rReading [####################] 100%"), 1u) << err;
  EXPECT_EQ(Count(err, "100%"), 2u) << "Texturing was drawn at 100 % already, not again:\n" << err;
  EXPECT_EQ(err.find("Building ["), std::string::npos) << "the ended stage's bar stays with it";
  EXPECT_EQ(err.find('\n'), std::string::npos);
}

TEST_F(HostConsoleTest, BoxesArePrintedAboveTheStatusLineWhichIsDrawnAgain) {
  host::DrawStatus(1);
  host::EchoMessageBoxes(true);
  testing::internal::CaptureStderr();
  StatusSetBar(40);
  MessageDialog(String("Careful"));
  const std::string err = testing::internal::GetCapturedStderr();
  host::EchoMessageBoxes(false);
  StatusClear();
  host::DrawStatus(0);
  const std::string bar = "[########............]  40%";
  const size_t box = err.find("Careful");
  ASSERT_NE(box, std::string::npos) << err;
  EXPECT_LT(err.find(bar), box) << err;
  EXPECT_NE(err.find("\r" + bar, box), std::string::npos) << "drawn again below the box:\n" << err;
  EXPECT_NE(err.find("\r" + std::string(bar.size(), ' ') + "\r"), std::string::npos) << "erased before the box";
}

TEST_F(HostConsoleTest, NothingIsDrawnWhenDrawingIsOff) {
  host::DrawStatus(0);
  testing::internal::CaptureStderr();
  StatusSetText("hidden");
  StatusSetBar(10);
  StatusSetSpin();
  StatusClear();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(host::Status().barUpdates, 1) << "the state is kept even when not drawn";
}

// --- scripted user ---------------------------------------------------------------------

TEST_F(HostConsoleTest, QuestionsTakeQueuedAnswersInOrderThenTheDefault) {
  host::QueueAnswer(false);
  host::QueueAnswer(true);
  host::QueueAnswer(false);
  EXPECT_FALSE(QuestionDialog("q1"));
  EXPECT_TRUE(QuestionDialog("q2"));
  EXPECT_FALSE(QuestionDialog("q3"));
  EXPECT_TRUE(QuestionDialog("q4")) << "the default answer is Yes";
  host::SetDefaultAnswer(false);
  EXPECT_FALSE(QuestionDialog("q5"));
  host::QueueAnswer(true);
  EXPECT_TRUE(QuestionDialog("q6")) << "a queued answer goes before the default";
  EXPECT_FALSE(QuestionDialog("q7"));

  const std::vector<std::string> expected = {"q1", "q2", "q3", "q4", "q5", "q6", "q7"};
  EXPECT_EQ(host::MessageBoxes(), expected);
}

TEST_F(HostConsoleTest, BoxTypesMapAnswersToTheirButtons) {
  struct Case {
    LONG type;
    bool answer;
    LONG result;
  };
  const Case cases[] = {
      {GEMB_YESNO, true, GEMB_R_YES},       {GEMB_YESNO, false, GEMB_R_NO},
      {GEMB_YESNOCANCEL, true, GEMB_R_YES}, {GEMB_YESNOCANCEL, false, GEMB_R_NO},
      {GEMB_OKCANCEL, true, GEMB_R_OK},     {GEMB_OKCANCEL, false, GEMB_R_CANCEL},
  };
  for (const Case& c : cases) {
    host::QueueAnswer(c.answer);
    EXPECT_EQ(MessageDialog(c.type, "box"), c.result) << "type " << c.type << " answer " << c.answer;
  }
}

TEST_F(HostConsoleTest, PlainMessagesDoNotConsumeAnswers) {
  host::QueueAnswer(false);
  MessageDialog("Memory Allocation Error!\nno UVs");
  EXPECT_EQ(MessageDialog(GEMB_OK, "second"), GEMB_R_OK);
  EXPECT_EQ(MessageDialog(99, "unknown type"), GEMB_R_OK);
  EXPECT_FALSE(QuestionDialog("still queued"));
  ASSERT_EQ(host::MessageBoxes().size(), 4u);
  EXPECT_EQ(host::MessageBoxes()[0], "Memory Allocation Error!\nno UVs");

  host::ClearUserLog();
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(HostConsoleTest, EchoedBoxesAreFramedAndShowTheAnswer) {
  host::EchoMessageBoxes(true);
  testing::internal::CaptureStderr();
  MessageDialog("File Error!\nOpen Failed");
  host::QueueAnswer(false);
  QuestionDialog("Overwrite model.obj?");
  const std::string err = testing::internal::GetCapturedStderr();
  host::EchoMessageBoxes(false);

  EXPECT_NE(err.find("| File Error!\n| Open Failed\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Message"), std::string::npos) << err;
  EXPECT_NE(err.find("| Overwrite model.obj?\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Question"), std::string::npos) << err;
  EXPECT_NE(err.find(": No"), std::string::npos) << "the answer given is shown: " << err;
  EXPECT_EQ(err.find(": Yes"), std::string::npos) << err;

  testing::internal::CaptureStderr();
  MessageDialog("quiet");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(HostConsoleTest, FileSelectionUsesTheQueueAndCancelsWhenEmpty) {
  host::QueueFileSelection("/data/in/model.obj");
  host::QueueFileSelection("");  // the person cancels the second selector
  host::QueueFileSelection("/data/out");

  Filename name("unchanged.obj");
  const String title("Import OBJ");
  ASSERT_TRUE(name.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_LOAD, &title));
  EXPECT_EQ(name.GetString().Std(), "/data/in/model.obj");

  Filename cancelled("keep.obj");
  EXPECT_FALSE(cancelled.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_SAVE));
  EXPECT_EQ(cancelled.GetString().Std(), "keep.obj") << "a cancelled selector leaves the name alone";

  Filename folder;
  EXPECT_TRUE(folder.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_DIRECTORY));
  EXPECT_EQ(folder.GetString().Std(), "/data/out");

  Filename nothing("x");
  EXPECT_FALSE(nothing.FileSelect(FILESELECTTYPE_SCENES, FILESELECT_LOAD)) << "nothing queued: cancelled";
  EXPECT_EQ(nothing.GetString().Std(), "x");

  const auto& titles = host::FileSelectorTitles();
  ASSERT_EQ(titles.size(), 4u);
  EXPECT_EQ(titles[0], "Import OBJ");
  // Without a title each selector still gets a distinct one naming its purpose.
  EXPECT_FALSE(titles[1].empty());
  EXPECT_FALSE(titles[2].empty());
  EXPECT_NE(titles[1], titles[2]);
}

TEST_F(HostConsoleTest, NextFileSelectionLogsTheTitleAndHandsOutThePath) {
  std::string path = "before";
  EXPECT_FALSE(host::internal::NextFileSelection("Empty", &path));
  EXPECT_EQ(path, "before");
  host::QueueFileSelection("a b/c.mdd");
  EXPECT_TRUE(host::internal::NextFileSelection(nullptr, &path));
  EXPECT_EQ(path, "a b/c.mdd");
  const std::vector<std::string> titles = {"Empty", ""};
  EXPECT_EQ(host::FileSelectorTitles(), titles);
}

TEST_F(HostConsoleTest, ResetHostForgetsTheScript) {
  host::QueueAnswer(false);
  host::SetDefaultAnswer(false);
  host::QueueFileSelection("/somewhere.obj");
  MessageDialog("logged");
  host::ResetHost();
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(QuestionDialog("fresh")) << "queued and default answers are dropped";
  Filename name;
  EXPECT_FALSE(name.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_LOAD));
}

// --- clock -------------------------------------------------------------------------------

TEST_F(HostConsoleTest, ClockIsMonotonicAndTimerAgrees) {
  Real last = GeGetMilliSeconds();
  EXPECT_GE(last, 0.0);
  for (int i = 0; i < 1000; ++i) {
    const Real now = GeGetMilliSeconds();
    ASSERT_GE(now, last);
    last = now;
  }
  const LONG timer = GeGetTimer();
  const Real after = GeGetMilliSeconds();
  EXPECT_LE(static_cast<Real>(timer), after);
  EXPECT_GE(static_cast<Real>(timer), last - 1.0);
}

}  // namespace

// The console (a log the tests read, echoed on standard output), the status bar
// (drawn as one self-overwriting line on standard error) and the mouse pointer.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "c4d_general.h"
#include "host_control.h"
#include "host_internal.h"
#include "platform.h"

namespace {

constexpr double kRedrawIntervalMs = 50.0;  // at most ~20 redraws a second
constexpr int kBarCells = 20;
constexpr char kSpinner[] = {'|', '/', '-', '\\'};

// GePrint may come from evaluation threads; one lock covers console and status line
// because both share the terminal.
std::mutex g_mutex;

std::vector<std::string>& ConsoleLog() {
  static auto* lines = new std::vector<std::string>;
  return *lines;
}
bool g_echoConsole = true;
// Diagnostic console lines (the timing lines, "... elapsed = ...") are echoed too.
bool g_echoDiagnostics = true;
// Takes the lines not echoed (SetWithheldLineSink); called with g_mutex held or not.
std::atomic<host::LineSink> g_withheldSink{nullptr};

host::StatusState& StatusData() {
  static auto* state = new host::StatusState;
  return *state;
}

struct StatusLine {
  int mode = -1;              // DrawStatus: -1 auto, 0 never, 1 always
  bool shown = false;         // a line is on the terminal now
  size_t shownColumns = 0;    // its width, to blank it out
  double lastDrawMs = 0.0;
  bool drawnOnce = false;
  int spinFrame = 0;
  // The bar belongs to a stage that ended (the text changed since it was set): it is
  // not drawn with the next stage's text.
  bool barEnded = false;
  LONG drawnBar = -1;         // the bar value last drawn, -1 when none
  std::string prefix;         // SetStatusPrefix
};
StatusLine g_line;

bool Drawing() {
  if (g_line.mode == 0) return false;
  if (g_line.mode == 1) return true;
  static const bool stderrIsTerminal = host::platform::ErrorIsTerminal();
  return stderrIsTerminal;
}

size_t TerminalColumns() { return host::platform::ErrorColumns(); }

// Columns of UTF-8 text, counting one per code point.
size_t Columns(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The first `columns` code points of text.
std::string Clip(const std::string& text, size_t columns) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (n == columns) return text.substr(0, i);
      ++n;
    }
  }
  return text;
}

std::string Indicator(const host::StatusState& status) {
  if (status.bar >= 0 && !g_line.barEnded) {
    const int filled = status.bar * kBarCells / 100;
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kBarCells - filled), '.') + "] ";
    const std::string percent = std::to_string(status.bar) + "%";
    return bar + std::string(4 - std::min<size_t>(4, percent.size()), ' ') + percent;
  }
  if (status.spin) return std::string(1, kSpinner[g_line.spinFrame % 4]);
  return std::string();
}

// Caller holds g_mutex.
void EraseLocked() {
  if (!g_line.shown) return;
  std::string blank = "\r" + std::string(g_line.shownColumns, ' ') + "\r";
  std::fwrite(blank.data(), 1, blank.size(), stderr);
  std::fflush(stderr);
  g_line.shown = false;
  g_line.shownColumns = 0;
}

// Caller holds g_mutex. Unless forced, redraws are dropped when the last one was
// too recent: a loop may update the bar far more often than a person can see.
void DrawLocked(bool force) {
  if (!Drawing()) return;
  const double now = GeGetMilliSeconds();
  if (!force && g_line.drawnOnce && now - g_line.lastDrawMs < kRedrawIntervalMs) return;
  g_line.lastDrawMs = now;
  g_line.drawnOnce = true;

  const host::StatusState& status = StatusData();
  const std::string indicator = Indicator(status);
  const std::string text = g_line.prefix.empty() || status.text.empty() ? g_line.prefix + status.text
                                                                        : g_line.prefix + "  " + status.text;
  if (text.empty() && indicator.empty()) {
    EraseLocked();
    return;
  }
  // One column short of the width: a line that fills the terminal wraps, and '\r'
  // would then redraw only its second half.
  const size_t width = TerminalColumns() - 1;
  const size_t room = width > Columns(indicator) + 1 ? width - Columns(indicator) - 1 : 0;
  std::string line = Clip(text, room);
  if (!indicator.empty()) line += (line.empty() ? "" : " ") + indicator;
  line = Clip(line, width);

  const size_t columns = Columns(line);
  std::string out = "\r" + line;
  if (g_line.shown && g_line.shownColumns > columns) out += std::string(g_line.shownColumns - columns, ' ');
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
  g_line.shown = true;
  g_line.shownColumns = columns;
  g_line.drawnBar = status.bar >= 0 && !g_line.barEnded ? status.bar : -1;
}

// Caller holds g_mutex. The stage whose bar is shown ends (its text changes, or the
// status is cleared): it is drawn once more at 100 %, so that every stage is seen to
// finish however its last updates were throttled, and its bar is not carried into the
// next stage. The state keeps the value the plug-in set.
void FinishStageLocked() {
  host::StatusState& status = StatusData();
  if (status.bar < 0 || g_line.barEnded) return;
  if (Drawing() && g_line.drawnBar != 100) {
    const LONG bar = status.bar;
    status.bar = 100;
    DrawLocked(true);
    status.bar = bar;
  }
  g_line.barEnded = true;
  g_line.drawnBar = -1;
}

}  // namespace

void GePrint(const String& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ConsoleLog().push_back(text.Std());
  if (!g_echoConsole || (!g_echoDiagnostics && text.Std().find(" elapsed = ") != std::string::npos)) {
    host::internal::Withhold(text.Std());
    return;
  }
  static const bool stdoutIsTerminal = host::platform::OutputIsTerminal();
  const bool restore = g_line.shown && stdoutIsTerminal;
  if (restore) EraseLocked();
  std::string out = text.Std() + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  if (restore) DrawLocked(true);
}

void StatusSetText(const String& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (StatusData().text != text.Std()) FinishStageLocked();
  StatusData().text = text.Std();
  DrawLocked(false);
}

void StatusSetBar(LONG percent) {
  std::lock_guard<std::mutex> lock(g_mutex);
  host::StatusState& status = StatusData();
  status.bar = std::clamp<LONG>(percent, 0, 100);
  status.spin = false;
  g_line.barEnded = false;
  ++status.barUpdates;
  DrawLocked(false);
}

void StatusSetSpin() {
  std::lock_guard<std::mutex> lock(g_mutex);
  host::StatusState& status = StatusData();
  status.spin = true;
  status.bar = -1;
  ++g_line.spinFrame;
  DrawLocked(false);
}

void StatusClear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  FinishStageLocked();
  host::StatusState& status = StatusData();
  status.text.clear();
  status.bar = -1;
  status.spin = false;
  g_line.barEnded = false;
  EraseLocked();
}

void GeShowMouse(LONG state) {
  if (state < MOUSE_HIDE || state > MOUSE_BUSY) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  StatusData().mouse = state;
}

namespace host {

const std::vector<std::string>& ConsoleLines() { return ConsoleLog(); }

void ClearConsole() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ConsoleLog().clear();
}

void EchoConsole(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echoConsole = on;
}

void EchoDiagnostics(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echoDiagnostics = on;
}

void SetWithheldLineSink(LineSink sink) { g_withheldSink.store(sink); }

const StatusState& Status() { return StatusData(); }

void SetStatusPrefix(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_line.prefix = text;
  DrawLocked(true);
}

void DrawStatus(int mode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_line.mode = mode < 0 ? -1 : (mode > 0 ? 1 : 0);
  if (!Drawing()) EraseLocked();
}

}  // namespace host

namespace host::internal {

// Echo and drawing modes belong to the process (the shell's flags, the test main), so
// a reset empties the console and the status but leaves them as they are.
void ResetConsole() { host::ClearConsole(); }

void Withhold(const std::string& line) {
  if (const host::LineSink sink = g_withheldSink.load()) sink(line);
}

void LogConsoleLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ConsoleLog().push_back(line);
}

void ResetStatus() {
  std::lock_guard<std::mutex> lock(g_mutex);
  EraseLocked();
  StatusData() = host::StatusState();
  g_line.spinFrame = 0;
  g_line.drawnOnce = false;
  g_line.barEnded = false;
  g_line.drawnBar = -1;
}

void EraseStatusLine() {
  std::lock_guard<std::mutex> lock(g_mutex);
  EraseLocked();
}

void PrintAboveStatusLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const bool shown = g_line.shown;
  EraseLocked();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (shown) DrawLocked(true);
}

}  // namespace host::internal

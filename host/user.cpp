// The scripted user: answers message boxes, questions and file selectors from a
// script (queued answers, then a default), keeps every box text for the tests, and
// shows each box on standard error so a person running the shell sees it.
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "c4d_file.h"
#include "c4d_general.h"
#include "host_control.h"
#include "host_internal.h"

namespace {

struct ScriptedUser {
  std::deque<bool> answers;
  bool defaultAnswer = true;
  std::deque<std::string> selections;
  std::vector<std::string> boxes;
  std::vector<std::string> selectorTitles;
};

std::mutex g_mutex;
bool g_echo = true;

ScriptedUser& User() {
  static auto* user = new ScriptedUser;
  return *user;
}

// Caller holds g_mutex.
bool NextAnswerLocked() {
  ScriptedUser& user = User();
  if (user.answers.empty()) return user.defaultAnswer;
  const bool yes = user.answers.front();
  user.answers.pop_front();
  return yes;
}

void Echo(const std::string& text) {
  host::internal::EraseStatusLine();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// A framed box, so the text stands apart from console lines and the status line:
//   +-- Message -------------------
//   | File Error!
//   | Open Failed
//   +-- OK ------------------------
std::string FrameBox(const char* heading, const std::string& text, const std::string& buttons) {
  constexpr size_t kWidth = 60;
  auto rule = [&](const std::string& label) {
    std::string line = "+-- " + label + " ";
    if (line.size() < kWidth) line += std::string(kWidth - line.size(), '-');
    return line + "\n";
  };
  std::string out = "\n" + rule(heading);
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    out += "| " + text.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out + rule(buttons);
}

}  // namespace

LONG MessageDialog(LONG type, const String& text) {
  std::unique_lock<std::mutex> lock(g_mutex);
  User().boxes.push_back(text.Std());

  LONG result = GEMB_R_OK;
  std::string buttons = "OK";
  const char* heading = "Message";
  switch (type) {
    case GEMB_YESNO:
    case GEMB_YESNOCANCEL: {
      const bool yes = NextAnswerLocked();
      result = yes ? GEMB_R_YES : GEMB_R_NO;
      buttons = std::string(type == GEMB_YESNO ? "Yes / No" : "Yes / No / Cancel") + ": " + (yes ? "Yes" : "No");
      heading = "Question";
      break;
    }
    case GEMB_OKCANCEL: {
      const bool yes = NextAnswerLocked();
      result = yes ? GEMB_R_OK : GEMB_R_CANCEL;
      buttons = std::string("OK / Cancel: ") + (yes ? "OK" : "Cancel");
      heading = "Question";
      break;
    }
    default:  // GEMB_OK, and any unknown type is shown as a plain message
      break;
  }
  const bool echo = g_echo;
  lock.unlock();
  if (echo) Echo(FrameBox(heading, text.Std(), buttons));
  return result;
}

void MessageDialog(const String& text) { MessageDialog(GEMB_OK, text); }

Bool QuestionDialog(const String& text) { return MessageDialog(GEMB_YESNO, text) == GEMB_R_YES; }

Bool Filename::FileSelect(LONG type, LONG flags, const String* title) {
  (void)type;  // the scripted user picks by path; the file type only filters a real selector's list
  std::string heading;
  if (title && title->Content())
    heading = title->Std();
  else if (flags == FILESELECT_SAVE)
    heading = "Save File";
  else if (flags == FILESELECT_DIRECTORY)
    heading = "Select Folder";
  else
    heading = "Open File";
  std::string path;
  if (!host::internal::NextFileSelection(heading.c_str(), &path)) return FALSE;
  SetString(String(path));
  return TRUE;
}

namespace host {

void QueueAnswer(bool yes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().answers.push_back(yes);
}

void SetDefaultAnswer(bool yes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().defaultAnswer = yes;
}

void QueueFileSelection(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().selections.push_back(path);
}

const std::vector<std::string>& MessageBoxes() { return User().boxes; }

const std::vector<std::string>& FileSelectorTitles() { return User().selectorTitles; }

void ClearUserLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().boxes.clear();
  User().selectorTitles.clear();
}

void EchoMessageBoxes(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echo = on;
}

}  // namespace host

namespace host::internal {

bool NextFileSelection(const char* title, std::string* path) {
  const std::string heading = title ? title : "";
  std::unique_lock<std::mutex> lock(g_mutex);
  ScriptedUser& user = User();
  user.selectorTitles.push_back(heading);
  std::string chosen;
  if (!user.selections.empty()) {
    chosen = user.selections.front();
    user.selections.pop_front();
  }
  const bool echo = g_echo;
  lock.unlock();
  if (echo) Echo("[file selector] " + heading + ": " + (chosen.empty() ? std::string("(cancelled)") : chosen) + "\n");
  if (chosen.empty()) return false;
  if (path) *path = chosen;
  return true;
}

// The echo setting belongs to the process and stays; the script starts afresh.
void ResetUser() {
  std::lock_guard<std::mutex> lock(g_mutex);
  User() = ScriptedUser();
}

}  // namespace host::internal

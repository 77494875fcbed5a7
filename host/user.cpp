// The scripted user: answers message boxes, questions, file selectors, text entries
// and dialogs from a script (queued answers, then a default), keeps every box text and
// closed dialog for the tests, and shows each on standard error so a person running
// the shell sees it.
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "c4d_file.h"
#include "c4d_general.h"
#include "host_control.h"
#include "dialog_internal.h"
#include "host_internal.h"
#include "platform.h"

namespace {

struct ScriptedUser {
  std::deque<bool> answers;
  bool defaultAnswer = true;
  std::deque<std::string> selections;
  std::vector<std::string> boxes;
  std::vector<std::string> selectorTitles;
  std::deque<host::DialogAction> actions;
  bool dialogDefaultOk = true;
  bool strictDialogs = false;
  std::vector<std::string> dialogErrors;
  std::vector<host::DialogRecord> dialogs;
  // Text-entry answers: a text, or nothing for Cancel.
  std::deque<std::pair<bool, std::string>> renames;
  std::vector<std::string> renamePrompts;
  std::deque<LONG> keys;
  std::vector<std::string> opened;  // documents and addresses handed to the browser
  std::vector<std::string> saved;   // files put in place by safe saves
};

std::mutex g_mutex;
bool g_echo = true;
// The scripted user's trace lines ("[dialog] ...", "[file selector] ...", "[text entry] ...").
bool g_trace = true;

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

void Echo(const std::string& text) { host::internal::PrintAboveStatusLine(text); }

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

// A Ctrl+C waiting to be read as Escape, and the presses so far; set from a signal
// handler, hence lock-free.
std::atomic<bool> g_pendingInterrupt{false};
std::atomic<LLONG> g_interruptCount{0};

void OnInterrupt() {
  g_interruptCount.fetch_add(1);
  g_pendingInterrupt.store(true);
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

const std::vector<std::string>& OpenedInBrowser() { return User().opened; }

void ClearUserLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().opened.clear();
  User().boxes.clear();
  User().selectorTitles.clear();
  User().dialogErrors.clear();
  User().dialogs.clear();
  User().renamePrompts.clear();
  User().saved.clear();
}

std::vector<std::string> SavedFiles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return User().saved;
}

void EchoMessageBoxes(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echo = on;
}

void EchoTrace(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_trace = on;
}

const char* GadgetKindName(GadgetKind kind) {
  switch (kind) {
    case GadgetKind::Group: return "group";
    case GadgetKind::Static: return "static";
    case GadgetKind::Check: return "check";
    case GadgetKind::Radio: return "radio";
    case GadgetKind::Button: return "button";
    case GadgetKind::Integer: return "integer";
    case GadgetKind::Real: return "real";
    case GadgetKind::Text: return "text";
    case GadgetKind::Popup: return "popup";
    case GadgetKind::UserArea: return "userarea";
    case GadgetKind::ListView: return "listview";
  }
  return "?";
}

namespace {
DialogAction MakeAction(DialogAction::Kind kind, std::string gadget) {
  DialogAction a;
  a.kind = kind;
  a.gadget = std::move(gadget);
  return a;
}
}  // namespace

DialogAction DialogAction::Set(std::string gadget, std::string value) {
  DialogAction a = MakeAction(Kind::Set, std::move(gadget));
  a.text = std::move(value);
  return a;
}
DialogAction DialogAction::Integer(std::string gadget, LLONG value) {
  DialogAction a = MakeAction(Kind::Integer, std::move(gadget));
  a.number = value;
  return a;
}
DialogAction DialogAction::Decimal(std::string gadget, Real value) {
  DialogAction a = MakeAction(Kind::Decimal, std::move(gadget));
  a.decimal = value;
  return a;
}
DialogAction DialogAction::Text(std::string gadget, std::string text) {
  DialogAction a = MakeAction(Kind::Text, std::move(gadget));
  a.text = std::move(text);
  return a;
}
DialogAction DialogAction::Tick(std::string gadget, bool on) {
  DialogAction a = MakeAction(Kind::Tick, std::move(gadget));
  a.on = on;
  return a;
}
DialogAction DialogAction::ChooseIndex(std::string gadget, LLONG index) {
  DialogAction a = MakeAction(Kind::ChooseIndex, std::move(gadget));
  a.number = index;
  return a;
}
DialogAction DialogAction::ChooseLabel(std::string gadget, std::string label) {
  DialogAction a = MakeAction(Kind::ChooseLabel, std::move(gadget));
  a.text = std::move(label);
  return a;
}
DialogAction DialogAction::Click(std::string gadget) { return MakeAction(Kind::Click, std::move(gadget)); }
DialogAction DialogAction::Highlight(std::string gadget, std::vector<LONG> rows) {
  DialogAction a = MakeAction(Kind::Highlight, std::move(gadget));
  a.rows = std::move(rows);
  return a;
}
DialogAction DialogAction::HighlightLabels(std::string gadget, std::vector<std::string> labels) {
  DialogAction a = MakeAction(Kind::Highlight, std::move(gadget));
  a.labels = std::move(labels);
  return a;
}
DialogAction DialogAction::Ok() { return MakeAction(Kind::Ok, std::string()); }
DialogAction DialogAction::Cancel() { return MakeAction(Kind::Cancel, std::string()); }
DialogAction DialogAction::For(std::string dialogName) const {
  DialogAction a = *this;
  a.dialog = std::move(dialogName);
  return a;
}

const GadgetRecord* DialogRecord::Find(LONG id) const {
  for (const GadgetRecord& g : gadgets)
    if (g.id == id) return &g;
  return nullptr;
}

void QueueDialogAction(const DialogAction& action) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().actions.push_back(action);
}

void SetDialogDefault(bool ok) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().dialogDefaultOk = ok;
}

void SetStrictDialogs(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().strictDialogs = on;
}

const std::vector<std::string>& DialogErrors() { return User().dialogErrors; }

const std::vector<DialogRecord>& DialogLog() { return User().dialogs; }

void QueueRenameText(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().renames.emplace_back(true, text);
}

void QueueRenameCancel() {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().renames.emplace_back(false, std::string());
}

const std::vector<std::string>& RenamePrompts() { return User().renamePrompts; }

void QueueKey(LONG channel) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().keys.push_back(channel);
}

void PumpDialogs() { internal::PumpAsyncDialogs(); }

void EscapeOnInterrupt() { platform::CatchInterrupt(OnInterrupt); }

LLONG InterruptCount() { return g_interruptCount.load(); }

void SimulateInterrupt() { OnInterrupt(); }

}  // namespace host

namespace host::internal {

namespace {
bool Matches(const DialogIdentity& who, const std::string& name) {
  if (name.empty()) return who.modal;
  if (who.resourceId != 0 && name == std::to_string(who.resourceId)) return true;
  if (who.pluginId != 0 && name == std::to_string(who.pluginId)) return true;
  return (!who.symbol.empty() && name == who.symbol) || (!who.title.empty() && name == who.title);
}
}  // namespace

bool NextDialogAction(const DialogIdentity& who, DialogAction* action) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& actions = User().actions;
  for (auto it = actions.begin(); it != actions.end(); ++it) {
    if (!Matches(who, it->dialog)) continue;
    *action = std::move(*it);
    actions.erase(it);
    return true;
  }
  return false;
}

bool DialogDefaultOk() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return User().dialogDefaultOk;
}

bool StrictDialogs() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return User().strictDialogs;
}

void DropDialogActions(const DialogIdentity& who) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& actions = User().actions;
  for (auto it = actions.begin(); it != actions.end();) it = Matches(who, it->dialog) ? actions.erase(it) : it + 1;
}

void ReportDialogError(const std::string& text) {
  std::unique_lock<std::mutex> lock(g_mutex);
  User().dialogErrors.push_back(text);
  const bool echo = g_echo && g_trace;
  lock.unlock();
  if (echo)
    Echo("[dialog] " + text + "\n");
  else
    host::internal::Withhold("[dialog] " + text);
}

void RecordDialog(DialogRecord record) {
  std::unique_lock<std::mutex> lock(g_mutex);
  std::string line = "[dialog] " + record.title + ": " + (record.confirmed ? "OK" : "closed");
  User().dialogs.push_back(std::move(record));
  const bool echo = g_echo && g_trace;
  lock.unlock();
  if (echo)
    Echo(line + "\n");
  else
    host::internal::Withhold(line);
}

LONG NextKey() {
  if (g_pendingInterrupt.exchange(false)) return KEY_ESC;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& keys = User().keys;
  if (keys.empty()) return 0;
  const LONG key = keys.front();
  keys.pop_front();
  return key;
}

bool NextRenameAnswer(const std::string& shown, std::string* entered) {
  std::unique_lock<std::mutex> lock(g_mutex);
  ScriptedUser& user = User();
  user.renamePrompts.push_back(shown);
  bool ok = true;
  std::string text = shown;
  if (!user.renames.empty()) {
    ok = user.renames.front().first;
    text = user.renames.front().second;
    user.renames.pop_front();
  }
  const bool echo = g_echo && g_trace;
  lock.unlock();
  const std::string line = "[text entry] " + shown + ": " + (ok ? text : std::string("(cancelled)"));
  if (echo)
    Echo(line + "\n");
  else
    host::internal::Withhold(line);
  if (ok) *entered = text;
  return ok;
}

void EchoUserLine(const std::string& text) {
  std::unique_lock<std::mutex> lock(g_mutex);
  const bool echo = g_echo;
  lock.unlock();
  if (echo) Echo(text + "\n");
}


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
  const bool echo = g_echo && g_trace;
  lock.unlock();
  const std::string line = "[file selector] " + heading + ": " + (chosen.empty() ? std::string("(cancelled)") : chosen);
  if (echo)
    Echo(line + "\n");
  else
    host::internal::Withhold(line);
  if (chosen.empty()) return false;
  if (path) *path = chosen;
  return true;
}

// The echo setting belongs to the process and stays; the script starts afresh.
void ResetUser() {
  std::lock_guard<std::mutex> lock(g_mutex);
  User() = ScriptedUser();
  g_pendingInterrupt.store(false);
}

void RecordSaved(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().saved.push_back(path);
}

}  // namespace host::internal

Bool GeOpenHTML(const String& webaddress) {
  std::lock_guard<std::mutex> lock(g_mutex);
  User().opened.push_back(webaddress.Std());
  return TRUE;
}

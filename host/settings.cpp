// World plug-in settings: one container per plug-in ID, all kept in one file of the
// per-user settings folder, shared by every host process of the user. The file is read
// on first use; every change reads it again, applies itself and writes it whole (safely),
// under an advisory lock of the folder's lock file, so that concurrent processes never
// lose each other's changes. A preview keeps its changes in memory.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "c4d_basecontainer.h"
#include "c4d_general.h"
#include "container_codec.h"
#include "host_control.h"
#include "host_internal.h"
#include "platform.h"

namespace {

constexpr char kSettingsMagic[8] = {'K', 'V', 'S', 'E', 'T', 'T', 'N', 'G'};
constexpr const char* kSettingsFileName = "settings.kvs";
constexpr const char* kLockFileName = "settings.kvs.lock";
// Updates hold the lock for milliseconds; a holder this slow is stuck, and waiting longer
// would hang the command.
constexpr int kLockWaitMs = 20000;

struct SettingsState {
  std::string folderOverride;
  bool loaded = false;
  // Entry ID = plug-in ID, value = that plug-in's container.
  BaseContainer store;
  // A failing folder is reported on the first failed save, not on every one after.
  bool writeFailureReported = false;
  // A preview: changes stay in memory and the file is left as it is.
  bool inMemory = false;
  // A damaged file read in memory-only mode, still in its place.
  bool damagedInPlace = false;
  // The open update: its depth, the lock file's descriptor (-1 when not locked) and
  // whether the update changed anything.
  int updateDepth = 0;
  int lockFd = -1;
  bool updateLocked = false;
  bool dirty = false;
  std::string lockProblem;      // why the open update could not lock ("" when it did)
  // Containers changed here whose save failed: a later read of the file must not undo
  // them, and the next good save writes them.
  std::set<LONG> unsaved;
  std::string lastSaveError;    // why the last save failed ("" after a good one)
};

SettingsState& State() {
  static SettingsState state;
  return state;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// A line for the console log; with alsoStderr it is printed on standard error (once per
// run: a file read again in memory-only mode is not reported again) instead of echoed.
void Report(const std::string& line, bool alsoStderr) {
  if (!alsoStderr) {
    GePrint(String(line));
    return;
  }
  static std::set<std::string> reported;
  if (!reported.insert(line).second) return;
  host::internal::LogConsoleLine(line);
  host::internal::PrintAboveStatusLine(line + "\n");
}

// Moves a file that cannot be used out of the way, so that the next save starts a
// fresh one while the old bytes stay available to the user.
void SetAside(const std::string& path, const std::string& problem) {
  const std::string aside = path + ".damaged";
  std::string line = "Kelvane host: settings file '" + path + "' " + problem;
  if (State().inMemory) {
    State().damagedInPlace = true;
    line += "; starting with empty settings (the file is left as it is)";
  } else if (host::platform::Rename(path, aside)) {
    line += "; kept as '" + aside + "', starting with empty settings";
  } else {
    line += "; it could not be kept aside (" + std::string(std::strerror(errno)) + "), starting with empty settings";
  }
  Report(line, true);
}

void EnsureLoaded() {
  if (!State().loaded) host::LoadSettings();
}

bool EnsureFolder(std::string* error);

bool WriteStore(std::string* error) {
  if (!EnsureFolder(error)) return false;
  return host::internal::WriteContainerFile(host::SettingsFile(), State().store, kSettingsMagic, error);
}

bool Save() {
  SettingsState& state = State();
  if (state.inMemory) return true;
  const std::string path = host::SettingsFile();
  std::string error;
  if (!state.lockProblem.empty()) {
    error = state.lockProblem;  // writing unlocked could drop another process's change
  } else if (WriteStore(&error)) {
    state.writeFailureReported = false;
    state.lastSaveError.clear();
    state.unsaved.clear();
    return true;
  }
  state.lastSaveError = "cannot save the settings to '" + path + "': " + error;
  if (!state.writeFailureReported) {
    state.writeFailureReported = true;
    Report("Kelvane host: cannot save the settings to '" + path + "' (" + error +
               "); changes are kept only until the host ends",
           false);
  }
  return false;
}


bool EnsureFolder(std::string* error) {
  const std::string folder = host::SettingsFolder();
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::u8path(folder), ec)) return true;
  std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
  if (ec) {
    *error = "cannot create the folder '" + folder + "': " + ec.message();
    return false;
  }
  return true;
}

// Takes the settings lock: an advisory lock on a lock file beside the store, which
// (unlike the store) is never replaced. The system drops the lock of a process that dies.
bool TakeLock(std::string* problem) {
  SettingsState& state = State();
  if (!EnsureFolder(problem)) return false;
  const std::string path = host::SettingsFolder() + "/" + kLockFileName;
  const int fd = host::platform::OpenLockFile(path);
  if (fd < 0) {
    *problem = "cannot open the lock file '" + path + "': " + std::strerror(errno);
    return false;
  }
  for (int waited = 0;; waited += 2) {
    bool busy = false;
    if (host::platform::TryLock(fd, &busy)) break;
    if (!busy) {
      *problem = "cannot lock '" + path + "': " + std::strerror(errno);
      host::platform::Close(fd);
      return false;
    }
    if (waited >= kLockWaitMs) {
      *problem = "another process has held the lock '" + path + "' for " + std::to_string(kLockWaitMs / 1000) +
                 " seconds";
      host::platform::Close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  state.lockFd = fd;
  return true;
}

void DropLock() {
  SettingsState& state = State();
  if (state.lockFd < 0) return;
  host::platform::Unlock(state.lockFd);
  host::platform::Close(state.lockFd);
  state.lockFd = -1;
}

// Brings the store in memory up to the file: what another process stored since is
// taken, container by container, assigned in place so that pointers stay valid.
// Containers the file does not hold stay as they are.
void Reread() {
  SettingsState& state = State();
  // A preview works on the settings as they were first read.
  if (state.damagedInPlace || state.inMemory) return;
  const std::string path = host::SettingsFile();
  if (!host::platform::Status(path, nullptr, false)) return;
  BaseContainer read;
  std::string error;
  bool unreadable = false;
  if (!host::internal::ReadContainerFile(path, &read, kSettingsMagic, &error, &unreadable)) {
    SetAside(path, (unreadable ? "cannot be read (" : "is damaged (") + error + ")");
    return;
  }
  for (LONG i = 0; i < read.GetEntryCount(); ++i) {
    const BaseContainer* stored = read.GetIndexData(i)->GetContainer();
    if (!stored) continue;
    const LONG id = read.GetIndexId(i);
    if (state.unsaved.count(id)) continue;
    if (BaseContainer* existing = state.store.GetContainerInstance(id))
      *existing = *stored;
    else
      state.store.SetContainer(id, *stored);
  }
}

}  // namespace

namespace host {

void SetSettingsFolder(const std::string& folder) {
  UnloadSettings();
  State().folderOverride = folder;
}

std::string SettingsFolder() {
  const SettingsState& state = State();
  if (!state.folderOverride.empty()) return state.folderOverride;
  const std::string dir = Env("KELVANE_SETTINGS_DIR");
  if (!dir.empty()) return dir;
  return platform::DefaultSettingsFolder();
}

std::string SettingsFile() { return SettingsFolder() + "/" + kSettingsFileName; }

void LoadSettings() {
  SettingsState& state = State();
  state.store = BaseContainer();
  state.unsaved.clear();
  state.loaded = true;
  const std::string path = SettingsFile();
  if (!platform::Status(path, nullptr, false) && (errno == ENOENT || errno == ENOTDIR)) return;  // first run

  BaseContainer read;
  std::string error;
  bool unreadable = false;
  if (!internal::ReadContainerFile(path, &read, kSettingsMagic, &error, &unreadable)) {
    SetAside(path, (unreadable ? "cannot be read (" : "is damaged (") + error + ")");
    return;
  }
  for (LONG i = 0; i < read.GetEntryCount(); ++i) {
    if (read.GetIndexData(i)->GetType() != DA_CONTAINER) {
      SetAside(path, "is damaged (entry " + std::to_string(read.GetIndexId(i)) + " is not a container)");
      return;
    }
  }
  state.store = std::move(read);
}

void UnloadSettings() { internal::ResetSettings(); }

void KeepSettingsInMemory(bool on) { State().inMemory = on; }

std::string SettingsSaveError() { return State().lastSaveError; }

bool WriteSettings(std::string* error) {
  EnsureLoaded();  // an unread store is not an empty one
  SettingsState& state = State();
  if (state.damagedInPlace) {
    // The damaged bytes stay available, as they do when the file is read for writing.
    const std::string path = SettingsFile();
    if (platform::Rename(path, path + ".damaged"))
      Report("Kelvane host: the damaged settings file is kept as '" + path + ".damaged'", true);
    state.damagedInPlace = false;
  }
  std::string why;
  if (WriteStore(&why)) {
    state.unsaved.clear();
    return true;
  }
  if (error) *error = "cannot save the settings to '" + SettingsFile() + "': " + why;
  return false;
}

}  // namespace host

namespace host::internal {

void ResetSettings() {
  // The folder stays: a reset host must not fall back to the user's own settings.
  SettingsState& state = State();
  state.loaded = false;
  state.store = BaseContainer();
  state.writeFailureReported = false;
  state.damagedInPlace = false;
  DropLock();
  state.updateDepth = 0;
  state.updateLocked = false;
  state.dirty = false;
  state.lockProblem.clear();
  state.lastSaveError.clear();
  state.unsaved.clear();
}

}  // namespace host::internal

BaseContainer* GetWorldPluginData(LONG id) {
  EnsureLoaded();
  return State().store.GetContainerInstance(id);
}

Bool SetWorldPluginData(LONG id, const BaseContainer& bc, Bool add) {
  EnsureLoaded();
  // A copy first: bc may be the stored container itself or lie inside it, and the update
  // below reads the file into the store.
  const BaseContainer value(bc);
  const bool own = State().updateDepth == 0;
  if (own) BeginWorldPluginDataUpdate();
  BaseContainer& store = State().store;
  BaseContainer* existing = store.GetContainerInstance(id);
  bool changed = true;
  if (!existing) {
    store.SetContainer(id, value);
  } else {
    const BaseContainer before(*existing);
    if (add) {
      for (LONG i = 0; i < value.GetEntryCount(); ++i) existing->SetData(value.GetIndexId(i), *value.GetIndexData(i));
    } else {
      // Assigned in place so that pointers from GetWorldPluginData stay valid.
      *existing = value;
    }
    changed = *existing != before;
  }
  // Storing what is stored already leaves the file alone (every run of a command stores
  // its presets); a change that could not be saved before is saved with this one.
  if (changed || !State().unsaved.empty()) {
    State().dirty = true;
    if (!State().inMemory) State().unsaved.insert(id);
  }
  return own ? EndWorldPluginDataUpdate() : TRUE;
}

Bool BeginWorldPluginDataUpdate() {
  EnsureLoaded();
  SettingsState& state = State();
  if (state.updateDepth++ > 0) return state.updateLocked;
  state.dirty = false;
  state.lockProblem.clear();
  state.updateLocked = state.inMemory || TakeLock(&state.lockProblem);
  Reread();
  return state.updateLocked;
}

Bool EndWorldPluginDataUpdate() {
  SettingsState& state = State();
  if (state.updateDepth == 0) return TRUE;
  if (--state.updateDepth > 0) return TRUE;
  const bool saved = !state.dirty || Save();
  state.dirty = false;
  state.lockProblem.clear();
  state.updateLocked = false;
  DropLock();
  return saved;
}

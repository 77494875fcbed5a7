// World plug-in settings: one container per plug-in ID, all kept in one file of the
// per-user settings folder. The file is read on first use and rewritten (atomically)
// on every change, unless a preview keeps the changes in memory.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "c4d_basecontainer.h"
#include "c4d_general.h"
#include "container_codec.h"
#include "host_control.h"
#include "host_internal.h"

namespace {

constexpr char kSettingsMagic[8] = {'K', 'V', 'S', 'E', 'T', 'T', 'N', 'G'};
constexpr const char* kSettingsFileName = "settings.kvs";

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
};

SettingsState& State() {
  static SettingsState state;
  return state;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return ".";
}

void Report(const std::string& line, bool alsoStderr) {
  GePrint(String(line));
  if (alsoStderr) std::fprintf(stderr, "%s\n", line.c_str());
}

// Moves a file that cannot be used out of the way, so that the next save starts a
// fresh one while the old bytes stay available to the user.
void SetAside(const std::string& path, const std::string& problem) {
  const std::string aside = path + ".damaged";
  std::string line = "Kelvane host: settings file '" + path + "' " + problem;
  if (State().inMemory) {
    State().damagedInPlace = true;
    line += "; starting with empty settings (the file is left as it is)";
  } else if (::rename(path.c_str(), aside.c_str()) == 0) {
    line += "; kept as '" + aside + "', starting with empty settings";
  } else {
    line += "; it could not be kept aside (" + std::string(std::strerror(errno)) + "), starting with empty settings";
  }
  Report(line, true);
}

void EnsureLoaded() {
  if (!State().loaded) host::LoadSettings();
}

bool WriteStore(std::string* error) {
  const std::string folder = host::SettingsFolder();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      *error = "cannot create the folder '" + folder + "': " + ec.message();
      return false;
    }
  }
  return host::internal::WriteContainerFile(host::SettingsFile(), State().store, kSettingsMagic, error);
}

bool Save() {
  SettingsState& state = State();
  if (state.inMemory) return true;
  const std::string path = host::SettingsFile();
  std::string error;
  if (WriteStore(&error)) {
    state.writeFailureReported = false;
    return true;
  }
  if (!state.writeFailureReported) {
    state.writeFailureReported = true;
    Report("Kelvane host: cannot save the settings to '" + path + "' (" + error +
               "); changes are kept only until the host ends",
           false);
  }
  return false;
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
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const std::string xdg = Env("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/kelvane";
  return HomeFolder() + "/.config/kelvane";
}

std::string SettingsFile() { return SettingsFolder() + "/" + kSettingsFileName; }

void LoadSettings() {
  SettingsState& state = State();
  state.store = BaseContainer();
  state.loaded = true;
  const std::string path = SettingsFile();
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return;  // first run

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

bool WriteSettings(std::string* error) {
  EnsureLoaded();  // an unread store is not an empty one
  SettingsState& state = State();
  if (state.damagedInPlace) {
    // The damaged bytes stay available, as they do when the file is read for writing.
    const std::string path = SettingsFile();
    if (::rename(path.c_str(), (path + ".damaged").c_str()) == 0)
      Report("Kelvane host: the damaged settings file is kept as '" + path + ".damaged'", true);
    state.damagedInPlace = false;
  }
  std::string why;
  if (WriteStore(&why)) return true;
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
}

}  // namespace host::internal

BaseContainer* GetWorldPluginData(LONG id) {
  EnsureLoaded();
  return State().store.GetContainerInstance(id);
}

Bool SetWorldPluginData(LONG id, const BaseContainer& bc, Bool add) {
  EnsureLoaded();
  // A copy first: bc may be the stored container itself or lie inside it.
  const BaseContainer value(bc);
  BaseContainer& store = State().store;
  BaseContainer* existing = store.GetContainerInstance(id);
  if (!existing) {
    store.SetContainer(id, value);
  } else if (add) {
    for (LONG i = 0; i < value.GetEntryCount(); ++i) existing->SetData(value.GetIndexId(i), *value.GetIndexData(i));
  } else {
    // Assigned in place so that pointers from GetWorldPluginData stay valid.
    *existing = value;
  }
  return Save();
}

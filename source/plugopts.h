// Named option presets of both sides, kept in the host's world plug-in settings: the
// import list in container 1022494, the export list (and the last export path) in
// 1022493. Entry 0 of each list is "Last Used", then come the built-ins and the
// user's own presets. Every method exists once per side; PluginOpts::Side picks it.
//
// Several hosts may share the settings. The store remembers each preset as it was
// loaded, and Save merges: under the settings lock it reads the stored lists anew and
// applies only what this store changed (presets added, changed or deleted, "Last Used"
// and the last path when they changed), so that changes saved meanwhile by another host
// are kept.
#pragma once

#include "linknode.h"
#include "optrecord.h"

// Container IDs of the two stored lists.
enum : LONG {
  PRESETS_IMPORT_CONTAINER = 1022494,
  PRESETS_EXPORT_CONTAINER = 1022493,
  PRESETS_COUNT = 1000,
  PRESETS_VERSION = 1001,
  PRESETS_LAST_PATH = 1003,  // export container only
  PRESETS_FIRST_ENTRY = 2000,
  PRESETS_IMPORT_VERSION = 3,
  PRESETS_EXPORT_VERSION = 1,
};

class PresetStore {
 public:
  using Side = PluginOpts::Side;

  PresetStore();
  ~PresetStore();
  PresetStore(const PresetStore&) = delete;
  PresetStore& operator=(const PresetStore&) = delete;

  // Reads both lists from the settings (regenerating the defaults when either container
  // is missing), upgrades presets of older versions, selects entry 0 of each side and
  // saves. False only when the defaults could not be regenerated.
  Bool Load();
  // Makes the working records "Last Used", merges this store's changes into the stored
  // lists (see above), takes the merged lists as its own and writes both containers.
  // False when the settings could not be saved.
  Bool Save();
  // Fills both lists with "Last Used" and the four built-ins and saves.
  Bool RegenerateDefaults();
  // Forgets the stored state Save merges against (the next Load learns it again); a save
  // before then writes the lists as they are. For the end of a dialog run, so that the
  // store holds nothing but its lists between runs.
  void ForgetStored();

  // Entry i becomes the current one and is copied into the working record (no entry i:
  // current is null, the record stays).
  void SelectPreset(Side side, LONG i);
  // Copies the working record into entry i; nothing when there is none.
  void OverwritePreset(Side side, LONG i);
  // Appends a copy of the working record named name (unprotected, presetId -1);
  // returns its index, or -1 when memory was missing.
  LONG AddPreset(Side side, const String& name);
  // Frees entry i and selects entry 0, unless i is 0 or the working record or entry i
  // is protected; returns the count afterwards.
  LONG DeletePreset(Side side, LONG i);
  // The name of entry i, or null.
  const String* GetPresetName(Side side, LONG i) const;
  // Renames entry i (and the working record when i is current); false when there is
  // no entry i.
  Bool RenamePreset(Side side, LONG i, const String& name);

  LONG Count(Side side) const { return side == PluginOpts::IMPORT_SIDE ? importCount : exportCount; }
  LONG Index(Side side) const { return side == PluginOpts::IMPORT_SIDE ? importIndex : exportIndex; }
  PluginOpts& Opts(Side side) { return side == PluginOpts::IMPORT_SIDE ? importOpts : exportOpts; }
  const PluginOpts& Opts(Side side) const { return side == PluginOpts::IMPORT_SIDE ? importOpts : exportOpts; }
  // Entry i, or null.
  PluginOpts* Entry(Side side, LONG i) const;

  LONG importCount = 0;
  LONG exportCount = 0;
  LONG importIndex = 0;
  LONG exportIndex = 0;
  LONG importVersion = 0;
  LONG exportVersion = 0;
  String lastPath;
  PluginOpts importOpts;
  PluginOpts exportOpts;
  linkList importList;  // owned PluginOpts payloads
  linkList exportList;
  PluginOpts* currentImportEntry = nullptr;
  PluginOpts* currentExportEntry = nullptr;

 private:
  linkList& List(Side side) { return side == PluginOpts::IMPORT_SIDE ? importList : exportList; }
  const linkList& List(Side side) const { return side == PluginOpts::IMPORT_SIDE ? importList : exportList; }
  LONG& CountRef(Side side) { return side == PluginOpts::IMPORT_SIDE ? importCount : exportCount; }
  LONG& IndexRef(Side side) { return side == PluginOpts::IMPORT_SIDE ? importIndex : exportIndex; }
  PluginOpts*& Current(Side side) { return side == PluginOpts::IMPORT_SIDE ? currentImportEntry : currentExportEntry; }
  // A preset as loaded or last saved, and the working record that came from it (null
  // once deleted).
  struct Origin {
    BaseContainer stored;
    PluginOpts* entry = nullptr;
  };
  void FreeList(Side side);
  void FreeOrigins(Side side);
  // Remembers the lists as they are now as the stored state.
  void RememberStored(Side side);
  // Replaces the side's list by the stored one with this store's changes applied; false
  // when the stored list could not be read whole for want of memory (nothing changes).
  Bool MergeStored(Side side);
  // Applies the version upgrade of side to the records of list, stored with version.
  static void UpgradeList(Side side, linkList& list, LONG version);
  // Appends the presets of bc to list; returns how many bc holds (fewer are appended
  // when memory runs out).
  LONG LoadList(Side side, const BaseContainer& bc, linkList& list);
  linkList& Origins(Side side) { return side == PluginOpts::IMPORT_SIDE ? importOrigins : exportOrigins; }
  // What the origins of a side say: the stored state is known; the list was made without
  // a stored one (a stored list found at Save wins); or the origins are incomplete for
  // want of memory (the list is saved as it is).
  enum Base { BASE_KNOWN, BASE_REGENERATED, BASE_UNKNOWN };
  Base& BaseOf(Side side) { return side == PluginOpts::IMPORT_SIDE ? importBase : exportBase; }
  linkList importOrigins;  // owned Origin payloads, in list order
  linkList exportOrigins;
  Base importBase = BASE_UNKNOWN;
  Base exportBase = BASE_UNKNOWN;
  String lastPathStored;
  // Appends a copy of opts; false when memory was missing (the list is unchanged).
  Bool AppendCopy(Side side, const PluginOpts& opts);
  void LoadSide(Side side, const BaseContainer& bc);
  void Upgrade();
  BaseContainer BuildContainer(Side side) const;
};

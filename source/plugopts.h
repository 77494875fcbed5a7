// Named option presets of both sides, kept in the host's world plug-in settings: the
// import list in container 1022494, the export list (and the last export path) in
// 1022493. Entry 0 of each list is "Last Used", then come the built-ins and the
// user's own presets. Every method exists once per side; PluginOpts::Side picks it.
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
  // Makes the working records "Last Used", copies them into entry 0 and writes both
  // containers whole.
  Bool Save();
  // Fills both lists with "Last Used" and the four built-ins and saves.
  Bool RegenerateDefaults();

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
  void FreeList(Side side);
  // Appends a copy of opts; false when memory was missing (the list is unchanged).
  Bool AppendCopy(Side side, const PluginOpts& opts);
  void LoadSide(Side side, const BaseContainer& bc);
  void Upgrade();
  BaseContainer BuildContainer(Side side) const;
};

#include "plugopts.h"

namespace {

constexpr PluginOpts::Side kImport = PluginOpts::IMPORT_SIDE;
constexpr PluginOpts::Side kExport = PluginOpts::EXPORT_SIDE;
constexpr PluginOpts::Side kSides[] = {kImport, kExport};

const PresetTableEntry* Table(PluginOpts::Side side) {
  return side == kImport ? kImportPresetTable : kExportPresetTable;
}

LONG ContainerId(PluginOpts::Side side) {
  return side == kImport ? PRESETS_IMPORT_CONTAINER : PRESETS_EXPORT_CONTAINER;
}

PluginOpts* Payload(const linkNode* node) { return static_cast<PluginOpts*>(node->Data()); }

}  // namespace

PresetStore::PresetStore() {
  for (const Side side : kSides) {
    Opts(side).SetFromTable(Table(side)[0]);
    Opts(side).name = String("Last Used");
  }
}

PresetStore::~PresetStore() {
  FreeList(kImport);
  FreeList(kExport);
}

void PresetStore::FreeList(Side side) {
  linkList& list = List(side);
  for (linkNode* node = list.First(); node; node = node->Next()) {
    PluginOpts* opts = Payload(node);
    gDelete(opts);
  }
  list.Clear();
  Current(side) = nullptr;
}

Bool PresetStore::AppendCopy(Side side, const PluginOpts& opts) {
  PluginOpts* copy = gNew PluginOpts;
  if (!copy) return FALSE;
  *copy = opts;
  if (!List(side).Append(copy)) {
    gDelete(copy);
    return FALSE;
  }
  return TRUE;
}

PluginOpts* PresetStore::Entry(Side side, LONG i) const {
  if (i < 0) return nullptr;
  return static_cast<PluginOpts*>(List(side).GetData(static_cast<ULONG>(i)));
}

Bool PresetStore::Load() {
  if (!GetWorldPluginData(PRESETS_IMPORT_CONTAINER) || !GetWorldPluginData(PRESETS_EXPORT_CONTAINER)) {
    if (!RegenerateDefaults()) return FALSE;
  }
  for (const Side side : kSides) {
    // Regeneration can have failed to store (a full disk keeps the settings in memory
    // only); an absent container then reads as empty.
    const BaseContainer* stored = GetWorldPluginData(ContainerId(side));
    LoadSide(side, stored ? *stored : BaseContainer());
  }
  Upgrade();
  return TRUE;
}

void PresetStore::LoadSide(Side side, const BaseContainer& bc) {
  (side == kImport ? importVersion : exportVersion) = bc.GetLong(PRESETS_VERSION, 0);
  if (side == kExport) lastPath = bc.GetString(PRESETS_LAST_PATH, String());
  LONG count = bc.GetLong(PRESETS_COUNT, 0);
  if (count <= 0) return;
  FreeList(side);
  PluginOpts defaults;
  defaults.SetFromTable(Table(side)[0]);
  for (LONG i = 0; i < count; ++i) {
    // A damaged count must not make the loop run for billions of missing entries: every
    // preset that exists has its container, so stop at the first absent one past the
    // stored presets.
    const GeData* entry = bc.GetDataPointer(PRESETS_FIRST_ENTRY + i);
    if (!entry && i >= 4096) break;
    PluginOpts opts;
    opts.Load(entry && entry->GetContainer() ? *entry->GetContainer() : BaseContainer(), side, defaults);
    AppendCopy(side, opts);
  }
  CountRef(side) = List(side).Count();
}

void PresetStore::Upgrade() {
  if (importVersion != PRESETS_IMPORT_VERSION) {
    for (linkNode* node = importList.First(); node; node = node->Next()) {
      PluginOpts* opts = Payload(node);
      if (opts->geomFlags & PRESET_CURRENT_VERSION) {
        opts->geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
        continue;
      }
      if (importVersion == 0) {
        opts->layoutFlags |= 0x7C0000;
        opts->materialFlags |= (opts->geomFlags & GEOM_MATERIALS) ? (MAT_REUSE | MAT_REWRITE_REUSED) : MAT_NONE;
      }
      if (importVersion == 0 || importVersion == 1) opts->layoutFlags |= IMP_PHONG_TAGS;
    }
  }
  if (exportVersion != PRESETS_EXPORT_VERSION) {
    for (linkNode* node = exportList.First(); node; node = node->Next())
      Payload(node)->geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
  }
  importVersion = PRESETS_IMPORT_VERSION;
  exportVersion = PRESETS_EXPORT_VERSION;
  for (const Side side : kSides) {
    IndexRef(side) = 0;
    Current(side) = Entry(side, 0);
    if (Current(side)) Current(side)->CopyTo(&Opts(side));
  }
  Save();
}

BaseContainer PresetStore::BuildContainer(Side side) const {
  BaseContainer bc;
  bc.SetLong(PRESETS_VERSION, side == kImport ? importVersion : exportVersion);
  bc.SetLong(PRESETS_COUNT, Count(side));
  if (side == kExport) bc.SetString(PRESETS_LAST_PATH, lastPath);
  LONG i = 0;
  for (linkNode* node = List(side).First(); node; node = node->Next(), ++i) {
    BaseContainer preset;
    Payload(node)->Store(preset, side);
    bc.SetContainer(PRESETS_FIRST_ENTRY + i, preset);
  }
  return bc;
}

Bool PresetStore::Save() {
  for (const Side side : kSides) {
    CountRef(side) = List(side).Count();
    PluginOpts& opts = Opts(side);
    opts.presetId = 0;
    opts.geomFlags |= PRESET_PROTECTED;
    opts.name = String("Last Used");
    opts.CopyTo(Entry(side, 0));
  }
  Bool ok = TRUE;
  for (const Side side : kSides)
    if (!SetWorldPluginData(ContainerId(side), BuildContainer(side), FALSE)) ok = FALSE;
  return ok;
}

Bool PresetStore::RegenerateDefaults() {
  Bool ok = TRUE;
  for (const Side side : kSides) {
    IndexRef(side) = 0;
    // A built-in that cannot be allocated is left out; without "Last Used" the side
    // has no usable list and regeneration fails.
    PluginOpts opts;
    opts.SetFromTable(Table(side)[0]);
    opts.presetId = 0;
    const Bool lastUsed = List(side).Count() == 0 && AppendCopy(side, opts);
    if (lastUsed) {
      for (LONG i = 0; i < 4; ++i) {
        opts.SetFromTable(Table(side)[i]);
        AppendCopy(side, opts);
      }
    }
    CountRef(side) = List(side).Count();
    Current(side) = lastUsed ? Entry(side, 0) : nullptr;
    if (!Current(side)) {
      ok = FALSE;
      continue;
    }
    Current(side)->CopyTo(&Opts(side));
    Current(side)->name = String("Last Used");
  }
  if (!ok) return FALSE;
  Save();
  return TRUE;
}

void PresetStore::SelectPreset(Side side, LONG i) {
  IndexRef(side) = i;
  Current(side) = Entry(side, i);
  if (Current(side)) Current(side)->CopyTo(&Opts(side));
}

void PresetStore::OverwritePreset(Side side, LONG i) { Opts(side).CopyTo(Entry(side, i)); }

LONG PresetStore::AddPreset(Side side, const String& name) {
  PluginOpts& opts = Opts(side);
  opts.name = name;
  opts.geomFlags &= ~static_cast<ULONG>(PRESET_BUILTIN | PRESET_PROTECTED);
  opts.presetId = -1;
  const Bool added = AppendCopy(side, opts);
  CountRef(side) = List(side).Count();
  return added ? Count(side) - 1 : -1;
}

LONG PresetStore::DeletePreset(Side side, LONG i) {
  // The working record's mark is what the dialog offers; entry 0 and protected entries
  // are refused too, so that a caller passing another index cannot remove "Last Used".
  PluginOpts* opts = Entry(side, i);
  if (i > 0 && opts && !(Opts(side).geomFlags & PRESET_PROTECTED) && !(opts->geomFlags & PRESET_PROTECTED)) {
    linkNode* node = List(side).GetNode(static_cast<ULONG>(i));
    if (Current(side) == opts) Current(side) = nullptr;
    gDelete(opts);
    List(side).Remove(node);
    CountRef(side) = List(side).Count();
    SelectPreset(side, 0);
  }
  return Count(side);
}

const String* PresetStore::GetPresetName(Side side, LONG i) const {
  const PluginOpts* opts = Entry(side, i);
  return opts ? &opts->name : nullptr;
}

Bool PresetStore::RenamePreset(Side side, LONG i, const String& name) {
  PluginOpts* opts = Entry(side, i);
  if (!opts) return FALSE;
  opts->name = name;
  if (Current(side) == opts) Opts(side).name = name;
  return TRUE;
}

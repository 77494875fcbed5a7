#include "plugopts.h"

#include "compat.h"

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

BaseContainer StoredForm(const PluginOpts& opts, PluginOpts::Side side) {
  BaseContainer bc;
  opts.Store(bc, side);
  return bc;
}

// The first entry past "Last Used" whose stored form is bc.
linkNode* FindStored(const linkList& list, const BaseContainer& bc, PluginOpts::Side side) {
  linkNode* node = list.First();
  for (node = node ? node->Next() : nullptr; node; node = node->Next())
    if (StoredForm(*Payload(node), side) == bc) return node;
  return nullptr;
}

void FreePayloads(linkList& list) {
  for (linkNode* node = list.First(); node; node = node->Next()) {
    PluginOpts* opts = Payload(node);
    gDelete(opts);
  }
  list.Clear();
}

}  // namespace

PresetStore::PresetStore() {
  for (const Side side : kSides) {
    Opts(side).SetFromTable(Table(side)[0]);
    Opts(side).name = String("Last Used");
  }
}

PresetStore::~PresetStore() {
  for (const Side side : kSides) {
    FreeList(side);
    FreeOrigins(side);
  }
}

void PresetStore::FreeList(Side side) {
  FreePayloads(List(side));
  Current(side) = nullptr;
}

void PresetStore::FreeOrigins(Side side) {
  linkList& origins = Origins(side);
  for (linkNode* node = origins.First(); node; node = node->Next()) {
    Origin* origin = static_cast<Origin*>(node->Data());
    gDelete(origin);
  }
  origins.Clear();
}

void PresetStore::ForgetStored() {
  for (const Side side : kSides) {
    FreeOrigins(side);
    BaseOf(side) = BASE_UNKNOWN;
  }
}

void PresetStore::RememberStored(Side side) {
  FreeOrigins(side);
  BaseOf(side) = BASE_KNOWN;
  if (side == kExport) lastPathStored = lastPath;
  for (linkNode* node = List(side).First(); node; node = node->Next()) {
    Origin* origin = gNew Origin;
    if (origin) {
      origin->stored = StoredForm(*Payload(node), side);
      origin->entry = Payload(node);
    }
    if (!origin || !Origins(side).Append(origin)) {
      gDelete(origin);
      FreeOrigins(side);
      BaseOf(side) = BASE_UNKNOWN;
      return;
    }
  }
}

Bool PresetStore::MergeStored(Side side) {
  const BaseContainer* stored = GetWorldPluginData(ContainerId(side));
  if (!stored || stored->GetLong(PRESETS_COUNT, 0) <= 0 || BaseOf(side) == BASE_UNKNOWN) return TRUE;
  const LONG current = side == kImport ? PRESETS_IMPORT_VERSION : PRESETS_EXPORT_VERSION;
  if (BaseOf(side) == BASE_REGENERATED || (side == kImport ? importVersion : exportVersion) != current) {
    // The list was made up here while another host stored one: the stored list wins,
    // "Last Used" included, as it is stored.
    LoadSide(side, *stored);
    if (IndexRef(side) >= Count(side)) IndexRef(side) = 0;
    Current(side) = Entry(side, IndexRef(side));
    return TRUE;
  }
  if (side == kExport && lastPath == lastPathStored) lastPath = stored->GetString(PRESETS_LAST_PATH, String());

  linkList fresh;
  if (LoadList(side, *stored, fresh) != fresh.Count()) {
    // Memory ran out: a merge now would store the list without the presets not read.
    FreePayloads(fresh);
    return FALSE;
  }
  UpgradeList(side, fresh, stored->GetLong(PRESETS_VERSION, 0));
  {
    // Entry 0 ("Last Used") is this store's; of the rest, what this store deleted, changed
    // or added since it loaded is applied to the stored list.
    linkNode* origin = Origins(side).First();
    for (origin = origin ? origin->Next() : nullptr; origin; origin = origin->Next()) {
      const Origin& o = *static_cast<const Origin*>(origin->Data());
      if (o.entry && StoredForm(*o.entry, side) == o.stored) continue;
      linkNode* match = FindStored(fresh, o.stored, side);
      if (!o.entry) {
        if (match) {
          PluginOpts* gone = Payload(match);
          gDelete(gone);
          fresh.Remove(match);
        }
      } else if (match) {
        *Payload(match) = *o.entry;
      } else {
        // Changed here, deleted or changed elsewhere: kept rather than lost.
        PluginOpts* copy = gNew PluginOpts;
        if (copy) *copy = *o.entry;
        if (copy && !fresh.Append(copy)) gDelete(copy);
      }
    }
    LONG i = 0;
    for (linkNode* node = List(side).First(); node; node = node->Next(), ++i) {
      if (i == 0) continue;
      Bool known = FALSE;
      for (linkNode* o = Origins(side).First(); o && !known; o = o->Next())
        known = static_cast<const Origin*>(o->Data())->entry == Payload(node);
      if (known) continue;
      PluginOpts* copy = gNew PluginOpts;
      if (copy) *copy = *Payload(node);
      if (copy && !fresh.Append(copy)) gDelete(copy);
    }
    Opts(side).CopyTo(Payload(fresh.First()));
  }
  FreeList(side);
  List(side).TakeAll(fresh);
  CountRef(side) = List(side).Count();
  if (IndexRef(side) >= Count(side)) IndexRef(side) = 0;
  Current(side) = Entry(side, IndexRef(side));
  return TRUE;
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
  // One update: the lists are read as stored now, and no other host saves between the
  // reading and the upgrade's save.
  BeginWorldPluginDataUpdate();
  if (!GetWorldPluginData(PRESETS_IMPORT_CONTAINER) || !GetWorldPluginData(PRESETS_EXPORT_CONTAINER)) {
    if (!RegenerateDefaults()) {
      EndWorldPluginDataUpdate();
      return FALSE;
    }
  }
  for (const Side side : kSides) {
    // Regeneration can have failed to store (a full disk keeps the settings in memory
    // only); an absent container then reads as empty.
    const BaseContainer* stored = GetWorldPluginData(ContainerId(side));
    LoadSide(side, stored ? *stored : BaseContainer());
  }
  Upgrade();
  EndWorldPluginDataUpdate();
  return TRUE;
}

void PresetStore::LoadSide(Side side, const BaseContainer& bc) {
  (side == kImport ? importVersion : exportVersion) = bc.GetLong(PRESETS_VERSION, 0);
  if (side == kExport) lastPath = bc.GetString(PRESETS_LAST_PATH, String());
  if (bc.GetLong(PRESETS_COUNT, 0) <= 0) return;
  FreeList(side);
  // A preset that memory cannot hold is left out, and said so: the options of a missing
  // "Last Used" would otherwise change without a word.
  if (LoadList(side, bc, List(side)) != List(side).Count()) ReportMemoryError("PresetStore::Load()");
  CountRef(side) = List(side).Count();
}

LONG PresetStore::LoadList(Side side, const BaseContainer& bc, linkList& list) {
  const LONG count = bc.GetLong(PRESETS_COUNT, 0);
  PluginOpts defaults;
  defaults.SetFromTable(Table(side)[0]);
  LONG i = 0;
  for (; i < count; ++i) {
    // A damaged count must not make the loop run for billions of missing entries: every
    // preset that exists has its container, so stop at the first absent one past the
    // stored presets.
    const GeData* entry = bc.GetDataPointer(PRESETS_FIRST_ENTRY + i);
    if (!entry && i >= 4096) break;
    PluginOpts* opts = gNew PluginOpts;
    if (!opts) continue;
    opts->Load(entry && entry->GetContainer() ? *entry->GetContainer() : BaseContainer(), side, defaults);
    if (!list.Append(opts)) gDelete(opts);
  }
  return i;
}

void PresetStore::UpgradeList(Side side, linkList& list, LONG version) {
  if (side == kImport && version != PRESETS_IMPORT_VERSION) {
    for (linkNode* node = list.First(); node; node = node->Next()) {
      PluginOpts* opts = Payload(node);
      if (opts->geomFlags & PRESET_CURRENT_VERSION) {
        opts->geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
        continue;
      }
      if (version == 0) {
        opts->layoutFlags |= 0x7C0000;
        opts->materialFlags |= (opts->geomFlags & GEOM_MATERIALS) ? (MAT_REUSE | MAT_REWRITE_REUSED) : MAT_NONE;
      }
      if (version == 0 || version == 1) opts->layoutFlags |= IMP_PHONG_TAGS;
    }
  }
  if (side == kExport && version != PRESETS_EXPORT_VERSION) {
    for (linkNode* node = list.First(); node; node = node->Next())
      Payload(node)->geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
  }
}

void PresetStore::Upgrade() {
  UpgradeList(kImport, importList, importVersion);
  UpgradeList(kExport, exportList, exportVersion);
  importVersion = PRESETS_IMPORT_VERSION;
  exportVersion = PRESETS_EXPORT_VERSION;
  for (const Side side : kSides) {
    IndexRef(side) = 0;
    Current(side) = Entry(side, 0);
    if (Current(side)) Current(side)->CopyTo(&Opts(side));
    // The upgraded lists are the state a later save merges against; a save merges stored
    // lists after upgrading them the same way.
    RememberStored(side);
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
  BeginWorldPluginDataUpdate();
  Bool merged[2] = {TRUE, TRUE};
  for (const Side side : kSides) {
    PluginOpts& opts = Opts(side);
    opts.presetId = 0;
    opts.geomFlags |= PRESET_PROTECTED;
    opts.name = String("Last Used");
    opts.CopyTo(Entry(side, 0));
    merged[side == kImport ? 0 : 1] = MergeStored(side);
    CountRef(side) = List(side).Count();
  }
  Bool ok = TRUE;
  for (const Side side : kSides) {
    if (!merged[side == kImport ? 0 : 1]) {
      ReportMemoryError("PresetStore::Save()");
      ok = FALSE;
      continue;
    }
    if (!SetWorldPluginData(ContainerId(side), BuildContainer(side), FALSE)) ok = FALSE;
    RememberStored(side);
  }
  if (!EndWorldPluginDataUpdate()) ok = FALSE;
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
  for (const Side side : kSides) {
    FreeOrigins(side);
    BaseOf(side) = BASE_REGENERATED;
  }
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
    for (linkNode* o = Origins(side).First(); o; o = o->Next()) {
      Origin* origin = static_cast<Origin*>(o->Data());
      if (origin->entry == opts) origin->entry = nullptr;
    }
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

// The option record and the preset store: defaults, copying, storing, loading with
// missing entries, the version upgrades, first-run regeneration and the preset
// operations, all on the host's world settings.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host_fixture.h"
#include "plugopts.h"

namespace {

using Side = PluginOpts::Side;
constexpr Side kImport = PluginOpts::IMPORT_SIDE;
constexpr Side kExport = PluginOpts::EXPORT_SIDE;

class PresetTest : public HostTest {};

PluginOpts FromTable(const PresetTableEntry& entry) {
  PluginOpts opts;
  opts.SetFromTable(entry);
  return opts;
}

// Every stored field of two records, and the name.
void ExpectSameStoredFields(const PluginOpts& a, const PluginOpts& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.scale, b.scale);
  EXPECT_EQ(a.layoutFlags, b.layoutFlags);
  EXPECT_EQ(a.geomFlags, b.geomFlags);
  EXPECT_EQ(a.materialFlags, b.materialFlags);
  EXPECT_EQ(a.shaderParam1006, b.shaderParam1006);
  EXPECT_EQ(a.shaderParam1005, b.shaderParam1005);
  EXPECT_EQ(a.mode, b.mode);
  EXPECT_EQ(a.value1010, b.value1010);
  EXPECT_EQ(a.firstFileNumber, b.firstFileNumber);
  EXPECT_EQ(a.useFirstFileNumber, b.useFirstFileNumber);
  EXPECT_EQ(a.texturePath, b.texturePath);
  EXPECT_EQ(a.smoothAngle, b.smoothAngle);
  EXPECT_EQ(a.mergeToleranceR, b.mergeToleranceR);
  EXPECT_EQ(a.mergeToleranceG, b.mergeToleranceG);
  EXPECT_EQ(a.mergeToleranceB, b.mergeToleranceB);
}

// A stored list container as an earlier release would have left it.
BaseContainer StoredList(LONG version, const std::vector<BaseContainer>& presets) {
  BaseContainer bc;
  bc.SetLong(PRESETS_VERSION, version);
  bc.SetLong(PRESETS_COUNT, static_cast<LONG>(presets.size()));
  for (size_t i = 0; i < presets.size(); ++i) bc.SetContainer(PRESETS_FIRST_ENTRY + static_cast<LONG>(i), presets[i]);
  return bc;
}

BaseContainer StoredPreset(const char* name, ULONG layout, ULONG geom, ULONG material) {
  BaseContainer bc;
  bc.SetString(OPT_NAME, String(name));
  bc.SetLong(OPT_LAYOUT_FLAGS, static_cast<LONG>(layout));
  bc.SetLong(OPT_GEOM_FLAGS, static_cast<LONG>(geom));
  bc.SetLong(OPT_MATERIAL_FLAGS, static_cast<LONG>(material));
  return bc;
}

TEST_F(PresetTest, DefaultsDecodeAsDocumented) {
  const PluginOpts in = FromTable(kImportPresetTable[0]);
  EXPECT_TRUE(in.layoutFlags & IMP_NEW_DOCUMENT);
  EXPECT_EQ(in.layoutFlags & IMP_OBJECT_LAYOUT_MASK, 0u);
  EXPECT_EQ(in.layoutFlags & (IMP_SPLINE_LAYOUT_MASK | IMP_SPLINE_NULL_MASK),
            static_cast<ULONG>(IMP_SPLINE_PER_GROUP | IMP_SPLINE_NULL_PER_GROUP));
  EXPECT_TRUE(in.layoutFlags & IMP_PHONG_TAGS);
  EXPECT_FALSE(in.layoutFlags & (IMP_FOLDER_SUBFOLDERS | IMP_FOLDER_NULLS | IMP_SPLINES_CLOSED));
  EXPECT_EQ(in.geomFlags & (GEOM_GROUPS | GEOM_REGIONS | GEOM_UVS | GEOM_NORMALS | GEOM_FLIP_V | GEOM_NEGATE_Z | GEOM_NGONS),
            static_cast<ULONG>(GEOM_GROUPS | GEOM_REGIONS | GEOM_UVS | GEOM_FLIP_V | GEOM_NEGATE_Z | GEOM_NGONS));
  EXPECT_EQ(in.materialFlags & MAT_HANDLING_MASK, static_cast<ULONG>(MAT_REUSE));
  EXPECT_TRUE(in.materialFlags & MAT_REWRITE_REUSED);
  EXPECT_FALSE(in.materialFlags & MAT_CONSOLIDATE);
  // 80 degrees as the single-precision value widened, bit for bit.
  uint64_t bits = 0;
  std::memcpy(&bits, &in.smoothAngle, sizeof bits);
  EXPECT_EQ(bits, 0x3FF6571840000000ull);
  EXPECT_NEAR(in.smoothAngle * 180.0 / M_PI, 80.0, 1e-5);

  const PluginOpts out = FromTable(kExportPresetTable[0]);
  EXPECT_EQ(out.layoutFlags, static_cast<ULONG>(XP_ONE_MTL));
  EXPECT_EQ(out.geomFlags & 0xFFFF, 0x0B9Eu);
  EXPECT_FALSE(out.geomFlags & GEOM_SCALE_MULTIPLY);
  EXPECT_EQ(out.geomFlags & 0xF0000000, 0xF0000000u);
  // Protected defaults, unprotected other built-ins.
  for (int i = 1; i < 4; ++i) {
    EXPECT_FALSE(FromTable(kImportPresetTable[i]).geomFlags & PRESET_PROTECTED) << i;
    EXPECT_FALSE(FromTable(kExportPresetTable[i]).geomFlags & PRESET_PROTECTED) << i;
  }
}

TEST_F(PresetTest, ScaleFactorFollowsTheMultiplySwitch) {
  PluginOpts opts;
  opts.scale = 1000;
  opts.geomFlags = 0;
  EXPECT_DOUBLE_EQ(opts.ScaleFactor(), 0.001);
  opts.geomFlags = GEOM_SCALE_MULTIPLY;
  EXPECT_DOUBLE_EQ(opts.ScaleFactor(), 1000.0);
  opts.scale = 100000;
  EXPECT_DOUBLE_EQ(opts.ScaleFactor(), 100000.0);
  // A scale of 0 from damaged settings must not scale every coordinate to infinity.
  opts.scale = 0;
  opts.geomFlags = 0;
  EXPECT_DOUBLE_EQ(opts.ScaleFactor(), 1.0);
  opts.scale = 0xFFFFFFFFu;  // read as unsigned, never negative
  opts.geomFlags = GEOM_SCALE_MULTIPLY;
  EXPECT_DOUBLE_EQ(opts.ScaleFactor(), 4294967295.0);
}

TEST_F(PresetTest, CopyLeavesTheFrameFieldsAndNullTargets) {
  PluginOpts source = FromTable(kExportPresetTable[1]);
  source.texturePath = String("maps");
  source.smoothAngle = 0.5;
  source.mergeToleranceG = 7;
  source.startFrame = 3;
  source.endFrame = 90;
  source.frameRate = 25;
  source.frameStep = 2;
  PluginOpts target;
  target.startFrame = -1;
  target.endFrame = -2;
  target.frameRate = -3;
  target.frameStep = -4;
  source.CopyTo(&target);
  ExpectSameStoredFields(source, target);
  EXPECT_EQ(target.presetId, source.presetId);
  EXPECT_EQ(target.startFrame, -1);
  EXPECT_EQ(target.endFrame, -2);
  EXPECT_EQ(target.frameRate, -3);
  EXPECT_EQ(target.frameStep, -4);
  source.CopyTo(nullptr);  // ignored
}

TEST_F(PresetTest, StoreAndLoadByContainerIdAndSide) {
  PluginOpts opts = FromTable(kImportPresetTable[2]);
  opts.texturePath = String("/textures");
  opts.smoothAngle = 0.25;
  opts.mergeToleranceR = 3;
  opts.mergeToleranceG = 4;
  opts.mergeToleranceB = 5;
  opts.value1010 = 1;
  opts.firstFileNumber = 17;
  opts.useFirstFileNumber = 1;

  BaseContainer imported;
  opts.Store(imported, kImport);
  EXPECT_EQ(imported.GetString(OPT_NAME), String("Import From ZBrush"));
  EXPECT_EQ(static_cast<ULONG>(imported.GetLong(OPT_GEOM_FLAGS)), opts.geomFlags);
  EXPECT_EQ(imported.GetLong(OPT_SHADER_PARAM_1005), opts.shaderParam1005);
  EXPECT_EQ(imported.GetReal(OPT_SMOOTH_ANGLE), 0.25);
  EXPECT_EQ(imported.GetLong(OPT_MERGE_TOLERANCE_B), 5);
  ASSERT_NE(imported.GetDataPointer(OPT_SMOOTH_ANGLE), nullptr);
  EXPECT_EQ(imported.GetDataPointer(OPT_SMOOTH_ANGLE)->GetType(), DA_REAL);
  EXPECT_EQ(imported.GetDataPointer(OPT_SCALE)->GetType(), DA_LONG);
  EXPECT_EQ(imported.GetDataPointer(OPT_TEXTURE_PATH)->GetType(), DA_STRING);

  PluginOpts back;
  back.Load(imported, kImport, FromTable(kImportPresetTable[0]));
  ExpectSameStoredFields(opts, back);
  EXPECT_EQ(back.presetId, 0);  // read back from storage

  // The export form has no angle and no tolerances.
  BaseContainer exported;
  opts.Store(exported, kExport);
  EXPECT_EQ(exported.GetDataPointer(OPT_SMOOTH_ANGLE), nullptr);
  for (LONG id : {OPT_MERGE_TOLERANCE_R, OPT_MERGE_TOLERANCE_G, OPT_MERGE_TOLERANCE_B})
    EXPECT_EQ(exported.GetDataPointer(id), nullptr) << id;
  PluginOpts exportBack;
  exportBack.smoothAngle = 2.0;
  exportBack.mergeToleranceR = 9;
  exportBack.Load(exported, kExport, FromTable(kExportPresetTable[0]));
  EXPECT_EQ(exportBack.smoothAngle, 2.0);  // not an export field
  EXPECT_EQ(exportBack.mergeToleranceR, 9u);
  EXPECT_EQ(exportBack.texturePath, String("/textures"));
}

TEST_F(PresetTest, MissingEntriesLoadTheirDefaults) {
  const PluginOpts importDefaults = FromTable(kImportPresetTable[0]);
  const PluginOpts exportDefaults = FromTable(kExportPresetTable[0]);

  PluginOpts opts;
  opts.scale = 55;
  opts.smoothAngle = 0.1;
  opts.texturePath = String("old");
  opts.mergeToleranceG = 9;
  opts.Load(BaseContainer(), kImport, importDefaults);
  EXPECT_EQ(opts.name, String("No Name"));
  EXPECT_EQ(opts.scale, 1u);
  EXPECT_EQ(opts.smoothAngle, kDefaultSmoothAngle);
  EXPECT_NEAR(opts.smoothAngle, 1.3962634, 1e-7);
  EXPECT_EQ(opts.texturePath, String());
  EXPECT_EQ(opts.mergeToleranceG, 1u);
  EXPECT_EQ(opts.layoutFlags, importDefaults.layoutFlags);
  EXPECT_EQ(opts.geomFlags, importDefaults.geomFlags);
  EXPECT_EQ(opts.materialFlags, importDefaults.materialFlags);
  EXPECT_EQ(opts.shaderParam1006, 3);

  // An export entry without 1005 keeps the export material word.
  BaseContainer partial;
  partial.SetString(OPT_NAME, String("Mine"));
  partial.SetLong(OPT_SCALE, 250);
  PluginOpts out;
  out.Load(partial, kExport, exportDefaults);
  EXPECT_EQ(out.name, String("Mine"));
  EXPECT_EQ(out.scale, 250u);
  EXPECT_EQ(out.materialFlags, 0x80000FFFu);
  EXPECT_EQ(out.geomFlags, exportDefaults.geomFlags);
}

TEST_F(PresetTest, FirstRunRegeneratesFivePresetsPerSide) {
  ASSERT_EQ(GetWorldPluginData(PRESETS_IMPORT_CONTAINER), nullptr);
  PresetStore store;
  EXPECT_EQ(store.importOpts.name, String("Last Used"));
  ASSERT_TRUE(store.Load());
  ASSERT_EQ(store.importCount, 5);
  ASSERT_EQ(store.exportCount, 5);
  const char* importNames[] = {"Last Used", "Default Import Options", "Import From Poser", "Import From ZBrush",
                               "Import From SketchUp"};
  const char* exportNames[] = {"Last Used", "Default Export Options", "Export To Poser", "Export To ZBrush",
                               "Export To SketchUp"};
  for (LONG i = 0; i < 5; ++i) {
    EXPECT_EQ(*store.GetPresetName(kImport, i), String(importNames[i])) << i;
    EXPECT_EQ(*store.GetPresetName(kExport, i), String(exportNames[i])) << i;
  }
  EXPECT_EQ(store.GetPresetName(kImport, 5), nullptr);
  EXPECT_EQ(store.GetPresetName(kImport, -1), nullptr);

  // "Last Used" equals the default, the built-ins their rows with the version mark
  // taken off by the upgrade that followed regeneration.
  for (const Side side : {kImport, kExport}) {
    const PresetTableEntry* table = side == kImport ? kImportPresetTable : kExportPresetTable;
    PluginOpts expected = FromTable(table[0]);
    expected.name = String("Last Used");
    expected.geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
    ExpectSameStoredFields(*store.Entry(side, 0), expected);
    ExpectSameStoredFields(store.Opts(side), expected);
    for (LONG i = 1; i < 5; ++i) {
      PluginOpts builtIn = FromTable(table[i - 1]);
      builtIn.geomFlags &= ~static_cast<ULONG>(PRESET_CURRENT_VERSION);
      ExpectSameStoredFields(*store.Entry(side, i), builtIn);
    }
  }
  EXPECT_EQ(store.importVersion, 3);
  EXPECT_EQ(store.exportVersion, 1);
  EXPECT_EQ(store.currentImportEntry, store.Entry(kImport, 0));

  // Both containers are written whole, with the current versions.
  const BaseContainer* in = GetWorldPluginData(PRESETS_IMPORT_CONTAINER);
  const BaseContainer* out = GetWorldPluginData(PRESETS_EXPORT_CONTAINER);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(in->GetLong(PRESETS_COUNT), 5);
  EXPECT_EQ(in->GetLong(PRESETS_VERSION), 3);
  EXPECT_EQ(out->GetLong(PRESETS_VERSION), 1);
  EXPECT_NE(in->GetContainerInstance(PRESETS_FIRST_ENTRY + 4), nullptr);
  EXPECT_NE(in->GetContainerInstance(PRESETS_FIRST_ENTRY + 4)->GetDataPointer(OPT_SMOOTH_ANGLE), nullptr);
  EXPECT_EQ(out->GetContainerInstance(PRESETS_FIRST_ENTRY + 4)->GetDataPointer(OPT_SMOOTH_ANGLE), nullptr);

  // A second store reads what the first wrote, and the next run's file too.
  host::UnloadSettings();
  PresetStore again;
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.importCount, 5);
  for (LONG i = 0; i < 5; ++i) ExpectSameStoredFields(*again.Entry(kImport, i), *store.Entry(kImport, i));
}

TEST_F(PresetTest, OneMissingContainerIsRegeneratedAndTheStoredOneKept) {
  // Regenerating both sides would throw away the user's presets of the side that is there.
  BaseContainer exportOnly = StoredList(1, {StoredPreset("Last Used", 0, PRESET_PROTECTED, 0x80000FFF),
                                            StoredPreset("Solo", 0, 0, 0x80000FFF)});
  ASSERT_TRUE(SetWorldPluginData(PRESETS_EXPORT_CONTAINER, exportOnly, FALSE));
  PresetStore store;
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.importCount, 5);
  EXPECT_EQ(*store.GetPresetName(kImport, 1), String("Default Import Options"));
  ASSERT_EQ(store.exportCount, 2);
  EXPECT_EQ(*store.GetPresetName(kExport, 1), String("Solo"));
  ASSERT_NE(GetWorldPluginData(PRESETS_IMPORT_CONTAINER), nullptr);
  EXPECT_EQ(GetWorldPluginData(PRESETS_EXPORT_CONTAINER)->GetLong(PRESETS_COUNT), 2);
}

TEST_F(PresetTest, UpgradesStoredVersions) {
  const ULONG layout = 0x00000201;
  const ULONG material = 0x0000000E;
  const auto loadImportVersion = [&](LONG version, ULONG geom) {
    host::UnloadSettings();
    EXPECT_TRUE(SetWorldPluginData(PRESETS_IMPORT_CONTAINER,
                                   StoredList(version, {StoredPreset("Last Used", layout, geom | PRESET_PROTECTED, material),
                                                        StoredPreset("Mine", layout, geom, material)}),
                                   FALSE));
    EXPECT_TRUE(SetWorldPluginData(PRESETS_EXPORT_CONTAINER, StoredList(1, {StoredPreset("Last Used", 0, 0, 0)}), FALSE));
    PresetStore store;
    EXPECT_TRUE(store.Load());
    PluginOpts mine;
    store.Entry(kImport, 1)->CopyTo(&mine);
    return mine;
  };

  // Version 1: the Phong tag switch is added.
  PluginOpts v1 = loadImportVersion(1, GEOM_MATERIALS);
  EXPECT_EQ(v1.layoutFlags, layout | IMP_PHONG_TAGS);
  EXPECT_EQ(v1.materialFlags, material);
  // Version 0: also the layer switches, and reuse-and-rewrite when materials were on ...
  PluginOpts v0 = loadImportVersion(0, GEOM_MATERIALS);
  EXPECT_EQ(v0.layoutFlags, layout | 0x7C0000 | IMP_PHONG_TAGS);
  EXPECT_EQ(v0.materialFlags, material | MAT_REUSE | MAT_REWRITE_REUSED);
  // ... or "no materials" when they were off.
  PluginOpts v0off = loadImportVersion(0, 0);
  EXPECT_EQ(v0off.materialFlags, material | MAT_NONE);
  // Version 3 is current: nothing changes.
  PluginOpts v3 = loadImportVersion(3, GEOM_MATERIALS);
  EXPECT_EQ(v3.layoutFlags, layout);
  EXPECT_EQ(v3.materialFlags, material);
  // A preset carrying the version mark only loses the mark.
  PluginOpts marked = loadImportVersion(0, GEOM_MATERIALS | PRESET_CURRENT_VERSION);
  EXPECT_EQ(marked.layoutFlags, layout);
  EXPECT_EQ(marked.geomFlags, static_cast<ULONG>(GEOM_MATERIALS));
  // An unknown later version is left as it is.
  PluginOpts v7 = loadImportVersion(7, GEOM_MATERIALS);
  EXPECT_EQ(v7.layoutFlags, layout);

  // The upgrade is stored: a second load changes nothing more.
  host::UnloadSettings();
  PresetStore store;
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.Entry(kImport, 1)->layoutFlags, layout);
  EXPECT_EQ(GetWorldPluginData(PRESETS_IMPORT_CONTAINER)->GetLong(PRESETS_VERSION), 3);

  // Export version 0: the marks are taken off, nothing else.
  host::UnloadSettings();
  ASSERT_TRUE(SetWorldPluginData(PRESETS_EXPORT_CONTAINER,
                                 StoredList(0, {StoredPreset("Last Used", 0x80, 0x90000B9E, 0x80000FFF),
                                                StoredPreset("X", 0x88, 0x10000B9E, 0x80000FFF)}),
                                 FALSE));
  PresetStore exportStore;
  ASSERT_TRUE(exportStore.Load());
  EXPECT_EQ(exportStore.Entry(kExport, 1)->geomFlags, 0x00000B9Eu);
  EXPECT_EQ(exportStore.Entry(kExport, 1)->layoutFlags, 0x88u);
}

TEST_F(PresetTest, StoredListsKeepMissingAndDamagedEntriesSafe) {
  // Three presets counted, the middle one missing: it loads as defaults named "No Name".
  BaseContainer list = StoredList(3, {StoredPreset("Last Used", 1, 0x80000000, 0), StoredPreset("B", 2, 0, 0)});
  list.SetLong(PRESETS_COUNT, 3);
  list.SetContainer(PRESETS_FIRST_ENTRY + 2, StoredPreset("C", 3, 0, 0));
  list.RemoveData(PRESETS_FIRST_ENTRY + 1);
  ASSERT_TRUE(SetWorldPluginData(PRESETS_IMPORT_CONTAINER, list, FALSE));
  BaseContainer exports = StoredList(1, {StoredPreset("Last Used", 0, 0, 0)});
  exports.SetString(PRESETS_LAST_PATH, String("/exports/here"));
  ASSERT_TRUE(SetWorldPluginData(PRESETS_EXPORT_CONTAINER, exports, FALSE));
  {
    PresetStore store;
    ASSERT_TRUE(store.Load());
    ASSERT_EQ(store.importCount, 3);
    EXPECT_EQ(*store.GetPresetName(kImport, 1), String("No Name"));
    EXPECT_EQ(store.Entry(kImport, 1)->layoutFlags, kImportPresetTable[0].layoutFlags);
    EXPECT_EQ(*store.GetPresetName(kImport, 2), String("C"));
    EXPECT_EQ(store.lastPath, String("/exports/here"));
    // The last path is carried through the save.
    EXPECT_EQ(GetWorldPluginData(PRESETS_EXPORT_CONTAINER)->GetString(PRESETS_LAST_PATH), String("/exports/here"));
  }

  // A count far beyond the stored entries does not make billions of presets.
  list.SetLong(PRESETS_COUNT, 0x7FFFFFFF);
  ASSERT_TRUE(SetWorldPluginData(PRESETS_IMPORT_CONTAINER, list, FALSE));
  PresetStore store;
  ASSERT_TRUE(store.Load());
  EXPECT_LE(store.importCount, 4096);
  EXPECT_EQ(*store.GetPresetName(kImport, 2), String("C"));
}

TEST_F(PresetTest, SelectOverwriteAddDeleteAndProtection) {
  PresetStore store;
  ASSERT_TRUE(store.Load());

  // Selecting copies the entry into the working record.
  store.SelectPreset(kImport, 2);
  EXPECT_EQ(store.importIndex, 2);
  EXPECT_EQ(store.importOpts.name, String("Import From Poser"));
  EXPECT_EQ(store.importOpts.scale, 1000u);
  store.SelectPreset(kImport, 9);  // no entry: nothing copied
  EXPECT_EQ(store.currentImportEntry, nullptr);
  EXPECT_EQ(store.importOpts.scale, 1000u);

  // "Last Used" and the default are protected.
  for (LONG i : {0, 1}) {
    store.SelectPreset(kImport, i);
    EXPECT_EQ(store.DeletePreset(kImport, i), 5) << i;
  }
  // Names need not be unique: a second "Import From Poser" is added.
  store.SelectPreset(kImport, 2);
  store.importOpts.scale = 42;
  const LONG added = store.AddPreset(kImport, String("Import From Poser"));
  EXPECT_EQ(added, 5);
  EXPECT_EQ(store.importCount, 6);
  const PluginOpts* mine = store.Entry(kImport, 5);
  EXPECT_EQ(mine->presetId, -1);
  EXPECT_EQ(mine->scale, 42u);
  EXPECT_FALSE(mine->geomFlags & (PRESET_BUILTIN | PRESET_PROTECTED));
  EXPECT_EQ(*store.GetPresetName(kImport, 2), *store.GetPresetName(kImport, 5));

  // Overwrite and rename.
  store.SelectPreset(kImport, 5);
  store.importOpts.layoutFlags = 0x1234;
  store.OverwritePreset(kImport, 5);
  EXPECT_EQ(store.Entry(kImport, 5)->layoutFlags, 0x1234u);
  store.OverwritePreset(kImport, 77);  // nothing
  EXPECT_TRUE(store.RenamePreset(kImport, 5, String("Mine")));
  EXPECT_EQ(store.importOpts.name, String("Mine"));
  EXPECT_FALSE(store.RenamePreset(kImport, 6, String("None")));

  // A caller naming entry 0 while a user preset is current cannot delete "Last Used".
  EXPECT_EQ(store.DeletePreset(kImport, 0), 6);
  EXPECT_EQ(*store.GetPresetName(kImport, 0), String("Last Used"));
  EXPECT_EQ(store.DeletePreset(kImport, 1), 6);  // the protected default either

  // Deleting the user preset selects entry 0.
  EXPECT_EQ(store.DeletePreset(kImport, 5), 5);
  EXPECT_EQ(store.importIndex, 0);
  EXPECT_EQ(store.importOpts.name, String("Last Used"));
  EXPECT_EQ(store.currentImportEntry, store.Entry(kImport, 0));
  EXPECT_EQ(store.DeletePreset(kImport, 12), 5);

  // Save makes the working record "Last Used" and stores the lists whole.
  store.SelectPreset(kImport, 3);
  store.importOpts.scale = 77;
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(store.Entry(kImport, 0)->scale, 77u);
  EXPECT_EQ(store.Entry(kImport, 0)->name, String("Last Used"));
  EXPECT_TRUE(store.Entry(kImport, 0)->geomFlags & PRESET_PROTECTED);
  EXPECT_EQ(store.Entry(kImport, 3)->name, String("Import From ZBrush"));
  const BaseContainer* stored = GetWorldPluginData(PRESETS_IMPORT_CONTAINER);
  EXPECT_EQ(stored->GetLong(PRESETS_COUNT), 5);
  EXPECT_EQ(stored->GetContainerInstance(PRESETS_FIRST_ENTRY + 5), nullptr);  // replaced, not merged
  EXPECT_EQ(stored->GetContainerInstance(PRESETS_FIRST_ENTRY)->GetLong(OPT_SCALE), 77);
}

TEST_F(PresetTest, BothSidesAreIndependentAndShareTheStore) {
  PresetStore importer;
  PresetStore exporter;
  ASSERT_TRUE(importer.Load());
  importer.SelectPreset(kExport, 2);
  EXPECT_EQ(importer.AddPreset(kExport, String("From the import command")), 5);
  EXPECT_EQ(importer.importCount, 5);
  ASSERT_TRUE(importer.Save());
  // The other command's store sees it at its next Load.
  ASSERT_TRUE(exporter.Load());
  EXPECT_EQ(exporter.exportCount, 6);
  EXPECT_EQ(*exporter.GetPresetName(kExport, 5), String("From the import command"));
  EXPECT_EQ(exporter.exportOpts.scale, 1000u);  // "Last Used" holds the Poser export values
}

TEST_F(PresetTest, ConfirmAdjustments) {
  PluginOpts in = FromTable(kImportPresetTable[0]);
  in.geomFlags &= ~static_cast<ULONG>(GEOM_MATERIALS | GEOM_REVERSE_ORDER);
  in.geomFlags |= GEOM_SWAP_YZ;  // with negate Z on already: two mirrors
  AdjustConfirmedImportOpts(in);
  EXPECT_TRUE(in.geomFlags & GEOM_MATERIALS);
  EXPECT_TRUE(in.materialFlags & MAT_BUILD);
  EXPECT_TRUE(in.materialFlags & MAT_TEXTURE_TAGS);
  EXPECT_FALSE(in.geomFlags & GEOM_REVERSE_ORDER);
  EXPECT_FALSE(in.geomFlags & GEOM_REVERSE_NORMALS);

  PluginOpts none = FromTable(kImportPresetTable[0]);
  none.materialFlags = (none.materialFlags & ~MAT_HANDLING_MASK) | MAT_NONE;
  none.geomFlags |= GEOM_REVERSE_ORDER | GEOM_NEGATE_X;  // three mirrors with negate Z, swap off
  none.geomFlags &= ~static_cast<ULONG>(GEOM_SWAP_YZ);
  AdjustConfirmedImportOpts(none);
  EXPECT_FALSE(none.materialFlags & (MAT_BUILD | MAT_TEXTURE_TAGS));
  EXPECT_TRUE(none.geomFlags & GEOM_REVERSE_NORMALS);  // the user's reverse choice
  EXPECT_TRUE(none.geomFlags & GEOM_REVERSE_ORDER);    // toggled twice

  // Export: face forms from reverse, texture coordinates and normals.
  struct Case {
    ULONG geom;
    LONG form;
  } cases[] = {
      {GEOM_FACES | GEOM_UVS | GEOM_NORMALS | GEOM_REVERSE_ORDER, 1},
      {GEOM_FACES | GEOM_UVS | GEOM_NORMALS, 2},
      {GEOM_FACES | GEOM_UVS | GEOM_REVERSE_ORDER, 3},
      {GEOM_FACES | GEOM_UVS, 4},
      {GEOM_FACES | GEOM_NORMALS | GEOM_REVERSE_ORDER, 5},
      {GEOM_FACES | GEOM_NORMALS, 6},
      {GEOM_FACES | GEOM_REVERSE_ORDER, 7},
      {GEOM_FACES, 8},
      // Swap Y/Z mirrors: reversed corner order without reversed normals.
      {GEOM_FACES | GEOM_SWAP_YZ, 7},
      {GEOM_FACES | GEOM_SWAP_YZ | GEOM_NEGATE_Z | GEOM_NEGATE_X | GEOM_UVS, 3},
  };
  for (const Case& c : cases) {
    PluginOpts out;
    out.geomFlags = c.geom;
    out.layoutFlags = XP_IGNORE_VISIBILITY;
    const ConfirmedExportOpts confirmed = AdjustConfirmedExportOpts(out);
    EXPECT_EQ(confirmed.faceForm, c.form) << std::hex << c.geom;
    EXPECT_TRUE(confirmed.ignoreVisibility);
    EXPECT_EQ(static_cast<bool>(out.geomFlags & GEOM_REVERSE_NORMALS), static_cast<bool>(c.geom & GEOM_REVERSE_ORDER));
  }
  // Without faces: no groups, regions or materials.
  PluginOpts noFaces;
  noFaces.geomFlags = GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS | GEOM_UVS;
  EXPECT_FALSE(AdjustConfirmedExportOpts(noFaces).ignoreVisibility);
  EXPECT_EQ(noFaces.geomFlags, static_cast<ULONG>(GEOM_UVS));
}

TEST_F(PresetTest, MemoryFailuresLeaveAUsableStore) {
  EveryAllocation([] {
    // Each run starts from a first run: nothing stored.
    std::remove(host::SettingsFile().c_str());
    host::UnloadSettings();
    PresetStore store;
    const Bool loaded = store.Load();
    // Whatever was missing, the lists and counts agree and nothing leaks.
    EXPECT_EQ(store.importCount, store.importList.Count());
    EXPECT_EQ(store.exportCount, store.exportList.Count());
    if (store.importCount > 0) {
      EXPECT_EQ(*store.GetPresetName(kImport, 0), String("Last Used"));
    }
    if (!loaded) return false;
    const LONG added = store.AddPreset(kImport, String("x"));
    return added == store.importCount - 1 && store.importCount == 6;
  });
}

}  // namespace

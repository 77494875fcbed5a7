// The option record of one OBJ import or export run. Import and export use the same
// record and the same container IDs; the flag words mean different things per side
// (the bit names below). The import and export steps only read a record; the option
// dialogs and the preset store write it.
#pragma once

#include "c4d.h"

// Container IDs of a stored record.
enum : LONG {
  OPT_NAME = 1000,
  OPT_SCALE = 1002,
  OPT_LAYOUT_FLAGS = 1003,
  OPT_GEOM_FLAGS = 1004,
  OPT_MATERIAL_FLAGS = 1005,
  OPT_SHADER_PARAM_1006 = 1006,
  OPT_SHADER_PARAM_1005 = 1007,
  OPT_TEXTURE_PATH = 1008,
  OPT_MODE = 1009,
  OPT_VALUE_1010 = 1010,
  OPT_FIRST_FILE_NUMBER = 1011,
  OPT_USE_FIRST_FILE_NUMBER = 1012,
  OPT_SMOOTH_ANGLE = 1013,
  OPT_MERGE_TOLERANCE_R = 1015,
  OPT_MERGE_TOLERANCE_G = 1016,
  OPT_MERGE_TOLERANCE_B = 1017,
};

// layoutFlags on import.
enum : ULONG {
  IMP_NEW_DOCUMENT = 0x1,
  IMP_OBJECT_PER_MESH = 0x2,  // polygon objects: one per "o" mesh object
  IMP_OBJECT_PER_GROUP = 0x4,
  IMP_OBJECT_PER_REGION = 0x8,
  IMP_OBJECT_PER_MATERIAL = 0x10,
  IMP_OBJECT_LAYOUT_MASK = 0x1E,  // none of them: one object for everything
  IMP_LAYER_TEXTURE_TAGS = 0x20,
  IMP_LAYER_MATERIAL_SELECTIONS = 0x40,
  IMP_LAYER_GROUP_SELECTIONS = 0x80,
  IMP_LAYER_REGION_SELECTIONS = 0x100,
  IMP_LINE_ELEMENTS = 0x200,
  IMP_LINES_AS_FACES = 0x400,
  IMP_SPLINE_PER_MESH = 0x800,
  IMP_SPLINE_PER_GROUP = 0x1000,
  IMP_SPLINE_PER_SEGMENT = 0x2000,
  IMP_SPLINE_LAYOUT_MASK = 0x3800,  // none: a single spline
  IMP_SPLINE_NULL_PER_MESH = 0x4000,
  IMP_SPLINE_NULL_PER_GROUP = 0x8000,
  IMP_SPLINE_NULL_MASK = 0xC000,
  IMP_SPLINES_CLOSED = 0x10000,
  IMP_CENTER_AXES = 0x20000,
  IMP_LAYER_PHONG_TAGS = 0x40000,
  IMP_LAYER_UVW_TAGS = 0x80000,
  IMP_LAYER_NORMAL_TAGS = 0x100000,
  IMP_LAYER_POLYGON_OBJECTS = 0x200000,
  IMP_LAYER_SPLINE_OBJECTS = 0x400000,
  IMP_PHONG_TAGS = 0x800000,
  IMP_FOLDER_SUBFOLDERS = 0x1000000,
  IMP_FOLDER_NULLS = 0x2000000,
};

// layoutFlags on export.
enum : ULONG {
  XP_ORDER_BY_GROUP = 0x2,
  XP_ORDER_BY_REGION = 0x4,
  XP_ORDER_BY_MATERIAL = 0x8,
  XP_ORDER_MASK = 0xE,  // none: faces in object order
  XP_OBJECT_LINES = 0x10,
  XP_IGNORE_VISIBILITY = 0x20,
  XP_OBJECT_SUBFOLDERS = 0x40,
  XP_ONE_MTL = 0x80,
  XP_EXISTING_OVERWRITE = 0x100,
  XP_EXISTING_ASK = 0x200,
  XP_EXISTING_NUMBER = 0x400,
  XP_EXISTING_MASK = 0x700,
  XP_NUMBER_BY_STEP = 0x800,
  XP_NO_UV_COMPRESSION = 0x1000,
  XP_NO_NORMAL_COMPRESSION = 0x2000,
  // Numbers as the shortest text that reads back to the same value (not six digits),
  // and compression shares only equal values.
  XP_EXACT_NUMBERS = 0x4000,
};

// geomFlags, both sides (export: what is written; import: what is built).
enum : ULONG {
  GEOM_GROUPS = 0x2,
  GEOM_REGIONS = 0x4,
  GEOM_MATERIALS = 0x8,
  GEOM_UVS = 0x10,
  GEOM_REVERSE_ORDER = 0x20,
  GEOM_FLIP_U = 0x40,
  GEOM_FLIP_V = 0x80,
  GEOM_NEGATE_Z = 0x100,
  GEOM_FACES = 0x200,  // export only
  GEOM_NORMALS = 0x400,
  GEOM_NGONS = 0x800,
  GEOM_SCALE_MULTIPLY = 0x1000,  // clear: coordinates are divided by the scale
  GEOM_WHOLE_GROUP_NAMES = 0x2000,
  GEOM_SWAP_YZ = 0x4000,
  GEOM_NEGATE_X = 0x8000,
  GEOM_REVERSE_NORMALS = 0x10000,
  // Preset marks.
  PRESET_CURRENT_VERSION = 0x10000000,
  PRESET_BUILTIN_EXPORT = 0x20000000,
  PRESET_BUILTIN = 0x40000000,
  PRESET_PROTECTED = 0x80000000,
};

// materialFlags on import.
enum : ULONG {
  MAT_BUILD = 0x1,
  MAT_LOAD_TEXTURES = 0x2,
  MAT_COLOR = 0x4,
  MAT_LUMINANCE = 0x8,
  MAT_TRANSPARENCY = 0x10,
  MAT_REFRACTION = 0x20,
  MAT_EXTRA_CHANNEL = 0x40,  // kept with the preset; no import step reads it
  MAT_BUMP = 0x80,
  MAT_ALPHA = 0x100,
  MAT_SPECULAR = 0x200,
  MAT_SPECULAR_COLOR = 0x400,
  MAT_DISPLACEMENT = 0x800,
  MAT_TEXTURE_TAGS = 0x1000,
  MAT_NONE = 0x2000,
  MAT_NEW = 0x4000,
  MAT_REUSE = 0x8000,
  MAT_HANDLING_MASK = 0xE000,
  MAT_REWRITE_REUSED = 0x10000,
  MAT_CONSOLIDATE = 0x20000,
};

// One row of a side's built-in preset table.
struct PresetTableEntry {
  CHAR name[32];
  LONG presetId, scale, layoutFlags, geomFlags, materialFlags, shaderParam1006, shaderParam1005, mode, value1010,
      firstFileNumber, useFirstFileNumber;
};

// 80 degrees in radians, the default Phong angle limit: the single-precision value
// widened (bits 0x3FF6571840000000), as stored presets have always carried it.
constexpr Real kDefaultSmoothAngle = 1.3962633609771729;

class PluginOpts {
 public:
  enum Side { IMPORT_SIDE, EXPORT_SIDE };

  String name;
  LONG presetId = 0;  // 1..4 built-in as generated, 0 "Last Used" and loaded, -1 added
  ULONG scale = 1;
  ULONG layoutFlags = 0;
  ULONG geomFlags = 0;
  ULONG materialFlags = 0;
  LONG shaderParam1006 = 0;
  LONG shaderParam1005 = 0;
  LONG mode = 0;
  LONG value1010 = 0;
  // Working values of one export; never stored nor copied.
  LONG startFrame = 0;
  LONG endFrame = 0;
  LONG frameRate = 0;
  LONG frameStep = 0;
  LONG firstFileNumber = 0;
  LONG useFirstFileNumber = 0;
  String texturePath;
  Real smoothAngle = kDefaultSmoothAngle;
  ULONG mergeToleranceR = 1;
  ULONG mergeToleranceG = 1;
  ULONG mergeToleranceB = 1;

  // From a built-in table row; smoothAngle 80 degrees, texturePath "".
  void SetFromTable(const PresetTableEntry& entry);
  // Everything but the four frame fields; a null target is ignored.
  void CopyTo(PluginOpts* target) const;
  // Writes the stored fields into bc (import side: with the smoothing angle and the
  // merge tolerances).
  void Store(BaseContainer& bc, Side side) const;
  // Reads the stored fields; a missing entry takes the value of defaults (name "No
  // Name", scale 1, tolerances 1, angle 80 degrees, texture path "").
  void Load(const BaseContainer& bc, Side side, const PluginOpts& defaults);

  // The effective coordinate factor: scale, or 1 / scale when GEOM_SCALE_MULTIPLY is
  // clear.
  Real ScaleFactor() const;
};

// The built-in presets of each side, default first.
extern const PresetTableEntry kImportPresetTable[4];
extern const PresetTableEntry kExportPresetTable[4];

// Adjustments made when an import options dialog is confirmed: materials always on,
// material building and texture tags follow the handling mode, reversed normals follow
// the reverse switch, and each mirroring axis option (swap Y/Z, negate Z, negate X)
// toggles the corner order once.
void AdjustConfirmedImportOpts(PluginOpts& opts);

// The export side's adjustments; gives the ignore-visibility switch and the face form
// the OBJ writer uses (1..8: with texture coordinates and normals 1 reversed / 2, only
// texture coordinates 3 / 4, only normals 5 / 6, neither 7 / 8). Without faces no
// groups, regions or materials are written.
struct ConfirmedExportOpts {
  Bool ignoreVisibility = FALSE;
  LONG faceForm = 8;
};
ConfirmedExportOpts AdjustConfirmedExportOpts(PluginOpts& opts);

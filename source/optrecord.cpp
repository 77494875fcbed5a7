#include "optrecord.h"

const PresetTableEntry kImportPresetTable[4] = {
    {"Default Import Options", 1, 1, 0x00FE93E1, static_cast<LONG>(0xD0001996), static_cast<LONG>(0x80018FFE), 3, 3,
     0, 0, 0, 0},
    {"Import From Poser", 2, 1000, 0x00FE93E1, 0x50003996, static_cast<LONG>(0x80018FFE), 3, 3, 0, 0, 0, 0},
    {"Import From ZBrush", 3, 1, 0x00FE93E0, 0x50001196, static_cast<LONG>(0x80018FFE), 3, 3, 0, 0, 0, 0},
    {"Import From SketchUp", 4, 1, 0x00FF93E1, 0x50001996, static_cast<LONG>(0x80018FFE), 3, 3, 0, 0, 0, 0},
};

const PresetTableEntry kExportPresetTable[4] = {
    {"Default Export Options", 1, 1, 0x00000080, static_cast<LONG>(0xF0000B9E), static_cast<LONG>(0x80000FFF), 0,
     0, 0, 0, 0, 0},
    {"Export To Poser", 2, 1000, 0x00000088, 0x70002B9E, static_cast<LONG>(0x80000FFF), 0, 0, 0, 0, 0, 0},
    {"Export To ZBrush", 3, 1, 0x00000080, 0x7000039A, static_cast<LONG>(0x80000FFF), 0, 0, 0, 0, 0, 0},
    {"Export To SketchUp", 4, 1, 0x00000080, 0x70000B9A, static_cast<LONG>(0x80000FFF), 0, 0, 0, 0, 0, 0},
};

void PluginOpts::SetFromTable(const PresetTableEntry& entry) {
  name = String(entry.name);
  presetId = entry.presetId;
  scale = static_cast<ULONG>(entry.scale);
  layoutFlags = static_cast<ULONG>(entry.layoutFlags);
  geomFlags = static_cast<ULONG>(entry.geomFlags);
  materialFlags = static_cast<ULONG>(entry.materialFlags);
  shaderParam1006 = entry.shaderParam1006;
  shaderParam1005 = entry.shaderParam1005;
  mode = entry.mode;
  value1010 = entry.value1010;
  firstFileNumber = entry.firstFileNumber;
  useFirstFileNumber = entry.useFirstFileNumber;
  smoothAngle = kDefaultSmoothAngle;
  texturePath = String();
}

void PluginOpts::CopyTo(PluginOpts* target) const {
  if (!target || target == this) return;
  target->name = name;
  target->presetId = presetId;
  target->scale = scale;
  target->layoutFlags = layoutFlags;
  target->geomFlags = geomFlags;
  target->materialFlags = materialFlags;
  target->shaderParam1006 = shaderParam1006;
  target->shaderParam1005 = shaderParam1005;
  target->mode = mode;
  target->value1010 = value1010;
  target->firstFileNumber = firstFileNumber;
  target->useFirstFileNumber = useFirstFileNumber;
  target->mergeToleranceR = mergeToleranceR;
  target->mergeToleranceG = mergeToleranceG;
  target->mergeToleranceB = mergeToleranceB;
  target->smoothAngle = smoothAngle;
  target->texturePath = texturePath;
}

void PluginOpts::Store(BaseContainer& bc, Side side) const {
  bc.SetString(OPT_NAME, name);
  bc.SetLong(OPT_SCALE, static_cast<LONG>(scale));
  bc.SetLong(OPT_LAYOUT_FLAGS, static_cast<LONG>(layoutFlags));
  bc.SetLong(OPT_GEOM_FLAGS, static_cast<LONG>(geomFlags));
  bc.SetLong(OPT_MATERIAL_FLAGS, static_cast<LONG>(materialFlags));
  bc.SetLong(OPT_SHADER_PARAM_1006, shaderParam1006);
  bc.SetLong(OPT_SHADER_PARAM_1005, shaderParam1005);
  bc.SetLong(OPT_MODE, mode);
  bc.SetLong(OPT_VALUE_1010, value1010);
  bc.SetLong(OPT_FIRST_FILE_NUMBER, firstFileNumber);
  bc.SetLong(OPT_USE_FIRST_FILE_NUMBER, useFirstFileNumber);
  bc.SetString(OPT_TEXTURE_PATH, texturePath);
  if (side == IMPORT_SIDE) {
    bc.SetLong(OPT_MERGE_TOLERANCE_R, static_cast<LONG>(mergeToleranceR));
    bc.SetLong(OPT_MERGE_TOLERANCE_G, static_cast<LONG>(mergeToleranceG));
    bc.SetLong(OPT_MERGE_TOLERANCE_B, static_cast<LONG>(mergeToleranceB));
    bc.SetReal(OPT_SMOOTH_ANGLE, smoothAngle);
  }
}

void PluginOpts::Load(const BaseContainer& bc, Side side, const PluginOpts& defaults) {
  const auto flags = [&bc](LONG id, ULONG preset) {
    return static_cast<ULONG>(bc.GetLong(id, static_cast<LONG>(preset)));
  };
  name = bc.GetString(OPT_NAME, String("No Name"));
  scale = flags(OPT_SCALE, 1);
  layoutFlags = flags(OPT_LAYOUT_FLAGS, defaults.layoutFlags);
  geomFlags = flags(OPT_GEOM_FLAGS, defaults.geomFlags);
  materialFlags = flags(OPT_MATERIAL_FLAGS, defaults.materialFlags);
  shaderParam1006 = bc.GetLong(OPT_SHADER_PARAM_1006, defaults.shaderParam1006);
  shaderParam1005 = bc.GetLong(OPT_SHADER_PARAM_1005, defaults.shaderParam1005);
  mode = bc.GetLong(OPT_MODE, defaults.mode);
  value1010 = bc.GetLong(OPT_VALUE_1010, defaults.value1010);
  firstFileNumber = bc.GetLong(OPT_FIRST_FILE_NUMBER, defaults.firstFileNumber);
  useFirstFileNumber = bc.GetLong(OPT_USE_FIRST_FILE_NUMBER, defaults.useFirstFileNumber);
  texturePath = bc.GetString(OPT_TEXTURE_PATH, String());
  if (side == IMPORT_SIDE) {
    mergeToleranceR = flags(OPT_MERGE_TOLERANCE_R, 1);
    mergeToleranceG = flags(OPT_MERGE_TOLERANCE_G, 1);
    mergeToleranceB = flags(OPT_MERGE_TOLERANCE_B, 1);
    smoothAngle = bc.GetReal(OPT_SMOOTH_ANGLE, kDefaultSmoothAngle);
  }
  // A preset read back from storage is never a freshly generated built-in.
  presetId = 0;
}

Real PluginOpts::ScaleFactor() const {
  const Real value = static_cast<Real>(scale);
  if (geomFlags & GEOM_SCALE_MULTIPLY) return value;
  // A stored scale of 0 cannot come from the dialog; dividing by it would spread
  // infinities through every coordinate, so it counts as 1.
  return scale ? 1.0 / value : 1.0;
}

namespace {

// Normals follow the reverse switch as the user set it; then every mirroring axis
// option reverses the corner order once more, so faces keep facing outwards.
void AdjustMirroring(PluginOpts& opts) {
  if (opts.geomFlags & GEOM_REVERSE_ORDER)
    opts.geomFlags |= GEOM_REVERSE_NORMALS;
  else
    opts.geomFlags &= ~GEOM_REVERSE_NORMALS;
  for (const ULONG mirror : {GEOM_SWAP_YZ, GEOM_NEGATE_Z, GEOM_NEGATE_X})
    if (opts.geomFlags & mirror) opts.geomFlags ^= GEOM_REVERSE_ORDER;
}

}  // namespace

void AdjustConfirmedImportOpts(PluginOpts& opts) {
  opts.geomFlags |= GEOM_MATERIALS;
  if (opts.materialFlags & (MAT_NEW | MAT_REUSE))
    opts.materialFlags |= MAT_BUILD | MAT_TEXTURE_TAGS;
  else
    opts.materialFlags &= ~static_cast<ULONG>(MAT_BUILD | MAT_TEXTURE_TAGS);
  AdjustMirroring(opts);
}

ConfirmedExportOpts AdjustConfirmedExportOpts(PluginOpts& opts) {
  ConfirmedExportOpts result;
  result.ignoreVisibility = (opts.layoutFlags & XP_IGNORE_VISIBILITY) ? TRUE : FALSE;
  AdjustMirroring(opts);
  const bool reverse = opts.geomFlags & GEOM_REVERSE_ORDER;
  const bool uvs = opts.geomFlags & GEOM_UVS;
  const bool normals = opts.geomFlags & GEOM_NORMALS;
  LONG form = 7;
  if (uvs && normals)
    form = 1;
  else if (uvs)
    form = 3;
  else if (normals)
    form = 5;
  result.faceForm = reverse ? form : form + 1;
  if (!(opts.geomFlags & GEOM_FACES)) opts.geomFlags &= ~static_cast<ULONG>(GEOM_GROUPS | GEOM_REGIONS | GEOM_MATERIALS);
  return result;
}

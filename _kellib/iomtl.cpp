#include "iomtl.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "c4d_symbols.h"
#include "compat.h"
#include "scan.h"

namespace {

// The MTL line buffer, as for OBJ files.
constexpr LONG kLineSize = 2048;
// Tolerances arrive in 1/255 steps of a colour component.
constexpr Real kColourStep = 0.00392;
// Tolerance of the numbers compared by the merge.
constexpr Real kValueTolerance = 0.01;

const Vector kDefaultColour(0.34902, 0.376471, 0.407843);

// --- MTL text ------------------------------------------------------------------------

inline bool IsBlank(CHAR c) { return c == ' ' || c == '\t'; }

const CHAR* SkipBlanks(const CHAR* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

const CHAR* TokenEnd(const CHAR* p) {
  while (*p && !IsBlank(*p)) ++p;
  return p;
}

// True when [begin, end) is exactly word.
bool TokenIs(const CHAR* begin, const CHAR* end, const char* word) {
  const size_t length = std::strlen(word);
  return static_cast<size_t>(end - begin) == length && std::memcmp(begin, word, length) == 0;
}

// Copies text into a map name: at most IOMTL_MAPNAME_SIZE - 1 characters.
void CopyMapName(CHAR* dst, const CHAR* text) {
  size_t length = std::strlen(text);
  if (length > IOMTL_MAPNAME_SIZE - 1) length = IOMTL_MAPNAME_SIZE - 1;
  std::memcpy(dst, text, length);
  dst[length] = 0;
}

// The file part of [begin, end) (what follows its last slash, colon or backslash,
// trimmed) into dst. A text without a file part leaves dst alone.
void StoreFilePart(CHAR* dst, const CHAR* begin, const CHAR* end) {
  CHAR text[kLineSize];
  size_t length = static_cast<size_t>(end - begin);
  if (length > sizeof(text) - 1) length = sizeof(text) - 1;
  std::memcpy(text, begin, length);
  text[length] = 0;
  const CHAR* part = Trim(FilePart(text));
  if (part && *part) CopyMapName(dst, part);
}

// The three numbers of a colour statement. Numbers that are missing or not numbers
// read as 0.
Vector ReadColour(const CHAR* line, const CHAR* end, const CHAR* pattern) {
  double v[3] = {0.0, 0.0, 0.0};
  scan::ScanPattern(line, end, pattern, nullptr, v);
  for (double& c : v)
    if (std::isnan(c)) c = 0.0;
  return Vector(v[0], v[1], v[2]);
}

// The one number of a statement; false when it is missing or not a number.
bool ReadNumber(const CHAR* line, const CHAR* end, const CHAR* pattern, double* value) {
  return scan::ScanPattern(line, end, pattern, nullptr, value) == 1 && !std::isnan(*value);
}

// The material name of a "newmtl" line: the text after its first seven characters,
// trimmed, blanks and tabs turned into "_". Null when the line names none.
const CHAR* NewMaterialName(CHAR* line, const CHAR* end) {
  if (scan::ScanPattern(line, end, "newmtl %s", nullptr, nullptr) != 1) return nullptr;
  return BlanksToUnderscores(line + 7);
}

// The known names of map statements and the field each one fills.
struct MapStatement {
  const char* keyword;
  CHAR (ioMaterial::*field)[IOMTL_MAPNAME_SIZE];
};

}  // namespace

// --- ioMaterial ------------------------------------------------------------------------

ioMaterial::~ioMaterial() { bDelete(faceIndices); }

void ioMaterial::ResetValues() {
  isStandard = 1;
  defaultColor = kDefaultColour;
  diffuse = kDefaultColour;
  ambient = Vector(0.0, 0.0, 0.0);
  specular = Vector(1.0, 1.0, 1.0);
  filter = Vector(1.0, 1.0, 1.0);
  transparency = 0.0;
  shininess = 65.0;
  shininessScale = 100.0;
  refraction = 1.0;
  hasAmbient = hasDiffuse = hasSpecularHighlight = hasSpecularColor = hasTransparency = 0;
  mapDiffuse[0] = mapBump[0] = mapDisplacement[0] = mapSpecular[0] = mapAmbient[0] = mapAlpha[0] = 0;
}

namespace {

// The texture file a channel shows: the bitmap that a layer shader holds, else the
// channel's own bitmap.
void ReadChannelTexture(const BaseChannel* channel, CHAR* dst) {
  String file;
  const BaseShader* shader = channel->GetShader();
  if (shader && shader->GetType() == Xlayer) {
    const BaseList2D* bitmap = shader->GetDataInstance()->GetLink(LAYERSHADER_SHADER, nullptr, Xbitmap);
    if (bitmap) file = bitmap->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString();
  } else {
    file = channel->GetData().GetString(BASECHANNEL_TEXTURE);
  }
  file.GetCString(dst, IOMTL_MAPNAME_SIZE);
}

// Colour times brightness of a channel.
Vector LitColour(const BaseContainer& data) {
  return data.GetVector(BASECHANNEL_COLOR_EX) * data.GetReal(BASECHANNEL_BRIGHTNESS_EX);
}

}  // namespace

void ioMaterial::ReadHostMaterial(BaseMaterial* mat) {
  ResetValues();
  hostMaterial = mat;
  if (!mat) return;
  if (mat->GetType() != Mmaterial) {
    hasDiffuse = 1;
    isStandard = 0;
    return;
  }
  Material* standard = static_cast<Material*>(mat);
  auto on = [standard](LONG id) { return standard->GetChannelState(id) && standard->GetChannel(id); };

  if (on(CHANNEL_COLOR)) {
    const BaseChannel* channel = standard->GetChannel(CHANNEL_COLOR);
    diffuse = LitColour(channel->GetData());
    ReadChannelTexture(channel, mapDiffuse);
    hasDiffuse = 1;
  }
  if (on(CHANNEL_TRANSPARENCY)) {
    const BaseContainer data = standard->GetChannel(CHANNEL_TRANSPARENCY)->GetData();
    filter = data.GetVector(BASECHANNEL_COLOR_EX);
    transparency = data.GetReal(BASECHANNEL_BRIGHTNESS_EX);
    refraction = standard->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.0);
    hasTransparency = 1;
  }
  if (on(CHANNEL_LUMINANCE)) {
    const BaseChannel* channel = standard->GetChannel(CHANNEL_LUMINANCE);
    ambient = LitColour(channel->GetData());
    ReadChannelTexture(channel, mapAmbient);
    hasAmbient = 1;
  }
  if (on(CHANNEL_SPECULAR)) {
    hasSpecularHighlight = 1;
    if (on(CHANNEL_SPECULARCOLOR)) {
      const BaseChannel* channel = standard->GetChannel(CHANNEL_SPECULARCOLOR);
      specular = LitColour(channel->GetData());
      ReadChannelTexture(channel, mapSpecular);
      hasSpecularColor = 1;
    }
  }
  if (on(CHANNEL_BUMP)) ReadChannelTexture(standard->GetChannel(CHANNEL_BUMP), mapBump);
  if (on(CHANNEL_DISPLACEMENT)) ReadChannelTexture(standard->GetChannel(CHANNEL_DISPLACEMENT), mapDisplacement);
  if (on(CHANNEL_ALPHA)) ReadChannelTexture(standard->GetChannel(CHANNEL_ALPHA), mapAlpha);
}

Bool ioMaterial::HasMap() const {
  return mapDiffuse[0] || mapBump[0] || mapDisplacement[0] || mapSpecular[0] || mapAmbient[0] || mapAlpha[0];
}

Bool ioMaterial::Matches(const ioMaterial& other, const Vector& tolerance) const {
  if (HasMap() || other.HasMap()) return FALSE;
  if (hasAmbient != other.hasAmbient || hasDiffuse != other.hasDiffuse ||
      hasSpecularHighlight != other.hasSpecularHighlight || hasSpecularColor != other.hasSpecularColor ||
      hasTransparency != other.hasTransparency)
    return FALSE;
  auto near = [&tolerance](const Vector& a, const Vector& b) {
    return std::fabs(a.x - b.x) < tolerance.x && std::fabs(a.y - b.y) < tolerance.y &&
           std::fabs(a.z - b.z) < tolerance.z;
  };
  auto close = [](Real a, Real b) { return std::fabs(a - b) < kValueTolerance; };
  return near(diffuse, other.diffuse) && near(ambient, other.ambient) && near(specular, other.specular) &&
         near(filter, other.filter) && close(shininess, other.shininess) &&
         close(shininessScale, other.shininessScale) && close(refraction, other.refraction) &&
         close(transparency, other.transparency);
}

Bool ioMaterial::SetFaceIndices(const ioFace* faces, ULONG faceTotal) {
  bDelete(faceIndices);
  faceIndexCount = 0;
  if (faceCount == 0) return TRUE;
  if (!faces || faceTotal < faceCount) return FALSE;
  faceIndices = bNew(ULONG, faceCount);
  if (!faceIndices) return FALSE;
  for (ULONG i = 0; i < faceTotal && faceIndexCount < faceCount; ++i)
    if (faces[i].material == index) faceIndices[faceIndexCount++] = static_cast<ULONG>(faces[i].sequence);
  return TRUE;
}

void ioMaterial::CopyFrom(const ioMaterial& other) {
  hostMaterial = other.hostMaterial;
  textureTag = other.textureTag;
  name = other.name;
  isStandard = other.isStandard;
  defaultColor = other.defaultColor;
  diffuse = other.diffuse;
  ambient = other.ambient;
  specular = other.specular;
  filter = other.filter;
  transparency = other.transparency;
  shininess = other.shininess;
  shininessScale = other.shininessScale;
  refraction = other.refraction;
  hasAmbient = other.hasAmbient;
  hasDiffuse = other.hasDiffuse;
  hasSpecularHighlight = other.hasSpecularHighlight;
  hasSpecularColor = other.hasSpecularColor;
  hasTransparency = other.hasTransparency;
  std::memcpy(mapDiffuse, other.mapDiffuse, sizeof(mapDiffuse));
  std::memcpy(mapBump, other.mapBump, sizeof(mapBump));
  std::memcpy(mapDisplacement, other.mapDisplacement, sizeof(mapDisplacement));
  std::memcpy(mapSpecular, other.mapSpecular, sizeof(mapSpecular));
  std::memcpy(mapAmbient, other.mapAmbient, sizeof(mapAmbient));
  std::memcpy(mapAlpha, other.mapAlpha, sizeof(mapAlpha));
  faceCount = other.faceCount;
  isDefault = other.isDefault;
}

// --- ioMaterialList ----------------------------------------------------------------------

ioMaterialList* ioMaterialList::Alloc() {
  ioMaterialList* list = gNew ioMaterialList;
  if (!list) return nullptr;
  list->m_pEntries = gNew linkList;
  list->m_pNames = materialHash::Create();
  if (!list->m_pEntries || !list->m_pNames) Free(list);
  return list;
}

void ioMaterialList::Free(ioMaterialList*& list) { gDelete(list); }

ioMaterialList::~ioMaterialList() {
  materialHash::Destroy(&m_pNames);
  gDelete(m_pEntries);
}

ioMaterial* ioMaterialList::FindOrAdd(BaseMaterial* hostMaterial, const String& name) {
  if (ioMaterial* found = FindByName(name)) return found;
  ioMaterial* entry = gNew ioMaterial(name, Count());
  if (!entry) return nullptr;
  if (!m_pNames->AddEntry(name, entry)) {
    gDelete(entry);
    return nullptr;
  }
  m_pEntries->AppendNode(entry);
  if (hostMaterial) entry->ReadHostMaterial(hostMaterial);
  return entry;
}

ioMaterial* ioMaterialList::FindByName(const String& name) const {
  const materialHash::Entry* entry = m_pNames ? m_pNames->Find(name) : nullptr;
  return entry ? entry->value : nullptr;
}

ioMaterial* ioMaterialList::FindByIndex(LONG index) const {
  for (ioMaterial* entry = First(); entry; entry = entry->Next())
    if (entry->index == index) return entry;
  return First();
}

void ioMaterialList::MarkDefault(ioMaterial* entry) {
  if (!entry) return;
  entry->isDefault = 1;
  entry->hasDiffuse = 1;
}

Bool ioMaterialList::SetFaceIndices(const ioFace* faces, ULONG faceTotal) {
  FaceIndexScan scan;
  const Bool ok = PrepareFaceIndices(&scan, faces, faceTotal);
  scan.Run(faces, faceTotal);
  return ok;
}

Bool ioMaterialList::PrepareFaceIndices(FaceIndexScan* scan, const ioFace* faces, ULONG faceTotal) {
  // Entries numbered by position (as the list makes them) are filled in the scan;
  // otherwise each entry scans for itself.
  const LONG count = Count();
  ioMaterial** byIndex = count > 0 ? bNew(ioMaterial*, count) : nullptr;
  LONG position = 0;
  for (ioMaterial* entry = First(); entry && byIndex; entry = entry->Next(), ++position) {
    if (entry->index != position) bDelete(byIndex);
    else byIndex[position] = entry;
  }
  FaceIndexScan::Slot* slots = byIndex ? scan->AddList(&ioFace::material, TRUE, count) : nullptr;
  if (!slots) {
    bDelete(byIndex);
    for (ioMaterial* entry = First(); entry; entry = entry->Next())
      if (!entry->SetFaceIndices(faces, faceTotal)) return FALSE;
    return TRUE;
  }
  // As entry by entry: the entries before a failing one are filled, those after it
  // keep what they had.
  LONG filled = 0;
  for (; filled < count; ++filled) {
    ioMaterial* entry = byIndex[filled];
    bDelete(entry->faceIndices);
    entry->faceIndexCount = 0;
    if (entry->faceCount > 0 &&
        (!faces || faceTotal < entry->faceCount || !(entry->faceIndices = bNew(ULONG, entry->faceCount))))
      break;
    slots[filled] = {entry->faceIndices, &entry->faceIndexCount, entry->faceCount};
  }
  bDelete(byIndex);
  return filled == count;
}

void ioMaterialList::ReadMTLLine(CHAR* line, ioMaterial*& current) const {
  const CHAR* end = scan::EndOf(line);
  const CHAR first = line[0];

  if (first == 'n') {
    if (const CHAR* name = NewMaterialName(line, end)) {
      // Materials that no face uses are read into nothing.
      current = FindByName(String(name));
    } else if (std::strncmp(line, "newmtl", 6) == 0) {
      // A "newmtl" without a name still ends the material before it.
      current = nullptr;
    }
    return;
  }
  if (!current) return;

  const CHAR second = line[1];
  double value = 0.0;
  switch (first) {
    case 'K':
      if (second == 'a') {
        current->ambient = ReadColour(line, end, "Ka %f %f %f");
        current->hasAmbient = 1;
      } else if (second == 'd') {
        current->diffuse = ReadColour(line, end, "Kd %f %f %f");
        current->hasDiffuse = 1;
      } else if (second == 's') {
        current->specular = ReadColour(line, end, "Ks %f %f %f");
        current->hasSpecularColor = 1;
        current->hasSpecularHighlight = 1;
      }
      return;
    case 'N':
      if (ReadNumber(line, end, "Ns %f", &value)) {
        if (value > 100.0) value = 100.0;
        current->shininess = value / current->shininessScale * 128.0;
        current->hasSpecularHighlight = 1;
      } else if (ReadNumber(line, end, "Ni %f", &value)) {
        current->refraction = value < 0.25 ? 0.25 : (value > 4.0 ? 4.0 : value);
      }
      return;
    case 'T':
      if (second == 'f') {
        current->filter = ReadColour(line, end, "Tf %f %f %f");
        current->hasTransparency = 1;
      }
      return;
    case 'd':
      if (ReadNumber(line, end, "d %f", &value)) {
        current->transparency = 1.0 - value;
        current->hasTransparency = 1;
      } else if (TokenIs(line, TokenEnd(line), "disp")) {
        const CHAR* file = SkipBlanks(TokenEnd(line));
        StoreFilePart(current->mapDisplacement, file, TokenEnd(file));
      }
      return;
    case 'b':
    case 'm': {
      static const MapStatement kMaps[] = {
          {"bump", &ioMaterial::mapBump},       {"map_Kd", &ioMaterial::mapDiffuse},
          {"map_Bump", &ioMaterial::mapBump},   {"map_bump", &ioMaterial::mapBump},
          {"map_Ks", &ioMaterial::mapSpecular}, {"map_Ka", &ioMaterial::mapAmbient},
          {"map_d", &ioMaterial::mapAlpha},
      };
      const CHAR* tokenEnd = TokenEnd(line);
      for (const MapStatement& map : kMaps) {
        if (!TokenIs(line, tokenEnd, map.keyword)) continue;
        // The rest of the line whole: options before the file name stay part of it.
        StoreFilePart(current->*map.field, tokenEnd, end);
        return;
      }
      return;
    }
    default:
      return;
  }
}

Bool ioMaterialList::LoadMTLs(TextReader& reader) {
  const Real start = GeGetMilliSeconds();
  CHAR line[kLineSize];
  ioMaterial* current = nullptr;
  while (reader.ReadLine(line, kLineSize) > 0) ReadMTLLine(line, current);
  ReportElapsed("LoadMTLs()", GeGetMilliSeconds() - start);
  return TRUE;
}

LONG ioMaterialList::AddMTLNames(TextReader& reader) {
  CHAR line[kLineSize];
  while (reader.ReadLine(line, kLineSize) > 0) {
    if (line[0] != 'n') continue;
    const CHAR* name = NewMaterialName(line, scan::EndOf(line));
    if (name && !FindOrAdd(nullptr, String(name))) {
      ReportMemoryError("ioMaterialList::AddMTLNames()");
      return -1;
    }
  }
  return Count();
}

Bool ioMaterialList::Consolidate(Real tolR, Real tolG, Real tolB) {
  ConsolePrintf("NumMaterials: %d", static_cast<int>(Count()));
  const Vector tolerance(tolR * kColourStep, tolG * kColourStep, tolB * kColourStep);

  // The merged list is built beside the old one, which stays as it is until the new one
  // is complete.
  ioMaterialList* merged = Alloc();
  if (!merged) return FALSE;
  const LONG oldCount = Count();
  const LONG slots = oldCount > 0 ? oldCount : 1;
  ioMaterial** oldEntries = bNew(ioMaterial*, slots);  // by position
  ioMaterial** keptFor = bNew(ioMaterial*, slots);     // the merged entry of each position
  Bool ok = oldEntries && keptFor;
  LONG position = 0;
  for (ioMaterial* entry = First(); ok && entry; entry = entry->Next(), ++position) {
    ioMaterial* kept = nullptr;
    for (ioMaterial* candidate = merged->First(); candidate; candidate = candidate->Next())
      if (entry->Matches(*candidate, tolerance)) {
        kept = candidate;
        break;
      }
    if (!kept) {
      kept = gNew ioMaterial(entry->name, merged->Count());
      if (!kept) {
        ok = FALSE;
        break;
      }
      kept->CopyFrom(*entry);
      merged->m_pEntries->AppendNode(kept);
    }
    oldEntries[position] = entry;
    keptFor[position] = kept;
  }
  // Every name of the old table, aliases of earlier merges included, leads to the entry
  // that took its record. An entry's index is its position unless someone changed it.
  for (const materialHash::Entry* name = m_pNames->First(); ok && name; name = materialHash::Next(name)) {
    LONG old = name->value ? name->value->index : -1;
    if (old < 0 || old >= oldCount || oldEntries[old] != name->value)
      for (old = 0; old < oldCount && oldEntries[old] != name->value; ++old) {
      }
    if (old >= oldCount) continue;  // a name without a record: nothing to lead to
    if (!merged->m_pNames->AddEntry(name->key, keptFor[old])) ok = FALSE;
  }
  bDelete(oldEntries);
  bDelete(keptFor);
  if (!ok) {
    Free(merged);
    return FALSE;
  }

  std::swap(m_pEntries, merged->m_pEntries);
  std::swap(m_pNames, merged->m_pNames);
  Free(merged);
  m_objectSelections.Free();
  m_pCurrentSelectionTag = nullptr;
  m_pLastTag = nullptr;
  ConsolePrintf("Merged: %d", static_cast<int>(Count()));
  return TRUE;
}

void ioMaterialList::Clear() {
  m_pNames->Clear();
  m_pEntries->Clear();
  m_objectSelections.Free();
  m_pCurrentSelectionTag = nullptr;
  m_pLastTag = nullptr;
}

Bool ioMaterialList::ResetObjectSelections() {
  m_pCurrentSelectionTag = nullptr;
  m_pLastTag = nullptr;
  m_polygonLimit.Forget();
  if (m_objectSelections.Reset(Count())) return TRUE;
  // The object gets no material tags.
  ReportLoss("Selection Tag");
  return FALSE;
}

// --- host materials ---------------------------------------------------------------------

namespace {

// A channel's data with its colour and brightness.
BaseContainer LitChannel(const Vector& colour, Real brightness) {
  BaseContainer bc;
  bc.SetVector(BASECHANNEL_COLOR_EX, colour);
  bc.SetReal(BASECHANNEL_BRIGHTNESS_EX, brightness);
  return bc;
}

// The map as the channel's texture. With a texture folder the map is looked for there
// (and below it), and the folder it was found in is suggested to the host.
void SetTexture(BaseContainer& bc, const CHAR* map, const ioMaterialBuildOptions& opts) {
  bc.SetString(BASECHANNEL_TEXTURE, String(map));
  if (!opts.texturePath.Content()) return;
  Filename found;
  if (GeSearchFile(Filename(opts.texturePath), Filename(map), &found))
    bc.SetFilename(BASECHANNEL_SUGGESTEDFOLDER, found.GetDirectory());
}

// The maps of the colour, luminance and specular colour channels: only when textures
// are asked for, and then with the shader parameters of the options.
void SetColourTexture(BaseContainer& bc, const CHAR* map, const ioMaterialBuildOptions& opts) {
  if (!(opts.materialFlags & IOMTL_TEXTURES) || !map[0]) return;
  SetTexture(bc, map, opts);
  bc.SetLong(BASECHANNEL_MIXSTRENGTH_EX, opts.shaderParam1006);
  bc.SetLong(BASECHANNEL_MIXMODE_EX, opts.shaderParam1005);
}

// Switches the channel on or off; a channel that is on takes bc. False when bc's texture
// did not take (the host makes it a shader of the material, which memory may refuse).
Bool SetChannel(Material* mat, LONG id, Bool on, const BaseContainer& bc) {
  mat->SetChannelState(id, on);
  BaseChannel* channel = on ? mat->GetChannel(id) : nullptr;
  if (!channel) return TRUE;
  channel->SetData(bc);
  const GeData* texture = bc.GetDataPointer(BASECHANNEL_TEXTURE);
  return !texture || channel->GetData().GetString(BASECHANNEL_TEXTURE) == texture->GetString();
}

// The channels of the table, each switched on or off. False when a texture did not take.
Bool WriteChannels(Material* mat, const ioMaterial& entry, const ioMaterialBuildOptions& opts) {
  const ULONG flags = opts.materialFlags;
  Bool took = TRUE;
  auto asked = [flags](ULONG bit) { return (flags & bit) != 0; };

  // Without a material library every material shows its (default) colour.
  Bool on = asked(IOMTL_COLOR) && (!opts.libraryRead || entry.hasDiffuse);
  BaseContainer bc = LitChannel(entry.diffuse, 1.0);
  if (on) SetColourTexture(bc, entry.mapDiffuse, opts);
  took = SetChannel(mat, CHANNEL_COLOR, on, bc) && took;

  on = asked(IOMTL_TRANSPARENCY) && entry.hasTransparency;
  took = SetChannel(mat, CHANNEL_TRANSPARENCY, on, LitChannel(entry.filter, entry.transparency)) && took;
  if (on && asked(IOMTL_REFRACTION))
    mat->GetDataInstance()->SetReal(MATERIAL_TRANSPARENCY_REFRACTION, entry.refraction);

  on = asked(IOMTL_LUMINANCE) && entry.hasAmbient;
  bc = LitChannel(entry.ambient, 1.0);
  if (on) SetColourTexture(bc, entry.mapAmbient, opts);
  took = SetChannel(mat, CHANNEL_LUMINANCE, on, bc) && took;

  SetChannel(mat, CHANNEL_SPECULAR, asked(IOMTL_SPECULAR) && entry.hasSpecularHighlight, BaseContainer());

  on = asked(IOMTL_SPECULAR_COLOR) && entry.hasSpecularColor;
  bc = LitChannel(entry.specular, 1.0);
  if (on) SetColourTexture(bc, entry.mapSpecular, opts);
  took = SetChannel(mat, CHANNEL_SPECULARCOLOR, on, bc) && took;

  // The map channels are on only with a map, which they then always take.
  on = asked(IOMTL_BUMP) && entry.mapBump[0];
  bc = BaseContainer();
  if (on) {
    SetTexture(bc, entry.mapBump, opts);
    bc.SetLong(BASECHANNEL_MIXMODE_EX, opts.shaderParam1005);
  }
  took = SetChannel(mat, CHANNEL_BUMP, on, bc) && took;

  on = asked(IOMTL_DISPLACEMENT) && entry.mapDisplacement[0];
  bc = BaseContainer();
  if (on) SetTexture(bc, entry.mapDisplacement, opts);
  took = SetChannel(mat, CHANNEL_DISPLACEMENT, on, bc) && took;

  on = asked(IOMTL_ALPHA) && entry.mapAlpha[0];
  bc = BaseContainer();
  if (on) SetTexture(bc, entry.mapAlpha, opts);
  took = SetChannel(mat, CHANNEL_ALPHA, on, bc) && took;
  return took;
}

// The document's materials by name, the first of each name as SearchMaterial finds it,
// so that reusing materials costs one pass over the document instead of a search of its
// whole list per entry. Null without memory: the lookups then search.
typedef nameMap<BaseMaterial> hostMaterialHash;

hostMaterialHash* IndexMaterials(BaseDocument* doc) {
  hostMaterialHash* index = hostMaterialHash::Create();
  if (!index) return nullptr;
  for (BaseMaterial* mat = doc->GetFirstMaterial(); mat; mat = mat->GetNext()) {
    if (!index->AddEntry(mat->GetName(), mat)) {
      hostMaterialHash::Destroy(&index);
      return nullptr;
    }
  }
  return index;
}

BaseMaterial* FindMaterial(BaseDocument* doc, const hostMaterialHash* index, const String& name) {
  // Names are kept to nameTable::MAX_NAME_LENGTH bytes: a longer one, or a hit on a cut
  // name, is settled by the search.
  if (index && name.GetLength() <= nameTable::MAX_NAME_LENGTH) {
    const hostMaterialHash::Entry* entry = index->Find(name);
    if (!entry) return nullptr;
    if (entry->value->GetName() == name) return entry->value;
  }
  return doc->SearchMaterial(name);
}

}  // namespace

Bool ioMaterialList::SetBaseMaterials(BaseDocument* doc, const ioMaterialBuildOptions& opts) {
  if (!doc || !(opts.materialFlags & IOMTL_BUILD)) return TRUE;
  const Real start = GeGetMilliSeconds();
  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_MATERIALS));

  // New materials go after the document's own, in list order.
  BaseMaterial* pred = doc->GetFirstMaterial();
  while (pred && pred->GetNext()) pred = pred->GetNext();
  LONG linked = 0, missing = 0;
  hostMaterialHash* index = (opts.materialFlags & IOMTL_REUSE) ? IndexMaterials(doc) : nullptr;
  for (ioMaterial* entry = First(); entry; entry = entry->Next()) {
    entry->hostMaterial = nullptr;
    Material* mat = nullptr;
    Bool write = TRUE;
    if (opts.materialFlags & IOMTL_REUSE) {
      BaseMaterial* found = FindMaterial(doc, index, entry->name);
      if (found && found->GetType() != Mmaterial) {
        // Another kind of material: used as it is, its channels are not ours to set.
        entry->hostMaterial = found;
        entry->isStandard = 0;
        ++linked;
        continue;
      }
      if (found) {
        mat = static_cast<Material*>(found);
        write = (opts.materialFlags & IOMTL_REWRITE_REUSED) != 0;
      }
    }
    Bool made = FALSE;
    if (!mat) {
      mat = Material::Alloc();
      if (!mat) {
        ++missing;
        ReportLoss("Material");
        continue;
      }
      mat->SetName(entry->name);
      made = TRUE;
    }
    if (write && !WriteChannels(mat, *entry, opts)) ReportLoss("Material Texture");
    if (made) {
      doc->InsertMaterial(mat, pred);
      pred = mat;
      // Found by later entries of the same name, as the search would find it; without
      // memory for it the index is dropped and the lookups search.
      if (index && !index->AddEntry(mat->GetName(), mat)) hostMaterialHash::Destroy(&index);
    }
    mat->Update(TRUE, TRUE);
    entry->hostMaterial = mat;
    ++linked;
  }
  hostMaterialHash::Destroy(&index);
  ReportElapsed("SetBaseMaterials()", GeGetMilliSeconds() - start);
  return missing == 0 || linked > 0;
}

SelectionTag* ioMaterialList::MakeTags(BaseObject* op, ioMaterial* entry, Bool makeTextureTags, BaseTag*& pred) {
  SelectionTag* tag = SelectionTag::Alloc(Tpolygonselection);
  if (!tag) {
    ReportLoss("Selection Tag");
    return nullptr;
  }
  tag->SetName(entry->name);
  if (m_pSelectionTagLayer) tag->SetLayerObject(m_pSelectionTagLayer);
  op->InsertTag(tag, pred);
  pred = tag;
  m_pCurrentSelectionTag = tag;
  // A texture tag needs a material to apply: entries without one (materials not made)
  // keep only their selection.
  if (!makeTextureTags || !entry->hostMaterial) return tag;
  TextureTag* texture = TextureTag::Alloc();
  if (!texture) {
    ReportLoss("Texture Tag");
    return tag;
  }
  BaseContainer* data = texture->GetDataInstance();
  data->SetString(TEXTURETAG_RESTRICTION, entry->name);
  data->SetLong(TEXTURETAG_PROJECTION, TEXTURETAG_PROJECTION_UVW);
  texture->SetMaterial(entry->hostMaterial);
  if (m_pTextureTagLayer) texture->SetLayerObject(m_pTextureTagLayer);
  op->InsertTag(texture, pred);
  pred = texture;
  entry->textureTag = texture;
  return tag;
}

void ioMaterialList::SetTexTags(BaseObject* op, Bool makeTextureTags) {
  if (!op) return;
  const Real start = GeGetMilliSeconds();
  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_TEXTURE_TAGS));
  const LONG limit = SelectionLimit(op);
  BaseTag* pred = LastTagOf(op);
  for (ioMaterial* entry = First(); entry; entry = entry->Next()) {
    if (!entry->faceIndices || entry->faceIndexCount == 0) continue;
    SelectionTag* tag = MakeTags(op, entry, makeTextureTags, pred);
    if (tag && !SelectIndices(tag->GetBaseSelect(), entry->faceIndices, entry->faceIndexCount, limit))
      ReportLoss("Selection Tag");
  }
  ReportElapsed("SetTexTags()", GeGetMilliSeconds() - start);
}

void ioMaterialList::AssignPolygon(BaseObject* op, LONG materialIndex, LONG polygon, Bool makeTextureTags) {
  if (!op || polygon < 0 || polygon >= m_polygonLimit.Of(op)) return;
  SelectionTag* tag = m_objectSelections.Get(materialIndex);
  if (!tag && !m_objectSelections.Skipped(materialIndex)) {
    // First polygon of this material on the object (or an index no entry has: the first
    // entry's, as FindByIndex gives).
    ioMaterial* entry = FindByIndex(materialIndex);
    if (!entry) return;
    tag = m_objectSelections.Get(entry->index);
    if (!tag) {
      const LONG slot = entry->index;
      if (slot < 0 || slot >= m_objectSelections.Count() || m_objectSelections.Skipped(slot)) return;
      if (!m_pLastTag) m_pLastTag = LastTagOf(op);
      tag = MakeTags(op, entry, makeTextureTags, m_pLastTag);
      if (!tag) {
        // No tag for this material on this object: one made later would miss polygons.
        m_objectSelections.Skip(slot);
        return;
      }
      m_objectSelections.Set(slot, tag);
    }
  }
  if (!tag) return;
  if (!tag->GetBaseSelect()->Select(polygon)) ReportLoss("Selection Tag");
}

void ioMaterialList::ReportLoss(const CHAR* what) {
  if (m_lossReported) return;
  m_lossReported = TRUE;
  ReportMemoryError(what);
}

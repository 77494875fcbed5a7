// Scene files: a whole document saved and loaded again, byte for byte, and files and
// payloads damaged in every way the reader must refuse.
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "c4d_basedocument.h"
#include "container_codec.h"
#include "host_control.h"
#include "host_fixture.h"
#include "scene_helpers.h"
#include "scene_file.h"
#include "scene_internal.h"

namespace fs = std::filesystem;
using host::internal::DecodeScene;
using host::internal::EncodeScene;
using host::internal::kSceneMagic;
using host::internal::kSceneVersion;

namespace {

LayerObject* AddLayer(BaseDocument* doc, const char* name, LayerObject* parent = nullptr) {
  LayerObject* layer = LayerObject::Alloc();
  if (!layer) return nullptr;
  layer->SetName(String(name));
  if (parent)
    layer->InsertUnderLast(parent);
  else
    doc->GetLayerObjectRoot()->InsertLast(layer);
  return layer;
}

// Entry IDs of the container that holds every value kind.
enum : LONG {
  kEntryLong = 7001,
  kEntryLLong,
  kEntryReal,
  kEntryTime,
  kEntryVector,
  kEntryMatrix,
  kEntryString,
  kEntryFilename,
  kEntryContainer,
  kEntryLink,
  kEntryEmptyLink,
  kEntryOutsideLink,
  kEntryNil,
  kEntryBool,
};

// A document with one of everything a scene file holds.
//   layers:    Background { Trees { Leaves } }, Foreground
//   materials: Wood (colour texture, bump on), Bark (layer shader holding a bitmap
//              shader, on layer Foreground), Mist (fog)
//   objects:   Root (null, every value kind) { Mesh (polygons, n-gons, every tag),
//              Path (spline with segments) }, Box (cube), Ring (array) { Brick }
DocPtr BuildRichDocument(BaseDocument* outside) {
  DocPtr doc(BaseDocument::Alloc());
  if (!doc) return doc;
  doc->SetName("Rich");
  doc->SetDocumentName(Filename("rich.kscn"));
  doc->SetDocumentPath(Filename("/projects/forest"));
  doc->SetFps(25);
  doc->SetTime(BaseTime(12, 25));
  doc->SetMinTime(BaseTime(-10, 25));
  doc->SetMaxTime(BaseTime(250, 25));
  doc->SetLoopMinTime(BaseTime(5, 25));
  doc->SetLoopMaxTime(BaseTime(0.75));
  doc->SetBit(4);

  LayerObject* background = AddLayer(doc.get(), "Background");
  LayerObject* trees = AddLayer(doc.get(), "Trees", background);
  LayerObject* leaves = AddLayer(doc.get(), "Leaves", trees);
  LayerObject* foreground = AddLayer(doc.get(), "Foreground");
  if (!background || !trees || !leaves || !foreground) return DocPtr();
  foreground->GetDataInstance()->SetBool(ID_LAYER_SOLO, TRUE);
  foreground->GetDataInstance()->SetVector(ID_LAYER_COLOR, Vector(1, 0, 0.25));
  trees->SetLayerObject(background);  // a layer on a layer

  Material* wood = Material::Alloc();
  Material* bark = Material::Alloc();
  BaseMaterial* mist = BaseMaterial::Alloc(Mfog);
  if (!wood || !bark || !mist) {
    BaseMaterial* w = wood, *b = bark;
    BaseMaterial::Free(w);
    BaseMaterial::Free(b);
    BaseMaterial::Free(mist);
    return DocPtr();
  }
  wood->SetName("Wood");
  bark->SetName("Bark");
  mist->SetName("Mist");
  doc->InsertMaterial(wood);
  doc->InsertMaterial(bark, wood);
  doc->InsertMaterial(mist, bark);
  BaseContainer channel;
  channel.SetString(BASECHANNEL_TEXTURE, String("maps/wood grain.png"));
  channel.SetVector(BASECHANNEL_COLOR_EX, Vector(0.6, 0.4, 0.2));
  channel.SetReal(BASECHANNEL_BRIGHTNESS_EX, 0.9);
  channel.SetFilename(BASECHANNEL_SUGGESTEDFOLDER, Filename("/projects/forest/tex"));
  wood->GetChannel(CHANNEL_COLOR)->SetData(channel);
  BaseContainer bump;
  bump.SetString(BASECHANNEL_TEXTURE, String("maps/bump.tif"));
  bump.SetLong(BASECHANNEL_MIXMODE_EX, 3);
  wood->GetChannel(CHANNEL_BUMP)->SetData(bump);
  wood->SetChannelState(CHANNEL_BUMP, TRUE);
  wood->SetChannelState(CHANNEL_SPECULAR, FALSE);
  wood->GetDataInstance()->SetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.33);

  BaseShader* layerShader = BaseShader::Alloc(Xlayer);
  BaseShader* bitmap = BaseShader::Alloc(Xbitmap);
  BaseShader* inner = BaseShader::Alloc(Xbitmap);
  if (!layerShader || !bitmap || !inner) {
    BaseShader::Free(layerShader);
    BaseShader::Free(bitmap);
    BaseShader::Free(inner);
    return DocPtr();
  }
  bark->InsertShader(layerShader);
  layerShader->InsertShader(bitmap);
  bitmap->InsertShader(inner);
  bitmap->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename("bark.jpg"));
  inner->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename("moss.jpg"));
  layerShader->GetDataInstance()->SetLink(LAYERSHADER_SHADER, bitmap);
  bark->GetChannel(CHANNEL_COLOR)->SetShader(layerShader);
  bark->GetChannel(CHANNEL_DIFFUSION)->SetShader(inner);
  bark->SetChannelState(CHANNEL_DIFFUSION, TRUE);
  bark->SetLayerObject(foreground);
  mist->GetDataInstance()->SetReal(1000, 0.125);
  mist->GetDataInstance()->SetVector(1001, Vector(0.7, 0.7, 0.8));

  BaseObject* root = InsertLast(doc.get(), BaseObject::Alloc(Onull), "Root");
  PolygonObject* mesh = PolygonObject::Alloc(6, 3);
  SplineObject* path = SplineObject::Alloc(7, SPLINETYPE_BEZIER);
  if (!root || !mesh || !path) {
    BaseObject* m = mesh, *p = path;
    BaseObject::Free(m);
    BaseObject::Free(p);
    return DocPtr();
  }
  InsertLast(doc.get(), mesh, "Mesh", root);
  InsertLast(doc.get(), path, "Path", root);
  BaseObject* box = InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Box");
  BaseObject* ring = InsertLast(doc.get(), BaseObject::Alloc(Oarray), "Ring");
  BaseObject* brick = ring ? InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Brick", ring) : nullptr;
  if (!box || !ring || !brick) return DocPtr();

  root->SetMl(Placement(Vector(0.3, -0.6, 1.1), Vector(2, 0.5, 1.25), Vector(-100.5, 20.25, 1e-7)));
  root->SetEditorMode(MODE_OFF);
  root->SetRenderMode(MODE_ON);
  root->SetLayerObject(background);
  root->SetBit(BIT_ACTIVE | 64);
  BaseContainer* bc = root->GetDataInstance();
  bc->SetLong(kEntryLong, INT_MIN);
  bc->SetLLong(kEntryLLong, -0x123456789ALL);
  bc->SetReal(kEntryReal, -0.1);
  bc->SetTime(kEntryTime, BaseTime(7, 3));
  bc->SetVector(kEntryVector, Vector(1e300, -0.0, 3.25));
  bc->SetMatrix(kEntryMatrix, Placement(Vector(1, 2, 3), Vector(4, 5, 6), Vector(7, 8, 9)));
  bc->SetString(kEntryString, String(std::string("tab\tnul\0end \xc3\xa9", 14)));
  bc->SetFilename(kEntryFilename, Filename("/a b/c.obj"));
  BaseContainer sub(42);
  sub.SetLink(1, wood);
  sub.SetString(2, String("inside"));
  BaseContainer subsub(43);
  subsub.SetLink(9, leaves);
  sub.SetContainer(3, subsub);
  bc->SetContainer(kEntryContainer, sub);
  bc->SetLink(kEntryLink, mesh);
  bc->SetLink(kEntryEmptyLink, nullptr);
  bc->SetLink(kEntryOutsideLink, outside);
  bc->SetData(kEntryNil, GeData());
  bc->SetBool(kEntryBool, TRUE);

  for (LONG i = 0; i < 6; ++i) mesh->GetPointW()[i] = Vector(i * 1.5, -i / 3.0, i * i);
  mesh->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
  mesh->GetPolygonW()[1] = CPolygon(2, 4, 3);
  mesh->GetPolygonW()[2] = CPolygon(3, 4, 5);
  mesh->SetEditorMode(MODE_UNDEF);
  mesh->SetRenderMode(MODE_OFF);
  mesh->SetMl(Placement(Vector(0, 0, 0.5), Vector(1, 1, 1), Vector(0, 10, 0)));
  mesh->SetLayerObject(leaves);
  const LONG ngonCounts[] = {4, 3};
  const LONG ngonEdges[] = {0, 1, 1 * 4 + 1, 0x40000000 | (1 * 4 + 2), 2 * 4 + 0, 2 * 4 + 1, 2 * 4 + 2};
  if (!NodeAccess::SetNgons(mesh, 2, ngonCounts, ngonEdges)) return DocPtr();
  auto* uvw = static_cast<UVWTag*>(mesh->MakeVariableTag(Tuvw, 3, mesh->GetTag(Tpolygon)));
  auto* normals = static_cast<NormalTag*>(mesh->MakeVariableTag(Tnormal, 3, uvw));
  auto* polySel = static_cast<SelectionTag*>(mesh->MakeTag(Tpolygonselection, normals));
  auto* pointSel = static_cast<SelectionTag*>(mesh->MakeTag(Tpointselection, polySel));
  auto* tex = static_cast<TextureTag*>(mesh->MakeTag(Ttexture, pointSel));
  if (!uvw || !normals || !polySel || !pointSel || !tex || !mesh->SetPhong(TRUE, TRUE, Rad(45))) return DocPtr();
  for (LONG i = 0; i < 3; ++i) {
    uvw->SetSlow(i, UVWStruct{Vector(0.1 * i, 0.2, 0), Vector(0.3, 0.4 * i, 0), Vector(0.5, 0.6, 1), Vector(0.7, 0.8, 0)});
    NormalTag::Set(normals->GetDataAddressW(), i,
                   NormalStruct{Vector(0, 1, 0), Vector(0, 0.6, 0.8), Vector(1, 0, 0), Vector(0, 0, -1)});
  }
  polySel->SetName("front");
  polySel->GetBaseSelect()->SelectAll(0, 1);
  pointSel->SetName("tips");
  pointSel->GetBaseSelect()->Select(1);
  pointSel->GetBaseSelect()->SelectAll(3, 5);
  tex->SetMaterial(wood);
  tex->GetDataInstance()->SetString(TEXTURETAG_RESTRICTION, String("front"));
  tex->GetDataInstance()->SetLong(TEXTURETAG_PROJECTION, TEXTURETAG_PROJECTION_CUBIC);
  tex->SetMl(Placement(Vector(0.1, 0, 0), Vector(50, 60, 70), Vector(1, 2, 3)));
  tex->SetLayerObject(trees);

  for (LONG i = 0; i < 7; ++i) path->GetPointW()[i] = Vector(i, i % 2, 0);
  path->GetDataInstance()->SetBool(SPLINEOBJECT_CLOSED, TRUE);
  if (!path->ResizeObject(7, 2)) return DocPtr();
  path->GetSegmentW()[0] = Segment{3, TRUE};
  path->GetSegmentW()[1] = Segment{4, FALSE};

  box->GetDataInstance()->SetLong(PRIM_CUBE_SUBX, 3);
  box->GetDataInstance()->SetVector(PRIM_CUBE_LEN, Vector(10, 20, 30));
  auto* boxTex = static_cast<TextureTag*>(box->MakeTag(Ttexture));
  if (!boxTex) return DocPtr();
  boxTex->SetMaterial(bark);
  ring->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 3);
  doc->SetActiveObject(mesh);
  return doc;
}

// --- payload surgery ---------------------------------------------------------------------

uint32_t Code(const char* c) {
  return static_cast<uint32_t>(static_cast<unsigned char>(c[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(c[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(c[3])) << 24;
}

uint32_t GetU32(const std::string& p, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[at + static_cast<size_t>(i)]);
  return v;
}

uint64_t GetU64(const std::string& p, size_t at) {
  return static_cast<uint64_t>(GetU32(p, at)) | static_cast<uint64_t>(GetU32(p, at + 4)) << 32;
}

void SetU32(std::string* p, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*p)[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void SetU64(std::string* p, size_t at, uint64_t v) {
  SetU32(p, at, static_cast<uint32_t>(v));
  SetU32(p, at + 4, static_cast<uint32_t>(v >> 32));
}

struct Chunk {
  uint32_t code;
  size_t at;    // the chunk's code
  size_t body;  // its first body byte
  uint64_t length;
};

bool HoldsChunks(uint32_t code) {
  for (const char* c : {"DOCU", "LAYR", "MATL", "SHDR", "OBJE", "TAG "})
    if (code == Code(c)) return true;
  return false;
}

// Every chunk of a well-formed payload, parents before their children.
void WalkChunks(const std::string& p, size_t begin, size_t end, std::vector<Chunk>* out) {
  size_t pos = begin;
  while (pos + 12 <= end) {
    const Chunk c{GetU32(p, pos), pos, pos + 12, GetU64(p, pos + 4)};
    out->push_back(c);
    if (HoldsChunks(c.code)) WalkChunks(p, c.body, c.body + static_cast<size_t>(c.length), out);
    pos = c.body + static_cast<size_t>(c.length);
  }
}

// Where the values of an encoded container are: the offsets of each entry's type field,
// of each link reference, and of the entry counts. Returns the end of the container.
struct ContainerMap {
  std::vector<size_t> counts;
  std::vector<size_t> types;
  std::vector<size_t> links;
};

size_t MapContainer(const std::string& p, size_t pos, ContainerMap* map) {
  map->counts.push_back(pos + 4);
  const uint32_t count = GetU32(p, pos + 4);
  pos += 8;
  for (uint32_t i = 0; i < count; ++i) {
    const LONG type = static_cast<LONG>(GetU32(p, pos + 4));
    map->types.push_back(pos + 4);
    pos += 8;
    switch (type) {
      case DA_LONG: pos += 4; break;
      case DA_LLONG:
      case DA_REAL: pos += 8; break;
      case DA_TIME: pos += 16; break;
      case DA_VECTOR: pos += 24; break;
      case DA_MATRIX: pos += 96; break;
      case DA_STRING:
      case DA_FILENAME: pos += 4 + GetU32(p, pos); break;
      case DA_CONTAINER: pos = MapContainer(p, pos, map); break;
      case DA_ALIASLINK:
        if (static_cast<LONG>(GetU32(p, pos)) >= 0) map->links.push_back(pos);
        pos += 4;
        break;
      default: break;
    }
  }
  return pos;
}

// The offsets of a HEAD chunk's fields.
struct HeadMap {
  size_t type, nameLength, layer, container;
};

HeadMap MapHead(const std::string& p, const Chunk& head) {
  HeadMap h;
  h.type = head.body;
  h.nameLength = head.body + 4;
  const size_t afterName = h.nameLength + 4 + GetU32(p, h.nameLength);
  h.layer = afterName + 4;
  h.container = afterName + 8;
  return h;
}

}  // namespace

class SceneFileTest : public HostTest {
 protected:
  std::string Path(const std::string& name) { return TempDir() + "/" + name; }

  // A valid payload of the rich document (the document is freed again).
  std::string RichPayload() {
    DocPtr outside(BaseDocument::Alloc());
    DocPtr doc = BuildRichDocument(outside.get());
    return doc ? EncodeScene(doc.get()) : std::string();
  }

  // The payload must be refused with a reason, leaving no block behind.
  static ::testing::AssertionResult DecodeFails(const std::string& payload) {
    const LLONG live = host::GetMemoryStats().liveBlocks;
    std::string error;
    BaseDocument* doc = DecodeScene(payload, kSceneVersion, &error);
    if (doc) {
      BaseDocument::Free(doc);
      return ::testing::AssertionFailure() << "the damaged payload was accepted";
    }
    if (error.empty()) return ::testing::AssertionFailure() << "no reason given";
    if (host::GetMemoryStats().liveBlocks != live)
      return ::testing::AssertionFailure() << (host::GetMemoryStats().liveBlocks - live) << " blocks left behind ("
                                           << error << ")";
    return ::testing::AssertionSuccess() << error;
  }

  // The file must be refused with a reason, leaving no block behind.
  static ::testing::AssertionResult LoadFails(const std::string& path, std::string* why = nullptr) {
    const LLONG live = host::GetMemoryStats().liveBlocks;
    std::string error;
    BaseDocument* doc = host::LoadScene(path, &error);
    if (doc) {
      BaseDocument::Free(doc);
      return ::testing::AssertionFailure() << "the damaged file was loaded";
    }
    if (error.empty()) return ::testing::AssertionFailure() << "no reason given";
    if (host::GetMemoryStats().liveBlocks != live) return ::testing::AssertionFailure() << "blocks left behind";
    if (why) *why = error;
    return ::testing::AssertionSuccess() << error;
  }
};

// --- the round trip ------------------------------------------------------------------------

TEST_F(SceneFileTest, SaveLoadSaveGivesTheSameBytes) {
  DocPtr outside(BaseDocument::Alloc());
  ASSERT_TRUE(outside);
  DocPtr doc = BuildRichDocument(outside.get());
  ASSERT_TRUE(doc);
  std::string error;
  const std::string first = Path("first.kscn"), second = Path("second.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), first, &error)) << error;
  DocPtr loaded(host::LoadScene(first, &error));
  ASSERT_TRUE(loaded) << error;
  ASSERT_TRUE(host::SaveScene(loaded.get(), second, &error)) << error;
  const std::string a = ReadFile(first), b = ReadFile(second);
  EXPECT_GT(a.size(), host::internal::kFramedHeaderSize + 1000);
  EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
  EXPECT_EQ(EncodeScene(loaded.get()), EncodeScene(doc.get()));
  EXPECT_FALSE(fs::exists(first + ".tmp"));
  // A loaded document is not one of the host's open documents.
  EXPECT_EQ(GetFirstDocument(), nullptr);
  EXPECT_EQ(loaded->GetUndoCount(), 0);
}

TEST_F(SceneFileTest, LoadedDocumentHoldsTheValuesAndLinksResolveInsideIt) {
  DocPtr outside(BaseDocument::Alloc());
  ASSERT_TRUE(outside);
  DocPtr doc = BuildRichDocument(outside.get());
  ASSERT_TRUE(doc);
  std::string error;
  const std::string file = Path("rich.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  DocPtr owner(host::LoadScene(file, &error));
  ASSERT_TRUE(owner) << error;
  BaseDocument* loaded = owner.get();

  // The document and its time.
  EXPECT_EQ(Name(loaded), "Rich");
  EXPECT_EQ(loaded->GetDocumentName().GetString().Std(), "rich.kscn");
  EXPECT_EQ(loaded->GetDocumentPath().GetString().Std(), "/projects/forest");
  EXPECT_TRUE(loaded->GetBit(4));
  EXPECT_EQ(loaded->GetFps(), 25);
  EXPECT_EQ(loaded->GetTime().GetNumerator(), 12);
  EXPECT_EQ(loaded->GetTime().GetDenominator(), 25);
  EXPECT_EQ(loaded->GetMinTime().Get(), -10.0 / 25);
  EXPECT_EQ(loaded->GetMaxTime().GetFrame(25), 250);
  EXPECT_EQ(loaded->GetLoopMinTime().GetFrame(25), 5);
  EXPECT_EQ(loaded->GetLoopMaxTime().Get(), 0.75);

  // Layers, nested, with their data and their own layer link.
  auto* background = static_cast<LayerObject*>(loaded->GetLayerObjectRoot()->GetFirst());
  ASSERT_TRUE(background);
  EXPECT_EQ(Name(background), "Background");
  LayerObject* trees = background->GetDown();
  ASSERT_TRUE(trees);
  LayerObject* leaves = trees->GetDown();
  ASSERT_TRUE(leaves);
  EXPECT_EQ(Name(leaves), "Leaves");
  LayerObject* foreground = background->GetNext();
  ASSERT_TRUE(foreground);
  EXPECT_EQ(Name(foreground), "Foreground");
  EXPECT_TRUE(foreground->GetDataInstance()->GetBool(ID_LAYER_SOLO));
  EXPECT_EQ(foreground->GetDataInstance()->GetVector(ID_LAYER_COLOR), Vector(1, 0, 0.25));
  EXPECT_EQ(trees->GetLayerObject(loaded), background);
  EXPECT_EQ(leaves->GetDocument(), loaded);

  // Materials, channels and shaders.
  auto* wood = static_cast<Material*>(loaded->SearchMaterial(String("Wood")));
  auto* bark = static_cast<Material*>(loaded->SearchMaterial(String("Bark")));
  BaseMaterial* mist = loaded->SearchMaterial(String("Mist"));
  ASSERT_TRUE(wood && bark && mist);
  ASSERT_EQ(wood->GetType(), Mmaterial);
  ASSERT_EQ(bark->GetType(), Mmaterial);
  EXPECT_EQ(mist->GetType(), Mfog);
  EXPECT_EQ(mist->GetDataInstance()->GetReal(1000), 0.125);
  EXPECT_EQ(wood->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION), 1.33);
  auto* origWood = static_cast<Material*>(doc->SearchMaterial(String("Wood")));
  for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
    EXPECT_EQ(wood->GetChannelState(id), origWood->GetChannelState(id)) << id;
    EXPECT_EQ(wood->GetChannel(id)->GetData(), origWood->GetChannel(id)->GetData()) << id;
  }
  const BaseContainer color = wood->GetChannel(CHANNEL_COLOR)->GetData();
  EXPECT_EQ(color.GetString(BASECHANNEL_TEXTURE).Std(), "maps/wood grain.png");
  EXPECT_EQ(color.GetVector(BASECHANNEL_COLOR_EX), Vector(0.6, 0.4, 0.2));
  BaseShader* woodBitmap = wood->GetChannel(CHANNEL_COLOR)->GetShader();
  ASSERT_TRUE(woodBitmap);
  EXPECT_EQ(woodBitmap->GetDocument(), loaded);
  EXPECT_TRUE(wood->GetChannelState(CHANNEL_BUMP));
  EXPECT_FALSE(wood->GetChannelState(CHANNEL_SPECULAR));

  BaseShader* layerShader = bark->GetChannel(CHANNEL_COLOR)->GetShader();
  ASSERT_TRUE(layerShader);
  EXPECT_EQ(layerShader->GetType(), Xlayer);
  EXPECT_EQ(layerShader, bark->GetFirstShader());
  BaseShader* bitmap = layerShader->GetDown();
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(layerShader->GetDataInstance()->GetLink(LAYERSHADER_SHADER, loaded), bitmap);
  EXPECT_EQ(bitmap->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString().Std(), "bark.jpg");
  BaseShader* inner = bitmap->GetDown();
  ASSERT_TRUE(inner);
  EXPECT_EQ(bark->GetChannel(CHANNEL_DIFFUSION)->GetShader(), inner);
  EXPECT_EQ(bark->GetLayerObject(loaded), foreground);

  // Objects: hierarchy, matrices, visibility, bits, layers, the active object.
  BaseObject* root = loaded->GetFirstObject();
  ASSERT_TRUE(root);
  BaseObject* origRoot = doc->GetFirstObject();
  EXPECT_EQ(Name(root), "Root");
  EXPECT_EQ(root->GetMl(), origRoot->GetMl());
  EXPECT_EQ(root->GetEditorMode(), MODE_OFF);
  EXPECT_EQ(root->GetRenderMode(), MODE_ON);
  EXPECT_EQ(root->GetAllBits(), origRoot->GetAllBits());
  EXPECT_EQ(root->GetLayerObject(loaded), background);
  auto* mesh = static_cast<PolygonObject*>(loaded->SearchObject(String("Mesh")));
  ASSERT_TRUE(mesh);
  ASSERT_EQ(mesh->GetType(), Opolygon);
  EXPECT_EQ(mesh->GetUp(), root);
  EXPECT_EQ(loaded->GetActiveObject(), mesh);
  EXPECT_EQ(mesh->GetRenderMode(), MODE_OFF);
  EXPECT_EQ(mesh->GetEditorMode(), MODE_UNDEF);
  EXPECT_EQ(mesh->GetLayerObject(loaded), leaves);

  // Every value kind of the container; links point into the loaded document.
  const BaseContainer* bc = root->GetDataInstance();
  const BaseContainer* obc = origRoot->GetDataInstance();
  ASSERT_EQ(bc->GetEntryCount(), obc->GetEntryCount());
  for (LONG id : {kEntryLong, kEntryLLong, kEntryReal, kEntryTime, kEntryVector, kEntryMatrix, kEntryString,
                  kEntryFilename, kEntryNil, kEntryBool}) {
    ASSERT_TRUE(bc->GetDataPointer(id)) << id;
    EXPECT_EQ(*bc->GetDataPointer(id), *obc->GetDataPointer(id)) << id;
  }
  EXPECT_EQ(bc->GetDataPointer(kEntryNil)->GetType(), DA_NIL);
  EXPECT_EQ(bc->GetString(kEntryString).GetLength(), 14);
  EXPECT_TRUE(std::signbit(bc->GetVector(kEntryVector).y));
  EXPECT_EQ(bc->GetLink(kEntryLink, loaded), mesh);
  EXPECT_EQ(bc->GetLink(kEntryEmptyLink, nullptr), nullptr);
  EXPECT_EQ(bc->GetDataPointer(kEntryOutsideLink)->GetType(), DA_ALIASLINK);
  EXPECT_EQ(bc->GetLink(kEntryOutsideLink, nullptr), nullptr);  // its target was not saved
  const BaseContainer sub = bc->GetContainer(kEntryContainer);
  EXPECT_EQ(sub.GetId(), 42);
  EXPECT_EQ(sub.GetLink(1, loaded), wood);
  EXPECT_EQ(sub.GetString(2).Std(), "inside");
  EXPECT_EQ(sub.GetContainer(3).GetId(), 43);
  EXPECT_EQ(sub.GetContainer(3).GetLink(9, loaded), leaves);

  // Points, polygons, n-gons and every tag of the polygon object.
  const auto* origMesh = static_cast<const PolygonObject*>(doc->SearchObject(String("Mesh")));
  ASSERT_EQ(mesh->GetPointCount(), 6);
  ASSERT_EQ(mesh->GetPolygonCount(), 3);
  for (LONG i = 0; i < 6; ++i) EXPECT_EQ(mesh->GetPointR()[i], origMesh->GetPointR()[i]) << i;
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(mesh->GetPolygonR()[i], origMesh->GetPolygonR()[i]) << i;
  ASSERT_EQ(mesh->GetNgonCount(), 2);
  ASSERT_EQ(NodeAccess::NgonEdgeCount(mesh, 0), 4);
  ASSERT_EQ(NodeAccess::NgonEdgeCount(mesh, 1), 3);
  EXPECT_EQ(NodeAccess::NgonEdges(mesh, 0)[3], 0x40000000 | 6);
  EXPECT_EQ(NodeAccess::NgonEdges(mesh, 1)[2], 10);
  std::string types, origTypes;
  for (const BaseTag* t = mesh->GetFirstTag(); t; t = t->GetNext()) types += std::to_string(t->GetType()) + ",";
  for (const BaseTag* t = origMesh->GetFirstTag(); t; t = t->GetNext()) origTypes += std::to_string(t->GetType()) + ",";
  EXPECT_EQ(types, origTypes);
  auto* uvw = static_cast<VariableTag*>(mesh->GetTag(Tuvw));
  auto* origUvw = static_cast<const VariableTag*>(origMesh->GetTag(Tuvw));
  ASSERT_TRUE(uvw && origUvw);
  ASSERT_EQ(uvw->GetDataCount(), 3);
  EXPECT_EQ(std::memcmp(uvw->GetDataAddressR(), origUvw->GetDataAddressR(), 3 * 48), 0);
  auto* normals = static_cast<VariableTag*>(mesh->GetTag(Tnormal));
  ASSERT_TRUE(normals);
  NormalStruct n;
  NormalTag::Get(normals->GetDataAddressR(), 2, n);
  EXPECT_EQ(n.b, Vector(0, static_cast<double>(0.6f), static_cast<double>(0.8f)));
  auto* polySel = static_cast<SelectionTag*>(mesh->GetTag(Tpolygonselection));
  auto* pointSel = static_cast<SelectionTag*>(mesh->GetTag(Tpointselection));
  ASSERT_TRUE(polySel && pointSel);
  EXPECT_EQ(Name(polySel), "front");
  EXPECT_TRUE(*polySel->GetBaseSelect() ==
              *static_cast<const SelectionTag*>(origMesh->GetTag(Tpolygonselection))->GetBaseSelect());
  EXPECT_EQ(pointSel->GetBaseSelect()->GetCount(), 4);
  EXPECT_EQ(pointSel->GetBaseSelect()->GetSegments(), 2);
  auto* tex = static_cast<TextureTag*>(mesh->GetTag(Ttexture));
  ASSERT_TRUE(tex);
  EXPECT_EQ(tex->GetMaterial(), wood);
  EXPECT_EQ(tex->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std(), "front");
  EXPECT_EQ(tex->GetDataInstance()->GetLong(TEXTURETAG_PROJECTION), TEXTURETAG_PROJECTION_CUBIC);
  EXPECT_EQ(tex->GetMl(), static_cast<const TextureTag*>(origMesh->GetTag(Ttexture))->GetMl());
  EXPECT_EQ(tex->GetLayerObject(loaded), trees);
  BaseTag* phong = mesh->GetTag(Tphong);
  ASSERT_TRUE(phong);
  EXPECT_EQ(phong->GetDataInstance()->GetReal(PHONGTAG_PHONG_ANGLE), Rad(45));

  // The spline and the generators.
  auto* path = static_cast<SplineObject*>(loaded->SearchObject(String("Path")));
  ASSERT_TRUE(path);
  ASSERT_EQ(path->GetType(), Ospline);
  EXPECT_EQ(path->GetInterpolationType(), SPLINETYPE_BEZIER);
  EXPECT_TRUE(path->IsClosed());
  ASSERT_EQ(path->GetSegmentCount(), 2);
  EXPECT_EQ(path->GetSegmentR()[0].cnt, 3);
  EXPECT_TRUE(path->GetSegmentR()[0].closed);
  EXPECT_EQ(path->GetSegmentR()[1].cnt, 4);
  EXPECT_FALSE(path->GetSegmentR()[1].closed);
  EXPECT_EQ(path->GetPointR()[5], Vector(5, 1, 0));
  BaseObject* box = root->GetNext();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->GetType(), Ocube);
  EXPECT_EQ(box->GetDataInstance()->GetLong(PRIM_CUBE_SUBX), 3);
  EXPECT_EQ(static_cast<TextureTag*>(box->GetTag(Ttexture))->GetMaterial(), bark);
  BaseObject* ring = box->GetNext();
  ASSERT_TRUE(ring && ring->GetDown());
  EXPECT_EQ(ring->GetType(), Oarray);
  EXPECT_EQ(Name(ring->GetDown()), "Brick");

  // The loaded document stands on its own: freeing the original changes nothing.
  doc.reset();
  EXPECT_EQ(tex->GetMaterial(), wood);
  EXPECT_EQ(bc->GetLink(kEntryLink, loaded), mesh);
  // And it polygonises like any other.
  DocPtr poly(loaded->Polygonize());
  ASSERT_TRUE(poly);
  EXPECT_EQ(poly->GetFirstObject()->GetNext()->GetType(), Opolygon);
}

TEST_F(SceneFileTest, EmptyDocumentRoundTrips) {
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_TRUE(doc);
  std::string error;
  const std::string file = Path("empty.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  DocPtr loaded(host::LoadScene(file, &error));
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->GetFirstObject(), nullptr);
  EXPECT_EQ(loaded->GetFirstMaterial(), nullptr);
  EXPECT_EQ(loaded->GetLayerObjectRoot()->GetFirst(), nullptr);
  EXPECT_EQ(loaded->GetFps(), 30);
  EXPECT_EQ(loaded->GetMaxTime().GetFrame(30), 90);
  EXPECT_EQ(EncodeScene(loaded.get()), EncodeScene(doc.get()));
}

TEST_F(SceneFileTest, LoadUnderFailingAllocationsFailsCleanly) {
  DocPtr outside(BaseDocument::Alloc());
  ASSERT_TRUE(outside);
  DocPtr doc = BuildRichDocument(outside.get());
  ASSERT_TRUE(doc);
  std::string error;
  const std::string file = Path("rich.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  const std::string expected = EncodeScene(doc.get());
  bool loadedOnce = false;
  for (LLONG n = 1; n < 1000 && !loadedOnce; ++n) {
    const LLONG live = host::GetMemoryStats().liveBlocks;
    error.clear();
    host::FailAllocationAt(n);
    BaseDocument* loaded = host::LoadScene(file, &error);
    host::ResetFaults();
    if (loaded) {
      loadedOnce = true;
      EXPECT_EQ(EncodeScene(loaded), expected);
      BaseDocument::Free(loaded);
    } else {
      // Told apart from a damaged file.
      EXPECT_NE(error.find("not enough memory"), std::string::npos) << "allocation " << n << ": " << error;
      EXPECT_EQ(error.find("damaged"), std::string::npos) << "allocation " << n << ": " << error;
    }
    EXPECT_EQ(host::GetMemoryStats().liveBlocks, live) << "allocation " << n;
  }
  EXPECT_TRUE(loadedOnce);
}

TEST_F(SceneFileTest, ObjectsNestedUpToTheLimitLoadAndDeeperOnesAreRefused) {
  for (int depth : {512, 513}) {
    DocPtr doc(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    BaseObject* parent = nullptr;
    for (int level = 0; level < depth; ++level) {
      BaseObject* op = BaseObject::Alloc(Onull);
      ASSERT_TRUE(op);
      doc->InsertObject(op, parent, nullptr);
      parent = op;
    }
    std::string error;
    const std::string file = Path("deep.kscn");
    ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
    if (depth == 512) {
      DocPtr loaded(host::LoadScene(file, &error));
      ASSERT_TRUE(loaded) << error;
      int levels = 0;
      for (BaseObject* op = loaded->GetFirstObject(); op; op = op->GetDown()) ++levels;
      EXPECT_EQ(levels, 512);
    } else {
      std::string why;
      ASSERT_TRUE(LoadFails(file, &why));
      EXPECT_NE(why.find("deeper"), std::string::npos) << why;
    }
  }
}

// A link held in a channel's own data is written as a reference like every other link
// and must point at the loaded node afterwards.
TEST_F(SceneFileTest, LinkInAChannelsDataSurvivesTheRoundTrip) {
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_TRUE(doc);
  Material* mat = Material::Alloc();
  ASSERT_TRUE(mat);
  doc->InsertMaterial(mat);
  BaseObject* target = BaseObject::Alloc(Onull);
  ASSERT_TRUE(target);
  target->SetName("target");
  doc->InsertObject(target, nullptr, nullptr);
  BaseContainer bc;
  bc.SetLink(5000, target);
  mat->GetChannel(CHANNEL_COLOR)->SetData(bc);
  ASSERT_EQ(mat->GetChannel(CHANNEL_COLOR)->GetData().GetLink(5000, doc.get()), target);

  std::string error;
  ASSERT_TRUE(host::SaveScene(doc.get(), Path("a.kscn"), &error)) << error;
  DocPtr loaded(host::LoadScene(Path("a.kscn"), &error));
  ASSERT_TRUE(loaded) << error;
  auto* loadedMat = static_cast<Material*>(loaded->GetFirstMaterial());
  EXPECT_EQ(loadedMat->GetChannel(CHANNEL_COLOR)->GetData().GetLink(5000, loaded.get()), loaded->GetFirstObject());
  ASSERT_TRUE(host::SaveScene(loaded.get(), Path("b.kscn"), &error)) << error;
  EXPECT_TRUE(ReadFile(Path("a.kscn")) == ReadFile(Path("b.kscn")));
}

// A selection holding the largest index keeps it through a save and load (GetRange
// would cut it off: the writer takes the ranges as they are kept).
TEST_F(SceneFileTest, ASelectionBeyondItsObjectIsNotSaved) {
  // Commands index the object's arrays with selections: one that selects polygons or
  // points the object does not have would not load again, so it is not written.
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_TRUE(doc);
  PolygonObject* poly = PolygonObject::Alloc(0, 0);
  ASSERT_TRUE(poly);
  poly->SetName(String("Empty"));
  doc->InsertObject(poly, nullptr, nullptr);
  auto* single = static_cast<SelectionTag*>(poly->MakeTag(Tpolygonselection));
  ASSERT_TRUE(single);
  single->SetName(String("far"));
  ASSERT_TRUE(single->GetBaseSelect()->SelectAll(INT_MAX, INT_MAX));

  std::string error;
  EXPECT_FALSE(host::SaveScene(doc.get(), Path("sel.kscn"), &error));
  EXPECT_EQ(error, "the scene cannot be saved: object 'Empty': polygon selection 'far' selects polygon " +
                       std::to_string(INT_MAX) + " of 0");
  EXPECT_FALSE(fs::exists(Path("sel.kscn")));
}

// --- saving ----------------------------------------------------------------------------------

TEST_F(SceneFileTest, SavingIntoAMissingFolderFailsAndSavingOverAFileReplacesIt) {
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_TRUE(doc);
  std::string error;
  EXPECT_FALSE(host::SaveScene(doc.get(), Path("no/such/folder/scene.kscn"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(Path("no")));
  error.clear();
  EXPECT_FALSE(host::SaveScene(nullptr, Path("none.kscn"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(Path("none.kscn")));

  const std::string file = WriteFile("scene.kscn", std::string(5000, 'x'));
  doc->SetName("Replacement");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  EXPECT_LT(fs::file_size(file), 5000u);
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  DocPtr loaded(host::LoadScene(file, &error));
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(Name(loaded.get()), "Replacement");

  // Over an older scene too.
  doc->SetName("Newer");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  DocPtr newer(host::LoadScene(file, &error));
  ASSERT_TRUE(newer) << error;
  EXPECT_EQ(Name(newer.get()), "Newer");
}

// --- damaged files ---------------------------------------------------------------------------

TEST_F(SceneFileTest, DamagedFilesAreRefusedWithAReason) {
  DocPtr outside(BaseDocument::Alloc());
  ASSERT_TRUE(outside);
  DocPtr doc = BuildRichDocument(outside.get());
  ASSERT_TRUE(doc);
  std::string error;
  const std::string good = Path("good.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), good, &error)) << error;
  const std::string bytes = ReadFile(good);
  ASSERT_GT(bytes.size(), 100u);
  ASSERT_EQ(bytes.compare(0, 8, std::string(kSceneMagic, 8)), 0);
  ASSERT_EQ(GetU32(bytes, 8), kSceneVersion);
  ASSERT_EQ(GetU64(bytes, 12), bytes.size() - host::internal::kFramedHeaderSize);

  std::string why;
  EXPECT_TRUE(LoadFails(Path("missing.kscn")));
  EXPECT_TRUE(LoadFails(WriteFile("empty.kscn", "")));
  EXPECT_TRUE(LoadFails(WriteFile("header.kscn", bytes.substr(0, 10))));
  EXPECT_TRUE(LoadFails(WriteFile("header23.kscn", bytes.substr(0, 23))));
  EXPECT_TRUE(LoadFails(WriteFile("bare.kscn", bytes.substr(0, 24))));  // a header with nothing after it

  std::string magic = bytes;
  magic[3] = 'x';
  EXPECT_TRUE(LoadFails(WriteFile("magic.kscn", magic)));
  for (uint32_t version : {0u, kSceneVersion + 1, 0xFFFFFFFFu}) {
    std::string patched = bytes;
    SetU32(&patched, 8, version);
    ASSERT_TRUE(LoadFails(WriteFile("version.kscn", patched), &why)) << version;
    EXPECT_NE(why.find("version"), std::string::npos) << why;
  }
  EXPECT_TRUE(LoadFails(WriteFile("short.kscn", bytes.substr(0, bytes.size() - 1))));
  EXPECT_TRUE(LoadFails(WriteFile("long.kscn", bytes + '\0')));
  std::string length = bytes;
  SetU64(&length, 12, ~0ULL);
  EXPECT_TRUE(LoadFails(WriteFile("length.kscn", length)));
  for (size_t at : {size_t{24}, size_t{100}, bytes.size() / 2, bytes.size() - 1}) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    ASSERT_TRUE(LoadFails(WriteFile("flipped.kscn", flipped), &why)) << at;
    EXPECT_NE(why.find("checksum"), std::string::npos) << why;
  }
  std::string crc = bytes;
  crc[20] = static_cast<char>(crc[20] ^ 1);
  EXPECT_TRUE(LoadFails(WriteFile("crc.kscn", crc)));
  fs::create_directory(Path("folder.kscn"));
  EXPECT_TRUE(LoadFails(Path("folder.kscn")));
  // The good file still loads.
  DocPtr loaded(host::LoadScene(good, &error));
  EXPECT_TRUE(loaded) << error;
}

TEST_F(SceneFileTest, AFramedFileAroundADamagedPayloadIsRefused) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::string error;
  const std::string file = Path("framed.kscn");
  std::string damaged = payload;
  damaged.resize(payload.size() / 3);
  ASSERT_TRUE(host::internal::WriteFramedFile(file, kSceneMagic, kSceneVersion, damaged, &error)) << error;
  std::string why;
  EXPECT_TRUE(LoadFails(file, &why));
  EXPECT_EQ(why.find("checksum"), std::string::npos) << why;  // refused by the reader, not the frame
  ASSERT_TRUE(host::internal::WriteFramedFile(file, kSceneMagic, kSceneVersion, "", &error)) << error;
  EXPECT_TRUE(LoadFails(file));
  ASSERT_TRUE(host::internal::WriteFramedFile(file, kSceneMagic, kSceneVersion, payload + "tail", &error)) << error;
  EXPECT_TRUE(LoadFails(file));
  // The same payload undamaged loads.
  ASSERT_TRUE(host::internal::WriteFramedFile(file, kSceneMagic, kSceneVersion, payload, &error)) << error;
  DocPtr loaded(host::LoadScene(file, &error));
  EXPECT_TRUE(loaded) << error;
}

// --- damaged payloads that pass the checksum --------------------------------------------------

TEST_F(SceneFileTest, PayloadDecodesOnlyAtItsOwnVersion) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::string error;
  DocPtr doc(DecodeScene(payload, kSceneVersion, &error));
  ASSERT_TRUE(doc) << error;
  EXPECT_EQ(EncodeScene(doc.get()), payload);
  for (uint32_t version : {0u, kSceneVersion + 1}) {
    error.clear();
    EXPECT_EQ(DecodeScene(payload, version, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(DecodeScene(payload + "x", kSceneVersion, nullptr), nullptr);  // no error wanted: fine
}

TEST_F(SceneFileTest, TruncatedPayloadsAreRefused) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  for (size_t cut = 0; cut < payload.size(); cut += 7) ASSERT_TRUE(DecodeFails(payload.substr(0, cut))) << cut;
  for (size_t cut = payload.size() - 40; cut < payload.size(); ++cut)
    ASSERT_TRUE(DecodeFails(payload.substr(0, cut))) << cut;
  ASSERT_TRUE(DecodeFails(payload + std::string(1, '\0')));
  ASSERT_TRUE(DecodeFails(payload + payload));
}

// A cut whose enclosing chunks are shortened to match reaches the reader deep inside the
// document. A cut inside a chunk that holds no chunks (or inside any chunk's header) must
// be refused; a cut between whole chunks may leave a smaller valid document, which must
// then load cleanly.
TEST_F(SceneFileTest, PayloadsCutWithConsistentLengthsAreRefusedInsideAChunk) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::vector<Chunk> chunks;
  WalkChunks(payload, 0, payload.size(), &chunks);
  int mustFail = 0;
  for (size_t cut = 1; cut < payload.size(); cut += 11) {
    std::string damaged = payload.substr(0, cut);
    bool inside = false;
    for (const Chunk& c : chunks) {
      const size_t end = c.body + static_cast<size_t>(c.length);
      if (c.at < cut && cut < c.body) inside = true;  // a cut header
      if (c.body <= cut && cut < end) {
        SetU64(&damaged, c.at + 4, cut - c.body);
        if (!HoldsChunks(c.code)) inside = true;
      }
    }
    if (inside) {
      ++mustFail;
      ASSERT_TRUE(DecodeFails(damaged)) << "cut at " << cut;
      continue;
    }
    const LLONG live = host::GetMemoryStats().liveBlocks;
    std::string error;
    BaseDocument* doc = DecodeScene(damaged, kSceneVersion, &error);
    if (doc)
      BaseDocument::Free(doc);
    else
      EXPECT_FALSE(error.empty()) << "cut at " << cut;
    ASSERT_EQ(host::GetMemoryStats().liveBlocks, live) << "cut at " << cut;
  }
  EXPECT_GT(mustFail, 500);
}

TEST_F(SceneFileTest, DamagedChunkLengthsAndCodesAreRefused) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::vector<Chunk> chunks;
  WalkChunks(payload, 0, payload.size(), &chunks);
  ASSERT_GT(chunks.size(), 40u);
  ASSERT_EQ(chunks.front().code, Code("DOCU"));
  ASSERT_EQ(chunks.front().length, payload.size() - 12);
  for (const Chunk& c : chunks) {
    const std::string where = "chunk at " + std::to_string(c.at);
    for (uint64_t length : {c.length + 1, c.length - 1, uint64_t{0}, ~uint64_t{0}, uint64_t{1} << 40}) {
      if (length == c.length) continue;
      std::string damaged = payload;
      SetU64(&damaged, c.at + 4, length);
      ASSERT_TRUE(DecodeFails(damaged)) << where << " length " << length;
    }
    std::string unknown = payload;
    SetU32(&unknown, c.at, Code("JUNK"));
    ASSERT_TRUE(DecodeFails(unknown)) << where;
  }
}

TEST_F(SceneFileTest, DamagedCountsTypesAndReferencesAreRefused) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::vector<Chunk> chunks;
  WalkChunks(payload, 0, payload.size(), &chunks);
  // Damages applied one at a time; every one must be refused.
  std::vector<std::pair<std::string, std::function<void(std::string*)>>> damages;
  auto patch32 = [&](const std::string& what, size_t at, uint32_t value) {
    damages.emplace_back(what + " at " + std::to_string(at),
                         [at, value](std::string* p) { SetU32(p, at, value); });
  };
  int heads = 0, vdat = 0, sele = 0, ngon = 0, chan = 0, objd = 0, links = 0, layers = 0;
  for (const Chunk& c : chunks) {
    if (c.code == Code("HEAD")) {
      ++heads;
      const HeadMap h = MapHead(payload, c);
      patch32("name length", h.nameLength, 0xFFFFFFF0u);
      if (static_cast<LONG>(GetU32(payload, h.layer)) >= 0) {
        ++layers;
        patch32("layer reference", h.layer, 100000);
      }
      ContainerMap map;
      MapContainer(payload, h.container, &map);
      for (size_t at : map.counts) {
        const uint32_t count = GetU32(payload, at);
        patch32("entry count", at, count + 1);
        if (count > 0) patch32("entry count", at, count - 1);
        patch32("entry count", at, 0x7FFFFFFFu);
      }
      for (size_t at : map.types) patch32("value type", at, 9999);
      for (size_t at : map.links) {
        ++links;
        patch32("link reference", at, 100000);
      }
    } else if (c.code == Code("VDAT")) {
      ++vdat;
      const uint32_t count = GetU32(payload, c.body);
      patch32("entry count", c.body, count + 1);
      if (count > 0) patch32("entry count", c.body, count - 1);
      patch32("entry count", c.body, 0xFFFFFFFFu);
    } else if (c.code == Code("SELE")) {
      ++sele;
      const uint32_t count = GetU32(payload, c.body);
      patch32("range count", c.body, count + 1);
      patch32("range count", c.body, count - 1);
      patch32("range start", c.body + 4, 0xFFFFFFFFu);  // negative
      // The first range ends before it starts.
      patch32("range end", c.body + 8, GetU32(payload, c.body + 4) - 1);
      if (count > 1) patch32("range order", c.body + 12, GetU32(payload, c.body + 8));  // overlaps / touches
    } else if (c.code == Code("NGON")) {
      ++ngon;
      const uint32_t count = GetU32(payload, c.body);
      patch32("n-gon count", c.body, count + 1);
      patch32("n-gon count", c.body, count - 1);
      patch32("n-gon count", c.body, 0x40000000u);
      patch32("n-gon edge count", c.body + 4, 0);
      patch32("n-gon edge count", c.body + 4, 0x7FFFFFFFu);
      const size_t firstEdge = c.body + 4 + 4 * count;
      patch32("n-gon edge", firstEdge, 3 * 4);  // polygon 3 of 3
      patch32("n-gon edge", firstEdge, 0x80000000u);
    } else if (c.code == Code("CHAN")) {
      ++chan;
      patch32("channel id", c.body, CHANNEL_COUNT);
      patch32("channel id", c.body, 0xFFFFFFFFu);
      damages.emplace_back("channel switch at " + std::to_string(c.body + 4),
                           [at = c.body + 4](std::string* p) { (*p)[at] = 2; });
      if (static_cast<LONG>(GetU32(payload, c.body + 5)) >= 0) patch32("channel shader", c.body + 5, 100000);
    } else if (c.code == Code("OBJD")) {
      ++objd;
      patch32("editor mode", c.body + 96, 3);
      patch32("render mode", c.body + 100, 0xFFFFFFFFu);
    }
  }
  // The rich document has each kind of chunk, and each kind of damage applied.
  EXPECT_GE(heads, 20);
  EXPECT_GE(vdat, 6);
  EXPECT_EQ(sele, 2);
  EXPECT_EQ(ngon, 1);
  EXPECT_EQ(chan, 2 * CHANNEL_COUNT);
  EXPECT_EQ(objd, 6);
  EXPECT_GE(links, 6);
  EXPECT_EQ(layers, 5);

  // The document's own head must name a document; a segment must be whole.
  patch32("document type", chunks[1].body, Tpolygon);
  for (const Chunk& c : chunks) {
    if (c.code != Code("VDAT")) continue;
    // The segment tag's data: count 2 then (cnt, closed) pairs of 4-byte values.
    if (c.length == 4 + 2 * 8 && GetU32(payload, c.body) == 2) {
      patch32("segment closed", c.body + 8, 2);
      patch32("segment points", c.body + 4, 0xFFFFFFFFu);
    }
  }

  for (const auto& [what, apply] : damages) {
    std::string damaged = payload;
    apply(&damaged);
    ASSERT_NE(damaged, payload) << what;
    ASSERT_TRUE(DecodeFails(damaged)) << what;
  }
}

TEST_F(SceneFileTest, RandomByteDamageNeverCrashesOrLeaks) {
  const std::string payload = RichPayload();
  ASSERT_FALSE(payload.empty());
  std::mt19937 rng(777u);
  std::uniform_int_distribution<size_t> where(0, payload.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255), howMany(1, 4);
  int refused = 0;
  for (int round = 0; round < 800; ++round) {
    std::string damaged = payload;
    for (int k = howMany(rng); k > 0; --k) damaged[where(rng)] = static_cast<char>(byte(rng));
    const LLONG live = host::GetMemoryStats().liveBlocks;
    std::string error;
    BaseDocument* doc = DecodeScene(damaged, kSceneVersion, &error);
    if (doc) {
      // Accepted damage (a changed value) still gives a document that saves.
      EXPECT_FALSE(EncodeScene(doc).empty());
      BaseDocument::Free(doc);
    } else {
      ++refused;
      ASSERT_FALSE(error.empty()) << "round " << round;
    }
    ASSERT_EQ(host::GetMemoryStats().liveBlocks, live) << "round " << round;
  }
  EXPECT_GT(refused, 100);
}

namespace {

// Checksum-correct scene files whose objects index outside their own data: each is
// refused on load with one message naming the object and what is wrong.
TEST_F(SceneFileTest, IndicesAndRangesOutsideTheirObjectAreRefusedOnLoad) {
  struct Case {
    const char* what;
    std::function<void(BaseDocument*)> spoil;  // makes the one bad object
    const char* message;
  };
  auto grid = [](BaseDocument* doc) {
    PolygonObject* op = Grid(2, 2);  // 9 points, 4 quads
    op->SetName(String("Grid"));
    doc->InsertObject(op, nullptr, nullptr);
    return op;
  };
  auto polygonUses = [&](LONG corner) {
    return [&grid, corner](BaseDocument* doc) { grid(doc)->GetPolygonW()[3].c = corner; };
  };
  auto selection = [&](LONG type, LONG index) {
    return [&grid, type, index](BaseDocument* doc) {
      auto* tag = static_cast<SelectionTag*>(grid(doc)->MakeTag(type));
      tag->SetName(String("sel"));
      tag->GetBaseSelect()->Select(index);
    };
  };
  const Case cases[] = {
      {"the largest index", polygonUses(2147483647), "object 'Grid': polygon 3 uses point 2147483647 of 9 points"},
      {"a negative index", polygonUses(-5), "object 'Grid': polygon 3 uses point -5 of 9 points"},
      {"one past the points", polygonUses(9), "object 'Grid': polygon 3 uses point 9 of 9 points"},
      {"a polygon selection", selection(Tpolygonselection, 4),
       "object 'Grid': polygon selection 'sel' selects polygon 4 of 4"},
      {"a point selection", selection(Tpointselection, 1000000), "object 'Grid': point selection 'sel' selects point 1000000 of 9"},
      {"a short UVW tag",
       [&](BaseDocument* doc) {
         PolygonObject* op = grid(doc);
         BaseTag* uvw = UVWTag::Alloc(3);
         uvw->SetName(String("uv"));
         op->InsertTag(uvw);
       },
       "object 'Grid': UVW tag 'uv' has 3 entries for 4 polygons"},
      {"segments past the points",
       [](BaseDocument* doc) {
         SplineObject* spline = SplineObject::Alloc(4, 0);
         spline->SetName(String("Path"));
         spline->ResizeObject(4, 2);
         spline->GetSegmentW()[0].cnt = 3;
         spline->GetSegmentW()[1].cnt = 2;
         doc->InsertObject(spline, nullptr, nullptr);
       },
       "object 'Path': its segments use 5 points of 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DocPtr doc(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    c.spoil(doc.get());
    // Written as a saving host would write it, checksum and all.
    std::string error;
    ASSERT_TRUE(host::internal::WriteFramedFile(Path("bad.kscn"), host::internal::kSceneMagic,
                                                host::internal::kSceneVersion, host::internal::EncodeScene(doc.get()),
                                                &error))
        << error;
    DocPtr loaded(host::LoadScene(Path("bad.kscn"), &error));
    EXPECT_FALSE(loaded);
    EXPECT_EQ(error, std::string("damaged scene file: document: ") + c.message);
    // And the save refuses it before writing anything.
    EXPECT_FALSE(host::SaveScene(doc.get(), Path("never.kscn"), &error));
    EXPECT_EQ(error, std::string("the scene cannot be saved: ") + c.message);
    EXPECT_FALSE(fs::exists(Path("never.kscn")));
  }
}

}  // namespace

// Large arrays go to the file from the document itself, between the bytes encoded around
// them: the file holds the same payload as the encoding in one piece, the lengths of the
// chunks around the arrays included, and loads back to it.
TEST_F(SceneFileTest, ArraysWrittenInPlaceGiveTheEncodedPayload) {
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_TRUE(doc);
  // 20 000 points and 5 000 polygons lie above the size written in place, 3 and 1 below.
  PolygonObject* large = PolygonObject::Alloc(20000, 5000);
  PolygonObject* small = PolygonObject::Alloc(3, 1);
  ASSERT_TRUE(large && small);
  Vector* points = large->GetPointW();
  for (LONG i = 0; i < 20000; ++i) points[i] = Vector(i, -0.5 * i, 1.0 / (i + 1));
  CPolygon* polygons = large->GetPolygonW();
  for (LONG i = 0; i < 5000; ++i) polygons[i] = CPolygon(4 * i, 4 * i + 1, 4 * i + 2, 4 * i + 3);
  small->GetPointW()[1] = Vector(1, 2, 3);
  small->GetPolygonW()[0] = CPolygon(0, 1, 2);
  InsertLast(doc.get(), large, "Large");
  InsertLast(doc.get(), small, "Small", large);  // inside the large object's chunk, after its arrays
  InsertLast(doc.get(), BaseObject::Alloc(Onull), "After");

  std::string error;
  const std::string file = Path("in_place.kscn");
  ASSERT_TRUE(host::SaveScene(doc.get(), file, &error)) << error;
  std::string payload;
  uint32_t version = 0;
  ASSERT_TRUE(host::internal::ReadFramedFile(file, kSceneMagic, kSceneVersion, kSceneVersion, &payload, &version,
                                             &error))
      << error;
  const std::string encoded = EncodeScene(doc.get());
  EXPECT_GT(encoded.size(), size_t{20000} * sizeof(Vector));
  EXPECT_TRUE(payload == encoded);
  DocPtr loaded(host::LoadScene(file, &error));
  ASSERT_TRUE(loaded) << error;
  EXPECT_TRUE(EncodeScene(loaded.get()) == encoded);
  const auto* back = static_cast<const PolygonObject*>(loaded->GetFirstObject());
  ASSERT_TRUE(back && back->GetPointCount() == 20000 && back->GetDown() && back->GetNext());
  EXPECT_EQ(back->GetPointR()[19999], points[19999]);
  EXPECT_EQ(back->GetDown()->GetName().Std(), "Small");
}

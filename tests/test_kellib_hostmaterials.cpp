// Host materials and material tags of an import: the handling modes (new, reuse, reuse
// with rewrite, reuse of another material type), each channel's rule and values, maps
// and the texture folder, the tags of a single object and of split objects, and memory
// failures at every allocation.
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "iomtl.h"
#include "main.h"
#include "optrecord.h"
#include "scene_helpers.h"

namespace {

struct FreeMaterialList {
  void operator()(ioMaterialList* list) const { ioMaterialList::Free(list); }
};
using ListPtr = std::unique_ptr<ioMaterialList, FreeMaterialList>;

using Names = std::vector<std::string>;
using Indices = std::vector<LONG>;

// The channels the import switches, in one order for the tests.
const LONG kTableChannels[] = {CHANNEL_COLOR, CHANNEL_TRANSPARENCY, CHANNEL_LUMINANCE, CHANNEL_SPECULAR,
                               CHANNEL_SPECULARCOLOR, CHANNEL_BUMP, CHANNEL_DISPLACEMENT, CHANNEL_ALPHA};
// Every channel flag of the table.
constexpr ULONG kAllChannels = IOMTL_COLOR | IOMTL_TRANSPARENCY | IOMTL_LUMINANCE | IOMTL_SPECULAR |
                               IOMTL_SPECULAR_COLOR | IOMTL_BUMP | IOMTL_DISPLACEMENT | IOMTL_ALPHA;

void SetMap(CHAR (&map)[IOMTL_MAPNAME_SIZE], const char* name) {
  std::snprintf(map, sizeof(map), "%s", name);
}

Material* Standard(BaseMaterial* mat) {
  return (mat && mat->GetType() == Mmaterial) ? static_cast<Material*>(mat) : nullptr;
}

BaseContainer ChannelData(BaseMaterial* mat, LONG id) {
  Material* standard = Standard(mat);
  return standard ? standard->GetChannel(id)->GetData() : BaseContainer();
}

// Which table channels are on, as a text like "colour bump".
std::string ChannelsOn(BaseMaterial* mat) {
  static const char* names[] = {"colour",     "transparency", "luminance", "specular",
                                "speccolour", "bump",         "disp",      "alpha"};
  std::string on;
  Material* standard = Standard(mat);
  for (size_t i = 0; standard && i < std::size(kTableChannels); ++i)
    if (standard->GetChannelState(kTableChannels[i])) on += std::string(on.empty() ? "" : " ") + names[i];
  return on;
}

Indices Selected(const BaseTag* tag) { return SelectedIndices(tag); }

// op's tags in order, but for the point and polygon tags that hold its geometry:
// "sel <name>", "tex <restriction>" or "tag <type>".
Names TagList(const BaseObject* op) {
  Names out;
  for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
    if (tag->GetType() == Tpoint || tag->GetType() == Tpolygon) continue;
    if (tag->GetType() == Tpolygonselection)
      out.push_back("sel " + tag->GetName().Std());
    else if (tag->GetType() == Ttexture)
      out.push_back("tex " + tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std());
    else
      out.push_back("tag " + std::to_string(tag->GetType()));
  }
  return out;
}

// The tag on op of that type and name (a texture tag by its restriction), or null.
BaseTag* FindTag(const BaseObject* op, LONG type, const std::string& name) {
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
    if (tag->GetType() != type) continue;
    const std::string tagName =
        type == Ttexture ? tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std() : tag->GetName().Std();
    if (tagName == name) return tag;
  }
  return nullptr;
}

class HostMaterialsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    m_doc.reset(BaseDocument::Alloc());
    ASSERT_NE(m_doc, nullptr);
  }
  void TearDown() override {
    m_doc.reset();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  static ListPtr ListOf(const Names& names) {
    ListPtr list(ioMaterialList::Alloc());
    EXPECT_NE(list, nullptr);
    if (!list) return list;
    for (const auto& name : names) EXPECT_NE(list->FindOrAdd(nullptr, String(name)), nullptr);
    return list;
  }

  // A list of these materials with face indices: face i belongs to entry owners[i].
  static ListPtr WithFaces(const Names& names, const Indices& owners) {
    ListPtr list = ListOf(names);
    if (!list) return list;
    std::vector<ioFace> faces(owners.size());
    for (size_t i = 0; i < owners.size(); ++i) {
      faces[i].material = owners[i];
      faces[i].sequence = static_cast<LONG>(i);
      ++list->FindByIndex(owners[i])->faceCount;
    }
    EXPECT_TRUE(list->SetFaceIndices(faces.data(), static_cast<ULONG>(faces.size())));
    return list;
  }

  // A standard material of that name after the document's others.
  Material* AddMaterial(const char* name) {
    Material* mat = Material::Alloc();
    if (!mat) return nullptr;
    mat->SetName(String(name));
    BaseMaterial* last = m_doc->GetFirstMaterial();
    while (last && last->GetNext()) last = last->GetNext();
    m_doc->InsertMaterial(mat, last);
    return mat;
  }

  Names DocMaterials() const {
    Names names;
    for (BaseMaterial* mat = m_doc->GetFirstMaterial(); mat; mat = mat->GetNext()) names.push_back(Name(mat));
    return names;
  }

  // A polygon object of that many polygons, inserted in the document.
  PolygonObject* Mesh(LONG polygons, const char* name = "Mesh") {
    return static_cast<PolygonObject*>(InsertLast(m_doc.get(), PolygonObject::Alloc(4, polygons), name));
  }

  LayerObject* Layer(const char* name) { return AppendLayer(m_doc.get(), name); }

  // The material one entry gets in a fresh document when a standard material of its
  // name, with every channel on, is reused and rewritten: the channels the step leaves
  // on are exactly those it switches on.
  BaseMaterial* Rewritten(ioMaterialList* list, ioMaterialBuildOptions opts) {
    m_doc.reset(BaseDocument::Alloc());
    if (!m_doc) return nullptr;
    Material* mat = AddMaterial(EntryName(list->First()).c_str());
    if (!mat) return nullptr;
    for (LONG id = 0; id < CHANNEL_COUNT; ++id) mat->SetChannelState(id, TRUE);
    opts.materialFlags |= IOMTL_BUILD | IOMTL_REUSE | IOMTL_REWRITE_REUSED;
    EXPECT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
    EXPECT_EQ(list->First()->hostMaterial, mat);
    return mat;
  }

  static std::string EntryName(const ioMaterial* entry) { return entry->name.Std(); }

  DocPtr m_doc;
};

TEST_F(HostMaterialsTest, FlagBitsAreThoseOfTheImportOptions) {
  EXPECT_EQ(IOMTL_BUILD, ULONG(MAT_BUILD));
  EXPECT_EQ(IOMTL_TEXTURES, ULONG(MAT_LOAD_TEXTURES));
  EXPECT_EQ(IOMTL_COLOR, ULONG(MAT_COLOR));
  EXPECT_EQ(IOMTL_LUMINANCE, ULONG(MAT_LUMINANCE));
  EXPECT_EQ(IOMTL_TRANSPARENCY, ULONG(MAT_TRANSPARENCY));
  EXPECT_EQ(IOMTL_REFRACTION, ULONG(MAT_REFRACTION));
  EXPECT_EQ(IOMTL_BUMP, ULONG(MAT_BUMP));
  EXPECT_EQ(IOMTL_ALPHA, ULONG(MAT_ALPHA));
  EXPECT_EQ(IOMTL_SPECULAR, ULONG(MAT_SPECULAR));
  EXPECT_EQ(IOMTL_SPECULAR_COLOR, ULONG(MAT_SPECULAR_COLOR));
  EXPECT_EQ(IOMTL_DISPLACEMENT, ULONG(MAT_DISPLACEMENT));
  EXPECT_EQ(IOMTL_REUSE, ULONG(MAT_REUSE));
  EXPECT_EQ(IOMTL_REWRITE_REUSED, ULONG(MAT_REWRITE_REUSED));
}

// --- handling modes -------------------------------------------------------------------------

TEST_F(HostMaterialsTest, WithoutTheBuildBitNothingIsMade) {
  ListPtr list = ListOf({"a", "b"});
  ASSERT_NE(list, nullptr);
  ioMaterialBuildOptions opts;
  opts.materialFlags = ~ULONG(IOMTL_BUILD);
  EXPECT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  EXPECT_EQ(m_doc->GetFirstMaterial(), nullptr);
  EXPECT_EQ(list->First()->hostMaterial, nullptr);
  EXPECT_FALSE(ConsoleHas("SetBaseMaterials()"));
}

TEST_F(HostMaterialsTest, NewMaterialsFollowTheDocumentsOwnInListOrder) {
  Material* old = AddMaterial("Old");
  Material* same = AddMaterial("a");
  ASSERT_TRUE(old && same);
  ListPtr list = ListOf({"a", "b", "c"});
  ASSERT_NE(list, nullptr);
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD | IOMTL_COLOR;
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));

  // Without the reuse bit a material of the same name is no reason to take it.
  EXPECT_EQ(DocMaterials(), (Names{"Old", "a", "a", "b", "c"}));
  BaseMaterial* made = same->GetNext();
  for (ioMaterial* entry = list->First(); entry; entry = entry->Next(), made = made ? made->GetNext() : nullptr) {
    EXPECT_EQ(entry->hostMaterial, made) << EntryName(entry);
    ASSERT_NE(Standard(entry->hostMaterial), nullptr);
    EXPECT_EQ(entry->hostMaterial->GetUpdateCount(), 1) << EntryName(entry);
    EXPECT_EQ(entry->isStandard, 1);
  }
  EXPECT_EQ(old->GetUpdateCount(), 0);
  EXPECT_EQ(same->GetUpdateCount(), 0);

  const std::string status = GeLoadString(IDS_STATUS_BUILDING_MATERIALS).Std();
  EXPECT_FALSE(status.empty());
  EXPECT_EQ(host::Status().text, status);
  EXPECT_TRUE(ConsoleHas("SetBaseMaterials() elapsed = "));
}

TEST_F(HostMaterialsTest, ReuseTakesTheDocumentsMaterialOfTheName) {
  Material* wood = AddMaterial("wood");
  ASSERT_NE(wood, nullptr);
  BaseContainer colour;
  colour.SetVector(BASECHANNEL_COLOR_EX, Vector(0.1, 0.2, 0.3));
  wood->GetChannel(CHANNEL_COLOR)->SetData(colour);
  wood->SetChannelState(CHANNEL_LUMINANCE, TRUE);
  BaseMaterial* mist = BaseMaterial::Alloc(Mfog);
  ASSERT_NE(mist, nullptr);
  mist->SetName(String("mist"));
  mist->GetDataInstance()->SetReal(1000, 0.5);
  m_doc->InsertMaterial(mist, wood);

  auto build = [&](ULONG extra) {
    ListPtr list = ListOf({"wood", "mist", "new"});
    if (!list) return list;
    for (ioMaterial* entry = list->First(); entry; entry = entry->Next()) {
      entry->diffuse = Vector(1, 0, 0);
      entry->hasDiffuse = 1;
    }
    ioMaterialBuildOptions opts;
    opts.materialFlags = IOMTL_BUILD | IOMTL_COLOR | IOMTL_LUMINANCE | IOMTL_REUSE | extra;
    opts.libraryRead = TRUE;
    EXPECT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
    return list;
  };

  // Reused as it is: linked, updated, its channels kept.
  ListPtr list = build(0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(DocMaterials(), (Names{"wood", "mist", "new"}));
  EXPECT_EQ(list->FindByName(String("wood"))->hostMaterial, wood);
  EXPECT_EQ(list->FindByName(String("wood"))->isStandard, 1);
  EXPECT_EQ(ChannelData(wood, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(0.1, 0.2, 0.3));
  EXPECT_EQ(ChannelsOn(wood), "colour luminance specular");
  EXPECT_EQ(wood->GetUpdateCount(), 1);
  // Another material type is linked and left alone.
  ioMaterial* fog = list->FindByName(String("mist"));
  EXPECT_EQ(fog->hostMaterial, mist);
  EXPECT_EQ(fog->isStandard, 0);
  EXPECT_EQ(mist->GetUpdateCount(), 0);
  EXPECT_EQ(mist->GetDataInstance()->GetReal(1000), 0.5);
  // A name the document lacks gets a new material.
  BaseMaterial* made = list->FindByName(String("new"))->hostMaterial;
  ASSERT_NE(Standard(made), nullptr);
  EXPECT_EQ(ChannelData(made, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0));

  // Reused and rewritten: the entry's values replace the channels; nothing new is made.
  list = build(IOMTL_REWRITE_REUSED);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(DocMaterials(), (Names{"wood", "mist", "new"}));
  EXPECT_EQ(list->FindByName(String("wood"))->hostMaterial, wood);
  EXPECT_EQ(ChannelData(wood, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), Vector(1, 0, 0));
  EXPECT_EQ(ChannelsOn(wood), "colour") << "no ambient colour, and specular is not asked for";
  EXPECT_EQ(list->FindByName(String("new"))->hostMaterial, made);
  EXPECT_EQ(list->FindByName(String("mist"))->hostMaterial, mist);
  EXPECT_EQ(mist->GetUpdateCount(), 0);
}

// --- channels ---------------------------------------------------------------------------------

TEST_F(HostMaterialsTest, EachChannelNeedsItsBitAndItsValue) {
  struct Rule {
    const char* on;  // what ChannelsOn shows when only this channel is on
    ULONG flag;
    std::function<void(ioMaterial&)> give;
  };
  const Rule rules[] = {
      {"colour", IOMTL_COLOR, [](ioMaterial& m) { m.hasDiffuse = 1; }},
      {"transparency", IOMTL_TRANSPARENCY, [](ioMaterial& m) { m.hasTransparency = 1; }},
      {"luminance", IOMTL_LUMINANCE, [](ioMaterial& m) { m.hasAmbient = 1; }},
      {"specular", IOMTL_SPECULAR, [](ioMaterial& m) { m.hasSpecularHighlight = 1; }},
      {"speccolour", IOMTL_SPECULAR_COLOR, [](ioMaterial& m) { m.hasSpecularColor = 1; }},
      {"bump", IOMTL_BUMP, [](ioMaterial& m) { SetMap(m.mapBump, "b.png"); }},
      {"disp", IOMTL_DISPLACEMENT, [](ioMaterial& m) { SetMap(m.mapDisplacement, "d.png"); }},
      {"alpha", IOMTL_ALPHA, [](ioMaterial& m) { SetMap(m.mapAlpha, "a.png"); }},
  };
  for (const Rule& rule : rules) {
    for (int given = 0; given < 2; ++given) {
      for (int asked = 0; asked < 2; ++asked) {
        ListPtr list = ListOf({"m"});
        ASSERT_NE(list, nullptr);
        if (given) rule.give(*list->First());
        ioMaterialBuildOptions opts;
        opts.libraryRead = TRUE;
        // Asked: every flag; not asked: every flag but this channel's.
        opts.materialFlags = asked ? kAllChannels : (kAllChannels & ~rule.flag);
        BaseMaterial* mat = Rewritten(list.get(), opts);
        ASSERT_NE(mat, nullptr);
        EXPECT_EQ(ChannelsOn(mat), given && asked ? rule.on : "")
            << rule.on << " given " << given << " asked " << asked;
        // Channels outside the table are not switched.
        for (LONG id : {CHANNEL_REFLECTION, CHANNEL_ENVIRONMENT, CHANNEL_FOG, CHANNEL_GLOW, CHANNEL_DIFFUSION})
          EXPECT_TRUE(Standard(mat)->GetChannelState(id)) << id;
      }
    }
  }
}

TEST_F(HostMaterialsTest, ChannelValuesComeFromTheEntry) {
  ListPtr list = ListOf({"m"});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->First();
  m->hasDiffuse = m->hasAmbient = m->hasSpecularColor = m->hasSpecularHighlight = m->hasTransparency = 1;
  m->diffuse = Vector(0.9, 0.5, 0.1);
  m->ambient = Vector(0.2, 0.3, 0.4);
  m->specular = Vector(0.7, 0.6, 0.5);
  m->filter = Vector(0.25, 0.5, 0.75);
  m->transparency = 0.75;
  m->refraction = 1.5;
  ioMaterialBuildOptions opts;
  opts.materialFlags = kAllChannels;
  opts.libraryRead = TRUE;
  BaseMaterial* mat = Rewritten(list.get(), opts);
  ASSERT_NE(mat, nullptr);
  struct Expect {
    LONG channel;
    Vector colour;
    Real brightness;
  };
  for (const Expect& e : {Expect{CHANNEL_COLOR, m->diffuse, 1.0}, Expect{CHANNEL_LUMINANCE, m->ambient, 1.0},
                          Expect{CHANNEL_SPECULARCOLOR, m->specular, 1.0},
                          Expect{CHANNEL_TRANSPARENCY, m->filter, 0.75}}) {
    const BaseContainer data = ChannelData(mat, e.channel);
    EXPECT_EQ(data.GetVector(BASECHANNEL_COLOR_EX), e.colour) << e.channel;
    EXPECT_DOUBLE_EQ(data.GetReal(BASECHANNEL_BRIGHTNESS_EX), e.brightness) << e.channel;
  }
  // Refraction only with its own bit.
  EXPECT_DOUBLE_EQ(mat->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION), 1.0);
  opts.materialFlags |= IOMTL_REFRACTION;
  mat = Rewritten(list.get(), opts);
  ASSERT_NE(mat, nullptr);
  EXPECT_DOUBLE_EQ(mat->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION), 1.5);
  // ...and only while the transparency channel is on.
  m->hasTransparency = 0;
  mat = Rewritten(list.get(), opts);
  ASSERT_NE(mat, nullptr);
  EXPECT_DOUBLE_EQ(mat->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION), 1.0);
}

TEST_F(HostMaterialsTest, WithoutALibraryEveryMaterialShowsItsColour) {
  ListPtr list = ListOf({"plain", "default_Mat", "red"});
  ASSERT_NE(list, nullptr);
  list->MarkDefault(list->FindByName(String("default_Mat")));
  ioMaterial* red = list->FindByName(String("red"));
  red->diffuse = Vector(1, 0, 0);
  red->hasDiffuse = 1;
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD | IOMTL_COLOR;

  // No library read: every material's colour channel is on, with its (default) colour.
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  for (ioMaterial* entry = list->First(); entry; entry = entry->Next()) {
    EXPECT_EQ(ChannelsOn(entry->hostMaterial), "colour") << EntryName(entry);
    EXPECT_EQ(ChannelData(entry->hostMaterial, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX), entry->diffuse);
  }
  EXPECT_EQ(ChannelData(list->First()->hostMaterial, CHANNEL_COLOR).GetVector(BASECHANNEL_COLOR_EX),
            list->First()->defaultColor);

  // With the library read, only materials that have a diffuse colour show one.
  opts.libraryRead = TRUE;
  m_doc.reset(BaseDocument::Alloc());
  ASSERT_NE(m_doc, nullptr);
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  EXPECT_EQ(ChannelsOn(list->FindByName(String("plain"))->hostMaterial), "");
  EXPECT_EQ(ChannelsOn(list->FindByName(String("default_Mat"))->hostMaterial), "colour");
  EXPECT_EQ(ChannelsOn(red->hostMaterial), "colour");
}

// --- maps -------------------------------------------------------------------------------------

TEST_F(HostMaterialsTest, ColourMapsNeedTheTextureBitMapChannelsDoNot) {
  ListPtr list = ListOf({"m"});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->First();
  m->hasDiffuse = m->hasAmbient = m->hasSpecularColor = 1;
  SetMap(m->mapDiffuse, "wood.png");
  SetMap(m->mapAmbient, "glow.png");
  SetMap(m->mapSpecular, "shine.png");
  SetMap(m->mapBump, "bump.png");
  SetMap(m->mapDisplacement, "disp.png");
  SetMap(m->mapAlpha, "cut.png");
  ioMaterialBuildOptions opts;
  opts.materialFlags = kAllChannels;
  opts.libraryRead = TRUE;
  opts.shaderParam1005 = 5;
  opts.shaderParam1006 = 2;

  struct Expect {
    LONG channel;
    const char* texture;  // with the texture bit; without it the colour channels have none
    bool colourChannel;
  };
  const Expect expects[] = {{CHANNEL_COLOR, "wood.png", true},       {CHANNEL_LUMINANCE, "glow.png", true},
                            {CHANNEL_SPECULARCOLOR, "shine.png", true}, {CHANNEL_BUMP, "bump.png", false},
                            {CHANNEL_DISPLACEMENT, "disp.png", false}, {CHANNEL_ALPHA, "cut.png", false}};
  for (int textures = 0; textures < 2; ++textures) {
    if (textures) opts.materialFlags |= IOMTL_TEXTURES;
    BaseMaterial* mat = Rewritten(list.get(), opts);
    ASSERT_NE(mat, nullptr);
    for (const Expect& e : expects) {
      const BaseContainer data = ChannelData(mat, e.channel);
      const bool mapped = textures || !e.colourChannel;
      EXPECT_EQ(data.GetString(BASECHANNEL_TEXTURE).Std(), mapped ? e.texture : "") << e.channel;
      // The shader parameters: both on a mapped colour channel, 1005 alone on bump.
      const bool mixed = mapped && e.colourChannel;
      EXPECT_EQ(data.GetLong(BASECHANNEL_MIXSTRENGTH_EX), mixed ? 2 : 0) << e.channel;
      EXPECT_EQ(data.GetLong(BASECHANNEL_MIXMODE_EX), mixed || e.channel == CHANNEL_BUMP ? 5 : 0) << e.channel;
    }
  }

  // An empty map name gives the colour channel no texture and no shader parameters.
  m->mapDiffuse[0] = 0;
  BaseMaterial* mat = Rewritten(list.get(), opts);
  ASSERT_NE(mat, nullptr);
  EXPECT_EQ(ChannelData(mat, CHANNEL_COLOR).GetString(BASECHANNEL_TEXTURE).Std(), "");
  EXPECT_EQ(ChannelData(mat, CHANNEL_COLOR).GetLong(BASECHANNEL_MIXSTRENGTH_EX), 0);
  EXPECT_EQ(ChannelsOn(mat), "colour luminance speccolour bump disp alpha");
}

TEST_F(HostMaterialsTest, TextureFolderSuggestsWhereTheMapWasFound) {
  WriteFile("maps/deep/wood.png", "pixels");
  WriteFile("maps/other.txt", "not a map");
  ListPtr list = ListOf({"m"});
  ASSERT_NE(list, nullptr);
  ioMaterial* m = list->First();
  m->hasDiffuse = 1;
  SetMap(m->mapDiffuse, "wood.png");
  SetMap(m->mapBump, "missing.png");
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD | IOMTL_TEXTURES | IOMTL_COLOR | IOMTL_BUMP;
  opts.libraryRead = TRUE;
  opts.texturePath = String(TempDir());
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));

  const BaseContainer colour = ChannelData(m->hostMaterial, CHANNEL_COLOR);
  EXPECT_EQ(colour.GetString(BASECHANNEL_TEXTURE).Std(), "wood.png") << "the texture keeps its file name";
  EXPECT_EQ(Slashed(colour.GetFilename(BASECHANNEL_SUGGESTEDFOLDER).GetString().Std()), Slashed(TempDir() + "/maps/deep"));
  // Not found: the map is still the texture, with no folder.
  const BaseContainer bump = ChannelData(m->hostMaterial, CHANNEL_BUMP);
  EXPECT_EQ(bump.GetString(BASECHANNEL_TEXTURE).Std(), "missing.png");
  EXPECT_FALSE(bump.GetFilename(BASECHANNEL_SUGGESTEDFOLDER).Content());

  // Without a texture folder nothing is looked up.
  opts.texturePath = String();
  m_doc.reset(BaseDocument::Alloc());
  ASSERT_NE(m_doc, nullptr);
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  EXPECT_FALSE(ChannelData(m->hostMaterial, CHANNEL_COLOR).GetFilename(BASECHANNEL_SUGGESTEDFOLDER).Content());
  EXPECT_EQ(ChannelData(m->hostMaterial, CHANNEL_COLOR).GetString(BASECHANNEL_TEXTURE).Std(), "wood.png");
}

// --- tags of a single object ----------------------------------------------------------------

TEST_F(HostMaterialsTest, SingleObjectGetsASelectionAndTextureTagPerMaterial) {
  ListPtr list = WithFaces({"default_Mat", "red", "blue", "unused"}, {1, 1, 2, 1, 0, 2});
  ASSERT_NE(list, nullptr);
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD | IOMTL_COLOR;
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  PolygonObject* op = Mesh(6);
  ASSERT_NE(op, nullptr);
  ASSERT_NE(op->MakeTag(Tphong), nullptr);
  LayerObject* selLayer = Layer("selections");
  LayerObject* texLayer = Layer("textures");
  ASSERT_TRUE(selLayer && texLayer);
  list->m_pSelectionTagLayer = selLayer;
  list->m_pTextureTagLayer = texLayer;

  list->SetTexTags(op, TRUE);
  EXPECT_EQ(TagList(op), (Names{"tag " + std::to_string(Tphong), "sel default_Mat", "tex default_Mat", "sel red",
                                "tex red", "sel blue", "tex blue"}));
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "default_Mat")), (Indices{4}));
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "red")), (Indices{0, 1, 3}));
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "blue")), (Indices{2, 5}));
  EXPECT_EQ(list->m_pCurrentSelectionTag, FindTag(op, Tpolygonselection, "blue"));

  for (ioMaterial* entry = list->First(); entry; entry = entry->Next()) {
    if (entry->faceCount == 0) {
      EXPECT_EQ(entry->textureTag, nullptr);
      continue;
    }
    BaseTag* sel = FindTag(op, Tpolygonselection, EntryName(entry));
    auto* tex = static_cast<TextureTag*>(FindTag(op, Ttexture, EntryName(entry)));
    ASSERT_TRUE(sel && tex) << EntryName(entry);
    EXPECT_EQ(entry->textureTag, tex);
    EXPECT_EQ(tex->GetMaterial(), entry->hostMaterial);
    EXPECT_EQ(tex->GetDataInstance()->GetLong(TEXTURETAG_PROJECTION), TEXTURETAG_PROJECTION_UVW);
    EXPECT_EQ(tex->GetLayerObject(m_doc.get()), texLayer);
    EXPECT_EQ(sel->GetLayerObject(m_doc.get()), selLayer);
  }

  const std::string status = GeLoadString(IDS_STATUS_BUILDING_TEXTURE_TAGS).Std();
  EXPECT_FALSE(status.empty());
  EXPECT_EQ(host::Status().text, status);
  EXPECT_TRUE(ConsoleHas("SetTexTags() elapsed = "));
}

TEST_F(HostMaterialsTest, TextureTagsNeedTheOptionAndAMaterial) {
  ListPtr list = WithFaces({"a", "b"}, {0, 1, 1});
  ASSERT_NE(list, nullptr);
  // Materials not made (their bit off): selections only, on no layer.
  PolygonObject* op = Mesh(3);
  ASSERT_NE(op, nullptr);
  list->SetTexTags(op, TRUE);
  EXPECT_EQ(TagList(op), (Names{"sel a", "sel b"}));
  EXPECT_EQ(op->GetFirstTag()->GetLayerObject(nullptr), nullptr);
  EXPECT_EQ(list->First()->textureTag, nullptr);

  // Materials made, texture tags not asked for.
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD;
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  op = Mesh(3, "Second");
  ASSERT_NE(op, nullptr);
  list->SetTexTags(op, FALSE);
  EXPECT_EQ(TagList(op), (Names{"sel a", "sel b"}));
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "b")), (Indices{1, 2}));
  EXPECT_EQ(list->First()->textureTag, nullptr);
}

TEST_F(HostMaterialsTest, FacesPastTheObjectsPolygonsAreLeftOut) {
  ListPtr list = WithFaces({"a", "b"}, {0, 1, 0, 1, 0, 1});
  ASSERT_NE(list, nullptr);
  PolygonObject* op = Mesh(3);
  ASSERT_NE(op, nullptr);
  list->SetTexTags(op, FALSE);
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "a")), (Indices{0, 2}));
  EXPECT_EQ(Selected(FindTag(op, Tpolygonselection, "b")), (Indices{1}));
  list->SetTexTags(nullptr, TRUE);  // no object: nothing to do, and no harm
}

// --- tags of split objects --------------------------------------------------------------------

TEST_F(HostMaterialsTest, SplitObjectsGetTheirTagsOnFirstUse) {
  ListPtr list = ListOf({"a", "b", "c"});
  ASSERT_NE(list, nullptr);
  ioMaterialBuildOptions opts;
  opts.materialFlags = IOMTL_BUILD;
  ASSERT_TRUE(list->SetBaseMaterials(m_doc.get(), opts));
  LayerObject* selLayer = Layer("selections");
  ASSERT_NE(selLayer, nullptr);
  list->m_pSelectionTagLayer = selLayer;
  ioMaterial* a = list->FindByIndex(0);
  ioMaterial* b = list->FindByIndex(1);

  PolygonObject* first = Mesh(4, "first");
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(list->ResetObjectSelections());
  const LONG materials[] = {1, 0, 1, 1};
  for (LONG k = 0; k < 4; ++k) list->AssignPolygon(first, materials[k], k, TRUE);
  EXPECT_EQ(TagList(first), (Names{"sel b", "tex b", "sel a", "tex a"}));
  EXPECT_EQ(Selected(FindTag(first, Tpolygonselection, "b")), (Indices{0, 2, 3}));
  EXPECT_EQ(Selected(FindTag(first, Tpolygonselection, "a")), (Indices{1}));
  EXPECT_EQ(b->textureTag, FindTag(first, Ttexture, "b"));
  ASSERT_NE(b->textureTag, nullptr);
  EXPECT_EQ(b->textureTag->GetMaterial(), b->hostMaterial);
  EXPECT_EQ(FindTag(first, Tpolygonselection, "a")->GetLayerObject(nullptr), selLayer);
  EXPECT_EQ(list->m_pCurrentSelectionTag, FindTag(first, Tpolygonselection, "a"));

  // The next object starts empty; its tags follow the tags it already has. An index no
  // entry has falls back to the first entry; polygons outside the object are ignored.
  PolygonObject* second = Mesh(2, "second");
  ASSERT_NE(second, nullptr);
  ASSERT_NE(second->MakeTag(Tphong), nullptr);
  ASSERT_TRUE(list->ResetObjectSelections());
  list->AssignPolygon(second, 2, 0, TRUE);
  list->AssignPolygon(second, 7, 1, TRUE);
  list->AssignPolygon(second, 2, 2, TRUE);
  list->AssignPolygon(second, 2, -1, TRUE);
  EXPECT_EQ(TagList(second), (Names{"tag " + std::to_string(Tphong), "sel c", "tex c", "sel a", "tex a"}));
  EXPECT_EQ(Selected(FindTag(second, Tpolygonselection, "c")), (Indices{0}));
  EXPECT_EQ(Selected(FindTag(second, Tpolygonselection, "a")), (Indices{1}));
  EXPECT_EQ(a->textureTag, FindTag(second, Ttexture, "a")) << "the entry remembers its latest texture tag";
  EXPECT_EQ(Selected(FindTag(first, Tpolygonselection, "a")), (Indices{1})) << "the first object is done";

  // Without texture tags asked for, selections only.
  PolygonObject* third = Mesh(1, "third");
  ASSERT_NE(third, nullptr);
  ASSERT_TRUE(list->ResetObjectSelections());
  list->AssignPolygon(third, 1, 0, FALSE);
  EXPECT_EQ(TagList(third), (Names{"sel b"}));
}

// --- memory -----------------------------------------------------------------------------------

TEST_F(HostMaterialsTest, EveryAllocationOfTheMaterialsCanFail) {
  const Names names = {"a", "b", "c"};
  EveryAllocation([&]() {
    host::ClearConsole();
    host::ClearUserLog();
    DocPtr doc(BaseDocument::Alloc());
    ListPtr list(ioMaterialList::Alloc());
    if (!doc || !list) return false;
    for (const auto& name : names) {
      ioMaterial* entry = list->FindOrAdd(nullptr, String(name));
      if (!entry) return false;
      entry->hasDiffuse = 1;
      SetMap(entry->mapDiffuse, (name + ".png").c_str());
      SetMap(entry->mapBump, (name + "_bump.png").c_str());
    }
    ioMaterialBuildOptions opts;
    opts.materialFlags = IOMTL_BUILD | IOMTL_TEXTURES | kAllChannels;
    const Bool ok = list->SetBaseMaterials(doc.get(), opts);
    LONG made = 0;
    for (ioMaterial* entry = list->First(); entry; entry = entry->Next()) {
      if (!entry->hostMaterial) continue;
      ++made;
      EXPECT_EQ(entry->hostMaterial->GetDocument(), doc.get());
      EXPECT_EQ(Name(entry->hostMaterial), EntryName(entry));
    }
    EXPECT_EQ(ok, made > 0) << "false only when nothing was made";
    bool complete = made == 3;
    for (ioMaterial* entry = list->First(); complete && entry; entry = entry->Next())
      complete = ChannelData(entry->hostMaterial, CHANNEL_BUMP).GetString(BASECHANNEL_TEXTURE).Std() == entry->mapBump &&
                 ChannelData(entry->hostMaterial, CHANNEL_COLOR).GetString(BASECHANNEL_TEXTURE).Std() == entry->mapDiffuse;
    // A material or map that memory refused is told of, once.
    const bool told = ConsoleHas("Kelvane: Memory Allocation Error - Material");
    EXPECT_EQ(!complete, told);
    EXPECT_LE(host::MessageBoxes().size(), 1u);
    return complete;
  });
}

TEST_F(HostMaterialsTest, EveryAllocationOfTheTagsCanFail) {
  const Indices owners = {0, 1, 0, 2, 2, 0, 1};
  EveryAllocation([&]() {
    host::ClearConsole();
    DocPtr doc(BaseDocument::Alloc());
    if (!doc) return false;
    ListPtr list(ioMaterialList::Alloc());
    if (!list) return false;
    for (const char* name : {"a", "b", "c"})
      if (!list->FindOrAdd(nullptr, String(name))) return false;
    std::vector<ioFace> faces(owners.size());
    for (size_t i = 0; i < owners.size(); ++i) {
      faces[i].material = owners[i];
      faces[i].sequence = static_cast<LONG>(i);
      ++list->FindByIndex(owners[i])->faceCount;
    }
    if (!list->SetFaceIndices(faces.data(), static_cast<ULONG>(faces.size()))) return false;
    ioMaterialBuildOptions opts;
    opts.materialFlags = IOMTL_BUILD;
    list->SetBaseMaterials(doc.get(), opts);
    PolygonObject* single = PolygonObject::Alloc(4, static_cast<LONG>(owners.size()));
    PolygonObject* split = PolygonObject::Alloc(4, static_cast<LONG>(owners.size()));
    if (split) doc->InsertObject(split, nullptr, nullptr);
    if (single) doc->InsertObject(single, nullptr, nullptr);
    if (!single || !split) return false;

    list->SetTexTags(single, TRUE);
    if (!list->ResetObjectSelections()) return false;
    for (size_t i = 0; i < owners.size(); ++i) list->AssignPolygon(split, owners[i], static_cast<LONG>(i), TRUE);
    // The list tells of its first loss, whatever it was.
    const bool told = ConsoleHas("Kelvane: Memory Allocation Error - ");

    // Whatever was made is right: a selection holds its material's polygons, and a
    // texture tag follows its selection. What is missing was told of.
    bool complete = true;
    for (PolygonObject* op : {single, split}) {
      LONG selections = 0, textures = 0;
      for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
        if (tag->GetType() == Tpoint || tag->GetType() == Tpolygon) continue;
        if (tag->GetType() == Ttexture) {
          EXPECT_TRUE(tag->GetPred() && tag->GetPred()->GetType() == Tpolygonselection &&
                      Name(tag->GetPred()) == tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION).Std());
          ++textures;
          continue;
        }
        ++selections;
        const ioMaterial* entry = list->FindByName(tag->GetName());
        EXPECT_NE(entry, nullptr) << Name(tag);
        if (!entry) continue;
        Indices want;
        for (size_t i = 0; i < owners.size(); ++i)
          if (owners[i] == entry->index) want.push_back(static_cast<LONG>(i));
        if (Selected(tag) != want) {
          complete = false;
          EXPECT_TRUE(told) << Name(tag) << " lost polygons without a word";
        }
      }
      if (selections < 3 || textures < 3) complete = false;
    }
    EXPECT_TRUE(complete || told) << "tags lost without a word";
    return complete;
  });
}

}  // namespace

// Materials: the standard material with its channels, other material types, shaders
// (bitmap and layer shaders) and the search for texture files.
#pragma once

#include "c4d_baselist.h"
#include "c4d_file.h"
#include "ge_types.h"

class BaseChannel;
class Material;

// Channels of the standard material.
enum : LONG {
  CHANNEL_COLOR = 0,
  CHANNEL_LUMINANCE = 1,
  CHANNEL_TRANSPARENCY = 2,
  CHANNEL_REFLECTION = 3,
  CHANNEL_ENVIRONMENT = 4,
  CHANNEL_FOG = 5,
  CHANNEL_BUMP = 6,
  CHANNEL_ALPHA = 7,
  CHANNEL_SPECULAR = 8,
  CHANNEL_SPECULARCOLOR = 9,
  CHANNEL_GLOW = 10,
  CHANNEL_DISPLACEMENT = 11,
  CHANNEL_DIFFUSION = 12,
  CHANNEL_COUNT = 13,
};

// Channel parameters (the channel's data container).
enum : LONG {
  BASECHANNEL_COLOR_EX = 1000,       // Vector
  BASECHANNEL_BRIGHTNESS_EX = 1001,  // Real
  BASECHANNEL_TEXTURE = 1002,        // String: the bitmap shader's file name
  BASECHANNEL_BLUR_OFFSET = 1003,
  BASECHANNEL_BLUR_STRENGTH = 1004,
  BASECHANNEL_MIXMODE_EX = 1005,     // LONG
  BASECHANNEL_MIXSTRENGTH_EX = 1006, // LONG
  BASECHANNEL_SUGGESTEDFOLDER = 1017,  // Filename: where the texture was found
};

// Material parameters.
enum : LONG {
  MATERIAL_TRANSPARENCY_REFRACTION = 1005,  // Real
};

// Shader parameters.
enum : LONG {
  BITMAPSHADER_FILENAME = 1000,  // Filename
  LAYERSHADER_SHADER = 1001,     // link to the shader the layer shader holds
};

// A shader of a material; shaders may hold shaders (their children).
class BaseShader : public BaseList2D {
 public:
  // Xbitmap, Xlayer or another shader type; null on failure.
  static BaseShader* Alloc(LONG type);
  static void Free(BaseShader*& sh);
  BaseShader* GetNext() const { return static_cast<BaseShader*>(GeListNode::GetNext()); }
  BaseShader* GetDown() const { return static_cast<BaseShader*>(GeListNode::GetDown()); }
  // Inserts shader under this one (first child when pred is null, else after pred).
  void InsertShader(BaseShader* shader, BaseShader* pred = nullptr);

 protected:
  friend struct NodeAccess;
  explicit BaseShader(LONG type) : BaseList2D(type, Xbase) {}
  BaseList2D* MakeEmpty() const override;
};

class BaseMaterial : public BaseList2D {
 public:
  // Mmaterial (a standard Material), Mfog or another material type; null on failure.
  static BaseMaterial* Alloc(LONG type);
  static void Free(BaseMaterial*& mat);

  BaseMaterial* GetNext() const { return static_cast<BaseMaterial*>(GeListNode::GetNext()); }
  BaseMaterial* GetPred() const { return static_cast<BaseMaterial*>(GeListNode::GetPred()); }

  // Shaders of the material.
  BaseShader* GetFirstShader() const;
  void InsertShader(BaseShader* shader, BaseShader* pred = nullptr);
  // Recomputes the material's previews after a change; counted so a caller can see it.
  void Update(Bool preview, Bool rttm);
  LLONG GetUpdateCount() const { return m_updates; }

 protected:
  friend struct NodeAccess;
  explicit BaseMaterial(LONG type);
  ~BaseMaterial() override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  GeListHead* m_pShaders = nullptr;
  LLONG m_updates = 0;
};

// One channel of a standard material: a data container and a switch. A texture set
// through BASECHANNEL_TEXTURE is held by a bitmap shader of the material.
class BaseChannel {
 public:
  // BASECHANNEL_TEXTURE reads the file name of the channel's bitmap shader ("" when the
  // channel has another shader or none).
  BaseContainer GetData() const;
  // Sets the entries of bc. A non-empty BASECHANNEL_TEXTURE gives the channel a bitmap
  // shader with that file (replacing another shader); an empty one removes the shader.
  void SetData(const BaseContainer& bc);
  // The channel's shader, or null.
  BaseShader* GetShader() const;
  // Makes shader (a shader of the material, or null) the channel's shader.
  void SetShader(BaseShader* shader);

 private:
  friend class Material;
  friend struct NodeAccess;
  BaseChannel() = default;
  Material* m_pMaterial = nullptr;
  BaseContainer m_data;
  LLONG m_shader = 0;  // node number of the shader, 0: none
  Bool m_enabled = FALSE;
};

// The standard material (Mmaterial).
class Material : public BaseMaterial {
 public:
  static Material* Alloc();

  // The channel, or null for an unknown ID.
  BaseChannel* GetChannel(LONG id);
  Bool GetChannelState(LONG channel) const;
  void SetChannelState(LONG channel, Bool state);

 protected:
  friend struct NodeAccess;
  Material();
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  BaseChannel m_channels[CHANNEL_COUNT];
};

// Looks for a file called name (its file part) in directory and its sub-folders,
// breadth first, at most 16 levels deep. True with *found set when there is one.
Bool GeSearchFile(const Filename& directory, const Filename& name, Filename* found);
// Resolves a texture name as the host does: an existing absolute name stands; else the
// file part is looked for in suggestedpath, then beside the document (docpath) and in
// its "tex" folder. True with *dstname set when found.
Bool GenerateTexturePath(const Filename& docpath, const Filename& srcfilename, const Filename& suggestedpath,
                         Filename* dstname);

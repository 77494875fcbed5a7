// Materials, channels, shaders and the texture file search.
#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <unordered_map>

#include "c4d_memory.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace fs = std::filesystem;

// --- shaders --------------------------------------------------------------------------

BaseShader* NodeAccess::MakeShader(LONG type) {
  if (type <= 0) return nullptr;
  BaseShader* shader = gNew BaseShader(type);
  if (!shader) return nullptr;
  switch (type) {
    case Xbitmap:
      shader->SetName(String("Bitmap"));
      shader->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename());
      break;
    case Xlayer:
      shader->SetName(String("Layer"));
      shader->GetDataInstance()->SetLink(LAYERSHADER_SHADER, nullptr);
      break;
    default:
      break;
  }
  return shader;
}

BaseShader* BaseShader::Alloc(LONG type) { return NodeAccess::MakeShader(type); }

void BaseShader::Free(BaseShader*& sh) {
  NodeAccess::Destroy(sh);
  sh = nullptr;
}

void BaseShader::InsertShader(BaseShader* shader, BaseShader* pred) {
  if (!shader) return;
  if (pred && pred->GetUp() == this)
    shader->InsertAfter(pred);
  else
    shader->InsertUnder(this);
}

BaseList2D* BaseShader::MakeEmpty() const { return NodeAccess::MakeShader(GetType()); }

// --- BaseMaterial -----------------------------------------------------------------------

BaseMaterial* NodeAccess::MakeMaterial(LONG type) {
  BaseMaterial* mat = nullptr;
  if (type == Mmaterial)
    mat = gNew Material;
  else if (type > 0)
    mat = gNew BaseMaterial(type);
  if (!mat) return nullptr;
  mat->m_pShaders = GeListHead::Alloc();
  if (!mat->m_pShaders) {
    Destroy(mat);
    return nullptr;
  }
  mat->m_pShaders->SetParent(mat);
  mat->SetName(type == Mmaterial ? String("Mat") : mat->GetTypeName());
  return mat;
}

BaseMaterial::BaseMaterial(LONG type) : BaseList2D(type, Mbase) {}

BaseMaterial::~BaseMaterial() {
  if (m_pShaders) NodeAccess::Destroy(m_pShaders);
}

BaseMaterial* BaseMaterial::Alloc(LONG type) {
  // Known material types; the host refuses others.
  if (type != Mmaterial && type != Mfog) return nullptr;
  return NodeAccess::MakeMaterial(type);
}

void BaseMaterial::Free(BaseMaterial*& mat) {
  NodeAccess::Destroy(mat);
  mat = nullptr;
}

BaseShader* BaseMaterial::GetFirstShader() const { return static_cast<BaseShader*>(m_pShaders->GetFirst()); }

void BaseMaterial::InsertShader(BaseShader* shader, BaseShader* pred) {
  if (!shader) return;
  if (pred && pred->GetListHead() == m_pShaders && !pred->GetUp())
    shader->InsertAfter(pred);
  else
    m_pShaders->InsertFirst(shader);
}

void BaseMaterial::Update(Bool, Bool) { ++m_updates; }

BaseList2D* BaseMaterial::MakeEmpty() const { return NodeAccess::MakeMaterial(GetType()); }

Bool BaseMaterial::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseList2D::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* mat = static_cast<BaseMaterial*>(dst);
  mat->m_pShaders->FlushAll();
  // Links between the material's own shaders (layer shaders, channels) follow the copy
  // at once, whether or not the caller translates.
  AliasTrans* local = AliasTrans::Alloc();
  if (!local) return FALSE;
  bool ok = true;
  for (const BaseShader* shader = GetFirstShader(); shader && ok; shader = shader->GetNext()) {
    BaseList2D* copy = shader->GetClone(flags, local);
    if (copy)
      mat->m_pShaders->InsertLast(copy);
    else
      ok = false;
  }
  if (ok) {
    // The copy itself is translated too: the channels of a standard material, copied
    // before this runs, link the original's shaders.
    NodeAccess::RecordCopy(local, this, mat);
    local->Translate(TRUE);
    for (const BaseShader* s = GetFirstShader(), *c = mat->GetFirstShader(); s && c; s = s->GetNext(), c = c->GetNext())
      NodeAccess::RecordCopy(trn, s, const_cast<BaseShader*>(c));
  }
  AliasTrans::Free(local);
  return ok ? TRUE : FALSE;
}

void BaseMaterial::SwapContent(BaseList2D* other) {
  BaseList2D::SwapContent(other);
  auto* mat = static_cast<BaseMaterial*>(other);
  std::swap(m_pShaders, mat->m_pShaders);
  m_pShaders->SetParent(this);
  mat->m_pShaders->SetParent(mat);
}

// --- Material and its channels ----------------------------------------------------------

Material::Material() : BaseMaterial(Mmaterial) {
  for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
    BaseChannel& channel = m_channels[id];
    channel.m_pMaterial = this;
    channel.m_data.SetVector(BASECHANNEL_COLOR_EX, id == CHANNEL_COLOR ? Vector(0.8, 0.8, 0.8) : Vector(1, 1, 1));
    channel.m_data.SetReal(BASECHANNEL_BRIGHTNESS_EX, 1.0);
    channel.m_data.SetLong(BASECHANNEL_MIXMODE_EX, 0);
    channel.m_data.SetLong(BASECHANNEL_MIXSTRENGTH_EX, 0);
    channel.m_data.SetFilename(BASECHANNEL_SUGGESTEDFOLDER, Filename());
    channel.m_enabled = id == CHANNEL_COLOR || id == CHANNEL_SPECULAR;
  }
  GetDataInstance()->SetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.0);
}

Material* Material::Alloc() { return static_cast<Material*>(NodeAccess::MakeMaterial(Mmaterial)); }

BaseList2D* Material::MakeEmpty() const { return NodeAccess::MakeMaterial(Mmaterial); }

BaseChannel* Material::GetChannel(LONG id) { return (id >= 0 && id < CHANNEL_COUNT) ? &m_channels[id] : nullptr; }

Bool Material::GetChannelState(LONG channel) const {
  return (channel >= 0 && channel < CHANNEL_COUNT) ? m_channels[channel].m_enabled : FALSE;
}

void Material::SetChannelState(LONG channel, Bool state) {
  if (channel >= 0 && channel < CHANNEL_COUNT) m_channels[channel].m_enabled = state;
}

Bool Material::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  auto* mat = static_cast<Material*>(dst);
  for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
    mat->m_channels[id].m_data = m_channels[id].m_data;
    mat->m_channels[id].m_shader = m_channels[id].m_shader;
    mat->m_channels[id].m_enabled = m_channels[id].m_enabled;
  }
  return BaseMaterial::CopyContentTo(dst, flags, trn);
}

void Material::SwapContent(BaseList2D* other) {
  BaseMaterial::SwapContent(other);
  auto* mat = static_cast<Material*>(other);
  for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
    std::swap(m_channels[id].m_data, mat->m_channels[id].m_data);
    std::swap(m_channels[id].m_shader, mat->m_channels[id].m_shader);
    std::swap(m_channels[id].m_enabled, mat->m_channels[id].m_enabled);
  }
}

BaseShader* BaseChannel::GetShader() const {
  BaseList2D* node = GeData::LinkSerial(m_shader).GetLink(nullptr, Xbase);
  if (!node) return nullptr;
  // Only a shader of this channel's own material counts.
  const GeListHead* head = node->GetListHead();
  return (head && head->GetMain() == m_pMaterial) ? static_cast<BaseShader*>(node) : nullptr;
}

void BaseChannel::SetShader(BaseShader* shader) { m_shader = NodeAccess::Serial(shader); }

BaseContainer BaseChannel::GetData() const {
  BaseContainer bc = m_data;
  const BaseShader* shader = GetShader();
  bc.SetString(BASECHANNEL_TEXTURE, (shader && shader->GetType() == Xbitmap)
                                        ? shader->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString()
                                        : String());
  return bc;
}

void BaseChannel::SetData(const BaseContainer& bc) {
  for (LONG i = 0; i < bc.GetEntryCount(); ++i) {
    const LONG id = bc.GetIndexId(i);
    if (id != BASECHANNEL_TEXTURE) m_data.SetData(id, *bc.GetIndexData(i));
  }
  const GeData* texture = bc.GetDataPointer(BASECHANNEL_TEXTURE);
  if (!texture || !m_pMaterial) return;
  const String name = texture->GetString();
  BaseShader* shader = GetShader();
  if (shader && shader->GetType() == Xbitmap && name.Content()) {
    shader->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename(name));
    return;
  }
  // The channel's old shader goes; a new name brings a bitmap shader.
  if (shader) BaseShader::Free(shader);
  m_shader = 0;
  if (!name.Content()) return;
  BaseShader* bitmap = BaseShader::Alloc(Xbitmap);
  if (!bitmap) return;
  bitmap->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename(name));
  m_pMaterial->InsertShader(bitmap, static_cast<BaseShader*>(NodeAccess::ShaderHead(m_pMaterial)->GetLast()));
  m_shader = NodeAccess::Serial(bitmap);
}

// --- texture file search ----------------------------------------------------------------

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The file part of a name written with "/" or "\" (texture names come from other systems).
std::string FilePartAnySeparator(const std::string& path) {
  const size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

constexpr int kMaxSearchDepth = 16;

}  // namespace

Bool GeSearchFile(const Filename& directory, const Filename& name, Filename* found) {
  const std::string wanted = FilePartAnySeparator(name.GetString().Std());
  if (wanted.empty() || !directory.Content()) return FALSE;
  std::error_code ec;
  std::deque<std::pair<fs::path, int>> folders{{fs::u8path(directory.GetString().Std()), 0}};
  while (!folders.empty()) {
    const auto [folder, depth] = folders.front();
    folders.pop_front();
    // An exact name wins over one that differs only in case. The name found is the one
    // on the disk, also where the system ignores case when it opens a file.
    std::vector<fs::path> files, subfolders;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        subfolders.push_back(it->path());
      } else if (it->is_regular_file(ec)) {
        const std::string file = it->path().filename().u8string();
        if (file == wanted) {
          if (found) *found = Filename(String(it->path().u8string()));
          return TRUE;
        }
        if (SameNameIgnoringCase(file, wanted)) files.push_back(it->path());
      }
    }
    if (!files.empty()) {
      std::sort(files.begin(), files.end());
      if (found) *found = Filename(String(files.front().u8string()));
      return TRUE;
    }
    if (depth < kMaxSearchDepth) {
      std::sort(subfolders.begin(), subfolders.end());
      for (const fs::path& sub : subfolders) folders.emplace_back(sub, depth + 1);
    }
  }
  return FALSE;
}

Bool GenerateTexturePath(const Filename& docpath, const Filename& srcfilename, const Filename& suggestedpath,
                         Filename* dstname) {
  std::error_code ec;
  const std::string src = srcfilename.GetString().Std();
  if (src.empty()) return FALSE;
  if (fs::u8path(src).is_absolute() && fs::is_regular_file(fs::u8path(src), ec)) {
    if (dstname) *dstname = srcfilename;
    return TRUE;
  }
  const std::string file = FilePartAnySeparator(src);
  for (const Filename& folder : {suggestedpath, docpath, docpath.Content() ? docpath + Filename("tex") : Filename()}) {
    if (!folder.Content()) continue;
    const fs::path candidate = fs::u8path(folder.GetString().Std()) / fs::u8path(file);
    if (fs::is_regular_file(candidate, ec)) {
      if (dstname) *dstname = Filename(String(candidate.u8string()));
      return TRUE;
    }
  }
  return FALSE;
}

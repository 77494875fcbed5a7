// Scene files: a document as a tree of chunks (docs/scene-format.md). The writer numbers
// every node first so that links can name nodes written later; the reader builds the
// whole document, then resolves the numbers, and frees everything when any part fails.
#include "scene_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "c4d_memory.h"
#include "container_codec.h"
#include "host_control.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace host::internal {

const char kSceneMagic[8] = {'K', 'V', 'S', 'C', 'E', 'N', 'E', '\x1a'};

}  // namespace host::internal

namespace {

using host::internal::ByteReader;
using host::internal::LinkEncoder;
using host::internal::PutReal;
using host::internal::PutText;
using host::internal::PutU32;
using host::internal::PutU64;
using host::internal::PutVector;

constexpr uint32_t Code(const char (&c)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(c[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(c[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(c[3])) << 24;
}

constexpr uint32_t kDocu = Code("DOCU");
constexpr uint32_t kHead = Code("HEAD");
constexpr uint32_t kLayr = Code("LAYR");
constexpr uint32_t kMatl = Code("MATL");
constexpr uint32_t kChan = Code("CHAN");
constexpr uint32_t kShdr = Code("SHDR");
constexpr uint32_t kObje = Code("OBJE");
constexpr uint32_t kObjd = Code("OBJD");
constexpr uint32_t kTag = Code("TAG ");
constexpr uint32_t kVdat = Code("VDAT");
constexpr uint32_t kSele = Code("SELE");
constexpr uint32_t kNgon = Code("NGON");
constexpr uint32_t kTrak = Code("TRAK");

// Bytes of a key before its points: time (2 x f64), value, interpolation, point count.
constexpr uint64_t kKeyFixedBytes = 8 + 8 + 8 + 4 + 4;

// Objects, layers and shaders nested deeper than this are refused (the reader recurses).
constexpr int kMaxNesting = 512;
// N-gon edge marks; the rest of an edge is polygon x 4 + side.
constexpr LONG kNgonMarks = 0x60000000;

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

std::string CodeText(uint32_t code) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

// Bytes of one element in the file and the width of its scalars (for byte swapping).
LONG FileEntrySize(LONG type) { return type == Tsegment ? 8 : VariableTag::EntrySize(type); }
size_t ScalarWidth(LONG type) { return type == Tpoint ? 8 : 4; }

void AppendLittleEndian(std::string* out, const void* data, size_t bytes, size_t width) {
  if (bytes == 0) return;  // an empty tag may have no data block at all
  const size_t at = out->size();
  out->append(static_cast<const char*>(data), bytes);
  if (!kLittleEndian)
    for (size_t i = at; i + width <= out->size(); i += width) std::reverse(&(*out)[i], &(*out)[i] + width);
}

void CopyLittleEndian(void* dst, const unsigned char* src, size_t bytes, size_t width) {
  if (bytes == 0) return;
  std::memcpy(dst, src, bytes);
  if (!kLittleEndian) {
    auto* d = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i + width <= bytes; i += width) std::reverse(d + i, d + i + width);
  }
}

bool IsSelectionType(LONG type) { return type == Tpolygonselection || type == Tpointselection; }

const VariableTag* FindVariable(const BaseObject* op, LONG type) {
  for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext())
    if (t->GetType() == type) return static_cast<const VariableTag*>(t);
  return nullptr;
}

std::string TagName(const BaseTag* tag) { return "'" + tag->GetName().Std() + "'"; }

// What is wrong with the indices and ranges of op's data against op's own counts, or ""
// when nothing is: every point a polygon or segment uses exists, a UVW or normal tag of
// a polygon object has one entry per polygon, and a selection selects only polygons or
// points the object has. Commands index arrays with these without checking again, so a
// scene that fails here is neither loaded nor saved.
std::string ObjectDataProblem(const BaseObject* op) {
  const VariableTag* pointTag = FindVariable(op, Tpoint);
  const VariableTag* polygonTag = FindVariable(op, Tpolygon);
  const LLONG points = pointTag ? pointTag->GetDataCount() : 0;
  const LLONG polygons = polygonTag ? polygonTag->GetDataCount() : 0;
  for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
    const LONG type = tag->GetType();
    if (type == Tpolygon) {
      const auto* p = static_cast<const CPolygon*>(polygonTag->GetDataAddressR());
      for (LLONG i = 0; i < polygons; ++i)
        for (const LONG corner : {p[i].a, p[i].b, p[i].c, p[i].d})
          if (corner < 0 || corner >= points)
            return "polygon " + std::to_string(i) + " uses point " + std::to_string(corner) + " of " +
                   std::to_string(points) + " points";
    } else if (type == Tsegment) {
      const auto* vt = static_cast<const VariableTag*>(tag);
      const auto* segments = static_cast<const Segment*>(vt->GetDataAddressR());
      LLONG used = 0;
      for (LONG i = 0; i < vt->GetDataCount(); ++i) used += segments[i].cnt;
      if (used > points)
        return "its segments use " + std::to_string(used) + " points of " + std::to_string(points);
    } else if ((type == Tuvw || type == Tnormal) && polygonTag) {
      const LLONG entries = static_cast<const VariableTag*>(tag)->GetDataCount();
      if (entries != polygons)
        return std::string(type == Tuvw ? "UVW" : "normal") + " tag " + TagName(tag) + " has " +
               std::to_string(entries) + " entries for " + std::to_string(polygons) + " polygons";
    } else if (IsSelectionType(type)) {
      const BaseSelect* bs = static_cast<const SelectionTag*>(tag)->GetBaseSelect();
      const LONG ranges = bs ? NodeAccess::RangeCount(bs) : 0;
      if (ranges == 0) continue;
      LONG a = 0, last = 0;
      NodeAccess::Range(bs, ranges - 1, &a, &last);
      const bool ofPolygons = type == Tpolygonselection;
      const LLONG count = ofPolygons ? polygons : points;
      if (last >= count)
        return std::string(ofPolygons ? "polygon" : "point") + " selection " + TagName(tag) + " selects " +
               (ofPolygons ? "polygon " : "point ") + std::to_string(last) + " of " + std::to_string(count);
    }
  }
  return "";
}

// The first object of the tree under op (op included) whose data ObjectDataProblem
// refuses, with the reason; "" when none.
std::string TreeDataProblem(const BaseObject* op) {
  for (; op; op = op->GetNext()) {
    const std::string why = ObjectDataProblem(op);
    if (!why.empty()) return "object '" + op->GetName().Std() + "': " + why;
    const std::string below = TreeDataProblem(op->GetDown());
    if (!below.empty()) return below;
  }
  return "";
}

// --- writing ----------------------------------------------------------------------------

class Writer {
 public:
  void Run(const BaseDocument* doc) {
    for (const GeListNode* l = NodeAccess::LayerHead(doc)->GetFirst(); l; l = l->GetNext()) NumberTree(l);
    for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) {
      Number(m);
      for (const GeListNode* s = NodeAccess::ShaderHead(m)->GetFirst(); s; s = s->GetNext()) NumberTree(s);
    }
    for (const BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) NumberObject(op);

    // The arrays of points, polygons and tags are most of a large scene. Those that are
    // copied (on a big-endian machine, all) get room at once, which spares the string's
    // growing copies and the fresh memory each one takes.
    size_t bulk = 0;
    for (const BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) bulk += CopiedBulkBytes(op);
    m_out.reserve(bulk + (size_t{1} << 16));

    const Chunk doc_at = Begin(kDocu);
    Head(doc);
    for (const GeListNode* l = NodeAccess::LayerHead(doc)->GetFirst(); l; l = l->GetNext())
      Tree(static_cast<const BaseList2D*>(l), kLayr);
    for (const BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) Material(m);
    for (const BaseObject* op = doc->GetFirstObject(); op; op = op->GetNext()) Object(op);
    End(doc_at);
  }

  // The payload in order: the encoded bytes with the arrays left in place between them.
  std::vector<host::internal::PayloadPiece> Pieces() const {
    std::vector<host::internal::PayloadPiece> pieces;
    size_t from = 0;
    for (const InPlace& array : m_inPlace) {
      pieces.push_back({m_out.data() + from, array.at - from});
      pieces.push_back({array.data, array.size});
      from = array.at;
    }
    pieces.push_back({m_out.data() + from, m_out.size() - from});
    return pieces;
  }

  std::string Flat() const {
    std::string payload;
    payload.reserve(m_out.size() + m_inPlaceBytes);
    for (const host::internal::PayloadPiece& piece : Pieces())
      payload.append(static_cast<const char*>(piece.data), piece.size);
    return payload;
  }

 private:
  void Number(const BaseList2D* node) {
    m_refs.emplace(NodeAccess::Serial(node), static_cast<LONG>(m_refs.size()));
  }
  void NumberTree(const GeListNode* node) {
    Number(static_cast<const BaseList2D*>(node));
    for (const GeListNode* c = node->GetDown(); c; c = c->GetNext()) NumberTree(c);
  }
  void NumberObject(const BaseObject* op) {
    Number(op);
    for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext()) Number(t);
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) NumberObject(c);
  }
  // The bytes of the variable tags of op and the objects under it that are copied into
  // the encoding.
  static size_t CopiedBulkBytes(const BaseObject* op) {
    size_t bytes = 0;
    for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext()) {
      if (VariableTag::EntrySize(t->GetType()) <= 0) continue;
      const auto* vt = static_cast<const VariableTag*>(t);
      const size_t size = static_cast<size_t>(vt->GetDataCount()) * static_cast<size_t>(FileEntrySize(t->GetType()));
      if (t->GetType() == Tsegment || !StaysInPlace(size)) bytes += size;
    }
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) bytes += CopiedBulkBytes(c);
    return bytes;
  }
  // Arrays whose bytes are the file's (a little-endian machine) and large enough to be
  // worth a piece of their own are written from where they lie, not copied.
  static bool StaysInPlace(size_t bytes) { return kLittleEndian && bytes >= kInPlaceMin; }
  void AppendArray(const void* data, size_t bytes, size_t width) {
    if (!StaysInPlace(bytes)) return AppendLittleEndian(&m_out, data, bytes, width);
    m_inPlace.push_back({m_out.size(), data, bytes});
    m_inPlaceBytes += bytes;
  }
  // Where the payload is: its encoded bytes and the arrays left in place so far.
  size_t Written() const { return m_out.size() + m_inPlaceBytes; }
  LONG Ref(LLONG serial) const {
    const auto it = m_refs.find(serial);
    return it == m_refs.end() ? -1 : it->second;
  }

  // A chunk being written: where its length goes in m_out, and where its body starts
  // in the payload.
  struct Chunk {
    size_t lengthAt, bodyStart;
  };
  Chunk Begin(uint32_t code) {
    PutU32(&m_out, code);
    const size_t at = m_out.size();
    PutU64(&m_out, 0);
    return {at, Written()};
  }
  void End(Chunk chunk) {
    const uint64_t length = Written() - chunk.bodyStart;
    for (int i = 0; i < 8; ++i)
      m_out[chunk.lengthAt + static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
  }

  void Head(const BaseList2D* node) {
    const Chunk at = Begin(kHead);
    PutU32(&m_out, static_cast<uint32_t>(node->GetType()));
    PutText(&m_out, node->GetName().Std());
    PutU32(&m_out, static_cast<uint32_t>(node->GetAllBits()));
    PutU32(&m_out, static_cast<uint32_t>(Ref(NodeAccess::LayerSerial(node))));
    host::internal::EncodeContainer(*node->GetDataInstance(), &m_out, &m_links);
    End(at);
  }

  // A layer or shader with the nodes under it.
  void Tree(const BaseList2D* node, uint32_t code) {
    const Chunk at = Begin(code);
    Head(node);
    for (const GeListNode* c = node->GetDown(); c; c = c->GetNext()) Tree(static_cast<const BaseList2D*>(c), code);
    End(at);
  }

  void Material(const BaseMaterial* mat) {
    const Chunk at = Begin(kMatl);
    Head(mat);
    Tracks(mat);
    if (mat->GetType() == Mmaterial) {
      const auto* standard = static_cast<const ::Material*>(mat);
      for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
        const BaseChannel& channel = NodeAccess::Channel(standard, id);
        const Chunk ch = Begin(kChan);
        PutU32(&m_out, static_cast<uint32_t>(id));
        m_out.push_back(NodeAccess::ChannelEnabled(channel) ? 1 : 0);
        PutU32(&m_out, static_cast<uint32_t>(Ref(NodeAccess::ChannelShaderSerial(channel))));
        host::internal::EncodeContainer(NodeAccess::ChannelData(channel), &m_out, &m_links);
        End(ch);
      }
    }
    for (const GeListNode* s = NodeAccess::ShaderHead(mat)->GetFirst(); s; s = s->GetNext())
      Tree(static_cast<const BaseList2D*>(s), kShdr);
    End(at);
  }

  void Object(const BaseObject* op) {
    const Chunk at = Begin(kObje);
    Head(op);
    const Chunk data = Begin(kObjd);
    const Matrix m = op->GetMl();
    for (const Vector& v : {m.off, m.v1, m.v2, m.v3}) PutVector(&m_out, v);
    PutU32(&m_out, static_cast<uint32_t>(op->GetEditorMode()));
    PutU32(&m_out, static_cast<uint32_t>(op->GetRenderMode()));
    PutU32(&m_out, op->GetDeformMode() ? 1u : 0u);
    End(data);
    Tracks(op);
    for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext()) Tag(t);
    if (op->GetType() == Opolygon) Ngons(static_cast<const PolygonObject*>(op));
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) Object(c);
    End(at);
  }

  void Tag(const BaseTag* tag) {
    const Chunk at = Begin(kTag);
    Head(tag);
    Tracks(tag);
    const LONG type = tag->GetType();
    if (VariableTag::EntrySize(type) > 0) {
      const auto* vt = static_cast<const VariableTag*>(tag);
      const Chunk data = Begin(kVdat);
      const LONG count = vt->GetDataCount();
      PutU32(&m_out, static_cast<uint32_t>(count));
      if (type == Tsegment) {
        const auto* segments = static_cast<const Segment*>(vt->GetDataAddressR());
        for (LONG i = 0; i < count; ++i) {
          PutU32(&m_out, static_cast<uint32_t>(segments[i].cnt));
          PutU32(&m_out, segments[i].closed ? 1u : 0u);
        }
      } else {
        AppendArray(vt->GetDataAddressR(), static_cast<size_t>(count) * static_cast<size_t>(vt->GetDataSize()),
                    ScalarWidth(type));
      }
      End(data);
    } else if (IsSelectionType(type)) {
      const BaseSelect* bs = static_cast<const SelectionTag*>(tag)->GetBaseSelect();
      const Chunk data = Begin(kSele);
      const LONG ranges = NodeAccess::RangeCount(bs);
      PutU32(&m_out, static_cast<uint32_t>(ranges));
      for (LONG i = 0; i < ranges; ++i) {
        LONG a = 0, b = 0;
        NodeAccess::Range(bs, i, &a, &b);
        PutU32(&m_out, static_cast<uint32_t>(a));
        PutU32(&m_out, static_cast<uint32_t>(b));
      }
      End(data);
    }
    End(at);
  }

  void Tracks(const BaseList2D* node) {
    for (const CTrack* track = node->GetFirstCTrack(); track; track = track->GetNext()) {
      const Chunk at = Begin(kTrak);
      PutU32(&m_out, static_cast<uint32_t>(track->GetType()));
      const DescID& id = track->GetDescriptionID();
      PutU32(&m_out, static_cast<uint32_t>(id.GetDepth()));
      for (LONG i = 0; i < id.GetDepth(); ++i) {
        PutU32(&m_out, static_cast<uint32_t>(id[i].id));
        PutU32(&m_out, static_cast<uint32_t>(id[i].dtype));
        PutU32(&m_out, static_cast<uint32_t>(id[i].creator));
      }
      const CCurve* curve = const_cast<CTrack*>(track)->GetCurve(CCURVE_CURVE, FALSE);
      const LONG keys = curve ? curve->GetKeyCount() : 0;
      PutU32(&m_out, static_cast<uint32_t>(keys));
      for (LONG k = 0; k < keys; ++k) {
        const CKey* key = curve->GetKey(k);
        PutReal(&m_out, key->GetTime().GetNumerator());
        PutReal(&m_out, key->GetTime().GetDenominator());
        PutReal(&m_out, key->GetValue());
        PutU32(&m_out, static_cast<uint32_t>(key->GetInterpolation()));
        const LONG points = NodeAccess::KeyPointCount(key);
        PutU32(&m_out, static_cast<uint32_t>(points));
        AppendArray(NodeAccess::KeyPoints(key), static_cast<size_t>(points) * sizeof(Vector), 8);
      }
      End(at);
    }
  }

  void Ngons(const PolygonObject* op) {
    const LONG count = op->GetNgonCount();
    if (count == 0) return;
    const Chunk at = Begin(kNgon);
    PutU32(&m_out, static_cast<uint32_t>(count));
    for (LONG i = 0; i < count; ++i) PutU32(&m_out, static_cast<uint32_t>(NodeAccess::NgonEdgeCount(op, i)));
    for (LONG i = 0; i < count; ++i)
      AppendLittleEndian(&m_out, NodeAccess::NgonEdges(op, i),
                         static_cast<size_t>(NodeAccess::NgonEdgeCount(op, i)) * sizeof(LONG), sizeof(LONG));
    End(at);
  }

  struct InPlace {
    size_t at;  // where in m_out the array goes
    const void* data;
    size_t size;
  };
  static constexpr size_t kInPlaceMin = size_t{64} << 10;

  std::string m_out;  // the payload but the arrays in place
  std::vector<InPlace> m_inPlace;
  size_t m_inPlaceBytes = 0;
  std::unordered_map<LLONG, LONG> m_refs;  // node number -> reference in the file
  LinkEncoder m_links = [this](LLONG serial) { return Ref(serial); };
};

// --- reading ----------------------------------------------------------------------------

class Reader {
 public:
  // Frees a document that was not handed out (a failure, or an exception on the way).
  ~Reader() { BaseDocument::Free(m_doc); }

  explicit Reader(uint32_t version) : m_version(version) {}

  BaseDocument* Run(const std::string& payload, std::string* error, bool* outOfMemory) {
    ByteReader top(reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
    uint32_t code = 0;
    ByteReader body(nullptr, 0);
    if (Next(top, &code, &body)) {
      if (code != kDocu)
        Fail("the file starts with chunk '" + CodeText(code) + "' instead of a document");
      else if (top.Remaining() > 0)
        Fail(std::to_string(top.Remaining()) + " bytes after the document");
      else
        Document(body);
    }
    if (m_doc && m_error.empty()) ResolveLinks(m_doc);
    if (!m_error.empty()) {
      if (error) *error = m_error;
      if (outOfMemory) *outOfMemory = m_outOfMemory;
      return nullptr;
    }
    BaseDocument* doc = m_doc;
    m_doc = nullptr;
    return doc;
  }

 private:
  bool Fail(const std::string& why) {
    if (m_error.empty()) {
      std::string where;
      for (const std::string& part : m_path) where += part + ": ";
      m_error = where + why;
    }
    return false;
  }
  bool Check(ByteReader& r) { return r.Failed() ? Fail(r.Error()) : true; }
  bool OutOfMemory(const std::string& what) {
    if (m_error.empty()) m_outOfMemory = true;
    return Fail("not enough memory for " + what);
  }
  // A node of a type the file may hold could not be made: memory ran out.
  bool NotMade(const char* kind, LONG type) {
    return type > 0 ? OutOfMemory(kind) : Fail(std::string(kind) + " of type " + std::to_string(type));
  }

  // The next chunk of r: its code and a reader over its body.
  bool Next(ByteReader& r, uint32_t* code, ByteReader* body) {
    uint64_t length = 0;
    const unsigned char* bytes = nullptr;
    if (!r.U32(code) || !r.U64(&length)) return Check(r);
    if (length > r.Remaining())
      return Fail("chunk '" + CodeText(*code) + "' claims " + std::to_string(length) + " bytes, " +
                  std::to_string(r.Remaining()) + " remain");
    r.Bytes(static_cast<size_t>(length), &bytes);
    *body = ByteReader(bytes, static_cast<size_t>(length));
    return true;
  }

  // Reads the chunks after a node's head until r is used up. read handles one chunk
  // and returns false for a chunk that does not belong in this node.
  template <class Read>
  bool Children(ByteReader& r, Read read) {
    uint32_t code = 0;
    ByteReader body(nullptr, 0);
    while (m_error.empty() && r.Remaining() > 0 && Next(r, &code, &body))
      if (!read(code, body)) Fail("unexpected chunk '" + CodeText(code) + "'");
    return Check(r) && m_error.empty();
  }

  // Every byte of a chunk must have been read.
  bool Finish(ByteReader& r, uint32_t code) {
    if (!Check(r)) return false;
    if (r.Remaining() > 0)
      return Fail(std::to_string(r.Remaining()) + " unread bytes at the end of chunk '" + CodeText(code) + "'");
    return true;
  }

  // The HEAD chunk that opens every node: type, name, bits, layer, container. Returns
  // the type; the node is filled by Fill once it exists.
  struct Head {
    LONG type = 0;
    std::string name;
    LONG bits = 0;
    LONG layer = -1;
    BaseContainer data;
  };
  bool ReadHead(ByteReader& r, Head* head) {
    uint32_t code = 0;
    ByteReader body(nullptr, 0);
    if (!Next(r, &code, &body)) return false;
    if (code != kHead) return Fail("node starts with chunk '" + CodeText(code) + "' instead of its head");
    body.I32(&head->type);
    body.Text(&head->name);
    body.I32(&head->bits);
    body.I32(&head->layer);
    body.Container(&head->data);
    return Finish(body, kHead);
  }
  void Fill(BaseList2D* node, Head& head) {
    node->SetName(String(std::move(head.name)));
    node->DelBit(node->GetAllBits());
    node->SetBit(head.bits);
    *node->GetDataInstance() = std::move(head.data);
    NodeAccess::SetLayerSerial(node, Pending(head.layer));
  }
  // A reference read from the file, kept as a negative node number until ResolveLinks.
  static LLONG Pending(LONG reference) { return reference >= 0 ? -(static_cast<LLONG>(reference) + 1) : 0; }
  void Numbered(BaseList2D* node) { m_nodes.push_back(node); }

  void Document(ByteReader& r) {
    m_path.push_back("document");
    Head head;
    if (!ReadHead(r, &head)) return;
    if (head.type != Tbasedocument) {
      Fail("head of type " + std::to_string(head.type) + " instead of a document");
      return;
    }
    BaseDocument* doc = m_doc = NodeAccess::MakeDocument();
    if (!doc) {
      OutOfMemory("the document");
      return;
    }
    Fill(doc, head);
    Children(r, [&](uint32_t code, ByteReader& body) {
      if (code == kLayr)
        Tree(body, NodeAccess::LayerHead(doc), kLayr, 1);
      else if (code == kMatl)
        MaterialChunk(body, doc);
      else if (code == kObje)
        ObjectChunk(body, NodeAccess::ObjectHead(doc), 1);
      else
        return false;
      return true;
    });
    m_path.pop_back();
  }

  // A layer or shader and those under it, appended under parent.
  void Tree(ByteReader& r, GeListNode* parent, uint32_t code, int depth) {
    const bool layer = code == kLayr;
    if (depth > kMaxNesting) {
      Fail(std::string(layer ? "layers" : "shaders") + " nested deeper than " + std::to_string(kMaxNesting));
      return;
    }
    Head head;
    if (!ReadHead(r, &head)) return;
    m_path.push_back((layer ? "layer '" : "shader '") + head.name + "'");
    BaseList2D* node = layer ? static_cast<BaseList2D*>(NodeAccess::MakeLayer())
                             : static_cast<BaseList2D*>(NodeAccess::MakeShader(head.type));
    if (!node) {
      NotMade(layer ? "a layer" : "a shader", layer ? 1 : head.type);
      return;
    }
    node->InsertUnderLast(parent);
    Numbered(node);
    Fill(node, head);
    Children(r, [&](uint32_t childCode, ByteReader& body) {
      if (childCode != code) return false;
      Tree(body, node, code, depth + 1);
      return true;
    });
    m_path.pop_back();
  }

  void MaterialChunk(ByteReader& r, BaseDocument* doc) {
    Head head;
    if (!ReadHead(r, &head)) return;
    m_path.push_back("material '" + head.name + "'");
    BaseMaterial* mat = NodeAccess::MakeMaterial(head.type);
    if (!mat) {
      NotMade("a material", head.type);
      return;
    }
    NodeAccess::MaterialHead(doc)->InsertLast(mat);
    Numbered(mat);
    Fill(mat, head);
    Children(r, [&](uint32_t code, ByteReader& body) {
      if (code == kChan)
        ChannelChunk(body, mat);
      else if (code == kTrak && m_version >= 2)
        TrackChunk(body, mat);
      else if (code == kShdr)
        Tree(body, NodeAccess::ShaderHead(mat), kShdr, 1);
      else
        return false;
      return true;
    });
    m_path.pop_back();
  }

  void ChannelChunk(ByteReader& r, BaseMaterial* mat) {
    LONG id = -1, shader = -1;
    uint8_t enabled = 0;
    BaseContainer data;
    r.I32(&id);
    r.U8(&enabled);
    r.I32(&shader);
    r.Container(&data);
    if (!Finish(r, kChan)) return;
    if (mat->GetType() != Mmaterial) {
      Fail("channel in a material of type " + std::to_string(mat->GetType()));
      return;
    }
    if (id < 0 || id >= CHANNEL_COUNT || enabled > 1) {
      Fail("channel " + std::to_string(id) + " switched " + std::to_string(enabled));
      return;
    }
    BaseChannel& channel = NodeAccess::Channel(static_cast<Material*>(mat), id);
    NodeAccess::SetChannelData(channel, data);
    NodeAccess::SetChannelShaderSerial(channel, Pending(shader));
    static_cast<Material*>(mat)->SetChannelState(id, enabled != 0);
  }

  void ObjectChunk(ByteReader& r, GeListNode* parent, int depth) {
    if (depth > kMaxNesting) {
      Fail("objects nested deeper than " + std::to_string(kMaxNesting));
      return;
    }
    Head head;
    if (!ReadHead(r, &head)) return;
    m_path.push_back("object '" + head.name + "'");
    BaseObject* op = NodeAccess::MakeObject(head.type, true);
    if (!op) {
      NotMade("an object", head.type);
      return;
    }
    op->InsertUnderLast(parent);
    Numbered(op);
    // The file lists every tag, the point and polygon tags included.
    NodeAccess::TagHead(op)->FlushAll();
    Fill(op, head);
    bool placed = false;
    const bool read = Children(r, [&](uint32_t code, ByteReader& body) {
      if (code == kObjd)
        placed = ObjectData(body, op);
      else if (code == kTrak && m_version >= 2)
        TrackChunk(body, op);
      else if (code == kTag)
        TagChunk(body, op);
      else if (code == kNgon && op->GetType() == Opolygon)
        NgonChunk(body, static_cast<PolygonObject*>(op));
      else if (code == kObje)
        ObjectChunk(body, op, depth + 1);
      else
        return false;
      return true;
    });
    if (read && !placed) Fail("no placement chunk");
    if (read && m_error.empty()) {
      const std::string why = ObjectDataProblem(op);
      if (!why.empty()) Fail(why);
    }
    m_path.pop_back();
  }

  bool ObjectData(ByteReader& r, BaseObject* op) {
    Matrix m;
    LONG editor = 0, render = 0, deform = 1;
    r.VectorValue(&m.off);
    r.VectorValue(&m.v1);
    r.VectorValue(&m.v2);
    r.VectorValue(&m.v3);
    r.I32(&editor);
    r.I32(&render);
    if (m_version >= 2) r.I32(&deform);
    if (!Finish(r, kObjd)) return false;
    if (editor < MODE_ON || editor > MODE_UNDEF || render < MODE_ON || render > MODE_UNDEF)
      return Fail("visibility " + std::to_string(editor) + "/" + std::to_string(render));
    if (deform < 0 || deform > 1) return Fail("deform mode " + std::to_string(deform));
    op->SetMl(m);
    op->SetEditorMode(editor);
    op->SetRenderMode(render);
    op->SetDeformMode(deform != 0);
    return true;
  }

  void TrackChunk(ByteReader& r, BaseList2D* node) {
    LONG type = 0;
    uint32_t depth = 0;
    r.I32(&type);
    r.U32(&depth);
    if (!Check(r)) return;
    if (depth < 1 || depth > static_cast<uint32_t>(DescID::kMaxDepth)) {
      Fail("track of " + std::to_string(depth) + " description levels");
      return;
    }
    DescID id;
    for (uint32_t i = 0; i < depth; ++i) {
      LONG level = 0, dtype = 0, creator = 0;
      r.I32(&level);
      r.I32(&dtype);
      r.I32(&creator);
      id.PushId(DescLevel(level, dtype, creator));
    }
    uint32_t keys = 0;
    r.U32(&keys);
    if (!Check(r)) return;
    const bool pla = id.GetDepth() == 1 && id[0].id == CTpla;
    if ((type != CTpla && type != CTbase) || pla != (type == CTpla)) {
      Fail("track of type " + std::to_string(type) + " for parameter " + std::to_string(id[0].id));
      return;
    }
    if (pla && !node->IsInstanceOf(Opoint)) {
      Fail("point-level track on a node without points");
      return;
    }
    m_path.push_back("track " + std::to_string(id[0].id));
    if (static_cast<uint64_t>(keys) * kKeyFixedBytes > r.Remaining()) {
      Fail(std::to_string(keys) + " keys in " + std::to_string(r.Remaining()) + " bytes");
      m_path.pop_back();
      return;
    }
    CTrack* track = NodeAccess::MakeTrack(type, id);
    GeListHead* head = track ? NodeAccess::TrackHead(node) : nullptr;
    if (!head) {
      NodeAccess::Destroy(track);
      OutOfMemory("a track");
      m_path.pop_back();
      return;
    }
    head->InsertLast(track);
    CCurve* curve = keys > 0 ? track->GetCurve(CCURVE_CURVE, TRUE) : nullptr;
    if (keys > 0 && !curve) OutOfMemory("a curve");
    Real previous = 0.0;
    for (uint32_t k = 0; k < keys && m_error.empty(); ++k) {
      Real numerator = 0.0, denominator = 0.0, value = 0.0;
      LONG interpolation = 0;
      uint32_t points = 0;
      r.RealValue(&numerator);
      r.RealValue(&denominator);
      r.RealValue(&value);
      r.I32(&interpolation);
      r.U32(&points);
      if (!Check(r)) break;
      const Real seconds = numerator / denominator;
      if (denominator == 0.0 || !std::isfinite(seconds) || (k > 0 && !(seconds > previous))) {
        Fail("key " + std::to_string(k) + " at " + std::to_string(numerator) + "/" + std::to_string(denominator) +
             " s, not after the key before it");
        break;
      }
      previous = seconds;
      if (interpolation != CINTERPOLATION_LINEAR && interpolation != CINTERPOLATION_STEP) {
        Fail("key " + std::to_string(k) + " with interpolation " + std::to_string(interpolation));
        break;
      }
      const uint64_t bytes = static_cast<uint64_t>(points) * 24;
      if ((points > 0 && !pla) || points > 0x7FFFFFFFu || bytes > r.Remaining()) {
        Fail("key " + std::to_string(k) + " of " + std::to_string(points) + " points in " +
             std::to_string(r.Remaining()) + " bytes");
        break;
      }
      CKey* key = curve->AddKey(BaseTime(numerator, denominator));
      if (!key) {
        OutOfMemory("a key");
        break;
      }
      key->SetValue(curve, value);
      key->SetInterpolation(curve, interpolation);
      const unsigned char* data = nullptr;
      r.Bytes(static_cast<size_t>(bytes), &data);
      if (points > 0 && !ReadPoints(key, data, points)) OutOfMemory(std::to_string(points) + " key points");
    }
    if (m_error.empty()) Finish(r, kTrak);
    m_path.pop_back();
  }

  // Key points from the file's little-endian doubles.
  static bool ReadPoints(CKey* key, const unsigned char* data, uint32_t count) {
    if (!NodeAccess::SetKeyPoints(key, nullptr, static_cast<LONG>(count), false)) return false;
    CopyLittleEndian(NodeAccess::KeyPointsW(key), data, static_cast<size_t>(count) * sizeof(Vector), 8);
    return true;
  }

  void TagChunk(ByteReader& r, BaseObject* op) {
    Head head;
    if (!ReadHead(r, &head)) return;
    m_path.push_back("tag " + std::to_string(head.type) + " '" + head.name + "'");
    BaseTag* tag = NodeAccess::MakeTag(head.type, true);
    if (!tag) {
      NotMade("a tag", head.type);
      return;
    }
    NodeAccess::TagHead(op)->InsertLast(tag);
    Numbered(tag);
    Fill(tag, head);
    Children(r, [&](uint32_t code, ByteReader& body) {
      if (code == kVdat && VariableTag::EntrySize(head.type) > 0)
        VariableData(body, static_cast<VariableTag*>(tag));
      else if (code == kTrak && m_version >= 2)
        TrackChunk(body, tag);
      else if (code == kSele && IsSelectionType(head.type))
        Selection(body, static_cast<SelectionTag*>(tag)->GetBaseSelect());
      else
        return false;
      return true;
    });
    m_path.pop_back();
  }

  void VariableData(ByteReader& r, VariableTag* tag) {
    uint32_t count = 0;
    if (!r.U32(&count)) {
      Check(r);
      return;
    }
    const LONG type = tag->GetType();
    const uint64_t bytes = static_cast<uint64_t>(count) * static_cast<uint64_t>(FileEntrySize(type));
    if (count > 0x7FFFFFFFu || bytes != r.Remaining()) {
      Fail(std::to_string(count) + " entries in " + std::to_string(r.Remaining()) + " bytes");
      return;
    }
    if (!tag->Resize(static_cast<LONG>(count))) {
      OutOfMemory(std::to_string(count) + " entries");
      return;
    }
    const unsigned char* data = nullptr;
    r.Bytes(static_cast<size_t>(bytes), &data);
    if (type == Tsegment) {
      auto* segments = static_cast<Segment*>(tag->GetDataAddressW());
      ByteReader values(data, static_cast<size_t>(bytes));
      for (uint32_t i = 0; i < count; ++i) {
        LONG cnt = 0, closed = 0;
        values.I32(&cnt);
        values.I32(&closed);
        if (cnt < 0 || closed < 0 || closed > 1) {
          Fail("segment " + std::to_string(i) + " of " + std::to_string(cnt) + " points, closed " + std::to_string(closed));
          return;
        }
        segments[i].cnt = cnt;
        segments[i].closed = closed != 0;
      }
    } else {
      CopyLittleEndian(tag->GetDataAddressW(), data, static_cast<size_t>(bytes), ScalarWidth(type));
    }
  }

  void Selection(ByteReader& r, BaseSelect* bs) {
    uint32_t count = 0;
    if (!r.U32(&count)) {
      Check(r);
      return;
    }
    if (static_cast<uint64_t>(count) * 8 != r.Remaining()) {
      Fail(std::to_string(count) + " selection ranges in " + std::to_string(r.Remaining()) + " bytes");
      return;
    }
    LLONG previous = -2;
    for (uint32_t i = 0; i < count; ++i) {
      LONG a = 0, b = 0;
      r.I32(&a);
      r.I32(&b);
      // Ranges are ascending, apart and never adjacent, as a selection keeps them.
      if (a < 0 || b < a || static_cast<LLONG>(a) <= previous + 1) {
        Fail("selection range " + std::to_string(i) + " (" + std::to_string(a) + " to " + std::to_string(b) +
             ") out of order");
        return;
      }
      if (!bs->SelectAll(a, b)) {
        OutOfMemory("the selection");
        return;
      }
      previous = b;
    }
  }

  void NgonChunk(ByteReader& r, PolygonObject* op) {
    uint32_t count = 0;
    if (!r.U32(&count)) {
      Check(r);
      return;
    }
    if (count == 0 || static_cast<uint64_t>(count) * 4 > r.Remaining()) {
      Fail(std::to_string(count) + " n-gons in " + std::to_string(r.Remaining()) + " bytes");
      return;
    }
    std::vector<LONG> counts(count);
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
      r.I32(&counts[i]);
      if (counts[i] < 1) {
        Fail("n-gon " + std::to_string(i) + " of " + std::to_string(counts[i]) + " edges");
        return;
      }
      total += static_cast<uint64_t>(counts[i]);
    }
    if (total * 4 != r.Remaining()) {
      Fail(std::to_string(total) + " n-gon edges in " + std::to_string(r.Remaining()) + " bytes");
      return;
    }
    std::vector<LONG> edges(static_cast<size_t>(total));
    const LONG polygons = op->GetPolygonCount();
    for (uint64_t i = 0; i < total; ++i) {
      r.I32(&edges[static_cast<size_t>(i)]);
      const LONG edge = edges[static_cast<size_t>(i)];
      if (edge < 0 || ((edge & ~kNgonMarks) >> 2) >= polygons) {
        Fail("n-gon edge " + std::to_string(edge) + " names a polygon the object does not have");
        return;
      }
    }
    if (!NodeAccess::SetNgons(op, static_cast<LONG>(count), counts.data(), edges.data()))
      OutOfMemory("the n-gons");
  }

  // Points every reference read from the file at the node it numbers.
  void ResolveLinks(BaseDocument* doc) {
    auto resolve = [this](LLONG& link) {
      if (link >= 0) return;
      const LLONG reference = -link - 1;
      if (reference >= static_cast<LLONG>(m_nodes.size())) {
        Fail("a link names node " + std::to_string(reference) + ", the file has " + std::to_string(m_nodes.size()));
        link = 0;
        return;
      }
      link = NodeAccess::Serial(m_nodes[static_cast<size_t>(reference)]);
    };
    NodeAccess::ForEachLink(doc, resolve);
    for (BaseList2D* node : m_nodes) NodeAccess::ForEachLink(node, resolve);
  }

  uint32_t m_version;
  BaseDocument* m_doc = nullptr;
  std::string m_error;
  bool m_outOfMemory = false;
  std::vector<std::string> m_path;  // where the reader is, for messages
  std::vector<BaseList2D*> m_nodes;  // reference -> node
};

}  // namespace

namespace host::internal {

std::string EncodeScene(const BaseDocument* doc) {
  Writer writer;
  writer.Run(doc);
  return writer.Flat();
}

BaseDocument* DecodeScene(const std::string& payload, uint32_t version, std::string* error, bool* outOfMemory) {
  if (outOfMemory) *outOfMemory = false;
  if (version < kSceneFirstVersion || version > kSceneVersion) {
    if (error) *error = "unsupported version " + std::to_string(version);
    return nullptr;
  }
  try {
    return Reader(version).Run(payload, error, outOfMemory);
  } catch (const std::bad_alloc&) {
    if (error) *error = "not enough memory";
    if (outOfMemory) *outOfMemory = true;
    return nullptr;
  }
}

}  // namespace host::internal

namespace host {

bool SaveScene(const BaseDocument* doc, const std::string& path, std::string* error) {
  if (!doc) {
    if (error) *error = "no document";
    return false;
  }
  // The save never writes what the load would refuse.
  if (const std::string why = TreeDataProblem(doc->GetFirstObject()); !why.empty()) {
    if (error) *error = "the scene cannot be saved: " + why;
    return false;
  }
  // The large arrays go to the file from the document itself: no copy of the scene.
  Writer writer;
  std::vector<internal::PayloadPiece> payload;
  try {
    writer.Run(doc);
    payload = writer.Pieces();
  } catch (const std::bad_alloc&) {
    if (error) *error = "not enough memory to encode the scene";
    return false;
  }
  return internal::WriteFramedFile(path, internal::kSceneMagic, internal::kSceneVersion, payload, error);
}

BaseDocument* LoadScene(const std::string& path, std::string* error) {
  std::string payload, why;
  uint32_t version = 0;
  bool unreadable = false;
  if (!internal::ReadFramedFile(path, internal::kSceneMagic, internal::kSceneFirstVersion, internal::kSceneVersion, &payload,
                                &version, &why, &unreadable)) {
    if (error) *error = unreadable ? why : (why == "wrong file signature" ? "not a scene file" : "damaged scene file: " + why);
    return nullptr;
  }
  bool outOfMemory = false;
  BaseDocument* doc = internal::DecodeScene(payload, version, &why, &outOfMemory);
  if (!doc && error) *error = (outOfMemory ? "cannot load the scene: " : "damaged scene file: ") + why;
  return doc;
}

}  // namespace host

// kelvane scene show: a scene file as a readable tree — time, layers, materials with
// their channels, and objects with their data and tags. The text is stable from run to
// run (numbers with six significant digits), so it can be compared.
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "shell_commands.h"

namespace {

std::string Num(Real v) {
  if (v == 0.0) v = 0.0;  // no "-0"
  char text[32];
  std::snprintf(text, sizeof(text), "%.6g", v);
  return text;
}

std::string Vec(const Vector& v) { return "(" + Num(v.x) + ", " + Num(v.y) + ", " + Num(v.z) + ")"; }

std::string Quoted(const String& s) { return "\"" + s.Std() + "\""; }

std::string Plural(LLONG n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string OnOff(Bool on) { return on ? "on" : "off"; }

std::string VisibilityName(LONG mode) { return mode == MODE_ON ? "on" : (mode == MODE_OFF ? "off" : "inherit"); }

// The type's name, or its ID for a plug-in that is not loaded.
std::string TypeName(const BaseList2D* node, const char* kind) {
  const String name = node->GetTypeName();
  if (name.Content()) return name.Std();
  return std::string(kind) + " " + std::to_string(node->GetType()) + " (plug-in not loaded)";
}

std::string ProjectionName(LONG projection) {
  static const char* names[] = {"spherical", "cylindrical", "flat",   "cubic",  "frontal",
                                "spatial",   "UVW",         "shrink", "camera"};
  return (projection >= 0 && projection <= 8) ? names[projection] : "projection " + std::to_string(projection);
}

// Up to max ranges of a selection as "a-b, c, ...".
std::string Ranges(const BaseSelect* bs, LONG limit) {
  std::string text;
  LONG a = 0, b = 0, seg = 0;
  for (; bs->GetRange(seg, 0x7FFFFFFF, &a, &b) && seg < limit; ++seg) {
    if (seg) text += ", ";
    text += a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
  }
  if (seg < bs->GetSegments()) text += ", ...";
  return text;
}

// A container's entries as "id=value" (plug-in tags and objects).
std::string Entries(const BaseContainer& bc, const BaseDocument* doc) {
  std::string text;
  for (LONG i = 0; i < bc.GetEntryCount(); ++i) {
    const GeData& v = *bc.GetIndexData(i);
    std::string value;
    switch (v.GetType()) {
      case DA_LONG: value = std::to_string(v.GetLong()); break;
      case DA_LLONG: value = std::to_string(v.GetLLong()); break;
      case DA_REAL: value = Num(v.GetReal()); break;
      case DA_TIME: value = Num(v.GetTime().Get()) + " s"; break;
      case DA_VECTOR: value = Vec(v.GetVector()); break;
      case DA_STRING:
      case DA_FILENAME: value = Quoted(v.GetString()); break;
      case DA_CONTAINER: value = "{" + Entries(*v.GetContainer(), doc) + "}"; break;
      case DA_ALIASLINK: {
        const BaseList2D* target = v.GetLink(doc);
        value = target ? "-> " + Quoted(target->GetName()) : "-> none";
        break;
      }
      case DA_MATRIX: value = "matrix"; break;
      default: value = "nil"; break;
    }
    text += (i ? ", " : "") + std::to_string(bc.GetIndexId(i)) + "=" + value;
  }
  return text;
}

std::string ParameterValue(const BaseContainer& bc, const host::ParameterInfo& p) {
  const GeData* v = bc.GetDataPointer(p.id);
  if (!v) return "not set";
  switch (p.kind) {
    case host::ParameterKind::Bool: return OnOff(v->GetBool());
    case host::ParameterKind::Long: return std::to_string(v->GetLong());
    case host::ParameterKind::Real: return Num(v->GetReal());
    case host::ParameterKind::String: return Quoted(v->GetString());
    case host::ParameterKind::FileName: return Quoted(v->GetString());
    case host::ParameterKind::BitmapButton: return "button";
  }
  return "?";
}

}  // namespace

std::string PluginTagParameters(const BaseTag* tag, const BaseDocument* doc) {
  const BaseContainer& bc = *tag->GetDataInstance();
  if (tag->GetType() == kGroupTag || tag->GetType() == kRegionTag) {
    // The names the tag lists: their count, then the names.
    const LONG count = bc.GetLong(kTagNameCount);
    std::string names;
    BaseContainer rest = bc;
    rest.RemoveData(kTagNameCount);
    for (LONG i = 0; i < count && i < bc.GetEntryCount(); ++i) {
      names += (names.empty() ? "" : ", ") + Quoted(bc.GetString(kTagFirstName + i));
      rest.RemoveData(kTagFirstName + i);
    }
    std::string text = std::string(tag->GetType() == kGroupTag ? "groups: " : "regions: ") +
                       (names.empty() ? "none" : names);
    if (rest.GetEntryCount() > 0) text += "; {" + Entries(rest, doc) + "}";
    return text;
  }
  const BasePlugin* plugin = FindPlugin(tag->GetType(), PLUGINTYPE_TAG);
  if (!plugin || !plugin->GetDescription().Content()) return "{" + Entries(bc, doc) + "}";
  const std::string name = plugin->GetDescription().Std();
  std::vector<host::ParameterInfo> parameters;
  std::string error;
  if (!host::DescribeDescription(name, nullptr, &parameters, &error)) {
    static std::set<std::string> warned;  // once per description, not per tag
    if (warned.insert(name).second)
      std::fprintf(stderr, "kelvane: description %s is not used: %s\n", name.c_str(), error.c_str());
    return "{" + Entries(bc, doc) + "}";
  }
  std::string text;
  BaseContainer rest = bc;
  for (const auto& p : parameters) {
    text += (text.empty() ? "" : "; ") + p.label + ": " + ParameterValue(bc, p);
    rest.RemoveData(p.id);
  }
  if (rest.GetEntryCount() > 0) text += (text.empty() ? "{" : "; {") + Entries(rest, doc) + "}";
  return text;
}

namespace {

// The parameter a track animates, in words.
std::string TrackName(const CTrack* track) {
  const DescID& id = track->GetDescriptionID();
  if (track->GetType() == CTpla) return "point-level animation";
  std::string name;
  switch (id[0].id) {
    case ID_BASEOBJECT_REL_POSITION: name = "position"; break;
    case ID_BASEOBJECT_REL_ROTATION: name = "rotation"; break;
    case ID_BASEOBJECT_REL_SCALE: name = "scale"; break;
    default: name = "parameter " + std::to_string(id[0].id); break;
  }
  if (id.GetDepth() >= 2) {
    switch (id[1].id) {
      case VECTOR_X: name += ".x"; break;
      case VECTOR_Y: name += ".y"; break;
      case VECTOR_Z: name += ".z"; break;
      default: name += "." + std::to_string(id[1].id); break;
    }
  }
  return name;
}

// "N keys at t0, t1, ... s": the first few times and the last.
std::string KeyTimes(const CCurve* curve) {
  const LONG count = curve ? curve->GetKeyCount() : 0;
  std::string text = Plural(count, "key", "keys");
  if (count == 0) return text;
  constexpr LONG kShown = 6;
  text += " at ";
  for (LONG k = 0; k < count; ++k) {
    if (k == kShown && count > kShown + 1) {
      text += ", ...";
      k = count - 1;
    }
    text += (k ? ", " : "") + Num(curve->GetKey(k)->GetTime().Get());
  }
  return text + " s";
}

class Printer {
 public:
  Printer(const BaseDocument* doc, const std::string& file) : m_doc(doc), m_file(file) {}

  void Document() {
    std::printf("Scene %s: document %s (its file name %s)\n", m_file.c_str(), Quoted(m_doc->GetName()).c_str(),
                Quoted(m_doc->GetDocumentName().GetString()).c_str());
    const Real fps = m_doc->GetFps();
    std::printf("  time: frame %d at %d fps; range %d to %d; preview %d to %d\n", m_doc->GetTime().GetFrame(fps),
                m_doc->GetFps(), m_doc->GetMinTime().GetFrame(fps), m_doc->GetMaxTime().GetFrame(fps),
                m_doc->GetLoopMinTime().GetFrame(fps), m_doc->GetLoopMaxTime().GetFrame(fps));
    const BaseObject* active = m_doc->GetActiveObject();
    std::printf("  active object: %s\n", active ? Quoted(active->GetName()).c_str() : "none");

    std::printf("Layers: %s\n", Count(m_doc->GetLayerObjectRoot()->GetFirst()).c_str());
    for (const GeListNode* layer = m_doc->GetLayerObjectRoot()->GetFirst(); layer; layer = layer->GetNext())
      Layer(static_cast<const LayerObject*>(layer), 1);
    std::printf("Materials: %s\n", Count(m_doc->GetFirstMaterial()).c_str());
    for (const BaseMaterial* m = m_doc->GetFirstMaterial(); m; m = m->GetNext()) Material(m);
    std::printf("Objects: %s\n", Count(m_doc->GetFirstObject()).c_str());
    for (const BaseObject* op = m_doc->GetFirstObject(); op; op = op->GetNext()) Object(op, 1);
  }

 private:
  // "none", or the number of nodes at the top of a list and in all.
  static std::string Count(const GeListNode* first) {
    LONG top = 0, all = 0;
    for (const GeListNode* n = first; n; n = n->GetNext()) {
      ++top;
      all += 1 + Below(n);
    }
    if (top == 0) return "none";
    return all == top ? std::to_string(top) : std::to_string(top) + " at the top, " + std::to_string(all) + " in all";
  }
  static LONG Below(const GeListNode* node) {
    LONG n = 0;
    for (const GeListNode* c = node->GetDown(); c; c = c->GetNext()) n += 1 + Below(c);
    return n;
  }

  static std::string Indent(int depth) { return std::string(static_cast<size_t>(2 * depth), ' '); }

  void Layer(const LayerObject* layer, int depth) {
    const BaseContainer* bc = layer->GetDataInstance();
    std::printf("%s%s  view %s, render %s%s%s\n", Indent(depth).c_str(), Quoted(layer->GetName()).c_str(),
                OnOff(bc->GetBool(ID_LAYER_VIEW)).c_str(), OnOff(bc->GetBool(ID_LAYER_RENDER)).c_str(),
                bc->GetBool(ID_LAYER_SOLO) ? ", solo" : "", bc->GetBool(ID_LAYER_LOCKED) ? ", locked" : "");
    for (const GeListNode* c = layer->GetDown(); c; c = c->GetNext())
      Layer(static_cast<const LayerObject*>(c), depth + 1);
  }

  std::string LayerNote(const BaseList2D* node) const {
    const LayerObject* layer = node->GetLayerObject(m_doc);
    return layer ? "  [layer " + Quoted(layer->GetName()) + "]" : "";
  }

  void Material(const BaseMaterial* mat) {
    std::printf("  %s  %s%s\n", Quoted(mat->GetName()).c_str(),
                mat->GetType() == Mmaterial ? "standard material"
                                            : (mat->GetType() == Mfog ? "fog material"
                                                                      : ("material " + std::to_string(mat->GetType())).c_str()),
                LayerNote(mat).c_str());
    Tracks(mat, 2);
    if (mat->GetType() != Mmaterial) return;
    static const char* channelNames[CHANNEL_COUNT] = {
        "colour",   "luminance", "transparency", "reflection",     "environment", "fog",       "bump",
        "alpha",    "specular",  "specular colour", "glow",        "displacement", "diffusion"};
    auto* standard = const_cast<::Material*>(static_cast<const ::Material*>(mat));
    std::string off;
    for (LONG id = 0; id < CHANNEL_COUNT; ++id) {
      if (!standard->GetChannelState(id)) {
        off += std::string(off.empty() ? "" : ", ") + channelNames[id];
        continue;
      }
      BaseChannel* channel = standard->GetChannel(id);
      const BaseContainer data = channel->GetData();
      std::string line = "    " + std::string(channelNames[id]) + ": colour " + Vec(data.GetVector(BASECHANNEL_COLOR_EX)) +
                         ", brightness " + Num(data.GetReal(BASECHANNEL_BRIGHTNESS_EX));
      const BaseShader* shader = channel->GetShader();
      if (shader && shader->GetType() == Xbitmap)
        line += ", texture " + Quoted(shader->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString());
      else if (shader)
        line += ", shader " + Quoted(shader->GetName());
      const Filename folder = data.GetFilename(BASECHANNEL_SUGGESTEDFOLDER);
      if (folder.Content()) line += ", folder " + Quoted(folder.GetString());
      if (data.GetLong(BASECHANNEL_MIXMODE_EX) || data.GetLong(BASECHANNEL_MIXSTRENGTH_EX))
        line += ", mix " + std::to_string(data.GetLong(BASECHANNEL_MIXMODE_EX)) + "/" +
                std::to_string(data.GetLong(BASECHANNEL_MIXSTRENGTH_EX));
      std::printf("%s\n", line.c_str());
    }
    if (!off.empty()) std::printf("    off: %s\n", off.c_str());
    if (standard->GetChannelState(CHANNEL_TRANSPARENCY))
      std::printf("    refraction %s\n", Num(mat->GetDataInstance()->GetReal(MATERIAL_TRANSPARENCY_REFRACTION)).c_str());
    for (const BaseShader* s = mat->GetFirstShader(); s; s = s->GetNext()) Shader(s, 2);
  }

  void Shader(const BaseShader* shader, int depth) {
    std::string what = shader->GetType() == Xbitmap ? "bitmap shader" : (shader->GetType() == Xlayer ? "layer shader" : "shader " + std::to_string(shader->GetType()));
    if (shader->GetType() == Xbitmap)
      what += " " + Quoted(shader->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString());
    std::printf("%sshader %s: %s\n", Indent(depth).c_str(), Quoted(shader->GetName()).c_str(), what.c_str());
    for (const BaseShader* c = shader->GetDown(); c; c = c->GetNext()) Shader(c, depth + 1);
  }

  void Object(const BaseObject* op, int depth) {
    std::string line = Indent(depth) + TypeName(op, "Object") + " " + Quoted(op->GetName());
    if (op->GetType() == Opolygon) {
      const auto* poly = static_cast<const PolygonObject*>(op);
      line += "  " + Plural(poly->GetPointCount(), "point", "points") + ", " +
              Plural(poly->GetPolygonCount(), "polygon", "polygons") + ", " +
              Plural(poly->GetNgonCount(), "n-gon", "n-gons");
    } else if (op->GetType() == Ospline) {
      const auto* spline = static_cast<const SplineObject*>(op);
      const LONG segments = spline->GetSegmentCount();
      line += "  " + Plural(spline->GetPointCount(), "point", "points") + ", " +
              Plural(segments ? segments : 1, "segment", "segments") + ", " + (spline->IsClosed() ? "closed" : "open") +
              ", " + (spline->GetInterpolationType() == SPLINETYPE_LINEAR ? "linear" : "curved");
    } else if (op->GetType() == Ocube) {
      const BaseContainer* bc = op->GetDataInstance();
      line += "  size " + Vec(bc->GetVector(PRIM_CUBE_LEN)) + ", segments " + std::to_string(bc->GetLong(PRIM_CUBE_SUBX)) +
              " x " + std::to_string(bc->GetLong(PRIM_CUBE_SUBY)) + " x " + std::to_string(bc->GetLong(PRIM_CUBE_SUBZ));
    } else if (op->GetType() == Oplane) {
      const BaseContainer* bc = op->GetDataInstance();
      line += "  " + Num(bc->GetReal(PRIM_PLANE_WIDTH)) + " x " + Num(bc->GetReal(PRIM_PLANE_HEIGHT)) + ", segments " +
              std::to_string(bc->GetLong(PRIM_PLANE_SUBW)) + " x " + std::to_string(bc->GetLong(PRIM_PLANE_SUBH));
    } else if (op->GetType() == Oarray) {
      const BaseContainer* bc = op->GetDataInstance();
      line += "  " + Plural(bc->GetLong(ARRAYOBJECT_COPIES), "copy", "copies") + " of its first child, radius " +
              Num(bc->GetReal(ARRAYOBJECT_RADIUS));
    } else if (op->GetType() != Onull && op->GetDataInstance()->GetEntryCount() > 0) {
      line += "  {" + Entries(*op->GetDataInstance(), m_doc) + "}";
    }
    line += LayerNote(op);
    if (op->GetEditorMode() != MODE_UNDEF) line += "  [editor " + VisibilityName(op->GetEditorMode()) + "]";
    if (op->GetRenderMode() != MODE_UNDEF) line += "  [render " + VisibilityName(op->GetRenderMode()) + "]";
    if (!op->GetDeformMode()) line += "  [switched off]";
    std::printf("%s\n", line.c_str());

    const Matrix ml = op->GetMl();
    if (ml != Matrix()) {
      const Vector rot = op->GetRelRot();
      std::printf("%s  position %s, rotation %s degrees, scale %s\n", Indent(depth).c_str(), Vec(ml.off).c_str(),
                  Vec(Vector(Deg(rot.x), Deg(rot.y), Deg(rot.z))).c_str(), Vec(op->GetRelScale()).c_str());
    }
    Tracks(op, depth + 1);
    for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) Tag(tag, op, depth + 1);
    for (const BaseObject* c = op->GetDown(); c; c = c->GetNext()) Object(c, depth + 1);
  }

  static void Tracks(const BaseList2D* node, int depth) {
    for (const CTrack* track = node->GetFirstCTrack(); track; track = track->GetNext()) {
      const CCurve* curve = const_cast<CTrack*>(track)->GetCurve(CCURVE_CURVE, FALSE);
      std::string line = Indent(depth) + "track " + TrackName(track) + ": " + KeyTimes(curve);
      if (track->GetType() == CTpla && curve && curve->GetKeyCount() > 0) {
        LONG lo = 0x7FFFFFFF, hi = 0;
        for (LONG k = 0; k < curve->GetKeyCount(); ++k) {
          const LONG points = host::KeyPointCount(curve->GetKey(k));
          lo = points < lo ? points : lo;
          hi = points > hi ? points : hi;
        }
        line += ", " + (lo == hi ? Plural(hi, "point", "points") : std::to_string(lo) + " to " + std::to_string(hi) + " points") +
                " a key";
      }
      std::printf("%s\n", line.c_str());
    }
  }

  void Tag(const BaseTag* tag, const BaseObject* op, int depth) {
    const LONG type = tag->GetType();
    // The object line already counts its points and polygons.
    if ((type == Tpoint || type == Tpolygon) && (op->GetType() == Opolygon || op->GetType() == Ospline)) return;
    std::string line = Indent(depth) + TypeName(tag, "Tag") + " tag";
    if (tag->GetName().Content()) line += " " + Quoted(tag->GetName());
    line += ":";
    const BaseContainer* bc = tag->GetDataInstance();
    switch (type) {
      case Tphong:
        line += " angle limit " + OnOff(bc->GetBool(PHONGTAG_PHONG_ANGLELIMIT)) + ", " +
                Num(Deg(bc->GetReal(PHONGTAG_PHONG_ANGLE))) + " degrees";
        break;
      case Ttexture: {
        const BaseMaterial* mat = static_cast<const TextureTag*>(tag)->GetMaterial();
        line += " material " + (mat ? Quoted(mat->GetName()) : std::string("none")) + ", projection " +
                ProjectionName(bc->GetLong(TEXTURETAG_PROJECTION));
        const String restriction = bc->GetString(TEXTURETAG_RESTRICTION);
        if (restriction.Content()) line += ", selection " + Quoted(restriction);
        line += ", offset (" + Num(bc->GetReal(TEXTURETAG_OFFSETX)) + ", " + Num(bc->GetReal(TEXTURETAG_OFFSETY)) +
                "), length (" + Num(bc->GetReal(TEXTURETAG_LENGTHX)) + ", " + Num(bc->GetReal(TEXTURETAG_LENGTHY)) + ")";
        break;
      }
      case Tuvw:
      case Tnormal:
      case Tpoint:
      case Tpolygon:
        line += " " + Plural(static_cast<const VariableTag*>(tag)->GetDataCount(), "entry", "entries");
        break;
      case Tsegment: {
        const auto* vt = static_cast<const VariableTag*>(tag);
        const auto* segments = static_cast<const Segment*>(vt->GetDataAddressR());
        line += " " + Plural(vt->GetDataCount(), "segment", "segments");
        if (vt->GetDataCount() > 0) {
          line += " of";
          const LONG shown = vt->GetDataCount() < 8 ? vt->GetDataCount() : 8;
          for (LONG i = 0; i < shown; ++i)
            line += std::string(i ? "," : "") + " " + std::to_string(segments[i].cnt) + (segments[i].closed ? " closed" : "");
          if (shown < vt->GetDataCount()) line += ", ...";
        }
        break;
      }
      case Tpolygonselection:
      case Tpointselection: {
        const BaseSelect* bs = static_cast<const SelectionTag*>(tag)->GetBaseSelect();
        line += " " + std::to_string(bs->GetCount()) + " selected";
        if (bs->GetCount() > 0) line += " (" + Ranges(bs, 6) + ")";
        break;
      }
      default:
        line += " " + PluginTagParameters(tag, m_doc);
        break;
    }
    line += LayerNote(tag);
    std::printf("%s\n", line.c_str());
    Tracks(tag, depth + 1);
  }

  const BaseDocument* m_doc;
  std::string m_file;  // the scene file it was loaded from
};

}  // namespace

int RunSceneShow(const ShellOptions&, const std::string& file) {
  std::string error;
  BaseDocument* doc = host::LoadScene(file, &error);
  if (!doc) {
    std::fprintf(stderr, "kelvane: cannot load scene '%s': %s\n", file.c_str(), error.c_str());
    return 1;
  }
  Printer(doc, file).Document();
  BaseDocument::Free(doc);
  return 0;
}

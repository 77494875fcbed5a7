#include "objwrite.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "fileio.h"
#include "iomesh.h"
#include "mtl.h"
#include "namehash.h"
#include "numtext.h"
#include "progress.h"

#ifndef KELVANE_PLUGIN_VERSION
#define KELVANE_PLUGIN_VERSION "0"
#endif

namespace {

const CHAR* const kRule = "#  ==========================================================================\n";

Bool Exact(const ObjExportContext* ctx) { return (ctx->LayoutFlags() & XP_EXACT_NUMBERS) != 0; }

CHAR* AppendName(CHAR* p, const String& name) {
  CHAR buffer[256];
  ExportName(name).GetCString(buffer, sizeof(buffer));
  return AppendText(p, buffer);
}

void WriteLine(ObjExportContext* ctx, BufferedOutput* out, const CHAR* end) {
  out->Write(ctx->line, end - ctx->line);
}

// One more item written; the status bar follows every 64 items, and so does the look
// at the keyboard when the run watches for Escape. False once the run is cancelled.
Bool Advance(ObjExportContext* ctx) {
  if (++ctx->progressCount % 64 != 0) return TRUE;
  if ((ctx->progressShown & PROGRESS_STATUS_BAR) && ctx->progressTotal)
    StatusSetBar(LONG(LLONG(ctx->progressCount) * 100 / LLONG(ctx->progressTotal)));
  if (ctx->watchEscape && !ctx->cancelled) {
    BaseContainer input;
    if (GetInputState(BFM_INPUT_KEYBOARD, KEY_ESC, input) && input.GetLong(BFM_INPUT_CHANNEL) == KEY_ESC)
      ctx->cancelled = TRUE;
  }
  return !ctx->cancelled;
}

// "<count> <what>" closing a section, an empty line after it.
void WriteCount(ObjExportContext* ctx, ULONG count, const CHAR* what) {
  CHAR* p = AppendText(ctx->line, "# ");
  p = AppendUnsigned(p, count);
  *p++ = ' ';
  p = AppendText(p, what);
  p = AppendText(p, "\n\n");
  WriteLine(ctx, ctx->objOut, p);
  ctx->objOut->Flush();
}

// Three coordinates after a keyword: six significant digits, or the exact value.
CHAR* AppendTriple(CHAR* p, const Vector& v, Bool exact) {
  for (const Real c : {v.x, v.y, v.z}) {
    *p++ = ' ';
    p = exact ? AppendShortest(p, c) : AppendGeneral(p, c);
  }
  *p++ = '\n';
  return p;
}

// The axis options of a vertex or a normal, in their order: negations, then the swap.
Vector Mirrored(Vector v, ULONG geom) {
  if (geom & GEOM_NEGATE_X) v.x = -v.x;
  if (geom & GEOM_NEGATE_Z) v.z = -v.z;
  if (geom & GEOM_SWAP_YZ) {
    const Real y = v.y;
    v.y = v.z;
    v.z = y;
  }
  return v;
}

// The face forms: which indices a corner token carries.
struct FaceForm {
  Bool uv, normal, reversed;
};

CHAR* AppendToken(CHAR* p, const FaceForm& form, ULONG vertex, ULONG uv, ULONG normal) {
  *p++ = ' ';
  p = AppendUnsigned(p, vertex);
  if (form.uv || form.normal) *p++ = '/';
  if (form.uv) p = AppendUnsigned(p, uv);
  if (form.normal) {
    *p++ = '/';
    p = AppendUnsigned(p, normal);
  }
  return p;
}

}  // namespace

void WriteFileHeader(BufferedOutput* out, const CHAR* kind) {
  out->Write(kRule);
  out->Write(kind);
  out->Write("#  Kelvane " KELVANE_PLUGIN_VERSION "\n");
  out->Write("#     (a commercial plugin for Cinema 4D PC & Mac, R9.6 or later)\n");
  out->Write("#  \n");
  out->Write("#  Written by the Kelvane exporter\n");
  CHAR address[512];
  GeLoadString(IDS_HOME_ADDRESS).GetCString(address, sizeof(address));
  out->Write("#  ");
  out->Write(address);
  out->Write("\n#  \n");
  out->Write(kRule);
}

Bool OpenFileSet(ObjExportContext* ctx) {
  CloseFileSet(ctx);
  ctx->progressCount = 0;
  ctx->vertexBase = ctx->uvBase = ctx->normalBase = 0;
  if (!ctx->objOut && !(ctx->objOut = gNew BufferedOutput)) {
    ReportMemoryError("BufferedOutput objOut");
    return FALSE;
  }
  if (ctx->objOut->Open(ctx->objFileName) != FILEERROR_NONE) {
    ReportFileError(String("Open Failed: ") + ctx->objFileName.GetString());
    ctx->objOut->Discard();
    return FALSE;
  }
  WriteFileHeader(ctx->objOut, "#  \n");
  ctx->fileOpen = TRUE;
  if (ctx->GeomFlags() & GEOM_MATERIALS) StartMaterialLibrary(ctx);
  return TRUE;
}

Bool CloseFileSet(ObjExportContext* ctx, Bool keep) {
  if (!ctx->fileOpen) return TRUE;
  ctx->fileOpen = FALSE;
  BufferedOutput* const outs[2] = {ctx->mtlOut, ctx->objOut};
  const Filename* const names[2] = {&ctx->mtlFileName, &ctx->objFileName};
  // Both files take their places or neither does: every byte must have reached the disk
  // before the first is renamed; the library goes first, so that an OBJ file is never
  // left naming a library that failed.
  LONG failed = -1;
  for (LONG i = 0; i < 2; ++i) {
    if (!outs[i] || !outs[i]->IsOpen()) continue;
    outs[i]->Flush();
    if (outs[i]->GetError() != FILEERROR_NONE && failed < 0) failed = i;
  }
  for (LONG i = 0; i < 2; ++i) {
    if (!outs[i] || !outs[i]->IsOpen()) continue;
    if (keep && failed < 0) {
      if (outs[i]->Close() != FILEERROR_NONE) failed = i;
    } else {
      outs[i]->Discard();
    }
  }
  if (failed >= 0) ReportFileError(String("Write Failed: ") + names[failed]->GetString());
  if (ctx->writtenMaterials) ctx->writtenMaterials->Clear();
  if (ctx->exportMode >= 1 && ctx->exportMode <= 3 && ctx->progressDialog)
    ctx->progressDialog->SetCurrent(++ctx->filesClosed);
  return keep && failed < 0;
}

Bool WriteObject(ObjExportContext* ctx, BaseObject* op, const Matrix& mg) {
  if (!op || op->GetType() != Opolygon) return TRUE;
  PolygonObject* poly = ToPoly(op);
  const String name = ExportName(op->GetName());
  StatusSetText(GeLoadString(IDS_STATUS_EXPORTING_OBJECT) + name);
  const Bool ownSet = ctx->exportMode == 2;
  if (ownSet) {
    if (ctx->nameObjectFiles && !ctx->nameObjectFiles(ctx, op)) return FALSE;
    if (ctx->progressTotal == 0) return TRUE;
    if (!OpenFileSet(ctx)) return FALSE;
  }
  if (!ctx->fileOpen) return FALSE;
  const ULONG geom = ctx->GeomFlags();
  const Bool exact = Exact(ctx);
  BufferedOutput* out = ctx->objOut;

  ctx->vertexCount = ULONG(poly->GetPointCount());
  ctx->polygonCount = ULONG(poly->GetPolygonCount());
  const Vector* points = poly->GetPointR();
  if (ctx->LayoutFlags() & XP_OBJECT_LINES) {
    CHAR text[256];
    name.GetCString(text, sizeof(text));
    CHAR* p = AppendText(AppendText(ctx->line, "o "), text);
    *p++ = '\n';
    WriteLine(ctx, out, p);
  }
  for (ULONG i = 0; i < ctx->vertexCount; ++i) {
    const Vector g = Mirrored(mg * points[i], geom) * ctx->scaleFactor;
    WriteLine(ctx, out, AppendTriple(AppendText(ctx->line, "v"), g, exact));
    if (!Advance(ctx)) {
      if (ownSet) CloseFileSet(ctx, FALSE);
      return FALSE;
    }
  }
  WriteCount(ctx, ctx->vertexCount, "vertices");
  ctx->uvCount = ctx->normalCount = 0;

  Bool result = TRUE;
  if (ctx->polygonCount == 0) {
    if (ctx->vertexCount && (geom & GEOM_FACES)) {
      CHAR text[256];
      name.GetCString(text, sizeof(text));
      ConsolePrintf("Object named: %s has %lu vertices, but zero faces - No faces will be written.", text,
                    static_cast<unsigned long>(ctx->vertexCount));
    }
  } else {
    StatusSetText(GeLoadString(IDS_STATUS_GATHERING));
    const LONG started = GeGetTimer();
    ctx->mesh = ioMesh::Alloc(poly, op->GetName(), 0, (geom & GEOM_WHOLE_GROUP_NAMES) != 0, ctx->objectMaterial,
                              ctx->objectTextureTag);
    ReportElapsed("GetMeshInfo()", Real(GeGetTimer() - started));
    if (!ctx->mesh) {
      ReportMemoryError("ioMesh::Alloc() failure");
      if (ownSet) CloseFileSet(ctx, FALSE);
      return FALSE;
    }
    ctx->mesh->exactSharing = exact;
    if ((geom & GEOM_UVS) && !WriteTextureCoordinates(ctx)) ctx->uvCount = 0;
    if ((geom & GEOM_NORMALS) && !WriteNormals(ctx, mg)) ctx->normalCount = 0;
    if (geom & GEOM_FACES) result = WriteFaces(ctx);
    if (geom & GEOM_MATERIALS) WriteMaterials(ctx, ctx->mesh);
  }
  ctx->vertexBase += ctx->vertexCount;
  ctx->uvBase += ctx->uvCount;
  ctx->normalBase += ctx->normalCount;
  ioMesh::Free(ctx->mesh);
  ctx->vertexCount = ctx->uvCount = ctx->normalCount = ctx->polygonCount = 0;
  ctx->objectMaterial = nullptr;
  ctx->objectTextureTag = nullptr;
  // A failed write has been remembered by the stream; the set is not worth going on with.
  if (out->GetError() != FILEERROR_NONE || ctx->cancelled) result = FALSE;
  if (ownSet) return CloseFileSet(ctx, result) && result;
  return result;
}

Bool WriteTextureCoordinates(ObjExportContext* ctx) {
  ioMesh* mesh = ctx->mesh;
  const Bool compress = !(ctx->LayoutFlags() & XP_NO_UV_COMPRESSION);
  if (compress) StatusSetText(GeLoadString(IDS_STATUS_COMPRESSING_UVS));
  if (!mesh->BakeUVs(compress)) return FALSE;
  StatusSetText(GeLoadString(IDS_STATUS_WRITING_UVS));
  const ULONG geom = ctx->GeomFlags();
  const Bool exact = Exact(ctx);
  for (ULONG i = 0; i < mesh->uvCount; ++i) {
    Real u = mesh->uvs[i].u, v = mesh->uvs[i].v;
    if (geom & GEOM_FLIP_U) u = 1.0 - u;
    if (geom & GEOM_FLIP_V) v = 1.0 - v;
    // Texture coordinates are kept in single precision: exact text is that of the float.
    CHAR* p = AppendText(ctx->line, "vt ");
    p = exact ? AppendShortestSingle(p, u) : AppendFixed(p, u, 5);
    *p++ = ' ';
    p = exact ? AppendShortestSingle(p, v) : AppendFixed(p, v, 5);
    *p++ = '\n';
    WriteLine(ctx, ctx->objOut, p);
    if (!Advance(ctx)) return FALSE;
  }
  ctx->uvCount = mesh->uvCount;
  WriteCount(ctx, ctx->uvCount, "texture coordinates");
  return TRUE;
}

Bool WriteNormals(ObjExportContext* ctx, const Matrix& mg) {
  ioMesh* mesh = ctx->mesh;
  const Bool compress = !(ctx->LayoutFlags() & XP_NO_NORMAL_COMPRESSION);
  if (compress) StatusSetText(GeLoadString(IDS_STATUS_COMPRESSING_NORMALS));
  const LONG started = GeGetTimer();
  if (!mesh->BuildNormals(compress)) return FALSE;
  ReportElapsed("BuildNormals()", Real(GeGetTimer() - started));
  StatusSetText(GeLoadString(IDS_STATUS_WRITING_NORMALS));
  const ULONG geom = ctx->GeomFlags();
  const Bool exact = Exact(ctx);
  const Real flip = (geom & GEOM_REVERSE_NORMALS) ? -1.0 : 1.0;
  for (ULONG i = 0; i < mesh->normalCount; ++i) {
    const ioUVW& n = mesh->normals[i];
    const Vector v = Mirrored(TransformDirection(mg, Vector(n.u, n.v, n.w)) * flip, geom);
    WriteLine(ctx, ctx->objOut, AppendTriple(AppendText(ctx->line, "vn"), v, exact));
    if (!Advance(ctx)) return FALSE;
  }
  ctx->normalCount = mesh->normalCount;
  WriteCount(ctx, ctx->normalCount, "vertex normals");
  return TRUE;
}

Bool WriteFaces(ObjExportContext* ctx) {
  ioMesh* mesh = ctx->mesh;
  const ULONG geom = ctx->GeomFlags(), layout = ctx->LayoutFlags();
  // The tokens follow the options, except that indices of a section this object could
  // not write are left out rather than pointing at lines that are not there.
  const FaceForm form{(geom & GEOM_UVS) && mesh->uvs, (geom & GEOM_NORMALS) && mesh->normals,
                      (geom & GEOM_REVERSE_ORDER) != 0};
  ctx->faceForm = (form.uv ? (form.normal ? 1 : 3) : (form.normal ? 5 : 7)) + (form.reversed ? 0 : 1);

  if (ctx->exportNgons && (geom & GEOM_NGONS) && mesh->ngonCount > 0) mesh->BuildNgons();

  // The walk: the faces of each material, group or region in list order, or as stored.
  const ULONG order = (layout & XP_ORDER_BY_MATERIAL)  ? XP_ORDER_BY_MATERIAL
                      : (layout & XP_ORDER_BY_GROUP)   ? XP_ORDER_BY_GROUP
                      : (layout & XP_ORDER_BY_REGION) ? XP_ORDER_BY_REGION
                                                      : ULONG(0);
  StatusSetText(GeLoadString(order == XP_ORDER_BY_MATERIAL ? IDS_STATUS_FACES_BY_MATERIAL
                             : order == XP_ORDER_BY_GROUP  ? IDS_STATUS_FACES_BY_GROUP
                             : order == XP_ORDER_BY_REGION ? IDS_STATUS_FACES_BY_REGION
                                                           : IDS_STATUS_FACES));

  const Bool groupLines = (geom & GEOM_GROUPS) && (mesh->contentFlags & IOMESH_HAS_GROUPS);
  const Bool regionLines = (geom & GEOM_REGIONS) && (mesh->contentFlags & IOMESH_HAS_REGIONS);
  const Bool materialLines = (geom & GEOM_MATERIALS) && (mesh->contentFlags & IOMESH_HAS_MATERIALS);
  LONG previousGroup = -1, previousRegion = -1, previousMaterial = -1;
  ULONG facets = 0;
  BufferedOutput* out = ctx->objOut;
  const ULONG vBase = ctx->vertexBase + 1, tBase = ctx->uvBase + 1, nBase = ctx->normalBase + 1;

  auto writeFace = [&](const ioFace& face) -> Bool {
    if ((face.flags & FACE_NGON_MEMBER) && mesh->ngons && mesh->ngons[face.ngon].written) return Advance(ctx);
    if (groupLines && face.group != previousGroup) {
      const ioGroup* group = mesh->groups->FindByIndex(face.group);
      if (group && group->name.Content()) {
        // A combined group keeps the blanks between the names it combines.
        CHAR name[256];
        ExportNameList(group->name).GetCString(name, sizeof(name));
        CHAR* p = AppendText(AppendText(ctx->line, "g "), name);
        *p++ = '\n';
        WriteLine(ctx, out, p);
      }
    }
    if (regionLines && face.region != previousRegion) {
      const ioRegion* region = mesh->regions->FindByIndex(face.region);
      if (region && region->name.Content()) {
        CHAR* p = AppendName(AppendText(ctx->line, "# r "), region->name);
        *p++ = '\n';
        WriteLine(ctx, out, p);
      }
    }
    if (materialLines && face.material != previousMaterial) {
      const ioMaterial* material = mesh->materials->FindByIndex(face.material);
      if (material && material->name.Content()) {
        CHAR* p = AppendName(AppendText(ctx->line, "usemtl "), material->name);
        *p++ = '\n';
        WriteLine(ctx, out, p);
      }
    }
    previousGroup = face.group;
    previousRegion = face.region;
    previousMaterial = face.material;

    CHAR* p = AppendText(ctx->line, "f");
    ioNgon* ngon = (face.flags & FACE_NGON_MEMBER) && mesh->ngons ? &mesh->ngons[face.ngon] : nullptr;
    if (ngon && ngon->cornerCount >= 3) {
      // A long outline goes out in pieces: the line buffer holds only so many tokens.
      const LONG n = ngon->cornerCount;
      for (LONG k = 0; k < n; ++k) {
        const LONG c = form.reversed ? n - 1 - k : k;
        p = AppendToken(p, form, ULONG(ngon->vertex[c]) + vBase, ULONG(ngon->uv[c]) + tBase,
                        ULONG(ngon->normal[c]) + nBase);
        if (p - ctx->line > LONG(sizeof(ctx->line)) - 100) {
          WriteLine(ctx, out, p);
          p = ctx->line;
        }
      }
      ngon->written = 1;
    } else {
      const LONG n = face.cornerCount == 4 ? 4 : 3;
      for (LONG k = 0; k < n; ++k) {
        const LONG c = form.reversed ? n - 1 - k : k;
        p = AppendToken(p, form, ULONG(face.v[c]) + vBase, ULONG(face.vt[c]) + tBase, ULONG(face.vn[c]) + nBase);
      }
    }
    *p++ = '\n';
    WriteLine(ctx, out, p);
    ++facets;
    return Advance(ctx);
  };

  auto walk = [&](const auto* set) {
    for (; set; set = set->Next())
      for (ULONG k = 0; k < set->faceIndexCount; ++k)
        if (!writeFace(mesh->faces[set->faceIndices[k]])) return;
  };
  if (order == XP_ORDER_BY_MATERIAL) {
    walk(mesh->materials->First());
  } else if (order == XP_ORDER_BY_GROUP) {
    walk(mesh->groups->First());
  } else if (order == XP_ORDER_BY_REGION) {
    walk(mesh->regions->First());
  } else {
    for (ULONG i = 0; i < mesh->polygonCount && writeFace(mesh->faces[i]);) ++i;
  }
  if (ctx->cancelled) return FALSE;
  WriteCount(ctx, facets, "facets");
  return out->GetError() == FILEERROR_NONE;
}

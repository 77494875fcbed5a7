#include "mtl.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "fileio.h"
#include "iomesh.h"
#include "namehash.h"
#include "numtext.h"
#include "objwrite.h"

namespace {

// A later frame of a per-frame export whose frames share the first frame's library.
Bool SharesFirstLibrary(const ObjExportContext* ctx) {
  return ctx->exportMode == 3 && (ctx->LayoutFlags() & XP_ONE_MTL) && !ctx->firstFrameFile;
}

// "%f" of a value narrowed to single precision.
CHAR* AppendSingle(CHAR* p, Real value) { return AppendFixed(p, Real(SReal(value)), 6); }

void WriteStatement(BufferedOutput* out, CHAR* line, const CHAR* keyword, const Vector& v) {
  CHAR* p = AppendText(line, keyword);
  for (const Real c : {v.x, v.y, v.z}) {
    *p++ = ' ';
    p = AppendSingle(p, c);
  }
  *p++ = '\n';
  out->Write(line, p - line);
}

void WriteStatement(BufferedOutput* out, CHAR* line, const CHAR* keyword, Real value) {
  CHAR* p = AppendSingle(AppendText(AppendText(line, keyword), " "), value);
  *p++ = '\n';
  out->Write(line, p - line);
}

// A map name up to its line's end: it may hold blanks, never a line break.
void WriteMap(BufferedOutput* out, CHAR* line, const CHAR* keyword, const CHAR* map) {
  if (!map[0]) return;
  CHAR* p = AppendText(AppendText(line, keyword), " ");
  for (LONG i = 0; map[i] && i < IOMTL_MAPNAME_SIZE; ++i) *p++ = (map[i] == '\n' || map[i] == '\r') ? '_' : map[i];
  *p++ = '\n';
  out->Write(line, p - line);
}

}  // namespace

void StartMaterialLibrary(ObjExportContext* ctx) {
  if (!ctx->writtenMaterials && !(ctx->writtenMaterials = nameHash::Create())) {
    ReportMemoryError("writtenMaterials");
    return;
  }
  ctx->writtenMaterials->Clear();
  CHAR file[256];
  ExportName(ctx->mtlFileName.GetFileString()).GetCString(file, sizeof(file));
  ctx->mtlFileName.SetFile(Filename(file));
  CHAR* p = AppendText(AppendText(ctx->line, "mtllib "), file);
  *p++ = '\n';
  ctx->objOut->Write(ctx->line, p - ctx->line);
  if (SharesFirstLibrary(ctx)) return;

  if (!ctx->mtlOut && !(ctx->mtlOut = gNew BufferedOutput)) {
    ReportMemoryError("BufferedOutput mtlOut");
    return;
  }
  if (ctx->mtlOut->Open(ctx->mtlFileName) != FILEERROR_NONE) {
    ctx->mtlOut->Discard();
    CHAR path[1024];
    ctx->mtlFileName.GetString().GetCString(path, sizeof(path));
    ConsolePrintf("Kelvane: cannot create the material library %s - no materials are written with this file",
                  path);
    return;
  }
  WriteFileHeader(ctx->mtlOut, "#  Wavefront Material file\n");
  ctx->mtlOut->Flush();
}

void WriteMaterials(ObjExportContext* ctx, const ioMesh* mesh) {
  if (SharesFirstLibrary(ctx) || !mesh || !ctx->mtlOut || !ctx->mtlOut->IsOpen() || !ctx->writtenMaterials) return;
  StatusSetText(GeLoadString(IDS_STATUS_WRITING_MATERIALS));
  BufferedOutput* out = ctx->mtlOut;
  CHAR* line = ctx->line;
  for (const ioMaterial* m = mesh->materials->First(); m; m = m->Next()) {
    CHAR name[256];
    ExportName(m->name).GetCString(name, sizeof(name));
    if (m->faceCount != 0 && ctx->writtenMaterials->AddName(name) == 0) {
      CHAR* p = AppendText(AppendText(line, "\nnewmtl "), name);
      *p++ = '\n';
      out->Write(line, p - line);
      if (m->hasAmbient) WriteStatement(out, line, "Ka", m->ambient);
      if (m->hasDiffuse) WriteStatement(out, line, "Kd", m->diffuse);
      if (m->hasSpecularColor) WriteStatement(out, line, "Ks", m->specular);
      if (m->hasTransparency) WriteStatement(out, line, "Tf", m->filter);
      out->Write((m->hasSpecularHighlight || m->hasSpecularColor) ? "illum 2\n" : "illum 1\n");
      if (m->hasSpecularHighlight) WriteStatement(out, line, "Ns", m->shininess * 0.0078125 * m->shininessScale);
      if (m->hasTransparency) {
        WriteStatement(out, line, "d", 1.0 - m->transparency);
        WriteStatement(out, line, "Ni", m->refraction);
      }
      WriteMap(out, line, "map_Ka", m->mapAmbient);
      WriteMap(out, line, "map_Kd", m->mapDiffuse);
      WriteMap(out, line, "map_Ks", m->mapSpecular);
      WriteMap(out, line, "map_d", m->mapAlpha);
      WriteMap(out, line, "bump", m->mapBump);
      WriteMap(out, line, "disp", m->mapDisplacement);
    }
    out->Flush();
  }
}

// The OBJ writer: opens and closes the files of one export file set and appends one
// polygon object at a time (object line, vertices, texture coordinates, normals, faces),
// keeping the index bases that make the indices of several objects in one file agree.
// The export command walks the objects and calls these three.
#pragma once

#include "c4d.h"
#include "objexp.h"

// Opens objFileName (and, with materials, the MTL file through StartMaterialLibrary)
// after closing a set that is still open, writes the header, and restarts the index
// bases and the progress count. False after a report when the OBJ file cannot be made.
Bool OpenFileSet(ObjExportContext* ctx);
// Closes the open set. keep: the files take their places (a write failure is reported
// and makes the result false, and then neither file is left behind); otherwise they are
// discarded, leaving any earlier files of those names as they were. Advances the
// progress dialog's file count in the modes that write several files. True when
// nothing was open.
Bool CloseFileSet(ObjExportContext* ctx, Bool keep = TRUE);
// Appends polygon object op, its points placed by mg (its global matrix). In mode 2 the
// object gets its own file set. False when the object could not be written (a report
// was made); the caller then closes the set without keeping it.
Bool WriteObject(ObjExportContext* ctx, BaseObject* op, const Matrix& mg);

// The three sections after the vertices, for WriteObject.
Bool WriteTextureCoordinates(ObjExportContext* ctx);
Bool WriteNormals(ObjExportContext* ctx, const Matrix& mg);
Bool WriteFaces(ObjExportContext* ctx);

// Text of the file headers: the rule line and the lines naming the program.
void WriteFileHeader(BufferedOutput* out, const CHAR* kind);

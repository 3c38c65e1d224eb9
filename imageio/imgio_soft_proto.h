#ifndef IMGIO_SOFT_PROTO_H
#define IMGIO_SOFT_PROTO_H

// Prototype records of the Softimage family of files: fifteen lists of
// 16-bit tokens that say which fields a record of each kind carries. The
// lists depend on the format version and on whether normals are stored.

#include <cstdio>

enum { PROTOTYPE_LISTS = 15 };

struct prototype {
  short count[PROTOTYPE_LISTS];
  short* list[PROTOTYPE_LISTS];
};

// The format version (0 or 1) and the normals switch the initialisers
// follow; both 1 unless set.
extern int VERSION;
extern int NORMAL;

// All counts 0, no lists; null when memory is short.
prototype* prototypeAllocate();
void prototypeDispose(prototype* record);

// Each fills the lists of its kind into record (a new one when null) and
// returns it; on a failed allocation the record is disposed of and the
// result is null.
prototype* prototypeInitMesh(prototype* record);
prototype* prototypeInitPatch(prototype* record);
prototype* prototypeInitMaterial(prototype* record);
prototype* prototypeInitTexture(prototype* record);
prototype* prototypeInitTexture3D(prototype* record);
prototype* prototypeInitSpline(prototype* record);
prototype* prototypeInitFace(prototype* record);
prototype* prototypeInitModel(prototype* record);

// "PROT", then token, count and list of every non-empty list, then a 0
// token; 16-bit values little-endian. 1, or 0 when a write fails.
int prototypeWrite(FILE* file, const prototype* record);
// Reads what follows a "PROT" marker up to its 0 token into a new record;
// an unknown token's list is read and dropped with a message on standard
// output. Null when the file ends first or memory is short.
prototype* prototypeRead(FILE* file);

#endif

// Prototype records: fixed token lists per kind, written and read as
// token, count and list triples.
#include "imgio_soft_proto.h"

#include <cstdint>
#include <cstring>

#include "imgio_fields.h"

int VERSION = 1;
int NORMAL = 1;

namespace {

// List index and its token on file, in the order they are written.
const int kOrder[PROTOTYPE_LISTS][2] = {{0, 5},  {1, 7},   {2, 6},   {3, 8},   {7, 12},  {4, 10},  {5, 11}, {6, 9},
                                        {8, 3},  {9, 18},  {10, 16}, {11, 17}, {12, 13}, {14, 14}, {13, 15}};
// A list longer than any kind's is not a prototype record.
const int kLongestList = 4096;

bool set_list(prototype* record, int index, const short* tokens, int count) {
  short* list = count > 0 ? static_cast<short*>(imgio_zalloc(count, sizeof(short))) : nullptr;
  if (count > 0 && !list) return false;
  if (list) memcpy(list, tokens, sizeof(short) * count);
  imgio_free(record->list[index]);
  record->list[index] = list;
  record->count[index] = static_cast<short>(count);
  return true;
}

template <int N>
bool set(prototype* record, int index, const short (&tokens)[N]) {
  return set_list(record, index, tokens, N);
}

// A record to fill, and the check that ends every initialiser.
prototype* start(prototype* record) { return record ? record : prototypeAllocate(); }
prototype* finish(prototype* record, bool ok) {
  if (ok) return record;
  prototypeDispose(record);
  return nullptr;
}

bool material_lists(prototype* record) {
  const short v0[] = {1, 2, 3, 4, 5, 6, 7, 13, 11, 0};
  const short v1[] = {1, 2, 3, 4, 5, 6, 7, 13, 11, 16, 17, 0};
  return VERSION == 0 ? set(record, 12, v0) : set(record, 12, v1);
}

bool spline_lists(prototype* record) {
  const short v0[] = {1, 2, 3, 4, 5, 6, 0};
  const short v1[] = {8, 1, 7, 3, 4, 5, 6, 0};
  if (VERSION == 0) return set(record, 8, v0);
  return set(record, 8, v1) && set(record, 9, v0);
}

bool patch_lists(prototype* record) {
  const short tokens[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
  return set(record, 2, tokens);
}

bool put16(FILE* file, int value) {
  unsigned char bytes[2];
  imgio_put_le16(bytes, static_cast<unsigned>(value) & 0xFFFF);
  return imgio_write_exact(file, bytes, 2);
}

bool get16(FILE* file, short* value) {
  unsigned char bytes[2];
  if (!imgio_read_exact(file, bytes, 2)) return false;
  *value = static_cast<short>(imgio_le16(bytes));
  return true;
}

}  // namespace

prototype* prototypeAllocate() { return static_cast<prototype*>(imgio_zalloc(1, sizeof(prototype))); }

void prototypeDispose(prototype* record) {
  if (!record) return;
  for (short* list : record->list) imgio_free(list);
  imgio_free(record);
}

prototype* prototypeInitModel(prototype* record) {
  record = start(record);
  if (!record) return nullptr;
  const short fields[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0};
  const short pair[] = {1, 2, 0};
  const bool ok = set(record, 0, fields) && set(record, 1, pair) && patch_lists(record) && material_lists(record);
  return finish(record, ok);
}

prototype* prototypeInitFace(prototype* record) {
  record = start(record);
  if (!record) return nullptr;
  const short pair[] = {1, 2, 0};
  return finish(record, set(record, 1, pair) && spline_lists(record));
}

prototype* prototypeInitSpline(prototype* record) {
  record = start(record);
  return record ? finish(record, spline_lists(record)) : nullptr;
}

prototype* prototypeInitMesh(prototype* record) {
  record = start(record);
  if (!record) return nullptr;
  const short vertex[] = {6, 2, 3, 4, 5, 0};
  const short edge[] = {1, 4, 0};
  const short polygon_v0[] = {2, 0};
  const short polygon_v1[] = {2, 3, 0};
  const short normals[] = {1, 2, 0};
  const short plain[] = {1, 0};
  const short node[] = {1, 3, 0};
  const bool ok = set(record, 3, vertex) && set(record, 7, edge) &&
                  (VERSION == 0 ? set(record, 4, polygon_v0) : set(record, 4, polygon_v1)) &&
                  (NORMAL ? set(record, 5, normals) : set(record, 5, plain)) && set(record, 6, node);
  return finish(record, ok);
}

prototype* prototypeInitPatch(prototype* record) {
  record = start(record);
  return record ? finish(record, patch_lists(record)) : nullptr;
}

prototype* prototypeInitMaterial(prototype* record) {
  record = start(record);
  return record ? finish(record, material_lists(record)) : nullptr;
}

prototype* prototypeInitTexture(prototype* record) {
  record = start(record);
  if (!record) return nullptr;
  const short v0[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0};
  const short v1[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                      16, 18, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 0};
  return finish(record, VERSION == 0 ? set(record, 14, v0) : set(record, 14, v1));
}

prototype* prototypeInitTexture3D(prototype* record) {
  record = start(record);
  if (!record) return nullptr;
  const short v0[] = {1, 2, 3, 4, 5, 22, 23, 24, 25, 26, 10, 27, 28, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 29, 0};
  const short v1[] = {1,  2,  3,  4,  5,  22, 23, 24, 25, 26, 10, 27, 28, 11, 12,
                      13, 14, 15, 16, 17, 18, 19, 21, 29, 31, 32, 33, 0};
  return finish(record, VERSION == 0 ? set(record, 13, v0) : set(record, 13, v1));
}

int prototypeWrite(FILE* file, const prototype* record) {
  if (!file || !record) return 0;
  bool ok = imgio_write_exact(file, "PROT", 4);
  for (const auto& entry : kOrder) {
    const int index = entry[0];
    if (!ok || record->count[index] <= 0 || !record->list[index]) continue;
    ok = put16(file, entry[1]) && put16(file, record->count[index]);
    for (int i = 0; ok && i < record->count[index]; ++i) ok = put16(file, record->list[index][i]);
  }
  return ok && put16(file, 0) ? 1 : 0;
}

prototype* prototypeRead(FILE* file) {
  prototype* record = file ? prototypeAllocate() : nullptr;
  if (!record) return nullptr;
  short* tokens = static_cast<short*>(imgio_zalloc(kLongestList, sizeof(short)));
  bool ok = tokens != nullptr;
  while (ok) {
    short token = 0, count = 0;
    if (!get16(file, &token)) {
      ok = false;
      break;
    }
    if (token == 0) break;
    ok = get16(file, &count) && count >= 0 && count <= kLongestList;
    for (int i = 0; ok && i < count; ++i) ok = get16(file, &tokens[i]);
    if (!ok) break;
    int index = -1;
    for (const auto& entry : kOrder)
      if (entry[1] == token) index = entry[0];
    if (index < 0)
      printf("Error: %s %d): illegal token: %hd\n", __FILE_NAME__, __LINE__, token);
    else
      ok = set_list(record, index, tokens, count);
  }
  imgio_free(tokens);
  return finish(record, ok);
}

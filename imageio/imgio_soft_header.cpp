// Header and string routines of the Softimage family of files.
#include <cstring>

#include "imgio_fields.h"
#include "imgio_soft.h"
#include "q4_memory.h"

namespace {

const int kHeaderBytes = 88;
const int kComment = 80;
const float kRelease = 2.1f;

char* copy_of(const char* text, size_t length) {
  char* out = static_cast<char*>(q4_malloc_c(static_cast<unsigned>(length + 1), __FILE__, __LINE__));
  if (!out) return nullptr;
  memcpy(out, text, length);
  out[length] = '\0';
  return out;
}

// Characters up to the stop character or the end of the file; what passes
// the limit is read and dropped.
size_t read_until(FILE* file, int stop, char* text) {
  size_t length = 0;
  for (int c = getc(file); c != EOF && c != stop; c = getc(file))
    if (length < SOFT_STRING_LIMIT) text[length++] = static_cast<char>(c);
  return length;
}

}  // namespace

uint32_t headerReadBinary(FILE* file, float* version, char* comment) {
  unsigned char head[kHeaderBytes + 4];
  if (!file || !imgio_read_exact(file, head, kHeaderBytes) || imgio_be32(head) != SOFT_MAGIC) return 0;
  if (version) {
    const uint32_t bits = imgio_be32(head + 4);
    memcpy(version, &bits, 4);
  }
  if (comment) {
    const char* text = reinterpret_cast<const char*>(head + 8);
    const size_t length = strnlen(text, kComment);
    memcpy(comment, text, length);
    comment[length] = '\0';
  }
  if (!imgio_read_exact(file, head + kHeaderBytes, 4)) return 0;
  return imgio_be32(head + kHeaderBytes);
}

int headerWriteBinary(FILE* file, const char* comment) {
  unsigned char head[kHeaderBytes] = {};
  imgio_put_be32(head, SOFT_MAGIC);
  uint32_t bits;
  memcpy(&bits, &kRelease, 4);
  imgio_put_be32(head + 4, bits);
  const char* text = comment ? comment : "No comment...";
  memcpy(head + 8, text, strnlen(text, kComment));
  return file && imgio_write_exact(file, head, kHeaderBytes) ? 1 : 0;
}

uint32_t headerReadAscii(FILE* file, float* version) {
  unsigned char id[4];
  if (version) *version = 0.0f;
  if (!file || !imgio_read_exact(file, id, 4)) return 0;
  // The rest of the line, at most 80 characters of it.
  int c = 0;
  for (int n = 0; n < kComment && (c = getc(file)) != EOF && c != '\n'; ++n) {
  }
  return imgio_be32(id);
}

int headerWriteAscii(FILE* file, const char* identifier) {
  if (!file || !identifier) return 0;
  return fprintf(file, "%s: ", identifier) >= 0 &&
                 fprintf(file, "%s v%3.2f\n", "SOFTIMAGE 4D Creative Environment", double(kRelease)) >= 0 &&
                 fprintf(file, "\n") >= 0
             ? 1
             : 0;
}

char* stringReadBinary(FILE* file) {
  if (!file) return nullptr;
  const int first = getc(file);
  if (first == EOF) return nullptr;
  ungetc(first, file);
  char text[SOFT_STRING_LIMIT];
  const size_t length = read_until(file, '\0', text);
  return copy_of(text, length);
}

char* stringReadAscii(FILE* file) {
  if (!file) return nullptr;
  int c = 0;
  while ((c = getc(file)) != EOF && c != '"') {
  }
  if (c == EOF) return nullptr;
  char text[SOFT_STRING_LIMIT];
  const size_t length = read_until(file, '"', text);
  return copy_of(text, length);
}

int stringWriteBinary(FILE* file, const char* text) {
  if (!file) return 0;
  const char* s = text ? text : "";
  const bool ok = imgio_write_exact(file, s, strlen(s) + 1);
  return ok && text ? 1 : 0;
}

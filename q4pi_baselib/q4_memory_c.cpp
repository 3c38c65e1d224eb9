// Plain-linkage twins of the heap front end.
#include "q4_memory.h"

extern "C" {

void* q4_malloc_c(unsigned size, const char* file, int line) { return q4_malloc(size, file, line); }

void* q4_calloc_c(unsigned count, unsigned size, const char* file, int line) {
  return q4_calloc(count, size, file, line);
}

void* q4_realloc_c(void* block, unsigned size, const char* file, int line) {
  return q4_realloc(block, size, file, line);
}

char* q4_strdup_c(const char* text, const char* file, int line) { return q4_strdup(text, file, line); }

void q4_free_c(void* block, const char* file, int line) { q4_free(block, file, line); }

void* q4_image_malloc_c(unsigned size, const char* file, int line) {
  return q4_image_malloc(size, file, line);
}

void* q4_image_realloc_c(void* block, unsigned size, const char* file, int line) {
  return q4_image_realloc(block, size, file, line);
}

void q4_image_free_c(void* block, const char* file, int line) { q4_image_free(block, file, line); }
}

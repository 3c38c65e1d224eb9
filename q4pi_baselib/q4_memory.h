#ifndef Q4_MEMORY_H
#define Q4_MEMORY_H

#include <cstddef>

// Every allocation of the system goes through here with the caller's source
// path and line, so that tracking can name who holds a block. Blocks go back
// to the heap they came from: normal-heap blocks to q4_free, image-heap
// blocks to q4_image_free.

void* q4_malloc(unsigned size, const char* file, int line);
void* q4_calloc(unsigned count, unsigned size, const char* file, int line);
void* q4_realloc(void* block, unsigned size, const char* file, int line);
char* q4_strdup(const char* text, const char* file, int line);
void q4_free(void* block, const char* file, int line);

void* q4_image_malloc(unsigned size, const char* file, int line);
void* q4_image_realloc(void* block, unsigned size, const char* file, int line);
void q4_image_free(void* block, const char* file, int line);

extern "C" {
void* q4_malloc_c(unsigned size, const char* file, int line);
void* q4_calloc_c(unsigned count, unsigned size, const char* file, int line);
void* q4_realloc_c(void* block, unsigned size, const char* file, int line);
char* q4_strdup_c(const char* text, const char* file, int line);
void q4_free_c(void* block, const char* file, int line);
void* q4_image_malloc_c(unsigned size, const char* file, int line);
void* q4_image_realloc_c(void* block, unsigned size, const char* file, int line);
void q4_image_free_c(void* block, const char* file, int line);
}

// Aligned blocks for pixels, fields and FFT buffers. An alignment below 4
// means the page size.
void* mem_align_alloc(unsigned size, int alignment, bool image);
void mem_align_free(void* block, bool image);
void* mem_align_realloc(void* block, unsigned size, int alignment, bool image);

// Asks the kernel for huge pages over the whole 2 MB pages inside the
// block: a hint, nothing depends on it. Large frames and grids take a page
// fault per small page at their first touch, and their column passes miss
// the address cache on nearly every row.
void q4_prefer_huge_pages(void* block, size_t bytes);

#endif

#ifndef Q4_HEAP_TABLE_H
#define Q4_HEAP_TABLE_H

// Tracking tables of the heap front end: a fixed open hash of live blocks
// per heap, with overflow records taken from the system malloc.

enum { Q4HM_BUCKETS = 16384, Q4HM_FILE_SIZE = 48 };

struct tagQ4HM_NODE {
  void* block;
  unsigned size;
  int line;
  char file[Q4HM_FILE_SIZE];
  tagQ4HM_NODE* next;
};

struct tagQ4HM_INFO {
  char name[20];
  tagQ4HM_NODE buckets[Q4HM_BUCKETS];
  int collisions;
  int allocation_calls;
  int free_calls;
  unsigned bytes_now;
  unsigned peak_bytes;
  int internal_error;
  double elapsed_seconds;
  double call_start;
};

tagQ4HM_INFO* q4hm_normal_table();
tagQ4HM_INFO* q4hm_image_table();

unsigned q4hm_hash(const void* block);
// Zeroes and names the table on its first use.
void q4hm_init(tagQ4HM_INFO* info);
void q4hm_insert(tagQ4HM_INFO* info, void* block, unsigned size, const char* file, int line);
bool q4hm_remove(tagQ4HM_INFO* info, void* block);
// file (Q4HM_FILE_SIZE characters) and line may be null.
bool q4hm_lookup(tagQ4HM_INFO* info, void* block, unsigned* size, char* file, int* line);
// Dump lines go out as continuations, or as messages of their own.
void q4hm_report(tagQ4HM_INFO* info, bool dump, bool dump_as_messages);
void q4hm_cleanup(tagQ4HM_INFO* info);

#endif

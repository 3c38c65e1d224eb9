#include "q4_heap_table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "q4_log.h"

namespace {

tagQ4HM_INFO normal_table;
tagQ4HM_INFO image_table;
bool normal_ready = false;
bool image_ready = false;

void copy_file(char* dst, const char* file) {
  if (!file) file = "";
  const size_t length = strlen(file);
  if (length >= Q4HM_FILE_SIZE) file += length - (Q4HM_FILE_SIZE - 1);
  snprintf(dst, Q4HM_FILE_SIZE, "%s", file);
}

void print_node(const tagQ4HM_NODE& node, int number, bool as_message) {
  if (as_message)
    q4_notify(Q4_LOG_INFO, "%6d: %p, %d %48s %6d\n", number, node.block, static_cast<int>(node.size),
              node.file, node.line);
  else
    q4_msgcont("%6d: %p, %d %48s %6d\n", number, node.block, static_cast<int>(node.size), node.file,
               node.line);
}

}  // namespace

tagQ4HM_INFO* q4hm_normal_table() { return &normal_table; }
tagQ4HM_INFO* q4hm_image_table() { return &image_table; }

unsigned q4hm_hash(const void* block) {
  uint32_t h = 0;
  const uintptr_t value = reinterpret_cast<uintptr_t>(block);
  for (unsigned i = 0; i < sizeof value; ++i) {
    h += static_cast<uint32_t>((value >> (8 * i)) & 0xff);
    h += h << 10;
    h ^= h >> 6;
  }
  h += h << 3;
  h ^= h >> 11;
  return h & 0x3fff;
}

void q4hm_init(tagQ4HM_INFO* info) {
  bool* ready;
  const char* name;
  if (info == &normal_table) {
    ready = &normal_ready;
    name = "NORMAL";
  } else if (info == &image_table) {
    ready = &image_ready;
    name = "IMAGE";
  } else {
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: INTERNAL ERROR: Asked to initialize unknown info at: %p.\n",
              static_cast<void*>(info));
    return;
  }
  if (*ready) return;
  memset(info, 0, sizeof *info);
  snprintf(info->name, sizeof info->name, "%s", name);
  *ready = true;
}

void q4hm_insert(tagQ4HM_INFO* info, void* block, unsigned size, const char* file, int line) {
  q4hm_init(info);
  tagQ4HM_NODE& head = info->buckets[q4hm_hash(block)];
  if (head.block) {
    info->collisions += 1;
    // Never from the tracked heap: that would recurse into the lock we hold.
    tagQ4HM_NODE* older = static_cast<tagQ4HM_NODE*>(malloc(sizeof(tagQ4HM_NODE)));
    if (!older) {
      q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: INTERNAL ERROR: Cannot allocate space for info node.\n");
      info->internal_error = 1;
      return;
    }
    *older = head;
    head.next = older;
  }
  head.block = block;
  head.size = size;
  head.line = line;
  copy_file(head.file, file);
  info->allocation_calls += 1;
  info->bytes_now += size;
  if (info->bytes_now > info->peak_bytes) info->peak_bytes = info->bytes_now;
}

bool q4hm_remove(tagQ4HM_INFO* info, void* block) {
  q4hm_init(info);
  tagQ4HM_NODE& head = info->buckets[q4hm_hash(block)];
  unsigned size = 0;
  bool found = false;
  if (head.block == block && block) {
    size = head.size;
    found = true;
    tagQ4HM_NODE* next = head.next;
    if (next) {
      head = *next;
      free(next);
    } else {
      memset(&head, 0, sizeof head);
    }
  } else if (head.block) {
    for (tagQ4HM_NODE** link = &head.next; *link; link = &(*link)->next) {
      if ((*link)->block != block) continue;
      tagQ4HM_NODE* node = *link;
      size = node->size;
      *link = node->next;
      free(node);
      found = true;
      break;
    }
  }
  if (!found) {
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: Attempt to free %p - Not allocated in %s!\n", block,
              info->name);
    return false;
  }
  info->free_calls += 1;
  info->bytes_now -= size;
  return true;
}

bool q4hm_lookup(tagQ4HM_INFO* info, void* block, unsigned* size, char* file, int* line) {
  q4hm_init(info);
  *size = 0;
  const tagQ4HM_NODE* node = &info->buckets[q4hm_hash(block)];
  if (!node->block || !block) return false;
  for (; node; node = node->next) {
    if (node->block != block) continue;
    *size = node->size;
    if (file) memcpy(file, node->file, Q4HM_FILE_SIZE);
    if (line) *line = node->line;
    return true;
  }
  return false;
}

void q4hm_report(tagQ4HM_INFO* info, bool dump, bool dump_as_messages) {
  q4hm_init(info);
  q4_notify(Q4_LOG_INFO, "%s MEMORY ALLOCATOR REPORT\n", info->name);
  q4_msgcont("Hash table collisions: %d\n", info->collisions);
  q4_msgcont("Total allocation calls: %d\n", info->allocation_calls);
  q4_msgcont("Total free calls: %d\n", info->free_calls);
  q4_msgcont("Blocks currently allocated: %d\n", info->allocation_calls - info->free_calls);
  q4_msgcont("Total size now allocated: %d\n", static_cast<int>(info->bytes_now));
  q4_msgcont("Peak size allocated: %d\n", static_cast<int>(info->peak_bytes));
  q4_msgcont("Internal error state: %d\n", info->internal_error);
  q4_msgcont("Elapsed time in allocator: %fs\n", info->elapsed_seconds);
  if (!dump) return;
  q4_notify(Q4_LOG_INFO, "DUMP OF CURRENTLY ALLOCATED BLOCKS\n");
  int number = 0;
  for (const tagQ4HM_NODE& head : info->buckets) {
    if (!head.block) continue;
    for (const tagQ4HM_NODE* node = &head; node; node = node->next)
      print_node(*node, number++, dump_as_messages);
  }
  q4_msgcont("END OF ALLOCATION REPORT\n");
}

void q4hm_cleanup(tagQ4HM_INFO* info) {
  q4hm_init(info);
  for (tagQ4HM_NODE& head : info->buckets) {
    if (!head.block) continue;
    tagQ4HM_NODE* node = head.next;
    while (node) {
      tagQ4HM_NODE* next = node->next;
      free(node);
      node = next;
    }
    // Also unlink, so that tracking can safely go on after a cleanup.
    head.next = nullptr;
  }
}

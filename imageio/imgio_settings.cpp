// The settings list: exact keys, one node a key, values copied (null allowed),
// newest first.
#include <cstring>

#include "imgio.h"
#include "q4_memory.h"

namespace {

keyval* find(const char* key) {
  for (keyval* node = imgsystem.settings; node; node = node->next)
    if (strcmp(node->key, key) == 0) return node;
  return nullptr;
}

void free_node(keyval* node) {
  q4_free_c(node->key, __FILE__, __LINE__);
  if (node->value) q4_free_c(node->value, __FILE__, __LINE__);
  q4_free_c(node, __FILE__, __LINE__);
}

}  // namespace

const char* setkeyval(const char* key, const char* value) {
  if (!key) return nullptr;
  char* copy = nullptr;
  if (value) {
    copy = q4_strdup_c(value, __FILE__, __LINE__);
    // The old value stays when its replacement cannot be stored.
    if (!copy) return nullptr;
  }
  keyval* node = find(key);
  if (node) {
    if (node->value) q4_free_c(node->value, __FILE__, __LINE__);
    node->value = copy;
    return copy;
  }
  node = static_cast<keyval*>(q4_malloc_c(sizeof(keyval), __FILE__, __LINE__));
  char* key_copy = node ? q4_strdup_c(key, __FILE__, __LINE__) : nullptr;
  if (!key_copy) {
    if (node) q4_free_c(node, __FILE__, __LINE__);
    if (copy) q4_free_c(copy, __FILE__, __LINE__);
    return nullptr;
  }
  node->key = key_copy;
  node->value = copy;
  node->next = imgsystem.settings;
  imgsystem.settings = node;
  return copy;
}

const char* getkeyval(const char* key) {
  if (!key) return nullptr;
  const keyval* node = find(key);
  return node ? node->value : nullptr;
}

int deletekeyval(const char* key) {
  if (!key) return 0;
  for (keyval** link = &imgsystem.settings; *link; link = &(*link)->next) {
    if (strcmp((*link)->key, key) == 0) {
      keyval* node = *link;
      *link = node->next;
      free_node(node);
      break;
    }
  }
  return 0;
}

int destroykeyval() {
  while (keyval* node = imgsystem.settings) {
    imgsystem.settings = node->next;
    free_node(node);
  }
  return 0;
}

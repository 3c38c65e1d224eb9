#include "q4_tempname.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <uuid/uuid.h>

#include "q4_fileops.h"
#include "q4_memory.h"
#include "q4_sysinfo.h"

namespace {

enum { UUID_TEXT_SIZE = 37 };
char temp_name[256];

}  // namespace

char* file_get_temp_name() {
  const unsigned micros = static_cast<unsigned>(static_cast<unsigned long long>(q4mp_getclock() * 1e6));
  snprintf(temp_name, sizeof temp_name, "%s%s_%d_%u", get_temp_directory(), "/",
           static_cast<int>(getpid()), micros);
  return temp_name;
}

char* uuid_new() {
  char* text = static_cast<char*>(q4_malloc(UUID_TEXT_SIZE, __FILE__, __LINE__));
  if (!text) return nullptr;
  uuid_t id;
  uuid_generate(id);
  uuid_unparse(id, text);
  return text;
}

void uuid_delete(char* text) {
  if (text) q4_free(text, __FILE__, __LINE__);
}

void file_get_temp_name_ex(const char* prefix, char* out) {
  if (!prefix || !out) return;
  char* id = uuid_new();
  if (!id) {
    *out = '\0';
    return;
  }
  sprintf(out, "%s%s", prefix, id);
  uuid_delete(id);
}

char* file_get_temp_name_ex_dyn(const char* prefix) {
  if (!prefix) return nullptr;
  char* out = static_cast<char*>(q4_malloc(static_cast<unsigned>(strlen(prefix) + 51), __FILE__, __LINE__));
  if (out) file_get_temp_name_ex(prefix, out);
  return out;
}

extern "C" {
void file_get_temp_name_ex_c(const char* prefix, char* out) { file_get_temp_name_ex(prefix, out); }
char* file_get_temp_name_ex_dyn_c(const char* prefix) { return file_get_temp_name_ex_dyn(prefix); }
}

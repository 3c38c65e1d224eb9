// String-table files come from disk: any bytes, any sizes in their fields.
// A file that reads must write back and read again to the same table.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "q4_star.h"

namespace {

std::string scratch_path(const char* name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/q4star-fuzz-" + std::to_string(getpid()) + name;
}

bool same(const Q4Star& a, const Q4Star& b, size_t client_size) {
  if (a.n() != b.n()) return false;
  for (int i = 0; i < a.n(); ++i) {
    if (strcmp(a.get(i), b.get(i)) != 0) return false;
    if (client_size && memcmp(a.get_client(i), b.get_client(i), client_size) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = scratch_path("-in"), output = scratch_path("-out");
  FILE* file = fopen(input.c_str(), "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);
  Q4Star* table = Q4Star::fileread(input.c_str());
  if (table) {
    int32_t client_size = 0;
    memcpy(&client_size, data + 4, sizeof client_size);  // a table that read had a whole header
    if (!table->filewrite(output.c_str())) abort();
    Q4Star* again = Q4Star::fileread(output.c_str());
    if (!again || !same(*table, *again, static_cast<size_t>(client_size))) abort();
    delete again;
    delete table;
  }
  remove(input.c_str());
  remove(output.c_str());
  return 0;
}

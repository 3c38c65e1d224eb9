// Command tables read lines typed by a person: any bytes, any length, any
// number of words, until the input ends.
#include <cstdint>
#include <cstdio>

#include "q4_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tagSCOMMANDS table[] = {
      {"load image", 1, "load an image", 1, 2, false},
      {"load setup", 2, "load a setup", 1, 1, false},
      {"save", 3, "save the setup", 0, 1, false},
      {"quit", 4, "leave", 0, 0, false},
      {"set value", 5, "set a value", 2, Q4_CMD_MAX_ARGS, false},
  };
  const int rows = static_cast<int>(sizeof table / sizeof table[0]);
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!in) return 0;
  FILE* out = fopen("/dev/null", "w");
  char* args[Q4_CMD_MAX_ARGS];
  for (int round = 0; round < 64; ++round) {
    int argc = 0;
    const bool dup = round % 2 == 1;
    const int code = get_command(table, rows, in, "> ", out, args, &argc, Q4_CMD_MAX_ARGS, dup);
    if (dup && code > 0) free_command_args(args, argc);
    if (code == 0) break;
  }
  fclose(out);
  fclose(in);
  return 0;
}

#ifndef Q4_COMMANDS_H
#define Q4_COMMANDS_H

#include <cstdio>

// One row of a command table: the command's words (abbreviations match),
// the code returned when it is chosen and one line of help.
struct tagSCOMMANDS {
  const char* command;
  int code;
  const char* help;
  int min_args;
  int max_args;
  bool candidate;  // scratch, written while matching
};

enum {
  Q4_CMD_UNKNOWN = -1,
  Q4_CMD_AMBIGUOUS = -2,
  Q4_CMD_TOO_MANY = -3,
  Q4_CMD_TOO_FEW = -4,
  Q4_CMD_NO_ROOM = -5,
  Q4_CMD_MAX_ARGS = 20,
  Q4_CMD_ARG_SIZE = 80
};

// Reads lines from in until one names a command; returns its code, 0 at the
// end of input, or a negative Q4_CMD_ code. The arguments go to args (copies
// to free with free_command_args when dup, else static slots valid until the
// next call).
int get_command(tagSCOMMANDS* table, int rows, FILE* in, const char* prompt, FILE* out, char** args,
                int* argc, int args_size, bool dup);
void free_command_args(char** args, int count);
int dump_command_help(const tagSCOMMANDS* table, int rows, FILE* out);

#endif

#include "q4_commands.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "q4_memory.h"
#include "q4_strings.h"

namespace {

enum { LINE_SIZE = 4096 };

char argument_slots[Q4_CMD_MAX_ARGS][Q4_CMD_ARG_SIZE];

void say(FILE* out, const char* text) {
  if (out) fputs(text, out);
}

void print_row(FILE* out, const tagSCOMMANDS& row) { fprintf(out, "%s: %s\n", row.command, row.help); }

// Drops the candidates whose word k does not match word; returns how many
// remain, or Q4_CMD_AMBIGUOUS when the remaining ones differ in word k.
int narrow(tagSCOMMANDS* table, int rows, int k, const char* word, int* chosen) {
  char own[LINE_SIZE];
  char first[LINE_SIZE] = "";
  int remaining = 0;
  bool differ = false;
  const size_t word_length = strlen(word);
  for (int r = 0; r < rows; ++r) {
    tagSCOMMANDS& row = table[r];
    if (!row.candidate) continue;
    if (!get_word_quoted(row.command, k, own, sizeof own, true) ||
        strncasecmp(word, own, std::min(word_length, strlen(own))) != 0) {
      row.candidate = false;
      continue;
    }
    if (remaining++ == 0) {
      strcpy(first, own);
      *chosen = r;
    } else if (strcmp(first, own) != 0) {
      differ = true;
    }
  }
  return remaining > 1 && differ ? Q4_CMD_AMBIGUOUS : remaining;
}

}  // namespace

int get_command(tagSCOMMANDS* table, int rows, FILE* in, const char* prompt, FILE* out, char** args,
                int* argc, int args_size, bool dup) {
  if (!in || !table) return 0;
  char line[LINE_SIZE];
  char word[LINE_SIZE];
  for (;;) {
    if (prompt && out) {
      fprintf(out, "%s> ", prompt);
      fflush(out);
    }
    if (!get_line(in, line, sizeof line, false)) return 0;
    const int words = count_words_quoted(line);
    if (words == 0) continue;
    for (int r = 0; r < rows; ++r) table[r].candidate = true;

    int chosen = -1;
    int k = 1;
    bool read_again = false;
    for (; k <= words; ++k) {
      get_word_quoted(line, k, word, sizeof word, true);
      if (out && strcmp(word, "?") == 0) {
        bool any = false;
        for (int r = 0; r < rows; ++r) any = any || table[r].candidate;
        if (any) fputs("\n", out);
        for (int r = 0; r < rows; ++r)
          if (table[r].candidate) print_row(out, table[r]);
        if (k == words) read_again = true;
        continue;
      }
      int row = -1;
      const int remaining = narrow(table, rows, k, word, &row);
      if (remaining == 0) {
        say(out, "Unknown command.\n");
        return Q4_CMD_UNKNOWN;
      }
      if (remaining == Q4_CMD_AMBIGUOUS) {
        say(out, "Ambiguous command.\n");
        return Q4_CMD_AMBIGUOUS;
      }
      if (remaining == 1) {
        chosen = row;
        break;
      }
    }
    if (read_again) continue;
    if (chosen < 0) {
      say(out, "Ambiguous command.\n");
      return Q4_CMD_AMBIGUOUS;
    }
    const tagSCOMMANDS& row = table[chosen];
    if (k < words) {
      get_word_quoted(line, k + 1, word, sizeof word, true);
      if (strcmp(word, "?") == 0) {
        if (out) print_row(out, row);
        continue;
      }
    }
    const int count = words - k;
    if (count > row.max_args) {
      say(out, "Too many arguments supplied.\n");
      return Q4_CMD_TOO_MANY;
    }
    if (count < row.min_args) {
      say(out, "Too few arguments supplied.\n");
      return Q4_CMD_TOO_FEW;
    }
    if (count > (args ? args_size : 0) || count > Q4_CMD_MAX_ARGS) {
      say(out, "Too many arguments for supplied argument buffer.\n");
      return Q4_CMD_NO_ROOM;
    }
    for (int i = 0; i < count; ++i) {
      char* slot = argument_slots[i];
      get_word_quoted(line, k + 1 + i, slot, Q4_CMD_ARG_SIZE, true);
      args[i] = dup ? q4_strdup(slot, __FILE__, __LINE__) : slot;
    }
    if (argc) *argc = count;
    return row.code;
  }
}

void free_command_args(char** args, int count) {
  for (int i = 0; i < count; ++i) {
    if (!args[i]) continue;
    q4_free(args[i], __FILE__, __LINE__);
    args[i] = nullptr;
  }
}

int dump_command_help(const tagSCOMMANDS* table, int rows, FILE* out) {
  if (!out || !table || rows < 1) return out != nullptr;
  int result = 0;
  for (int r = 0; r < rows; ++r) result = fprintf(out, "%s: %s\n", table[r].command, table[r].help);
  return result;
}

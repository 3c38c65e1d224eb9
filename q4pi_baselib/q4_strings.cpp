#include "q4_strings.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

char escaped[4096];

bool is_blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Walks a text word by word under the quoting rule: a double quote not
// preceded by a backslash toggles the quoted state, and only white space
// outside quotes separates words.
struct QuotedCursor {
  const char* text;
  const char* at;

  // Moves to the start of the next word; false at the end.
  bool next_word() {
    while (*at && is_blank(*at)) ++at;
    return *at != '\0';
  }
  void skip_word() {
    bool quoted = false;
    for (; *at && (quoted || !is_blank(*at)); ++at)
      if (*at == '"' && !(at > text && at[-1] == '\\')) quoted = !quoted;
  }
};

const char* find_word(const char* text, int n) {
  if (!text || n < 1) return nullptr;
  const char* at = text;
  for (int i = 1;; ++i) {
    while (*at && is_blank(*at)) ++at;
    if (!*at) return nullptr;
    if (i == n) return at;
    while (*at && !is_blank(*at)) ++at;
  }
}

}  // namespace

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

int decval(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

void fold_lower(char* text) {
  for (; *text; ++text) *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
}

int safe_strcmp(const char* a, const char* b) {
  if (!a && !b) return 0;
  if (!a || !b) return -1;
  return strcmp(a, b);
}

char* safe_string_constant(const char* text) {
  if (!text) return nullptr;
  size_t written = 0;
  for (; *text && written < 4094; ++text) {
    if (*text == '\\' || *text == '"') escaped[written++] = '\\';
    escaped[written++] = *text;
  }
  escaped[written] = '\0';
  return escaped;
}

std::string printable_bytes(const std::string& bytes) {
  std::string shown;
  for (const char byte : bytes) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (c >= ' ' && c <= '~') {
      shown += byte;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}

bool get_line(FILE* file, char* buffer, int size, bool unquote) {
  if (!fgets(buffer, size, file)) return false;
  size_t length = strlen(buffer);
  if (length > 0 && buffer[length - 1] == '\n') buffer[--length] = '\0';
  if (unquote && length >= 2 && buffer[0] == '"' && buffer[length - 1] == '"') {
    memmove(buffer, buffer + 1, length - 2);
    buffer[length - 2] = '\0';
  }
  return true;
}

bool get_word(const char* text, int n, char* out, int size) {
  const char* word = find_word(text, n);
  if (!word) return false;
  int length = 0;
  while (word[length] && !is_blank(word[length])) ++length;
  if (length > size - 1) length = size - 1;
  if (length < 0) return true;
  memcpy(out, word, static_cast<size_t>(length));
  out[length] = '\0';
  return true;
}

int count_words(const char* text) {
  int count = 0;
  while (find_word(text, count + 1)) ++count;
  return count;
}

bool get_word_quoted(const char* text, int n, char* out, int size, bool strip) {
  if (!text || n < 1 || size < 1) return false;
  QuotedCursor cursor = {text, text};
  for (int i = 1; i < n; ++i) {
    if (!cursor.next_word()) return false;
    cursor.skip_word();
  }
  if (!cursor.next_word()) return false;
  bool quoted = false;
  int written = 0;
  for (int consumed = 0; *cursor.at && consumed < size - 1; ++cursor.at, ++consumed) {
    const char c = *cursor.at;
    const bool escaped_char = cursor.at > text && cursor.at[-1] == '\\';
    if (!quoted && is_blank(c)) break;
    if (c == '"' && !escaped_char) {
      quoted = !quoted;
      if (!strip) out[written++] = c;
    } else if (c != '\\' || escaped_char) {
      out[written++] = c;
    }
  }
  out[written] = '\0';
  return true;
}

int count_words_quoted(const char* text) {
  if (!text) return 0;
  QuotedCursor cursor = {text, text};
  int count = 0;
  while (cursor.next_word()) {
    cursor.skip_word();
    ++count;
  }
  return count;
}

bool partial_match(char* a, char* b) {
  fold_lower(a);
  if (*b) fold_lower(b);
  const size_t length = std::min(strlen(a), strlen(b));
  return strncmp(a, b, length) == 0;
}

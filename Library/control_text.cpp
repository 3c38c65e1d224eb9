// Text and file-name controls over the host's 200-character string records.
#include <cctype>
#include <cstring>

#include "ControlQ4.h"

namespace {

// Copies at most what the host field holds, always terminated.
void copy_bounded(char* dst, const char* src) {
  const size_t n = strnlen(src, SPARK_STRING_LEN - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
}

void sync_cache(char* cache, SparkString* record) {
  if (cache && cache != record->text) copy_bounded(cache, record->text);
}

void write_host(SparkString* record, const char* s) {
  if (s && s != record->text) copy_bounded(record->text, s);
}

}  // namespace

void TextControlQ4::Sync() { sync_cache(value, record); }

void TextControlQ4::Disable(bool d) { disabled = d; }

void TextControlQ4::Hide(bool h) { SetHidden(h); }

void TextControlQ4::SetValue(double, const char* s) {
  write_host(record, s);
  sparkControlUpdate(number);
  Sync();
}

void TextControlQ4::GetValue(double, char*& s) {
  value = record->text;
  s = value;
}

void FileControlQ4::Sync() { sync_cache(value, record); }

void FileControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { sparkControlUpdate(number); });
}

void FileControlQ4::Hide(bool h) {
  SetHidden(h);
  ShowHost(h, number + 7);
}

void FileControlQ4::SetValue(double, const char* s) {
  write_host(record, s);
  sparkControlUpdate(number + 7);
  Sync();
}

void FileControlQ4::GetValue(double, char*& s) {
  char* text = record->text;
  const size_t n = strnlen(text, SPARK_STRING_LEN - 1);
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i)
    if (!std::isspace((unsigned char)text[i])) text[kept++] = text[i];
  text[kept] = '\0';
  value = text;
  s = value;
}

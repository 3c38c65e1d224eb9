#include "imgio_messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "q4_memory.h"

imssys services;

namespace {

bool first_call = true;

const char* level_name(int level) {
  switch (level) {
    case IMSSYS_INFO: return "INFO";
    case IMSSYS_ERROR: return "ERROR";
    case IMSSYS_FATAL: return "FATAL";
    default: return "?";
  }
}

char* ring_line(const imssys* record, int index) {
  return record->ring + static_cast<size_t>(index % record->ring_lines) * record->line_length;
}

}  // namespace

void messsetproc(imssys_handler handler) {
  services.handler = handler;
  services.mark = IMSSYS_HANDLER_MARK;
}

void messsetscroll(int lines) { services.scroll = lines > 0 ? std::min(lines, services.ring_lines) : 1; }

int messadd() {
  if (first_call) {
    if (services.mark != IMSSYS_HANDLER_MARK) messsetproc(messtostderr);
    services.scroll = 1;
    services.ring = static_cast<char*>(
        q4_calloc_c(IMSSYS_LINES, IMSSYS_LINE_LENGTH, __FILE__, __LINE__));
    // Without a ring the text still reaches the handler; the set-up is
    // tried again with the next message.
    if (services.ring) {
      first_call = false;
      services.ring_lines = IMSSYS_LINES;
      services.line_length = IMSSYS_LINE_LENGTH;
      services.count = 0;
    }
  }
  services.text[IMSSYS_LINE_LENGTH - 1] = '\0';
  if (services.ring) {
    char* line = ring_line(&services, services.count);
    memcpy(line, services.text, IMSSYS_LINE_LENGTH);
    ++services.count;
  }
  return services.handler ? services.handler(&services) : 0;
}

int messtostderr(imssys* record) {
  const char* name = level_name(record->level);
  if (!record->ring) {
    fprintf(stderr, "[%s] %s", name, record->text);
    return 0;
  }
  for (int index = std::max(0, record->count - record->scroll); index < record->count; ++index)
    fprintf(stderr, "[%s] %s", name, ring_line(record, index));
  return 0;
}

int messprintf(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(services.text, sizeof services.text, format, args);
  va_end(args);
  services.level = level;
  return messadd();
}

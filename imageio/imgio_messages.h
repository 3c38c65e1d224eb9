#ifndef IMGIO_MESSAGES_H
#define IMGIO_MESSAGES_H

// The one message channel of the image-file library and its drivers: a text
// is formatted into the record, filed in a ring of recent lines and handed
// to the installed handler (by default the last lines go to standard error).

enum { IMSSYS_INFO = 1, IMSSYS_ERROR = 2, IMSSYS_FATAL = 3 };
enum { IMSSYS_LINES = 40, IMSSYS_LINE_LENGTH = 132, IMSSYS_HANDLER_MARK = 0x3F0F54 };

struct imssys;
typedef int (*imssys_handler)(imssys* record);

struct imssys {
  int level;
  unsigned mark;  // IMSSYS_HANDLER_MARK once a handler is installed
  imssys_handler handler;
  char* ring;  // ring_lines lines of line_length characters
  int ring_lines;
  int line_length;
  int count;   // messages filed so far
  int scroll;  // latest lines the default handler prints per message
  char text[IMSSYS_LINE_LENGTH];
};

extern imssys services;

void messsetproc(imssys_handler handler);
// lines > 0: the latest min(lines, ring lines) are printed; else 1.
void messsetscroll(int lines);
// Files services.text and returns the handler's result.
int messadd();
// The default handler: prints "[LEVEL] line" for the latest scroll lines.
int messtostderr(imssys* record);
// Formats into services.text (truncated to fit), sets the level and files it.
int messprintf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif

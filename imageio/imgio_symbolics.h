#ifndef IMGIO_SYMBOLICS_H
#define IMGIO_SYMBOLICS_H

// The "symbolics" driver: colour image dumps, a stream of 16-bit words
// holding symbol, string and image array blocks, each colour separation a
// bit-level value code; writing adds a ".image" text descriptor beside the
// dump. The whole image is held in memory: opening decodes the dump,
// closing a created handle writes it.

#include <cstddef>
#include <cstdio>

#include "imgio.h"

extern const imgio_driver symbolics_driver;

int SymOpenf(imginfo* handle);
int SymCreatef(imginfo* handle);
int SymReadl(imginfo* handle);
int SymWritel(imginfo* handle);
int SymReadl16(imginfo* handle);
int SymWritel16(imginfo* handle);
int SymClosef(imginfo* handle);
int SymReadb(imginfo* handle);
int SymWriteb(imginfo* handle);
int SymReadb16(imginfo* handle);
int SymWriteb16(imginfo* handle);
int SymMakeSeek(imginfo* handle);
int SymSeekTo(imginfo* handle);

// The dump as a createbuffer block of R | G<<8 | B<<16 | A<<24 pixels, rows
// from the bottom, or null; *width and *height receive its size.
unsigned int* read_symbolics(const char* path, int* width, int* height);
// Writes the dump and its descriptor; 1 on success, 0 on failure.
int write_symbolics(const char* path, const unsigned int* pixels, int width, int height);
// One image array block of a separation (width x height values, top row
// first); 1 or 0.
int sym_encode_sep(FILE* file, const unsigned char* separation, int width, int height);
// One symbol (kind 2) or string (kind 3) block; *counter grows by its
// bytes. 1 or 0.
int sym_write_ssb(FILE* file, const char* text, long* counter, int kind);

enum {
  SYM_DECODE_OK = 0,
  SYM_DECODE_BAD_REPEAT = 1,    // a repeat op-code with an invalid second part
  SYM_DECODE_NO_CONSTANT = 2,   // a repeat without its constant
  SYM_DECODE_BAD_NESTING = 3    // a nested repeat with an invalid second part
};
// Decodes the value code of size bytes (16-bit little-endian words, bits
// from the top of each word down) into out, until count values are stored
// or the code is used up; *reference is the previous value, carried from
// one separation to the next. *stored receives the values stored.
int sym_decode_values(const unsigned char* code, size_t size, unsigned char* out, size_t count, int* reference,
                      size_t* stored);
// Codes count values (the first a literal) into out, which holds
// (9 * count + 15) / 16 * 2 bytes; the code's length in bytes.
size_t sym_encode_values(const unsigned char* values, size_t count, unsigned char* out);

#endif

#ifndef IMGIO_ALIAS_H
#define IMGIO_ALIAS_H

// The "alias" driver: a 10-byte big-endian header and run-length packets of
// 24-bit colour or 8-bit grey, first line first.

#include <cstddef>
#include <cstdio>

#include "imgio.h"

extern const imgio_driver alias_driver;

int AliasOpenf(imginfo* handle);
int AliasCreatef(imginfo* handle);
int AliasReadl(imginfo* handle);
int AliasWritel(imginfo* handle);
int AliasReadl16(imginfo* handle);
int AliasWritel16(imginfo* handle);
int AliasClosef(imginfo* handle);
int AliasReadb(imginfo* handle);
int AliasWriteb(imginfo* handle);
int AliasReadb16(imginfo* handle);
int AliasWriteb16(imginfo* handle);
int AliasMakeSeek(imginfo* handle);
int AliasSeekTo(imginfo* handle);

// Decodes one line of width pixels from in[*used..size) into the red, green
// and blue buffers (bits 8: grey packets of count and value; else count,
// blue, green, red). A packet that runs past the width ends the line
// unapplied. 0 when a packet is cut short by the end of the input, else 1;
// *used advances over the packets taken.
int getalias(const unsigned char* in, size_t size, size_t* used, unsigned char* red, unsigned char* green,
             unsigned char* blue, int width, int bits);
// Codes one line as 24-bit packets into packed (room for 4 * width bytes)
// and writes them; 0 when the write fails.
int putalias(unsigned char* packed, FILE* file, const unsigned char* red, const unsigned char* green,
             const unsigned char* blue, int width);

#endif

#ifndef IMGIO_RLA_H
#define IMGIO_RLA_H

// The "rla" driver: a 740-byte big-endian header, a table of scanline
// offsets and run-length coded channel records; 8 or 16 bits a channel.

#include <cstddef>

#include "imgio.h"

extern const imgio_driver rla_driver;

int RlaOpenf(imginfo* handle);
int RlaCreatef(imginfo* handle);
int RlaReadl(imginfo* handle);
int RlaWritel(imginfo* handle);
int RlaReadl16(imginfo* handle);
int RlaWritel16(imginfo* handle);
int RlaClosef(imginfo* handle);
int RlaReadb(imginfo* handle);
int RlaWriteb(imginfo* handle);
int RlaReadb16(imginfo* handle);
int RlaWriteb16(imginfo* handle);
int RlaSheader(imginfo* handle);
int RlaMakeSeek(imginfo* handle);
int RlaSeekTo(imginfo* handle);

// Decodes one channel record (c < 128: the next byte c + 1 times; c >= 128:
// 256 - c literal bytes) into out; what the code leaves short is 0. -1 when
// the code runs past its end or would fill past out_size, else the bytes
// produced.
long rla_decode(const unsigned char* code, size_t size, unsigned char* out, size_t out_size);
// Codes n bytes into out (room for n + (n + 126) / 127 bytes); its length.
size_t rla_encode(const unsigned char* in, int n, unsigned char* out);

#endif

#ifndef GIF_CODEC_H
#define GIF_CODEC_H

// The GIF codec of the GIF driver: single-image GIF87a files with the
// system's own LZW decoder and encoder. Whole images are width x height
// words R | G << 8 | B << 16 | A << 24 on the image heap, the picture's
// bottom row first. Each call keeps its decoder or encoder state to itself.

// The first image of the file, on a buffer of the logical screen's size
// (what lies outside the screen is dropped, what the image leaves is 0);
// decoded pixels have alpha 255. A code stream that ends early leaves the
// rest 0 and still succeeds. Null with a message on failure.
unsigned int* ReadGIF(const char* path, int* width, int* height);
// Quantises to at most 255 colours (median cut, dithered) and writes a
// GIF87a file of a 256-entry table and 8-bit codes; 0 on success.
int WriteGIF(const unsigned int* buffer, int width, int height, const char* path);

#endif

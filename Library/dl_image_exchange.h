#ifndef DL_IMAGE_EXCHANGE_H
#define DL_IMAGE_EXCHANGE_H

// Host frame buffers to and from ImageQ4. Host frames are width x height
// RGB pixels without padding: 8-bit as packed bytes, 12-bit as three 16-bit
// words whose top 12 bits hold the value (the low 4 bits are the host's and
// are kept on output).
//
// At a sub-sampling factor N > 1 the image is the preview size (see
// preview_size); image row k takes host row N/2 + k N and image column m
// host column m N. Image rows or columns that sampling cannot reach repeat
// the last sampled one. On output every host pixel (c, r) takes image pixel
// (min(c / N, w' - 1), min(r / N, h' - 1)). Both directions cover only what
// the image and the host frame both have.

#include "ImageQ4.h"

// width / N rounded up to even for N > 1; the full size at N <= 1.
long preview_size(long full, int N);

ImageQ4* ConvertFromDLImage8(void* buffer, long width, long height, double aspect, int N,
                             ImageQ4* image, int copy);
ImageQ4* ConvertFromDLImage12(void* buffer, long width, long height, double aspect, int N,
                              ImageQ4* image, int copy);
void ConvertToDLImage8(ImageQ4* image, void* buffer, int width, int height, int N);
// truncate non-zero keeps only 8 bits of precision in each 12-bit value.
void ConvertToDLImage12(ImageQ4* image, void* buffer, int width, int height, int N,
                        int truncate);

// Host worker routines for sparkMpFork. Integers travel as pointer-sized
// values. Each worker takes its band of the rows named below.
// (buffer, image, processes): rows of the image, N = 1, host frame of the
// image's size.
void mp_copy_pixel_data(void* buffer, void* image, void* processes);
void mp_copy_pixel_data_deep12(void* buffer, void* image, void* processes);
void mp_paste_pixel_data(void* buffer, void* image, void* processes);
void mp_paste_pixel_data_deep12(void* buffer, void* image, void* processes);
// (buffer, image, processes, host height H, host width W): host rows 0..H-1,
// N = the image's scale (at least 1).
void mp_copy_pixel_data_scale(void* buffer, void* image, void* processes, void* H, void* W);
void mp_copy_pixel_data_scale_deep12(void* buffer, void* image, void* processes, void* H, void* W);
void mp_paste_pixel_data_scale(void* buffer, void* image, void* processes, void* H, void* W);
void mp_paste_pixel_data_scale_deep12(void* buffer, void* image, void* processes, void* H,
                                      void* W);

#endif

#ifndef IMGIO_YUV_H
#define IMGIO_YUV_H

// The picture size of headerless 4:2:2 frame files, from the settings
// "IMGIO_YUV_LINESIZE" (default 720, even, 2..720) and "IMGIO_YUV_LINES"
// (default 576, 1..576). Both outputs receive the values read; the result is
// 1 when they lie within those limits, else 0.
int getyuvsize(int* line_size, int* lines);

#endif

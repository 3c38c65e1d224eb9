#ifndef SOURCEQ4_H
#define SOURCEQ4_H

#include "spark.h"

class ImageQ4;

// One input clip of the effect; the entry point fills it every frame.
class SourceQ4 {
 public:
  SourceQ4();

  // Loads frame (int)(frame + 0.5) of the clip through the host's
  // temporary buffer into `image` (converted at the current preview scale).
  // Without a temporary buffer, or a null image, it reports the first and
  // leaves `image` as it was.
  void GetValue(double frame, ImageQ4*& image);

  int* temp_id;
  SparkMemBuf* temp_buf;
  ImageQ4* image;
  unsigned char enabled;
  int clip;
  unsigned char deep12;
};

// The output clip.
class ResultQ4 {
 public:
  ResultQ4() : image(nullptr) {}

  ImageQ4* image;
};

#endif

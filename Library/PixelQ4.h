#ifndef PIXELQ4_H
#define PIXELQ4_H

// One frame-image pixel: four 15-bit channels (0..32767, 32767 full) stored
// as unsigned 16-bit words, R, G, B, A. Plain 8-byte record.
struct PixelQ4 {
  unsigned short r;
  unsigned short g;
  unsigned short b;
  unsigned short a;

  // (5 R + 8 G + 3 B) >> 4
  void GetLuminance(unsigned short& l) const;
  // R = G = B = l; alpha kept.
  void SetLuminance(unsigned short l);
  // 15-bit HSV; hue 0..32767 spans the six sectors.
  void GetHSV(unsigned short& h, unsigned short& s, unsigned short& v) const;
  void SetHSV(unsigned short h, unsigned short s, unsigned short v);
};

static_assert(sizeof(PixelQ4) == 8, "PixelQ4 is a plain 8-byte record");

#endif

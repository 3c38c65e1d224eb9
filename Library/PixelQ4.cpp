#include "PixelQ4.h"

void PixelQ4::GetLuminance(unsigned short& l) const {
  l = static_cast<unsigned short>((5 * r + 8 * g + 3 * b) >> 4);
}

void PixelQ4::SetLuminance(unsigned short l) { r = g = b = l; }

void PixelQ4::GetHSV(unsigned short& h, unsigned short& s, unsigned short& v) const {
  const int rr = r >> 1, gg = g >> 1, bb = b >> 1;
  int max = rr > gg ? rr : gg;
  if (bb > max) max = bb;
  int min = rr < gg ? rr : gg;
  if (bb < min) min = bb;
  const int sat = max > 0 ? (max - min) * 16383 / max : 0;
  int hue = 0;
  if (sat != 0) {
    const int delta = max - min;
    const int rc = (max - rr) * 16383 / delta;
    const int gc = (max - gg) * 16383 / delta;
    const int bc = (max - bb) * 16383 / delta;
    if (rr == max)
      hue = bc - gc;
    else if (gg == max)
      hue = rc - bc + 32768;
    else
      hue = gc - rc + 65536;
    if (hue < 0) hue += 98304;
  }
  h = static_cast<unsigned short>((hue / 6) * 2);
  s = static_cast<unsigned short>(sat * 2);
  v = static_cast<unsigned short>(max * 2);
}

void PixelQ4::SetHSV(unsigned short h, unsigned short s, unsigned short v) {
  // Hues beyond the pixel range are taken as the largest hue.
  const int hh = (h > 32767 ? 32767 : h) >> 1;
  const int ss = s >> 1, vv = v >> 1;
  const int t = hh * 6;
  const int sector = t >> 14;
  const int f = t - sector * 16383;
  // Single precision throughout, as 268402688 (16383² to float precision)
  // implies: in double some channels come out one level higher.
  const float scale = static_cast<float>(vv) / 268402688.0f;
  const int p = (16383 - ss) * vv / 16383;
  const int q = static_cast<int>(static_cast<float>(268402689 - ss * f) * scale);
  const int u = static_cast<int>(static_cast<float>(268402689 - ss * (16383 - f)) * scale);
  int rr, gg, bb;
  switch (sector) {
    case 0: rr = vv; gg = u; bb = p; break;
    case 1: rr = q; gg = vv; bb = p; break;
    case 2: rr = p; gg = vv; bb = u; break;
    case 3: rr = p; gg = q; bb = vv; break;
    case 4: rr = u; gg = p; bb = vv; break;
    default: rr = vv; gg = p; bb = q; break;
  }
  r = static_cast<unsigned short>(rr * 2);
  g = static_cast<unsigned short>(gg * 2);
  b = static_cast<unsigned short>(bb * 2);
}

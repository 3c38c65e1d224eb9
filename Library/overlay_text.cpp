// Stroke text of the overlay surface in the simplex font.
#include "OverlayQ4.h"
#include "simplex_font.h"

float OverlayQ4::DrawText(float x, float y, const char* text, float sx, float sy, int draw) {
  float advance = 0.0f;
  if (!text) return 0.0f;
  for (const unsigned char* c = (const unsigned char*)text; *c; ++c) {
    if (*c < 32 || *c > 126) continue;
    const int* glyph = simplex[*c - 32];
    const int count = glyph[0];
    const int* v = glyph + 2;
    if (draw) {
      const float origin = advance * sx + x * zoom;
      int prev_x = v[0];
      int prev_y = v[1];
      for (int k = 1; k < count; ++k) {
        const int vx = v[2 * k];
        const int vy = v[2 * k + 1];
        if (vx == -1 && vy == -1) {
          prev_x = prev_y = -1;
        } else if (prev_x == -1 && prev_y == -1) {
          prev_x = vx;
          prev_y = vy;
        } else {
          DrawLine((prev_x * sx + origin) / zoom, (prev_y * sy + y) / zoom,
                   (vx * sx + origin) / zoom, (vy * sy + y) / zoom);
          prev_x = vx;
          prev_y = vy;
        }
      }
    }
    advance += glyph[1];
  }
  return advance * sx;
}

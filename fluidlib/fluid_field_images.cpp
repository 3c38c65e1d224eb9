// Pictures of the fields at image size: renderings resized into a frame, the
// velocity-grid checkerboard and an image re-quantised to the grid.
#include <cstdint>
#include <initializer_list>

#include "fluid_flow.h"
#include "image_data.h"
#include "image_q4.h"
#include "image_scale.h"
#include "image_line_taps.h"

namespace {

// Writes a word rendering into img, resized through a temporary of img's
// size when the sizes differ. The rendering is deleted on every path.
bool put_rendering(image_data* rendering, ImageQ4* img) {
  if (!rendering) return false;
  bool ok;
  if (rendering->width == img->width && rendering->height == img->height) {
    ok = to_Q4Image(rendering, img);
  } else {
    image_data* sized = image_data_create(img->width, img->height, rendering->channels, IMAGE_PIXEL_WORD, 1);
    ok = sized && image_scale(rendering, sized, 1, false) && to_Q4Image(sized, img);
    image_data_delete(sized);
  }
  image_data_delete(rendering);
  return ok;
}

}  // namespace

bool FluidFlow::get_some_field_image(ImageQ4* img, bool recompute, ScalarField* sf, VectorField* vf,
                                     bool as_vectors, bool fixed_range, float lo, float hi) {
  if (!image_usable(img)) return false;
  image_data* rendering = nullptr;
  if (sf)
    rendering = sf->magnitude_image(recompute, fixed_range, lo, hi, IMAGE_PIXEL_WORD);
  else if (vf)
    rendering = as_vectors ? vf->vector_image(recompute, IMAGE_PIXEL_WORD)
                           : vf->magnitude_image(recompute, IMAGE_PIXEL_WORD);
  return put_rendering(rendering, img);
}

bool FluidFlow::get_velocity_vector_image(ImageQ4* img, bool recompute) {
  return get_some_field_image(img, recompute, nullptr, velocity, true, false, 0.0f, 0.0f);
}

bool FluidFlow::get_velocity_magnitude_image(ImageQ4* img, bool recompute) {
  return get_some_field_image(img, recompute, nullptr, velocity, false, false, 0.0f, 0.0f);
}

bool FluidFlow::get_force_vector_image(ImageQ4* img, bool recompute) {
  return get_some_field_image(img, recompute, nullptr, force, true, false, 0.0f, 0.0f);
}

bool FluidFlow::get_force_magnitude_image(ImageQ4* img, bool recompute) {
  return get_some_field_image(img, recompute, nullptr, force, false, false, 0.0f, 0.0f);
}

bool FluidFlow::get_scalar_field_magnitude_image(int slot, ImageQ4* img, bool recompute, bool fixed_range,
                                                 float lo, float hi) {
  if (slot < 0 || slot >= SLOT_COUNT || !fields[slot]) return false;
  return get_some_field_image(img, recompute, fields[slot], nullptr, false, fixed_range, lo, hi);
}

bool FluidFlow::get_scalar_field_colour_map_image(int slot, ImageQ4* img, float lo, float hi, const float* r,
                                                  const float* g, const float* b, const float* pos, int n) {
  if (slot < 0 || slot >= SLOT_COUNT || !fields[slot] || !image_usable(img)) return false;
  return put_rendering(fields[slot]->magnitude_image_colour_map(lo, hi, r, g, b, pos, n, IMAGE_PIXEL_WORD), img);
}

bool FluidFlow::combine_scalar_fields_to_image(int colour_slot, int alpha_slot, ImageQ4* img, float lo, float hi,
                                               const float* r, const float* g, const float* b, const float* pos,
                                               int n, float alpha_lo, float alpha_hi, const float* grey,
                                               const float* grey_pos, int grey_n, int transparent, float t_lo,
                                               float t_hi) {
  for (int s : {colour_slot, alpha_slot})
    if (s < 0 || s >= SLOT_COUNT || !fields[s]) return false;
  if (!image_usable(img)) return false;
  ScalarField* cf = fields[colour_slot];
  ScalarField* af = fields[alpha_slot];
  image_data* colour =
      transparent ? cf->magnitude_image_colour_map_transp(lo, hi, r, g, b, pos, n, cf, t_lo, t_hi, IMAGE_PIXEL_WORD)
                  : cf->magnitude_image_colour_map(lo, hi, r, g, b, pos, n, IMAGE_PIXEL_WORD);
  image_data* alpha =
      transparent
          ? af->magnitude_image_mono_map_transp(alpha_lo, alpha_hi, grey, grey_pos, grey_n, af, t_lo, t_hi,
                                                IMAGE_PIXEL_WORD)
          : af->magnitude_image_mono_map(alpha_lo, alpha_hi, grey, grey_pos, grey_n, IMAGE_PIXEL_WORD);
  image_data* rgba = nullptr;
  // The alpha picture is read pixel for pixel beside the colour one.
  if (colour && alpha && alpha->width == colour->width && alpha->height == colour->height)
    rgba = image_data_create(colour->width, colour->height, 4, IMAGE_PIXEL_WORD, 1);
  if (rgba) {
    for (int y = 0; y < rgba->height; ++y) {
      const uint16_t* c = reinterpret_cast<const uint16_t*>(image_row(colour, y));
      const uint16_t* a = reinterpret_cast<const uint16_t*>(image_row(alpha, y));
      uint16_t* out = reinterpret_cast<uint16_t*>(image_row(rgba, y));
      for (int x = 0; x < rgba->width; ++x, c += 3, out += 4) {
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
        out[3] = a[x];
      }
    }
  }
  image_data_delete(colour);
  image_data_delete(alpha);
  return put_rendering(rgba, img);
}

bool FluidFlow::get_velocity_grid_image(ImageQ4* img) {
  if (!image_usable(img)) return false;
  // Cells per pixel, (n - 1) / (w - 1) as image_unit works it out: an image
  // one pixel wide has no spacing and lies in the first cell.
  const float sx = image_unit(nx - 1, img->width), sy = image_unit(ny - 1, img->height);
  const unsigned short light = static_cast<unsigned short>(32767 * 0.7);
  const unsigned short dark = static_cast<unsigned short>(32767 * 0.2);
  for (int y = 0; y < img->height; ++y) {
    const int row_parity = static_cast<int>(static_cast<float>(y) * sy) & 1;
    PixelQ4* out = img->rows[y];
    for (int x = 0; x < img->width; ++x) {
      const int parity = static_cast<int>(static_cast<float>(x) * sx) & 1;
      const unsigned short v = parity == row_parity ? light : dark;
      out[x] = PixelQ4{v, v, v, 16383};
    }
  }
  return true;
}

bool FluidFlow::reduce_to_velocity_grid_resolution(ImageQ4* img, bool two_level) {
  if (!image_usable(img)) return false;
  worker_target = new ImageQ4(*img);
  // Without the copy there is nothing to read from: the image stays, and
  // the caller learns that it was not reduced.
  if (!image_usable(worker_target)) {
    delete worker_target;
    worker_target = nullptr;
    return false;
  }
  const int w = img->width, h = img->height;
  const float a = image_unit(nx - 1, w), b = image_unit(ny - 1, h);
  // The first pixel of the grid cell a pixel falls in; with no spacing
  // every pixel is in the first cell.
  auto first_of_cell = [](int k, float per_pixel, int n) {
    if (!(per_pixel > 0.0f)) return 0;
    const float p = static_cast<float>(static_cast<int>(static_cast<float>(k) * per_pixel)) / per_pixel;
    const int i = static_cast<int>(p);
    return i < n - 1 ? i : n - 1;
  };
  for (int y = 0; y < h; ++y) {
    const PixelQ4* in = worker_target->rows[first_of_cell(y, b, h)];
    PixelQ4* out = img->rows[y];
    for (int x = 0; x < w; ++x) {
      PixelQ4 p = in[first_of_cell(x, a, w)];
      if (two_level) {
        const unsigned short v =
            static_cast<float>(p.r + p.g + p.b) * 3.0517578e-5f * 0.333333f > 0.5f ? 32767 : 0;
        p = PixelQ4{v, v, v, v};
      }
      out[x] = p;
    }
  }
  delete worker_target;
  worker_target = nullptr;
  return true;
}

// The image layer's object, and frames into scalar fields and back.
#include "fluid_flow.h"

#include "ImageXfmQ4.h"
#include "fluid_numeric.h"
#include "q4_memory.h"

bool image_lines_alloc(ImageLines& lines, int w, int h) {
  const long long count = static_cast<long long>(w) + h;
  lines = ImageLines{nullptr, nullptr, nullptr, nullptr};
  if (w < 1 || h < 1 || count * 16 > 0x7fffffffLL) return false;
  char* block = static_cast<char*>(q4_malloc(static_cast<unsigned>(count * 16), __FILE__, __LINE__));
  if (!block) return false;
  lines.unit = reinterpret_cast<float*>(block);
  lines.a = reinterpret_cast<int*>(block + count * 4);
  lines.b = reinterpret_cast<int*>(block + count * 8);
  lines.f = reinterpret_cast<float*>(block + count * 12);
  return true;
}

void image_lines_free(ImageLines& lines) {
  if (lines.unit) q4_free(lines.unit, __FILE__, __LINE__);
  lines = ImageLines{nullptr, nullptr, nullptr, nullptr};
}

FluidFlow::FluidFlow(int nx_, int ny_, int method_, int scalar_nx, int scalar_ny)
    : FluidFlowCore(nx_, ny_, method_, scalar_nx, scalar_ny),
      scalar_grid_image(new ImageQ4(snx, sny, 1.0f, nullptr, nullptr)),
      velocity_grid_image(new ImageQ4(nx, ny, 1.0f, nullptr, nullptr)),
      resampler(new ImageXfmQ4()),
      worker_source(nullptr),
      worker_target(nullptr),
      worker_amount(0.0f),
      resample_block{},
      blur_block{},
      composite_block{},
      diffusion_block{} {}

FluidFlow::~FluidFlow() {
  delete scalar_grid_image;
  delete velocity_grid_image;
  delete resampler;
}

// A slot that holds a field of the scalar grid, whose cells the
// scalar-grid image covers one for one.
bool FluidFlow::scalar_slot(int s) const {
  return s >= 0 && s < SLOT_COUNT && fields[s] && fields[s]->has_storage() && fields[s]->nx == snx &&
         fields[s]->ny == sny;
}

bool FluidFlow::insert_channels(ImageQ4* img, const int* slots, int count, float scale, bool luminance,
                                bool centred, bool add) {
  for (int k = 0; k < count; ++k)
    if (!scalar_slot(slots[k])) return false;
  if (!image_usable(img) || !image_usable(scalar_grid_image) || !resampler) return false;
  // Handed over on every use: the executor may have changed since the last.
  resampler->set_mp_exec(hook_context, executor);
  if (!resampler->scale_image(img, scalar_grid_image)) return false;

  int x0, x1, gx, y0, y1, gy;
  fields[slots[0]]->get_bounds(x0, x1, gx, y0, y1, gy);
  const float offset = centred ? 49152.0f : 0.0f;
  for (int j = y0; j < y1 && !stopped(); ++j) {
    const PixelQ4* in = scalar_grid_image->rows[j - gy];
    for (int k = 0; k < count; ++k) {
      ScalarField* f = fields[slots[k]];
      float* out = f->data + j * f->stride();
      for (int i = x0; i < x1; ++i) {
        const PixelQ4& p = in[i - gx];
        float v;
        if (luminance) {
          v = (static_cast<float>(p.r + p.g + p.b) - offset) * scale * 1.0172526e-5f;
        } else {
          const unsigned short c[4] = {p.r, p.g, p.b, p.a};
          v = static_cast<float>(c[k]) * scale * 3.0517578e-5f;
        }
        out[i] = add ? out[i] + v : v;
      }
    }
  }
  return true;
}

bool FluidFlow::insert_imageQ4_RGBA_as_scalars(ImageQ4* img, int r, int g, int b, int a, float scale,
                                               bool add) {
  const int slots[4] = {r, g, b, a};
  return insert_channels(img, slots, 4, scale, false, false, add);
}

bool FluidFlow::insert_imageQ4_LUM_as_scalar(ImageQ4* img, int slot, float scale, bool centred, bool add) {
  return insert_channels(img, &slot, 1, scale, true, centred, add);
}

bool FluidFlow::extract_imageQ4_from_scalars(ImageQ4* img, int r, int g, int b, int a) {
  const int slots[4] = {r, g, b, a};
  for (int s : slots)
    if (!scalar_slot(s)) return false;
  if (!image_usable(img) || !image_usable(scalar_grid_image) || !resampler) return false;
  int x0, x1, gx, y0, y1, gy;
  fields[r]->get_bounds(x0, x1, gx, y0, y1, gy);
  for (int j = y0; j < y1; ++j) {
    PixelQ4* out = scalar_grid_image->rows[j - gy];
    for (int i = x0; i < x1; ++i) {
      unsigned short c[4];
      for (int k = 0; k < 4; ++k) {
        const ScalarField* f = fields[slots[k]];
        // 1.0 would give 32768, past the 15-bit range that every reader
        // of the image (the samplers' signed 16-bit lanes) relies on.
        const float v = clamped(f->data[j * f->stride() + i], 0.0f, 1.0f) * 32768.0f + 0.5f;
        c[k] = static_cast<unsigned short>(v < 32767.0f ? v : 32767.0f);
      }
      out[i - gx] = PixelQ4{c[0], c[1], c[2], c[3]};
    }
  }
  resampler->set_mp_exec(hook_context, executor);
  return resampler->scale_image(scalar_grid_image, img);
}

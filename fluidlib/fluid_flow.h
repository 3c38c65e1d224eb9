#ifndef FLUID_FLOW_H
#define FLUID_FLOW_H

#include "ImageQ4.h"
#include "fluid_flow_core.h"
#include "row_chunks.h"

class ImageXfmQ4;

// An image with pixels (a failed allocation leaves an image of size 0).
inline bool image_usable(const ImageQ4* img) { return img && img->rows && img->width > 0 && img->height > 0; }

// What bands that read the source all over take as it: src itself, or,
// when they write that same image, a copy made into `copy` (the caller
// deletes it). Null when the copy cannot be had.
inline ImageQ4* source_for_bands(ImageQ4* src, const ImageQ4* dst, ImageQ4*& copy) {
  copy = src == dst ? new ImageQ4(*src) : nullptr;
  if (!copy) return src;
  if (image_usable(copy)) return copy;
  delete copy;
  copy = nullptr;
  return nullptr;
}

// Where the columns and then the rows of an image lie: each one's position
// 0..1 across the image and the bilinear taps (a, b, fraction f) of that
// position on a field grid. One array a quantity, so that a row of pixels
// loads them side by side; worked out once a call and shared read-only by
// all bands.
struct ImageLines {
  float* unit;
  int* a;
  int* b;
  float* f;
};
// One block for w + h lines (q4_malloc); false when refused.
bool image_lines_alloc(ImageLines& lines, int w, int h);
void image_lines_free(ImageLines& lines);

// The simulation object the effect owns: the solver with an image layer on
// top. Frames go into scalar fields and come back out through the scalar
// grid's work image; the picture itself travels at image resolution, looked
// up through the texture-coordinate fields, blurred, faded, fed by sources
// and composited.
//
// Pixels are the 15-bit channels of ImageQ4; a field value of 1.0 is a
// channel of 32768 (luminance: a sum R + G + B of 98304), held to 32767 on
// the way back into a frame.
//
// Orientation: image row 0 is the first interior row of a field, and the
// renderings come back the same way up.
//
// Band work runs through the solver's executor: an operation leaves its
// arguments in the worker members and the private blocks below, then hands
// its rows (or columns) to mp_exec; each band writes only its own rows (the
// resampling and the motion blur: the rows it claims, row_chunks.h), so
// results do not depend on the split. One operation runs at a time.
class FluidFlow : public FluidFlowCore {
 public:
  FluidFlow(int nx, int ny, int method, int scalar_nx, int scalar_ny);
  ~FluidFlow() override;

  // Frames into fields and back (through the scalar-grid image).
  bool insert_imageQ4_RGBA_as_scalars(ImageQ4* img, int r, int g, int b, int a, float scale, bool add);
  bool insert_imageQ4_LUM_as_scalar(ImageQ4* img, int slot, float scale, bool centred, bool add);
  bool extract_imageQ4_from_scalars(ImageQ4* img, int r, int g, int b, int a);

  // Pictures of the fields, resized into img.
  bool get_some_field_image(ImageQ4* img, bool recompute, ScalarField* sf, VectorField* vf, bool as_vectors,
                            bool fixed_range, float lo, float hi);
  bool get_velocity_vector_image(ImageQ4* img, bool recompute);
  bool get_velocity_magnitude_image(ImageQ4* img, bool recompute);
  bool get_force_vector_image(ImageQ4* img, bool recompute);
  bool get_force_magnitude_image(ImageQ4* img, bool recompute);
  bool get_scalar_field_magnitude_image(int slot, ImageQ4* img, bool recompute, bool fixed_range, float lo,
                                        float hi);
  bool get_scalar_field_colour_map_image(int slot, ImageQ4* img, float lo, float hi, const float* r,
                                         const float* g, const float* b, const float* pos, int n);
  bool combine_scalar_fields_to_image(int colour_slot, int alpha_slot, ImageQ4* img, float lo, float hi,
                                      const float* r, const float* g, const float* b, const float* pos, int n,
                                      float alpha_lo, float alpha_hi, const float* grey, const float* grey_pos,
                                      int grey_n, int transparent, float t_lo, float t_hi);
  bool get_velocity_grid_image(ImageQ4* img);
  bool reduce_to_velocity_grid_resolution(ImageQ4* img, bool two_level);

  // Image operations driven by a scalar field.
  bool temperature_controlled_transparency(int slot, float threshold, float width, ImageQ4* img);
  bool modulate_image_with_scalar_field(int slot, ImageQ4* src, ImageQ4* dst, float a, float b, float c);

  // Resampling through the texture-coordinate fields, sources added into the
  // texture, and motion blur along the flow. A resampling given `kept`
  // (neither src nor dst, of their size) writes each row there too while
  // the row is in the cache: the texture's next self, without a second pass
  // over the frame.
  bool resample_image_using_texture_field(ImageQ4* src, ImageQ4* dst, bool edge_escape, ImageQ4* kept = nullptr);
  bool resample_image_using_texture_field_not_recursive(ImageQ4* src, ImageQ4* dst, bool edge_escape);
  bool add_source_for_texture_method(ImageQ4* src, ImageQ4* texture, float amount);
  bool motion_blur_image(ImageQ4* src, ImageQ4* dst);
  bool add_source_for_texture_method_with_motion_blur(ImageQ4* src, ImageQ4* texture, float amount);
  // Band workers of the blur: each claims rows of the blur in progress
  // until none is left, whatever its bounds.
  static void mp_motion_blur_core(void* flow, int first_row, int last_row);
  static void mp_motion_blur_core_add(void* flow, int first_row, int last_row);

  // Blurs img by three box passes along rows and then columns, at a radius
  // of the texture diffusion rate times half the width (a fraction mixing
  // the two whole radii around it), and fades it by 1 / (1 + the texture
  // dissipation rate) on the way into the column passes.
  void texture_diffuse_dissipate(ImageQ4* img);
  static void mp_box_gauss_hor_4(void* flow, int first_row, int last_row);
  static void mp_box_gauss_vert_4(void* flow, int first_col, int last_col);

  // fg over bg into out (which may be either input); false, out untouched,
  // when the sizes differ.
  bool composite_over_by_alpha(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, bool premultiply);
  bool composite_over_by_value(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, bool premultiply, float value);
  bool composite_over_extract_matte(ImageQ4* bg, ImageQ4* fg, ImageQ4* out);

  ImageQ4* scalar_grid_image;
  ImageQ4* velocity_grid_image;
  ImageXfmQ4* resampler;
  ImageQ4* worker_source;
  ImageQ4* worker_target;
  float worker_amount;

 private:
  struct ResampleBlock {
    ImageLines lines;
    ImageQ4* kept;
    bool fade, wrap_x, wrap_y, footprint;
  };
  struct BlurBlock {
    ImageLines lines;
  };
  // A whole radius r and the weight k (in 1024ths) of r + 1.
  struct DiffusionRadius {
    int r, k;
  };
  struct DiffusionBlock {
    DiffusionRadius radius[2];  // rows, columns
    float keep;                 // dissipation factor
  };
  struct CompositeBlock {
    ImageQ4* bg;
    ImageQ4* fg;
    ImageQ4* out;
    int alpha_scale;  // 32768 keeps the foreground's alpha
    bool premultiply, matte;
  };

  bool stopped() const { return abort_test && abort_test(hook_context); }
  bool scalar_slot(int slot) const;
  bool insert_channels(ImageQ4* img, const int* slots, int count, float scale, bool luminance, bool centred,
                       bool add);
  bool resample(ImageQ4* src, ImageQ4* dst, bool edge_escape, bool footprint, ImageQ4* kept);
  bool blur_along_flow(ImageQ4* src, ImageQ4* dst, float amount, bool add);
  bool composite(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, int alpha_scale, bool premultiply, bool matte);
  static DiffusionRadius diffusion_radius(float radius, int limit);
  template <bool Columns>
  static void diffuse_band(FluidFlow* self);
  static void mp_resample(void* flow, int first_row, int last_row);
  static void mp_composite(void* flow, int first_row, int last_row);
  static void blur_band(FluidFlow* self, bool add);

  ResampleBlock resample_block;
  BlurBlock blur_block;
  CompositeBlock composite_block;
  DiffusionBlock diffusion_block;
  // The rows of the resampling, the motion blur and the texture diffusion
  // (its columns too), which their bands
  // claim a chunk at a time instead of keeping to their own.
  RowChunks row_chunks;
};

#endif

// Texture diffusion and dissipation: the picture carried by the flow is
// blurred by three integer box passes along rows, then along columns, a
// fractional radius mixing the whole radii around it, and faded on its way
// into the column passes.

#include "box_lanes.h"
#include "box_sweep.h"
#include "fluid_flow.h"
#include "fluid_numeric.h"
#include "line_filter.h"

namespace {

// Lines filtered side by side: 32 lanes of four channels.
const int kLines = 8;
const int kLanes = kLines * RgbaChannels::count;
// Lines a band claims at a time (row_chunks.h), whole groups of kLines.
const int kChunkLines = 4 * kLines;

}  // namespace

FluidFlow::DiffusionRadius FluidFlow::diffusion_radius(float radius, int limit) {
  float R = radius > 0.0f ? radius : 0.0f;  // not-a-number too
  if (R > static_cast<float>(limit)) R = static_cast<float>(limit);
  const int r = static_cast<int>(R);
  return DiffusionRadius{r, static_cast<int>((R - static_cast<float>(r)) * 1024.0f)};
}

void FluidFlow::texture_diffuse_dissipate(ImageQ4* img) {
  if (!image_usable(img)) return;
  // Both rates at 0 make every pass the identity (radius 0, the whole weight
  // on it, a factor of 1).
  if (!(texture_diffusion > 0.0f) && !(texture_dissipation > 0.0f)) return;
  const int w = img->width, h = img->height;
  // The width sets the radius both ways; each direction holds it to half
  // its own length.
  const float radius = static_cast<float>(w) * texture_diffusion * 0.5f;
  // The setters hold both rates to 0 and up; a rate written past them
  // must not make the factor grow channels past 16 bits.
  diffusion_block = DiffusionBlock{{diffusion_radius(radius, w / 2), diffusion_radius(radius, h / 2)},
                                   1.0f / (1.0f + at_least(texture_dissipation, 0.0f))};
  // Every line is gathered whole before it is written and bands own whole
  // lines: the passes read and write the picture in place, as they would
  // a copy.
  worker_source = worker_target = img;
  row_chunks.reset(h, kChunkLines);
  mp_exec(mp_box_gauss_hor_4, h);
  row_chunks.reset(w, kChunkLines);
  mp_exec(mp_box_gauss_vert_4, w);
  worker_source = worker_target = nullptr;
}

void FluidFlow::mp_box_gauss_hor_4(void* flow, int, int) {
  diffuse_band<false>(static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow)));
}

void FluidFlow::mp_box_gauss_vert_4(void* flow, int, int) {
  diffuse_band<true>(static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow)));
}

// Rows go from the source image into the target, columns back; a band
// whose working lines cannot be had claims none, and those it would have
// taken fall to the others.
template <bool Columns>
void FluidFlow::diffuse_band(FluidFlow* self) {
  const DiffusionBlock& job = self->diffusion_block;
  const ImageQ4& from = Columns ? *self->worker_target : *self->worker_source;
  ImageQ4& to = Columns ? *self->worker_source : *self->worker_target;
  const int n = line_length<Columns>(from);
  const DiffusionRadius b = job.radius[Columns ? 1 : 0];
  // With no weight on r + 1 the mix gives the passes at r back: the others
  // are not run.
  const BoxSweep sweep{n, kLanes, b.r, b.k > 0, 1024 - b.k, b.k, Columns ? job.keep : 1.0f};
  BandScratch<int> scratch(box_sweep_scratch(sweep));
  int* work = scratch.get();
  if (!work) return;
  int first, last;
  while (!self->stopped() && self->row_chunks.claim(first, last))
    for (int line = first; line <= last && !self->stopped(); line += kLines) {
      const int lines = last - line + 1 < kLines ? last - line + 1 : kLines;
      ImageSweepLines<Columns, RgbaChannels> io(from, to, line, lines, kLanes, RgbaChannels{});
      box_sweep(sweep, work, io);
    }
}

// The image side of one frame of the effect at 1920x1080 on a 128 grid,
// after 20 steps of a swirling flow, on 1 and 8 host workers through the
// framework's executor: the texture resampled through the flow, the input's
// luminance inserted, the texture blurred and faded, composited over a
// background, and one source fed in along a flow of 1 % of the frame a
// frame (57 samples a pixel). Beside them the peers (an affine resampling of
// the frame, the image library's Porter-Duff over, the frame image's own
// box-pass Gaussian) and the memory-copy floor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "ImageXfmQ4.h"
#include "PluginQ4.h"
#include "effect_services.h"
#include "fluid_bench_flow.h"
#include "fluid_flow.h"
#include "frame_copy_bands.h"
#include "image_data.h"
#include "image_porterduff.h"
#include "image_q4.h"

namespace {

const int kWidth = 1920, kHeight = 1080;
#define WORKERS(bm) BENCHMARK(bm)->Arg(1)->Arg(8)->ArgName("workers")->Unit(benchmark::kMillisecond)->UseRealTime()

ImageQ4* noise_frame(unsigned seed, bool opaque) {
  ImageQ4* img = new ImageQ4(kWidth, kHeight, 1.0f, nullptr, nullptr);
  std::mt19937 rng(seed);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const unsigned v = rng();
      img->rows[y][x] = PixelQ4{static_cast<unsigned short>(v & 32767), static_cast<unsigned short>((v >> 15) & 32767),
                                static_cast<unsigned short>((v >> 7) & 32767),
                                static_cast<unsigned short>(opaque ? 32767 : (v >> 3) & 32767)};
    }
  return img;
}

struct Frame {
  PluginQ4 plugin;
  std::unique_ptr<FluidFlow> flow;
  std::unique_ptr<ImageQ4> input{noise_frame(1, true)};
  std::unique_ptr<ImageQ4> background{noise_frame(2, true)};
  std::unique_ptr<ImageQ4> texture{noise_frame(3, false)};
  std::unique_ptr<ImageQ4> result{new ImageQ4(kWidth, kHeight, 1.0f, nullptr, nullptr)};
  int density = -1;

  explicit Frame(int workers) {
    flow = bench_flow<FluidFlow>(plugin, workers, 128, 128, 2);
    density = flow->create_scalar_field("density");
    // Three swirls of different sense and size, kept turning.
    for (int step = 0; step < 20; ++step) {
      flow->set_force(0, 0);
      flow->add_force_vortex(0.0012f, 0.3f, 0.35f, 0.25f, 1.0f);
      flow->add_force_vortex(-0.0009f, 0.7f, 0.6f, 0.3f, 1.0f);
      flow->add_force_vortex(0.0006f, 0.5f, 0.85f, 0.15f, 1.0f);
      flow->advance_time_step(true);
    }
    std::memcpy(result->storage, texture->storage, sizeof(PixelQ4) * kWidth * kHeight);
  }

  // The largest velocity, in frames a frame.
  double top_speed() const {
    const VectorField* v = flow->velocity;
    double top = 0;
    for (int k = 0; k < v->cell_count(); ++k) top = std::fmax(top, std::hypot(v->u[k], v->v[k]));
    return top;
  }

  // A swirl of speed 0.01 everywhere: a trail of 3 * 0.01 * 1920 = 57.6,
  // so 57 samples, at every pixel.
  void set_blur_flow() {
    VectorField* v = flow->velocity;
    const int w = v->stride();
    for (int j = 0; j < v->ny + 2; ++j)
      for (int i = 0; i < w; ++i) {
        const float a = 0.05f * i + 0.08f * j;
        v->u[j * w + i] = 0.01f * std::cos(a);
        v->v[j * w + i] = 0.01f * std::sin(a);
      }
  }
};

void BM_ResampleThroughFlow(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  for (auto _ : state) f.flow->resample_image_using_texture_field(f.texture.get(), f.result.get(), true);
  state.counters["top_speed"] = f.top_speed();
}

void BM_ResampleIdentity(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  f.flow->init_texture_field();
  for (auto _ : state) f.flow->resample_image_using_texture_field(f.texture.get(), f.result.get(), true);
}
WORKERS(BM_ResampleIdentity);

void BM_LuminanceInsert(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  for (auto _ : state) f.flow->insert_imageQ4_LUM_as_scalar(f.input.get(), f.density, 1.0f, false, false);
}

// Rate 0.005 on 1920 pixels: a radius of 4.8; the dissipation of 1 % left
// after 50 frames.
void BM_TextureDiffuse(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  f.flow->set_texture_diffusion_rate(0.005f);
  f.flow->set_texture_dissipation_rate(0.0965f);
  for (auto _ : state) {
    f.flow->texture_diffuse_dissipate(f.result.get());
    state.PauseTiming();
    copy_frame_in_bands(f.result.get(), f.texture.get());
    state.ResumeTiming();
  }
}

void BM_CompositeOverByAlpha(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  // In place into the result, as the effect does; the foreground is put
  // back outside the timing so every pass composites the same pixels.
  for (auto _ : state) {
    f.flow->composite_over_by_alpha(f.background.get(), f.result.get(), f.result.get(), true);
    state.PauseTiming();
    copy_frame_in_bands(f.result.get(), f.texture.get());
    state.ResumeTiming();
  }
}

void BM_MotionBlurredSource(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  f.set_blur_flow();
  for (auto _ : state) f.flow->add_source_for_texture_method_with_motion_blur(f.input.get(), f.texture.get(), 0.01f);
}

// Peer: an affine resampling of the frame (a small turn about its centre)
// with the same bilinear sampler, in the same bands.
struct AffinePeer {
  ImageXfmQ4 xfm;
  ImageQ4* src;
  ImageQ4* dst;
  static void band(void* object, int first, int last) {
    AffinePeer* self = static_cast<AffinePeer*>(object);
    self->xfm.apply(self->src, self->dst, first, last);
  }
};

void BM_PeerAffineResample(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  AffinePeer peer{{}, f.texture.get(), f.result.get()};
  peer.xfm.sampleMode(2);
  peer.xfm.translate(-kWidth / 2.0, -kHeight / 2.0);
  peer.xfm.rotate(3.0);
  peer.xfm.translate(kWidth / 2.0, kHeight / 2.0);
  peer.xfm.compose();
  peer.xfm.set_transform(1);
  for (auto _ : state) lib_mp_exec(&f.plugin, AffinePeer::band, kHeight, &peer);
}

void BM_PeerPorterDuffOver(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  image_data* fg = from_Q4Image(f.texture.get());
  image_data* bg = from_Q4Image(f.background.get());
  image_data* out = from_Q4Image(f.result.get());
  imagelib_set_mp_exec(&f.plugin, lib_mp_exec);
  for (auto _ : state) image_composite_porterduff(out, fg, IMAGE_PD_A_OVER_B, bg, true, -1, -1, -1, -1);
  imagelib_set_mp_exec(nullptr, nullptr);
  image_data_delete(fg);
  image_data_delete(bg);
  image_data_delete(out);
}

// Peer: the frame image's own box-pass Gaussian at the same radius, rows
// then columns in place.
void BM_PeerFrameBoxBlur(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  for (auto _ : state) f.result->Box_GaussianBlur(4.8f, nullptr, 2, 1);
}

// The floor: one frame copied once, in bands on the same workers.
void BM_FrameCopyFloor(benchmark::State& state) {
  Frame f(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    copy_frame_in_bands(f.result.get(), f.texture.get());
    benchmark::DoNotOptimize(f.result->storage);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * sizeof(PixelQ4) * kWidth * kHeight);
}

WORKERS(BM_ResampleThroughFlow);
WORKERS(BM_LuminanceInsert);
WORKERS(BM_TextureDiffuse);
WORKERS(BM_CompositeOverByAlpha);
WORKERS(BM_MotionBlurredSource);
WORKERS(BM_PeerAffineResample);
WORKERS(BM_PeerPorterDuffOver);
WORKERS(BM_PeerFrameBoxBlur);
WORKERS(BM_FrameCopyFloor);

}  // namespace

#include "render_clips.h"

#include <cstdint>

#include "q4_filename.h"

bool parse_sequence(const std::string& path, Sequence& sequence) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::vector<char> base(path.size() + 1), extension(path.size() + 1);
  const int digits = file_name_parse_image_file_name(path.c_str(), base.data(), extension.data(), nullptr);
  if (digits < 0) return false;
  sequence.head = folder + base.data();
  sequence.extension = extension.data();
  sequence.digits = digits;
  return true;
}

std::string sequence_file(const Sequence& sequence, int frame) {
  if (sequence.digits < 1) return sequence.head + sequence.extension;
  std::vector<char> name(sequence.head.size() + sequence.extension.size() + 32);
  file_name_format_image_file_name(sequence.head.c_str(), sequence.extension.c_str(), frame,
                                   sequence.digits, name.data());
  return name.data();
}

void frame_to_host(const FrameImage& image, void* buffer, bool deep12) {
  const size_t row = static_cast<size_t>(image.width) * 3;
  const unsigned maxval = static_cast<unsigned>(image.maxval);
  for (int y = 0; y < image.height; ++y) {
    const uint16_t* in = image.samples.data() + static_cast<size_t>(image.height - 1 - y) * row;
    if (deep12) {
      uint16_t* out = static_cast<uint16_t*>(buffer) + static_cast<size_t>(y) * row;
      for (size_t i = 0; i < row; ++i)
        out[i] = static_cast<uint16_t>((out[i] & 15u) | rescale_sample(in[i], maxval, 4095) << 4);
    } else {
      uint8_t* out = static_cast<uint8_t*>(buffer) + static_cast<size_t>(y) * row;
      for (size_t i = 0; i < row; ++i) out[i] = static_cast<uint8_t>(rescale_sample(in[i], maxval, 255));
    }
  }
}

void host_to_frame(const void* buffer, int width, int height, bool deep12, FrameImage& image) {
  image.width = width;
  image.height = height;
  image.maxval = deep12 ? 65535 : 255;
  const size_t row = static_cast<size_t>(width) * 3;
  image.samples.resize(row * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    uint16_t* out = image.samples.data() + static_cast<size_t>(height - 1 - y) * row;
    if (deep12) {
      const uint16_t* in = static_cast<const uint16_t*>(buffer) + static_cast<size_t>(y) * row;
      for (size_t i = 0; i < row; ++i) out[i] = static_cast<uint16_t>(rescale_sample(in[i] >> 4, 4095, 65535));
    } else {
      const uint8_t* in = static_cast<const uint8_t*>(buffer) + static_cast<size_t>(y) * row;
      for (size_t i = 0; i < row; ++i) out[i] = in[i];
    }
  }
}

namespace {

struct Colour {
  uint16_t r, g, b;
};

// 75 % bars, as a colour-bar chart lays them out.
const Colour bars[7] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                        {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};

void put(FrameImage& image, int x, int y, Colour c) {
  uint16_t* p = image.samples.data() + (static_cast<size_t>(y) * image.width + x) * 3;
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

// Inside the circle of radius r (in pixels, scaled by 1024) around (cx, cy).
bool in_disc(int64_t x, int64_t y, int64_t cx, int64_t cy, int64_t r) {
  const int64_t dx = x * 1024 - cx, dy = y * 1024 - cy;
  return dx * dx + dy * dy <= r * r;
}

}  // namespace

void draw_builtin_clip(int frame, int width, int height, FrameImage& image) {
  image.width = width > 0 ? width : 0;
  image.height = height > 0 ? height : 0;
  image.maxval = 255;
  image.samples.assign(static_cast<size_t>(image.width) * image.height * 3, 0);
  const int64_t w = image.width, h = image.height;
  // Shape geometry in pixels scaled by 1024, from integer fractions of the
  // size: no floating point, so every run draws the same pixels.
  const int64_t disc_x = w * 1024 * 3 / 10, disc_y = h * 1024 * 2 / 5, disc_r = h * 1024 / 6;
  const int64_t ring_x = w * 1024 * 7 / 10, ring_y = h * 1024 * 3 / 5, ring_outer = h * 1024 / 5,
                ring_inner = h * 1024 / 8;
  const int64_t side = h / 10 > 1 ? h / 10 : 1;
  const int64_t square_x = (static_cast<int64_t>(frame % 50 + 50) % 50) * w / 50;
  const int64_t square_y = h * 4 / 5;
  const int64_t grid = h / 8 > 4 ? h / 8 : 4;
  for (int64_t y = 0; y < h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      Colour c = y < h * 3 / 4 ? bars[x * 7 / w]
                               : Colour{static_cast<uint16_t>(x * 255 / (w > 1 ? w - 1 : 1)),
                                        static_cast<uint16_t>(x * 255 / (w > 1 ? w - 1 : 1)),
                                        static_cast<uint16_t>(x * 255 / (w > 1 ? w - 1 : 1))};
      if (x % grid == 0 || y % grid == 0) c = {16, 16, 16};
      if (in_disc(x, y, disc_x, disc_y, disc_r)) c = {255, 255, 255};
      if (in_disc(x, y, ring_x, ring_y, ring_outer) && !in_disc(x, y, ring_x, ring_y, ring_inner))
        c = {255, 240, 40};
      if (x >= square_x && x < square_x + side && y >= square_y && y < square_y + side)
        c = {255, 60, 200};
      put(image, static_cast<int>(x), static_cast<int>(y), c);
    }
  }
}

void ClipInputs::Set(int clip, const std::string& name) {
  if (clip < 1 || clip > 6) return;
  Input& input = inputs_[clip - 1];
  input = Input();
  if (name == "builtin") {
    input.kind = builtin;
  } else if (parse_sequence(name, input.files)) {
    input.kind = input.files.digits > 0 ? sequence : still;
  }
}

ClipInputs::Kind ClipInputs::kind(int clip) const {
  return clip >= 1 && clip <= 6 ? inputs_[clip - 1].kind : none;
}

std::string ClipInputs::File(int clip, int frame) const {
  const Kind k = kind(clip);
  return k == sequence || k == still ? sequence_file(inputs_[clip - 1].files, frame) : "";
}

bool ClipInputs::Fill(int clip, int frame, void* buffer, int width, int height, bool deep12,
                      std::string& error) {
  const Kind k = kind(clip);
  if (k == none || !buffer) return true;
  Input& input = inputs_[clip - 1];
  const std::string where = "clip " + std::to_string(clip) + " frame " + std::to_string(frame) + ": ";
  FrameImage read;
  const FrameImage* image = &read;
  if (k == builtin) {
    draw_builtin_clip(frame, width, height, read);
  } else if (k == still && input.loaded.width > 0) {
    image = &input.loaded;
  } else {
    std::string reason;
    if (!image_file_read(File(clip, frame), read, reason)) {
      error = where + reason;
      return false;
    }
    if (read.width != width || read.height != height) {
      error = where + File(clip, frame) + ": " + std::to_string(read.width) + "x" +
              std::to_string(read.height) + ", the frames are " + std::to_string(width) + "x" +
              std::to_string(height);
      return false;
    }
    if (k == still) {
      input.loaded = std::move(read);
      image = &input.loaded;
    }
  }
  frame_to_host(*image, buffer, deep12);
  return true;
}

#include "render_clips.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "q4_bands.h"
#include "q4_filename.h"
#include "q4_thread_start.h"
#include "q4_worker_pool.h"

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

namespace {

// rows(first, last) over the rows 0..count-1 in bands on the worker pool,
// by the one band rule; every row is worked out alone, so the bits never
// depend on the split. Four bands a worker, claimed by the runners that
// have cores, so a worker left out finds its share taken by the others.
template <typename Rows>
void in_bands(int count, int workers, const Rows& rows) {
  struct Context {
    const Rows* rows;
    int count;
  } context{&rows, count};
  const int most = workers > 0 ? workers : 1;
  q4_pool_share(4 * most, q4_pool_runners(most),
                [](void* data, int index, int bands) {
                  const Context& c = *static_cast<const Context*>(data);
                  long first = 0, last = -1;
                  q4_band(index, c.count, bands, ShortSplit::to_last, first, last);
                  if (first <= last) (*c.rows)(static_cast<int>(first), static_cast<int>(last));
                },
                &context);
}

// Host value of an 8-bit-scale sample v of 0..maxval: a byte, or a 12-bit
// word above the host's own low four bits.
inline void put_host(uint8_t* out, unsigned v, unsigned maxval) {
  *out = static_cast<uint8_t>(rescale_sample(v, maxval, 255));
}
inline void put_host(uint16_t* out, unsigned v, unsigned maxval) {
  *out = static_cast<uint16_t>((*out & 15u) | rescale_sample(v, maxval, 4095) << 4);
}

template <typename Sample>
void rows_to_host(const FrameImage& image, Sample* buffer, int first, int last) {
  const size_t row = static_cast<size_t>(image.width) * 3;
  const unsigned maxval = static_cast<unsigned>(image.maxval);
  for (int y = first; y <= last; ++y) {
    const uint16_t* in = image.samples.data() + static_cast<size_t>(image.height - 1 - y) * row;
    Sample* out = buffer + static_cast<size_t>(y) * row;
    for (size_t i = 0; i < row; ++i) put_host(out + i, in[i], maxval);
  }
}

}  // namespace

void frame_to_host(const FrameImage& image, void* buffer, bool deep12, int workers) {
  in_bands(image.height, workers, [&](int first, int last) {
    if (deep12)
      rows_to_host(image, static_cast<uint16_t*>(buffer), first, last);
    else
      rows_to_host(image, static_cast<uint8_t*>(buffer), first, last);
  });
}

bool host_to_frame(const void* buffer, int width, int height, bool deep12, FrameImage& image,
                   std::string& error) {
  image.width = width;
  image.height = height;
  image.maxval = deep12 ? 65535 : 255;
  if (!frame_image_allocate(image, error)) return false;
  const size_t row = static_cast<size_t>(width) * 3;
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
  return true;
}

namespace {

struct Colour {
  uint16_t r, g, b;
};

// 75 % bars, as a colour-bar chart lays them out.
const Colour bars[7] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                        {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
const Colour square_colour = {255, 60, 200};

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

// Geometry in pixels (scaled by 1024 for the shapes) from integer fractions
// of the size: no floating point, so every run draws the same pixels.

// Everything but the square, which alone moves: the same for every frame.
bool draw_background(int width, int height, FrameImage& image, int workers, std::string& error) {
  image.width = width > 0 ? width : 0;
  image.height = height > 0 ? height : 0;
  image.maxval = 255;
  if (!frame_image_allocate(image, error)) return false;
  const int64_t w = image.width, h = image.height;
  const int64_t disc_x = w * 1024 * 3 / 10, disc_y = h * 1024 * 2 / 5, disc_r = h * 1024 / 6;
  const int64_t ring_x = w * 1024 * 7 / 10, ring_y = h * 1024 * 3 / 5, ring_outer = h * 1024 / 5,
                ring_inner = h * 1024 / 8;
  const int64_t grid = h / 8 > 4 ? h / 8 : 4;
  in_bands(image.height, workers, [&](int first, int last) {
    for (int64_t y = first; y <= last; ++y) {
      for (int64_t x = 0; x < w; ++x) {
        const uint16_t ramp = static_cast<uint16_t>(x * 255 / (w > 1 ? w - 1 : 1));
        Colour c = y < h * 3 / 4 ? bars[x * 7 / w] : Colour{ramp, ramp, ramp};
        if (x % grid == 0 || y % grid == 0) c = {16, 16, 16};
        if (in_disc(x, y, disc_x, disc_y, disc_r)) c = {255, 255, 255};
        if (in_disc(x, y, ring_x, ring_y, ring_outer) && !in_disc(x, y, ring_x, ring_y, ring_inner))
          c = {255, 240, 40};
        put(image, static_cast<int>(x), static_cast<int>(y), c);
      }
    }
  });
  return true;
}

// The square of the frame, top row first, clipped to the picture: columns
// x0..x1-1 of rows y0..y1-1.
struct Square {
  int x0, x1, y0, y1;
};

Square square_of(int frame, int width, int height) {
  const int64_t w = width, h = height;
  const int64_t side = h / 10 > 1 ? h / 10 : 1;
  const int64_t x = (static_cast<int64_t>(frame % 50 + 50) % 50) * w / 50;
  const int64_t y = h * 4 / 5;
  return {static_cast<int>(x), static_cast<int>(std::min(x + side, w)), static_cast<int>(y),
          static_cast<int>(std::min(y + side, h))};
}

template <typename Sample>
void square_to_host(const Square& square, int width, int height, Sample* buffer) {
  for (int y = square.y0; y < square.y1; ++y) {
    Sample* out = buffer + (static_cast<size_t>(height - 1 - y) * width + square.x0) * 3;
    for (int x = square.x0; x < square.x1; ++x, out += 3) {
      put_host(out, square_colour.r, 255);
      put_host(out + 1, square_colour.g, 255);
      put_host(out + 2, square_colour.b, 255);
    }
  }
}

}  // namespace

bool draw_builtin_clip(int frame, int width, int height, FrameImage& image) {
  std::string error;
  if (!draw_background(width, height, image, 1, error)) return false;
  const Square square = square_of(frame, image.width, image.height);
  for (int y = square.y0; y < square.y1; ++y)
    for (int x = square.x0; x < square.x1; ++x) put(image, x, y, square_colour);
  return true;
}

namespace {

bool all_digits(const char* begin, const char* end) {
  if (begin == end) return false;
  for (const char* c = begin; c < end; ++c)
    if (*c < '0' || *c > '9') return false;
  return true;
}

// Whether the folder of `name` holds a file of the same head and extension
// with another number in between.
bool other_numbers_exist(const Sequence& files, const std::string& name) {
  const size_t slash = files.head.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : files.head.substr(0, slash + 1);
  const std::string head = slash == std::string::npos ? files.head : files.head.substr(slash + 1);
  const std::string own = name.substr(name.rfind('/') + 1);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    const size_t length = std::strlen(entry->d_name);
    found = length > head.size() + files.extension.size() && own != entry->d_name &&
            std::strncmp(entry->d_name, head.c_str(), head.size()) == 0 &&
            std::strcmp(entry->d_name + length - files.extension.size(), files.extension.c_str()) == 0 &&
            all_digits(entry->d_name + head.size(), entry->d_name + length - files.extension.size());
    if (found) break;
  }
  closedir(dir);
  return found;
}

}  // namespace

void ClipInputs::Set(int clip, const std::string& name) {
  if (clip < 1 || clip > 6) return;
  Input& input = inputs_[clip - 1];
  input = Input();
  struct stat status;
  if (name == "builtin") {
    input.kind = builtin;
  } else if (parse_sequence(name, input.files)) {
    input.kind = input.files.digits > 0 && (stat(name.c_str(), &status) != 0 ||
                                            other_numbers_exist(input.files, name))
                     ? sequence
                     : still;
    // A still's own name is its file, digits and all.
    if (input.kind == still) input.files = Sequence{name, "", 0};
  }
}

ClipInputs::Kind ClipInputs::kind(int clip) const {
  return clip >= 1 && clip <= 6 ? inputs_[clip - 1].kind : none;
}

std::string ClipInputs::File(int clip, int frame) const {
  const Kind k = kind(clip);
  return k == sequence || k == still ? sequence_file(inputs_[clip - 1].files, frame) : "";
}

std::string ClipInputs::Summary(int clip, int first, int last) const {
  switch (kind(clip)) {
    case none: return "";
    case builtin: return "the built-in clip";
    case still: return File(clip, first) + ", a still";
    case sequence: break;
  }
  return File(clip, first) + (first < last ? " .. " + File(clip, last) : "") + ", a sequence";
}

ClipInputs::~ClipInputs() {
  for (Input& input : inputs_) Finish(input);
}

void ClipInputs::Finish(Input& input) {
  if (input.reading) pthread_join(input.reader, nullptr);
  input.reading = false;
}

void* ClipInputs::ReadAhead(void* data) {
  Read& read = *static_cast<Read*>(data);
  read.ok = image_file_read(read.file, read.image, read.error);
  return nullptr;
}

void ClipInputs::Take(Input& input, int clip, int frame, Read& read) {
  if (input.reading && input.ahead.frame == frame) Finish(input);
  if (!input.reading && input.held && input.ahead.frame == frame) {
    read = std::move(input.ahead);
    input.held = false;
  } else {
    read.frame = frame;
    read.file = File(clip, frame);
    read.ok = image_file_read(read.file, read.image, read.error);
  }
  // A thread that cannot be started leaves the next frame to be read when
  // it is asked for.
  if (input.kind != sequence || frame >= last_ || input.reading) return;
  input.ahead = Read();
  input.ahead.frame = frame + 1;
  input.ahead.file = File(clip, frame + 1);
  input.reading = input.held = q4_thread_start(&input.reader, &ClipInputs::ReadAhead, &input.ahead) == 0;
}

bool ClipInputs::Probe(int clip, int frame, int& width, int& height, std::string& error) {
  Input& input = inputs_[clip - 1];
  Finish(input);
  input.ahead = Read();
  input.ahead.frame = frame;
  input.ahead.file = File(clip, frame);
  input.ahead.ok = image_file_read(input.ahead.file, input.ahead.image, input.ahead.error);
  input.held = true;
  width = input.ahead.image.width;
  height = input.ahead.image.height;
  if (!input.ahead.ok) error = "clip " + std::to_string(clip) + " frame " + std::to_string(frame) + ": " + input.ahead.error;
  return input.ahead.ok;
}

bool ClipInputs::Fill(int clip, int frame, void* buffer, int width, int height, bool deep12,
                      std::string& error) {
  const Kind k = kind(clip);
  if (k == none || !buffer) return true;
  Input& input = inputs_[clip - 1];
  const std::string where = "clip " + std::to_string(clip) + " frame " + std::to_string(frame) + ": ";
  if (k == builtin) {
    if ((background_.width != width || background_.height != height) &&
        !draw_background(width, height, background_, workers_, error)) {
      error = where + "the built-in clip: " + error;
      return false;
    }
    frame_to_host(background_, buffer, deep12, workers_);
    const Square square = square_of(frame, width, height);
    if (deep12)
      square_to_host(square, width, height, static_cast<uint16_t*>(buffer));
    else
      square_to_host(square, width, height, static_cast<uint8_t*>(buffer));
    return true;
  }
  Read read;
  const FrameImage* image = &read.image;
  if (k == still && input.loaded.width > 0) {
    image = &input.loaded;
  } else {
    Take(input, clip, frame, read);
    if (!read.ok) {
      error = where + read.error;
      return false;
    }
    if (read.image.width != width || read.image.height != height) {
      error = where + read.file + ": " + std::to_string(read.image.width) + "x" +
              std::to_string(read.image.height) + ", the frames are " + std::to_string(width) + "x" +
              std::to_string(height);
      return false;
    }
    if (k == still) {
      input.loaded = std::move(read.image);
      image = &input.loaded;
    }
  }
  frame_to_host(*image, buffer, deep12, workers_);
  return true;
}

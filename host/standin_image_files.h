#ifndef STANDIN_IMAGE_FILES_H
#define STANDIN_IMAGE_FILES_H

// Frame images in files, chosen by the file name's extension (case ignored):
// ".ppm" (binary, any maxval up to 65535), ".png" (through libpng; read in
// any colour type, written as 8-bit RGB up to maxval 255, else 16-bit),
// and every format the image-file library's front end reaches (".tif",
// ".jpg", ".tq4", ".cin" and the rest), written 8-bit up to maxval 255, else
// 16-bit where the format holds it (a Cineon file always holds 10 bits).
// Every read and write of the host program goes through these two calls.
// Both may run on several threads at once, each on an image of its own:
// calls into the image-file library, which is global, take turns.

#include <cstdint>
#include <functional>
#include <string>

#include "standin_array.h"

// What a read found in the file, beside the picture it gives: the picture
// is RGB of 0..maxval whatever the file held, and these say what that was,
// from the one open of the file that read the picture.
struct ImageFileFound {
  enum Colours { grey, rgb, cmyk };
  int depth = 8;  // bits of a sample's values as the file holds them (10 for maxval 1023)
  Colours colours = rgb;
  // CMYK held as Adobe's JPEG files hold it: full scale where there is no ink.
  bool inverted = false;
};

// RGB samples of 0..maxval, top row first, three a pixel.
struct FrameImage {
  int width = 0;
  int height = 0;
  int maxval = 255;
  // A frame of depth 64 carries a matte: a 16-bit PNG is then written as
  // RGBA. The host's buffers hold no matte channel, so the matte is solid.
  bool matte = false;
  // Filled by a read; a write ignores it.
  ImageFileFound found;
  StandinArray<uint16_t> samples;
};

// Zeroed samples for the image's width and height; false with "not enough
// memory for a WxH picture (S)" when they cannot be had.
bool frame_image_allocate(FrameImage& image, std::string& error);

bool image_file_known(const std::string& path);

// False with a one-line reason when the file is missing, unreadable, not a
// whole image of a known format or too large for memory.
bool image_file_read(const std::string& path, FrameImage& image, std::string& error);

// Writes a temporary file beside path and renames it when complete: path is
// either the whole new image or untouched, and no temporary file is left.
// False with a one-line reason ("f.0001.tif: File too large").
bool image_file_write(const std::string& path, const FrameImage& image, std::string& error);

// As above, for frames written side by side that take their names in
// order: `commit` is called once the temporary is whole and says whether it
// takes path's name now; when it says no, the temporary is removed and the
// write fails ("f.0002.png: not committed").
bool image_file_write(const std::string& path, const FrameImage& image, std::string& error,
                      const std::function<bool()>& commit);

// For the handler of a signal that ends the program: removes the temporary
// file or folder of every frame being written, on whichever thread, and
// ends the program by `signal` with its default action. A signal that
// arrives while a temporary is being made ends the program as soon as that
// temporary's name is known, from the thread that made it.
// Async-signal-safe.
void image_file_end_by_signal(int signal);

// v of 0..from scaled to 0..to, rounded to nearest: the one rule between
// sample depths, so 8 -> 16 -> 8 and 12 -> 16 -> 12 bits come back exact.
inline unsigned rescale_sample(unsigned v, unsigned from, unsigned to) {
  if (from == to || from == 0) return v;
  return static_cast<unsigned>((static_cast<uint64_t>(v) * to + from / 2) / from);
}

#endif

#ifndef STANDIN_LIBRARY_FILES_H
#define STANDIN_LIBRARY_FILES_H

// Frame images through the image-file library's front end, which picks the
// format by the file name's extension (imagelib_fileio.h). The library's
// messages are kept for the reason of a failure instead of being printed;
// the warnings a read meets are printed once each, naming the file.
// The library is global: each of these calls holds it for its whole use,
// so any thread may make them.

#include <cstdint>
#include <string>

#include "standin_image_files.h"

// Whether the path's extension names one of the library's formats.
bool library_format_known(const std::string& path);
// Whether the library may hold a picture of width x height (at most
// "IMGIO_MAX_PIXELS" pixels): the host's own readers ask it too, before
// they allocate.
bool library_size_ok(int64_t width, int64_t height);
// The picture and what the file held, from one open of the file.
bool library_read(const std::string& path, FrameImage& image, std::string& error);
// Writes path itself; the caller makes it a temporary name.
bool library_write(const std::string& path, const FrameImage& image, std::string& error);

#endif

#ifndef STANDIN_LIBRARY_FILES_H
#define STANDIN_LIBRARY_FILES_H

// Frame images through the image-file library: its front end picks the
// format by extension, and ".cin", which the front end's table has no entry
// for, reaches the library's Cineon driver by format name. The library's
// messages are kept for the reason of a failure instead of being printed.

#include <string>

#include "standin_image_files.h"

// `extension`: the path's, in lower case, with its dot.
bool library_format_known(const std::string& extension);
bool library_read(const std::string& path, const std::string& extension, FrameImage& image,
                  std::string& error);
// Writes path itself; the caller makes it a temporary name.
bool library_write(const std::string& path, const std::string& extension, const FrameImage& image,
                   std::string& error);

#endif

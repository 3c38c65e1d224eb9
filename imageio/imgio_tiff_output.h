#ifndef IMGIO_TIFF_OUTPUT_H
#define IMGIO_TIFF_OUTPUT_H

// A TIFF file being written, its bytes gathered into long runs. libtiff
// writes each strip with a seek and a write of its own; for strips of a line
// or two the calls and the half-filled pages they leave cost more than the
// bytes. Here writes that follow on join one run, which reaches the file as
// one write when it is full, when libtiff writes or reads elsewhere, and at
// the end. The file's bytes are the same either way.

#include <tiffio.h>

#include <cstddef>
#include <cstdint>

struct TiffOutput {
  int fd;
  uint8_t* run;  // bytes bound for run_start on, not yet in the file
  size_t run_length;
  uint64_t run_start;
  uint64_t position;  // where libtiff's next write or read goes
  uint64_t size;      // the file's length, the run included
  bool failed;        // a write failed: the file lacks bytes libtiff gave
};

// Creates or truncates the file and opens it for writing through out, whose
// run it allocates; null, with libtiff's or the driver's message, when
// either fails. tiff_output_release frees the run once libtiff has closed.
TIFF* tiff_output_create(const char* name, TiffOutput* out);

// Sends the run to the file; false when it or any earlier write failed.
bool tiff_output_flush(TiffOutput* out);

void tiff_output_release(TiffOutput* out);

#endif

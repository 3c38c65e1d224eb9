// Writing TIFF files through libtiff in long runs.
#include "imgio_tiff_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imgio_messages.h"
#include "imgio_tiff_messages.h"
#include "q4_memory.h"

namespace {

// Large enough that a run's write costs far more than the call.
const size_t kRunBytes = size_t(1) << 22;

TiffOutput* output_of(thandle_t handle) { return static_cast<TiffOutput*>(handle); }

bool write_all(int fd, const uint8_t* bytes, size_t length, uint64_t at) {
  while (length > 0) {
    const ssize_t put = pwrite(fd, bytes, length, static_cast<off_t>(at));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    length -= static_cast<size_t>(put);
    at += static_cast<uint64_t>(put);
  }
  return true;
}

tmsize_t write_proc(thandle_t handle, void* data, tmsize_t size) {
  TiffOutput* out = output_of(handle);
  if (size < 0) return -1;
  const size_t length = static_cast<size_t>(size);
  if (out->position != out->run_start + out->run_length || out->run_length + length > kRunBytes) {
    if (!tiff_output_flush(out)) return -1;
    out->run_start = out->position;
  }
  if (length > kRunBytes) {
    if (!write_all(out->fd, static_cast<const uint8_t*>(data), length, out->position)) {
      out->failed = true;
      return -1;
    }
  } else {
    memcpy(out->run + out->run_length, data, length);
    out->run_length += length;
  }
  out->position += length;
  out->size = std::max(out->size, out->position);
  return size;
}

// libtiff reads back what it wrote only in rare rewrites: the file must
// hold the run first.
tmsize_t read_proc(thandle_t handle, void* data, tmsize_t size) {
  TiffOutput* out = output_of(handle);
  if (size < 0 || !tiff_output_flush(out)) return -1;
  const ssize_t got = pread(out->fd, data, static_cast<size_t>(size), static_cast<off_t>(out->position));
  if (got > 0) out->position += static_cast<uint64_t>(got);
  return got;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  TiffOutput* out = output_of(handle);
  switch (whence) {
    case SEEK_SET: out->position = offset; break;
    case SEEK_CUR: out->position += offset; break;
    case SEEK_END: out->position = out->size + offset; break;
    default: return static_cast<toff_t>(-1);
  }
  return out->position;
}

int close_proc(thandle_t handle) {
  TiffOutput* out = output_of(handle);
  const bool flushed = tiff_output_flush(out);
  return close(out->fd) == 0 && flushed ? 0 : -1;
}

toff_t size_proc(thandle_t handle) { return output_of(handle)->size; }

int no_map(thandle_t, void**, toff_t*) { return 0; }
void no_unmap(thandle_t, void*, toff_t) {}

}  // namespace

TIFF* tiff_output_create(const char* name, TiffOutput* out) {
  *out = TiffOutput{};
  out->run = static_cast<uint8_t*>(q4_malloc_c(kRunBytes, __FILE__, __LINE__));
  if (!out->run) {
    messprintf(IMSSYS_FATAL, "TIFF: No space for the write buffer.\n");
    return nullptr;
  }
  out->fd = open(name, O_RDWR | O_CREAT | O_TRUNC, 0666);
  if (out->fd < 0) {
    // As libtiff's own open reports it.
    messprintf(IMSSYS_ERROR, "TIFF: TIFFOpen: %s: %s\n", name, strerror(errno));
    tiff_output_release(out);
    return nullptr;
  }
  TIFFOpenOptions* options = tiff_message_options();
  TIFF* tif = options ? TIFFClientOpenExt(name, "w", out, read_proc, write_proc, seek_proc, close_proc, size_proc,
                                          no_map, no_unmap, options)
                      : nullptr;
  if (options) TIFFOpenOptionsFree(options);
  if (!tif) {
    close(out->fd);
    tiff_output_release(out);
  }
  return tif;
}

bool tiff_output_flush(TiffOutput* out) {
  if (out->run_length > 0 && !write_all(out->fd, out->run, out->run_length, out->run_start)) out->failed = true;
  out->run_start += out->run_length;
  out->run_length = 0;
  return !out->failed;
}

void tiff_output_release(TiffOutput* out) {
  if (out->run) q4_free_c(out->run, __FILE__, __LINE__);
  out->run = nullptr;
}

// The run-length and bit-code decoders of the drivers, straight on any
// bytes: the first byte picks the decoder, the next ones its parameters,
// the rest is the code. Outputs are sized exactly, so a write past them is
// caught; coders are checked to decode what they coded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imgio_alias.h"
#include "imgio_art24.h"
#include "imgio_pixar.h"
#include "imgio_rla.h"
#include "imgio_soft.h"
#include "imgio_symbolics.h"
#include "imgio_vertigo.h"

namespace {

void round_trips(const uint8_t* values, size_t size) {
  if (size == 0) return;
  const int n = static_cast<int>(size);
  std::vector<uint8_t> code(size + (size + 126) / 127), back(size);
  size_t coded = rla_encode(values, n, code.data());
  if (coded > code.size() || rla_decode(code.data(), coded, back.data(), size) != long(size) ||
      memcmp(back.data(), values, size) != 0)
    abort();
  coded = vertigo_encode_plane(values, n, code.data());
  size_t used = 0;
  vertigo_decode_plane(code.data(), coded, &used, back.data(), size);
  if (coded > code.size() || used != coded || memcmp(back.data(), values, size) != 0) abort();
  std::vector<uint8_t> bits((9 * size + 15) / 16 * 2);
  coded = sym_encode_values(values, size, bits.data());
  int reference = 0;
  size_t stored = 0;
  if (coded > bits.size() || sym_decode_values(bits.data(), coded, back.data(), size, &reference, &stored) != 0 ||
      stored != size || memcmp(back.data(), values, size) != 0)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int which = data[0] % 8;
  const int width = data[1] % 64 + 1;
  const int parameter = data[2];
  const uint8_t* in = data + 3;
  const size_t n = size - 3;
  size_t used = 0;
  switch (which) {
    case 0: {
      std::vector<uint32_t> out(width);
      int pos = 0, done = 0;
      const int status = pixar_decode_packets(in, static_cast<int>(n), &pos, parameter & 15, out.data(), width, &done);
      if (pos < 0 || size_t(pos) > n || done < 0 || done > width || (status == PIXAR_LINE_DONE && done != width))
        abort();
      break;
    }
    case 1: {
      std::vector<uint8_t> out(width);
      const long made = rla_decode(in, n, out.data(), out.size());
      if (made > width) abort();
      break;
    }
    case 2: {
      std::vector<uint8_t> channels[4];
      unsigned char* out[4];
      for (int c = 0; c < 4; ++c) {
        channels[c].resize(width);
        out[c] = channels[c].data();
      }
      soft_decode_packet(in, n, &used, parameter % 4, parameter & 0xF0, out, width);
      break;
    }
    case 3: {
      std::vector<uint8_t> out(size_t(width) * (parameter % 8 + 1));
      int reference = parameter;
      size_t stored = 0;
      sym_decode_values(in, n, out.data(), out.size(), &reference, &stored);
      if (stored > out.size()) abort();
      break;
    }
    case 4: {
      std::vector<uint8_t> out(width);
      vertigo_decode_plane(in, n, &used, out.data(), out.size());
      break;
    }
    case 5: {
      std::vector<uint8_t> r(width), g(width), b(width);
      getalias(in, n, &used, r.data(), g.data(), b.data(), width, parameter % 2 ? 8 : 24);
      break;
    }
    case 6: {
      std::vector<uint8_t> out(width);
      art24_decode_plane(in, n, &used, out.data(), width);
      break;
    }
    default:
      round_trips(in, n);
      break;
  }
  if (used > n) abort();
  return 0;
}

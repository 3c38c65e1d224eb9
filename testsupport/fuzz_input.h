#ifndef TEST_FUZZ_INPUT_H
#define TEST_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// An invariant every input must keep; a breach ends the run as a finding.
#define FUZZ_CHECK(condition)                                                                    \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                              \
    }                                                                                            \
  } while (0)

// A fuzzer's bytes read front to back as the values a harness needs. Past
// the end every read gives zeros, so a short input is still a whole case.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), left_(size) {}

  // The next sizeof(T) bytes as they lie: doubles include NaN, infinities
  // and every huge or tiny value.
  template <typename T>
  T raw() {
    unsigned char bytes[sizeof(T)] = {};
    const size_t n = left_ < sizeof(T) ? left_ : sizeof(T);
    std::memcpy(bytes, data_, n);
    skip(n);
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }

  // A value of lo..hi (inclusive) from the next four bytes.
  int in_range(int lo, int hi) {
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
    return static_cast<int>(lo + static_cast<int64_t>(raw<uint32_t>() % span));
  }

  // Bytes up to the next NUL (consumed) or the end, at most `limit`.
  std::string text(size_t limit) {
    size_t n = 0;
    while (n < left_ && n < limit && data_[n] != 0) ++n;
    std::string out(reinterpret_cast<const char*>(data_), n);
    skip(n < left_ && data_[n] == 0 ? n + 1 : n);
    return out;
  }

  size_t left() const { return left_; }
  const uint8_t* rest() const { return data_; }

 private:
  void skip(size_t n) {
    data_ += n;
    left_ -= n;
  }

  const uint8_t* data_;
  size_t left_;
};

#endif

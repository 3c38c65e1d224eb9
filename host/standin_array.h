#ifndef STANDIN_ARRAY_H
#define STANDIN_ARRAY_H

// Blocks of the host whose size follows the frame: their allocation may fail
// without throwing, so a frame too large for memory becomes a message that
// names the block instead of an abort.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

template <typename T>
class StandinArray {
  static_assert(std::is_trivially_copyable<T>::value, "values are zeroed and moved as bytes");

 public:
  StandinArray() = default;
  ~StandinArray() { std::free(data_); }
  StandinArray(StandinArray&& other) noexcept { swap(other); }
  StandinArray& operator=(StandinArray&& other) noexcept {
    swap(other);
    return *this;
  }
  StandinArray(const StandinArray&) = delete;
  StandinArray& operator=(const StandinArray&) = delete;

  // `count` zeroed values in place of the old ones; false, and empty, when
  // they cannot be had. Fresh pages from calloc are not touched, so a large
  // block costs memory only as it is written.
  bool Allocate(size_t count) {
    std::free(data_);
    data_ = count ? static_cast<T*>(std::calloc(count, sizeof(T))) : nullptr;
    size_ = data_ ? count : 0;
    return size_ == count;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

 private:
  void swap(StandinArray& other) {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }

  T* data_ = nullptr;
  size_t size_ = 0;
};

// A byte count as a person reads it in a message: "432 MB", "33.6 GB".
inline std::string standin_size_text(double bytes) {
  char text[32];
  if (bytes >= 1e9)
    std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  else
    std::snprintf(text, sizeof text, "%.0f MB", bytes / 1e6);
  return text;
}

#endif

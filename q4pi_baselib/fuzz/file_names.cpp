// Image-sequence names and paths come from file browsers, setups and
// command lines: any bytes, any length. The helpers must stay inside their
// buffers (the sanitizers watch), refuse a result the shared buffer cannot
// hold rather than cut it, and a parsed sequence name must rebuild into the
// name it came from.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "q4_filename.h"

namespace {

// A string of the input made long enough to reach the buffer limits.
std::string stretched(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

void check_sequence_name(const std::string& path, int frame, int ndigits) {
  const size_t room = path.size() + 1;
  std::vector<char> base(room), ext(room), digits(room);
  const int count = file_name_parse_image_file_name(path.c_str(), base.data(), ext.data(), digits.data());
  if (count < 0) return;
  const std::string name = file_name_lastcomponent(path.c_str());
  FUZZ_CHECK(std::strlen(base.data()) + std::strlen(digits.data()) + std::strlen(ext.data()) == name.size());
  FUZZ_CHECK(static_cast<int>(std::strlen(digits.data())) == count);
  std::vector<char> out(std::strlen(base.data()) + std::strlen(ext.data()) + 48);
  if (count <= 9) {
    const int length = file_name_format_image_file_name(base.data(), ext.data(), std::atoi(digits.data()), count,
                                                        out.data());
    FUZZ_CHECK(name == out.data());
    FUZZ_CHECK(length == static_cast<int>(name.size()));
  }
  const int length = file_name_format_image_file_name(base.data(), ext.data(), frame, ndigits, out.data());
  FUZZ_CHECK(length == static_cast<int>(std::strlen(out.data())));
}

void check_paths(const std::string& a, const std::string& b, int index, char blank, char slash) {
  char out[Q4_PATH_SIZE];
  if (const char* before = file_name_before_lastcomponent(a.c_str(), out)) {
    FUZZ_CHECK(a.compare(0, std::strlen(before), before) == 0);
    FUZZ_CHECK(std::strcmp(before, out) == 0);
  } else {
    FUZZ_CHECK(a.size() >= Q4_PATH_SIZE);
  }
  if (const char* part = file_name_component(a.c_str(), index, out)) {
    FUZZ_CHECK(a.find(part) != std::string::npos);
    FUZZ_CHECK(std::strlen(part) < Q4_PATH_SIZE);
  }
  const std::string joined = a.empty() ? b : a + "/" + b;
  if (const char* concat = file_name_concat(a.c_str(), b.c_str()))
    FUZZ_CHECK(joined == concat);
  else
    FUZZ_CHECK(joined.size() >= Q4_PATH_SIZE);

  std::vector<char> grown(a.size() + b.size() + 2);
  std::memcpy(grown.data(), a.c_str(), a.size() + 1);
  FUZZ_CHECK(joined == file_name_add_component(grown.data(), b.c_str()));

  std::vector<char> stripped(a.size() + 1);
  FUZZ_CHECK(file_name_strip_extension(a.c_str(), stripped.data()));
  FUZZ_CHECK(a.compare(0, std::strlen(stripped.data()), stripped.data()) == 0);
  const char* ext = file_name_extension(a.c_str());
  FUZZ_CHECK(*ext == 0 || (ext > a.c_str() && ext <= a.c_str() + a.size()));

  std::vector<char> cleaned(a.c_str(), a.c_str() + a.size() + 1);
  file_name_clean(cleaned.data(), blank, slash);
  FUZZ_CHECK(std::strlen(cleaned.data()) == a.size());
  (void)file_name_compare(a.c_str(), b.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int times_a = in.in_range(1, 600), times_b = in.in_range(1, 600);
  const int index = in.in_range(-2, 40);
  const int frame = in.raw<int>();
  const int ndigits = in.in_range(-3, 40);
  const char blank = in.raw<char>(), slash = in.raw<char>();
  const std::string a = in.text(64), b = in.text(64);
  const std::string long_a = stretched(a, times_a), long_b = stretched(b, times_b);
  check_sequence_name(a, frame, ndigits);
  check_sequence_name(long_a, frame, ndigits);
  check_paths(a, b, index, blank, slash);
  check_paths(long_a, long_b, index, blank, slash);
  return 0;
}

// Setup files are text anyone can edit: any bytes, any lines. A file is
// either loaded whole, every value inside its record's range, or refused
// with nothing changed; what was loaded saves and loads back the same.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standin_host.h"

namespace {

struct Records {
  SparkFloat f = {0.5f, 0.0f, 1.0f, 0.01f, 0, "F: %f", nullptr};
  SparkUserFloat u = {0.0f, -1000.0f, 1000.0f, 0.001f, 0, "U: %f", nullptr};
  SparkInt i = {50, 2, 1000, 1, 0, "I: %d", nullptr};
  SparkBoolean b = {1, "B", nullptr};
  SparkPup p = {1, 5, nullptr, {"a", "b", "c", "d", "e"}};
  SparkPush k = {"K", nullptr};
  SparkString s = {"1: Flow Clip", "%s", 16, nullptr};
};

Records records;

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "setup_file: %s\n", what);
  std::abort();
}

std::string temporary(const char* tag) {
  const char* home = std::getenv("Q4_HOME_DIR");
  std::string path = std::string(home ? home : "/tmp") + "/fuzz-" + tag + "-XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd >= 0) close(fd);
  return path;
}

// Field by field: the records have padding bytes.
bool same(const Records& a, const Records& b) {
  return a.f.value == b.f.value && a.u.value == b.u.value && a.i.value == b.i.value &&
         a.b.value == b.b.value && a.p.value == b.p.value &&
         std::strcmp(a.s.text, b.s.text) == 0;
}

void check_in_range() {
  check(records.f.value >= 0.0f && records.f.value <= 1.0f, "float out of range");
  check(records.u.value >= -1000.0f && records.u.value <= 1000.0f, "user float out of range");
  check(records.i.value >= 2 && records.i.value <= 1000, "int out of range");
  check(records.b.value == 0 || records.b.value == 1, "boolean out of range");
  check(records.p.value >= 0 && records.p.value < 5, "list out of range");
  check(std::memchr(records.s.text, 0, sizeof records.s.text) != nullptr, "string not ended");
  for (int control : {7, 93, 21, 23, 10, 6, 99})
    for (float frame : {0.0f, std::nanf(""), 1e30f, -INFINITY})
      check(std::isfinite(sparkGetCurveValuef(1, control, frame)), "curve not finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = temporary("load"), saved = temporary("saved");
  records = Records();
  standin_reset();
  standin_set_logging(false);
  standin_register_control(7, standin_float, &records.f);
  standin_register_control(93, standin_user_float, &records.u);
  standin_register_control(21, standin_int, &records.i);
  standin_register_control(23, standin_boolean, &records.b);
  standin_register_control(10, standin_pup, &records.p);
  standin_register_control(6, standin_push, &records.k);
  standin_register_control(0, standin_string, &records.s);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  standin_set_setup_paths(path, saved);
  SparkHostInfo info = standin_info();
  if (!sparkLoadSetup(&info)) {
    const Records untouched;
    check(same(records, untouched), "a refused file changed a record");
    check(!standin_setup_error().empty(), "refused without a reason");
    return 0;
  }
  check_in_range();
  const Records loaded = records;
  const auto keys = standin_curve_keys(7);
  check(sparkSaveSetup(&info) == 1, "cannot save");
  records = Records();
  standin_set_setup_paths(saved, "");
  check(sparkLoadSetup(&info) == 1, "a saved setup does not load");
  check(standin_setup_warnings().empty(), "a saved setup warns");
  check(same(records, loaded), "a saved setup loads otherwise");
  check(standin_curve_keys(7) == keys, "keys load otherwise");
  standin_apply_curves(0);
  check_in_range();
  return 0;
}

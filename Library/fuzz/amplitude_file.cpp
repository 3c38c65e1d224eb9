// Amplitude channel files are whatever the artist picks in the file
// browser: any bytes. The import must neither crash nor set more keys than
// the header's key count.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "amplitude_import.h"
#include "fuzz_input.h"
#include "q4_pause.h"
#include "standin_host.h"

namespace {

std::string input_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  q4_set_pauses_enabled(false);
  const char* home = std::getenv("Q4_HOME_DIR");
  input_path = std::string(home ? home : "/tmp") + "/amplitude_fuzz_" + std::to_string(getpid()) + ".txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(input_path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  standin_reset();
  standin_set_logging(false);
  aiff_file_CB(input_path.c_str());

  // The key count as the header states it (none without a header).
  long limit = 0;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "r");
  int channel = 0, count = 0;
  if (in && std::fscanf(in, " Channel Amplitude %d: Size %d", &channel, &count) == 2) limit = count;
  if (in) std::fclose(in);
  FUZZ_CHECK(static_cast<long>(standin_curve_keys(AMPLITUDE_CONTROL).size()) <= (limit > 0 ? limit : 0));
  return 0;
}

// Replays a libFuzzer corpus without libFuzzer: every file named on the
// command line, or found in a folder named there, goes once through the
// harness. Settings go to a throw-away home folder and pauses are off, as in
// the test programs. A folder with no files fails: a corpus that went missing
// would otherwise pass unseen.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "q4_pause.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
  // A copy of exactly the file's size, so a read past the input is caught.
  uint8_t* data = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
  std::copy(bytes.begin(), bytes.end(), data);
  LLVMFuzzerTestOneInput(data, bytes.size());
  std::free(data);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home = (std::filesystem::temp_directory_path() / "q4fuzz-XXXXXX").string();
  if (!mkdtemp(home.data())) return 2;
  setenv("Q4_HOME_DIR", home.c_str(), 1);
  q4_set_pauses_enabled(false);
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      if (files.empty()) {
        std::fprintf(stderr, "no inputs in %s\n", path.c_str());
        ok = false;
      }
      for (const auto& file : files) {
        ok = replay(file) && ok;
        ++replayed;
      }
    } else {
      ok = replay(path) && ok;
      ++replayed;
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  std::fprintf(stderr, "%d inputs replayed\n", replayed);
  return ok && replayed > 0 ? 0 : 1;
}

// Every test program starts here: settings go to a throw-away home folder and
// the pauses that follow messages to the artist are switched off.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "q4_pause.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string pattern = (std::filesystem::temp_directory_path() / "q4test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 2;
  setenv("Q4_HOME_DIR", pattern.c_str(), 1);
  q4_set_pauses_enabled(false);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return result;
}

// Help pages started through a recording browser: the script writes its
// arguments into a FIFO, and reading the FIFO waits for the script itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "help_topic.h"

namespace {

using Lines = std::vector<std::string>;

class Help : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::string(std::getenv("Q4_HOME_DIR")) + "/help-" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    fifo = dir + "/args";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    script = MakeScript("record");
    setenv("Q4_HELP_BROWSER", script.c_str(), 1);
    setenv("DIR_4", "/opt/install", 1);
    saved_path = std::getenv("PATH");
  }

  void TearDown() override {
    unsetenv("Q4_HELP_BROWSER");
    unsetenv("DIR_4");
    setenv("PATH", saved_path.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);  // a repeated run starts afresh
  }

  std::string MakeScript(const std::string& name) {
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    std::fprintf(f, "#!/bin/sh\nprintf '%%s\\n' \"$0\" \"$@\" > '%s'\n", fifo.c_str());
    std::fclose(f);
    chmod(path.c_str(), 0700);
    return path;
  }

  // Blocks until the browser script has written and closed the FIFO.
  Lines Arguments() {
    const int fd = open(fifo.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, (size_t)n);
    close(fd);
    Lines lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

  std::string dir, fifo, script, saved_path;
};

TEST_F(Help, OpensThePageOfTheTopicWithoutItsExtension) {
  ASSERT_EQ(display_help_topic("tidewright.htm"), 0);
  EXPECT_EQ(Arguments(),
            (Lines{script, "-geometry", "+50+50", "file:/opt/install/dl/help/tidewright.htm"}));
  ASSERT_EQ(display_help_topic("a.b.htm"), 0);
  EXPECT_EQ(Arguments().back(), "file:/opt/install/dl/help/a.b.htm");
  ASSERT_EQ(display_help_topic(".hidden"), 0);
  EXPECT_EQ(Arguments().back(), "file:/opt/install/dl/help/.hidden.htm");
  ASSERT_EQ(display_help_topic("plain"), 0);
  EXPECT_EQ(Arguments().back(), "file:/opt/install/dl/help/plain.htm");
}

TEST_F(Help, DefaultsForInstallFolderAndBrowser) {
  unsetenv("DIR_4");
  unsetenv("Q4_HELP_BROWSER");
  const std::string firefox = MakeScript("firefox");
  setenv("PATH", (dir + ":" + saved_path).c_str(), 1);
  ASSERT_EQ(display_help_topic("tidewright.htm"), 0);
  EXPECT_EQ(Arguments(), (Lines{firefox, "-geometry", "+50+50",
                                "file:/usr/local/Veltrane/dl/help/tidewright.htm"}));
}

TEST_F(Help, BlanksAndShellCharactersStayInOneArgument) {
  setenv("DIR_4", "/opt/My Install;$(false)", 1);
  ASSERT_EQ(display_help_topic("my topic.htm"), 0);
  EXPECT_EQ(Arguments().back(), "file:/opt/My Install;$(false)/dl/help/my topic.htm");

  // Quotes, even next to each other or at the ends, arrive intact in the
  // one argument: no shell reads them.
  ASSERT_EQ(display_help_topic("it's.htm"), 0);
  EXPECT_EQ(Arguments(), (Lines{script, "-geometry", "+50+50",
                                "file:/opt/My Install;$(false)/dl/help/it's.htm"}));
  setenv("DIR_4", "/opt/'q'", 1);
  ASSERT_EQ(display_help_topic("''a ;$(false)'.htm"), 0);
  EXPECT_EQ(Arguments(), (Lines{script, "-geometry", "+50+50",
                                "file:/opt/'q'/dl/help/''a ;$(false)'.htm"}));
}

// Nothing starts when the command line would not fit its buffer or the
// browser cannot be started (missing, not executable), and the call says
// so; a call after them records only its own page.
TEST_F(Help, NothingStartsWhenTheCommandWouldNotFitOrTheBrowserCannot) {
  setenv("DIR_4", ("/" + std::string(2000, 'd')).c_str(), 1);
  EXPECT_EQ(display_help_topic("tidewright.htm"), 1);
  setenv("DIR_4", ("/" + std::string(250, 'd')).c_str(), 1);  // page fits, command not
  EXPECT_EQ(display_help_topic("tidewright.htm"), 1);
  setenv("DIR_4", "/opt", 1);
  EXPECT_EQ(display_help_topic(std::string(1500, 't').c_str()), 1);
  EXPECT_EQ(display_help_topic(nullptr), 1);
  const std::string plain = dir + "/plain";
  std::fclose(std::fopen(plain.c_str(), "w"));
  for (const std::string& browser : {dir + "/missing", std::string("no-such-browser-here"), plain, dir}) {
    setenv("Q4_HELP_BROWSER", browser.c_str(), 1);
    EXPECT_EQ(display_help_topic("tidewright.htm"), 1) << browser;
  }
  setenv("Q4_HELP_BROWSER", script.c_str(), 1);
  ASSERT_EQ(display_help_topic("last.htm"), 0);
  EXPECT_EQ(Arguments(), (Lines{script, "-geometry", "+50+50", "file:/opt/dl/help/last.htm"}));
}

}  // namespace

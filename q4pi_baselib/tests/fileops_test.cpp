// File tests, whole-file load and save, copy, move and numbered backups.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "q4_fileops.h"
#include "q4_memory.h"
#include "temp_dir.h"

TEST(FileOps, TestsAndAttributes) {
  TempDir dir;
  const std::string file = dir / "f.txt";
  write_text(file, "12345");
  EXPECT_TRUE(file_exists(file.c_str()));
  EXPECT_FALSE(file_exists(dir.path().c_str()));
  EXPECT_TRUE(file_is_directory(dir.path().c_str()));
  EXPECT_FALSE(file_is_directory(file.c_str()));
  EXPECT_FALSE(file_exists(nullptr));
  EXPECT_EQ(file_size(file.c_str()), 5);
  EXPECT_EQ(file_size(dir.path().c_str()), 0);
  EXPECT_TRUE(file_is_accessible(file.c_str(), false, true));
  EXPECT_FALSE(file_is_accessible(file.c_str(), true, false));
  EXPECT_TRUE(file_set_access(file.c_str(), false));
  struct stat info;
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0444u);
  EXPECT_TRUE(file_set_access(dir.path().c_str(), true));
  ASSERT_EQ(stat(dir.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0777u);
  EXPECT_GT(file_mod_time(file.c_str()), 0);
  EXPECT_EQ(file_mod_time((dir / "missing").c_str()), 0);
  EXPECT_TRUE(file_create_directory_bool((dir / "sub").c_str()));
  EXPECT_FALSE(file_create_directory_bool((dir / "sub").c_str()));
  EXPECT_TRUE(file_rename(file.c_str(), (dir / "g.txt").c_str()));
  EXPECT_TRUE(file_delete((dir / "g.txt").c_str()));
  EXPECT_FALSE(file_delete((dir / "g.txt").c_str()));
}

TEST(FileOps, TimeStringsInAllThreeForms) {
  // Noon, 2 March 2021, in local time.
  tm t = {};
  t.tm_year = 121;
  t.tm_mon = 2;
  t.tm_mday = 2;
  t.tm_hour = 12;
  t.tm_min = 3;
  t.tm_sec = 4;
  t.tm_isdst = -1;
  const long when = static_cast<long>(mktime(&t));
  EXPECT_STREQ(file_time_to_string(when, 1), "2021/03/02 12:03:04");
  EXPECT_STREQ(file_time_to_string(when, 2), "02/03/2021 12:03:04");
  EXPECT_STREQ(file_time_to_string(when, 0), "02-MAR-2021 12:03:04");

  // The last year the calendar holds lies beyond the range of int once
  // 1900 is added; later times cannot be converted at all.
  t = {};
  t.tm_year = INT_MAX;
  t.tm_mday = 1;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  const time_t last_year = mktime(&t);
  ASSERT_NE(last_year, static_cast<time_t>(-1));
  const std::string year = std::to_string(static_cast<long long>(INT_MAX) + 1900);
  EXPECT_EQ(std::string(file_time_to_string(static_cast<long>(last_year), 1)), year + "/01/01 12:00:00");
  EXPECT_EQ(std::string(file_time_to_string(static_cast<long>(last_year), 0)), "01-JAN-" + year + " 12:00:00");
  EXPECT_EQ(file_time_to_string(LONG_MAX, 1), nullptr);
  EXPECT_EQ(file_time_to_string(LONG_MIN, 0), nullptr);
}

TEST(FileOps, LoadAndSaveRoundTrip) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  const char data[] = {'a', 0, 'b', '\n', 'c'};
  EXPECT_EQ(file_save(path.c_str(), data, 5), 5);
  int count = -1;
  char* loaded = file_load(path.c_str(), &count);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(memcmp(loaded, data, 5), 0);
  EXPECT_EQ(loaded[5], '\0');
  q4_free(loaded, __FILE__, __LINE__);

  write_text(dir / "empty", "");
  count = -1;
  EXPECT_EQ(file_load((dir / "empty").c_str(), &count), nullptr);
  EXPECT_EQ(file_load(dir.path().c_str(), &count), nullptr);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(file_save((dir / "no/such/dir").c_str(), data, 5), -1);
}

TEST(FileOps, FilesOf2GiBAndMoreAreRefusedNotMisSized) {
  TempDir dir;
  // Sparse files: 4 GiB + 10 bytes would look like 10 bytes in 32 bits.
  for (const off_t size : {off_t{0x80000000LL}, off_t{0x10000000aLL}}) {
    const std::string path = dir / "big";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    EXPECT_EQ(file_size(path.c_str()), static_cast<int64_t>(size));
    int count = -1;
    EXPECT_EQ(file_load(path.c_str(), &count), nullptr);
    EXPECT_EQ(count, -1);
  }
}

TEST(FileOps, CopyReplacesTheWholeTarget) {
  TempDir dir;
  const std::string src = dir / "src", dst = dir / "dst";
  std::string content;
  for (int i = 0; i < 20000; ++i) content += static_cast<char>('a' + i % 26);
  write_text(src, content);
  write_text(dst, content + content + "old tail");
  EXPECT_TRUE(file_copy(src.c_str(), dst.c_str(), nullptr, 0));
  EXPECT_EQ(read_text(dst), content);
  char small[7];  // a caller's odd-sized buffer
  write_text(dst, "much longer old content than the source");
  write_text(src, "short one, yet longer than seven");
  EXPECT_TRUE(file_copy(src.c_str(), dst.c_str(), small, sizeof small));
  EXPECT_EQ(read_text(dst), "short one, yet longer than seven");
  // An empty caller buffer could copy nothing yet report success.
  EXPECT_FALSE(file_copy(src.c_str(), dst.c_str(), small, 0));
  EXPECT_EQ(read_text(dst), "short one, yet longer than seven");
  EXPECT_FALSE(file_copy((dir / "missing").c_str(), dst.c_str(), nullptr, 0));
  EXPECT_FALSE(file_copy(src.c_str(), (dir / "no/dir").c_str(), nullptr, 0));
}

TEST(FileOps, MoveKeepsTheSourceWhenTheCopyFails) {
  TempDir dir;
  const std::string a = dir / "a", b = dir / "b";
  write_text(a, "payload");
  EXPECT_FALSE(file_move(a.c_str(), a.c_str(), false));
  EXPECT_EQ(read_text(a), "payload");
  EXPECT_FALSE(file_move(a.c_str(), (dir / "no/such/target").c_str(), false));
  EXPECT_EQ(read_text(a), "payload");

  write_text(b, "old");
  EXPECT_TRUE(file_move(a.c_str(), b.c_str(), false));
  EXPECT_FALSE(file_exists(a.c_str()));
  EXPECT_EQ(read_text(b), "payload");
  EXPECT_TRUE(file_move(b.c_str(), a.c_str(), true));
  EXPECT_EQ(read_text(a), "payload");
  EXPECT_FALSE(file_exists(b.c_str()));
}

TEST(FileOps, MovingAFileOntoItselfKeepsIt) {
  // Other spellings, a hard link and a symbolic link name the same file:
  // removing the "existing" destination first would delete the only copy.
  TempDir dir;
  const std::string a = dir / "a.txt";
  write_text(a, "payload");
  ASSERT_TRUE(link(a.c_str(), (dir / "hard").c_str()) == 0 && symlink("a.txt", (dir / "soft").c_str()) == 0);
  for (const std::string& other : {dir.path() + "/./a.txt", dir.path() + "//a.txt", dir / "hard", dir / "soft"})
    for (bool rename_it : {false, true}) {
      EXPECT_TRUE(file_move(a.c_str(), other.c_str(), rename_it) && file_move(other.c_str(), a.c_str(), rename_it));
      EXPECT_EQ(read_text(a) + read_text(other), "payloadpayload") << other << " " << rename_it;
    }
  EXPECT_TRUE(std::filesystem::equivalent(dir / "hard", a));
}

TEST(FileOps, BackupsShiftUpToTheirLimit) {
  TempDir dir;
  const std::string log = dir / "x.log";
  EXPECT_EQ(file_backup(log.c_str(), 3), 0);
  write_text(log, "newest");
  write_text(dir / "x.1.log", "older");
  write_text(dir / "x.3.log", "dropped");
  EXPECT_EQ(file_backup(log.c_str(), 3), 2);
  EXPECT_FALSE(file_exists(log.c_str()));
  EXPECT_EQ(read_text(dir / "x.1.log"), "newest");
  EXPECT_EQ(read_text(dir / "x.2.log"), "older");
  EXPECT_EQ(read_text(dir / "x.3.log"), "dropped");  // x.3 is past the last source
  write_text(dir / "x.log", "again");
  EXPECT_EQ(file_backup(log.c_str(), 3), 3);
  EXPECT_EQ(read_text(dir / "x.3.log"), "older");
  // A name without extension numbers at its end.
  write_text(dir / "plain", "p");
  EXPECT_EQ(file_backup((dir / "plain").c_str(), 1), 1);
  EXPECT_EQ(read_text(dir / "plain.1"), "p");
}

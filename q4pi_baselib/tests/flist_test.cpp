// Directory reading, listings, scanning and deep deletion.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "q4_directory.h"
#include "q4_fileops.h"
#include "q4_flist.h"
#include "temp_dir.h"

namespace {

std::vector<std::string> names(char** array, int count) {
  return std::vector<std::string>(array, array + count);
}

int reverse_compare(const void* a, const void* b) { return -file_cmp(a, b); }

}  // namespace

TEST(Directory, ReadsEntriesAndRefusesOverlongPaths) {
  TempDir dir;
  write_text(dir / "file", "x");
  mkdir((dir / "sub").c_str(), 0777);
  Directory reader;
  ASSERT_TRUE(DirectoryOpen(&reader, dir.path().c_str()));
  EXPECT_EQ(std::string(reader.path), dir.path() + "/");
  DirEntry entry;
  int files = 0, dirs = 0;
  while (DirectoryReadNextEntry(&reader, &entry)) {
    if (strcmp(entry.name, "file") == 0 && entry.is_directory == 0) ++files;
    if (strcmp(entry.name, "sub") == 0 && entry.is_directory == 1) ++dirs;
  }
  DirectoryClose(&reader);
  EXPECT_EQ(files, 1);
  EXPECT_EQ(dirs, 1);

  // 4095 characters leave no room for the final "/"; a cut path would name
  // another directory.
  std::string deep = "/";
  while (deep.size() < 4095) deep += "a/";
  deep.resize(4095);
  EXPECT_FALSE(DirectoryOpen(&reader, deep.c_str()));
  EXPECT_FALSE(DirectoryReadNextEntry(&reader, &entry));
  EXPECT_FALSE(DirectoryOpen(&reader, (dir / "missing").c_str()));
}

TEST(FileList, SortsFilesAndDirectories) {
  TempDir dir;
  for (const char* name : {"b.tif", "A.tif", "c.jpg", "noext"}) write_text(dir / name, name);
  for (const char* name : {"Zeta", "alpha"}) mkdir((dir / name).c_str(), 0777);
  dir_list* list = flist_new((dir.path() + "/").c_str(), 1, 1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list->path), dir.path());
  EXPECT_EQ(names(list->files, list->file_count),
            (std::vector<std::string>{"A.tif", "b.tif", "c.jpg", "noext"}));
  EXPECT_EQ(names(list->directories, list->directory_count),
            (std::vector<std::string>{"..", "alpha", "Zeta"}));
  EXPECT_EQ(flist_select_extension(list, ""), 0);
  EXPECT_EQ(list->file_count, 4);
  EXPECT_EQ(flist_select_extension(list, "tif"), 2);
  EXPECT_EQ(names(list->files, list->file_count), (std::vector<std::string>{"A.tif", "b.tif"}));
  flist_delete(list);

  flist_set_custom_compare(reverse_compare);
  list = flist_new(dir.path().c_str(), 3, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(names(list->files, list->file_count),
            (std::vector<std::string>{"noext", "c.jpg", "b.tif", "A.tif"}));
  flist_set_custom_compare(nullptr);
  flist_delete(list);
}

TEST(FileList, GrowsPastItsFirstCapacity) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) write_text(dir / ("f" + std::to_string(1000 + i)), "");
  for (int i = 0; i < 40; ++i) mkdir((dir / ("d" + std::to_string(100 + i))).c_str(), 0777);
  dir_list* list = flist_new(dir.path().c_str(), 1, 1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->file_count, 300);
  EXPECT_EQ(list->file_capacity, 512);
  EXPECT_EQ(list->directory_count, 41);  // with ".."
  EXPECT_EQ(list->directory_capacity, 64);
  EXPECT_STREQ(list->files[0], "f1000");
  EXPECT_STREQ(list->files[299], "f1299");
  flist_delete(list);
}

TEST(FileList, PathsNamingFilesRootAndMounts) {
  TempDir dir;
  write_text(dir / "member", "");
  dir_list* list = flist_new((dir / "member").c_str(), 0, 1);  // lists the folder
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list->path), dir.path());
  ASSERT_EQ(list->file_count, 1);
  EXPECT_STREQ(list->files[0], "member");
  flist_delete(list);

  EXPECT_EQ(flist_new((dir / "missing").c_str(), 0, 1), nullptr);
  EXPECT_EQ(flist_new("", 0, 1), nullptr);
  // Cut to the buffer, this path would list its folder instead.
  EXPECT_EQ(flist_new((dir / std::string(Q4_PATH_SIZE, 'x')).c_str(), 0, 0), nullptr);

  list = flist_new("/", 1, 1);
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < list->directory_count; ++i) EXPECT_STRNE(list->directories[i], "..");
  flist_delete(list);

  list = flist_new(nullptr, 0, 0);  // mount points
  ASSERT_NE(list, nullptr);
  bool root = false;
  for (int i = 0; i < list->directory_count; ++i) root = root || strcmp(list->directories[i], "/") == 0;
  EXPECT_TRUE(root);
  flist_delete(list);
}

TEST(FileList, ScanVisitsFilesDepthFirstAndStaysInTheTree) {
  TempDir dir;
  mkdir((dir / "a").c_str(), 0777);
  mkdir((dir / ".hidden").c_str(), 0777);
  write_text(dir / "a/inner", "");
  write_text(dir / ".hidden/secret", "");
  write_text(dir / "top", "");
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "a/loop").c_str()), 0);  // would never end
  std::vector<std::string> seen;
  file_scan_directory(dir.path().c_str(), [](char* path, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(path);
  }, &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{dir / "a/inner", dir / "top"}));
}

TEST(FileList, DeepDeleteRemovesTheTreeButNotWhatLinksPointAt) {
  TempDir dir;
  const std::string tree = dir / "tree";
  const std::string outside = dir / "outside";
  mkdir(tree.c_str(), 0777);
  mkdir(outside.c_str(), 0777);
  write_text(outside + "/precious", "keep");
  mkdir((tree + "/sub").c_str(), 0777);
  mkdir((tree + "/sub/deeper").c_str(), 0777);
  write_text(tree + "/sub/deeper/d", "");
  write_text(tree + "/sub/f", "");
  write_text(tree + "/g", "");
  write_text(tree + "/.profile", "");  // a hidden file is a file: it goes
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/link_dir").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/precious").c_str(), (tree + "/sub/link_file").c_str()), 0);
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (tree + "/dangling").c_str()), 0);

  EXPECT_TRUE(file_deep_delete_directory_bool(tree.c_str(), true));
  EXPECT_FALSE(file_is_directory(tree.c_str()));
  EXPECT_EQ(read_text(outside + "/precious"), "keep");
  EXPECT_EQ(file_deep_delete_directory(tree.c_str(), 1), -1);
  EXPECT_EQ(file_deep_delete_directory(nullptr, 1), -1);
  EXPECT_EQ(file_deep_delete_directory((outside + "/precious").c_str(), 1), -1);
  EXPECT_EQ(read_text(outside + "/precious"), "keep");

  mkdir(tree.c_str(), 0777);
  write_text(tree + "/x", "");
  EXPECT_FALSE(file_delete_directory_bool(tree.c_str(), false, false));  // rmdir of a full one
  EXPECT_TRUE(file_delete_directory_bool(tree.c_str(), true, true));
  EXPECT_FALSE(file_is_directory(tree.c_str()));
  EXPECT_FALSE(watch_directory_start(nullptr, dir.path().c_str(), nullptr, nullptr, false));
}

TEST(FileList, DeepDeleteKeepsHiddenDirectories) {
  TempDir dir;
  const std::string tree = dir / "tree";
  mkdir(tree.c_str(), 0777);
  mkdir((tree + "/.git").c_str(), 0777);
  write_text(tree + "/.git/config", "cfg");
  mkdir((tree + "/sub").c_str(), 0777);
  mkdir((tree + "/sub/.cache").c_str(), 0777);
  write_text(tree + "/sub/.cache/c", "c");
  write_text(tree + "/sub/f", "");
  write_text(tree + "/g", "");

  // The hidden directories stay, and so the directories holding them.
  EXPECT_EQ(file_deep_delete_directory(tree.c_str(), 1), -1);
  EXPECT_FALSE(file_deep_delete_directory_bool(tree.c_str(), true));
  EXPECT_EQ(read_text(tree + "/.git/config"), "cfg");
  EXPECT_EQ(read_text(tree + "/sub/.cache/c"), "c");
  EXPECT_FALSE(file_exists((tree + "/g").c_str()));
  EXPECT_FALSE(file_exists((tree + "/sub/f").c_str()));
  EXPECT_TRUE(file_is_directory((tree + "/sub").c_str()));
}

TEST(FileList, DeepDeleteOfALinkToADirectoryDeletesNothing) {
  TempDir dir;
  const std::string target = dir / "target";
  const std::string link = dir / "link";
  mkdir(target.c_str(), 0777);
  mkdir((target + "/inner").c_str(), 0777);
  write_text(target + "/precious", "keep");
  write_text(target + "/inner/nested", "nest");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

  for (const std::string& named : {link, link + "/", link + "//"}) {
    EXPECT_EQ(file_deep_delete_directory(named.c_str(), 1), -1) << named;
    EXPECT_EQ(file_deep_delete_directory(named.c_str(), 0), -1) << named;
    EXPECT_FALSE(file_delete_directory_bool(named.c_str(), true, false)) << named;
  }
  EXPECT_EQ(read_text(target + "/precious"), "keep");
  EXPECT_EQ(read_text(target + "/inner/nested"), "nest");
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));  // the link itself is left too
}

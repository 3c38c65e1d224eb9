// The command reader and its table matching.
#include <mntent.h>
#include <sys/statvfs.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "q4_commands.h"
#include "q4_disks.h"
#include "q4_memory.h"

namespace {

tagSCOMMANDS table[] = {
    {"show memory", 1, "heap use", 0, 0, false},
    {"show threads", 2, "threads", 0, 1, false},
    {"set \"log level\"", 3, "log level", 1, 2, false},
    {"quit", 4, "leave", 0, 0, false},
};
const int rows = 4;

// Runs get_command over the given input and keeps what it wrote.
struct Session {
  int code = 0;
  int argc = -1;
  char* args[4] = {nullptr, nullptr, nullptr, nullptr};
  std::string output;

  Session(const char* input, bool with_out = true, int args_size = 4, bool dup = false) {
    FILE* in = tmpfile();
    FILE* out = with_out ? tmpfile() : nullptr;
    fputs(input, in);
    rewind(in);
    code = get_command(table, rows, in, "q4", out, args, &argc, args_size, dup);
    if (out) {
      rewind(out);
      char chunk[512];
      size_t got;
      while ((got = fread(chunk, 1, sizeof chunk, out)) > 0) output.append(chunk, got);
      fclose(out);
    }
    fclose(in);
  }
};

}  // namespace

TEST(Commands, AbbreviationsChooseTheirRow) {
  EXPECT_EQ(Session("sh m\n").code, 1);
  EXPECT_EQ(Session("SHOW THR\n").code, 2);
  EXPECT_EQ(Session("\n   \nq\n").code, 4);  // empty lines are skipped
  // A row is chosen as soon as it is the only candidate; the rest are arguments.
  const Session set("se 3 \"two words\"\n");
  EXPECT_EQ(set.code, 3);
  ASSERT_EQ(set.argc, 2);
  EXPECT_STREQ(set.args[0], "3");
  EXPECT_STREQ(set.args[1], "two words");
  EXPECT_EQ(set.output, "q4> ");
}

TEST(Commands, RefusalsAndTheirMessages) {
  const Session ambiguous("sh\n");
  EXPECT_EQ(ambiguous.code, -2);
  EXPECT_EQ(ambiguous.output, "q4> Ambiguous command.\n");
  EXPECT_EQ(Session("s\n").code, -2);  // set and show differ in their first word
  const Session unknown("x\n");
  EXPECT_EQ(unknown.code, -1);
  EXPECT_EQ(unknown.output, "q4> Unknown command.\n");
  EXPECT_EQ(Session("quit now\n").code, -3);
  EXPECT_EQ(Session("set\n").code, -4);
  EXPECT_EQ(Session("se log 3 4\n").code, -3);
  EXPECT_EQ(Session("sh th a\n", true, 0).code, -5);
  EXPECT_EQ(Session("sh m\n", false).code, 1);  // same codes without output
  EXPECT_EQ(Session("x\n", false).code, -1);
  EXPECT_EQ(Session("").code, 0);
}

TEST(Commands, QuestionMarksListCandidatesAndReadOn) {
  const Session help("sh ?\nquit ?\nq\n");
  EXPECT_EQ(help.code, 4);
  EXPECT_EQ(help.output,
            "q4> \nshow memory: heap use\nshow threads: threads\n"
            "q4> quit: leave\nq4> ");
}

TEST(Commands, DuplicatedArgumentsAreFreed) {
  Session copy("sh t extra\n", true, 4, true);
  ASSERT_EQ(copy.code, 2);
  ASSERT_EQ(copy.argc, 1);
  EXPECT_STREQ(copy.args[0], "extra");
  free_command_args(copy.args, copy.argc);
  EXPECT_EQ(copy.args[0], nullptr);
}

TEST(Commands, HelpDump) {
  FILE* out = tmpfile();
  EXPECT_GT(dump_command_help(table, 1, out), 0);
  rewind(out);
  char line[64];
  ASSERT_NE(fgets(line, sizeof line, out), nullptr);
  EXPECT_STREQ(line, "show memory: heap use\n");
  EXPECT_EQ(dump_command_help(table, 0, out), 1);
  EXPECT_EQ(dump_command_help(table, 2, nullptr), 0);
  fclose(out);
}

TEST(TimeAndDisks, DurationsTimesAndDisks) {
  int d, h, m, s;
  secs_to_dhms(90061, d, h, m, s);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(s, 1);
  secs_to_dhms(86399, d, h, m, s);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(m, 59);
  EXPECT_EQ(s, 59);
  EXPECT_EQ(std::string(cur_time_string()).size(), 24u);

  int count = -1;
  tagDISK_INFO* disks = get_disk_info(count);
  EXPECT_EQ(disks == nullptr, count == 0);
  const tagDISK_INFO* root = nullptr;
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(std::string(disks[i].device).rfind("/dev", 0), 0u);
    EXPECT_GE(disks[i].total, disks[i].available);
    EXPECT_GE(disks[i].used, 0.0);
    EXPECT_LE(disks[i].used, 100.0);
    if (strcmp(disks[i].mount_point, "/") == 0) root = &disks[i];
  }

  // The root file system, as the mount table and statvfs tell it.
  std::string root_device;
  FILE* table = setmntent("/etc/mtab", "r");
  ASSERT_NE(table, nullptr);
  while (const mntent* entry = getmntent(table))
    if (strcmp(entry->mnt_dir, "/") == 0) root_device = entry->mnt_fsname;
  endmntent(table);
  struct statvfs info;
  ASSERT_EQ(statvfs("/", &info), 0);
  if (root_device.rfind("/dev", 0) == 0) {
    EXPECT_GE(count, 1);
    ASSERT_NE(root, nullptr) << root_device;
    EXPECT_EQ(std::string(root->device), root_device);
    EXPECT_DOUBLE_EQ(root->total, static_cast<double>(info.f_blocks) * info.f_bsize / 1024.0);
    EXPECT_GT(root->total, 0.0);
    EXPECT_NEAR(root->used, (1.0 - root->available / root->total) * 100.0, 1e-9);
    EXPECT_EQ(root->read_only, (info.f_flag & ST_RDONLY) != 0);
  } else {
    EXPECT_EQ(root, nullptr) << "a root on " << root_device << " is no local disk";
  }
  if (disks) q4_free(disks, __FILE__, __LINE__);
}

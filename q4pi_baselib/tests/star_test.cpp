// The string hash table: lists, lookups, the index and the file form.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "q4_star.h"
#include "temp_dir.h"

namespace {

struct Record {
  int32_t number;
  char tag[4];
};

void put_int(std::string& bytes, int32_t value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof value); }

std::string string_record(const std::string& text) {
  std::string bytes;
  put_int(bytes, static_cast<int32_t>(text.size()));
  return bytes + text;
}

std::vector<std::string> entries(const Q4Star& table) {
  std::vector<std::string> out;
  for (int i = 0; i < table.n(); ++i) out.emplace_back(table.get(i));
  return out;
}

}  // namespace

TEST(Q4Star, WritesTheFileFormByteForByteAndReadsItBack) {
  TempDir dir;
  const std::string long_text(5000, 'L');  // longer than the first read buffer
  const std::vector<std::string> texts = {"alpha", "", "Beta gamma", long_text};

  Q4Star plain;
  for (const std::string& t : texts) ASSERT_TRUE(plain.add(t.c_str()));
  ASSERT_TRUE(plain.filewrite((dir / "plain").c_str()));
  std::string expected;
  put_int(expected, static_cast<int32_t>(plain.get_timestamp()));
  put_int(expected, 0);
  put_int(expected, 4);
  for (const std::string& t : texts) expected += string_record(t);
  EXPECT_EQ(read_text(dir / "plain"), expected);

  std::unique_ptr<Q4Star> back(Q4Star::fileread((dir / "plain").c_str()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(entries(*back), texts);
  EXPECT_EQ(back->get_timestamp(), plain.get_timestamp());
  EXPECT_EQ(back->get_client(0), nullptr);

  Q4Star with(sizeof(Record));
  const Record records[] = {{7, "abc"}, {-1, "xyz"}, {1 << 20, ""}};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(with.add_client(texts[i].c_str(), &records[i]));
  ASSERT_TRUE(with.filewrite((dir / "clients").c_str()));
  expected.clear();
  put_int(expected, static_cast<int32_t>(with.get_timestamp()));
  put_int(expected, sizeof(Record));
  put_int(expected, 3);
  for (int i = 0; i < 3; ++i) expected += string_record(texts[i]);
  for (const Record& r : records) expected.append(reinterpret_cast<const char*>(&r), sizeof r);
  EXPECT_EQ(read_text(dir / "clients"), expected);

  back.reset(Q4Star::fileread((dir / "clients").c_str()));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->n(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(back->get(i), texts[i].c_str());
    ASSERT_NE(back->get_client(i), nullptr);
    EXPECT_EQ(memcmp(back->get_client(i), &records[i], sizeof(Record)), 0) << i;
  }
  EXPECT_EQ(back->get_client(3), nullptr);
  EXPECT_EQ(back->get_timestamp(), with.get_timestamp());

  Q4Star empty;
  ASSERT_TRUE(empty.filewrite((dir / "empty").c_str()));
  back.reset(Q4Star::fileread((dir / "empty").c_str()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->n(), 0);
  EXPECT_FALSE(empty.filewrite((dir / "no-such-folder/file").c_str()));
}

TEST(Q4Star, ReadsOnlyWhatTheFileHolds) {
  TempDir dir;
  auto header = [](int32_t client_size, int32_t count) {
    std::string bytes;
    put_int(bytes, 1000);
    put_int(bytes, client_size);
    put_int(bytes, count);
    return bytes;
  };
  const std::string good = header(0, 2) + string_record("one") + string_record("two");
  std::string negative_length = header(0, 1);
  put_int(negative_length, -5);
  std::string long_length = header(0, 1);
  put_int(long_length, 1000);
  long_length += "short";
  const struct {
    const char* name;
    std::string bytes;
  } bad[] = {
      {"empty file", ""},
      {"header cut short", good.substr(0, 10)},
      {"ends inside a string", good.substr(0, good.size() - 1)},
      {"ends inside a length", good.substr(0, 12 + 7 + 2)},
      {"negative length", negative_length},
      {"length beyond the file", long_length},
      {"negative count", header(0, -1)},
      {"huge count", header(0, 0x7fffffff) + string_record("x")},
      {"negative client size", header(-4, 1) + string_record("x")},
      {"huge client size", header(0x7fffffff, 1) + string_record("x")},
      {"client records missing", header(8, 2) + string_record("a") + string_record("b") + std::string(12, 'c')},
  };
  for (const auto& c : bad) {
    write_text(dir / "bad", c.bytes);
    Q4Star* table = Q4Star::fileread((dir / "bad").c_str());
    EXPECT_EQ(table, nullptr) << c.name;
    delete table;
  }
  EXPECT_EQ(Q4Star::fileread((dir / "missing").c_str()), nullptr);

  write_text(dir / "good", good);
  std::unique_ptr<Q4Star> table(Q4Star::fileread((dir / "good").c_str()));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(entries(*table), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(table->get_timestamp(), 1000);

  // Every allocation of a read may fail: the result is the whole table or
  // nothing.
  for (int grants = 0; grants < 8; ++grants) {
    Q4Star* partial;
    {
      FailingHeap heap(grants);
      partial = Q4Star::fileread((dir / "good").c_str());
    }
    if (partial) {
      EXPECT_EQ(entries(*partial), (std::vector<std::string>{"one", "two"})) << grants;
    }
    delete partial;
  }
}

TEST(Q4Star, FindsFirstUnhashedLastHashedAndCountsProbes) {
  Q4Star table;
  // "ab" and "ba" share a chain: their character sums are equal.
  for (const char* t : {"ab", "ba", "Case", "ab", "zz"}) ASSERT_TRUE(table.add(t));
  EXPECT_EQ(table.find("ab", true), 0);
  EXPECT_EQ(table.find("case", true), -1);
  EXPECT_EQ(table.find("case", false), 2);
  EXPECT_EQ(table.find("missing", true), -1);
  EXPECT_EQ(table.get_find_stats(false), 0.0);

  ASSERT_TRUE(table.hash());
  // The chain of sum 'a' + 'b' holds ab(3), ba(1), ab(0), newest first.
  EXPECT_EQ(table.find("ab", true), 3);   // one comparison
  EXPECT_EQ(table.find("ba", true), 1);   // two
  EXPECT_EQ(table.find("`c", true), -1);  // same sum, not there: three
  EXPECT_EQ(table.find("zz", true), 4);   // a chain of its own: one
  EXPECT_EQ(table.find("AB", false), 0);  // not exact: the list in order, uncounted
  EXPECT_DOUBLE_EQ(table.get_find_stats(false), 7.0 / 4.0);
  EXPECT_DOUBLE_EQ(table.get_find_stats(true), 7.0 / 4.0);
  EXPECT_EQ(table.get_find_stats(false), 0.0);

  ASSERT_TRUE(table.add("new"));
  EXPECT_EQ(table.get_find_stats(false), 0.0);
  EXPECT_EQ(table.find("ab", true), 0);  // the index is gone: list order again

  int sum = 0;
  for (const char* c = "\xff\x80z"; *c; ++c) sum += static_cast<signed char>(*c);
  EXPECT_EQ(Q4Star::hashfunc("\xff\x80z"), ((sum % 10739) + 10739) % 10739);
  EXPECT_EQ(Q4Star::hashfunc("ab"), 'a' + 'b');
  EXPECT_EQ(Q4Star::hashfunc(""), 0);
}

TEST(Q4Star, DeletesAddsAndRefuses) {
  Q4Star table;
  for (const char* t : {"a", "b", "c"}) table.add(t);
  EXPECT_TRUE(table.del(0));
  EXPECT_EQ(entries(table), (std::vector<std::string>{"b", "c"}));
  EXPECT_FALSE(table.del(2));
  EXPECT_FALSE(table.del(-2));
  EXPECT_EQ(table.get(2), nullptr);
  EXPECT_EQ(table.get(-1), nullptr);
  EXPECT_TRUE(table.del(-1));
  EXPECT_EQ(table.n(), 0);
  EXPECT_FALSE(table.add(nullptr));
  Record r{1, "x"};
  EXPECT_FALSE(table.add_client("a", &r));

  Q4Star clients(sizeof(Record));
  EXPECT_FALSE(clients.add("a"));
  EXPECT_FALSE(clients.add_client("a", nullptr));
  EXPECT_FALSE(clients.add_client(nullptr, &r));
  for (int i = 0; i < 3; ++i) {
    r.number = i;
    ASSERT_TRUE(clients.add_client("x", &r));
  }
  EXPECT_TRUE(clients.del(1));
  EXPECT_EQ(static_cast<Record*>(clients.get_client(1))->number, 2);
  EXPECT_EQ(clients.n(), 2);

  const time_t stamp = table.get_timestamp();
  char expected[64];
  strftime(expected, sizeof expected, "%a %b %e %H:%M:%S %Y", localtime(&stamp));
  EXPECT_STREQ(table.get_timestamp_string(), expected);
  EXPECT_EQ(strlen(table.get_timestamp_string()), 24u);
}

TEST(Q4Star, AFailedGrowthKeepsEveryEntry) {
  Q4Star table;
  std::vector<std::string> expected;
  for (int i = 0; i < 16; ++i) {
    expected.push_back("entry " + std::to_string(i));
    ASSERT_TRUE(table.add(expected.back().c_str()));
  }
  {
    FailingHeap heap(0);  // the arrays cannot grow beyond 16
    EXPECT_FALSE(table.add("seventeen"));
  }
  EXPECT_EQ(entries(table), expected);
  {
    FailingHeap heap(1);  // the arrays grow, the copy of the text fails
    EXPECT_FALSE(table.add("seventeen"));
  }
  EXPECT_EQ(entries(table), expected);
  ASSERT_TRUE(table.add("seventeen"));
  expected.push_back("seventeen");
  EXPECT_EQ(entries(table), expected);

  Q4Star clients(sizeof(Record));
  const Record r{5, "abc"};
  ASSERT_TRUE(clients.add_client("kept", &r));
  for (int grants = 0; grants < 2; ++grants) {
    FailingHeap heap(grants);  // the text or its record cannot be copied
    EXPECT_FALSE(clients.add_client("lost", &r)) << grants;
  }
  ASSERT_EQ(clients.n(), 1);
  EXPECT_STREQ(clients.get(0), "kept");
  EXPECT_EQ(static_cast<Record*>(clients.get_client(0))->number, 5);
}

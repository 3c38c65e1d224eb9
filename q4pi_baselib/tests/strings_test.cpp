// Character, string and word functions.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "q4_strings.h"

TEST(Strings, CharacterValues) {
  EXPECT_EQ(hexval('0'), 0);
  EXPECT_EQ(hexval('9'), 9);
  EXPECT_EQ(hexval('a'), 10);
  EXPECT_EQ(hexval('F'), 15);
  EXPECT_EQ(hexval('g'), 0);
  EXPECT_EQ(decval('7'), 7);
  EXPECT_EQ(decval('a'), 0);
  char text[] = "MiXeD 12";
  fold_lower(text);
  EXPECT_STREQ(text, "mixed 12");
  EXPECT_EQ(safe_strcmp(nullptr, nullptr), 0);
  EXPECT_EQ(safe_strcmp(nullptr, ""), -1);
  EXPECT_EQ(safe_strcmp("", nullptr), -1);
  EXPECT_LT(safe_strcmp("a", "b"), 0);
  EXPECT_EQ(safe_strcmp("same", "same"), 0);
}

TEST(Strings, EscapedConstantsStayInsideTheirBuffer) {
  EXPECT_EQ(safe_string_constant(nullptr), nullptr);
  EXPECT_STREQ(safe_string_constant(R"(say "hi" \ bye)"), R"(say \"hi\" \\ bye)");
  const std::string quotes(5000, '"');
  const char* escaped = safe_string_constant(quotes.c_str());
  EXPECT_EQ(strlen(escaped), 4094u);
  EXPECT_EQ(std::string(escaped, 2), "\\\"");
}

TEST(Strings, PlainWords) {
  char out[16];
  EXPECT_EQ(count_words("  one two\tthree  "), 3);
  EXPECT_EQ(count_words(""), 0);
  EXPECT_TRUE(get_word("  one two\tthree  ", 3, out, sizeof out));
  EXPECT_STREQ(out, "three");
  EXPECT_FALSE(get_word("one two", 3, out, sizeof out));
  EXPECT_TRUE(get_word("abcdefghijkl", 1, out, 5));
  EXPECT_STREQ(out, "abcd");
}

TEST(Strings, QuotedWords) {
  const char* text = R"(set "ab c" last)";
  char out[32];
  EXPECT_EQ(count_words_quoted(text), 3);
  EXPECT_EQ(count_words(text), 4);
  ASSERT_TRUE(get_word_quoted(text, 2, out, sizeof out, true));
  EXPECT_STREQ(out, "ab c");
  ASSERT_TRUE(get_word_quoted(text, 2, out, sizeof out, false));
  EXPECT_STREQ(out, "\"ab c\"");
  ASSERT_TRUE(get_word_quoted(text, 3, out, sizeof out, true));
  EXPECT_STREQ(out, "last");
  EXPECT_FALSE(get_word_quoted(text, 4, out, sizeof out, true));

  // An escaped quote neither groups nor is dropped; a lone backslash is.
  const char* escaped = R"(a\"b c\\d "x\"y z")";
  EXPECT_EQ(count_words_quoted(escaped), 3);
  ASSERT_TRUE(get_word_quoted(escaped, 1, out, sizeof out, true));
  EXPECT_STREQ(out, "a\"b");
  ASSERT_TRUE(get_word_quoted(escaped, 2, out, sizeof out, true));
  EXPECT_STREQ(out, "c\\d");
  ASSERT_TRUE(get_word_quoted(escaped, 3, out, sizeof out, true));
  EXPECT_STREQ(out, "x\"y z");

  // At most size - 1 characters of the text are consumed.
  ASSERT_TRUE(get_word_quoted("\"abcdef\"", 1, out, 4, true));
  EXPECT_STREQ(out, "ab");
}

TEST(Strings, PartialMatchAndLines) {
  char a[] = "SHow", b[] = "sh";
  EXPECT_TRUE(partial_match(a, b));
  EXPECT_STREQ(a, "show");
  char c[] = "set", d[] = "show";
  EXPECT_FALSE(partial_match(c, d));
  char e[] = "Any", empty[] = "";
  EXPECT_TRUE(partial_match(e, empty));

  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  fputs("\"quoted line\"\nplain\n\"\n", file);
  rewind(file);
  char line[64];
  ASSERT_TRUE(get_line(file, line, sizeof line, true));
  EXPECT_STREQ(line, "quoted line");
  ASSERT_TRUE(get_line(file, line, sizeof line, true));
  EXPECT_STREQ(line, "plain");
  ASSERT_TRUE(get_line(file, line, sizeof line, true));
  EXPECT_STREQ(line, "\"");  // one character is no quoted line
  EXPECT_FALSE(get_line(file, line, sizeof line, true));
  fclose(file);
}

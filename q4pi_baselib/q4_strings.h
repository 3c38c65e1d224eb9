#ifndef Q4_STRINGS_H
#define Q4_STRINGS_H

#include <cstdio>
#include <string>

// Character and string helpers for simple text parsing.
int hexval(char c);
int decval(char c);
void fold_lower(char* text);
int safe_strcmp(const char* a, const char* b);
// A copy with a backslash before every backslash and double quote, in a
// static buffer that the next call overwrites.
char* safe_string_constant(const char* text);
bool get_line(FILE* file, char* buffer, int size, bool unquote);
// Bytes read from a file as a message may show them on a terminal: printable
// ASCII as itself, any other byte (a control character included) as \xNN.
std::string printable_bytes(const std::string& bytes);

// Word n (from 1) of text, words separated by white space.
bool get_word(const char* text, int n, char* out, int size);
int count_words(const char* text);
// The same, where double quotes group words and a backslash escapes the
// next character; strip drops the grouping quotes.
bool get_word_quoted(const char* text, int n, char* out, int size, bool strip);
int count_words_quoted(const char* text);
// Lowercases both (b only when not empty) in place; true when one is a prefix
// of the other.
bool partial_match(char* a, char* b);

#endif

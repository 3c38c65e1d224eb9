#ifndef Q4_STAR_H
#define Q4_STAR_H

#include <ctime>

// One node of Q4Star's hash index: a string of the table (not owned) and
// its position.
class Q4Chain {
 public:
  Q4Chain() : next(nullptr), string(nullptr), index(0) {}
  Q4Chain* next;
  const char* string;
  int index;
};

// An ordered list of strings, each optionally with a client record of a
// fixed size copied in beside it, with an optional hash index for exact
// lookups and a file form. Indices are positions in the list; deleting moves
// the later entries down. Every change drops the index, so it is never
// stale: hash() again to use it.
//
// File form, every integer 32 bits in the machine's byte order: timestamp,
// client size, count, then per string its length and its text without a
// terminator, then the client records in string order.
class Q4Star {
 public:
  enum { hash_size = 10739 };

  Q4Star();
  explicit Q4Star(int client_size);
  virtual ~Q4Star();
  Q4Star(const Q4Star&) = delete;
  Q4Star& operator=(const Q4Star&) = delete;

  // False for a table with clients, a null text or when out of memory; the
  // table then holds what it held before.
  bool add(const char* text);
  // False for a table without clients, a null text or client, or when out
  // of memory.
  bool add_client(const char* text, const void* client);
  char* get(int i) const;
  void* get_client(int i) const;
  int n() const { return count_; }
  // del(-1) empties the table.
  bool del(int i);

  // False (and no index) when out of memory.
  bool hash();
  void freehash();
  static int hashfunc(const char* text);
  // The index of a match or -1: exact through the index when it is built
  // (the last of equal strings), otherwise the first in list order; not
  // exact ignores case.
  int find(const char* text, bool exact);
  // Comparisons per indexed lookup since the index was built or reset.
  double get_find_stats(bool reset);

  bool filewrite(const char* path);
  // A new table read from the file, or null for a missing, short or
  // inconsistent file; this table is not touched.
  static Q4Star* fileread(const char* path);
  time_t get_timestamp() const { return timestamp_; }
  // ctime's text without its newline, in a buffer the next call overwrites.
  char* get_timestamp_string() const;

 private:
  bool grow();
  bool append(const char* text, const void* client);

  char** strings_;
  int count_;
  int capacity_;
  Q4Chain* buckets_[hash_size];
  bool hashed_;
  void** clients_;
  int client_size_;
  int find_calls_;
  int find_probes_;
  time_t timestamp_;
};

#endif

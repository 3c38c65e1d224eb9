#include "q4_star.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>

#include "q4_memory.h"

namespace {

// Reads exactly `size` bytes, never more than the file has left.
bool read_exact(FILE* file, void* buffer, size_t size, long& left) {
  if (size > static_cast<unsigned long>(left)) return false;
  if (size > 0 && fread(buffer, 1, size, file) != size) return false;
  left -= static_cast<long>(size);
  return true;
}

bool read_int(FILE* file, int32_t& value, long& left) { return read_exact(file, &value, sizeof value, left); }

bool write_int(FILE* file, int32_t value) { return fwrite(&value, sizeof value, 1, file) == 1; }

long file_size(FILE* file) {
  if (fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = ftell(file);
  return fseek(file, 0, SEEK_SET) == 0 ? size : -1;
}

// Array sizes travel to the heap as 32-bit unsigned numbers.
bool array_bytes(long entries, size_t entry_size, unsigned& bytes) {
  const unsigned long long total = static_cast<unsigned long long>(entries) * entry_size;
  if (entries < 0 || total > UINT_MAX) return false;
  bytes = static_cast<unsigned>(total);
  return true;
}

}  // namespace

Q4Star::Q4Star() : Q4Star(0) {}

Q4Star::Q4Star(int client_size)
    : strings_(nullptr),
      count_(0),
      capacity_(0),
      buckets_(),
      hashed_(false),
      clients_(nullptr),
      client_size_(client_size > 0 ? client_size : 0),
      find_calls_(0),
      find_probes_(0),
      timestamp_(time(nullptr)) {}

Q4Star::~Q4Star() {
  del(-1);
  freehash();
  if (strings_) q4_free(strings_, __FILE__, __LINE__);
  if (clients_) q4_free(clients_, __FILE__, __LINE__);
}

bool Q4Star::grow() {
  if (count_ < capacity_) return true;
  const long capacity = capacity_ == 0 ? 16 : 2L * capacity_;
  unsigned bytes;
  if (capacity > INT_MAX || !array_bytes(capacity, sizeof(void*), bytes)) return false;
  // Each array is replaced only once it has grown, so a refusal leaves the
  // table whole at its old capacity.
  char** strings = static_cast<char**>(q4_realloc(strings_, bytes, __FILE__, __LINE__));
  if (!strings) return false;
  strings_ = strings;
  if (client_size_ > 0) {
    void** clients = static_cast<void**>(q4_realloc(clients_, bytes, __FILE__, __LINE__));
    if (!clients) return false;
    clients_ = clients;
  }
  capacity_ = static_cast<int>(capacity);
  return true;
}

bool Q4Star::append(const char* text, const void* client) {
  freehash();
  if (!grow()) return false;
  char* copy = q4_strdup(text, __FILE__, __LINE__);
  if (!copy) return false;
  if (client_size_ > 0) {
    void* record = q4_malloc(static_cast<unsigned>(client_size_), __FILE__, __LINE__);
    if (!record) {
      q4_free(copy, __FILE__, __LINE__);
      return false;
    }
    memcpy(record, client, static_cast<size_t>(client_size_));
    clients_[count_] = record;
  }
  strings_[count_++] = copy;
  return true;
}

bool Q4Star::add(const char* text) { return text && client_size_ == 0 && append(text, nullptr); }

bool Q4Star::add_client(const char* text, const void* client) {
  return text && client && client_size_ > 0 && append(text, client);
}

char* Q4Star::get(int i) const { return i >= 0 && i < count_ ? strings_[i] : nullptr; }

void* Q4Star::get_client(int i) const {
  return client_size_ > 0 && i >= 0 && i < count_ ? clients_[i] : nullptr;
}

bool Q4Star::del(int i) {
  freehash();
  if (i == -1) {
    for (int k = 0; k < count_; ++k) {
      q4_free(strings_[k], __FILE__, __LINE__);
      if (client_size_ > 0) q4_free(clients_[k], __FILE__, __LINE__);
    }
    count_ = 0;
    return true;
  }
  if (i < 0 || i >= count_ || !strings_[i]) return false;
  q4_free(strings_[i], __FILE__, __LINE__);
  memmove(strings_ + i, strings_ + i + 1, static_cast<size_t>(count_ - i - 1) * sizeof *strings_);
  if (client_size_ > 0) {
    q4_free(clients_[i], __FILE__, __LINE__);
    memmove(clients_ + i, clients_ + i + 1, static_cast<size_t>(count_ - i - 1) * sizeof *clients_);
  }
  --count_;
  return true;
}

int Q4Star::hashfunc(const char* text) {
  if (!text) return 0;
  long sum = 0;
  for (const char* c = text; *c; ++c) sum += static_cast<signed char>(*c);
  const long bucket = sum % hash_size;
  return static_cast<int>(bucket < 0 ? bucket + hash_size : bucket);
}

bool Q4Star::hash() {
  freehash();
  // Later entries go in front, so among equal strings the last is found.
  for (int i = 0; i < count_; ++i) {
    Q4Chain* node = new (std::nothrow) Q4Chain;
    if (!node) {
      freehash();
      return false;
    }
    Q4Chain*& head = buckets_[hashfunc(strings_[i])];
    node->string = strings_[i];
    node->index = i;
    node->next = head;
    head = node;
  }
  hashed_ = true;
  find_calls_ = find_probes_ = 0;
  return true;
}

void Q4Star::freehash() {
  for (Q4Chain*& head : buckets_) {
    while (head) {
      Q4Chain* next = head->next;
      delete head;
      head = next;
    }
  }
  hashed_ = false;
}

int Q4Star::find(const char* text, bool exact) {
  if (!text) return -1;
  if (hashed_ && exact) {
    ++find_calls_;
    for (const Q4Chain* node = buckets_[hashfunc(text)]; node; node = node->next) {
      ++find_probes_;
      if (strcmp(node->string, text) == 0) return node->index;
    }
    return -1;
  }
  for (int i = 0; i < count_; ++i)
    if ((exact ? strcmp(strings_[i], text) : strcasecmp(strings_[i], text)) == 0) return i;
  return -1;
}

double Q4Star::get_find_stats(bool reset) {
  const double probes = hashed_ && find_calls_ > 0 ? static_cast<double>(find_probes_) / find_calls_ : 0.0;
  if (reset) find_calls_ = find_probes_ = 0;
  return probes;
}

bool Q4Star::filewrite(const char* path) {
  FILE* file = fopen(path, "wb+");
  if (!file) return false;
  timestamp_ = time(nullptr);
  bool ok = write_int(file, static_cast<int32_t>(timestamp_)) && write_int(file, client_size_) &&
            write_int(file, count_);
  for (int i = 0; ok && i < count_; ++i) {
    const size_t length = strlen(strings_[i]);
    ok = length <= INT32_MAX && write_int(file, static_cast<int32_t>(length)) &&
         fwrite(strings_[i], 1, length, file) == length;
  }
  for (int i = 0; ok && client_size_ > 0 && i < count_; ++i)
    ok = fwrite(clients_[i], static_cast<size_t>(client_size_), 1, file) == 1;
  return fclose(file) == 0 && ok;
}

Q4Star* Q4Star::fileread(const char* path) {
  FILE* file = fopen(path, "rb");
  if (!file) return nullptr;
  long left = file_size(file);
  unsigned buffer_size = 4096;
  char* buffer = static_cast<char*>(q4_malloc(buffer_size, __FILE__, __LINE__));
  int32_t stamp = 0, client_size = 0, count = 0;
  unsigned array_size = 0;
  // Every size in the file is checked against the bytes it has left before
  // anything is allocated or read for it: each string needs at least its
  // length field, and the client records follow them.
  bool ok = buffer && left >= 0 && read_int(file, stamp, left) && read_int(file, client_size, left) &&
            client_size >= 0 && read_int(file, count, left) && count >= 0 &&
            count <= left / static_cast<long>(sizeof(int32_t)) && array_bytes(count, sizeof(void*), array_size) &&
            (client_size == 0 || count <= left / client_size);
  Q4Star* table = ok ? new (std::nothrow) Q4Star(client_size) : nullptr;
  ok = table != nullptr;
  if (ok && count > 0) {
    table->strings_ = static_cast<char**>(q4_malloc(array_size, __FILE__, __LINE__));
    if (client_size > 0) table->clients_ = static_cast<void**>(q4_malloc(array_size, __FILE__, __LINE__));
    ok = table->strings_ && (client_size == 0 || table->clients_);
    if (ok) table->capacity_ = count;
  }
  if (ok) table->timestamp_ = stamp;
  // Entries count once both their string and their client record are in,
  // so a failure part-way leaves a table that deletes cleanly.
  for (int i = 0; ok && i < count; ++i) {
    int32_t length = 0;
    ok = read_int(file, length, left) && length >= 0 && length <= left;
    if (ok && static_cast<unsigned>(length) >= buffer_size) {
      buffer_size = static_cast<unsigned>(length) + 2;
      char* larger = static_cast<char*>(q4_realloc(buffer, buffer_size, __FILE__, __LINE__));
      if (larger) buffer = larger;
      ok = larger != nullptr;
    }
    ok = ok && read_exact(file, buffer, static_cast<size_t>(length), left);
    if (ok) {
      buffer[length] = '\0';
      table->strings_[i] = q4_strdup(buffer, __FILE__, __LINE__);
      ok = table->strings_[i] != nullptr;
    }
    if (ok && client_size > 0) {
      table->clients_[i] = q4_malloc(static_cast<unsigned>(client_size), __FILE__, __LINE__);
      ok = table->clients_[i] != nullptr;
      if (!ok) q4_free(table->strings_[i], __FILE__, __LINE__);
    }
    if (ok) table->count_ = i + 1;
  }
  for (int i = 0; ok && client_size > 0 && i < count; ++i)
    ok = read_exact(file, table->clients_[i], static_cast<size_t>(client_size), left);
  fclose(file);
  if (buffer) q4_free(buffer, __FILE__, __LINE__);
  if (!ok) {
    delete table;
    return nullptr;
  }
  return table;
}

char* Q4Star::get_timestamp_string() const {
  static char text[32];
  char line[64];
  const time_t stamp = timestamp_;
  if (!ctime_r(&stamp, line)) line[0] = '\0';
  line[strcspn(line, "\n")] = '\0';
  snprintf(text, sizeof text, "%s", line);
  return text;
}

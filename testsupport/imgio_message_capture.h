#ifndef TEST_IMGIO_MESSAGE_CAPTURE_H
#define TEST_IMGIO_MESSAGE_CAPTURE_H

#include <string>
#include <vector>

#include "imgio_messages.h"

// While in scope, every message of the image-file library is kept here
// (level and text) instead of going to standard error.
class MessageCapture {
 public:
  struct Message {
    int level;
    std::string text;
  };

  MessageCapture() {
    sink() = &messages;
    messsetproc(record);
  }
  ~MessageCapture() {
    messsetproc(messtostderr);
    sink() = nullptr;
  }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  bool has(const std::string& text) const {
    for (const Message& m : messages)
      if (m.text == text) return true;
    return false;
  }
  std::string last() const { return messages.empty() ? std::string() : messages.back().text; }
  int last_level() const { return messages.empty() ? 0 : messages.back().level; }

  std::vector<Message> messages;

 private:
  static std::vector<Message>*& sink() {
    static std::vector<Message>* current = nullptr;
    return current;
  }
  static int record(imssys* services) {
    if (sink()) sink()->push_back({services->level, services->text});
    return 0;
  }
};

#endif

#include "tools/json_writer.h"

#include <cstdio>

namespace tarvex::tool {

void JsonWriter::separate() {
  if (!after_key_ && !first_.empty() && !first_.back()) out_ << ", ";
  if (!first_.empty()) first_.back() = false;
  after_key_ = false;
}

void JsonWriter::string(std::string_view text) {
  out_ << '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out_ << '\\' << c;
    } else if (c == '\n' || c == '\t') {
      out_ << (c == '\n' ? "\\n" : "\\t");
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out_ << escaped;
    } else {
      out_ << c;
    }
  }
  out_ << '"';
}

JsonWriter& JsonWriter::open(char bracket) {
  separate();
  out_ << bracket;
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
  out_ << bracket;
  first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  string(name);
  out_ << ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  separate();
  string(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  separate();
  out_ << number;
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  out_ << (flag ? "true" : "false");
  return *this;
}

}  // namespace tarvex::tool

// A small streaming JSON writer for the tool's --json output.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>
#include <vector>

namespace tarvex::tool {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(bool flag);

 private:
  void separate();
  void string(std::string_view text);

  std::ostream& out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool after_key_ = false;
};

}  // namespace tarvex::tool

// A small strict JSON reader for checking the --api output.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jsoncheck {

struct Value {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  double number = 0;
  bool boolean = false;
  std::string text;
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;
  const Value* get(const std::string& key) const {
    for (auto& m : members)
      if (m.first == key) return &m.second;
    return nullptr;
  }
};

// Parses the whole text; false on any syntax error or trailing garbage.
bool parse(const std::string& text, Value& out);

}  // namespace jsoncheck

#include "frontend/json_check.h"

#include <cstdlib>

namespace jsoncheck {
namespace {

struct Reader {
  const std::string& s;
  size_t i = 0;
  void ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  bool lit(const char* w) {
    size_t n = std::string(w).size();
    if (s.compare(i, n, w) != 0) return false;
    i += n;
    return true;
  }
  bool str(std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    while (i < s.size() && s[i] != '"') {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++i >= s.size()) return false;
        char e = s[i];
        if (e == 'u') {
          if (i + 4 >= s.size()) return false;
          unsigned v = static_cast<unsigned>(std::strtoul(s.substr(i + 1, 4).c_str(), nullptr, 16));
          if (v < 0x80) out.push_back(static_cast<char>(v));
          else out += "?";
          i += 5;
          continue;
        }
        const char* map = "\"\\/bfnrt";
        const char* rep = "\"\\/\b\f\n\r\t";
        bool found = false;
        for (int k = 0; map[k]; ++k)
          if (map[k] == e) {
            out.push_back(rep[k]);
            found = true;
          }
        if (!found) return false;
        ++i;
        continue;
      }
      out.push_back(s[i++]);
    }
    if (i >= s.size()) return false;
    ++i;
    return true;
  }
  bool value(Value& v) {
    ws();
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == '{') {
      v.kind = Value::Object;
      ++i;
      ws();
      if (i < s.size() && s[i] == '}') { ++i; return true; }
      for (;;) {
        ws();
        std::string key;
        if (!str(key)) return false;
        ws();
        if (i >= s.size() || s[i] != ':') return false;
        ++i;
        Value m;
        if (!value(m)) return false;
        v.members.emplace_back(key, m);
        ws();
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == '}') { ++i; return true; }
        return false;
      }
    }
    if (c == '[') {
      v.kind = Value::Array;
      ++i;
      ws();
      if (i < s.size() && s[i] == ']') { ++i; return true; }
      for (;;) {
        Value m;
        if (!value(m)) return false;
        v.items.push_back(m);
        ws();
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == ']') { ++i; return true; }
        return false;
      }
    }
    if (c == '"') {
      v.kind = Value::String;
      return str(v.text);
    }
    if (lit("true")) { v.kind = Value::Bool; v.boolean = true; return true; }
    if (lit("false")) { v.kind = Value::Bool; return true; }
    if (lit("null")) return true;
    const char* start = s.c_str() + i;
    char* end = nullptr;
    v.number = std::strtod(start, &end);
    if (end == start) return false;
    v.kind = Value::Number;
    i += static_cast<size_t>(end - start);
    return true;
  }
};

}  // namespace

bool parse(const std::string& text, Value& out) {
  Reader r{text};
  if (!r.value(out)) return false;
  r.ws();
  return r.i == text.size();
}

}  // namespace jsoncheck

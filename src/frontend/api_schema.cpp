// The --api option schema: every usage line that begins with an option
// name becomes one entry {name, usage}.
#include <string>
#include <vector>

#include "frontend/host.h"
#include "frontend/usage.h"

namespace varn {

std::string api_schema_json(const std::string& program_name) {
  const std::string usage = usage_text(program_name);
  struct Entry { std::string name, usage; };
  std::vector<Entry> entries;
  size_t start = 0;
  while (start < usage.size()) {
    size_t end = usage.find('\n', start);
    if (end == std::string::npos) end = usage.size();
    std::string line = usage.substr(start, end - start);
    start = end + 1;
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] != '-') continue;
    size_t name_end = line.find_first_of(" \t", p);
    if (name_end == std::string::npos) name_end = line.size();
    std::string name = line.substr(p, name_end - p);
    size_t u = line.find_first_not_of(" \t", name_end);
    std::string text = u == std::string::npos ? std::string() : line.substr(u);
    if (name.size() >= 2) entries.push_back({name, text});
  }
  std::string json = "{\"tool\":\"" + json_escape("VarnPackEngine") + "\",\"version\":\"" +
                     json_escape("6.76.9") + "\",\"optionCount\":" + std::to_string(entries.size()) +
                     ",\"options\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) json += ",";
    json += "{\"name\":\"" + json_escape(entries[i].name) + "\",\"usage\":\"" + json_escape(entries[i].usage) + "\"}";
  }
  json += "]}\n";
  return json;
}

}  // namespace varn

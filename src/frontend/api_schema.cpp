// The --api option schema: one entry {name, usage} for every option row of
// the usage text, in its order, the usage being the row after the name.
#include <string>

#include "frontend/host.h"
#include "frontend/options.h"

namespace varn {

std::string api_schema_json(const std::string& program_name) {
  std::string options;
  size_t count = 0;
  for (const OptionSpec& o : option_table()) {
    const bool listed = o.section != Section::Hidden && (o.kind != OptionKind::Operand && o.kind != OptionKind::Note);
    if (!listed) continue;
    if (count++) options += ",";
    options += "{\"name\":\"" + json_escape(o.name) + "\",\"usage\":\"" + json_escape(usage_after_name(o)) + "\"}";
  }
  return "{\"tool\":\"" + json_escape("VarnPackEngine") + "\",\"version\":\"" + json_escape(program_version()) +
         "\",\"optionCount\":" + std::to_string(count) + ",\"options\":[" + options + "]}\n";
}

}  // namespace varn

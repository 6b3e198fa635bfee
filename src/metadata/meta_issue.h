#pragma once

#include <cstdint>
#include <string>

namespace varn {

// One finding of the metadata pre-flight.
struct MetaIssue {
  uint32_t severity = 0;  // 2 error, 1 warning, 0 note
  std::string subject;    // "track N", "album" or "disc"
  std::string message;
};

}  // namespace varn

// The symbols a coded frame's channels were coded with, kept by the coder
// for the decode check: when the filters read back from the frame are the
// ones the coder used, the check's symbols (predicted from the same input)
// are these, and it need not predict the channels again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varn {

struct DstCodedSymbols {
  bool valid = false;  // false after a plain frame
  int channels = 0;
  size_t length = 0;              // positions per channel
  std::vector<uint8_t> sym;       // channels x length
  std::vector<int16_t> coef;      // channels x 128: each channel's filter
  std::vector<int> order;         // per channel
  std::vector<size_t> unpredicted;  // per channel: positions coded with probability 128
};

}  // namespace varn

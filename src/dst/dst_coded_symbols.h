// What the coder leaves of a kept frame for its decode check.
//
// The symbols: when the filters read back from the frame are the ones the
// coder used, the check's symbols (predicted from the same input) are the
// coder's, and it need not predict the channels again. They are read where
// the coder keeps them, so they hold only until its next frame.
//
// The marks: the coder's registers at three points of the frame, where the
// check starts decoding its second, third and fourth quarters while the
// first is decoded, so that four serial decodings of one frame overlap in
// the processor. The check takes them as claims only: each quarter must
// end exactly in the state the next one started from.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

constexpr int kDstCheckParts = 4;

// The arithmetic coder between two positions, normalised.
struct DstArithMark {
  size_t position = 0;  // positions of every channel coded before it
  size_t bits = 0;      // code bits so far, the integer bit included
  uint32_t range = 0;
  uint32_t low = 0;  // the last 12 of those bits
};

struct DstCodedSymbols {
  bool valid = false;  // the symbols; false after a plain frame
  int channels = 0;
  size_t length = 0;  // positions per channel
  const uint8_t* sym[64] = {};    // each channel's symbols
  const int16_t* coef[64] = {};   // each channel's filter
  int order[64] = {};
  size_t unpredicted[64] = {};    // positions coded with probability 128
  bool marked = false;            // the marks
  DstArithMark mark[kDstCheckParts - 1];
};

}  // namespace varn

#include "audio/bit_reverse.h"

namespace varn {

namespace {

struct BitReverseTable {
  uint8_t v[256];
  BitReverseTable() {
    for (int i = 0; i < 256; ++i) {
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r = uint8_t(r | (0x80 >> b));
      v[i] = r;
    }
  }
};

}  // namespace

const uint8_t* bit_reverse_table() {
  static const BitReverseTable table;
  return table.v;
}

}  // namespace varn

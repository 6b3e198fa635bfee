// DSF writer: "DSD ", "fmt " and "data" chunks, channel blocks of a fixed
// size per channel (zero-filled at the end), optional ID3v2 tag at the end.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"

namespace dsdgen {
namespace {

void put_le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

uint8_t reverse_bits(uint8_t v) {
  v = uint8_t(((v & 0xF0) >> 4) | ((v & 0x0F) << 4));
  v = uint8_t(((v & 0xCC) >> 2) | ((v & 0x33) << 2));
  v = uint8_t(((v & 0xAA) >> 1) | ((v & 0x55) << 1));
  return v;
}

// DSF channel type for a channel count (0 when the format has none).
uint32_t channel_type(uint32_t channels) {
  switch (channels) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    case 5: return 6;
    case 6: return 7;
    default: return 0;
  }
}

}  // namespace

bool write_dsf(const std::string& path, uint32_t channels, uint32_t sample_rate,
               const std::vector<uint8_t>& payload, const DsfOptions& opt,
               uint64_t sample_count) {
  if (channels == 0) {
    std::fprintf(stderr, "dsdgen: channel count 0\n");
    return false;
  }
  const uint64_t bpc = payload.size() / channels;
  if (sample_count == 0) sample_count = bpc * 8;
  const uint64_t B = opt.block_size ? opt.block_size : bpc;
  const uint64_t blocks = B ? (bpc + B - 1) / B : 0;
  const uint64_t data_bytes = blocks * B * channels;
  const std::vector<uint8_t> tag = opt.tags.empty() ? std::vector<uint8_t>() : build_id3(opt.tags);
  const uint64_t data_chunk = 12 + data_bytes;
  const uint64_t total = 28 + 52 + data_chunk + tag.size();

  std::vector<uint8_t> head;
  head.insert(head.end(), {'D', 'S', 'D', ' '});
  put_le(head, 28, 8);
  put_le(head, total, 8);
  put_le(head, tag.empty() ? 0 : 28 + 52 + data_chunk, 8);
  head.insert(head.end(), {'f', 'm', 't', ' '});
  put_le(head, 52, 8);
  put_le(head, 1, 4);  // format version
  put_le(head, 0, 4);  // format id: DSD raw
  put_le(head, channel_type(channels), 4);
  put_le(head, channels, 4);
  put_le(head, sample_rate, 4);
  put_le(head, opt.lsb_first ? 1 : 8, 4);
  put_le(head, sample_count, 8);
  put_le(head, opt.block_size, 4);
  put_le(head, 0, 4);  // reserved
  head.insert(head.end(), {'d', 'a', 't', 'a'});
  put_le(head, data_chunk, 8);

  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "dsdgen: cannot create %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();

  uint8_t rev[256];
  for (int v = 0; v < 256; ++v) rev[v] = opt.lsb_first ? reverse_bits(uint8_t(v)) : uint8_t(v);
  std::vector<uint8_t> block(B);
  for (uint64_t k = 0; ok && k < blocks; ++k) {
    const uint64_t first = k * B;
    const uint64_t n = (bpc - first < B) ? bpc - first : B;
    for (uint32_t c = 0; ok && c < channels; ++c) {
      const uint8_t* src = payload.data() + first * channels + c;
      for (uint64_t j = 0; j < n; ++j, src += channels) block[j] = rev[*src];
      for (uint64_t j = n; j < B; ++j) block[j] = 0;
      ok = std::fwrite(block.data(), 1, B, f) == B;
    }
  }
  if (ok && !tag.empty()) ok = std::fwrite(tag.data(), 1, tag.size(), f) == tag.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "dsdgen: write failed: %s\n", path.c_str());
  return ok;
}

}  // namespace dsdgen

#include "audio/channel_order.h"

#include <cstring>

namespace varn {

namespace {

enum Speaker { kLeft, kRight, kCentre, kLfe, kLeftSurround, kRightSurround, kNone };

Speaker speaker_of(const char* id) {
  static const struct {
    const char* id;
    Speaker speaker;
  } kIds[] = {{"SLFT", kLeft}, {"MLFT", kLeft},         {"SRGT", kRight},        {"MRGT", kRight},
              {"C   ", kCentre}, {"LFE ", kLfe}, {"LS  ", kLeftSurround}, {"RS  ", kRightSurround}};
  for (const auto& k : kIds)
    if (std::memcmp(id, k.id, 4) == 0) return k.speaker;
  return kNone;
}

}  // namespace

bool area_channel_order(const std::string& ids, uint32_t channels, std::vector<uint8_t>& from) {
  static const Speaker kTwo[] = {kLeft, kRight};
  static const Speaker kFive[] = {kLeft, kRight, kCentre, kLeftSurround, kRightSurround};
  static const Speaker kSix[] = {kLeft, kRight, kCentre, kLfe, kLeftSurround, kRightSurround};
  const Speaker* layout = channels == 2 ? kTwo : channels == 5 ? kFive : channels == 6 ? kSix : nullptr;
  from.clear();
  if (!layout || ids.size() != 4 * size_t(channels)) return false;
  for (uint32_t c = 0; c < channels; ++c) {
    for (uint32_t f = 0; f < channels; ++f) {
      if (speaker_of(ids.data() + 4 * f) != layout[c]) continue;
      if (from.size() > c) return false;  // the same speaker twice
      from.push_back(uint8_t(f));
    }
    if (from.size() != c + 1) return false;
  }
  return true;
}

bool ids_name_speakers(const std::string& ids) {
  for (size_t at = 0; at + 4 <= ids.size(); at += 4)
    if (speaker_of(ids.data() + at) == kNone) return false;
  return !ids.empty();
}

void reorder_channels(uint8_t* data, size_t n, const std::vector<uint8_t>& from) {
  const size_t C = from.size();
  uint8_t sample[8];
  if (C == 0 || C > sizeof sample) return;
  for (size_t at = 0; at + C <= n; at += C) {
    for (size_t c = 0; c < C; ++c) sample[c] = data[at + from[c]];
    std::memcpy(data + at, sample, C);
  }
}

std::string channel_id_text(const std::string& ids) {
  std::string text;
  for (size_t at = 0; at + 4 <= ids.size(); at += 4) {
    std::string id = ids.substr(at, 4);
    while (!id.empty() && id.back() == ' ') id.pop_back();
    for (char& ch : id)
      if (ch < 0x20 || ch > 0x7E) ch = '?';
    if (!text.empty()) text += ' ';
    text += id;
  }
  return text;
}

}  // namespace varn

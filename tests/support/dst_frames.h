// DST frames made in memory put where the system keeps them (a spool of
// their own), and a track's frames read back through its store.
#pragma once

#include <memory>
#include <stdexcept>
#include <vector>

#include "audio/dst_frame_store.h"
#include "dst/dst_frame.h"

namespace testsupport {

inline varn::DstFrameStore spooled_frames(const std::vector<varn::DstFrame>& frames) {
  varn::DstFrameStore store;
  store.spool = std::make_shared<varn::DstSpool>();
  if (!varn::open_dst_spool(*store.spool)) throw std::runtime_error("cannot open a DST spool");
  for (const varn::DstFrame& f : frames) varn::spool_dst_frame(store, f.data(), f.size());
  if (!varn::flush_dst_spool(*store.spool)) throw std::runtime_error("cannot write a DST spool");
  return store;
}

inline std::vector<varn::DstFrame> stored_frames(const varn::DstFrameStore& store) {
  std::vector<varn::DstFrame> out;
  varn::DstFrameReader reader;
  for (size_t i = 0; i < store.frames.size(); ++i) {
    const uint8_t* b = varn::read_dst_frame(reader, store, i);
    if (!b) throw std::runtime_error("cannot read a stored DST frame");
    out.emplace_back(b, b + store.frames[i].length);
  }
  return out;
}

}  // namespace testsupport

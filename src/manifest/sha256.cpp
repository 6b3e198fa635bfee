// SHA-256 streaming interface and file-range hashing.
#include "manifest/sha256.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <vector>

#include "manifest/sha256_compress.h"
#include "platform/cancel.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace varn {

namespace {

std::atomic<bool> g_force_scalar{false};

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

void compress(Sha256& ctx, const uint8_t* data, size_t blocks) {
  if (ctx.hardware) sha256_compress_hardware(ctx.state, data, blocks);
  else sha256_compress_scalar(ctx.state, data, blocks);
}

}  // namespace

void sha256_force_scalar(bool on) { g_force_scalar.store(on); }

bool sha256_uses_hardware() { return !g_force_scalar.load() && sha256_hardware_available(); }

void sha256_init(Sha256& ctx) {
  std::memcpy(ctx.state, kInitialState, sizeof ctx.state);
  ctx.total_bytes = 0;
  ctx.block_len = 0;
  ctx.hardware = sha256_uses_hardware();
}

void sha256_update(Sha256& ctx, const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  ctx.total_bytes += len;
  if (ctx.block_len > 0) {
    const size_t take = std::min(len, sizeof ctx.block - ctx.block_len);
    std::memcpy(ctx.block + ctx.block_len, p, take);
    ctx.block_len += take;
    p += take;
    len -= take;
    if (ctx.block_len < sizeof ctx.block) return;
    compress(ctx, ctx.block, 1);
    ctx.block_len = 0;
  }
  const size_t blocks = len / 64;
  if (blocks > 0) {
    compress(ctx, p, blocks);
    p += blocks * 64;
    len -= blocks * 64;
  }
  if (len > 0) {
    std::memcpy(ctx.block, p, len);
    ctx.block_len = len;
  }
}

void sha256_update_pair(Sha256& a, Sha256& b, const void* data, size_t len) {
  // Whole blocks go through both states at once when neither holds a
  // partial block and both take the hardware path.
  const size_t shared = (a.block_len == 0 && b.block_len == 0 && a.hardware && b.hardware) ? len / 64 * 64 : 0;
  if (shared > 0) {
    sha256_compress_hardware_pair(a.state, b.state, static_cast<const uint8_t*>(data), shared / 64);
    a.total_bytes += shared;
    b.total_bytes += shared;
  }
  sha256_update(a, static_cast<const uint8_t*>(data) + shared, len - shared);
  sha256_update(b, static_cast<const uint8_t*>(data) + shared, len - shared);
}

void sha256_final(Sha256& ctx, uint8_t digest[32]) {
  const uint64_t bit_length = ctx.total_bytes * 8;
  uint8_t pad[72] = {0x80};
  // Pad to 56 bytes mod 64, then the 64-bit big-endian message length.
  const size_t pad_len = (ctx.block_len < 56) ? 56 - ctx.block_len : 120 - ctx.block_len;
  for (int i = 0; i < 8; ++i) pad[pad_len + i] = static_cast<uint8_t>(bit_length >> (56 - 8 * i));
  const uint64_t total = ctx.total_bytes;
  sha256_update(ctx, pad, pad_len + 8);
  ctx.total_bytes = total;
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(ctx.state[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(ctx.state[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(ctx.state[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(ctx.state[i]);
  }
}

std::string sha256_hex(const uint8_t digest[32]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(64, '0');
  for (int i = 0; i < 32; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return out;
}

std::string sha256_hex_of(const void* data, size_t len) {
  Sha256 ctx;
  sha256_init(ctx);
  sha256_update(ctx, data, len);
  uint8_t digest[32];
  sha256_final(ctx, digest);
  return sha256_hex(digest);
}

bool sha256_file_range(FILE* f, uint64_t offset, uint64_t length, std::string& hex) {
  if (!f || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  if (platform_fseek64(f, static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
  constexpr size_t kBufferSize = 1048576;
  std::vector<uint8_t> buffer(kBufferSize);
  Sha256 ctx;
  sha256_init(ctx);
  uint64_t left = length;
  while (left > 0) {
    const size_t want = left < kBufferSize ? static_cast<size_t>(left) : kBufferSize;
    if (cancel_requested()) return false;
    const size_t got = std::fread(buffer.data(), 1, want, f);
    if (got == 0) return false;
    sha256_update(ctx, buffer.data(), got);
    progress_add(ProgressStep::Hashing, got);
    left -= got;
  }
  uint8_t digest[32];
  sha256_final(ctx, digest);
  hex = sha256_hex(digest);
  return true;
}

}  // namespace varn

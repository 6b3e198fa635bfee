// SHA-256 (FIPS 180-4). The compression function uses the processor's SHA
// instructions when CPUID reports them, else a portable scalar version; both
// give the same digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace varn {

struct Sha256 {
  uint32_t state[8];
  uint64_t total_bytes;
  uint8_t block[64];
  size_t block_len;
  bool hardware;  // compression path chosen at sha256_init
};

// Starts a digest; the hardware path is used when available and not
// switched off by sha256_force_scalar.
void sha256_init(Sha256& ctx);
void sha256_update(Sha256& ctx, const void* data, size_t len);
// The same bytes into two digests; at the cost of about one when both are
// on block boundaries (as digests of whole sectors are).
void sha256_update_pair(Sha256& a, Sha256& b, const void* data, size_t len);
void sha256_final(Sha256& ctx, uint8_t digest[32]);

// 64 lowercase hexadecimal digits.
std::string sha256_hex(const uint8_t digest[32]);

// Digest of a byte string, as hexadecimal.
std::string sha256_hex_of(const void* data, size_t len);

// True when the processor has the SHA extensions (CPUID leaf 7, EBX bit 29)
// and SSE4.1.
bool sha256_hardware_available();

// Process-wide switch: true makes every later sha256_init take the scalar
// path (for comparing the two paths).
void sha256_force_scalar(bool on);

// True when a digest started now would use the hardware path.
bool sha256_uses_hardware();

// Hashes `length` bytes of `f` from `offset`, reading 1 MiB at a time and
// counting them as hashing progress. False when the seek fails, the file
// ends before `length` bytes or a stop was asked for.
bool sha256_file_range(FILE* f, uint64_t offset, uint64_t length, std::string& hex);

}  // namespace varn

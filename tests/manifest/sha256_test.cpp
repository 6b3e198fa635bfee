// SHA-256: the FIPS 180-4 example messages on both compression paths,
// random lengths and update splits, file ranges, and sha256sum as a peer.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "support/test_support.h"

using namespace varn;

namespace {

// Runs the body once per compression path available on this machine.
template <typename Body>
void on_each_path(Body body) {
  sha256_force_scalar(true);
  ASSERT_FALSE(sha256_uses_hardware());
  body("scalar");
  sha256_force_scalar(false);
  if (sha256_hardware_available()) {
    ASSERT_TRUE(sha256_uses_hardware());
    body("hardware");
  }
}

std::string hex_of(const std::string& s) { return sha256_hex_of(s.data(), s.size()); }

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

std::string split_digest(const std::vector<uint8_t>& data, std::mt19937& gen) {
  Sha256 ctx;
  sha256_init(ctx);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t n = std::uniform_int_distribution<size_t>(0, 200)(gen);
    if (n > data.size() - pos) n = data.size() - pos;
    sha256_update(ctx, data.data() + pos, n);
    pos += n;
  }
  uint8_t d[32];
  sha256_final(ctx, d);
  return sha256_hex(d);
}

}  // namespace

TEST(Sha256, FipsExampleMessages) {
  on_each_path([](const char* path) {
    SCOPED_TRACE(path);
    EXPECT_EQ(hex_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex_of("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
                     "mnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(hex_of(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  });
}

TEST(Sha256, PathsAgreeOnRandomLengthsAndSplits) {
  if (!sha256_hardware_available()) GTEST_SKIP() << "no SHA instructions on this processor";
  std::mt19937 gen(20240611);
  for (int round = 0; round < 300; ++round) {
    // Every length around the padding boundaries, then random ones.
    const size_t len = round < 200 ? static_cast<size_t>(round) : std::uniform_int_distribution<size_t>(0, 70000)(gen);
    const std::vector<uint8_t> data = random_bytes(len, static_cast<uint32_t>(round));
    sha256_force_scalar(true);
    const std::string whole_scalar = sha256_hex_of(data.data(), data.size());
    const std::string split_scalar = split_digest(data, gen);
    sha256_force_scalar(false);
    const std::string whole_hw = sha256_hex_of(data.data(), data.size());
    const std::string split_hw = split_digest(data, gen);
    ASSERT_EQ(whole_scalar, whole_hw) << "length " << len;
    ASSERT_EQ(whole_scalar, split_scalar) << "length " << len;
    ASSERT_EQ(whole_hw, split_hw) << "length " << len;
  }
}

TEST(Sha256, FileRangesMatchSha256sum) {
  if (!testsupport::have_program("sha256sum")) GTEST_SKIP() << "sha256sum not installed";
  testsupport::ScratchDir dir;
  const std::vector<uint8_t> data = random_bytes(3 * 1048576 + 777, 99);  // spans several buffers
  const std::string path = dir.file("data.bin");
  testsupport::write_file(path, data);
  auto peer = testsupport::run_shell("sha256sum '" + path + "'");
  ASSERT_EQ(peer.exit_code, 0);
  const std::string expected = peer.out.substr(0, 64);

  on_each_path([&](const char* p) {
    SCOPED_TRACE(p);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string hex;
    ASSERT_TRUE(sha256_file_range(f, 0, data.size(), hex));
    EXPECT_EQ(hex, expected);
    // A range inside the file equals the digest of the same bytes in memory.
    ASSERT_TRUE(sha256_file_range(f, 1048575, 1048578, hex));
    EXPECT_EQ(hex, sha256_hex_of(data.data() + 1048575, 1048578));
    ASSERT_TRUE(sha256_file_range(f, 5, 0, hex));
    EXPECT_EQ(hex, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // Running past the end of the file fails.
    EXPECT_FALSE(sha256_file_range(f, data.size() - 10, 11, hex));
    EXPECT_FALSE(sha256_file_range(f, data.size() + 4096, 1, hex));
    std::fclose(f);
  });
  EXPECT_FALSE([] { std::string h; return sha256_file_range(nullptr, 0, 1, h); }());
}

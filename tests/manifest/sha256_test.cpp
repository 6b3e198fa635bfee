// SHA-256: the FIPS 180-4 example messages on both compression paths, the
// paths agreeing over lengths and update splits, and sha256sum as a peer.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::random_bytes;

namespace {

// Runs the body once per compression path available on this machine.
template <typename Body>
void on_each_path(Body body) {
  for (bool scalar : {true, false}) {
    sha256_force_scalar(scalar);
    if (!scalar && !sha256_hardware_available()) return;
    ASSERT_EQ(sha256_uses_hardware(), !scalar);
    SCOPED_TRACE(scalar ? "scalar" : "hardware");
    body();
  }
}

}  // namespace

TEST(Sha256, FipsExampleMessages) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  on_each_path([&] {
    for (const auto& [message, digest] : cases) EXPECT_EQ(sha256_hex_of(message.data(), message.size()), digest);
  });
}

// Every length around the padding boundaries and some long ones, whole, fed
// in random pieces, and fed to two digests at once (one of them already
// holding a prefix of whole blocks or not), give one digest on both paths.
TEST(Sha256, PathsAgreeOnLengthsAndSplits) {
  std::mt19937 gen(20240611);
  for (int round = 0; round < 230; ++round) {
    const size_t len = round < 200 ? size_t(round) : std::uniform_int_distribution<size_t>(0, 70000)(gen);
    const std::vector<uint8_t> data = random_bytes(len, uint32_t(round));
    std::vector<std::string> digests;
    on_each_path([&] {
      digests.push_back(sha256_hex_of(data.data(), data.size()));
      Sha256 ctx;
      sha256_init(ctx);
      for (size_t pos = 0, n; pos < data.size(); pos += n) {
        n = std::min(std::uniform_int_distribution<size_t>(0, 200)(gen), data.size() - pos);
        sha256_update(ctx, data.data() + pos, n);
      }
      uint8_t d[32];
      sha256_final(ctx, d);
      digests.push_back(sha256_hex(d));
      const size_t prefix = round % 2 ? 128 : 5;
      Sha256 a, b;
      sha256_init(a);
      sha256_init(b);
      sha256_update(b, data.data(), std::min(prefix, data.size()));
      sha256_update_pair(a, b, data.data(), data.size());
      sha256_final(a, d);
      digests.push_back(sha256_hex(d));
      std::vector<uint8_t> joined(data.begin(), data.begin() + std::min(prefix, data.size()));
      joined.insert(joined.end(), data.begin(), data.end());
      sha256_final(b, d);
      EXPECT_EQ(sha256_hex(d), sha256_hex_of(joined.data(), joined.size())) << "length " << len;
    });
    for (const std::string& d : digests) ASSERT_EQ(d, digests[0]) << "length " << len;
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
  on_each_path([&] {
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string hex;
    ASSERT_TRUE(sha256_file_range(f, 0, data.size(), hex));
    EXPECT_EQ(hex, peer.out.substr(0, 64));
    ASSERT_TRUE(sha256_file_range(f, 1048575, 1048578, hex));
    EXPECT_EQ(hex, sha256_hex_of(data.data() + 1048575, 1048578));
    EXPECT_FALSE(sha256_file_range(f, data.size() - 10, 11, hex));  // past the end
    std::fclose(f);
  });
}

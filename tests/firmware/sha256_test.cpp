// The SHA-256 of the result record against the published test vectors, and
// the same digest whatever pieces the bytes are added in.
#include "firmware/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(Sha256, KnownVectors) {
  const struct {
    const char* name;
    std::string message;
    const char* digest;
  } cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the padding needs a second block.
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sha256Hex(c.message.data(), c.message.size()), c.digest);
  }
}

// The engines add what they send piece by piece: blocks of 100 bytes, image
// records of a few dozen; pieces that straddle the 64-byte blocks of the
// hash must give the digest of the whole.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  std::string message(1000, '\0');
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 31 + 7);
  const std::string whole = Sha256Hex(message.data(), message.size());
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 100u, 999u}) {
    Sha256 hash;
    for (size_t at = 0; at < message.size(); at += piece) {
      hash.Add(message.data() + at, std::min(piece, message.size() - at));
    }
    EXPECT_EQ(hash.Hex(), whole) << "pieces of " << piece;
  }
}

}  // namespace

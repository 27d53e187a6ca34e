// SHA-256 of the images the programmer sends.
#include <gtest/gtest.h>

#include <string>

#include "link/sha256.h"
#include "support/process.h"

namespace morlane {
namespace {

std::string Digest(const std::string& text) {
  Sha256 digest;
  digest.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return digest.HexDigest();
}

TEST(Sha256Test, KnownDigestsWhateverThePieces) {
  EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits in the first block.
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

  // A million "a", fed in pieces that straddle the blocks.
  Sha256 digest;
  const std::string piece(997, 'a');
  size_t fed = 0;
  while (fed < 1000000) {
    size_t n = std::min(piece.size(), 1000000 - fed);
    digest.Update(reinterpret_cast<const uint8_t*>(piece.data()), n);
    fed += n;
  }
  EXPECT_EQ(digest.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

  test::TempDir dir;
  dir.Write("image.bin", std::string("abc"));
  EXPECT_EQ(FileSha256(dir.File("image.bin")), Digest("abc"));
  EXPECT_EQ(FileSha256(dir.File("missing.bin")), "");
}

}  // namespace
}  // namespace morlane

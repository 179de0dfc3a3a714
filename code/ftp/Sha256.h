#pragma once
// SHA-256 (FIPS 180-4), to compare an uploaded file with the digest a server computes of what it stored.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kadroo {

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest in lower-case hexadecimal; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const unsigned char* block);
  std::array<uint32_t, 8> h_;
  unsigned char buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};

}  // namespace kadroo

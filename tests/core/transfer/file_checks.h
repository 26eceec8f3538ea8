#pragma once
// What the copy tests check a copied file with: its bytes and their SHA-1 text.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "transfer/sha1.h"

namespace lyr_test {

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Sha1Of(const std::vector<uint8_t>& bytes) {
  lyr::Sha1Context* c = lyr::Sha1Create();
  lyr::Sha1Digest d{};
  lyr::Sha1Update(c, bytes.data(), static_cast<uint32_t>(bytes.size()), d.data());
  lyr::Sha1Free(c);
  return lyr::Sha1DigestText(d.data());
}

}  // namespace lyr_test

#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/result.h"

namespace lyr_emu {

// Packs a firmware image into an update file (".coe"): the scrambled image
// followed by its check trailer, the inverse of the manager's unscrambling.
// The image must be a whole number of 4-byte words, and the file no longer
// than an update file may be.
lyr::Result<std::vector<uint8_t>> PackUpdate(std::span<const uint8_t> image);

// The scrambling alone, without the checks: any length (tests of the
// unscrambler's refusals need files no packer would make).
std::vector<uint8_t> ScrambleImage(std::span<const uint8_t> image);

// An image of `size` bytes (at least 32, a multiple of 4) that passes the
// manager's header checks: magic, target 0x6000000 and the two names, then
// bytes that differ with `seed`.
std::vector<uint8_t> MakeSampleImage(size_t size, uint32_t seed = 1);

}  // namespace lyr_emu

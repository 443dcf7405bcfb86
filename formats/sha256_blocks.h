// SHA-256 blocks on the processor's own instructions, where it has them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace formats {

// The 64 round constants (FIPS 180-4, 4.2.2), aligned for 16-byte loads.
extern const uint32_t kSha256Round[64];

// Runs the compression function over `blocks` 64-byte blocks. False (state
// untouched) when the processor lacks the instructions: the caller then
// uses the portable rounds.
bool Sha256ExtensionBlocks(uint32_t state[8], const uint8_t* data, size_t blocks);

}  // namespace formats

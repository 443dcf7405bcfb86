// SHA-256 (FIPS 180-4): the digest of the installation's backup archive and
// of signed programs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace formats {

class Sha256 {
public:
    static constexpr size_t kDigestBytes = 32;
    // 64 hexadecimal digits and the terminator.
    static constexpr size_t kTextChars = 2 * kDigestBytes + 1;

    void Update(const uint8_t* p, size_t n);
    // Ends the message; the hasher is not used again afterwards.
    void Finish(uint8_t digest[kDigestBytes]);

private:
    // Whole 64-byte blocks, on the processor's SHA instructions where it has them.
    void CompressBlocks(const uint8_t* blocks, size_t count);
    void Compress(const uint8_t* block);

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t block_[64] = {};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

// The digest as upper-case hexadecimal digits, terminated.
void DigestText(const uint8_t digest[Sha256::kDigestBytes], char text[Sha256::kTextChars]);

}  // namespace formats

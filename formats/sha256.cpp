#include "formats/sha256.h"

#include <cstring>

#include "formats/sha256_blocks.h"

namespace formats {
namespace {

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void Sha256::Update(const uint8_t* p, size_t n)
{
    total_ += n;
    if (used_ > 0) {
        size_t take = 64 - used_ < n ? 64 - used_ : n;
        std::memcpy(block_ + used_, p, take);
        used_ += take;
        p += take;
        n -= take;
        if (used_ < 64) return;
        CompressBlocks(block_, 1);
        used_ = 0;
    }
    // Whole blocks straight from the input.
    size_t blocks = n / 64;
    if (blocks > 0) CompressBlocks(p, blocks);
    p += 64 * blocks;
    n -= 64 * blocks;
    if (n > 0) std::memcpy(block_, p, n);
    used_ = n;
}

void Sha256::Finish(uint8_t digest[kDigestBytes])
{
    uint64_t bits = total_ * 8;
    uint8_t pad[72] = {0x80};
    size_t padLength = (used_ < 56 ? 56 : 120) - used_;
    Update(pad, padLength);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(length, 8);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<uint8_t>(h_[i] >> (24 - 8 * k));
}

void Sha256::CompressBlocks(const uint8_t* blocks, size_t count)
{
    if (Sha256ExtensionBlocks(h_, blocks, count)) return;
    for (size_t i = 0; i < count; ++i) Compress(blocks + 64 * i);
}

void Sha256::Compress(const uint8_t* b)
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (uint32_t(b[4 * i]) << 24) | (uint32_t(b[4 * i + 1]) << 16) | (uint32_t(b[4 * i + 2]) << 8) |
               b[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], bb = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256Round[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & bb) ^ (a & c) ^ (bb & c));
        h = g; g = f; f = e; e = d + t1; d = c; c = bb; bb = a; a = t1 + t2;
    }
    h_[0] += a; h_[1] += bb; h_[2] += c; h_[3] += d; h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
}

void DigestText(const uint8_t digest[Sha256::kDigestBytes], char text[Sha256::kTextChars])
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < Sha256::kDigestBytes; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    text[2 * Sha256::kDigestBytes] = '\0';
}

}  // namespace formats

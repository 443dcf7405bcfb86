// Small shared pieces of the packaging tool: errors, files, UTF conversion and
// little-endian access.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace packtool {

// Every failure ends the job with this message on stderr and a non-zero exit.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<unsigned char>;

Bytes ReadWholeFile(const std::string& path);
// Writes to a temporary name beside the target and renames at the end, so a
// failed run never leaves a half-written file under the target's name.
void WriteFileAtomically(const std::string& path, const Bytes& data);
std::string TempNameFor(const std::string& path);

std::u16string Utf8ToUtf16(const std::string& text);  // throws Failure on bad UTF-8
std::string Utf16ToUtf8(const std::u16string& text);

inline uint32_t GetLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t GetLe16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void PutLe32(unsigned char* p, uint32_t v)
{
    p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = (v >> 16) & 0xFF; p[3] = (v >> 24) & 0xFF;
}
inline void PutLe16(unsigned char* p, uint16_t v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; }

}  // namespace packtool

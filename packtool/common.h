// Small shared pieces of the packaging tool: errors, files, UTF conversion and
// little-endian access.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/bytes.h"

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

using formats::GetLe16;
using formats::GetLe32;
using formats::PutLe16;
using formats::PutLe32;

inline formats::ByteSpan Span(const Bytes& bytes) { return formats::ByteSpan{bytes.data(), bytes.size()}; }

}  // namespace packtool

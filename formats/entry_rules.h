// The rules of the payload archive's entries: what the setup writes, and
// what the packaging tool may therefore pack.
#pragma once
#include <cstddef>
#include <cstdint>

namespace formats {
namespace entries {

// Names are kept in 64 bytes with their terminator; a longer one is refused.
constexpr size_t kNameBytes = 64;
// Everything is inflated into memory before the first file is written, and
// sizes are 32-bit: the whole content stays below 2 GiB.
constexpr uint64_t kMaxTotalContent = 0x7FFFFFFF;
// No archive without ZIP64 holds more; a larger count is a damaged directory.
constexpr uint64_t kMaxEntries = 0xFFFF;

// The two drivers every payload carries.
constexpr const char* kDriverEntries[] = {"zerdaIME.ime", "x86\\zerdaIME.ime"};

// False for a name that would leave the destination folder: a ".." part, a
// drive letter or stream colon, or a leading pair of separators.
bool IsContainedEntryName(const char* name);

// True when an entry of `size` bytes still fits after `totalSoFar` bytes of
// the entries before it.
inline bool SizeFits(uint64_t size, uint64_t totalSoFar)
{
    return totalSoFar <= kMaxTotalContent && size <= kMaxTotalContent - totalSoFar;
}

// Why the setup would not write a file of this name (backslash-separated,
// relative), or null. Besides the setup's own rules: printable ASCII only
// (the setup reads names in the system code page), no character or device
// name that Windows refuses for a file.
const char* EntryNameProblem(const char* name);

// ASCII letters compared without case, as Windows compares file names.
bool SameFileName(const char* a, const char* b);

}  // namespace entries
}  // namespace formats

// An entry of an archive held in memory, decoded straight from those bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/zip_memory.h"
#include "unzip.h"

// Decodes the entry at `zip`'s current position into `out`: `size` bytes, as
// its directory record says. `zip` must read `archive` through the memory file
// functions. Stored or deflated, decoded in one go and checked against the
// entry's CRC; false when it is neither, lies beyond the bytes, decodes to
// another length or fails the check.
bool DecodeEntryInPlace(unzFile zip, const MemoryFile& archive, uint8_t* out, size_t size);

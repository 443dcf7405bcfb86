// Minizip file functions over bytes in memory: the payload read straight
// from the setup's own image, and the fuzz targets' inputs.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ioapi.h"

struct MemoryFile {
    const uint8_t* data;
    size_t size;
};

// Every open gives a stream of its own over `file`, which must outlive them.
void FillMemoryFileFunctions(zlib_filefunc64_def* out, const MemoryFile* file);

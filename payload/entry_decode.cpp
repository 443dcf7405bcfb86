#include "payload/entry_decode.h"

#include <cstring>

#include "libdeflate.h"
#include "zlib.h"

bool DecodeEntryInPlace(unzFile zip, const MemoryFile& archive, uint8_t* out, size_t size)
{
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (info.uncompressed_size != size) return false;
    int method = -1;
    // Opening checks the entry's local header and finds where its bytes begin;
    // raw, nothing is read or inflated.
    if (unzOpenCurrentFile2(zip, &method, nullptr, 1) != UNZ_OK) return false;
    uint64_t start = unzGetCurrentFileZStreamPos64(zip);
    unzCloseCurrentFile(zip);
    uint64_t packedSize = info.compressed_size;
    if (start > archive.size || packedSize > archive.size - start) return false;
    const uint8_t* packed = archive.data + start;

    if (method == 0) {
        if (packedSize != size) return false;
        if (size > 0) std::memcpy(out, packed, size);
    } else if (method == Z_DEFLATED) {
        libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
        if (!decompressor) return false;
        size_t produced = 0;
        uint8_t none = 0;  // an empty entry has no buffer
        libdeflate_result result = libdeflate_deflate_decompress(decompressor, packed, static_cast<size_t>(packedSize),
                                                                 size > 0 ? out : &none, size, &produced);
        libdeflate_free_decompressor(decompressor);
        // A stream that would give more than the record says fails too.
        if (result != LIBDEFLATE_SUCCESS || produced != size) return false;
    } else {
        return false;
    }
    return crc32_z(0, out, size) == info.crc;
}

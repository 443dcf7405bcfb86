// A payload archive read from memory the way the setup reads it: minizip
// through the setup's read buffer, the directory walked first with the entry
// rules, then every readable entry inflated through a handle of its own and
// decoded in place from the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/entry_rules.h"
#include "payload/entry_decode.h"
#include "payload/zip_memory.h"
#include "payload/zip_read_buffer.h"
#include "unzip.h"

using namespace formats::entries;

namespace {

// The fuzzer's memory limit: the setup allocates what an entry declares.
constexpr uint64_t kLargestRead = 1u << 24;

struct Place {
    ZPOS64_T directoryOffset;
    uint32_t size;
};

// Both roads of the setup: minizip's own inflating (an archive read from a
// file) and the decoding in place (the payload read from the program's own
// image). Each checks the CRC, so what both accept must come out the same.
void Inflate(unzFile zip, unzFile direct, const MemoryFile& archive, const Place& place)
{
    if (place.size > kLargestRead) return;
    std::vector<uint8_t> data(place.size), decoded(place.size);
    bool inflated = false;
    if (unzSetOffset64(zip, place.directoryOffset) == UNZ_OK && unzOpenCurrentFile(zip) == UNZ_OK) {
        int got = place.size > 0 ? unzReadCurrentFile(zip, data.data(), place.size) : 0;
        // Closing after a full read is where the CRC is compared.
        int closed = unzCloseCurrentFile(zip);
        if (got > 0 && static_cast<uint32_t>(got) > place.size) std::abort();
        inflated = got >= 0 && static_cast<uint32_t>(got) == place.size && closed == UNZ_OK;
    }
    bool inPlace = direct && unzSetOffset64(direct, place.directoryOffset) == UNZ_OK &&
                   DecodeEntryInPlace(direct, archive, decoded.data(), place.size);
    if (inflated && inPlace && data != decoded) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryFile archive{data, size};
    zlib_filefunc64_def memory, buffered;
    FillMemoryFileFunctions(&memory, &archive);
    FillBufferedFileFunctions(&buffered, &memory);
    unzFile zip = unzOpen2_64("payload.zip", &buffered);
    if (!zip) return 0;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK || global.number_entry > kMaxEntries) {
        unzClose(zip);
        return 0;
    }
    std::vector<Place> places;
    uint64_t total = 0;
    bool positioned = global.number_entry > 0 && unzGoToFirstFile(zip) == UNZ_OK;
    for (uint64_t i = 0; i < global.number_entry && positioned; ++i) {
        unz_file_info64 info{};
        char name[kNameBytes] = {};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK &&
            info.size_filename < kNameBytes && SizeFits(info.uncompressed_size, total)) {
            // The setup copies the name as a string: it must end inside its field.
            if (!std::memchr(name, 0, kNameBytes)) std::abort();
            total += info.uncompressed_size;
            IsContainedEntryName(name);
            places.push_back({unzGetOffset64(zip), static_cast<uint32_t>(info.uncompressed_size)});
        }
        if (i + 1 < global.number_entry) positioned = unzGoToNextFile(zip) == UNZ_OK;
    }
    // A second handle, as each of the setup's workers opens its own; and one
    // straight over the bytes, as the payload read from memory is opened.
    unzFile worker = unzOpen2_64("payload.zip", &buffered);
    unzFile direct = unzOpen2_64("payload.zip", &memory);
    for (const Place& place : places) Inflate(worker ? worker : zip, direct, archive, place);
    if (direct) unzClose(direct);
    if (worker) unzClose(worker);
    unzCloseCurrentFile(zip);
    unzClose(zip);
    return 0;
}

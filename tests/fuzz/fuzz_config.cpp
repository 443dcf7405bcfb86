// config.dsc as the setup reads it and as the packaging tool inspects it; the
// same bytes as a description: whatever the tool builds, the setup loads.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config_file.h"
#include "formats/config_layout.h"

using namespace formats::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    formats::ByteSpan image{data, size};
    for (const RecordKind& kind : kRecords) {
        Record r = FindRecord(image, kind.name);
        if (!r.found) continue;
        if (!formats::Fits(size, r.offset, r.size) || r.size < kRecordHeaderSize) std::abort();
    }
    if (!LoadProblem(image)) {
        Record product = FindRecord(image, kProductRecordName), ime = FindRecord(image, kImeRecordName);
        if (!product.found || !ime.found || product.size > kProductRecordSize || ime.size > kImeRecordSize) std::abort();
    }
    packtool::Bytes bytes(data, data + size);
    try {
        packtool::DescribeConfigFile(bytes);
    } catch (const packtool::Failure&) {
    }

    try {
        packtool::Description description =
            packtool::ParseDescription(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
        packtool::Bytes built = packtool::BuildConfigFile(description);
        if (LoadProblem(formats::ByteSpan{built.data(), built.size()})) std::abort();
    } catch (const packtool::Failure&) {
    }
    return 0;
}

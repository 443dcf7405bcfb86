// The setup image as the setup's split reads and patches it, and as the
// packaging tool reads its signature.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/setup_image.h"
#include "pe_signature.h"

using namespace formats::image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    formats::ByteSpan image{data, size};
    size_t loaderFlagsAt = 0;
    if (Classify(image, &loaderFlagsAt) == Kind::Pe32Plus && !formats::Fits(size, loaderFlagsAt, 4)) std::abort();
    HeaderFields fields;
    if (FindHeaderFields(image, fields) && !formats::Fits(size, fields.certEntryAt, 8)) std::abort();

    // The split: the plain installer is the first `offset` bytes with its
    // header restored, the archive runs to the payload's end.
    uint32_t offset = ReadPayloadOffset(image);
    if (offset > 0 && offset < size && size <= kMaxBytes) {
        SignedLayout layout;
        if (ReadSignedLayout(image, offset, layout)) {
            if (layout.payloadEnd < offset || layout.payloadEnd > size) std::abort();
            std::vector<uint8_t> plain(data, data + offset);
            RestorePlainHeader(plain.data(), plain.size(), layout);
        }
    }
    if (size >= kSignedRecordBytes) {
        PlainHeader values;
        if (ParseSignedRecord(data + size - kSignedRecordBytes, values)) {
            char text[kSignedRecordBytes + 1];
            FormatSignedRecord(values, text);
            PlainHeader again;
            if (!ParseSignedRecord(reinterpret_cast<const uint8_t*>(text), again) || again.certAt != values.certAt ||
                again.certSize != values.certSize || again.loaderFlags != values.loaderFlags ||
                again.checksum != values.checksum)
                std::abort();
        }
    }

    packtool::Bytes bytes(data, data + size);
    packtool::SignatureInfo signature = packtool::ReadSignature(bytes);
    if (signature.readable) packtool::DigestMatches(bytes, signature);
    return 0;
}

#include "formats/setup_image.h"

#include <cstdio>
#include <cstring>

namespace formats {
namespace image {
namespace {

// "PE\0\0" inside the image, or 0.
size_t PeHeaderAt(ByteSpan image, size_t needed)
{
    if (!image.data || image.size < 0x40 || image.data[0] != 'M' || image.data[1] != 'Z') return 0;
    size_t pe = GetLe32(image.data + kPeHeaderPointerAt);
    if (!Fits(image.size, pe, needed) || std::memcmp(image.data + pe, "PE\0\0", 4) != 0) return 0;
    return pe;
}

bool ReadHex8(const uint8_t* p, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 8; ++i) {
        uint8_t c = p[i];
        uint32_t digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 16;
        if (digit > 15) return false;
        value = (value << 4) | digit;
    }
    return true;
}

}  // namespace

Kind Classify(ByteSpan image, size_t* loaderFlagsAt)
{
    if (!image.data || image.size < 0x40 || image.data[0] != 'M' || image.data[1] != 'Z') return Kind::NotExecutable;
    size_t pe = PeHeaderAt(image, kOptionalHeaderAt + kLoaderFlagsAt + 4);
    if (!pe) return Kind::NoPeHeader;
    if (GetLe16(image.data + pe + kOptionalHeaderAt) != kPe32PlusMagic) return Kind::NotPe32Plus;
    if (loaderFlagsAt) *loaderFlagsAt = pe + kOptionalHeaderAt + kLoaderFlagsAt;
    return Kind::Pe32Plus;
}

uint32_t ReadPayloadOffset(ByteSpan image)
{
    size_t at = 0;
    return Classify(image, &at) == Kind::Pe32Plus ? GetLe32(image.data + at) : 0;
}

bool FindHeaderFields(ByteSpan image, HeaderFields& f)
{
    size_t pe = PeHeaderAt(image, kOptionalHeaderAt + 2);
    if (!pe) return false;
    size_t optional = pe + kOptionalHeaderAt;
    uint16_t magic = GetLe16(image.data + optional);
    if (magic != kPe32PlusMagic && magic != kPe32Magic) return false;
    size_t shift = magic == kPe32PlusMagic ? 0 : kPe32Shift;
    f.pe32Plus = magic == kPe32PlusMagic;
    f.checksumAt = optional + kChecksumAt;
    f.loaderFlagsAt = optional + kLoaderFlagsAt - shift;
    f.certEntryAt = optional + kDirectoriesAt - shift + kCertificateDirectory * kDirectoryBytes;
    return Fits(image.size, f.certEntryAt, kDirectoryBytes) &&
           GetLe32(image.data + optional + kDirectoryCountAt - shift) > kCertificateDirectory;
}

void FormatSignedRecord(const PlainHeader& plain, char (&out)[kSignedRecordBytes + 1])
{
    std::snprintf(out, sizeof out, "%s%08X%08X%08X%08X", kSignedRecordMagic, static_cast<unsigned>(plain.loaderFlags),
                  static_cast<unsigned>(plain.checksum), static_cast<unsigned>(plain.certAt),
                  static_cast<unsigned>(plain.certSize));
}

bool HasSignedRecordMagic(const uint8_t* record)
{
    return std::memcmp(record, kSignedRecordMagic, kSignedRecordMagicBytes) == 0;
}

bool ParseSignedRecord(const uint8_t* record, PlainHeader& plain)
{
    const uint8_t* values = record + kSignedRecordMagicBytes;
    return HasSignedRecordMagic(record) && ReadHex8(values, plain.loaderFlags) && ReadHex8(values + 8, plain.checksum) &&
           ReadHex8(values + 16, plain.certAt) && ReadHex8(values + 24, plain.certSize);
}

bool ReadSignedLayout(ByteSpan image, uint32_t offset, SignedLayout& layout)
{
    layout = SignedLayout();
    layout.payloadEnd = static_cast<uint32_t>(image.size);
    HeaderFields f;
    if (!FindHeaderFields(image, f) || !f.pe32Plus) return true;  // nothing to sign there
    uint32_t certAt = GetLe32(image.data + f.certEntryAt), certSize = GetLe32(image.data + f.certEntryAt + 4);
    if (certAt == 0 && certSize == 0) return true;
    // The block inside the file, with the DER sequence of the signature
    // fitting in it. Bytes may follow it (the fallback copy of the setup is
    // 10 bytes longer).
    if (certAt <= offset || certSize < 16 || certAt > image.size || image.size - certAt < certSize) return false;
    const uint8_t* block = image.data + certAt;
    uint32_t length = GetLe32(block);
    if (length < 16 || length > certSize || certSize - length >= 8 || GetLe16(block + 4) != kCertificateRevision ||
        GetLe16(block + 6) != kCertificatePkcs7 || block[8] != 0x30)
        return false;
    uint32_t der = block[9], header = 2;
    if (der & 0x80) {
        uint32_t bytes = der & 0x7F;
        if (bytes == 0 || bytes > 3) return false;
        der = 0;
        for (uint32_t i = 0; i < bytes; ++i) der = (der << 8) | block[10 + i];
        header += bytes;
    }
    if (der + header > length - kCertificateHeaderBytes) return false;
    layout.isSigned = true;
    layout.payloadEnd = certAt;

    // A setup signed after packing has no record: its plain installer only
    // loses the signature entry that would point past its end.
    if (certAt - offset < kSignedRecordBytes || !HasSignedRecordMagic(block - kSignedRecordBytes)) return true;
    if (!ParseSignedRecord(block - kSignedRecordBytes, layout.plain)) return false;
    // The plain installer's own signature ends where the payload starts.
    const PlainHeader& p = layout.plain;
    if (p.certSize == 0 || p.certAt > offset || offset - p.certAt != p.certSize) return false;
    layout.hasRecord = true;
    return true;
}

void RestorePlainHeader(uint8_t* plain, size_t size, const SignedLayout& layout)
{
    HeaderFields f;
    if (!layout.isSigned || !FindHeaderFields(ByteSpan{plain, size}, f) || !f.pe32Plus) return;
    PlainHeader values = layout.plain;
    if (!layout.hasRecord) {
        values.loaderFlags = GetLe32(plain + f.loaderFlagsAt);
        values.checksum = GetLe32(plain + f.checksumAt);
    }
    PutLe32(plain + f.loaderFlagsAt, values.loaderFlags);
    PutLe32(plain + f.checksumAt, values.checksum);
    PutLe32(plain + f.certEntryAt, values.certAt);
    PutLe32(plain + f.certEntryAt + 4, values.certSize);
}

}  // namespace image
}  // namespace formats

// The setup image: a PE32+ installer with the payload ZIP appended, the
// payload's offset in LoaderFlags. A signed setup is laid out as
//   [signed plain installer][ZIP payload][outer Authenticode signature]
// and differs from the signed plain installer in three header fields:
// LoaderFlags (0 in the plain installer), the certificate-table entry and the
// checksum. The plain installer's values are kept in a record that ends the
// ZIP comment, inside what the outer signature covers; the split writes them
// back, so the plain installer it writes is the signed one byte for byte. The
// payload ends exactly where the outer signature starts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/bytes.h"

namespace formats {
namespace image {

// Sizes are 32-bit and signed: the setup, its archive and every entry stay below 2 GiB.
constexpr uint32_t kMaxBytes = 0x7FFFFFFF;

constexpr size_t kPeHeaderPointerAt = 0x3C;  // e_lfanew
constexpr size_t kOptionalHeaderAt = 24;     // behind "PE\0\0" and the file header
constexpr uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr size_t kChecksumAt = 64;  // optional-header offsets, PE32+ (PE32: 16 less from LoaderFlags on)
constexpr size_t kLoaderFlagsAt = 104;
constexpr size_t kDirectoryCountAt = 108;
constexpr size_t kDirectoriesAt = 112;
constexpr size_t kPe32Shift = 16;
constexpr size_t kCertificateDirectory = 4;  // index of the certificate-table entry
constexpr size_t kDirectoryBytes = 8;

enum class Kind { NotExecutable, NoPeHeader, NotPe32Plus, Pe32Plus };

// What the file is, and for PE32+ the file offset of LoaderFlags.
Kind Classify(ByteSpan image, size_t* loaderFlagsAt);

// The payload offset a setup carries in LoaderFlags; 0 when the image is not
// PE32+ (or carries none).
uint32_t ReadPayloadOffset(ByteSpan image);

// File offsets of the header fields that differ between a signed and an
// unsigned image.
struct HeaderFields {
    size_t checksumAt = 0;
    size_t loaderFlagsAt = 0;
    size_t certEntryAt = 0;  // offset, size
    bool pe32Plus = false;
};

// PE32 or PE32+ with a certificate-table entry inside the image; false else.
bool FindHeaderFields(ByteSpan image, HeaderFields& fields);

// WIN_CERTIFICATE: length, revision 2.0, PKCS#7 SignedData.
constexpr size_t kCertificateHeaderBytes = 8;
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kCertificatePkcs7 = 2;

// The plain installer's header values, as the record in the ZIP comment keeps them.
struct PlainHeader {
    uint32_t loaderFlags = 0, checksum = 0, certAt = 0, certSize = 0;
};
constexpr char kSignedRecordMagic[] = "ZerdaSignedPlain";
constexpr size_t kSignedRecordMagicBytes = sizeof kSignedRecordMagic - 1;
constexpr size_t kSignedRecordBytes = kSignedRecordMagicBytes + 4 * 8;  // four values in hex

// The record's text (kSignedRecordBytes characters and a terminator).
void FormatSignedRecord(const PlainHeader& plain, char (&out)[kSignedRecordBytes + 1]);
// True when the kSignedRecordBytes at `record` carry the magic.
bool HasSignedRecordMagic(const uint8_t* record);
// False when the magic is missing or a value is not 8 upper-case hex digits.
bool ParseSignedRecord(const uint8_t* record, PlainHeader& plain);

struct SignedLayout {
    bool isSigned = false;
    bool hasRecord = false;
    uint32_t payloadEnd = 0;
    PlainHeader plain;
};

// The layout of a setup whose payload starts at `offset`. False when a
// signature block is there but cut or damaged, or its record is.
bool ReadSignedLayout(ByteSpan image, uint32_t offset, SignedLayout& layout);

// Writes the plain installer's header values back into its first `size` bytes.
void RestorePlainHeader(uint8_t* plain, size_t size, const SignedLayout& layout);

// The appended ZIP: a local header first, an end record of 22 bytes last, its
// comment length at 20.
constexpr uint32_t kZipLocalHeaderMagic = 0x04034B50;
constexpr uint32_t kZipEndRecordMagic = 0x06054B50;
constexpr size_t kZipEndRecordBytes = 22;
constexpr size_t kZipCommentLengthAt = 20;

}  // namespace image
}  // namespace formats

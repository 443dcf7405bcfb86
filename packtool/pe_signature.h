// Authenticode signatures of PE files, read without OpenSSL: the header
// fields a signature touches, the signer of the PKCS#7 block and the SHA-256
// digest it claims, compared with the file's own.
#pragma once
#include <string>

#include "common.h"
#include "formats/setup_image.h"

namespace packtool {

using PeFields = formats::image::HeaderFields;

// False when the image is not a PE file with a certificate-table entry.
inline bool FindPeFields(const Bytes& image, PeFields& fields)
{
    return formats::image::FindHeaderFields(Span(image), fields);
}

struct SignatureInfo {
    bool present = false;      // a non-empty certificate-table entry
    bool readable = false;     // a PKCS#7 SignedData block could be read
    uint32_t certAt = 0, certSize = 0;
    std::string subject;       // of the signing certificate, "CN=..., O=..."
    std::string notBefore, notAfter;  // "YYYYMMDDHHMMSS", UTC
    bool sha256 = false;       // the signed digest is SHA-256
    Bytes signedDigest;
};

SignatureInfo ReadSignature(const Bytes& image);

// SHA-256 Authenticode digest: the file up to the signature, without the
// checksum and the certificate-table entry.
Bytes AuthenticodeDigest(const Bytes& image, const PeFields& fields, size_t end);

// True when the signature's digest is the file's own.
bool DigestMatches(const Bytes& image, const SignatureInfo& info);

// The current UTC time as "YYYYMMDDHHMMSS".
std::string UtcNowText();

}  // namespace packtool

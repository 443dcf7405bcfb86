#include "pe_signature.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace packtool {
namespace {

// --- SHA-256 (FIPS 180-4) ---
class Sha256 {
public:
    void Update(const unsigned char* p, size_t n)
    {
        total_ += n;
        while (n > 0) {
            size_t take = std::min(n, size_t(64) - used_);
            std::memcpy(block_ + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
            if (used_ == 64) {
                Compress(block_);
                used_ = 0;
            }
        }
    }
    Bytes Finish()
    {
        uint64_t bits = total_ * 8;
        unsigned char pad[72] = {0x80};
        size_t padLength = (used_ < 56 ? 56 : 120) - used_;
        Update(pad, padLength);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        Update(length, 8);
        Bytes out(32);
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<unsigned char>(h_[i] >> (24 - 8 * k));
        return out;
    }

private:
    static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void Compress(const unsigned char* b)
    {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t(b[4 * i]) << 24) | (uint32_t(b[4 * i + 1]) << 16) | (uint32_t(b[4 * i + 2]) << 8) |
                   b[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], bb = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & bb) ^ (a & c) ^ (bb & c));
            h = g; g = f; f = e; e = d + t1; d = c; c = bb; bb = a; a = t1 + t2;
        }
        h_[0] += a; h_[1] += bb; h_[2] += c; h_[3] += d; h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
    }

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block_[64] = {};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

// --- DER: just enough to walk a PKCS#7 SignedData block ---
struct Tlv {
    unsigned tag = 0;
    const unsigned char* begin = nullptr;  // the whole element
    const unsigned char* body = nullptr;
    size_t length = 0;
    const unsigned char* end() const { return body + length; }
};

bool ReadTlv(const unsigned char*& p, const unsigned char* end, Tlv& t)
{
    if (end - p < 2) return false;
    t.begin = p;
    t.tag = *p++;
    size_t length = *p++;
    if (length & 0x80) {
        int bytes = static_cast<int>(length & 0x7F);
        if (bytes == 0 || bytes > 4 || end - p < bytes) return false;  // no indefinite lengths in DER
        length = 0;
        while (bytes--) length = (length << 8) | *p++;
    }
    if (static_cast<size_t>(end - p) < length) return false;
    t.body = p;
    t.length = length;
    p += length;
    return true;
}

// The next element inside `outer`, which must carry `tag`.
bool Next(const unsigned char*& p, const Tlv& outer, unsigned tag, Tlv& t)
{
    return ReadTlv(p, outer.end(), t) && t.tag == tag;
}

bool SameBytes(const Tlv& a, const Tlv& b)
{
    return a.end() - a.begin == b.end() - b.begin && std::memcmp(a.begin, b.begin, a.end() - a.begin) == 0;
}

bool OidIs(const Tlv& oid, const unsigned char* bytes, size_t n)
{
    return oid.tag == 0x06 && oid.length == n && std::memcmp(oid.body, bytes, n) == 0;
}

const unsigned char kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const unsigned char kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

std::string NameText(const Tlv& name)
{
    static const struct { unsigned char last; const char* label; } kLabels[] = {
        {3, "CN"}, {6, "C"}, {7, "L"}, {8, "ST"}, {10, "O"}, {11, "OU"}};
    std::string out;
    const unsigned char* p = name.body;
    Tlv set, attribute, oid, value;
    while (p < name.end() && ReadTlv(p, name.end(), set) && set.tag == 0x31) {
        const unsigned char* q = set.body;
        while (q < set.end() && Next(q, set, 0x30, attribute)) {
            const unsigned char* r = attribute.body;
            if (!Next(r, attribute, 0x06, oid) || !ReadTlv(r, attribute.end(), value)) continue;
            const char* label = nullptr;
            if (oid.length == 3 && oid.body[0] == 0x55 && oid.body[1] == 0x04)
                for (const auto& l : kLabels)
                    if (l.last == oid.body[2]) label = l.label;
            if (!label) continue;
            std::string text;
            if (value.tag == 0x1E) {  // BMPString: UTF-16BE
                std::u16string wide;
                for (size_t i = 0; i + 1 < value.length; i += 2)
                    wide.push_back(static_cast<char16_t>((value.body[i] << 8) | value.body[i + 1]));
                text = Utf16ToUtf8(wide);
            } else {
                text.assign(reinterpret_cast<const char*>(value.body), value.length);
            }
            if (!out.empty()) out += ", ";
            out += std::string(label) + "=" + text;
        }
    }
    return out;
}

std::string TimeText(const Tlv& t)
{
    std::string s(reinterpret_cast<const char*>(t.body), t.length);
    if (t.tag == 0x17 && s.size() >= 12) return (s.substr(0, 2) < "50" ? "20" : "19") + s.substr(0, 12);
    if (t.tag == 0x18 && s.size() >= 14) return s.substr(0, 14);
    return "";
}

// Fills subject and validity of the certificate that `issuerAndSerial` names.
bool FindSigner(const Tlv& certificates, const Tlv& issuer, const Tlv& serial, SignatureInfo& info)
{
    const unsigned char* p = certificates.body;
    Tlv cert, tbs, field, certIssuer, certSerial, validity, from, to, subject;
    while (p < certificates.end() && ReadTlv(p, certificates.end(), cert)) {
        if (cert.tag != 0x30) continue;
        const unsigned char* q = cert.body;
        if (!Next(q, cert, 0x30, tbs)) continue;
        const unsigned char* r = tbs.body;
        if (!ReadTlv(r, tbs.end(), field)) continue;
        if (field.tag == 0xA0 && !ReadTlv(r, tbs.end(), field)) continue;  // explicit version
        certSerial = field;
        Tlv algorithm;
        if (certSerial.tag != 0x02 || !Next(r, tbs, 0x30, algorithm) || !Next(r, tbs, 0x30, certIssuer) ||
            !Next(r, tbs, 0x30, validity) || !Next(r, tbs, 0x30, subject))
            continue;
        if (!SameBytes(certIssuer, issuer) || !SameBytes(certSerial, serial)) continue;
        const unsigned char* v = validity.body;
        if (ReadTlv(v, validity.end(), from) && ReadTlv(v, validity.end(), to)) {
            info.notBefore = TimeText(from);
            info.notAfter = TimeText(to);
        }
        info.subject = NameText(subject);
        return true;
    }
    return false;
}

bool ParseSignedData(const unsigned char* data, size_t size, SignatureInfo& info)
{
    const unsigned char* p = data;
    Tlv contentInfo, oid, wrapper, signedData, version, algorithms, content, certificates, signerInfos;
    if (!ReadTlv(p, data + size, contentInfo) || contentInfo.tag != 0x30) return false;
    p = contentInfo.body;
    if (!Next(p, contentInfo, 0x06, oid) || !OidIs(oid, kSignedDataOid, sizeof kSignedDataOid)) return false;
    if (!Next(p, contentInfo, 0xA0, wrapper)) return false;
    p = wrapper.body;
    if (!Next(p, wrapper, 0x30, signedData)) return false;
    p = signedData.body;
    if (!Next(p, signedData, 0x02, version) || !Next(p, signedData, 0x31, algorithms) ||
        !Next(p, signedData, 0x30, content))
        return false;

    // SpcIndirectDataContent: { data, DigestInfo { algorithm, digest } }.
    {
        const unsigned char* q = content.body;
        Tlv type, explicitContent, indirect, spcData, digestInfo, algorithm, algorithmOid, digest;
        if (Next(q, content, 0x06, type) && Next(q, content, 0xA0, explicitContent)) {
            q = explicitContent.body;
            if (Next(q, explicitContent, 0x30, indirect)) {
                q = indirect.body;
                if (Next(q, indirect, 0x30, spcData) && Next(q, indirect, 0x30, digestInfo)) {
                    q = digestInfo.body;
                    if (Next(q, digestInfo, 0x30, algorithm) && Next(q, digestInfo, 0x04, digest)) {
                        const unsigned char* a = algorithm.body;
                        info.sha256 = Next(a, algorithm, 0x06, algorithmOid) &&
                                      OidIs(algorithmOid, kSha256Oid, sizeof kSha256Oid);
                        info.signedDigest.assign(digest.body, digest.end());
                    }
                }
            }
        }
    }

    if (!ReadTlv(p, signedData.end(), certificates)) return false;
    if (certificates.tag != 0xA0) return false;  // no certificates: no signer to name
    do {
        if (!ReadTlv(p, signedData.end(), signerInfos)) return false;
    } while (signerInfos.tag == 0xA1);  // revocation lists
    if (signerInfos.tag != 0x31) return false;
    const unsigned char* q = signerInfos.body;
    Tlv signer, signerVersion, issuerAndSerial, issuer, serial;
    if (!Next(q, signerInfos, 0x30, signer)) return false;
    q = signer.body;
    if (!Next(q, signer, 0x02, signerVersion) || !Next(q, signer, 0x30, issuerAndSerial)) return false;
    q = issuerAndSerial.body;
    if (!Next(q, issuerAndSerial, 0x30, issuer) || !Next(q, issuerAndSerial, 0x02, serial)) return false;
    return FindSigner(certificates, issuer, serial, info);
}

}  // namespace

SignatureInfo ReadSignature(const Bytes& image)
{
    SignatureInfo info;
    PeFields fields;
    if (!FindPeFields(image, fields)) return info;
    info.certAt = GetLe32(image.data() + fields.certEntryAt);
    info.certSize = GetLe32(image.data() + fields.certEntryAt + 4);
    info.present = info.certSize != 0;
    if (!info.present || info.certAt > image.size() || image.size() - info.certAt < info.certSize ||
        info.certSize < formats::image::kCertificateHeaderBytes)
        return info;
    using namespace formats::image;
    const unsigned char* block = image.data() + info.certAt;
    uint32_t length = GetLe32(block);
    if (length < kCertificateHeaderBytes || length > info.certSize || GetLe16(block + 4) != kCertificateRevision ||
        GetLe16(block + 6) != kCertificatePkcs7)
        return info;
    info.readable = ParseSignedData(block + kCertificateHeaderBytes, length - kCertificateHeaderBytes, info);
    return info;
}

Bytes AuthenticodeDigest(const Bytes& image, const PeFields& fields, size_t end)
{
    Sha256 sha;
    const unsigned char* p = image.data();
    sha.Update(p, fields.checksumAt);
    sha.Update(p + fields.checksumAt + 4, fields.certEntryAt - fields.checksumAt - 4);
    sha.Update(p + fields.certEntryAt + 8, end - fields.certEntryAt - 8);
    return sha.Finish();
}

bool DigestMatches(const Bytes& image, const SignatureInfo& info)
{
    PeFields fields;
    if (!info.readable || !info.sha256 || !FindPeFields(image, fields) || info.certAt < fields.certEntryAt + 8)
        return false;
    return AuthenticodeDigest(image, fields, info.certAt) == info.signedDigest;
}

std::string UtcNowText()
{
    std::time_t now = std::time(nullptr);
    std::tm* tm = std::gmtime(&now);
    char text[32] = "";
    if (tm) std::strftime(text, sizeof text, "%Y%m%d%H%M%S", tm);
    return text;
}

}  // namespace packtool

#include "pe_signature.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "formats/sha256.h"

namespace packtool {
namespace {

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
    formats::Sha256 sha;
    const unsigned char* p = image.data();
    sha.Update(p, fields.checksumAt);
    sha.Update(p + fields.checksumAt + 4, fields.certEntryAt - fields.checksumAt - 4);
    sha.Update(p + fields.certEntryAt + 8, end - fields.certEntryAt - 8);
    Bytes digest(formats::Sha256::kDigestBytes);
    sha.Finish(digest.data());
    return digest;
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

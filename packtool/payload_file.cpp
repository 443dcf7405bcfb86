#include "payload_file.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "config_file.h"
#include "formats/config_layout.h"
#include "formats/entry_rules.h"
#include "formats/setup_image.h"
#include "pe_signature.h"
#include "pe_version.h"
#include "product_checks.h"
#include "unzip.h"
#include "zip.h"
#include "zlib.h"

namespace fs = std::filesystem;

namespace packtool {
namespace {

using formats::image::kMaxBytes;

struct PayloadFile {
    fs::path path;
    std::string name;  // backslash-separated, relative
};

std::vector<PayloadFile> CollectFiles(const std::string& folder)
{
    std::error_code ec;
    fs::path root = fs::u8path(folder);
    if (!fs::is_directory(root, ec)) throw Failure("payload folder " + folder + " does not exist");
    std::vector<PayloadFile> files;
    uint64_t total = 0;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string rel = fs::relative(it->path(), root, ec).generic_u8string();
        if (ec) throw Failure("cannot walk " + folder + ": " + ec.message());
        std::string where = it->path().u8string() + ": ";
        std::replace(rel.begin(), rel.end(), '/', '\\');
        if (const char* problem = formats::entries::EntryNameProblem(rel.c_str()))
            throw Failure(where + "entry name \"" + rel + "\" (" + std::to_string(rel.size()) +
                          " bytes): the setup would not write it: " + problem);
        // Checked before reading: the setup's sizes are 32-bit and signed.
        uint64_t size = fs::file_size(it->path(), ec);
        if (ec) throw Failure("cannot read " + it->path().u8string() + ": " + ec.message());
        if (!formats::entries::SizeFits(size, total))
            throw Failure(where + std::to_string(size) + " bytes, " + std::to_string(total) +
                          " before it: the setup's 32-bit sizes hold at most 2 GiB in all");
        total += size;
        files.push_back({it->path(), rel});
    }
    if (ec) throw Failure("cannot walk " + folder + ": " + ec.message());
    if (files.empty()) throw Failure("payload folder " + folder + " holds no files");
    std::sort(files.begin(), files.end(), [](const PayloadFile& a, const PayloadFile& b) { return a.name < b.name; });
    return files;
}

zip_fileinfo FileInfoFor(const fs::path& path)
{
    zip_fileinfo info{};
    std::error_code ec;
    auto stamp = fs::last_write_time(path, ec);
    std::time_t t = std::time(nullptr);
    if (!ec) {
        auto sys = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            stamp - fs::file_time_type::clock::now() + std::chrono::system_clock::now());
        t = std::chrono::system_clock::to_time_t(sys);
    }
    std::tm* tm = std::localtime(&t);
    if (tm && tm->tm_year >= 80) {
        info.tmz_date.tm_sec = tm->tm_sec;
        info.tmz_date.tm_min = tm->tm_min;
        info.tmz_date.tm_hour = tm->tm_hour;
        info.tmz_date.tm_mday = tm->tm_mday;
        info.tmz_date.tm_mon = tm->tm_mon;
        info.tmz_date.tm_year = tm->tm_year + 1900;
    } else {
        info.tmz_date.tm_mday = 1;
        info.tmz_date.tm_year = 1980;
    }
    return info;
}

// Raw deflate of the whole content; empty when it would not be smaller.
Bytes Deflate(const Bytes& data)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw Failure("zlib failed");
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    size_t produced = out.size() - z.avail_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw Failure("zlib failed to compress");
    if (produced >= data.size()) return {};
    out.resize(produced);
    return out;
}

struct TempFile {
    std::string path;
    ~TempFile()
    {
        std::error_code ec;
        if (!path.empty()) fs::remove(fs::u8path(path), ec);
    }
};

void WriteArchive(const std::vector<PayloadFile>& files, const std::string& zipPath, uint64_t budget)
{
    zipFile zip = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
    if (!zip) throw Failure("cannot create " + zipPath);
    uint64_t total = 0;
    try {
        for (const PayloadFile& f : files) {
            Bytes data = ReadWholeFile(f.path.u8string());
            if (data.size() > kMaxBytes) throw Failure(f.name + ": larger than 2 GiB");
            total += data.size();
            if (total > budget) throw Failure("payload does not fit 32-bit sizes (over 2 GiB)");
            uLong crc = crc32(0L, data.data(), static_cast<uInt>(data.size()));
            Bytes packed = data.empty() ? Bytes() : Deflate(data);
            bool stored = packed.empty();
            zip_fileinfo info = FileInfoFor(f.path);
            if (zipOpenNewFileInZip2(zip, f.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     stored ? 0 : Z_DEFLATED, 9, 1) != ZIP_OK)
                throw Failure("cannot add " + f.name);
            const Bytes& body = stored ? data : packed;
            if (!body.empty() && zipWriteInFileInZip(zip, body.data(), static_cast<unsigned>(body.size())) != ZIP_OK)
                throw Failure("cannot write " + f.name);
            if (zipCloseFileInZipRaw(zip, static_cast<uLong>(data.size()), crc) != ZIP_OK)
                throw Failure("cannot finish " + f.name);
        }
    } catch (...) {
        zipClose(zip, nullptr);
        throw;
    }
    if (zipClose(zip, nullptr) != ZIP_OK) throw Failure("cannot finish " + zipPath);
}

struct TempFolder {
    fs::path path;
    ~TempFolder()
    {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

// A signed setup: [signed plain installer][ZIP payload][outer signature].
// The setup's header differs from the signed plain installer's in LoaderFlags,
// the certificate-table entry and the checksum; the plain installer's values
// go into a record at the very end of the ZIP comment, which the outer
// signature covers, and the setup's split writes them back. The comment is
// padded so that the payload ends on 8 bytes and the signing tool adds no
// padding: the payload then ends exactly where the outer signature starts.
void AppendSignedRecord(Bytes& archive, size_t start, const Bytes& plain, const PeFields& f)
{
    using namespace formats::image;
    size_t eocd = archive.size() - kZipEndRecordBytes;
    if (archive.size() < kZipEndRecordBytes || GetLe32(archive.data() + eocd) != kZipEndRecordMagic ||
        GetLe16(archive.data() + eocd + kZipCommentLengthAt) != 0)
        throw Failure("the packed archive does not end in a plain end-of-directory record");
    PlainHeader values;
    values.loaderFlags = GetLe32(plain.data() + f.loaderFlagsAt);
    values.checksum = GetLe32(plain.data() + f.checksumAt);
    values.certAt = GetLe32(plain.data() + f.certEntryAt);
    values.certSize = GetLe32(plain.data() + f.certEntryAt + 4);
    char record[kSignedRecordBytes + 1];
    FormatSignedRecord(values, record);
    size_t pad = (8 - (start + archive.size() + kSignedRecordBytes) % 8) % 8;
    PutLe16(archive.data() + eocd + kZipCommentLengthAt, static_cast<uint16_t>(pad + kSignedRecordBytes));
    archive.insert(archive.end(), pad, ' ');
    archive.insert(archive.end(), record, record + kSignedRecordBytes);
}

void PackSigned(Bytes image, std::vector<PayloadFile> files, const std::string& installer, const std::string& output,
                const SigningOptions& signing)
{
    CheckSigningSetup(signing);
    std::error_code ec;
    TempFolder temp{fs::u8path(TempNameFor(output) + ".d")};
    if (!fs::create_directories(temp.path, ec)) throw Failure("cannot create " + temp.path.u8string());
    auto tempFile = [&](const std::string& name) { return (temp.path / name).u8string(); };

    // The plain installer first, so that a certificate problem shows before
    // the payload is signed. An old signature at its end is dropped.
    PeFields fields;
    if (!FindPeFields(image, fields)) throw Failure(installer + " has no certificate-table entry");
    uint32_t oldAt = GetLe32(image.data() + fields.certEntryAt), oldSize = GetLe32(image.data() + fields.certEntryAt + 4);
    if (oldSize && uint64_t(oldAt) + oldSize == image.size()) image.resize(oldAt);
    PutLe32(image.data() + fields.loaderFlagsAt, 0);
    PutLe32(image.data() + fields.certEntryAt, 0);
    PutLe32(image.data() + fields.certEntryAt + 4, 0);
    WriteFileAtomically(tempFile("installer.exe"), image);
    Bytes plain = SignFile(signing, tempFile("installer.exe"), tempFile("installer-signed.exe"), installer);
    SignatureInfo plainSignature = ReadSignature(plain);
    if (uint64_t(plainSignature.certAt) + plainSignature.certSize != plain.size() || plain.size() % 8)
        throw Failure("osslsigncode did not put the signature of " + installer + " at its end");

    // The payload folder itself is never changed: its PE files are signed in copies.
    int n = 0;
    for (PayloadFile& f : files) {
        if (!IsPeName(f.name)) continue;
        std::string copy = tempFile("payload-" + std::to_string(n++));
        SignFile(signing, f.path.u8string(), copy, f.path.u8string());
        auto stamp = fs::last_write_time(f.path, ec);
        if (!ec) fs::last_write_time(fs::u8path(copy), stamp, ec);
        f.path = fs::u8path(copy);
    }
    if (plain.size() >= kMaxBytes) throw Failure(installer + " is too large");
    WriteArchive(files, tempFile("payload.zip"), kMaxBytes - plain.size());
    Bytes archive = ReadWholeFile(tempFile("payload.zip"));
    AppendSignedRecord(archive, plain.size(), plain, fields);
    // Room for the outer signature too.
    if (plain.size() + archive.size() + 65536 > kMaxBytes) throw Failure("payload does not fit 32-bit sizes (over 2 GiB)");

    Bytes setup = plain;
    PutLe32(setup.data() + fields.loaderFlagsAt, static_cast<uint32_t>(plain.size()));
    PutLe32(setup.data() + fields.certEntryAt, 0);
    PutLe32(setup.data() + fields.certEntryAt + 4, 0);
    setup.insert(setup.end(), archive.begin(), archive.end());
    WriteFileAtomically(tempFile("setup.exe"), setup);
    Bytes signedSetup = SignFile(signing, tempFile("setup.exe"), tempFile("setup-signed.exe"), output);
    if (ReadSignature(signedSetup).certAt != setup.size())
        throw Failure("osslsigncode did not put the signature of " + output + " behind the payload");
    WriteFileAtomically(output, signedSetup);
}

const PayloadFile* FindPayloadFile(const std::vector<PayloadFile>& files, const char* name)
{
    for (const PayloadFile& f : files)
        if (formats::entries::SameFileName(f.name.c_str(), name)) return &f;
    return nullptr;
}

// Why a driver is missing, in one line: its fixed name, what ime_name
// changes, and a driver of another name where the fixed one was expected.
std::string MissingDriverText(const std::vector<PayloadFile>& files, const std::string& path, const char* driver,
                              const Bytes& config)
{
    std::string folder = driver;
    folder.resize(folder.rfind('\\') == std::string::npos ? 0 : folder.rfind('\\') + 1);
    std::string imeName = ImeNameOf(config);
    std::string text = path + ": missing: the setup places this driver in every installation. The payload's drivers "
                       "keep the fixed names zerdaIME.ime (64-bit) and x86\\zerdaIME.ime (32-bit) whatever ime_name "
                       "says; ime_name \"" + imeName + "\" names only the copies placed in the system folders (System32\\" +
                       imeName + ".ime, SysWOW64\\" + imeName + ".ime)";
    for (const PayloadFile& f : files) {
        const std::string& n = f.name;
        bool sameFolder = n.size() > folder.size() && n.compare(0, folder.size(), folder) == 0 &&
                          n.find('\\', folder.size()) == std::string::npos;
        if (sameFolder && n.size() > 4 && formats::entries::SameFileName(n.c_str() + n.size() - 4, ".ime"))
            return text + ". Found " + n + ": rename it to " + driver;
    }
    return text;
}

// The configuration the setup loads, the drivers it places and what the
// product asks of both. A payload meant to fail (allowIncomplete) is only
// warned about.
void CheckPayloadContent(const std::vector<PayloadFile>& files, const std::string& folder, bool allowIncomplete)
{
    auto pathOf = [&](const char* name) {
        std::string rel = name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        return (fs::u8path(folder) / fs::u8path(rel)).u8string();
    };
    const PayloadFile* config = FindPayloadFile(files, formats::config::kPayloadEntry);
    if (!config) {
        if (allowIncomplete) {
            std::fprintf(stderr, "packtool: warning: the payload has no %s\n", formats::config::kPayloadEntry);
            return;
        }
        throw Failure(pathOf(formats::config::kPayloadEntry) + ": missing: the setup fails without its configuration");
    }
    Bytes image = ReadWholeFile(config->path.u8string());
    if (const char* problem = formats::config::LoadProblem(Span(image))) {
        if (allowIncomplete) return;
        throw Failure(config->path.u8string() + ": the setup would not load it: " + problem);
    }
    if (!allowIncomplete)
        for (const char* driver : formats::entries::kDriverEntries)
            if (!FindPayloadFile(files, driver)) throw Failure(MissingDriverText(files, pathOf(driver), driver, image));

    std::vector<std::string> names;
    for (const PayloadFile& f : files) names.push_back(f.name);
    Findings findings = CheckProduct(image);
    Findings use = CheckPayloadUse(image, names);
    findings.insert(findings.end(), use.begin(), use.end());
    ReportFindings(findings, config->path.u8string(), allowIncomplete);
}

bool IsDriverEntry(const char* name)
{
    for (const char* driver : formats::entries::kDriverEntries)
        if (formats::entries::SameFileName(name, driver)) return true;
    return false;
}

// The IMM road (Windows before 8) installs only a file whose version resource
// calls it an input-method driver; the text-service road does not ask. Such
// a payload still packs, with a warning that names the file.
void WarnAboutDriverKinds(const std::vector<PayloadFile>& files)
{
    for (const PayloadFile& f : files) {
        if (!IsDriverEntry(f.name.c_str())) continue;
        VersionKind kind = ReadVersionKind(ReadWholeFile(f.path.u8string()));
        if (IsInputMethodDriver(kind)) continue;
        std::fprintf(stderr,
                     "packtool: warning: %s: %s, not an input-method driver (FILETYPE VFT_DRV, FILESUBTYPE "
                     "VFT2_DRV_INPUTMETHOD): Windows 7 will not install it as an input method\n",
                     f.path.u8string().c_str(), VersionKindText(kind).c_str());
    }
}

std::string SignatureText(const SignatureInfo& s)
{
    if (!s.present) return "not signed";
    if (!s.readable) return "signature block unreadable";
    return "signed by " + (s.subject.empty() ? std::string("(no subject)") : s.subject);
}

std::string SizeText(uint64_t n)
{
    return std::to_string(n);
}

}  // namespace

size_t LoaderFlagsOffset(const Bytes& image, const std::string& what)
{
    using formats::image::Kind;
    size_t at = 0;
    switch (formats::image::Classify(Span(image), &at)) {
    case Kind::NotExecutable: throw Failure(what + " is not a Windows executable");
    case Kind::NoPeHeader: throw Failure(what + " is not a Windows executable (no PE header)");
    case Kind::NotPe32Plus: throw Failure(what + " is not a PE32+ (64-bit) executable");
    case Kind::Pe32Plus: break;
    }
    return at;
}

void PackSetup(const std::string& installer, const std::string& folder, const std::string& output,
               const SigningOptions& signing, bool allowIncomplete)
{
    Bytes image = ReadWholeFile(installer);
    size_t flagsAt = LoaderFlagsOffset(image, installer);
    uint32_t previous = GetLe32(image.data() + flagsAt);
    // A setup that already carries a payload is packed again from its plain part.
    if (previous != 0) {
        if (previous > image.size()) throw Failure(installer + ": LoaderFlags points beyond the file");
        image.resize(previous);
    }
    if (image.size() >= kMaxBytes) throw Failure(installer + " is too large");

    std::vector<PayloadFile> files = CollectFiles(folder);
    CheckPayloadContent(files, folder, allowIncomplete);
    WarnAboutDriverKinds(files);
    if (signing.Enabled()) return PackSigned(image, files, installer, output, signing);

    TempFile zipTemp{TempNameFor(output) + ".zip"};
    WriteArchive(files, zipTemp.path, kMaxBytes - image.size());
    Bytes archive = ReadWholeFile(zipTemp.path);
    if (image.size() + archive.size() > kMaxBytes) throw Failure("payload does not fit 32-bit sizes (over 2 GiB)");

    PutLe32(image.data() + flagsAt, static_cast<uint32_t>(image.size()));
    image.insert(image.end(), archive.begin(), archive.end());
    WriteFileAtomically(output, image);
}

std::string InspectSetup(const std::string& path, const Bytes& image)
{
    std::ostringstream out;
    size_t flagsAt = LoaderFlagsOffset(image, path);
    uint32_t offset = GetLe32(image.data() + flagsAt);
    out << "file size: " << SizeText(image.size()) << "\n";
    out << "payload offset (LoaderFlags): " << offset << "\n";
    if (offset == 0) {
        out << "no payload\n";
        return out.str();
    }
    if (offset > image.size()) throw Failure(path + ": LoaderFlags points beyond the file");
    if (offset == image.size()) {
        out << "no payload (plain installer)\n";
        return out.str();
    }
    if (image.size() - offset < 4 || GetLe32(image.data() + offset) != formats::image::kZipLocalHeaderMagic)
        throw Failure(path + ": no ZIP archive at the payload offset");

    // A signed setup's payload ends where its signature starts.
    SignatureInfo signature = ReadSignature(image);
    size_t payloadEnd = image.size();
    out << "signature: " << SignatureText(signature) << "\n";
    if (signature.present) {
        if (signature.certAt > offset && signature.certAt <= image.size()) payloadEnd = signature.certAt;
        if (!signature.notAfter.empty())
            out << "  valid from " << signature.notBefore << " to " << signature.notAfter << " (UTC)\n";
        bool matches = DigestMatches(image, signature);
        out << "signature covers the payload: "
            << (signature.certAt <= offset ? "no (the signature starts before the payload ends)"
                : matches                  ? "yes (payload bytes " + std::to_string(offset) + ".." +
                                                 std::to_string(payloadEnd) + " signed, digest matches)"
                                           : "no (digest does not match: changed after signing)")
            << "\n";
        using namespace formats::image;
        if (payloadEnd - offset >= kSignedRecordBytes && HasSignedRecordMagic(image.data() + payloadEnd - kSignedRecordBytes))
            out << "plain installer header kept in the payload: "
                << std::string(image.begin() + payloadEnd - kSignedRecordBytes + kSignedRecordMagicBytes,
                               image.begin() + payloadEnd)
                << "\n";
    }

    // The archive alone, as the installer sees it after the split.
    TempFile temp{TempNameFor(path) + ".zip"};
    WriteFileAtomically(temp.path, Bytes(image.begin() + offset, image.begin() + payloadEnd));
    unzFile zip = unzOpen64(temp.path.c_str());
    if (!zip) throw Failure(path + ": the payload is not a readable ZIP archive");
    unz_global_info64 global{};
    unzGetGlobalInfo64(zip, &global);
    out << "archive size: " << (payloadEnd - offset) << "\n";
    out << "entries: " << global.number_entry << "\n";
    Bytes config;
    bool configFound = false;
    uint64_t total = 0;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        char name[1024] = {};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        char line[1200];
        std::snprintf(line, sizeof line, "  %10llu %10llu %s %s\n", static_cast<unsigned long long>(info.uncompressed_size),
                      static_cast<unsigned long long>(info.compressed_size), info.compression_method ? "deflated" : "stored  ",
                      name);
        out << line;
        total += info.uncompressed_size;
        if (IsPeName(name) && info.uncompressed_size < (1u << 28) && unzOpenCurrentFile(zip) == UNZ_OK) {
            Bytes entry(info.uncompressed_size);
            int got = entry.empty() ? 0 : unzReadCurrentFile(zip, entry.data(), static_cast<unsigned>(entry.size()));
            if (unzCloseCurrentFile(zip) == UNZ_OK && got == static_cast<int>(entry.size())) {
                SignatureInfo s = ReadSignature(entry);
                out << "             " << SignatureText(s)
                    << (s.readable ? DigestMatches(entry, s) ? ", digest matches" : ", digest does not match" : "")
                    << "\n";
                if (IsDriverEntry(name)) out << "             file type: " << VersionKindText(ReadVersionKind(entry)) << "\n";
            }
        }
        if (std::string(name) == formats::config::kPayloadEntry && info.uncompressed_size < (1u << 24) &&
            unzOpenCurrentFile(zip) == UNZ_OK) {
            config.resize(info.uncompressed_size);
            int got = config.empty() ? 0 : unzReadCurrentFile(zip, config.data(), static_cast<unsigned>(config.size()));
            configFound = unzCloseCurrentFile(zip) == UNZ_OK && got == static_cast<int>(config.size());
        }
        rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    out << "uncompressed total: " << total << "\n";
    if (configFound) out << "configuration ($dataFiles$\\config.dsc):\n" << DescribeConfigFile(config);
    else out << "configuration: " << formats::config::kPayloadEntry << " missing or unreadable\n";
    return out.str();
}

}  // namespace packtool

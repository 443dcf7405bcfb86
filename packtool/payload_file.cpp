#include "payload_file.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "config_file.h"
#include "unzip.h"
#include "zip.h"
#include "zlib.h"

namespace fs = std::filesystem;

namespace packtool {
namespace {

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
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string rel = fs::relative(it->path(), root, ec).generic_u8string();
        if (ec) throw Failure("cannot walk " + folder + ": " + ec.message());
        std::replace(rel.begin(), rel.end(), '/', '\\');
        for (unsigned char c : rel)
            if (c >= 0x80 || c < 0x20)
                throw Failure("entry name \"" + rel + "\": only printable ASCII names are packed "
                              "(the installer reads names in the system code page)");
        if (rel.size() > kMaxEntryNameBytes)
            throw Failure("entry name \"" + rel + "\" has " + std::to_string(rel.size()) +
                          " bytes; names must be shorter than 64 bytes");
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
            if (data.size() > kMaxSetupSize) throw Failure(f.name + ": larger than 2 GiB");
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

std::string SizeText(uint64_t n)
{
    return std::to_string(n);
}

}  // namespace

size_t LoaderFlagsOffset(const Bytes& image, const std::string& what)
{
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') throw Failure(what + " is not a Windows executable");
    uint32_t pe = GetLe32(image.data() + 0x3C);
    if (pe > image.size() || image.size() - pe < 0x84 || image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] ||
        image[pe + 3])
        throw Failure(what + " is not a Windows executable (no PE header)");
    if (GetLe16(image.data() + pe + 24) != 0x20B) throw Failure(what + " is not a PE32+ (64-bit) executable");
    return pe + 0x80;
}

void PackSetup(const std::string& installer, const std::string& folder, const std::string& output)
{
    Bytes image = ReadWholeFile(installer);
    size_t flagsAt = LoaderFlagsOffset(image, installer);
    uint32_t previous = GetLe32(image.data() + flagsAt);
    // A setup that already carries a payload is packed again from its plain part.
    if (previous != 0) {
        if (previous > image.size()) throw Failure(installer + ": LoaderFlags points beyond the file");
        image.resize(previous);
    }
    if (image.size() >= kMaxSetupSize) throw Failure(installer + " is too large");

    std::vector<PayloadFile> files = CollectFiles(folder);
    bool hasConfig = std::any_of(files.begin(), files.end(),
                                 [](const PayloadFile& f) { return f.name == "$dataFiles$\\config.dsc"; });
    if (!hasConfig) std::fprintf(stderr, "packtool: warning: the payload has no $dataFiles$\\config.dsc\n");

    TempFile zipTemp{TempNameFor(output) + ".zip"};
    WriteArchive(files, zipTemp.path, kMaxSetupSize - image.size());
    Bytes archive = ReadWholeFile(zipTemp.path);
    if (image.size() + archive.size() > kMaxSetupSize) throw Failure("payload does not fit 32-bit sizes (over 2 GiB)");

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
    if (image.size() - offset < 4 || GetLe32(image.data() + offset) != 0x04034B50)
        throw Failure(path + ": no ZIP archive at the payload offset");

    // The archive alone, as the installer sees it after the split.
    TempFile temp{TempNameFor(path) + ".zip"};
    WriteFileAtomically(temp.path, Bytes(image.begin() + offset, image.end()));
    unzFile zip = unzOpen64(temp.path.c_str());
    if (!zip) throw Failure(path + ": the payload is not a readable ZIP archive");
    unz_global_info64 global{};
    unzGetGlobalInfo64(zip, &global);
    out << "archive size: " << (image.size() - offset) << "\n";
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
        if (std::string(name) == "$dataFiles$\\config.dsc" && info.uncompressed_size < (1u << 24) &&
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
    else out << "configuration: $dataFiles$\\config.dsc missing or unreadable\n";
    return out.str();
}

}  // namespace packtool

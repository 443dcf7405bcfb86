#include "common.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace packtool {

Bytes ReadWholeFile(const std::string& path)
{
    std::error_code ec;
    if (!fs::is_regular_file(fs::u8path(path), ec)) throw Failure("cannot read " + path + ": no such file");
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) throw Failure("cannot open " + path);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read " + path);
    return data;
}

std::string TempNameFor(const std::string& path)
{
    auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    return path + ".partial-" + std::to_string(static_cast<unsigned long long>(tick) % 1000000007ull);
}

void WriteFileAtomically(const std::string& path, const Bytes& data)
{
    std::string temp = TempNameFor(path);
    {
        std::ofstream out(fs::u8path(temp), std::ios::binary | std::ios::trunc);
        if (!out) throw Failure("cannot create " + temp);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            fs::remove(fs::u8path(temp), ec);
            throw Failure("cannot write " + path);
        }
    }
    std::error_code ec;
    fs::rename(fs::u8path(temp), fs::u8path(path), ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(fs::u8path(temp), ignored);
        throw Failure("cannot create " + path + ": " + ec.message());
    }
}

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    size_t i = 0;
    auto bad = [&]() { return Failure("invalid UTF-8 in \"" + text + "\""); };
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else throw bad();
        if (static_cast<size_t>(extra) > text.size() - i - 1) throw bad();
        for (int k = 1; k <= extra; ++k) {
            unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) throw bad();
            cp = (cp << 6) | (d & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) throw bad();
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += 1 + extra;
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace packtool

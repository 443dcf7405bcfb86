#include "zip_builder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "common/test_support.h"
#include "zip.h"
#include "iowin32.h"

bool BuildZip(const std::wstring& path, const std::vector<ZipItem>& items)
{
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) return false;
    bool ok = true;
    for (const ZipItem& item : items) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = 2024;
        info.tmz_date.tm_mday = 1;
        ok = ok && zipOpenNewFileInZip(zip, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       item.stored ? 0 : Z_DEFLATED, item.stored ? 0 : 6) == ZIP_OK;
        if (ok && !item.content.empty())
            ok = zipWriteInFileInZip(zip, item.content.data(), static_cast<unsigned>(item.content.size())) == ZIP_OK;
        if (ok) ok = zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

bool BuildSetup(const std::wstring& installer, const std::wstring& archive, const std::wstring& out,
                long long loaderFlags)
{
    std::string exe, zip;
    if (!ReadFileBytes(installer, &exe) || !ReadFileBytes(archive, &zip) || exe.size() < 0x40) return false;
    uint32_t pe;
    std::memcpy(&pe, &exe[0x3C], 4);
    if (pe + 0x84 > exe.size()) return false;
    uint32_t flags = loaderFlags < 0 ? static_cast<uint32_t>(exe.size()) : static_cast<uint32_t>(loaderFlags);
    std::memcpy(&exe[pe + 0x80], &flags, 4);
    exe += zip;
    return WriteFileBytes(out, exe.data(), exe.size());
}

void ReadTree(const std::wstring& root, std::vector<std::pair<std::wstring, std::string>>* files,
              const std::wstring& prefix)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        std::wstring rel = prefix.empty() ? n : prefix + L"\\" + n;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ReadTree(root + L"\\" + n, files, rel);
        } else {
            std::string content;
            ReadFileBytes(root + L"\\" + n, &content);
            files->emplace_back(rel, content);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(files->begin(), files->end());
}

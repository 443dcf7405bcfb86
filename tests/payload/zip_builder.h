// Builds ZIP archives for the tests with minizip's zip.c.
#pragma once
#include <string>
#include <vector>

struct ZipItem {
    std::string name;     // stored as given (ANSI bytes)
    std::string content;
    bool stored = false;  // no compression: the content appears verbatim
};

bool BuildZip(const std::wstring& path, const std::vector<ZipItem>& items);

// Copies `installer` and appends `archive`, with LoaderFlags set to the
// installer's size (or to `loaderFlags` when given).
bool BuildSetup(const std::wstring& installer, const std::wstring& archive, const std::wstring& out,
                long long loaderFlags = -1);

// Every file below `root`, as relative backslash names mapped to contents.
void ReadTree(const std::wstring& root, std::vector<std::pair<std::wstring, std::string>>* files,
              const std::wstring& prefix = L"");

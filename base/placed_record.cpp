#include "base/placed_record.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<PlacedItem> g_notes;
HKEY g_record = nullptr;

bool RecordKeyPath(const wchar_t* name, wchar_t* out /* 128 */)
{
    // A product key name is a braced GUID: nothing that climbs to another key.
    if (!name || name[0] != L'{' || wcschr(name, L'\\')) return false;
    return BoundedFormat(out, 128, L"Software\\ZerdaIME3\\%s\\Placed", name) < 127;
}

void Write(const PlacedItem& item)
{
    DWORD kind = item.kind;
    LONG rc = RegSetValueExW(g_record, item.path, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
    if (rc != ERROR_SUCCESS) RunLogFailure(L"Not written into the record of what was placed", item.path, rc);
}

bool LiesInWorkFolder(const wchar_t* path)
{
    const wchar_t* work = g_setup.workFolder;
    size_t n = wcslen(work);
    return n > 0 && wcslen(path) > n && (path[n] == L'\\') &&
           CompareStringOrdinal(path, static_cast<int>(n), work, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

}  // namespace

PlacedItem MakePlacedItem(const wchar_t* folder, const wchar_t* name, DWORD kind, bool wasThere)
{
    PlacedItem item{{}, kind, wasThere};
    size_t n = BoundedFormat(item.path, MAX_PATH, L"%s%s", folder, name);
    if (kind == kPlacedFolder && n > 0 && item.path[n - 1] != L'\\') n = BoundedAppend(item.path, MAX_PATH, L"\\");
    if (n >= MAX_PATH - 1) item.path[0] = L'\0';
    return item;
}

void NotePlaced(const wchar_t* path, DWORD kind, bool wasThere)
{
    if (!path || LiesInWorkFolder(path)) return;
    const PlacedItem item = MakePlacedItem(L"", path, kind, wasThere);
    if (!item.path[0]) return;
    AcquireSRWLockExclusive(&g_lock);
    bool known = false;
    for (PlacedItem& noted : g_notes) {
        if (CompareStringOrdinal(noted.path, -1, item.path, -1, TRUE) != CSTR_EQUAL) continue;
        // New in this run once it was new at its first placement.
        noted.wasThere = noted.wasThere && wasThere;
        known = true;
        break;
    }
    if (!known) g_notes.push_back(item);
    if (g_record) Write(item);
    ReleaseSRWLockExclusive(&g_lock);
}

bool OpenPlacedRecord(const wchar_t* name)
{
    wchar_t path[128];
    if (!RecordKeyPath(name, path)) return false;
    AcquireSRWLockExclusive(&g_lock);
    if (g_record) RegCloseKey(g_record);
    g_record = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &g_record, nullptr);
    if (rc != ERROR_SUCCESS) {
        g_record = nullptr;
        RunLogFailure(L"The record of what is placed could not be made", path, rc);
    }
    for (const PlacedItem& item : g_notes)
        if (g_record) Write(item);
    ReleaseSRWLockExclusive(&g_lock);
    return rc == ERROR_SUCCESS;
}

void ClosePlacedRecord()
{
    AcquireSRWLockExclusive(&g_lock);
    if (g_record) RegCloseKey(g_record);
    g_record = nullptr;
    g_notes.clear();
    ReleaseSRWLockExclusive(&g_lock);
}

const std::vector<PlacedItem>& PlacedThisRun() { return g_notes; }

bool ReadPlacedRecord(const wchar_t* name, std::vector<PlacedItem>& items)
{
    items.clear();
    wchar_t path[128];
    HKEY key = nullptr;
    if (!RecordKeyPath(name, path) || RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0;; ++i) {
        wchar_t value[1024];
        DWORD chars = 1024, type = 0, kind = 0, bytes = sizeof kind;
        LONG rc = RegEnumValueW(key, i, value, &chars, nullptr, &type, reinterpret_cast<BYTE*>(&kind), &bytes);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        // A value no setup wrote (a path too long, another type) names nothing to remove.
        if (rc != ERROR_SUCCESS || type != REG_DWORD || chars >= MAX_PATH) continue;
        items.push_back(MakePlacedItem(L"", value, kind));
    }
    RegCloseKey(key);
    return true;
}

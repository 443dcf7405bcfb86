// The Start-menu group with its shortcuts and the companion tool's install command.
#include "engine/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "payload/worker_threads.h"

namespace {

enum class IconFile { Target, None, SystemDriver };

struct ShortcutRow {
    uint32_t flag;
    const wchar_t* fileFormat;     // with the group folder
    const wchar_t* targetFormat;   // with the install folder
    const wchar_t* argsFormat;     // with the product key name; null: no arguments
    IconFile icon;
    int iconIndex;
    const wchar_t* descriptionFormat;  // with the display name
};

const ShortcutRow kRows[] = {
    {0x80, L"%sسېستىما تەڭشىكى.lnk", L"%sconfig.exe", L"/n %s", IconFile::Target, 0,
     L"%s ئىشلىتىش ئادىتىنى ئۆزگەرتىش،بېكىتىش"},
    {0x40, L"%sياردەم ھۆججىتى.lnk", L"%smain.chm", nullptr, IconFile::None, 0,
     L" %s ياردەم ھۆججىتىنى كۆرۈڭ"},
    {0x20, L"%sنۇسخا يېڭىلاش.lnk", L"%sinstaller.exe", L"/n %s /g", IconFile::Target, 3,
     L" %s يېڭى نۇسخىسىنى تەكشۈرۈپ كۆرۈڭ"},
    {0x100, L"%sكۇنۇپكا ئىقتىدارى.lnk", L"%sconfig.exe", L"/n %s /do anjianshezhi", IconFile::SystemDriver, 16,
     L" %s كۇنۇپكا ئىقتىدارىنى ئۆزگەرتىش، بېكىتىش"},
    {0x1000, L"%sپىروگرامما ئوڭشاش.lnk", L"%sinstaller.exe", L"/n %s /r", IconFile::Target, 1,
     L" %s يېڭى قاچىلىغان ھالەتكە قايتۇرۇش"},
    {0x800, L"%sكومپىيۇتېردىن يۇيۇش.lnk", L"%sinstaller.exe", L"/n %s /u", IconFile::Target, 2,
     L" %s پىروگراممىسىنى كومپىيۇتېردىن يۇيۇش"},
};

// Resolves a shell folder with a trailing backslash; empty when unknown.
void ResolveFolder(int csidl, wchar_t* buffer)
{
    buffer[0] = L'\0';
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        buffer[0] = L'\0';
    buffer[MAX_PATH - 1] = L'\0';
    AppendBackslashIfMissing(buffer, MAX_PATH);
}

// One shortcut of the group, composed before any is saved.
struct ShortcutJob {
    wchar_t file[MAX_PATH];
    wchar_t target[MAX_PATH];
    wchar_t arguments[256];
    wchar_t description[256];
    const wchar_t* icon;
    int iconIndex;
    bool hasArguments;
};

struct ShortcutRun {
    const ShortcutJob* jobs;
    int count;
    const wchar_t* workingFolder;
    volatile LONG next;
};

void SaveShortcut(const wchar_t* file, const wchar_t* target, const wchar_t* arguments, const wchar_t* iconPath,
                  int iconIndex, const wchar_t* description, const wchar_t* workingFolder)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))) || !link)
        return;
    link->SetPath(target);
    link->SetDescription(description);
    link->SetWorkingDirectory(workingFolder);
    link->SetIconLocation(iconPath, iconIndex);
    if (arguments) link->SetArguments(arguments);
    link->SetShowCmd(SW_SHOW);
    // Through the link's own stream: the file's bytes are the same, but
    // IPersistFile::Save also announces each file to the shell (the group is
    // announced once when all are saved), and Wine waits there for a helper
    // process that mirrors each link on its host's desktop.
    IPersistStream* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist))) && persist) {
        IStream* stream = nullptr;
        if (SUCCEEDED(SHCreateStreamOnFileEx(file, STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE,
                                             FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &stream)) &&
            stream) {
            persist->Save(stream, TRUE);
            stream->Release();
        }
        persist->Release();
    }
    link->Release();
}

// A link's target is looked up in the shell's namespace when it is set,
// which takes a while: the links are made side by side, each thread in an
// apartment of its own.
DWORD WINAPI SaveShortcutsInTurn(void* context)
{
    auto& run = *static_cast<ShortcutRun*>(context);
    const bool apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    for (;;) {
        LONG i = InterlockedIncrement(&run.next) - 1;
        if (i >= run.count) break;
        const ShortcutJob& job = run.jobs[i];
        SaveShortcut(job.file, job.target, job.hasArguments ? job.arguments : nullptr, job.icon, job.iconIndex,
                     job.description, run.workingFolder);
    }
    if (apartment) CoUninitialize();
    return 0;
}

void RunToolInstallCommand(SetupContext& c)
{
    wchar_t command[kToolCommandChars];
    BoundedCopyN(command, kToolCommandChars, ToolInstallCommand(c), kToolCommandChars - 1);
    if (!command[0]) return;

    wchar_t file[MAX_PATH];
    BoundedFormat(file, MAX_PATH, L"%s%s", c.installFolder, command);
    const wchar_t* parameters = nullptr;
    if (wchar_t* split = wcsstr(file, L" /")) {
        *split = L'\0';
        parameters = split + 1;
    }
    // Only a program of the product, started by its full name, never one
    // that a bare or climbing name would find elsewhere (the current folder,
    // the search path), and in the install folder, not where this run began.
    if (!IsAbsolutePath(c.installFolder) || !IsFileInsideFolder(file, c.installFolder)) {
        RunLog(L"Not started (no program in the install folder): %s", file);
        return;
    }
    wchar_t line[MAX_PATH + kToolCommandChars + 4];
    BoundedFormat(line, MAX_PATH + kToolCommandChars + 4, parameters ? L"\"%s\" %s" : L"\"%s\"", file,
                  parameters ? parameters : L"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(file, line, nullptr, nullptr, FALSE, 0, nullptr, c.installFolder, &startup, &process)) {
        RunLogFailure(L"The companion tool's install command could not be started", file, GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace

bool CreateShortcuts()
{
    SetupContext& c = g_setup;

    // Resolved so that the folder exists; no shortcut is placed there.
    wchar_t desktop[MAX_PATH];
    ResolveFolder(CSIDL_DESKTOPDIRECTORY, desktop);

    wchar_t programs[MAX_PATH];
    ResolveFolder(CSIDL_COMMON_PROGRAMS, programs);

    wchar_t imeName[kImeNameChars];
    BoundedCopyN(imeName, kImeNameChars, ImeName(c), kImeNameChars - 1);
    wchar_t displayName[kDisplayNameChars];
    BoundedCopyN(displayName, kDisplayNameChars, DisplayName(c), kDisplayNameChars - 1);

    wchar_t driverIcon[MAX_PATH] = L"";
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        AppendBackslashIfMissing(system, MAX_PATH);
        BoundedFormat(driverIcon, MAX_PATH, L"%s%s.ime", system, imeName);
    }

    wchar_t group[MAX_PATH];
    BoundedFormat(group, MAX_PATH, L"%s%s\\", programs, displayName);
    // A group that cannot be created (a display name with characters not
    // allowed in file names) makes every save below fail; that is not reported.
    const bool groupWasThere = PathExists(group);
    if (CreateFolderPath(group)) NotePlaced(group, kPlacedFolder, groupWasThere);

    const uint32_t flags = EngineFlags(c);
    constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
    ShortcutJob jobs[kRowCount];
    int count = 0;
    for (const ShortcutRow& row : kRows) {
        if (!(flags & row.flag)) continue;
        ShortcutJob& job = jobs[count++];
        BoundedFormat(job.target, MAX_PATH, row.targetFormat, c.installFolder);
        BoundedFormat(job.description, 256, row.descriptionFormat, displayName);
        BoundedFormat(job.file, MAX_PATH, row.fileFormat, group);
        job.hasArguments = row.argsFormat != nullptr;
        job.arguments[0] = L'\0';
        if (row.argsFormat) BoundedFormat(job.arguments, 256, row.argsFormat, c.name);
        job.icon = row.icon == IconFile::Target ? job.target : row.icon == IconFile::SystemDriver ? driverIcon : L"";
        job.iconIndex = row.iconIndex;
    }
    bool wasThere[kRowCount];
    for (int i = 0; i < count; ++i) wasThere[i] = PathExists(jobs[i].file);
    ShortcutRun run{jobs, count, c.installFolder, 0};
    WorkerThreads savers;
    // The shell's code may want more stack than the unpacking's workers have.
    StartWorkerThreads(savers, UsefulThreadCount(count) - 1, SaveShortcutsInTurn, &run, 0);
    SaveShortcutsInTurn(&run);
    JoinWorkerThreads(savers);
    for (int i = 0; i < count; ++i)
        if (PathExists(jobs[i].file)) NotePlaced(jobs[i].file, kPlacedFile, wasThere[i]);

    SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_PATHW | SHCNF_FLUSH, group, nullptr);

    RunToolInstallCommand(c);
    return true;
}

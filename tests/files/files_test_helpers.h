// Helpers of the file placement tests: fixture paths, reading a file's DACL
// back, capturing standard output and running a holder process.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// <build>\tests\files\fixtures\<name>
std::wstring FixturePath(const std::wstring& name);
bool CopyFixture(const std::wstring& name, const std::wstring& destination);
bool SameContent(const std::wstring& a, const std::wstring& b);
// The work folder of the setup context, where a tree keeps a file it could
// not place ("<name>.temp"); made when missing. With a trailing backslash.
std::wstring SideCopyFolder();

struct AceInfo {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;  // string form, S-1-...
};
// The entries of a descriptor's DACL in order; *hasDacl false when there is
// none (or it is null).
std::vector<AceInfo> DaclEntries(const void* descriptor, bool* hasDacl = nullptr);
SECURITY_DESCRIPTOR_CONTROL ControlOf(const void* descriptor);
// The DACL as the system reports it for a file (under Wine: made up from the
// file's Unix mode bits).
std::vector<AceInfo> ReadFileDacl(const std::wstring& path);
std::string Describe(const std::vector<AceInfo>& acl);

// What others than SYSTEM and the Administrators (Everyone, Users, app
// containers) may change of a file or folder, one note each; empty when
// nothing. Under Wine "Everyone" stands for the other users' mode bits.
std::string WritableByOthers(const std::wstring& path);
// As another user could leave a file or folder: everyone may change it.
bool OpenToEveryone(const std::wstring& path);

// Well-known SIDs.
extern const wchar_t kEveryoneSid[];
extern const wchar_t kAppPackagesSid[];
extern const wchar_t kAdministratorsSid[];
extern const wchar_t kUsersSid[];
extern const wchar_t kSystemSid[];

// Keeps file security descriptors exactly as written, for its lifetime, in
// place of the file system (Wine keeps only Unix mode bits). Files without a
// stored descriptor are read from the system.
class MemorySecurityStore {
public:
    MemorySecurityStore();
    ~MemorySecurityStore();
    // Stores the descriptor given in SDDL (e.g. "D:P(A;;FR;;;BU)").
    bool Put(const std::wstring& path, const wchar_t* sddl);
    // Stores a descriptor whose DACL is present but null.
    bool PutNullDacl(const std::wstring& path);
    // The stored self-relative descriptor; empty when none.
    std::vector<BYTE> Get(const std::wstring& path) const;
    int Writes() const;
};

// Redirects standard output (the C runtime's descriptor 1) into a file for
// its lifetime or until Stop().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    // Ends the capture (standard output goes back) and gives what was written.
    std::string Stop();

private:
    std::wstring file_;
    int saved_ = -1;
};

// A running copy of the holder program that has loaded `library` (or, with
// an empty library, only holds its own program file).
class HolderProcess {
public:
    // program: the holder executable to run (a copy may be used to give it
    // another name or folder).
    HolderProcess(const std::wstring& program, const std::wstring& library);
    ~HolderProcess();
    bool Ready() const { return ready_; }
    DWORD Id() const { return pi_.dwProcessId; }
    // True when the process has ended within the time.
    bool WaitEnded(DWORD ms) const;
    void Kill();

private:
    PROCESS_INFORMATION pi_{};
    bool ready_ = false;
};

// Opens a file for reading, sharing reading only, as an on-access scanner
// does, and closes it after `ms` (on a thread of its own).
class BriefHold {
public:
    BriefHold(const std::wstring& path, DWORD ms);
    ~BriefHold();
    bool Held() const { return held_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE thread_ = nullptr;
    DWORD ms_;
    bool held_ = false;
};

// The files beside `path` that a held-file replacement moved it to
// ("<name>.<number>.old").
std::vector<std::wstring> FilesMovedAside(const std::wstring& path);

// The holder program of the build.
std::wstring HolderProgram();
// Waits until no process has `path` loaded any more (after a kill).
void WaitUntilReleased(const std::wstring& path, DWORD ms = 5000);

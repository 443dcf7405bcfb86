// Users' keyboard lists under Wine, which has no input.dll and no shell
// window: a recording stand-in for input.dll, profiles of other people (one
// not signed in, one whose hive is damaged, the default profile) and a
// desktop shell that runs unelevated.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct InputListCall {
    std::wstring function, userRegistry, profile, list;
    DWORD flags = 0;
    int elevated = -1;
};

// <system folder>\input.dll is the recorder while the object lives; what
// it wrote into the lists goes again with it.
class InputDllStandIn {
public:
    InputDllStandIn();
    ~InputDllStandIn();
    bool Placed() const { return placed_; }
    std::vector<InputListCall> Calls() const;
    void ClearCalls() const;
    // "hold": a key of each hive stays open in the calling process;
    // "fail-removals": every removal fails.
    void SetMode(const std::string& words) const;

private:
    bool placed_ = false;
};

// The hives carry the marker the recorder reports: "current" (this
// account's own, loaded), "second" (a profile whose owner is not signed
// in), "default" (the default profile). A fourth profile's hive is damaged,
// a fifth roams and a sixth is mandatory: all three must be skipped.
// Everything goes again on destruction.
class OtherProfiles {
public:
    OtherProfiles();
    ~OtherProfiles();
    static const wchar_t* DamagedHive();
    static const wchar_t* RoamingSid();

private:
    std::wstring previousDefault_;
};

// The shell window of this desktop belongs to a process that runs with the
// unelevated half of this account's token, as Explorer does under UAC.
class UnelevatedShell {
public:
    UnelevatedShell();
    ~UnelevatedShell();
    bool Running() const { return process_ != nullptr; }

private:
    HANDLE process_ = nullptr;
};

// The entry that names the product's keyboard: its text service's profile
// from 6.2, before that the IMM layout whose driver is <imeName>.ime.
std::wstring KeyboardListEntry(const std::wstring& guid, const std::wstring& imeName, WORD langId);

// Each of the three profiles got exactly one call that adds (or removes)
// `entry`, never as the default; calls on a hive leave the running session
// alone; calls in a user's own session ran unelevated; the current user's
// came through `currentBy`; no other hive was touched, and no call named
// more than one entry.
void ExpectOneChangePerProfile(const std::vector<InputListCall>& calls, bool removal, const std::wstring& entry,
                               const std::wstring& currentBy);

// The machine-wide guard that lets one install, repair or uninstall of the
// product family run at a time. It lives in a private namespace whose
// boundary is the Administrators group, with an access list for SYSTEM and
// the Administrators only: no program without administrator rights can make
// it first, take it over or hold it.
#pragma once

enum class RunGuard {
    Acquired,        // held by this process until it ends (also when a run that held it died)
    HeldByAnother,   // another setup of the family runs
    Unavailable,     // the guard could not be made; GetLastError tells why
};

RunGuard AcquireRunGuard();

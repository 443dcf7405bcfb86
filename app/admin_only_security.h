// Security attributes for what the elevated setup keeps in the user's
// temporary folder: full control for SYSTEM and Administrators, nothing for
// anyone else, and nothing taken over from the (user-writable) parent. An
// unelevated program can then neither read, add, swap nor delete the files.
#pragma once
#include <windows.h>

class AdminOnlySecurity {
public:
    // folder: files and folders made inside it get the same entries.
    explicit AdminOnlySecurity(bool folder);
    ~AdminOnlySecurity();
    AdminOnlySecurity(const AdminOnlySecurity&) = delete;
    AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
    // Null when the descriptor could not be built: then create nothing.
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

#include "app/admin_only_security.h"

#include <sddl.h>

AdminOnlySecurity::AdminOnlySecurity(bool folder)
{
    // P: protected, no entries inherited from the parent. SY SYSTEM, BA
    // Administrators, FA full access; OICI passes them on to the contents.
    const wchar_t* text = folder ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor_, nullptr))
        descriptor_ = nullptr;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
}

AdminOnlySecurity::~AdminOnlySecurity()
{
    if (descriptor_) LocalFree(descriptor_);
}

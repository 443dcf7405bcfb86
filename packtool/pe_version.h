// What kind of file a PE image says it is in the fixed part of its version
// resource. Windows before 8 installs an input method (ImmInstallIME) only
// from a file that calls itself an input-method driver there.
#pragma once
#include <cstdint>
#include <string>

#include "common.h"

namespace packtool {

struct VersionKind {
    bool found = false;  // the image has a readable version resource
    uint32_t type = 0;     // dwFileType
    uint32_t subtype = 0;  // dwFileSubtype
};

VersionKind ReadVersionKind(const Bytes& image);
bool IsInputMethodDriver(const VersionKind& kind);
// "input-method driver (VFT_DRV, VFT2_DRV_INPUTMETHOD)", "library (VFT_DLL)", ...
std::string VersionKindText(const VersionKind& kind);

}  // namespace packtool

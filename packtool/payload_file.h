// The shipped setup: a PE32+ installer with a ZIP archive appended, the
// archive's start offset in the LoaderFlags field of the optional header.
#pragma once
#include <string>

#include "common.h"
#include "signing.h"

namespace packtool {

constexpr size_t kMaxEntryNameBytes = 63;  // the installer keeps names in 64 bytes
constexpr uint64_t kMaxSetupSize = 0x7FFFFFFF;

// File offset of LoaderFlags; throws Failure when the image is not PE32+.
size_t LoaderFlagsOffset(const Bytes& image, const std::string& what);

// Packs every file below `folder` (names relative, backslash-separated) and
// writes installer + archive to `output`. With signing options the payload's
// PE files (copies), the plain installer and the finished setup are signed.
void PackSetup(const std::string& installer, const std::string& folder, const std::string& output,
               const SigningOptions& signing = SigningOptions());

// Prints the payload offset, the entries and the decoded configuration, and
// who signed the setup and its PE entries.
std::string InspectSetup(const std::string& path, const Bytes& image);

}  // namespace packtool

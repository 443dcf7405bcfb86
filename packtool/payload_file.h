// The shipped setup: a PE32+ installer with a ZIP archive appended, the
// archive's start offset in the LoaderFlags field of the optional header.
#pragma once
#include <string>

#include "common.h"
#include "signing.h"

namespace packtool {

// File offset of LoaderFlags; throws Failure when the image is not PE32+.
size_t LoaderFlagsOffset(const Bytes& image, const std::string& what);

// Packs every file below `folder` (names relative, backslash-separated) and
// writes installer + archive to `output`. With signing options the payload's
// PE files (copies), the plain installer and the finished setup are signed.
// What the setup would refuse is refused here, naming the file: a name it
// would not write, a size beyond its 32 bits, and unless `allowIncomplete`
// (test setups that are meant to fail) a config.dsc it would not load or a
// missing driver.
void PackSetup(const std::string& installer, const std::string& folder, const std::string& output,
               const SigningOptions& signing = SigningOptions(), bool allowIncomplete = false);

// Prints the payload offset, the entries and the decoded configuration, and
// who signed the setup and its PE entries.
std::string InspectSetup(const std::string& path, const Bytes& image);

}  // namespace packtool

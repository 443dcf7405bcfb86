// packtool new: a folder to start a product of one's own from.
#pragma once
#include <string>
#include <vector>

namespace packtool {

// Writes <folder>/product.txt (every key, commented, with a fresh GUID and
// the `overrides` "key=value" applied), <folder>/payload/ laid out as the
// setup expects (with config.dsc and License.html) and <folder>/help/, the
// help file's source. With `from` (a payload folder, e.g. the demo's) its
// drivers, programs and data files are copied in, so that the folder packs
// as it is. Refuses a folder that exists and is not empty. Returns what was
// made, for the person at the terminal.
std::string WriteNewProduct(const std::string& folder, const std::string& from,
                            const std::vector<std::string>& overrides);

}  // namespace packtool

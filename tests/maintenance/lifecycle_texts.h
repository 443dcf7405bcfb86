// Texts the whole-program runs look for: messages of the start routine and
// the names of the repair and uninstall shortcuts.
#pragma once

namespace cycle_text {
constexpr const wchar_t* kEnvironmentText = L"دېتال ئىجرا بولۇش مۇھىتى توغرا ئەمەس، ھۆججەت بۇزۇلغان بولۇشى مۇمكىن";
constexpr const wchar_t* kUninstallCaption = L"يۇيالمىدى";
constexpr const wchar_t* kRepairCaption = L"ئوڭشىيالمىدى";
constexpr const wchar_t* kRepairShortcut = L"پىروگرامما ئوڭشاش.lnk";
constexpr const wchar_t* kUninstallShortcut = L"كومپىيۇتېردىن يۇيۇش.lnk";
}  // namespace cycle_text

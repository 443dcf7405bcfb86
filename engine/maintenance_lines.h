// The log lines of the repair and uninstall sequences, and the names of the
// shortcuts the uninstall removes.
#pragma once

namespace maint_text {
constexpr const wchar_t* kRepairStart = L"بىرئازدىن كىيىن ئوڭشاش تاماملىنىدۇ...\r\n";
constexpr const wchar_t* kComFailure = L"COMدەسلەپكى ھالەتكە كەلتۈرۈشتە خاتالىق كۆرۈلدى";
constexpr const wchar_t* kRepairStep1 = L"  1.ئىشلەتكۈچى ئۇچۇرلىرى زاپاسلاندى...";
constexpr const wchar_t* kRepairStep2 = L"  2.ھۆججەت سېستىمىسى ئوڭشالدى...";
constexpr const wchar_t* kRepairStep3 = L"  3.دېتال ئىجرا بولۇش مۇھىتى ئوڭشالدى...";
constexpr const wchar_t* kRepairStep4 = L"  4.ئۈستەل ۋە باشلاش ستونى تېزىملىكى ئوڭشالدى";
constexpr const wchar_t* kRepairStep5 = L"  5.قاچىلاش پىروگراممىسى ۋاقىتلىق ھۆججەتلىرى تازىلاندى...";
constexpr const wchar_t* kRepairStep6 = L"  6.ئوڭشاش تاماملاندى.\r\n";
constexpr const wchar_t* kRepairFailure = L"ئوڭشاش پىروگراممىسىدا خاتالىق كۆرۈلدى";
constexpr const wchar_t* kUninstallStart = L"يۇيۇۋېتىش ھازىر تاماملىنىدۇ...\r\n";
constexpr const wchar_t* kUninstallStep1 = L"  1.كىرگۈزۈش ئېغىزى يۇيۇلدى...";
constexpr const wchar_t* kUninstallStep2 = L"  2.تىل-يېزىق مۇندەرىجىسىدىن يۇيۇلدى...";
constexpr const wchar_t* kUninstallStep3 = L"  3.ھۆججەتلەر يۇيۇلدى...";
constexpr const wchar_t* kUninstallStep4 = L"  4.قولاي تىزىملىكتىن يۇيۇلدى...";
constexpr const wchar_t* kUninstallStep5 = L" 5.خەت نۇسخىلىرى يۇيۇلدى...";
constexpr const wchar_t* kUninstallFamily = L"      بارلىق مۇناسىۋەتلىك ھۆججەتلەر تۇلۇق يۇيۇلىۋاتىدۇ...";
constexpr const wchar_t* kUninstallStep7 = L"  7.كىرگۈزگۈچ ئۇچۇرى يۇيۇلدى...";
constexpr const wchar_t* kUninstallStep8 = L"  8.يۇيۇش تاماملاندى.\r\n";
constexpr const wchar_t* kShortcutSettings = L"%s设置%s.lnk";
constexpr const wchar_t* kShortcutUpdate = L"%s更新%s.lnk";
constexpr const wchar_t* kShortcutRepair = L"%s修复%s.lnk";
constexpr const wchar_t* kShortcutUninstall = L"%s卸载%s.lnk";
constexpr const wchar_t* kShortcutKeys = L"%s%s按键功能设定.lnk";
constexpr const wchar_t* kShortcutHelp = L"%s%s帮助文档.lnk";
}  // namespace maint_text

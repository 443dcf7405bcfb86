// What the repair and uninstall dialogs must show, word for word.
#pragma once

struct ExpectedLine {
    int percent;
    const wchar_t* text;
};

namespace expect {
constexpr ExpectedLine kRepairStart{0, L"بىرئازدىن كىيىن ئوڭشاش تاماملىنىدۇ...\r\n"};
constexpr ExpectedLine kComFailure{0, L"COMدەسلەپكى ھالەتكە كەلتۈرۈشتە خاتالىق كۆرۈلدى"};
constexpr ExpectedLine kRepairStep1{10, L"  1.ئىشلەتكۈچى ئۇچۇرلىرى زاپاسلاندى..."};
constexpr ExpectedLine kRepairStep2{20, L"  2.ھۆججەت سېستىمىسى ئوڭشالدى..."};
constexpr ExpectedLine kRepairStep3{40, L"  3.دېتال ئىجرا بولۇش مۇھىتى ئوڭشالدى..."};
constexpr ExpectedLine kRepairStep4{70, L"  4.ئۈستەل ۋە باشلاش ستونى تېزىملىكى ئوڭشالدى"};
constexpr ExpectedLine kRepairStep5{85, L"  5.قاچىلاش پىروگراممىسى ۋاقىتلىق ھۆججەتلىرى تازىلاندى..."};
constexpr ExpectedLine kRepairStep6{100, L"  6.ئوڭشاش تاماملاندى.\r\n"};
constexpr ExpectedLine kRepairFailure{0, L"ئوڭشاش پىروگراممىسىدا خاتالىق كۆرۈلدى"};
constexpr ExpectedLine kUninstallStart{0, L"يۇيۇۋېتىش ھازىر تاماملىنىدۇ...\r\n"};
constexpr ExpectedLine kUninstallComFailure{0, L"COMدەسلەپكى ھالەتكە كەلتۈرۈشتە خاتالىق كۆرۈلدى"};
constexpr ExpectedLine kUninstallStep1{5, L"  1.كىرگۈزۈش ئېغىزى يۇيۇلدى..."};
constexpr ExpectedLine kUninstallStep2{20, L"  2.تىل-يېزىق مۇندەرىجىسىدىن يۇيۇلدى..."};
constexpr ExpectedLine kUninstallStep3{40, L"  3.ھۆججەتلەر يۇيۇلدى..."};
constexpr ExpectedLine kUninstallStep4{60, L"  4.قولاي تىزىملىكتىن يۇيۇلدى..."};
constexpr ExpectedLine kUninstallStep5{70, L" 5.خەت نۇسخىلىرى يۇيۇلدى..."};
constexpr ExpectedLine kUninstallFamily{80, L"      بارلىق مۇناسىۋەتلىك ھۆججەتلەر تۇلۇق يۇيۇلىۋاتىدۇ..."};
constexpr ExpectedLine kUninstallStep7{90, L"  7.كىرگۈزگۈچ ئۇچۇرى يۇيۇلدى..."};
constexpr ExpectedLine kUninstallStep8{100, L"  8.يۇيۇش تاماملاندى.\r\n"};
constexpr const wchar_t* kMissingBackupText = L"قاچىلاش ھۆججەتلىرى يوق ياكى بۇزۇلغان، ئوڭشاش پىروگراممىسى ئىجرا بولمىدى";
constexpr const wchar_t* kMissingBackupCaption = L"مەشغۇلات ئېلىپ بېرىشقا بولمىدى";
constexpr const wchar_t* kRepairButton = L"ئوڭشاش(&R)";
constexpr const wchar_t* kUninstallButton = L"يۇيۇش(&U)";
constexpr const wchar_t* kFinishButton = L"تامام(&O)";
constexpr const wchar_t* kUninstallTitleSuffix = L" - پىروگرامما يۇيۇش";
constexpr const wchar_t* kRepairTitleSuffix = L" - پىروگرامما ئوڭشاش";
// The header bands' sentences by state; "+" marks where the display name goes.
constexpr const wchar_t* kHeaders[] = {
    L"ۋارېك ئۇيغۇرچە كىرگۈزگۈچىسىنى ئىشلىتىشىڭىزنى قارشى ئالىمىز | كېسترىن تور پەن-تېخنىكا چەكلىك شىركىتى",
    L"ۋارېك ئۇيغۇرچە كىرگۈزگۈچىسىنى ئىشلىتىشىڭىزنى قارشى ئالىمىز |  + كومپيۇتېرىڭىزغا قاچىلىنىۋاتىدۇ، سەل ت",
    L"ۋارېك ئۇيغۇرچە كىرگۈزگۈچىسىنى ئىشلىتىشىڭىزنى قارشى ئالىمىز | تامام كۇنۇپكىسىنى بېسىپ قاچىلاشنى تاماملاڭ",
    L"ئوڭشاش كۇنۇپكىسىنى بېسىپ، پىروگراممىنى دەسلەپ قاچىلانغان ھالەتكە قايتۇرۇڭ",
    L"ئوڭشاۋاتىدۇ + ，تەخىر قىلىڭ",
    L"تامام كۇنۇپكىسىنى بېسىپ، پىروگرامما ئوڭشاش ھالىتىدىن چىكىنىڭ",
    L"يۇيۇش كۇنۇپكىسىنى بېسىپ كومپيۇتېردىن ئۆچۈرۈڭ + .",
    L"تامام كۇنۇپكىسىنى بېسىپ، يۇيۇش پىروگراممىسىدىن چىكىنىڭ"};
// The placement's own line when the payload has no 64-bit driver.
constexpr ExpectedLine kPlacementErr1{0, L"     错误: 无法创建IME驱动文件(err1)"};
}  // namespace expect

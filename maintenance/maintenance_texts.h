// The texts the repair and uninstall dialogs show: captions, buttons and
// headers; the log lines are their sequences'.
#pragma once
#include "engine/maintenance_lines.h"

namespace maint_text {
constexpr const wchar_t* kRepairFinishButton = L"تامام(&O)";
constexpr const wchar_t* kRepairMissingBackupText = L"قاچىلاش ھۆججەتلىرى يوق ياكى بۇزۇلغان، ئوڭشاش پىروگراممىسى ئىجرا بولمىدى";
constexpr const wchar_t* kRepairMissingBackupCaption = L"مەشغۇلات ئېلىپ بېرىشقا بولمىدى";
constexpr const wchar_t* kRepairButton = L"ئوڭشاش(&R)";
constexpr const wchar_t* kRepairTitleSuffix = L" - پىروگرامما ئوڭشاش";
constexpr const wchar_t* kRepairHeaderReady = L"ئوڭشاش كۇنۇپكىسىنى بېسىپ، پىروگراممىنى دەسلەپ قاچىلانغان ھالەتكە قايتۇرۇڭ";
constexpr const wchar_t* kRepairHeaderRunning = L"ئوڭشاۋاتىدۇ %s ，تەخىر قىلىڭ";
constexpr const wchar_t* kRepairHeaderDone = L"تامام كۇنۇپكىسىنى بېسىپ، پىروگرامما ئوڭشاش ھالىتىدىن چىكىنىڭ";
constexpr const wchar_t* kUninstallTitleSuffix = L" - پىروگرامما يۇيۇش";
constexpr const wchar_t* kUninstallButton = L"يۇيۇش(&U)";
constexpr const wchar_t* kFinishButton = L"تامام(&O)";
constexpr const wchar_t* kUninstallHeaderReady = L"يۇيۇش كۇنۇپكىسىنى بېسىپ كومپيۇتېردىن ئۆچۈرۈڭ %s .";
constexpr const wchar_t* kUninstallHeaderDone = L"تامام كۇنۇپكىسىنى بېسىپ، يۇيۇش پىروگراممىسىدىن چىكىنىڭ";
}  // namespace maint_text

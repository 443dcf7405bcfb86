// Texts of the start routine's message boxes.
#pragma once

namespace msg {
inline constexpr const wchar_t* kInstallFailedText =
    L"قاچىلاش ھۆججەتلىرى توغرا ئەمەس،كېسترىن شىركىتى بىلەن ئالاقىلىشىپ توغرا قاچىلاش ھۆججىتىگە ئېرىشىڭ";
inline constexpr const wchar_t* kInstallFailedCaption = L"قاچىلىيالمىدى";
inline constexpr const wchar_t* kEnvironmentText =
    L"دېتال ئىجرا بولۇش مۇھىتى توغرا ئەمەس، ھۆججەت بۇزۇلغان بولۇشى مۇمكىن";
inline constexpr const wchar_t* kUninstallCaption = L"يۇيالمىدى";
inline constexpr const wchar_t* kRepairCaption = L"ئوڭشىيالمىدى";
inline constexpr const wchar_t* kUpdateText = L"ھازىرچە يېڭىلاش ئىقتىدارىنى ئىشلىتىشكە بولمايدۇ";
inline constexpr const wchar_t* kUpdateCaption = L"ۋارېك كىرگۈزگۈچ";
inline constexpr const wchar_t* kCopyFailedFormat =
    L"قاچىلاش ھۆججىتى ۋاقىتلىق مۇندەرىجىنى ئاچالمىدى:\r\ninstall:%s\r\nsource:%s\r\ndest:%s\r\n";
inline constexpr const wchar_t* kStartFailedText =
    L"قاچىلاش پىروگراممىسىنىڭ ۋاقىتلىق مۇندەرىجىدىكى قوشۇمچە نۇسخسىنى ئىجرا قىلىشقا بولمىدى";
// The change is completed when the computer restarts: the files in use are
// replaced or removed then. Restart now?
inline constexpr const wchar_t* kRestartText =
    L"كومپيۇتېر قايتا قوزغىتىلغاندىن كېيىن ئۆزگەرتىش تاماملىنىدۇ: ئىشلىتىلىۋاتقان ھۆججەتلەر شۇ چاغدا ئالماشتۇرۇلىدۇ ياكى ئۆچۈرۈلىدۇ. ھازىرلا قايتا قوزغىتامسىز؟";
inline constexpr const wchar_t* kRestartCaption = L"قايتا قوزغىتىش";
inline constexpr const wchar_t* kRelaunchCaption = L"باشتا قاچىلانغان ھالەتكە قايتۇرۇشقا بولمىدى";
}  // namespace msg

// The texts of the wizard and of its folder chooser (the chooser's are Chinese).
#pragma once

namespace wizard_text {
// Install wizard
inline constexpr wchar_t kCaptionSuffix[] = L" قاچىلاش يېتەكچىسى";
inline constexpr wchar_t kInstallText[] = L"قاچىلاش(&S)";
inline constexpr wchar_t kFinishText[] = L"تامام(&O)";
inline constexpr wchar_t kLinkText[] = L"ئىشلىتىش كېلىشىمىنى كۆرۈڭ(L)";
inline constexpr wchar_t kWelcomeLine[] = L"ۋارېك ئۇيغۇرچە كىرگۈزگۈچىسىنى ئىشلىتىشىڭىزنى قارشى ئالىمىز";
inline constexpr wchar_t kMakerLine[] = L"كېسترىن تور پەن-تېخنىكا چەكلىك شىركىتى";
inline constexpr wchar_t kInstallingLine[] = L" %s كومپيۇتېرىڭىزغا قاچىلىنىۋاتىدۇ، سەل تەخىر قىلىڭ";
inline constexpr wchar_t kFinishLine[] = L"تامام كۇنۇپكىسىنى بېسىپ قاچىلاشنى تاماملاڭ";
inline constexpr wchar_t kBrowseTitle[] = L"قاچىلاش مۇندەرىجىسىنى تاللاڭ...";
inline constexpr wchar_t kFaceName[] = L"ALKATIP";

// Folder chooser
inline constexpr wchar_t kFilter[] = L"文件夹\0*..*\0";
inline constexpr wchar_t kSelectText[] = L"选择(&O)";
inline constexpr wchar_t kOpenText[] = L"打开(&O)";
inline constexpr wchar_t kNameLabel[] = L"文件夹名称：";
inline constexpr wchar_t kCreateQuestion[] = L"目录“%s”不存在。\r\n是否创建该目录？";
inline constexpr wchar_t kCreateFailed[] = L"创建目录失败，请确定程序对当前路径的访问权限。";
inline constexpr wchar_t kMessageCaption[] = L"文件夹选择";
}  // namespace wizard_text

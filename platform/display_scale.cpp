#include "platform/display_scale.h"

#include "platform/system_library.h"

namespace {

// Functions of later Windows versions, taken at run time so that the program
// still starts on Windows 7.
template <typename Fn>
Fn Find(const wchar_t* module, const char* name)
{
    HMODULE loaded = GetModuleHandleW(module);
    return loaded ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(loaded, name))) : nullptr;
}

using DpiForWindowFn = UINT(WINAPI*)(HWND);
using ControlDpiBehaviourFn = BOOL(WINAPI*)(HWND, DWORD mask, DWORD values);
using IconScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
constexpr DWORD kDisableFontUpdate = 1;  // DCDC_DISABLE_FONT_UPDATE

int g_highContrastOverride = -1;

}  // namespace

UINT WindowDpi(HWND window)
{
    static const auto dpiForWindow = Find<DpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (dpiForWindow && window) {
        if (UINT dpi = dpiForWindow(window)) return dpi;
    }
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

int ScaleToDpi(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kBaseDpi)); }

HFONT CreateFontForDpi(const wchar_t* face, int height, int weight, UINT dpi)
{
    LOGFONTW lf{};
    lf.lfHeight = ScaleToDpi(height, dpi);
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_CHARACTER_PRECIS;
    lf.lfQuality = PROOF_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynW(lf.lfFaceName, face ? face : L"", LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

HICON LoadIconOfSize(int id, int size)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    EnsureCommonControls();
    // The common controls' loader scales a larger image down smoothly; the
    // plain loader stretches the nearest one.
    static const auto scaleDown = Find<IconScaleDownFn>(L"comctl32.dll", "LoadIconWithScaleDown");
    HICON icon = nullptr;
    if (scaleDown && SUCCEEDED(scaleDown(instance, MAKEINTRESOURCEW(id), size, size, &icon)) && icon) return icon;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void KeepOwnFontOnDpiChange(HWND control)
{
    static const auto behaviour =
        Find<ControlDpiBehaviourFn>(L"user32.dll", "SetDialogControlDpiChangeBehavior");
    if (behaviour && control) behaviour(control, kDisableFontUpdate, kDisableFontUpdate);
}

bool HighContrastOn()
{
    if (g_highContrastOverride >= 0) return g_highContrastOverride != 0;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SetHighContrastOverride(int state) { g_highContrastOverride = state < 0 ? -1 : state != 0; }

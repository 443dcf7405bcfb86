#include "platform/header_band.h"

#include <cwchar>

#include "platform/display_scale.h"

namespace {
constexpr int kIconSize = 48, kIconFromRight = 70;
constexpr size_t kNameChars = 512;

// The lines joined as the band's window text; an ampersand is doubled, or
// the control would take the letter after it for a mnemonic.
void ComposeName(const HeaderLine* lines, size_t count, wchar_t* out)
{
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && at + 2 < kNameChars) {
            out[at++] = L'\r';
            out[at++] = L'\n';
        }
        for (const wchar_t* c = lines[i].text; c && *c && at + 1 < kNameChars; ++c) {
            if (*c == L'&') {
                if (at + 2 >= kNameChars) break;
                out[at++] = L'&';
            }
            out[at++] = *c;
        }
    }
    out[at] = L'\0';
}

void FollowWithName(HWND band, const HeaderLine* lines, size_t count)
{
    wchar_t name[kNameChars], current[kNameChars];
    ComposeName(lines, count, name);
    current[0] = L'\0';
    GetWindowTextW(band, current, static_cast<int>(kNameChars));
    // Set past the button's own handling, which would paint the band again
    // from inside its painting.
    if (wcscmp(name, current) != 0) DefWindowProcW(band, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
}
}  // namespace

void DrawHeaderBand(const DRAWITEMSTRUCT& item, const HeaderLayout& layout, const HeaderLine* lines, size_t count)
{
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const UINT dpi = WindowDpi(item.hwndItem);
    const bool contrast = HighContrastOn();
    HBRUSH background = contrast ? GetSysColorBrush(COLOR_WINDOW) : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(dc, &r, background);

    const int iconSize = ScaleToDpi(kIconSize, dpi);
    if (HICON icon = LoadIconOfSize(layout.iconId, iconSize)) {
        DrawIconEx(dc, r.right - ScaleToDpi(kIconFromRight, dpi), r.top + ScaleToDpi(layout.iconTop, dpi), icon,
                   iconSize, iconSize, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
    }

    const int mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF color = SetTextColor(dc, contrast ? GetSysColor(COLOR_WINDOWTEXT) : RGB(0, 0, 0));
    for (size_t i = 0; i < count; ++i) {
        const HeaderLine& line = lines[i];
        if (!line.text) continue;
        HFONT font = CreateFontForDpi(layout.face, line.height, line.weight, dpi);
        HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
        TextOutW(dc, r.left + ScaleToDpi(line.x, dpi), r.top + ScaleToDpi(line.y, dpi), line.text,
                 static_cast<int>(wcslen(line.text)));
        if (previous) SelectObject(dc, previous);
        if (font) DeleteObject(font);
    }
    SetTextColor(dc, color);
    SetBkMode(dc, mode);
    FollowWithName(item.hwndItem, lines, count);
}

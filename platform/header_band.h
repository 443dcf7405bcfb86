// The header band at the top of the wizard and the repair and uninstall
// dialogs: an owner-drawn control filled white, the product's icon near its
// right edge and one or two lines of text. Positions and sizes are given in
// pixels at 96 DPI and drawn for the DPI the band is shown at; with high
// contrast on it takes the system's window colours. The band's window text
// follows the lines it draws, so that screen readers read the sentence that
// is on screen as its name.
#pragma once
#include <windows.h>

#include <cstddef>

struct HeaderLine {
    int x, y;    // from the band's top left
    int height;  // font height
    int weight;
    const wchar_t* text;
};

struct HeaderLayout {
    int iconId;
    int iconTop;  // the icon is 48 x 48, its left edge 70 from the band's right
    const wchar_t* face;
};

void DrawHeaderBand(const DRAWITEMSTRUCT& item, const HeaderLayout& layout, const HeaderLine* lines, size_t count);

#pragma once
// High contrast: while the system's mode is on, the painters' palette colours are replaced by the
// system's own colours, opaque, so that every border and fill shows as the user chose.
#include <windows.h>

#include <cstdint>

// The system colours a high-contrast paint uses, #RRGGBB.
struct SystemColours {
    uint32_t window = 0xFFFFFF;
    uint32_t windowText = 0x000000;
    uint32_t highlight = 0x0078D7;
    uint32_t highlightText = 0xFFFFFF;
    uint32_t grayText = 0x6D6D6D;
};

// SPI_GETHIGHCONTRAST says the mode is on.
bool highContrastOn();
// GetSysColor's answers for the colours above.
SystemColours readSystemColours();

// The opaque system colour that stands for a palette fill or stroke (0xAARRGGBB): surfaces become the
// window colour, borders, dividers and scroll bars the window text, accents, hovers and banners the
// highlight. A colour the palette does not hold (an app's letter tile, a pictogram) stays as it is.
uint32_t contrastFill(uint32_t argb, const SystemColours& colours);
// The same for a text colour (#RRGGBB): white and near-white text (on accents and the header) becomes
// the highlight text, disabled text the grey text, every other the window text.
uint32_t contrastText(uint32_t rgb, const SystemColours& colours);

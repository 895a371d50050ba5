// Draws texts with the program's own interface fonts so the end-to-end runs can find them on screen.
//   text_stamp [DPI]   the fonts made for DPI (96 when not given), as a window at that DPI makes them
// One request per stdin line, UTF-8:  <font index> <RRGGBB text> <RRGGBB background> <text>
// One answer per line on stdout:      <width> <height> <hex RGB bytes of the inked box, row by row>
// or "0 0" when nothing was inked. The text is drawn as the painters draw it: DrawTextW, one line,
// vertically centred, transparent background, on a 32-bit DIB section.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/app_state.h"
#include "base/win_handles.h"
#include "base/text_convert.h"

namespace {

constexpr int kWidth = 1400;
constexpr int kHeight = 80;

COLORREF colourRef(unsigned long rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

std::string stamp(HDC dc, const uint32_t* bits, HFONT font, unsigned long fg, unsigned long bg, const std::wstring& text) {
    RECT all{0, 0, kWidth, kHeight};
    qb::UniqueBrush brush(::CreateSolidBrush(colourRef(bg)));
    ::FillRect(dc, &all, brush.get());
    qb::SelectGuard selected(dc, font);
    ::SetTextColor(dc, colourRef(fg));
    ::SetBkMode(dc, TRANSPARENT);
    RECT box{8, 0, kWidth - 8, kHeight};
    ::DrawTextW(dc, text.c_str(), -1, &box, DT_SINGLELINE | DT_VCENTER);
    ::GdiFlush();

    const uint32_t background = bits[0] & 0xFFFFFF;
    int left = kWidth, top = kHeight, right = -1, bottom = -1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if ((bits[y * kWidth + x] & 0xFFFFFF) == background) continue;
            if (x < left) left = x;
            if (x > right) right = x;
            if (y < top) top = y;
            if (y > bottom) bottom = y;
        }
    }
    if (right < 0) return "0 0";
    std::string out = std::to_string(right - left + 1) + " " + std::to_string(bottom - top + 1) + " ";
    static const char kHex[] = "0123456789abcdef";
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const uint32_t p = bits[y * kWidth + x];
            for (int shift : {16, 8, 0}) {
                out += kHex[(p >> (shift + 4)) & 0xF];
                out += kHex[(p >> shift) & 0xF];
            }
        }
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HFONT fonts[kUiFontCount] = {};
    const int dpi = argc > 1 ? _wtoi(argv[1]) : 96;
    if (dpi <= 0 || !createUiFonts(fonts, dpi)) return 1;
    qb::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap || !bits) return 1;
    qb::SelectGuard selected(dc.get(), bitmap.get());

    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string request(line);
        while (!request.empty() && (request.back() == '\n' || request.back() == '\r')) request.pop_back();
        int font = 0;
        unsigned long fg = 0, bg = 0;
        int consumed = 0;
        std::string answer = "0 0";
        if (std::sscanf(request.c_str(), "%d %lx %lx %n", &font, &fg, &bg, &consumed) == 3 && font >= 0 &&
            font < kUiFontCount) {
            answer = stamp(dc.get(), static_cast<const uint32_t*>(bits), fonts[font], fg, bg,
                           utf8ToWide(request.substr(static_cast<size_t>(consumed))));
        }
        std::fputs(answer.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    for (HFONT f : fonts) ::DeleteObject(f);
    return 0;
}

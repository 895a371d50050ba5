#include "render/contrast.h"

#include "render/palette.h"

namespace {

constexpr uint32_t kOpaque = 0xFF000000;

uint32_t rgbOf(COLORREF colour) {
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

enum class Role { Keep, Surface, Border, Accent };

Role roleOf(uint32_t argb) {
    switch (argb) {
        case palette::kWindowBackground | kOpaque:
        case palette::kSidebarFill:
        case palette::kWhite:
        case palette::kNoticeFill:
        case palette::kRowTrack:
        case palette::kNeutralFill:
        case palette::kSearchFieldFill:  // also the active pill's fill
        case palette::kHeaderSeparator:  // drawn on the header like its white glyphs
        case palette::kLogoFallback:
        // Fills that carry dark text: the selected row (its bar is the accent), an installed app's button,
        // a hovered secondary button.
        case palette::kSelectedRow:
        case palette::kInstalledFill:
        case palette::kFieldFill:
        case palette::kSecondaryHoverFill:
            return Role::Surface;
        case palette::kSidebarBorder:
        case palette::kCardBorder:
        case palette::kRowBorder:
        case palette::kNoticeBorder:
        case palette::kPillBorder:
        case palette::kTrack:
        case palette::kThumb:
        case palette::kMenuShadow:
        case palette::kFieldBorder:
        case palette::kWindowEdge:  // also the switch while off
        case palette::kSectionRule:
        case palette::kSwitchOffHover:
        // Hovers over the header, which is the highlight itself.
        case palette::kCloseHover:
        case palette::kCaptionHover:
        case palette::kPillHover:
            return Role::Border;
        // What the pointer is on stands out: a hovered border, a thumb being dragged.
        case palette::kCardBorderHover:
        case palette::kOutlineHover:
        case palette::kThumbActive:
        case palette::kHeaderLeft:
        case palette::kPrimary:
        case palette::kPrimaryHover:
        case palette::kCardProgress:
        case palette::kSuccess:
        case palette::kUpdate:
        case palette::kUpdateHover:
        case palette::kError:
        case palette::kFailedBar:
        case palette::kPrimaryPressed:
        case palette::kSecondaryPressedFill:
        case palette::kToastSuccess:
        case palette::kToastError:
        case palette::kToastNeutral:
            return Role::Accent;
        default: return Role::Keep;
    }
}

}  // namespace

bool highContrastOn() {
    HIGHCONTRASTW contrast{sizeof contrast, 0, nullptr};
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

SystemColours readSystemColours() {
    SystemColours colours;
    colours.window = rgbOf(::GetSysColor(COLOR_WINDOW));
    colours.windowText = rgbOf(::GetSysColor(COLOR_WINDOWTEXT));
    colours.highlight = rgbOf(::GetSysColor(COLOR_HIGHLIGHT));
    colours.highlightText = rgbOf(::GetSysColor(COLOR_HIGHLIGHTTEXT));
    colours.grayText = rgbOf(::GetSysColor(COLOR_GRAYTEXT));
    return colours;
}

uint32_t contrastFill(uint32_t argb, const SystemColours& colours) {
    switch (roleOf(argb)) {
        case Role::Surface: return kOpaque | colours.window;
        case Role::Border: return kOpaque | colours.windowText;
        case Role::Accent: return kOpaque | colours.highlight;
        case Role::Keep: break;
    }
    return argb;
}

uint32_t contrastText(uint32_t rgb, const SystemColours& colours) {
    if (rgb == palette::kTextWhite || rgb == palette::kTextSubtitle || rgb == palette::kTextPillIdle)
        return colours.highlightText;
    if (rgb == palette::kTextDisabled) return colours.grayText;
    return colours.windowText;
}

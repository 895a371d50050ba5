#pragma once
// The interface colours: 0xAARRGGBB for GDI+ brushes and pens, COLORREF for GDI text.
#include <windows.h>

#include <cstdint>

namespace palette {

// #RRGGBB as the COLORREF that SetTextColor takes (red in the low byte).
constexpr COLORREF text(uint32_t rgb) {
    return static_cast<COLORREF>(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}

constexpr uint32_t kWindowBackground = 0xF5F6F8;  // GDI fill of the whole back buffer
constexpr uint32_t kHeaderLeft = 0xFF0EA5E9;
constexpr uint32_t kHeaderRight = 0xFF2563EB;
constexpr uint32_t kSidebarFill = 0xFFFAFBFD;
constexpr uint32_t kSidebarBorder = 0xFFE5E6EB;
constexpr uint32_t kCardBorder = 0x26E5E6EB;  // also card divider and outlined-button border
constexpr uint32_t kRowBorder = 0x1EE5E6EB;
constexpr uint32_t kNoticeBorder = 0x46E5E6EB;
constexpr uint32_t kCardBorderHover = 0x3CD6D7E0;
constexpr uint32_t kPrimary = 0xFF2563EB;
constexpr uint32_t kPrimaryHover = 0xFF1D4ED8;
constexpr uint32_t kOutlineHover = 0x262563EB;
constexpr uint32_t kCardProgress = 0x462563EB;
constexpr uint32_t kSelectedRow = 0xFFEFF6FF;
constexpr uint32_t kNeutralFill = 0xFFF2F3F5;  // hovered sidebar row, neutral button
constexpr uint32_t kRowTrack = 0xFFF0F1F4;
constexpr uint32_t kSuccess = 0xFF00B42A;
constexpr uint32_t kInstalledFill = 0x2600B42A;
constexpr uint32_t kUpdate = 0xFFFF7D00;       // "升 级": an installed app with a newer version
constexpr uint32_t kUpdateHover = 0xFFE56F00;
constexpr uint32_t kError = 0xFFF53F3F;
constexpr uint32_t kFailedBar = 0x46F53F3F;
constexpr uint32_t kCloseHover = 0xFFE83F4F;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kNoticeFill = 0xF7FFFFFF;
constexpr uint32_t kCaptionHover = 0x26FFFFFF;
constexpr uint32_t kHeaderSeparator = 0x6EFFFFFF;
constexpr uint32_t kPillHover = 0x1EFFFFFF;
constexpr uint32_t kPillActive = 0x2EFFFFFF;
constexpr uint32_t kPillBorder = 0x5AFFFFFF;
constexpr uint32_t kLogoFallback = 0x46FFFFFF;
constexpr uint32_t kSearchFieldFill = 0x2EFFFFFF;  // the header's search field; its border while focused is kPillBorder
constexpr uint32_t kTrack = 0x12BEC0C9;
constexpr uint32_t kThumb = 0x6EA0A3AF;
constexpr uint32_t kThumbActive = 0x96787C8A;
constexpr uint32_t kToastSuccess = 0xE800B42A;
constexpr uint32_t kToastError = 0xE8F53F3F;
constexpr uint32_t kToastNeutral = 0xE81D2129;
constexpr uint32_t kMenuShadow = 0x061D2129;  // one ring of a menu's shadow; rings add up inwards

// The settings window's own.
constexpr uint32_t kFieldBorder = 0xFFD5D9E0;
constexpr uint32_t kFieldFill = 0xFFF7F8FA;
constexpr uint32_t kPrimaryPressed = 0xFF1E40AF;
constexpr uint32_t kSecondaryHoverFill = 0xFFEFF5FF;
constexpr uint32_t kSecondaryPressedFill = 0xFFDCE8FE;
constexpr uint32_t kFocusRing = 0xFF2563EB;  // kPrimary
constexpr uint32_t kWindowEdge = 0xFFC9CED6;  // also the switch while off
constexpr uint32_t kSectionRule = 0xFFE5E8ED;
constexpr uint32_t kSwitchOff = 0xFFC9CED6;
constexpr uint32_t kSwitchOffHover = 0xFFB4BBC6;

// Text colours, #RRGGBB.
constexpr uint32_t kTextPrimary = 0x1D2129;
constexpr uint32_t kTextSecondary = 0x4E5969;
constexpr uint32_t kTextTertiary = 0x86909C;
constexpr uint32_t kTextDisabled = 0xB2BAC6;
constexpr uint32_t kTextSubtitle = 0xE2E0FF;
constexpr uint32_t kTextPillIdle = 0xEBEEFF;
constexpr uint32_t kTextSearchPlaceholder = 0xC6DDFB;
constexpr uint32_t kTextWarning = 0xD67415;
constexpr uint32_t kTextAccent = 0x2563EB;
constexpr uint32_t kTextSuccess = 0x00B42A;
constexpr uint32_t kTextError = 0xF53F3F;
constexpr uint32_t kTextWhite = 0xFFFFFF;

}  // namespace palette

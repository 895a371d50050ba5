#include "render/overlay_painter.h"

#include "render/app_icon.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/resource_images.h"
#include "render/state_texts.h"

uint32_t toastColour(int kind) {
    if (kind == ToastSuccess) return palette::kToastSuccess;
    if (kind == ToastError) return palette::kToastError;
    return palette::kToastNeutral;
}

namespace {

// A batch's summary: the program's logo, the count, and what was skipped and what failed.
void drawSummaryNotice(PaintContext& ctx, int w, int h) {
    const AppState& app = ctx.app;
    Canvas& canvas = ctx.canvas;
    // The master picture drawn at the icon's size in pixels.
    const RECT place = layout::noticeIcon(w, h);
    const RECT icon = canvas.pictureBox(place.left, place.top, layout::kNoticeIconSize);
    if (gp::GpImage* logo = logoImage()) {
        canvas.note(gp::GdipDrawImageRectI(canvas.graphics(), logo, icon.left, icon.top, icon.right - icon.left,
                                           icon.bottom - icon.top));
    }
    const bool oneLine = app.noticeSkipped.empty() || app.noticeFailed.empty();
    const int top = oneLine ? h - 91 : h - 96;
    canvas.drawText(app.noticeText, {w - 286, top, w - 34, top + 24}, FontCardTitle, palette::kTextPrimary, kTextLeftCut);
    if (oneLine) {
        const bool skipped = !app.noticeSkipped.empty();
        const std::wstring& line = skipped ? app.noticeSkipped : app.noticeFailed;
        const std::wstring text = line.empty() ? std::wstring(L"全部完成") : line;
        canvas.drawText(text, {w - 286, h - 61, w - 34, h - 37}, FontBody,
                        line.empty() ? palette::kTextSuccess : skipped ? palette::kTextWarning : palette::kTextError,
                        kTextLeftCut);
        return;
    }
    canvas.drawText(app.noticeSkipped, {w - 286, h - 70, w - 34, h - 50}, FontBody, palette::kTextWarning, kTextLeftCut);
    canvas.drawText(app.noticeFailed, {w - 286, h - 48, w - 34, h - 30}, FontBody, palette::kTextError, kTextLeftCut);
}

// The notice card at the bottom right, over everything.
void drawNoticeCard(PaintContext& ctx, int w, int h) {
    const AppState& app = ctx.app;
    Canvas& canvas = ctx.canvas;
    const RECT card = layout::noticeCard(w, h);
    fillRoundRect(canvas, card, 10, palette::kNoticeFill);
    strokeRoundRect(canvas, card, 10, palette::kNoticeBorder, 1.0f);
    if (app.noticeIsSummary) return drawSummaryNotice(ctx, w, h);
    // Tasks are keyed by app id, so the notice's task id finds the app.
    drawAppIcon(ctx, app.catalogue.findApp(app.noticeTaskId), layout::noticeIcon(w, h));
    NoticeFacts facts;
    facts.verified = app.noticeVerified;
    facts.isArchive = app.noticeIsArchive;
    facts.unverified = app.noticeUnverified;
    facts.signature = app.noticeSignature;
    facts.publisher = app.noticePublisher;
    facts.silent = app.noticeSilent;
    facts.installStarted = app.noticeInstallStarted;
    facts.publisherRefused = app.noticePublisherRefused;
    const ColouredText status = noticeStatusLine(facts);
    const ColouredText publisher = noticePublisherLine(facts);
    if (publisher.text.empty()) {
        canvas.drawText(app.noticeText, {w - 286, h - 91, w - 34, h - 67}, FontCardTitle, palette::kTextPrimary,
                        kTextLeftCut);
        canvas.drawText(status.text, {w - 286, h - 61, w - 34, h - 37}, FontBody, status.rgb, kTextLeftCut);
    } else {
        // An installer's notice names who signed it on a third, smaller line.
        canvas.drawText(app.noticeText, {w - 286, h - 96, w - 34, h - 72}, FontCardTitle, palette::kTextPrimary,
                        kTextLeftCut);
        canvas.drawText(status.text, {w - 286, h - 70, w - 34, h - 50}, FontBody, status.rgb, kTextLeftCut);
        canvas.drawText(publisher.text, {w - 286, h - 48, w - 34, h - 30}, FontSmall, publisher.rgb, kTextLeftCut);
    }
}

constexpr const wchar_t* kCardMenuLabels[kCardMenuItemCount] = {L"卸载", L"打开下载目录"};
constexpr int kCardMenuRadius = 8;

RECT grown(const RECT& rect, int by, int down) {
    return {rect.left - by, rect.top - by + down, rect.right + by, rect.bottom + by + down};
}

}  // namespace

void paintCardMenu(PaintContext& ctx) {
    const CardMenu& menu = ctx.app.cardMenu;
    if (!menu.open) return;
    Canvas& canvas = ctx.canvas;
    // High contrast has no shadows, and marks the chosen item with the highlight as the system's menus do.
    const bool contrast = canvas.look().contrast.has_value();
    // A soft shadow a little below the panel: rings that fade outwards.
    for (int ring = 6; ring >= 1 && !contrast; ring -= 1)
        fillRoundRect(canvas, grown(menu.panel, ring, 2), kCardMenuRadius + ring, palette::kMenuShadow);
    fillRoundRect(canvas, menu.panel, kCardMenuRadius, palette::kWhite);
    strokeRoundRect(canvas, menu.panel, kCardMenuRadius, palette::kCardBorder, 1.0f);
    for (int i = 0; i < kCardMenuItemCount; ++i) {
        const RECT item = layout::cardMenuItem(menu.panel, i);
        const bool chosen = ctx.hovered(HitKind::MenuItem, i) || menu.focusedItem == i;
        if (chosen) fillRoundRect(canvas, item, 6, contrast ? palette::kPrimary : palette::kNeutralFill);
        canvas.drawText(kCardMenuLabels[i], {item.left + 12, item.top, item.right - 8, item.bottom}, FontBody,
                        chosen && contrast ? palette::kTextWhite : palette::kTextPrimary, kTextLeftCut);
    }
}

void paintToast(PaintContext& ctx) {
    const AppState& app = ctx.app;
    if (!toastShown(app, ctx.inputs.now)) return;
    const RECT banner = layout::toast(ctx.w);
    fillRoundRect(ctx.canvas, banner, 20, toastColour(app.toastKind));
    ctx.canvas.drawText(app.toastText, banner, FontToast, palette::kTextWhite, kTextCentredCut);
}

void paintNotice(PaintContext& ctx) {
    if (noticeShown(ctx.app, ctx.inputs.now)) drawNoticeCard(ctx, ctx.w, ctx.h);
}

void paintFocusRing(PaintContext& ctx) {
    const KeyboardFocus& focus = ctx.app.focus;
    if (::IsRectEmpty(&focus.ring)) return;
    // One pixel clear of the item, so the ring never covers it nor merges with a button of its colour.
    const RECT ring = grown(focus.ring, kFocusRingWidth, 0);
    const ClipScope clip(ctx.canvas, focus.ringClip);
    const uint32_t colour = focus.ringOnHeader ? palette::kWhite : palette::kPrimary;
    strokeRoundRect(ctx.canvas, ring, focus.ringRadius + kFocusRingWidth, colour, static_cast<float>(kFocusRingWidth));
}

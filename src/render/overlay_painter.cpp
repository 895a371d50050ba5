#include "render/overlay_painter.h"

#include "render/app_icon.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/state_texts.h"

uint32_t toastColour(int kind) {
    if (kind == ToastSuccess) return palette::kToastSuccess;
    if (kind == ToastError) return palette::kToastError;
    return palette::kToastNeutral;
}

void paintToast(PaintContext& ctx) {
    AppState& app = ctx.app;
    if (app.toastText.empty()) return;
    // Unsigned difference, so a tick-count wrap between set and paint is harmless.
    if (static_cast<DWORD>(ctx.inputs.now - app.toastTick) >= kToastLifetimeMs) {
        app.toastText.clear();
        return;
    }
    const RECT banner = layout::toast(ctx.w);
    FillRoundRect(ctx.canvas, banner, 20, toastColour(app.toastKind));
    ctx.canvas.drawText(app.toastText, banner, FontToast, palette::kTextWhite, kTextCentredCut);
}

void paintNotice(PaintContext& ctx) {
    AppState& app = ctx.app;
    if (app.noticeText.empty()) return;
    if (static_cast<DWORD>(ctx.inputs.now - app.noticeTick) >= kNoticeLifetimeMs) {
        app.noticeText.clear();
        return;
    }
    DrawNoticeCard(ctx, ctx.w, ctx.h);
}

void DrawNoticeCard(PaintContext& ctx, int w, int h) {
    AppState& app = ctx.app;
    Canvas& canvas = ctx.canvas;
    const RECT card = layout::noticeCard(w, h);
    FillRoundRect(canvas, card, 10, palette::kNoticeFill);
    StrokeRoundRect(canvas, card, 10, palette::kNoticeBorder, 1.0f);
    // Tasks are keyed by app id, so the notice's task id finds the app.
    DrawAppIcon(ctx, app.catalog.FindApp(app.noticeTaskId), {w - 342, h - 84, w - 298, h - 40});
    canvas.drawText(app.noticeText, {w - 286, h - 91, w - 34, h - 67}, FontCardTitle, palette::kTextPrimary,
                    kTextLeftCut);
    const ColouredText status = noticeStatusLine(app.noticeVerified, app.noticeIsArchive);
    canvas.drawText(status.text, {w - 286, h - 61, w - 34, h - 37}, FontBody, status.rgb, kTextLeftCut);
    ctx.record(card, HitKind::Notice);
}

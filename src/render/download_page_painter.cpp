#include "render/download_page_painter.h"

#include "render/app_icon.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/state_texts.h"

namespace {

constexpr int kHeaderButtonRadius = 13;
constexpr int kRowButtonRadius = 15;

struct OutlineLook {
    uint32_t border;
    uint32_t labelRgb;
};

OutlineLook outlineLook(bool hovered) {
    if (hovered) return {palette::kOutlineHover, palette::kTextAccent};
    return {palette::kCardBorder, palette::kTextSecondary};
}

void drawOutlinedButton(Canvas& canvas, const RECT& rect, int radius, const wchar_t* label, OutlineLook look) {
    fillRoundRect(canvas, rect, radius, palette::kWhite);
    strokeRoundRect(canvas, rect, radius, look.border, 1.0f);
    canvas.drawText(label, rect, FontButton, look.labelRgb, kTextCentred);
}

void drawPrimaryButton(Canvas& canvas, const RECT& rect, int radius, const wchar_t* label) {
    fillRoundRect(canvas, rect, radius, palette::kPrimary);
    canvas.drawText(label, rect, FontButton, palette::kTextWhite, kTextCentred);
}

void paintPageHeader(PaintContext& ctx, int w) {
    Canvas& canvas = ctx.canvas;
    canvas.drawText(downloadPageHeading(ctx.inputs.tasks.size()), {224, 82, w - 200, 116}, FontSectionTitle,
                    palette::kTextPrimary, kTextLeft);

    // The outline of "清除已完成" never changes; only its label follows the hover.
    const RECT clear = layout::clearCompletedButton(w);
    drawOutlinedButton(canvas, clear, kHeaderButtonRadius, L"清除已完成",
                       {palette::kCardBorder, outlineLook(ctx.hovered(HitKind::ClearCompleted)).labelRgb});

    canvas.drawText(L"下载目录：", {224, 122, 300, 146}, FontSmall, palette::kTextSecondary, kTextLeft);
    canvas.drawText(ctx.inputs.downloadDirectory, {300, 122, w - 250, 146}, FontSmall, palette::kTextTertiary,
                    kTextPath);

    const RECT open = layout::openDirButton(w);
    drawOutlinedButton(canvas, open, kHeaderButtonRadius, L"打开目录", outlineLook(ctx.hovered(HitKind::OpenDir)));
    const RECT change = layout::changeDirButton(w);
    drawOutlinedButton(canvas, change, kHeaderButtonRadius, L"修改目录", outlineLook(ctx.hovered(HitKind::ChangeDir)));
}

void paintProgressBar(Canvas& canvas, const TaskSnapshot& task, int w, int b) {
    const RECT track = layout::rowProgressTrack(w, b);
    fillRoundRect(canvas, track, 3, palette::kRowTrack);
    // In high contrast the track is the window colour: its outline shows how far the bar has to go.
    if (canvas.look().contrast) strokeRoundRect(canvas, track, 3, palette::kRowBorder, 1.0f);
    switch (downloadRowBarFill(task)) {
        case RowBarFill::Progress: {
            const int percent = progressPercent(task.receivedBytes, task.size);
            const int right = downloadRowProgressRight(w, percent);
            if (percent > 0 && right > track.left) fillRoundRect(canvas, {track.left, track.top, right, track.bottom}, 3, palette::kPrimary);
            break;
        }
        case RowBarFill::Finished: fillRoundRect(canvas, track, 3, palette::kSuccess); break;
        case RowBarFill::Failed: fillRoundRect(canvas, track, 3, palette::kFailedBar); break;
        case RowBarFill::None: break;
    }
}

RowFaceKey rowFaceKey(const PaintContext& ctx, const TaskSnapshot& task, const AppInfo* app, int w) {
    RowFaceKey key;
    key.w = w;
    const int iconPixels = ctx.canvas.scale().length(layout::kRowIconSize);
    key.icon = app ? static_cast<int64_t>(iconStamp(ctx.app, *app, iconPixels)) : -1;
    key.title = downloadRowTitle(task);
    key.buttons = downloadRowButtons(task, listsTaskPackage(app, task));
    return key;
}

// What does not move while the task runs: the card, the icon, the title and the buttons.
void paintRowFace(PaintContext& ctx, const AppInfo* app, const RowFaceKey& key, int w, int b) {
    Canvas& canvas = ctx.canvas;
    const RECT row = layout::downloadRowAt(w, b);
    fillRoundRect(canvas, row, 10, palette::kWhite);
    strokeRoundRect(canvas, row, 10, palette::kRowBorder, 1.0f);
    drawAppIcon(ctx, app, layout::downloadRowIcon(b));
    canvas.drawText(key.title.text, {298, b - 46, w - 260, b - 22}, FontCardTitle, key.title.rgb, kTextLeftCut);
    for (const RowButton& button : key.buttons) {
        const RECT rect = layout::rowButton(button.slot, w, b);
        if (button.primary) {
            drawPrimaryButton(canvas, rect, kRowButtonRadius, button.label);
        } else {
            drawOutlinedButton(canvas, rect, kRowButtonRadius, button.label, outlineLook(false));
        }
    }
}

// A row face spans the client's width and the row's height with one pixel to spare above and below.
constexpr int kRowFaceMargin = 1;
constexpr int kRowFaceBase = 58 + kRowFaceMargin;
constexpr int kRowFaceHeight = 86 + 2 * kRowFaceMargin;

void paintRow(PaintContext& ctx, const TaskSnapshot& task, int w, int k, FaceCache<RowFaceKey>& faces) {
    const int b = layout::downloadRowBase(k);
    const RECT row = layout::downloadRow(w, k);
    if (row.top >= ctx.h) return;  // below the window: never seen
    const AppInfo* app = ctx.app.catalogue.findApp(task.appId);
    const RowFaceKey key = rowFaceKey(ctx, task, app, w);
    const CanvasLook& look = ctx.canvas.look();
    const auto face = faces.find(task.appId, key, look.scale.span(w + 1), look.scale.span(kRowFaceHeight));
    if (!face.surface) {
        paintRowFace(ctx, app, key, w, b);
    } else {
        // The face spans the client's width from its left edge, from one unit above the row.
        const POINT origin{0, row.top - kRowFaceMargin};
        if (!face.current) {
            fillBackground(*face.surface, look.background(palette::kWindowBackground));
            Canvas canvas(face.surface->dc(), face.surface->pixels(), ctx.app.uiFonts, look);
            canvas.setOrigin(origin);
            PaintContext local{ctx.app, canvas, ctx.inputs, ctx.w, ctx.h};
            paintRowFace(local, app, key, w, kRowFaceBase);
        }
        ctx.canvas.flush();
        const RECT place{row.left - 1, origin.y, row.right + 1, origin.y + kRowFaceHeight};
        ctx.canvas.copyFrom(face.surface->dc(), {face.surface->width(), face.surface->height()}, origin, place);
    }
    paintProgressBar(ctx.canvas, task, w, b);
    ColouredText status = downloadRowStatus(task);
    // Its app would not close for the update: the row says what the user must do first.
    if (ctx.app.waitingForClose.count(task.appId) && installable(task.state))
        status = {L"请先关闭「" + task.name + L"」", palette::kTextError};
    ctx.canvas.drawText(status.text, {298, b - 2, w - 260, b + 18}, FontRowStatus, status.rgb, kTextLeftCut);
}

}  // namespace

int downloadRowProgressRight(int w, int percent) { return 298 + (w - 558) * percent / 100; }

void paintDownloadPage(PaintContext& ctx, FaceCache<RowFaceKey>& faces) {
    const int w = ctx.w;
    paintPageHeader(ctx, w);
    if (ctx.inputs.tasks.empty()) {
        ctx.canvas.drawText(L"暂无下载任务，去首页挑几款软件吧", {200, 214, w, 284}, FontBody, palette::kTextTertiary,
                            kTextCentred);
        return;
    }
    // A face for every row the window shows: a tall one shows more than the cache first held.
    size_t shown = 0;
    while (shown < ctx.inputs.tasks.size() && layout::downloadRow(w, static_cast<int>(shown)).top < ctx.h) ++shown;
    faces.reserve(shown);
    int k = 0;
    for (const auto& entry : ctx.inputs.tasks) paintRow(ctx, entry.second, w, k++, faces);
}

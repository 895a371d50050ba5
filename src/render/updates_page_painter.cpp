#include "render/updates_page_painter.h"

#include "render/app_grid_painter.h"
#include "render/app_icon.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/state_texts.h"

namespace {

constexpr int kHeaderButtonRadius = 13;
constexpr int kRowButtonRadius = 15;

void paintPageHeader(PaintContext& ctx, size_t count) {
    Canvas& canvas = ctx.canvas;
    const int w = ctx.w;
    canvas.drawText(updatesPageHeading(count), {224, 82, w - 200, 116}, FontSectionTitle, palette::kTextPrimary,
                    kTextLeft);
    const RECT all = layout::updateAllButton(w);
    if (ctx.app.batch.active()) {
        // While a batch runs, its place says 停止: the batch ends after the installer that runs.
        const bool hovered = ctx.hovered(HitKind::StopBatch);
        const bool stopping = ctx.app.batch.stopping;
        fillRoundRect(canvas, all, kHeaderButtonRadius, hovered && !stopping ? palette::kNeutralFill : palette::kWhite);
        strokeRoundRect(canvas, all, kHeaderButtonRadius, palette::kCardBorder, 1.0f);
        canvas.drawText(stopping ? L"正在停止" : L"停止", all, FontButton,
                        stopping ? palette::kTextTertiary : palette::kTextSecondary, kTextCentred);
    }
    if (count == 0) return;
    const wchar_t* subtitle = ctx.app.config.silentInstall ? L"升级会下载新版本并自动安装"
                                                           : L"升级会下载新版本的安装包，安装向导逐个打开";
    canvas.drawText(subtitle, {224, 122, w - 24, 146}, FontSmall,
                    palette::kTextTertiary, kTextLeftCut);
    if (ctx.app.batch.active()) return;
    fillRoundRect(canvas, all, kHeaderButtonRadius,
                  ctx.hovered(HitKind::UpdateAll) ? palette::kUpdateHover : palette::kUpdate);
    canvas.drawText(L"全部升级", all, FontButton, palette::kTextWhite, kTextCentred);
}

// A row shaped like a download row: icon, name, versions and size, and the card's own button.
void paintRow(PaintContext& ctx, const AppInfo& app, int base) {
    Canvas& canvas = ctx.canvas;
    const int w = ctx.w;
    const RECT row = layout::downloadRowAt(w, base);
    fillRoundRect(canvas, row, 10, palette::kWhite);
    strokeRoundRect(canvas, row, 10, palette::kRowBorder, 1.0f);
    drawAppIcon(ctx, &app, layout::downloadRowIcon(base));
    const RECT button = layout::updateRowButton(w, base);
    canvas.drawText(app.name, {298, base - 44, button.left - 16, base - 20}, FontCardTitle, palette::kTextPrimary,
                    kTextLeftCut);
    const InstallStatus* installed = installStatusOf(ctx.app, app.id);
    const std::wstring detail = updateRowDetail(installed ? installed->registration.displayVersion : std::wstring(),
                                                app.version, app.packageSize, app.updatedAt);
    canvas.drawText(detail, {298, base - 12, button.left - 16, base + 8}, FontRowStatus, palette::kTextTertiary,
                    kTextLeftCut);
    const CardButtonLook look =
        cardButtonFor(app, ctx.taskFor(app.id), ctx.hovered(HitKind::UpdateRow, app.id), InstalledLook::Updatable);
    paintCardButton(canvas, look, button, kRowButtonRadius);
}

}  // namespace

void paintUpdatesPage(PaintContext& ctx) {
    const AppState& app = ctx.app;
    const std::vector<size_t> apps = updatableApps(app);
    paintPageHeader(ctx, apps.size());
    if (apps.empty()) {
        const wchar_t* text = app.installed.everRead ? L"所有软件都是最新版本" : L"正在检查已安装的软件...";
        ctx.canvas.drawText(text, {200, 214, ctx.w, 284}, FontBody, palette::kTextTertiary, kTextCentred);
        return;
    }
    const layout::UpdateListView view = layout::updateListView(ctx.w, ctx.h, static_cast<int>(apps.size()));
    {
        ClipScope clip(ctx.canvas, view.clip);
        for (size_t k = 0; k < apps.size(); ++k) {
            const int base = layout::updateRowBase(static_cast<int>(k), app.contentScroll);
            if (layout::updateRowShown(view, base)) paintRow(ctx, app.catalogue.apps[apps[k]], base);
        }
    }
    const bool active = app.dragBar == ScrollBarId::Content || app.pageRepeatBar == ScrollBarId::Content;
    drawScrollBar(ctx.canvas, app.contentScrollBar, active);
}

#include "render/app_grid_painter.h"

#include <algorithm>

#include "render/app_icon.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/state_texts.h"

namespace {

constexpr wchar_t kCommonCategoryName[] = L"常用软件";

// Cards of the common category show names without versions; search results always show versions.
bool namesOnly(const AppState& app) { return !searching(app) && selectedCategoryName(app) == kCommonCategoryName; }

// The name line of a card: the name alone, or the name and "v" + version side by side.
void drawCardNameLine(PaintContext& ctx, const AppInfo& app, const RECT& card, bool nameOnly) {
    Canvas& canvas = ctx.canvas;
    const int x = card.left, y = card.top, cx2 = card.right;
    const RECT line{x + 8, y + 104, cx2 - 8, y + 128};
    if (nameOnly || app.version.empty()) {
        canvas.drawText(app.name, line, FontCardTitle, palette::kTextPrimary, kTextCentredCut);
        return;
    }
    const std::wstring label = L"v" + app.version;
    if (app.name.empty()) {
        canvas.drawText(label, line, FontCardTitle, palette::kTextPrimary, kTextCentredCut);
        return;
    }
    const int nw = canvas.textExtent(app.name, FontCardTitle);
    const int vw = canvas.textExtent(label, FontCardTitle);
    const int total = nw + 5 + vw;
    const int room = (cx2 - x) - 16;
    if (total > room) {
        // Only the name is cut; the version keeps its place at the right.
        canvas.drawText(label, {cx2 - 8 - vw, y + 104, cx2 - 8, y + 128}, FontCardTitle, palette::kTextPrimary,
                        kTextLeft);
        canvas.drawText(app.name, {x + 8, y + 104, cx2 - 8 - vw - 5, y + 128}, FontCardTitle, palette::kTextPrimary,
                        kTextLeftCut);
        return;
    }
    const int start = x + 8 + (room - total) / 2;
    canvas.drawText(app.name, {start, y + 104, start + nw, y + 128}, FontCardTitle, palette::kTextPrimary, kTextLeft);
    canvas.drawText(label, {start + nw + 5, y + 104, cx2 - 8, y + 128}, FontCardTitle, palette::kTextPrimary,
                    kTextLeft);
}

// Everything of a card that is not the same on every card of its width and hover.
void paintCardContent(PaintContext& ctx, const AppInfo& app, const CardFaceKey& key, const RECT& card) {
    Canvas& canvas = ctx.canvas;
    const int x = card.left, y = card.top, cx2 = card.right;
    drawAppIcon(ctx, &app, layout::cardIcon(card));
    drawCardNameLine(ctx, app, card, key.nameOnly);
    canvas.drawText(app.description, {x + 8, y + 130, cx2 - 8, y + 150}, FontBody, palette::kTextTertiary,
                    kTextCentredCut);
    if (!key.meta.empty()) {
        canvas.drawText(key.meta, {x + 8, y + 152, cx2 - 8, y + 172}, FontSmall, palette::kTextTertiary,
                        kTextCentredCut);
    }
    paintCardButton(ctx.canvas, key.button, layout::cardButton(card));
}

// The white card, its border and the divider above the button.
void paintCardChrome(Canvas& canvas, const RECT& card, bool hovered) {
    const int x = card.left, y = card.top, cx2 = card.right;
    fillRoundRect(canvas, card, 10, palette::kWhite);
    strokeRoundRect(canvas, card, 10, hovered ? palette::kCardBorderHover : palette::kCardBorder, 1.0f);
    canvas.drawLine(static_cast<float>(x + 18), static_cast<float>(y + 180), static_cast<float>(cx2 - 18),
                    static_cast<float>(y + 180), {palette::kCardBorder, 1.0f});
}

// A face holds the card with one pixel of background around it: strokes reach past the edges.
constexpr int kFaceMargin = 1;
constexpr int kFaceHeight = layout::kCardHeight + 2 * kFaceMargin;
// Icons arrive in bursts and scaling one costs milliseconds: past this time a paint shows the cards
// whose icon just arrived as they were, and the window paints again for them.
constexpr double kNewIconsWhileUnderMs = 3.0;

struct GridPass {
    double start = 0;
    int drawn = 0;          // faces drawn by this paint
    bool deferred = false;  // some card still shows its face from before its icon arrived
};

double milliseconds() {
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

RECT faceCard(int width) { return {kFaceMargin, kFaceMargin, kFaceMargin + width, kFaceMargin + layout::kCardHeight}; }

// The pixels of a face for a card width units wide, drawn at the caches' scale.
SIZE facePixels(const PaintCaches& caches, int width) {
    return {caches.look.scale.span(width + 2 * kFaceMargin), caches.look.scale.span(kFaceHeight)};
}

// Where a card's face lies in the window: its top-left corner, one unit out from the card's.
POINT faceOrigin(const RECT& card) { return {card.left - kFaceMargin, card.top - kFaceMargin}; }

// The fraction of a pixel the face's corner lies at: a face is drawn for it (0 at 96 DPI).
int facePhase(const qb::DpiScale& scale, POINT origin) {
    return scale.phase(origin.x) * qb::kBaseDpi + scale.phase(origin.y);
}

constexpr size_t kCardChromesKept = 8;  // two looks at the few phases of one grid

const DibSurface* cardChrome(const AppState& app, int width, bool hovered, POINT origin, PaintCaches& caches) {
    const int phase = facePhase(caches.look.scale, origin);
    for (const auto& kept : caches.cardChromes)
        if (kept->width == width && kept->hovered == hovered && kept->phase == phase) return &kept->surface;
    if (caches.cardChromes.size() >= kCardChromesKept) caches.cardChromes.erase(caches.cardChromes.begin());
    auto made = std::make_unique<PaintCaches::CardChrome>();
    const SIZE pixels = facePixels(caches, width);
    if (!made->surface.ensure(pixels.cx, pixels.cy)) return nullptr;
    made->width = width, made->hovered = hovered, made->phase = phase;
    fillBackground(made->surface, caches.look.background(palette::kWindowBackground));
    Canvas canvas(made->surface.dc(), made->surface.pixels(), app.uiFonts, caches.look);
    canvas.setOrigin(origin);
    paintCardChrome(canvas, faceCard(width), hovered);
    caches.cardChromes.push_back(std::move(made));
    return &caches.cardChromes.back()->surface;
}

// The face of a card showing key whose face lies at origin, drawn now unless the cache holds it; null
// when none can be made.
const DibSurface* cardFace(PaintContext& ctx, const AppInfo& app, const CardFaceKey& key, POINT origin,
                           PaintCaches& caches) {
    const SIZE pixels = facePixels(caches, key.width);
    const auto face = caches.cards.find(app.id, key, pixels.cx, pixels.cy);
    if (!face.surface || face.current) return face.surface;
    const DibSurface* chrome = cardChrome(ctx.app, key.width, key.hovered, origin, caches);
    if (!chrome) return nullptr;
    ::BitBlt(face.surface->dc(), 0, 0, chrome->width(), chrome->height(), chrome->dc(), 0, 0, SRCCOPY);
    Canvas canvas(face.surface->dc(), face.surface->pixels(), ctx.app.uiFonts, caches.look);
    canvas.setOrigin(origin);
    PaintContext local{ctx.app, canvas, ctx.inputs, ctx.w, ctx.h};
    paintCardContent(local, app, key, faceCard(key.width));
    return face.surface;
}

// Copies the card's face into the back buffer, or draws the card there when no face can be made.
// A face that differs only by a newly arrived icon waits for a later paint once this one has drawn
// a face and run out of time.
const DibSurface* faceAsItWas(const AppInfo& app, const CardFaceKey& key, PaintCaches& caches, GridPass& pass) {
    if (pass.drawn == 0 || milliseconds() < pass.start + kNewIconsWhileUnderMs) return nullptr;
    const CardFaceKey* shown = caches.cards.shown(app.id);
    if (!shown || *shown == key || !shown->sameButIcon(key)) return nullptr;
    const SIZE pixels = facePixels(caches, key.width);
    const DibSurface* face = caches.cards.asItIs(app.id, pixels.cx, pixels.cy);
    pass.deferred = pass.deferred || face;
    return face;
}

void paintCardFace(PaintContext& ctx, const AppInfo& app, const RECT& card, bool nameOnly, PaintCaches& caches,
                   GridPass& pass) {
    const POINT origin = faceOrigin(card);
    CardFaceKey key = cardFaceKey(ctx, app, card.right - card.left, nameOnly);
    key.phase = facePhase(caches.look.scale, origin);
    const DibSurface* face = nullptr;
    if (!ctx.withoutFaces) {
        face = faceAsItWas(app, key, caches, pass);
        if (!face) {
            pass.drawn += caches.cards.holds(app.id, key) ? 0 : 1;
            face = cardFace(ctx, app, key, origin, caches);
        }
    }
    if (!face) {
        paintCardChrome(ctx.canvas, card, key.hovered);
        paintCardContent(ctx, app, key, card);
        return;
    }
    const RECT place{origin.x, origin.y, card.right + kFaceMargin, card.bottom + kFaceMargin};
    ctx.canvas.copyFrom(face->dc(), {face->width(), face->height()}, origin, place);
}

// The app's task as its card shows it: the task that installed what was uninstalled since is over.
const TaskSnapshot* cardTask(const AppState& app, const TaskMap& tasks, int32_t appId) {
    const auto found = tasks.find(appId);
    const TaskSnapshot* task = found == tasks.end() ? nullptr : &found->second;
    const auto uninstalled = app.installed.uninstalledTasks.find(appId);
    if (task && uninstalled != app.installed.uninstalledTasks.end() && uninstalled->second == task->generation)
        return nullptr;
    return task;
}

}  // namespace

void paintCardButton(Canvas& canvas, const CardButtonLook& look, const RECT& button, int radius) {
    fillRoundRect(canvas, button, radius, look.fill);
    if (look.showsProgress && look.percent > 0) {
        // One pixel of the 100-pixel button stands for one percent. The fill is the button's own shape
        // cut at the percent, so it grows steadily: a rounded rectangle narrower than its corners would
        // bulge past its width.
        const ClipScope clip(canvas, {button.left, button.top, button.left + look.percent, button.bottom});
        fillRoundRect(canvas, button, radius, palette::kCardProgress);
    }
    if (!canvas.look().contrast || !look.showsProgress || look.percent <= 0)
        return canvas.drawText(look.label, button, FontButton, look.labelRgb, kTextCentred);
    // In high contrast the filled part is the highlight: the label takes the highlight's text colour over it.
    const LONG split = button.left + look.percent;
    {
        const ClipScope clip(canvas, {split, button.top, button.right, button.bottom});
        canvas.drawText(look.label, button, FontButton, look.labelRgb, kTextCentred);
    }
    const ClipScope clip(canvas, {button.left, button.top, split, button.bottom});
    canvas.drawText(look.label, button, FontButton, palette::kTextWhite, kTextCentred);
}

bool prepareCardFaces(PaintContext& ctx, const std::vector<size_t>& apps, PaintCaches& caches, double budgetMs,
                      bool& shownChanged) {
    const double deadline = milliseconds() + budgetMs;
    const layout::GridView view = layout::gridView(ctx.w, ctx.h, static_cast<int>(apps.size()));
    // A face for every card shown or near: drawing a near one never pushes out a shown one, which
    // would be drawn again on the next pass, for ever.
    caches.cards.reserve(static_cast<size_t>(layout::cardsNearViewAtMost(view)));
    const bool nameOnly = namesOnly(ctx.app);
    // The shown cards first (an icon arrived, a button changed), then those below, then those above.
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t i = 0; i < apps.size(); ++i) {
            const RECT card = layout::cardRect(view.columns, static_cast<int>(i), view.clip.top, ctx.app.contentScroll);
            const bool shown = layout::cardShown(view, card);
            if (pass == 0 ? !shown : (shown || !layout::cardNearView(view, card))) continue;
            if (pass > 0 && (card.top >= view.clip.bottom) != (pass == 1)) continue;
            const AppInfo& app = ctx.app.catalogue.apps[apps[i]];
            CardFaceKey key = cardFaceKey(ctx, app, card.right - card.left, nameOnly);
            key.phase = facePhase(caches.look.scale, faceOrigin(card));
            if (caches.cards.holds(app.id, key)) continue;
            if (milliseconds() >= deadline) return true;
            if (cardFace(ctx, app, key, faceOrigin(card), caches) && shown) shownChanged = true;
        }
    }
    return false;
}

CardFaceKey cardFaceKey(const PaintContext& ctx, const AppInfo& app, int width, bool nameOnly) {
    CardFaceKey key;
    key.width = width;
    key.nameOnly = nameOnly;
    key.hovered = ctx.hovered(HitKind::CardAction, app.id);
    key.icon = iconStamp(ctx.app, app, ctx.canvas.scale().length(layout::kIconTileOnCard));
    key.name = app.name;
    key.version = app.version;
    key.description = app.description;
    key.meta = cardMetaLine(app.packageSize, app.updatedAt);
    key.button = cardButtonOf(ctx.app, ctx.inputs.tasks, app, key.hovered);
    return key;
}

CardButtonLook cardButtonOf(const AppState& state, const TaskMap& tasks, const AppInfo& app, bool hovered) {
    const InstalledLook installed = state.installed.uninstalling.count(app.id) ? InstalledLook::Uninstalling
                                    : updateOffered(state, app.id)              ? InstalledLook::Updatable
                                    : installStatusOf(state, app.id) != nullptr ? InstalledLook::Installed
                                                                                : InstalledLook::NotInstalled;
    return cardButtonFor(app, cardTask(state, tasks, app.id), hovered, installed);
}

bool paintAppGrid(PaintContext& ctx, const std::vector<size_t>& apps, const std::wstring& heading,
                  PaintCaches& caches) {
    GridPass pass;
    pass.start = milliseconds();
    const AppState& app = ctx.app;
    const layout::GridView view = layout::gridView(ctx.w, ctx.h, static_cast<int>(apps.size()));
    caches.cards.reserve(static_cast<size_t>(layout::cardsNearViewAtMost(view)));
    ctx.canvas.drawText(heading, layout::contentHeading(ctx.w), FontSectionTitle, palette::kTextPrimary, kTextLeft);

    const bool nameOnly = namesOnly(app);
    {
        ClipScope clip(ctx.canvas, view.clip);
        ctx.canvas.flush();  // faces are copied in with GDI
        for (size_t i = 0; i < apps.size(); ++i) {
            const RECT card = layout::cardRect(view.columns, static_cast<int>(i), view.clip.top, app.contentScroll);
            if (!layout::cardShown(view, card)) continue;
            paintCardFace(ctx, app.catalogue.apps[apps[i]], card, nameOnly, caches, pass);
        }
    }
    const bool active = app.dragBar == ScrollBarId::Content || app.pageRepeatBar == ScrollBarId::Content;
    drawScrollBar(ctx.canvas, app.contentScrollBar, active);
    return !pass.deferred;
}

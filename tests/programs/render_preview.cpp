// Renders the main window off-screen from a catalogue folder and writes PNG pictures of it:
//   render_preview.exe <catalogue folder> <output folder> [width height]
// The catalogue is read from its catalogue.json and icons straight from the folder, so no service
// is needed; download tasks in several states are made up for the picture.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "model/app_state.h"
#include "base/text_convert.h"
#include "json/json.h"
#include "render/category_icons.h"
#include "render/frame_update.h"
#include "render/gdiplus_api.h"
#include "render/layout.h"
#include "render/main_window_painter.h"
#include "render/paint_cache.h"
#include "service/icon_decode.h"
#include "support/paint_surface.h"

namespace {

std::string readFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Decoded the way the program's icon workers do it, at each size the painters draw icons at: the
// card tile, the download row and the completion notice.
void loadIcons(IconCache& icons, int32_t appId, const std::wstring& path) {
    const std::string body = readFile(path);
    for (const int size : {layout::kIconTileOnCard, 48, 44}) icons.store(appId, size, decodeIconAtSize(body, size));
}

bool loadCatalogue(const std::wstring& folder, AppState& state) {
    Catalogue& catalogue = state.catalogue;
    json::ValuePtr root = json::parse(readFile(folder + L"\\catalogue.json"));
    if (!root) return false;
    if (const json::Value* categories = root->find("categories")) {
        for (const json::ValuePtr& item : categories->items)
            catalogue.categories.push_back({utf8ToWide(item->find("id")->asString("")),
                                            utf8ToWide(item->find("name")->asString(""))});
    }
    const json::Value* apps = root->find("apps");
    if (!apps) return false;
    catalogue.apps.reserve(apps->items.size());
    for (const json::ValuePtr& item : apps->items) {
        catalogue.apps.push_back(parseAppInfo(*item));
        AppInfo& app = catalogue.apps.back();
        // The service computes these from the package file; the picture makes up a size.
        app.hasPackage = item->find("package") != nullptr;
        app.packageSize = app.hasPackage ? (app.id * 7919LL % 90 + 3) * 1048576 + app.id * 40961LL : 0;
        std::wstring icon = app.icon;
        for (wchar_t& c : icon)
            if (c == L'/') c = L'\\';
        if (!icon.empty()) loadIcons(state.icons, app.id, folder + L"\\" + icon);
    }
    return true;
}

TaskSnapshot task(const AppInfo* app, uint32_t state, int64_t received, int64_t total) {
    TaskSnapshot t;
    t.appId = app ? app->id : 0;
    t.name = app ? app->name : L"?";
    t.state = state;
    t.receivedBytes = received;
    t.size = total;
    return t;
}

PaintInputs makeInputs(Catalogue& catalogue) {
    PaintInputs inputs;
    inputs.now = ::GetTickCount();
    inputs.downloadDirectory = L"C:\\Users\\demo\\Downloads\\Quillbox";
    auto add = [&](int id, uint32_t state, int percent) {
        const AppInfo* app = catalogue.findApp(id);
        const int64_t total = app && app->packageSize > 0 ? app->packageSize : 48 * 1048576LL;
        inputs.tasks[id] = task(app, state, total * percent / 100, total);
        return &inputs.tasks[id];
    };
    TaskSnapshot* downloading = add(1, Downloading, 37);
    downloading->speed = 2 * 1048576 + 314572;
    TaskSnapshot* installed = add(2, Installed, 100);
    installed->signature = SignatureValid;
    installed->publisher = L"星河软件有限公司";
    TaskSnapshot* retrying = add(3, Downloading, 62);
    retrying->speed = 183 * 1024;
    retrying->retryCount = 2;
    TaskSnapshot* failed = add(4, Failed, 12);
    add(5, Paused, 45);
    add(20, Paused, 45);
    failed->error.fault = DownloadFault::ServiceTrouble;
    TaskSnapshot* unverified = add(6, Completed, 100);
    unverified->signature = SignatureUnsigned;
    unverified->unverified = true;
    TaskSnapshot* mismatch = add(9, Completed, 100);
    mismatch->md5Ok = false;
    TaskSnapshot* archive = add(12, Completed, 100);
    archive->isArchive = true;
    add(10, InstallCancelled, 100);
    add(11, Completed, 100)->signature = SignatureBroken;
    add(14, Cancelled, 20);
    add(7, Verifying, 100);
    return inputs;
}

// Every category pictogram at sidebar size and enlarged, plain and highlighted.
bool renderIconSheet(AppState& app, const std::wstring& path) {
    qbtest::PaintSurface surface(20 * 90, 2 * 120);
    RECT all = surface.client();
    HBRUSH white = ::CreateSolidBrush(RGB(255, 255, 255));
    ::FillRect(surface.dc(), &all, white);
    ::DeleteObject(white);
    {
        Canvas canvas(surface.dc(), PixelBuffer{surface.bits(), surface.width(), surface.height()}, app.uiFonts);
        for (int kind = 0; kind < kCategoryIconCount; ++kind) {
            for (int highlighted = 0; highlighted < 2; ++highlighted) {
                const int x = kind * 90 + 10, y = highlighted * 120 + 10;
                uint32_t colour = categoryIconColour(kind);
                if (highlighted) colour = darkenedIconColour(colour);
                drawCategoryIcon(canvas, kind, {x, y, x + 20, y + 20}, colour, highlighted != 0);
                drawCategoryIcon(canvas, kind, {x, y + 30, x + 80, y + 110}, colour, highlighted != 0);
            }
        }
    }
    return surface.savePng(path);
}

bool render(AppState& app, const PaintInputs& inputs, int w, int h, const std::wstring& path) {
    static PaintCaches caches;  // one set for all pictures, as the window keeps it between paints
    qbtest::PaintSurface surface(w, h);
    updateFrame(app, inputs, w, h);
    paintMainWindowWith(surface.dc(), surface.client(), app, inputs, caches);
    const bool saved = surface.savePng(path);
    std::fwprintf(stderr, L"%ls %ls\n", saved ? L"wrote" : L"could not write", path.c_str());
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: render_preview <catalogue folder> <output folder> [width height]\n");
        return 2;
    }
    const std::wstring out = argv[2];
    const int w = argc >= 5 ? _wtoi(argv[3]) : 1180;
    const int h = argc >= 5 ? _wtoi(argv[4]) : 780;
    qbtest::ensureGdiplus();
    AppState& app = appState();
    if (!createUiFonts(app.uiFonts)) return 1;
    if (!loadCatalogue(argv[1], app)) {
        std::fwprintf(stderr, L"cannot read %ls\\catalogue.json\n", argv[1]);
        return 1;
    }
    PaintInputs inputs = makeInputs(app.catalogue);
    bool ok = true;

    app.selectedCategoryId = L"common";
    app.toastText = L"开始下载：霁光浏览器";
    app.toastKind = ToastSuccess;
    app.toastTick = inputs.now;
    app.hoverActive = true;
    app.hoverKind = HitKind::Category;
    app.hoverParam = 4;
    ok = render(app, inputs, w, h, out + L"\\catalogue.png") && ok;

    app.selectedCategoryId = L"office";
    app.toastText.clear();
    app.hoverKind = HitKind::CardAction;
    app.hoverParam = 28;
    app.noticeText = L"星河笔记";
    app.noticeTaskId = 2;
    app.noticeInstallStarted = true;
    app.noticeSignature = SignatureValid;
    app.noticePublisher = L"星河软件有限公司";
    app.noticeTick = inputs.now;
    ok = render(app, inputs, w, h, out + L"\\catalogue-office.png") && ok;

    // An installed app's card with its right-click menu, the pointer on 卸载; another app uninstalling.
    app.selectedCategoryId = L"common";
    app.noticeText.clear();
    for (const int32_t id : {2, 3, 4}) app.installed.byId[id].registration.displayName = app.catalogue.findApp(id)->name;
    app.installed.uninstalling = {3};
    app.cardMenu.open = true;
    app.cardMenu.appId = 2;
    app.cardMenu.anchor = POINT{560, 250};
    app.hoverKind = HitKind::MenuItem;
    app.hoverParam = CardMenuUninstall;
    ok = render(app, inputs, w, h, out + L"\\card-menu.png") && ok;
    app.cardMenu = CardMenu{};
    app.installed = InstalledState{};

    app.page = Page::Downloads;
    app.hoverKind = HitKind::OpenDir;
    ok = render(app, inputs, w, h, out + L"\\downloads.png") && ok;

    // Some apps installed at older versions: one downloading its update, one waiting to install.
    const std::pair<int32_t, const wchar_t*> older[] = {{1, L"5.1.3"}, {5, L"2023.4"}, {8, L"3.9.0"},
                                                        {20, L"2.6.1"}, {26, L"5.0"}, {28, L"1.4.2"}};
    for (const auto& [id, version] : older) {
        InstallStatus status;
        status.registration.displayName = app.catalogue.findApp(id)->name;
        status.registration.displayVersion = version;
        status.updatable = isUpdateAvailable(version, app.catalogue.findApp(id)->version);
        app.installed.byId[id] = status;
    }
    app.installed.everRead = true;
    inputs.tasks[20] = task(app.catalogue.findApp(20), InstallQueued, 100, 100);
    app.page = Page::Updates;
    app.hoverKind = HitKind::UpdateRow;
    app.hoverParam = 5;
    app.hoverActive = true;
    ok = render(app, inputs, w, h, out + L"\\updates.png") && ok;
    inputs.tasks.erase(20);

    app.page = Page::Catalogue;
    app.catalogueFailed = true;
    app.hoverActive = false;
    ok = render(app, inputs, w, h, out + L"\\failed.png") && ok;
    ok = renderIconSheet(app, out + L"\\icons.png") && ok;
    return ok ? 0 : 1;
}

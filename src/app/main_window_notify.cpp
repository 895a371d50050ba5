#include "app/app_action.h"
#include "app/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "downloads/download_manager.h"
#include "service/catalogue_loader.h"

namespace {

// Another task of the same app (one that replaced or preceded the task the news is for).
bool replacedSince(const std::map<int32_t, TaskSnapshot>& tasks, IdAndGeneration news) {
    const auto found = tasks.find(news.id);
    return found != tasks.end() && found->second.generation != news.generation;
}

}  // namespace

bool installAndReport(int32_t taskId) {
    ShellServices& services = shellServices();
    if (!services.install(taskId)) return false;
    const AppConfig& config = appState().config;
    services.reportInstall(config.server, taskId, config.channel);
    return true;
}

LRESULT onCatalogLoaded(WPARAM succeeded) {
    AppState& app = appState();
    adoptLoadedCatalogue(app.catalog);
    app.catalogLoading = false;
    app.catalogFailed = succeeded == 0;
    const bool fromDownloadPage = app.page == Page::Downloads;
    app.page = Page::Catalogue;
    app.selectedCategoryId = selectionAfterLoad(app.catalog.categories, app.selectedCategoryId, fromDownloadPage);
    repaintMainWindow();
    return 0;
}

// One message per finished icon, but the first takes every icon finished so far; results for a
// catalogue since replaced are dropped there.
LRESULT onIconReady() {
    AppState& app = appState();
    if (app.icons.adoptResults(app.catalog.generation) > 0) repaintMainWindow();
    return 0;
}

LRESULT onDownloadDone(IdAndGeneration news) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(news.id);
    if (found == tasks.end() || replacedSince(tasks, news)) return 0;
    const TaskSnapshot& task = found->second;
    const int32_t taskId = news.id;

    ::MessageBeep(MB_ICONASTERISK);
    AppState& app = appState();
    app.noticeText = task.name;
    app.noticeVerified = task.md5Ok;
    app.noticeIsArchive = task.isArchive;
    app.noticeUnverified = task.unverified;
    app.noticeSignature = task.signature;
    app.noticePublisher = task.publisher;
    app.noticeTaskId = taskId;
    app.noticeTick = ::GetTickCount();
    repaintMainWindow();

    if (task.isArchive) {
        showToast(L"「" + task.name + L"」下载成功，压缩包已保存，可打开文件夹解压安装", ToastSuccess);
    } else if (!task.md5Ok) {
        showToast(L"下载完成，但 MD5 校验不一致，请谨慎安装", ToastError);
    } else if (task.signature == SignatureBroken) {
        showToast(L"安装包签名无效，已禁止安装", ToastError);
    } else if (task.unverified) {
        // Nothing vouches for this file: the user starts it from the card or the row, after a question.
        showToast(L"「" + task.name + L"」无法校验，未自动打开安装向导", ToastNeutral);
    } else if (installAndReport(taskId)) {
        showToast(L"「" + task.name + L"」下载完成，正在打开安装向导", ToastSuccess);
    } else {
        showToast(L"「" + task.name + L"」下载完成", ToastSuccess);
    }
    repaintMainWindow();
    return 0;
}

LRESULT onDownloadFailed(HWND hwnd, IdAndGeneration news) {
    const auto tasks = shellServices().taskSnapshot();
    if (replacedSince(tasks, news)) return 0;
    // A task cleared from the list since still failed: the warning comes without its name.
    const auto found = tasks.find(news.id);
    std::wstring text;
    if (found != tasks.end() && !found->second.name.empty()) text = L"「" + found->second.name + L"」\n\n";
    text += ServiceTroubleMessage;
    shellServices().messageBox(hwnd, text, L"下载失败", MB_ICONWARNING);
    return 0;
}

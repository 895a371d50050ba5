#include "app/app_action.h"
#include "app/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "service/catalogue_loader.h"

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

LRESULT onDownloadDone(int32_t taskId) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(taskId);
    if (found == tasks.end()) return 0;
    const TaskSnapshot& task = found->second;

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
    } else {
        showToast(L"「" + task.name + L"」下载完成，正在打开安装向导", ToastSuccess);
        installAndReport(taskId);
    }
    repaintMainWindow();
    return 0;
}

LRESULT onDownloadFailed(HWND hwnd, int32_t taskId) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(taskId);
    std::wstring text;
    if (found != tasks.end() && !found->second.name.empty()) text = L"「" + found->second.name + L"」\n\n";
    text += ServiceTroubleMessage;
    shellServices().messageBox(hwnd, text, L"下载失败", MB_ICONWARNING);
    return 0;
}

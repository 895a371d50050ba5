#include "downloads/app_action.h"

#include <cstdio>

#include "app/app_state.h"
#include "config/text_convert.h"
#include "downloads/download_manager.h"
#include "service/catalogue.h"
#include "service/install_report.h"

namespace {

bool keepsItsByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

// A finished download: open the archive's folder, start the verified installer, or refuse.
void actOnDownloaded(const AppInfo& app, const TaskSnapshot& task) {
    DownloadManager& manager = DownloadManager::instance();
    if (task.isArchive) {
        manager.openInFolder(app.id);
        showToast(L"「" + app.name + L"」是压缩包，已保存到下载目录，解压后即可使用", ToastSuccess);
    } else if (task.md5Ok) {
        // A refusal has already been turned into a failure the main window reports.
        if (!manager.install(app.id)) return;
        const AppConfig& config = appState().config;
        ReportInstall(config.server, app.id, config.channel);
        showToast(L"正在打开安装向导：" + app.name, ToastSuccess);
    } else {
        showToast(L"文件校验不一致，已禁止安装，请删除后重新下载", ToastError);
    }
}

}  // namespace

std::string downloadUrlFor(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    std::string url = WideToUtf8(server) + "/api/client/download/" + std::to_string(appId) + "?channel=";
    for (const char byte : WideToUtf8(channel)) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (keepsItsByte(c)) {
            url.push_back(byte);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

void onAppAction(const AppInfo* app) {
    if (!app || !app->hasPackage) {
        showToast(L"该应用暂未上架安装包", ToastError);
        return;
    }
    const std::map<int32_t, TaskSnapshot> tasks = DownloadManager::instance().snapshot();
    const auto found = tasks.find(app->id);
    if (found != tasks.end()) {
        switch (found->second.state) {
            case Completed:
            case InstallCancelled:
                actOnDownloaded(*app, found->second);
                return;
            case Downloading:
            case Verifying:
            case Installing:
                return;
            default:
                break;  // failed, cancelled or installed: a new download replaces the task
        }
    }
    const AppConfig& config = appState().config;
    DownloadManager::instance().startDownload(app->id, app->name, downloadUrlFor(config.server, app->id, config.channel),
                                              app->md5, app->packageSize);
    showToast(L"开始下载：" + app->name, ToastNeutral);
}

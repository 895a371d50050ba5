#include "app/app_action.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "model/app_state.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "base/text_convert.h"
#include "render/state_texts.h"
#include "service/catalogue.h"

namespace {

bool keepsItsByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

// A finished download: open the archive's folder, start the installer (after asking when the package
// could not be verified), or refuse.
void actOnDownloaded(const AppInfo& app, const TaskSnapshot& task) {
    if (task.isArchive) {
        shellServices().openInFolder(app.id);
        showToast(L"「" + app.name + L"」是压缩包，已保存到下载目录，解压后即可使用", ToastSuccess);
        return;
    }
    const std::wstring refusal = installRefusal(task);
    if (!refusal.empty()) return showToast(refusal, ToastError);
    // The question runs a message loop, and a catalogue adopted meanwhile replaces the app's record.
    const int32_t id = app.id;
    const std::wstring name = app.name;
    if (task.unverified && !confirmUnverifiedInstall(task)) return;
    // A refusal has already been turned into a failure the main window reports.
    if (installAndReport(id) != InstallStart::Accepted) return;
    showToast(installAcceptedToast(id, name), ToastSuccess);
}

// What 全部升级 may start without asking anything: a fresh download where the card offers "升 级"
// (also after an earlier version was installed in this run: a copy in the background runs for days),
// a paused download going on, or the installer of a finished, verified package. A package nothing
// vouches for waits for the user's own click and question.
bool startsWithoutQuestion(const TaskSnapshot* task) {
    if (!task || task->state == Failed || task->state == Cancelled || task->state == Paused ||
        task->state == Installed)
        return true;
    if (!installable(task->state)) return false;
    return !task->isArchive && !task->unverified && installRefusal(*task).empty();
}

}  // namespace

std::string downloadUrlFor(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    std::string url = wideToUtf8(server) + "/api/client/download/" + std::to_string(appId) + "?channel=";
    for (const char byte : wideToUtf8(channel)) {
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
    const std::map<int32_t, TaskSnapshot> tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(app->id);
    bool replaced = false;
    if (found != tasks.end()) {
        switch (found->second.state) {
            case Completed:
            case InstallCancelled:
            case InstallFailed:
                // Bytes whose digest or signer did not match are replaced by a new download, as a cancelled one is.
                if (refusedPackage(found->second) && !found->second.isArchive) break;
                actOnDownloaded(*app, found->second);
                return;
            case Downloading:
            case Verifying:
            case Installing:
            case InstallQueued:
                return;
            case Paused:
                if (listsPausedPackage(*app, found->second)) return shellServices().resumeTask(app->id);
                // Its bytes are of a package the catalogue no longer lists: a new download replaces them.
                shellServices().cancelTask(app->id);
                replaced = true;
                break;
            default:
                break;  // failed, cancelled or installed: a new download replaces the task
        }
    }
    // Installed and current: nothing to do. Installed but older: the update takes the usual road.
    AppState& state = appState();
    // An installed task says nothing of a newer version when its installer failed or the catalogue has
    // replaced its package since: the registrations decide, as on the card.
    const bool olderInstall = found != tasks.end() && found->second.state == Installed &&
                              (found->second.installerFailed || !listsTaskPackage(app, found->second));
    const bool hasTask = found != tasks.end() && found->second.state != Failed && found->second.state != Cancelled &&
                         !olderInstall && !replaced;
    if (const InstallStatus* installed = installStatusOf(state, app->id); installed && !hasTask) {
        if (!updateOffered(state, app->id)) return showToast(L"「" + app->name + L"」已安装", ToastNeutral);
        state.installed.updating[app->id] = installed->registration.displayVersion;
    }
    state.installsHeld.erase(app->id);  // a stopped batch held an earlier download; this one is the user's
    shellServices().startDownload(*app);
    showToast(L"开始下载：" + app->name, ToastNeutral);
}

bool listsPausedPackage(const AppInfo& app, const TaskSnapshot& task) { return listsTaskPackage(&app, task); }

std::wstring installRefusal(const TaskSnapshot& task) {
    if (!task.md5Ok) return L"文件校验不一致，已禁止安装，请删除后重新下载";
    if (task.signature == SignatureBroken) return L"安装包签名无效，已禁止安装";
    if (task.publisherVerdict == PublisherVerdict::Refused) return PublisherMismatchMessage;
    return std::wstring();
}

bool confirmUnverifiedInstall(const TaskSnapshot& task) {
    std::wstring text = L"「" + task.name + L"」的安装包没有可核对的校验值，无法确认它在下载途中未被篡改。\n\n";
    if (task.signature == SignatureValid && !task.publisher.empty()) {
        text += L"发布者：" + task.publisher + L"\n\n";
    } else if (task.signature == SignatureUnsigned) {
        text += L"该安装包未签名。\n\n";
    }
    text += L"仍要运行它吗？";
    const int answer = shellServices().messageBox(appState().mainWnd, text, L"无法校验安装包",
                                                  MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    return answer == IDYES;
}

bool installWaits(int32_t taskId) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(taskId);
    return found != tasks.end() && found->second.state == InstallQueued;
}

InstallRequest installRequestFor(const TaskSnapshot& task) {
    const AppState& state = appState();
    const AppInfo* app = state.catalogue.findApp(task.appId);
    InstallRequest request;
    if (app) request.silentArgs = app->silentArgs;
    request.silent = runsSilently(state.config.silentInstall, task.installerType, request.silentArgs, task.unverified,
                                  task.state == InstallFailed);
    return request;
}

std::wstring installAcceptedToast(int32_t taskId, const std::wstring& name) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(taskId);
    if (found != tasks.end() && found->second.state == InstallQueued)
        return L"等待安装：" + name + L"，当前的安装结束后自动开始";
    if (found != tasks.end() && found->second.silentInstall) return L"正在安装：「" + name + L"」";
    return L"正在打开安装向导：" + name;
}

BatchStarts startInBatch(const std::vector<const AppInfo*>& apps) {
    AppState& state = appState();
    const auto tasks = shellServices().taskSnapshot();
    BatchStarts starts;
    state.batch.starting = true;
    for (const AppInfo* app : apps) {
        if (state.installed.uninstalling.count(app->id)) continue;  // its uninstaller runs: never both at once
        const auto found = tasks.find(app->id);
        const TaskSnapshot* task = found == tasks.end() ? nullptr : &found->second;
        if (!startsWithoutQuestion(task)) {
            // Nothing vouches for it: the batch counts it as skipped, and the user's own click asks.
            if (task && installable(task->state) && task->unverified) {
                state.batch.add(app->id, app->name, BatchOutcome::Skipped);
                ++starts.waiting;
            }
            continue;
        }
        state.batch.add(app->id, app->name);
        shellServices().appAction(app);
        ++starts.started;
    }
    state.batch.starting = false;
    if (std::exchange(state.batch.followOwed, false)) followBatch();
    return starts;
}

void onUpdateAll() {
    AppState& state = appState();
    if (!state.batch.active()) state.batch = InstallBatch{};
    std::vector<const AppInfo*> apps;
    for (const size_t index : updatableApps(state)) apps.push_back(&state.catalogue.apps[index]);
    const BatchStarts starts = startInBatch(apps);
    const wchar_t* how = state.config.silentInstall ? L" 款软件，将逐个自动安装" : L" 款软件，安装向导将逐个打开";
    std::wstring text =
        starts.started > 0 ? L"开始升级 " + std::to_wstring(starts.started) + how : std::wstring(L"升级已在进行中");
    if (starts.waiting > 0) text += L"；" + std::to_wstring(starts.waiting) + L" 款无法校验的安装包请逐个确认";
    showToast(text, ToastNeutral);
    // Started downloads bring news of their own; a batch of skipped packages alone ends now.
    if (starts.started == 0) followBatch();
}

#include <optional>
#include <vector>

#include "app/app_action.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "install/install_list.h"
#include "model/app_state.h"
#include "render/install_list_texts.h"

namespace {

constexpr wchar_t kImportCaption[] = L"导入软件清单";

// The lists' questions and messages belong to the settings window while it is open.
HWND listOwner() {
    const AppState& state = appState();
    return state.settingsWnd ? state.settingsWnd : state.mainWnd;
}

// Why the installed apps cannot be told apart in the catalogue yet; empty when they can.
std::wstring catalogueNotReady() {
    const AppState& state = appState();
    if (state.catalogue.apps.empty()) return L"软件目录尚未加载，请稍后再试";
    if (!state.installed.everRead || state.installed.byIdCatalogue != state.catalogue.generation)
        return L"正在读取已安装的软件，请稍后再试";
    return std::wstring();
}

std::wstring fileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void startRead(const std::wstring& path, bool unattended, bool confirm = false) {
    AppState& state = appState();
    ListFiles& lists = state.lists;
    const uint32_t number = ++lists.jobsStarted;
    lists.newestRead = number;
    lists.unattended = unattended;
    lists.confirm = confirm;
    lists.waiting.reset();
    if (!shellServices().startListRead(state.mainWnd, number, path)) showToast(L"无法读取软件清单", ToastError);
}

// The batch holds every app of the plan, those it skips too, so that its summary names them. An app the
// catalogue does not have takes a negative id of its own, which no task has.
void queueImport(const ImportPlan& plan) {
    AppState& state = appState();
    state.batch = InstallBatch{};
    state.batch.kind = BatchKind::Import;
    // The skipped go in first: an app skipped as it starts may end the batch, which must hold them then.
    for (size_t i = 0; i < plan.noPackage.size(); ++i)
        state.batch.add(plan.noPackageIds[i], plan.noPackage[i], BatchOutcome::Skipped);
    for (size_t i = 0; i < plan.unknown.size(); ++i)
        state.batch.add(-1 - static_cast<int32_t>(i), plan.unknown[i], BatchOutcome::Skipped);
    std::vector<const AppInfo*> apps;
    for (const int32_t id : plan.install)
        if (const AppInfo* app = state.catalogue.findApp(id)) apps.push_back(app);
    const BatchStarts starts = startInBatch(apps);
    const wchar_t* how = state.config.silentInstall ? L" 款软件，将逐个自动安装" : L" 款软件，安装向导将逐个打开";
    std::wstring text = L"开始安装 " + std::to_wstring(starts.started) + how;
    if (starts.waiting > 0) text += L"；" + std::to_wstring(starts.waiting) + L" 款无法校验的安装包请逐个确认";
    showToast(text, ToastNeutral);
    // Started downloads bring news of their own; a batch of skipped apps alone ends now.
    if (starts.started == 0) followBatch();
}

void importList(const InstallList& list, bool unattended) {
    AppState& state = appState();
    constexpr wchar_t kBatchRuns[] = L"请等当前的批量安装结束后再导入软件清单";
    if (state.batch.active()) return showToast(kBatchRuns, ToastError);
    const ImportPlan plan =
        planImport(list, state.config.server, state.config.channel, state.catalogue.apps, state.installed.byId);
    const bool asks = !unattended || state.lists.confirm || plan.match == ListMatch::ByName;
    if (plan.install.empty()) {
        if (asks) {
            shellServices().messageBox(listOwner(), importQuestion(plan), kImportCaption, MB_OK | MB_ICONINFORMATION);
        } else {
            showToast(L"软件清单中没有需要安装的软件", ToastNeutral);
        }
        return;
    }
    if (asks && shellServices().messageBox(listOwner(), importQuestion(plan), kImportCaption,
                                           MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    // While the question was open, an automatic update or 全部升级 may have started a batch of its own.
    if (state.batch.active()) return showToast(kBatchRuns, ToastError);
    if (state.settingsWnd) ::DestroyWindow(state.settingsWnd);
    queueImport(plan);
}

}  // namespace

void importInstallList(HWND owner) {
    const std::wstring path = shellServices().pickListFile(owner, false);
    if (!path.empty()) startRead(path, false);
}

void importInstallListUnattended(const std::wstring& path) { startRead(path, true); }

void importInstallListHandedOver(const std::wstring& path) { startRead(path, true, true); }

void exportInstallList(HWND owner) {
    const std::wstring notReady = catalogueNotReady();
    if (!notReady.empty()) return showToast(notReady, ToastError);
    const std::wstring path = shellServices().pickListFile(owner, true);
    if (path.empty()) return;
    AppState& state = appState();
    const InstallList list =
        installedAppsList(state.config.server, state.config.channel, state.catalogue.apps, state.installed.byId);
    const uint32_t number = ++state.lists.jobsStarted;
    if (!shellServices().startListWrite(state.mainWnd, number, path, formatInstallList(list)))
        showToast(L"软件清单导出失败", ToastError);
}

void continueListImport() {
    AppState& state = appState();
    ListFiles& lists = state.lists;
    if (!lists.waiting) return;
    const std::wstring notReady = catalogueNotReady();
    // From the command line the list waits for the catalogue's load to end; from the window it is matched
    // against what the window shows.
    if (lists.unattended && (!notReady.empty() || !state.catalogueSettled)) return;
    const InstallList list = std::move(*lists.waiting);
    lists.waiting.reset();
    if (!notReady.empty()) {
        shellServices().messageBox(listOwner(), notReady, kImportCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    importList(list, lists.unattended);
}

LRESULT onListFileDone(uint32_t number) {
    std::optional<InstallListFileJob> job = shellServices().takeListFileJob(number);
    if (!job) return 0;
    if (!job->reading) {
        if (job->problem.fault == InstallListFault::None) {
            showToast(L"软件清单已导出", ToastSuccess);
        } else {
            showToast(L"软件清单导出失败：" + installListProblemText(job->problem), ToastError);
        }
        return 0;
    }
    ListFiles& lists = appState().lists;
    if (number != lists.newestRead) return 0;  // a newer import replaced it
    if (!job->list) {
        const std::wstring text =
            L"无法导入软件清单「" + fileName(job->path) + L"」：\n\n" + installListProblemText(job->problem);
        shellServices().messageBox(listOwner(), text, kImportCaption, MB_OK | MB_ICONWARNING);
        return 0;
    }
    lists.waiting = std::move(job->list);
    continueListImport();
    return 0;
}

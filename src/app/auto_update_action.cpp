#include "app/app_action.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "app/tray.h"
#include "downloads/download_manager.h"
#include "model/app_state.h"
#include "updates/auto_update.h"

#include <set>

namespace {

// The program's own update batch, across the checks that lead to it.
struct AutoUpdateRun {
    bool checked = false;    // a load has finished in this run
    bool confirmed = false;  // the last finished load was confirmed by the service
    bool due = false;        // a confirmed check waits for its batch
    bool running = false;    // the batch in AppState is the program's own
    std::set<int32_t> tried;  // apps this check has started: one skipped (it ran) waits for the next check
    std::vector<updates::Updatable> awaitingClick;  // downloaded by this batch, installed on the user's click
};

AutoUpdateRun& autoRun() {
    static AutoUpdateRun run;
    return run;
}

bool inBatch(const InstallBatch& batch, int32_t appId) {
    for (const BatchItem& item : batch.items)
        if (item.appId == appId) return true;
    return false;
}

updates::PackageFacts packageFacts(const TaskSnapshot& task) {
    updates::PackageFacts facts;
    facts.sha256Given = !task.sha256.empty();
    facts.digestsMatch = task.md5Ok && !task.unverified;
    facts.silent = installRequestFor(task).silent;
    facts.signatureBroken = task.signature == SignatureBroken;
    facts.publisherRefused = task.publisherVerdict == PublisherVerdict::Refused;
    facts.isArchive = task.isArchive;
    return facts;
}

updates::StartFacts startFacts() {
    updates::StartFacts facts;
    facts.confirmed = autoRun().confirmed;
    facts.idleMinutes = appState().config.autoUpdateIdleMinutes;
    facts.metered = !updates::mayCheck(connectionMetered(), appState().config.checkOnMetered);
    LASTINPUTINFO input{};
    input.cbSize = sizeof input;
    if (::GetLastInputInfo(&input)) facts.idleMs = ::GetTickCount() - input.dwTime;
    SYSTEM_POWER_STATUS power{};
    if (::GetSystemPowerStatus(&power)) {
        constexpr BYTE kOffline = 0, kNoBattery = 128, kUnknownPercent = 255;
        facts.onBattery = power.ACLineStatus == kOffline && power.BatteryFlag != kNoBattery;
        facts.batteryPercent = power.BatteryLifePercent == kUnknownPercent ? -1 : power.BatteryLifePercent;
    }
    return facts;
}

// The updatable apps this check may still start: a finished package only when it would install
// unattended (one that waits for a click is not started again, nor named again).
std::vector<const AppInfo*> autoCandidates() {
    const AppState& app = appState();
    const auto tasks = shellServices().taskSnapshot();
    std::vector<const AppInfo*> apps;
    for (const size_t index : updatableApps(app)) {
        const AppInfo& info = app.catalogue.apps[index];
        if (autoRun().tried.count(info.id)) continue;
        const auto task = tasks.find(info.id);
        if (task != tasks.end() && installable(task->second.state) &&
            updates::autoInstallFor(packageFacts(task->second)) != updates::AutoInstall::Install)
            continue;
        apps.push_back(&info);
    }
    return apps;
}

updates::Updatable updatableOf(int32_t appId, const std::wstring& name) {
    const AppInfo* info = appState().catalogue.findApp(appId);
    return {appId, name, info ? info->version : std::wstring()};
}

}  // namespace

void autoUpdateCheckEnded(bool confirmed) {
    AutoUpdateRun& run = autoRun();
    run.checked = true;
    run.confirmed = confirmed;
    if (!appState().config.autoUpdate) return;
    if (confirmed) run.tried.clear();
    run.due = confirmed;
    // The batch starts from registrations read against this catalogue; without one, the notice of
    // updatable apps that gave way meanwhile comes after that read.
    rereadInstalledApps();
}

// Until the check has ended, and after one the service confirmed, the batch's notice says what happened.
bool autoUpdateTakesOver() { return appState().config.autoUpdate && (!autoRun().checked || autoRun().confirmed); }

void considerAutoUpdate() {
    AppState& app = appState();
    AutoUpdateRun& run = autoRun();
    if (!app.config.autoUpdate || !run.due || !app.mainWnd) return;
    // Registrations read for an earlier catalogue cannot tell its updates: the read for this one decides.
    if (app.installed.byIdCatalogue != app.catalogue.generation) return;
    const std::vector<const AppInfo*> apps = autoCandidates();
    if (apps.empty()) {
        run.due = false;
        return;
    }
    // It waits while another batch runs, and while an uninstaller the user started runs: Windows Installer
    // takes one install or removal at a time (1618).
    const bool busy = app.batch.active() || !app.installed.uninstalling.empty();
    const updates::AutoStart verdict = busy ? updates::AutoStart::WaitForIdle : updates::autoStartVerdict(startFacts());
    if (verdict == updates::AutoStart::NotThisCheck) run.due = false;
    if (verdict == updates::AutoStart::WaitForIdle || verdict == updates::AutoStart::WaitForPower)
        ::SetTimer(app.mainWnd, kAutoUpdateTimerId, updates::kAutoStartRetryMs, nullptr);
    if (verdict != updates::AutoStart::Now) return;
    ::KillTimer(app.mainWnd, kAutoUpdateTimerId);
    run.due = false;
    run.running = true;
    run.awaitingClick.clear();
    app.batch = InstallBatch{};
    app.batch.kind = BatchKind::Update;
    for (const AppInfo* info : apps) run.tried.insert(info->id);
    const BatchStarts starts = startInBatch(apps);
    // Every candidate was under way already: there is no batch, and the next one is the user's own.
    if (!app.batch.active()) run.running = false;
    else if (starts.started == 0) followBatch();
}

void onAutoUpdateTimer(HWND window) {
    ::KillTimer(window, kAutoUpdateTimerId);
    considerAutoUpdate();
}

bool autoUpdateHolds(int32_t taskId, const TaskSnapshot& task) {
    AutoUpdateRun& run = autoRun();
    if (!run.running || !inBatch(appState().batch, taskId)) return false;
    const updates::AutoInstall verdict = updates::autoInstallFor(packageFacts(task));
    if (verdict == updates::AutoInstall::Install) return false;
    if (verdict == updates::AutoInstall::AwaitClick) run.awaitingClick.push_back(updatableOf(taskId, task.name));
    appState().batch.settle(taskId, verdict == updates::AutoInstall::Refused ? BatchOutcome::Failed
                                                                             : BatchOutcome::Skipped);
    return true;
}

bool inAutoUpdateBatch(int32_t taskId) { return autoRun().running && inBatch(appState().batch, taskId); }

void autoUpdateBatchEnded(const InstallBatch& batch) {
    AutoUpdateRun& run = autoRun();
    if (!run.running) return;
    run.running = false;
    std::vector<updates::Updatable> installed;
    for (const BatchItem& item : batch.items)
        if (item.outcome == BatchOutcome::Done) installed.push_back(updatableOf(item.appId, item.name));
    const TrayNotice notice = autoUpdateNotice(installed, run.awaitingClick);
    run.awaitingClick.clear();
    if (!notice.title.empty()) showTrayNotice(appState().mainWnd, notice.title, notice.text);
}

// Fills the DownloadManager with 20 real tasks against the bench catalogue's packages (apps 1 to 20),
// held in eight states by scripted service faults and a stand-in installer start.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "model/app_state.h"
#include "bench_support.h"
#include "base/text_convert.h"
#include "download_page_tasks.h"
#include "downloads/download_manager.h"
#include "support/service_control.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;

void start(const std::wstring& server, AppState& app, int32_t id) {
    const AppInfo* info = app.catalogue.findApp(id);
    const std::string url = wideToUtf8(server) + "/api/client/download/" + std::to_string(id) + "?channel=bench";
    DownloadManager::instance().startDownload(
        id, {info ? info->name : L"?", url, info ? info->md5 : std::string(), std::string(), info ? info->packageSize : 0});
}

// Pumps worker news until every task of ids meets done(snapshot), or time runs out.
bool waitFor(std::initializer_list<int32_t> ids, const std::function<bool(const TaskSnapshot&)>& done,
             const char* what) {
    const double deadline = bench::milliseconds() + 60000;
    for (;;) {
        bench::pumpMessages();
        const auto tasks = DownloadManager::instance().snapshot();
        bool all = true;
        for (int32_t id : ids) {
            const auto found = tasks.find(id);
            if (found == tasks.end() || !done(found->second)) all = false;
        }
        if (all) return true;
        if (bench::milliseconds() > deadline) {
            std::fprintf(stderr, "download page set-up: tasks never %s\n", what);
            return false;
        }
        ::Sleep(10);
    }
}

std::string stallAfter(int64_t bytes) {
    return "{\"stallAfter\":" + std::to_string(bytes) + ",\"stallMs\":600000,\"repeat\":-1}";
}

}  // namespace

bool setUpDownloadPage(const std::wstring& server, AppState& app) {
    DownloadManager& manager = DownloadManager::instance();
    qbtest::ServiceControl service(server);
    manager.mainWindow = app.mainWnd;
    manager.setWaitFunction([](Task&, WaitReason, uint32_t) {});
    ShellActions shell;
    shell.showInFolder = [](const std::wstring&) {};
    shell.startInstaller = [](const std::shared_ptr<Task>& task) {
        if (task->appId == 10) task->state.store(Installed);
        if (task->appId == 12) task->state.store(InstallCancelled);
        return true;  // 11 stays Installing
    };
    manager.setShellActions(shell);

    // Finished tasks first: installers 6 to 12, archives 14 and 15, a wrong digest 16, and three
    // packages the service does not hold (18 to 20).
    for (int32_t id : {6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 18, 19, 20}) start(server, app, id);
    const auto finished = [](const TaskSnapshot& t) { return t.state == Completed || t.state == Failed; };
    if (!waitFor({6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 18, 19, 20}, finished, "finished")) return false;
    for (int32_t id : {10, 11, 12}) manager.install(id);

    // 13 is cancelled mid-transfer; resetting the service ends its stall so the slot comes back.
    if (!service.addAppFaults(13, "[{}," + stallAfter(300000) + "]")) return false;
    start(server, app, 13);
    if (!waitFor({13}, [](const TaskSnapshot& t) { return t.receivedBytes >= 300000; }, "stalled")) return false;
    manager.cancel(13);
    service.reset();
    manager.waitForJob(13, 30000);

    // Six transfers stalled at 10 % to 90 %, one of them after a dropped connection and a retry:
    // together they hold the six request slots.
    for (int32_t id = 1; id <= 5; ++id) {
        if (!service.addAppFaults(id, "[{}," + stallAfter((id * 2 - 1) * 4 * kMiB / 10) + "]")) return false;
        start(server, app, id);
    }
    if (!service.addAppFaults(17, "[{},{\"dropAfter\":200000}," + stallAfter(300000) + "]")) return false;
    start(server, app, 17);
    for (int32_t id = 1; id <= 5; ++id) {
        const int64_t stall = (id * 2 - 1) * 4 * kMiB / 10;
        if (!waitFor({id}, [stall](const TaskSnapshot& t) { return t.receivedBytes >= stall; }, "stalled")) return false;
    }
    if (!waitFor({17}, [](const TaskSnapshot& t) { return t.retryCount > 0 && t.receivedBytes >= 500000; }, "retried"))
        return false;
    const auto tasks = manager.snapshot();
    int counts[8] = {};
    for (const auto& entry : tasks)
        if (entry.second.state < 8) ++counts[entry.second.state];
    std::printf("task_states downloading=%d completed=%d failed=%d cancelled=%d installed=%d installing=%d "
                "install_cancelled=%d\n",
                counts[Downloading], counts[Completed], counts[Failed], counts[Cancelled], counts[Installed],
                counts[Installing], counts[InstallCancelled]);
    return tasks.size() == 20;
}

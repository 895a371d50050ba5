#include "install/install_list_file.h"

#include <vector>

#include "base/mailbox.h"
#include "base/win_handles.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"

namespace {

InstallListProblem systemProblem(InstallListFault fault, DWORD error) {
    InstallListProblem problem;
    problem.fault = fault;
    problem.systemCode = error;
    return problem;
}

using Jobs = std::vector<InstallListFileJob>;

qb::Mailbox<Jobs>& finishedJobs() {
    static qb::Mailbox<Jobs> jobs;
    return jobs;
}

void deliver(HWND window, InstallListFileJob job) {
    const uint32_t number = job.number;
    finishedJobs().update([&job](std::optional<Jobs>& waiting) {
        if (!waiting) waiting.emplace();
        waiting->push_back(std::move(job));
    });
    ::PostMessageW(window, WM_QB_LIST_FILE_DONE, number, 0);
}

}  // namespace

InstallListParse readInstallListFile(const std::wstring& path) {
    InstallListParse result;
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        result.problem = systemProblem(InstallListFault::CannotOpen, ::GetLastError());
        return result;
    }
    // One byte past the limit is enough to know the file is too large, whatever it claims to be.
    std::string bytes;
    char chunk[16384];
    DWORD read = 0;
    while (bytes.size() <= kMaxInstallListBytes && ::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) &&
           read > 0)
        bytes.append(chunk, read);
    return parseInstallList(bytes);
}

InstallListProblem writeInstallListFile(const std::wstring& path, const std::string& text) {
    qb::UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return systemProblem(InstallListFault::CannotWrite, ::GetLastError());
    DWORD written = 0;
    if (::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size())
        return InstallListProblem();
    const DWORD error = ::GetLastError();
    file.reset();
    ::DeleteFileW(path.c_str());
    return systemProblem(InstallListFault::CannotWrite, error);
}

bool startInstallListRead(HWND window, uint32_t number, const std::wstring& path) {
    return qb::startWorker([window, number, path] {
        InstallListParse parsed = readInstallListFile(path);
        deliver(window, InstallListFileJob{number, true, path, std::move(parsed.list), std::move(parsed.problem)});
    });
}

bool startInstallListWrite(HWND window, uint32_t number, const std::wstring& path, std::string text) {
    return qb::startWorker([window, number, path, text = std::move(text)] {
        deliver(window, InstallListFileJob{number, false, path, std::nullopt, writeInstallListFile(path, text)});
    });
}

std::optional<InstallListFileJob> takeInstallListFileJob(uint32_t number) {
    return finishedJobs().update([number](std::optional<Jobs>& waiting) -> std::optional<InstallListFileJob> {
        if (!waiting) return std::nullopt;
        for (auto it = waiting->begin(); it != waiting->end(); ++it) {
            if (it->number != number) continue;
            InstallListFileJob job = std::move(*it);
            waiting->erase(it);
            return job;
        }
        return std::nullopt;
    });
}

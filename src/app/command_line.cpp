#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "base/win_handles.h"
#include "config/config.h"
#include "install/install_list.h"
#include "install/install_list_file.h"
#include "install/installed_apps.h"
#include "render/install_list_texts.h"
#include "render/problem_texts.h"
#include "service/catalogue_loader.h"

namespace {

// Exit codes of an export that did not write its file, besides kBadCommandLineExit.
constexpr int kNoCatalogue = 3;
constexpr int kNotWritten = 4;

}  // namespace

StartRequest readCommandLine(const std::vector<std::wstring>& arguments) {
    StartRequest request;
    bool background = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& option = arguments[i];
        if (option == L"--background") background = true;
        if (option != L"--import" && option != L"--export") continue;
        const StartKind kind = option == L"--import" ? StartKind::Import : StartKind::Export;
        if (request.kind != StartKind::Window) return {StartKind::Bad, L"", L"--import 和 --export 只能用一个"};
        if (i + 1 >= arguments.size() || arguments[i + 1].empty())
            return {StartKind::Bad, L"", option + L" 后面缺少软件清单的文件名"};
        request = {kind, arguments[++i], L""};
    }
    request.background = background;
    return request;
}

std::vector<std::wstring> commandLineArguments() {
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; list && i < count; ++i) arguments.emplace_back(list[i]);
    if (list) ::LocalFree(list);
    return arguments;
}

std::wstring fullPathOf(const std::wstring& file) {
    const DWORD length = ::GetFullPathNameW(file.c_str(), 0, nullptr, nullptr);
    if (length == 0) return std::wstring();
    std::wstring path(length, L'\0');
    const DWORD written = ::GetFullPathNameW(file.c_str(), length, path.data(), nullptr);
    if (written == 0 || written >= length) return std::wstring();
    path.resize(written);
    return path;
}

void writeConsoleLine(const std::wstring& text) {
    // Fails harmlessly for a process that has a console already (Wine gives one to a program started
    // from a terminal); without any, CONOUT$ cannot be opened.
    ::AttachConsole(ATTACH_PARENT_PROCESS);
    qb::UniqueHandle console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    if (!console) return;
    const std::wstring line = text + L"\r\n";
    DWORD written = 0;
    ::WriteConsoleW(console.get(), line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int runExport(const std::wstring& file) {
    const std::wstring path = fullPathOf(file);
    if (path.empty()) {
        writeConsoleLine(L"Quillbox：软件清单的文件名无效：" + file);
        return kBadCommandLineExit;
    }
    const AppConfig config = loadConfig();
    Catalogue catalogue;
    if (!loadCatalogueHere(config.server, config.channel, catalogue)) {
        writeConsoleLine(L"Quillbox：无法加载软件目录（" + catalogueErrorText(catalogue.lastError) +
                         L"），软件清单没有导出");
        return kNoCatalogue;
    }
    std::vector<CatalogueName> names;
    names.reserve(catalogue.apps.size());
    for (const AppInfo& app : catalogue.apps) names.push_back({app.id, app.name, app.version});
    const InstallList list = installedAppsList(config.server, config.channel, catalogue.apps,
                                               matchInstalledApps(names, readInstalledApps()));
    const InstallListProblem problem = writeInstallListFile(path, formatInstallList(list));
    if (problem.fault != InstallListFault::None) {
        writeConsoleLine(L"Quillbox：无法写入 " + path + L"：" + installListProblemText(problem));
        return kNotWritten;
    }
    return 0;
}

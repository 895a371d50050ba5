#include "render/install_list_texts.h"

#include <windows.h>

#include <vector>

#include "base/text_convert.h"

namespace {

// Names shown in the confirmation before the rest is only counted.
constexpr size_t kNamesShown = 12;

std::wstring nth(size_t index) { return L"第 " + std::to_wstring(index + 1) + L" 款软件"; }

std::wstring systemProblem(uint32_t error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return L"找不到文件或文件夹";
        case ERROR_ACCESS_DENIED: return L"没有访问权限";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return L"文件正被其他程序使用";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return L"磁盘空间不足";
        default: return L"错误码 " + std::to_wstring(error);
    }
}

std::wstring namesText(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i ? L"、「" : L"「") + names[i] + L"」";
    if (names.size() > kNamesShown) text += L"等 " + std::to_wstring(names.size()) + L" 款";
    return text;
}

}  // namespace

std::wstring installListProblemText(const InstallListProblem& problem) {
    switch (problem.fault) {
        case InstallListFault::None: break;
        case InstallListFault::CannotOpen: return L"无法打开文件：" + systemProblem(problem.systemCode);
        case InstallListFault::CannotWrite: return systemProblem(problem.systemCode);
        case InstallListFault::TooLarge: return L"文件超过 1 MiB，不像是软件清单";
        case InstallListFault::NotJson:
            return L"不是有效的 JSON：第 " + std::to_wstring(problem.line) + L" 行第 " +
                   std::to_wstring(problem.column) + L" 列有误";
        case InstallListFault::NotAnObject: return L"清单应是一个 JSON 对象 {…}";
        case InstallListFault::ListMemberNotText: return L"清单的“" + utf8ToWide(problem.member) + L"”应是文本";
        case InstallListFault::NoApps: return L"缺少软件列表“apps”";
        case InstallListFault::AppsNotAList: return L"“apps”应是软件的列表 […]";
        case InstallListFault::AppNotAnObject: return nth(problem.app) + L"应是一个对象 {…}";
        case InstallListFault::AppBadId: return nth(problem.app) + L"的编号“id”应是正整数";
        case InstallListFault::AppNoName: return nth(problem.app) + L"缺少名称“name”";
        case InstallListFault::AppMemberNotText:
            return nth(problem.app) + L"的“" + utf8ToWide(problem.member) + L"”应是文本";
        case InstallListFault::AppBlankName: return nth(problem.app) + L"的名称“name”是空的";
    }
    return std::wstring();
}

std::wstring importQuestion(const ImportPlan& plan) {
    std::wstring text = plan.install.empty()
                            ? std::wstring(L"清单中没有需要安装的软件。")
                            : L"将安装 " + std::to_wstring(plan.install.size()) + L" 款软件：\n" +
                                  namesText(plan.installNames);
    text += plan.match == ListMatch::ById ? L"\n\n清单来自当前的服务器，按软件编号匹配。"
                                          : L"\n\n清单来自其他服务器，按软件名称匹配。";
    if (!plan.noPackage.empty())
        text += L"\n跳过 " + std::to_wstring(plan.noPackage.size()) + L" 款暂无安装包的软件：" + namesText(plan.noPackage);
    if (!plan.unknown.empty())
        text += L"\n跳过 " + std::to_wstring(plan.unknown.size()) + L" 款软件目录中没有的软件：" + namesText(plan.unknown);
    if (plan.alreadyInstalled > 0) text += L"\n已安装的 " + std::to_wstring(plan.alreadyInstalled) + L" 款不再安装。";
    return text;
}

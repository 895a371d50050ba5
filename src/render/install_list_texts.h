#pragma once
// What the window, its message boxes and the console say of an install list: the first problem of a
// list file, and the question an import asks before it installs anything.
#include <string>

#include "install/install_list.h"

// "第 3 款软件的名称“name”是空的", "无法打开文件：找不到文件或文件夹" …; empty for no problem.
std::wstring installListProblemText(const InstallListProblem& problem);
// The confirmation: "将安装 N 款软件：" and the names, how the apps were matched, and what is skipped.
std::wstring importQuestion(const ImportPlan& plan);

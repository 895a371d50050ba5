#include "render/state_texts.h"

#include <cwchar>

#include "downloads/formatting.h"
#include "render/palette.h"

int progressPercent(int64_t receivedBytes, int64_t totalBytes) {
    if (totalBytes <= 0) return 0;
    return static_cast<int>(receivedBytes * 100 / totalBytes);
}

CardButtonLook cardButtonLook(const TaskSnapshot* task, bool hasPackage, bool hovered, InstalledLook installed,
                              bool taskPackageListed) {
    using namespace palette;
    const uint32_t primary = hovered ? kPrimaryHover : kPrimary;
    if (installed == InstalledLook::Uninstalling) return {L"卸载中", kNeutralFill, kTextSecondary, false, 0};
    int state = task && task->state <= InstallFailed ? static_cast<int>(task->state) : -1;
    // An update whose installer failed leaves the older version, and the install of a package the catalogue
    // has since replaced says nothing of the newer one: the task's "installed" gives way to either.
    const bool olderInstall = state == Installed && installed == InstalledLook::Updatable &&
                              (task->installerFailed || !taskPackageListed);
    if (installed != InstalledLook::NotInstalled &&
        (state < 0 || state == Failed || state == Cancelled || olderInstall)) {
        if (installed == InstalledLook::Updatable && hasPackage)
            return {L"升 级", hovered ? kUpdateHover : kUpdate, kTextWhite, false, 0};
        state = Installed;
    }
    CardButtonLook look;
    switch (state) {
        case Downloading: {
            const int percent = progressPercent(task->receivedBytes, task->size);
            wchar_t label[24];
            std::swprintf(label, 24, L"下载中 %d%%", percent);
            look = {label, kNeutralFill, kTextAccent, true, percent};
            break;
        }
        case Verifying:
            look = {L"校验中", kNeutralFill, kTextAccent, true, progressPercent(task->receivedBytes, task->size)};
            break;
        case Completed:
        case InstallCancelled:
            // A package whose digest or signer did not match is never installed: the card offers a new download.
            look = {task->isArchive ? L"打开文件夹" : refusedPackage(*task) ? L"重新下载" : L"立即安装", primary,
                    kTextWhite, false, 0};
            break;
        case Failed: look = {L"重试", primary, kTextWhite, false, 0}; break;
        case InstallFailed: look = {L"重新安装", primary, kTextWhite, false, 0}; break;
        case Cancelled: look = {L"重新下载", primary, kTextWhite, false, 0}; break;
        case Installed: look = {L"已安装", kInstalledFill, kTextSuccess, false, 0}; break;
        case Installing: look = {L"安装中", kInstalledFill, kTextSuccess, false, 0}; break;
        case InstallQueued: look = {L"等待安装", kNeutralFill, kTextSecondary, false, 0}; break;
        case Paused: {
            const int percent = progressPercent(task->receivedBytes, task->size);
            wchar_t label[24];
            std::swprintf(label, 24, L"已暂停 %d%%", percent);
            look = {label, kNeutralFill, kTextSecondary, true, percent};
            break;
        }
        default:
            look = hasPackage ? CardButtonLook{L"安 装", primary, kTextWhite, false, 0}
                              : CardButtonLook{L"敬请期待", kNeutralFill, kTextDisabled, false, 0};
            break;
    }
    return look;
}

CardButtonLook cardButtonFor(const AppInfo& app, const TaskSnapshot* task, bool hovered, InstalledLook installed) {
    return cardButtonLook(task, app.hasPackage, hovered, installed, !task || listsTaskPackage(&app, *task));
}

std::wstring cardMetaLine(int64_t packageSize, int64_t updatedAt) {
    const std::wstring size = packageSize > 0 ? formatSize(packageSize) : std::wstring();
    const std::wstring date = formatDate(updatedAt);
    if (date.empty()) return size;
    return size + (size.empty() ? L"" : L" · ") + date + L"更新";
}

std::wstring catalogueHeading(const std::wstring& categoryName, size_t appCount, bool hasCategories) {
    if (categoryName.empty() && !hasCategories) return L"暂无分类";
    return categoryName + L" · " + std::to_wstring(appCount) + L" 款";
}

std::wstring searchHeading(const std::wstring& query, size_t resultCount) {
    return L"搜索“" + query + L"” · " + std::to_wstring(resultCount) + L" 款";
}

std::wstring fittedSearchHeading(const std::wstring& query, size_t resultCount, int maxWidth,
                                 const std::function<int(const std::wstring&)>& measure) {
    std::wstring heading = searchHeading(query, resultCount);
    for (size_t kept = query.size(); kept > 0 && measure(heading) > maxWidth;) {
        --kept;
        if (kept > 0 && IS_HIGH_SURROGATE(query[kept - 1])) --kept;  // never half a character
        heading = searchHeading(query.substr(0, kept) + L"…", resultCount);
    }
    return heading;
}

std::wstring offlineNotice(int64_t confirmedAtMs, int32_t utcOffsetMinutes) {
    constexpr int64_t kMsPerDay = 86400000;
    const int64_t local = confirmedAtMs + static_cast<int64_t>(utcOffsetMinutes) * 60000;
    if (confirmedAtMs <= 0 || local < 0 || local / kMsPerDay > 2932896) return L"离线模式";  // up to 9999-12-31
    // Days since 1970-01-01 to a civil date (proleptic Gregorian), by 400-year eras.
    const int64_t days = local / kMsPerDay + 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    const int64_t minuteOfDay = (local % kMsPerDay) / 60000;
    wchar_t text[64];
    std::swprintf(text, 64, L"离线模式 · 目录更新于 %04d-%02d-%02d %02d:%02d", year, month, day,
                  static_cast<int>(minuteOfDay / 60), static_cast<int>(minuteOfDay % 60));
    return text;
}

std::wstring downloadPageHeading(size_t taskCount) {
    wchar_t text[64];
    std::swprintf(text, 64, L"下载管理 · %d 个任务", static_cast<int>(taskCount));
    return text;
}

std::wstring updatesPageHeading(size_t appCount) {
    wchar_t text[64];
    std::swprintf(text, 64, L"软件升级 · %d 款", static_cast<int>(appCount));
    return text;
}

std::wstring updateRowDetail(const std::wstring& installedVersion, const std::wstring& availableVersion,
                             int64_t packageSize, int64_t updatedAt) {
    const std::wstring meta = cardMetaLine(packageSize, updatedAt);
    std::wstring text = installedVersion + L" → " + availableVersion;
    return meta.empty() ? text : text + L" · " + meta;
}

ColouredText downloadRowTitle(const TaskSnapshot& task) {
    if (task.state == Completed && !task.md5Ok) return {task.name + L"  (MD5 校验不一致)", palette::kTextError};
    if (task.state == Completed && task.signature == SignatureBroken)
        return {task.name + L"  (签名无效)", palette::kTextError};
    if (task.state == Completed && task.publisherVerdict == PublisherVerdict::Refused)
        return {task.name + L"  (发布者不符)", palette::kTextError};
    return {task.name, palette::kTextPrimary};
}

std::wstring signatureNote(const TaskSnapshot& task) {
    if (task.isArchive) return std::wstring();
    switch (task.signature) {
        case SignatureValid: return task.publisher.empty() ? L" · 已签名" : L" · 发布者：" + task.publisher;
        case SignatureUnsigned: return L" · 未签名";
        case SignatureUntrusted: return L" · 签名未受信任";
        default: return std::wstring();
    }
}

ColouredText downloadRowStatus(const TaskSnapshot& task) {
    using namespace palette;
    switch (task.state) {
        case Downloading: {
            std::wstring text = formatSize(task.receivedBytes) + L" / " + formatSize(task.size) + L" · " +
                                formatSpeed(static_cast<int32_t>(task.speed));
            if (task.retryCount > 0) text += L" · 网络波动，正在重试";
            if (!task.sourceHost.empty()) text += L" · 来源：" + task.sourceHost;
            return {text, kTextTertiary};
        }
        case Verifying: return {L"正在校验文件...", kTextTertiary};
        case Completed:
            if (task.isArchive) return {L"下载成功 · 压缩包已保存", kTextSuccess};
            if (task.signature == SignatureBroken) return {L"下载完成 · 签名无效，已禁止安装", kTextError};
            if (task.publisherVerdict == PublisherVerdict::Refused)
                return {L"下载完成 · " + std::wstring(PublisherMismatchMessage), kTextError};
            // Nothing vouched for the bytes: the line says so in the caution colour.
            if (task.unverified) return {L"下载完成" + signatureNote(task) + L" · 未校验", kTextWarning};
            return {L"下载完成" + signatureNote(task), kTextSuccess};
        case Failed: return {L"下载失败：" + downloadFaultText(task), kTextError};
        case Cancelled: return {L"已取消", kTextTertiary};
        case Installed:
            if (task.restartNeeded) return {L"安装完成，重启后生效" + signatureNote(task), kTextSuccess};
            return {L"安装完成" + signatureNote(task), kTextSuccess};
        case Installing: return {L"正在安装，请稍候..." + signatureNote(task), kTextSuccess};
        case InstallCancelled: return {L"安装已取消，可点击右侧按钮重新安装", kTextError};
        case InstallQueued:
            if (task.waitsForRestart) return {L"重启后继续", kTextTertiary};
            return {L"等待安装，当前的安装结束后自动开始" + signatureNote(task), kTextTertiary};
        case InstallFailed:
            return {L"安装失败（错误码 " + std::to_wstring(task.installerExitCode) + L"）", kTextError};
        case Paused:
            return {formatSize(task.receivedBytes) + L" / " + formatSize(task.size) + L" · 已暂停", kTextTertiary};
    }
    return {L"", kTextTertiary};
}

ColouredText noticeStatusLine(const NoticeFacts& facts) {
    using namespace palette;
    if (facts.isArchive) return {L"下载成功，压缩包已保存", facts.verified ? kTextSecondary : kTextWarning};
    if (!facts.verified) return {L"下载完成，校验不一致，请谨慎安装", kTextWarning};
    if (facts.signature == SignatureBroken) return {L"下载完成，签名无效，已禁止安装", kTextWarning};
    if (facts.publisherRefused) return {PublisherMismatchMessage, kTextWarning};
    if (facts.unverified) return {L"下载完成，无法校验，未自动安装", kTextWarning};
    if (!facts.installStarted) return {L"下载完成，尚未安装", kTextSecondary};  // the toast says why
    return {facts.silent ? L"下载完成，已开始安装" : L"下载完成，已打开安装向导", kTextSecondary};
}

ColouredText noticePublisherLine(const NoticeFacts& facts) {
    if (facts.isArchive) return {L"", palette::kTextTertiary};
    switch (facts.signature) {
        case SignatureValid:
            return {facts.publisher.empty() ? L"已签名" : L"发布者：" + facts.publisher, palette::kTextTertiary};
        case SignatureUnsigned: return {L"未签名", palette::kTextTertiary};
        case SignatureUntrusted: return {L"签名未受信任", palette::kTextTertiary};
        default: return {L"", palette::kTextTertiary};
    }
}

RowBarFill downloadRowBarFill(const TaskSnapshot& task) {
    switch (task.state) {
        case Downloading:
        case Paused: return RowBarFill::Progress;
        case Completed:
        case Installed:
        case Installing:
        case InstallQueued:
        case InstallCancelled:
        case InstallFailed: return RowBarFill::Finished;
        case Failed: return RowBarFill::Failed;
        default: return RowBarFill::None;
    }
}

bool listsTaskPackage(const AppInfo* app, const TaskSnapshot& task) {
    return app && task.md5 == app->md5 && task.sha256 == app->sha256 &&
           (task.version.empty() || task.version == app->version);
}

std::vector<RowButton> downloadRowButtons(const TaskSnapshot& task, bool listed) {
    switch (task.state) {
        // 取消 keeps its place from the first byte to the end of the check, and 暂停 and 继续 share the
        // place beside it: a click meant for one never lands on 取消 because the state changed under it.
        case Downloading:
            return {{HitKind::RowCancel, L"取消", RowSlot::Primary, false},
                    {HitKind::RowPause, L"暂停", RowSlot::Second, false}};
        case Verifying: return {{HitKind::RowCancel, L"取消", RowSlot::Primary, false}};
        case Paused:
            if (!listed)
                return {{HitKind::RowCancel, L"取消", RowSlot::Primary, false},
                        {HitKind::RowRetry, L"重新下载", RowSlot::Second, true}};
            return {{HitKind::RowCancel, L"取消", RowSlot::Primary, false},
                    {HitKind::RowResume, L"继续", RowSlot::Second, true}};
        case Completed:
        case InstallCancelled:
            if (task.isArchive) return {{HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Wide, false}};
            if (refusedPackage(task)) return {{HitKind::RowRetry, L"重新下载", RowSlot::Primary, true}};
            return {{HitKind::RowInstall, L"安装", RowSlot::Primary, true},
                    {HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Second, false}};
        case InstallFailed:
            return {{HitKind::RowInstall, L"重新安装", RowSlot::Primary, true},
                    {HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Second, false}};
        case Failed:
        case Cancelled: return {{HitKind::RowRetry, L"重试", RowSlot::Primary, true}};
        case Installed:
        case Installing:
        case InstallQueued: return {{HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Wide, false}};
    }
    return {};
}

const wchar_t ServiceTroubleMessage[] = L"抱歉，Quillbox网络出现点小问题，工程师正在修复中，请稍后再试";
const wchar_t PublisherMismatchMessage[] = L"安装包发布者与目录不符，已禁止安装";

bool refusedPackage(const TaskSnapshot& task) {
    return !task.md5Ok || task.publisherVerdict == PublisherVerdict::Refused;
}

const wchar_t ProxyAuthMessage[] = L"代理需要身份验证";

std::wstring downloadFaultText(const TaskSnapshot& task) {
    switch (task.error.fault) {
        case DownloadFault::None: break;
        // A proxy that kept its 407 stops every download until the user logs in to it.
        case DownloadFault::ServiceTrouble: return task.error.httpStatus == 407 ? ProxyAuthMessage : ServiceTroubleMessage;
        case DownloadFault::CannotCreate: return L"无法创建下载文件";
        case DownloadFault::CannotOpen: return L"无法打开下载文件";
        case DownloadFault::CannotWrite: return L"磁盘写入失败";
        case DownloadFault::CannotSave: return L"保存文件失败（文件被占用？）";
        case DownloadFault::NoSpace: return L"磁盘空间不足";
        case DownloadFault::SignatureBroken: return L"安装包签名无效，已禁止安装";
        case DownloadFault::PublisherMismatch: return PublisherMismatchMessage;
    }
    return std::wstring();
}

std::wstring namedFew(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < 3; ++i) text += (i ? L"、「" : L"「") + names[i] + L"」";
    if (names.size() > 3) text += L"等 " + std::to_wstring(names.size()) + L" 款";
    return text;
}

BatchSummary batchSummary(const InstallBatch& batch) {
    std::vector<std::wstring> skipped, failed;
    size_t done = 0;
    for (const BatchItem& item : batch.items) {
        if (item.outcome == BatchOutcome::Done) ++done;
        if (item.outcome == BatchOutcome::Skipped) skipped.push_back(item.name);
        if (item.outcome == BatchOutcome::Failed) failed.push_back(item.name);
    }
    BatchSummary summary;
    summary.title = (batch.kind == BatchKind::Update ? L"已升级 " : L"已安装 ") + std::to_wstring(done) + L" 款";
    if (!skipped.empty()) summary.skipped = L"已跳过：" + namedFew(skipped);
    if (!failed.empty()) summary.failed = L"失败：" + namedFew(failed);
    return summary;
}

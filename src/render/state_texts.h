#pragma once
// What the cards, download rows and notice say and in which colours, by task state.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "downloads/download_manager.h"
#include "downloads/install_batch.h"
#include "model/hit_region.h"
#include "render/layout.h"
#include "service/catalogue.h"

// Received share of the total in whole percent; 0 while the total is unknown.
int progressPercent(int64_t receivedBytes, int64_t totalBytes);

struct CardButtonLook {
    std::wstring label;
    uint32_t fill = 0;      // 0xAARRGGBB
    uint32_t labelRgb = 0;  // #RRGGBB
    bool showsProgress = false;
    int percent = 0;
};
// What the uninstall registrations say of an app, for its card.
enum class InstalledLook { NotInstalled, Installed, Updatable, Uninstalling };
// The card's action button for an app without a task (task null) or with one. An app without a task,
// or whose last task failed or was cancelled, that Windows lists as installed shows "已安装", or
// "升 级" when the catalogue has a newer version; while its uninstaller runs, "卸载中" whatever else. An
// installed task whose package the catalogue no longer lists (taskPackageListed false) gives way to "升 级".
CardButtonLook cardButtonLook(const TaskSnapshot* task, bool hasPackage, bool hovered,
                              InstalledLook installed = InstalledLook::NotInstalled, bool taskPackageListed = true);
// The same for an app's record and its task (null for none), the task's package judged against the record.
CardButtonLook cardButtonFor(const AppInfo& app, const TaskSnapshot* task, bool hovered, InstalledLook installed);

// "12.5 MB · 03-01更新", the size alone, or empty.
std::wstring cardMetaLine(int64_t packageSize, int64_t updatedAt);
// "常用软件 · 12 款"; "暂无分类" when there is no category at all.
std::wstring catalogueHeading(const std::wstring& categoryName, size_t appCount, bool hasCategories);
// "搜索“xhbj” · 3 款". Where that is wider than maxWidth (as measure gives text widths) the query is cut
// with "…", so that the count still shows.
std::wstring searchHeading(const std::wstring& query, size_t resultCount);
std::wstring fittedSearchHeading(const std::wstring& query, size_t resultCount, int maxWidth,
                                 const std::function<int(const std::wstring&)>& measure);
// "离线模式 · 目录更新于 2026-12-08 14:30": the cached catalogue's time (UTC ms) shown at a UTC offset
// in minutes; "离线模式" alone when the time is unknown.
std::wstring offlineNotice(int64_t confirmedAtMs, int32_t utcOffsetMinutes);
std::wstring downloadPageHeading(size_t taskCount);
// "软件升级 · 3 款".
std::wstring updatesPageHeading(size_t appCount);
// "1.0.2 → 2.0.4 · 12.5 MB · 03-01更新": the installed and the catalogue's version, then the card's meta.
std::wstring updateRowDetail(const std::wstring& installedVersion, const std::wstring& availableVersion,
                             int64_t packageSize, int64_t updatedAt);

struct ColouredText {
    std::wstring text;
    uint32_t rgb = 0;
};
ColouredText downloadRowTitle(const TaskSnapshot& task);
ColouredText downloadRowStatus(const TaskSnapshot& task);
// " · 发布者：…", " · 未签名" or " · 签名未受信任" for a checked installer; empty otherwise.
std::wstring signatureNote(const TaskSnapshot& task);

struct NoticeFacts {
    bool verified = true;  // every digest the catalogue gave matched
    bool isArchive = false;
    bool unverified = false;  // the catalogue gave no digest
    uint32_t signature = SignatureUnchecked;
    std::wstring publisher;
    bool silent = false;  // its installer runs without a window
    bool installStarted = true;  // false: put off (its app runs, its uninstaller runs, a stop) or refused
    bool publisherRefused = false;  // not signed by the publisher the catalogue pins
};
ColouredText noticeStatusLine(const NoticeFacts& facts);
// The notice's line under the status for an installer ("发布者：…", "未签名"); empty text for none.
ColouredText noticePublisherLine(const NoticeFacts& facts);

enum class RowBarFill { None, Progress, Finished, Failed };
RowBarFill downloadRowBarFill(const TaskSnapshot& task);

struct RowButton {
    HitKind kind;
    const wchar_t* label;
    RowSlot slot;
    bool primary;  // filled blue; otherwise outlined
};
// `listed`: the catalogue lists the package a paused task's bytes are of; one it no longer lists (or a
// journal's entry for an app it does not have) offers only 取消 and 重新下载.
std::vector<RowButton> downloadRowButtons(const TaskSnapshot& task, bool listed = true);
// Whether the catalogue's record gives the digests the task's bytes are checked against, and the version
// its download was started for (where the task knows it).
bool listsTaskPackage(const AppInfo* app, const TaskSnapshot& task);

// What the window says when the service lets a download down.
extern const wchar_t ServiceTroubleMessage[];
// What the window says of an installer not signed by the publisher the catalogue pins.
extern const wchar_t PublisherMismatchMessage[];
// The bytes are never installed: their digest did not match, or their signer is not the pinned one.
bool refusedPackage(const TaskSnapshot& task);
// What it says when a proxy wants credentials it did not get.
extern const wchar_t ProxyAuthMessage[];
// Why a failed task failed, in words ("磁盘空间不足"); empty when it has no error.
std::wstring downloadFaultText(const TaskSnapshot& task);

// "已升级 2 款" (or "已安装 2 款" for a list), and the lines naming what was skipped and what failed,
// three names at most and then "等 N 款"; a line is empty when nothing was.
struct BatchSummary {
    std::wstring title;
    std::wstring skipped;
    std::wstring failed;
};
BatchSummary batchSummary(const InstallBatch& batch);
// "「甲」、「乙」、「丙」等 5 款"; the names as given when there are three or fewer.
std::wstring namedFew(const std::vector<std::wstring>& names);

#include <gtest/gtest.h>

#include "render/palette.h"
#include "render/state_texts.h"
#include "downloads/install_batch.h"

namespace {

TaskSnapshot task(uint32_t state, int64_t received = 0, int64_t total = 0) {
    TaskSnapshot t;
    t.appId = 9;
    t.name = L"星河笔记";
    t.state = state;
    t.receivedBytes = received;
    t.size = total;
    return t;
}

TEST(StateTexts, CardButtonByState) {
    using namespace palette;
    struct Case {
        int state;  // -1: no task
        bool hasPackage, isArchive, hovered;
        const wchar_t* label;
        uint32_t fill, labelRgb;
        bool progress;
        InstalledLook installed = InstalledLook::NotInstalled;
    };
    const Case cases[] = {
        {-1, false, false, false, L"敬请期待", kNeutralFill, kTextDisabled, false},
        {-1, false, false, true, L"敬请期待", kNeutralFill, kTextDisabled, false},  // neutral ignores hover
        {-1, true, false, false, L"安 装", kPrimary, kTextWhite, false},
        {-1, true, false, true, L"安 装", kPrimaryHover, kTextWhite, false},
        {Downloading, true, false, true, L"下载中 25%", kNeutralFill, kTextAccent, true},
        {Verifying, true, false, false, L"校验中", kNeutralFill, kTextAccent, true},
        {Completed, true, false, false, L"立即安装", kPrimary, kTextWhite, false},
        {Completed, true, true, true, L"打开文件夹", kPrimaryHover, kTextWhite, false},
        {InstallCancelled, true, false, false, L"立即安装", kPrimary, kTextWhite, false},
        {InstallCancelled, true, true, false, L"打开文件夹", kPrimary, kTextWhite, false},
        {Failed, true, false, false, L"重试", kPrimary, kTextWhite, false},
        {Cancelled, true, false, true, L"重新下载", kPrimaryHover, kTextWhite, false},
        {Installed, true, false, true, L"已安装", kInstalledFill, kTextSuccess, false},  // green ignores hover
        {Installing, true, false, false, L"安装中", kInstalledFill, kTextSuccess, false},
        {InstallQueued, true, false, true, L"等待安装", kNeutralFill, kTextSecondary, false},
        {Paused, true, false, true, L"已暂停 25%", kNeutralFill, kTextSecondary, true},
        // A task wins over a missing package: a finished download still says what it is.
        {Completed, false, false, false, L"立即安装", kPrimary, kTextWhite, false},
        {Installed, false, false, false, L"已安装", kInstalledFill, kTextSuccess, false},
        // Listed by Windows: installed, or older than the catalogue; a task under way still wins.
        {-1, true, false, true, L"已安装", kInstalledFill, kTextSuccess, false, InstalledLook::Installed},
        {-1, true, false, false, L"升 级", kUpdate, kTextWhite, false, InstalledLook::Updatable},
        {-1, true, false, true, L"升 级", kUpdateHover, kTextWhite, false, InstalledLook::Updatable},
        {-1, false, false, false, L"已安装", kInstalledFill, kTextSuccess, false, InstalledLook::Updatable},
        {Failed, true, false, false, L"升 级", kUpdate, kTextWhite, false, InstalledLook::Updatable},
        {Cancelled, true, false, false, L"已安装", kInstalledFill, kTextSuccess, false, InstalledLook::Installed},
        {Downloading, true, false, false, L"下载中 25%", kNeutralFill, kTextAccent, true, InstalledLook::Updatable},
        {Paused, true, false, false, L"已暂停 25%", kNeutralFill, kTextSecondary, true, InstalledLook::Updatable},
        {Paused, true, false, false, L"已暂停 25%", kNeutralFill, kTextSecondary, true, InstalledLook::Installed},
        {Completed, true, false, false, L"立即安装", kPrimary, kTextWhite, false, InstalledLook::Updatable},
        // While its uninstaller runs the card says so, whatever its task or a newer version would say.
        {-1, true, false, true, L"卸载中", kNeutralFill, kTextSecondary, false, InstalledLook::Uninstalling},
        {Installed, true, false, false, L"卸载中", kNeutralFill, kTextSecondary, false, InstalledLook::Uninstalling},
        {InstallQueued, true, false, false, L"等待安装", kNeutralFill, kTextSecondary, false, InstalledLook::Updatable},
    };
    for (const Case& c : cases) {
        TaskSnapshot t = task(c.state < 0 ? 0 : c.state, 250, 1000);
        t.isArchive = c.isArchive;
        const CardButtonLook look = cardButtonLook(c.state < 0 ? nullptr : &t, c.hasPackage, c.hovered, c.installed);
        EXPECT_EQ(look.label, c.label) << c.state;
        EXPECT_EQ(look.percent, c.progress ? 25 : 0) << c.state;
        EXPECT_EQ(look.fill, c.fill) << c.state;
        EXPECT_EQ(look.labelRgb, c.labelRgb) << c.state;
        EXPECT_EQ(look.showsProgress, c.progress) << c.state;
    }
    // An update whose installer failed (the user cancelled it) is offered again; a reinstall stays installed.
    TaskSnapshot cancelledUpdate = task(Installed, 0, 0);
    cancelledUpdate.installerFailed = true;
    EXPECT_EQ(cardButtonLook(&cancelledUpdate, true, false, InstalledLook::Updatable).label, L"升 级");
    EXPECT_EQ(cardButtonLook(&cancelledUpdate, true, false, InstalledLook::Installed).label, L"已安装");
    // Installed from a package the catalogue has replaced since: its newer version is offered.
    TaskSnapshot installed = task(Installed, 0, 0);
    installed.version = L"1.0";
    AppInfo newer;
    newer.version = L"2.0";  // no digests: the version tells the packages apart
    EXPECT_FALSE(listsTaskPackage(&newer, installed));
    newer.version = L"1.0";
    EXPECT_TRUE(listsTaskPackage(&newer, installed));
    EXPECT_EQ(cardButtonLook(&installed, true, false, InstalledLook::Updatable, false).label, L"升 级");
    EXPECT_EQ(cardButtonLook(&installed, true, false, InstalledLook::Updatable, true).label, L"已安装");
    EXPECT_EQ(cardButtonLook(&installed, true, false, InstalledLook::Installed, false).label, L"已安装");
}

TEST(StateTexts, CardProgressLabelAndPercent) {
    struct Case {
        int64_t received, total;
        int percent;
        const wchar_t* label;
    };
    const Case cases[] = {
        {0, 1000, 0, L"下载中 0%"},      {5, 1000, 0, L"下载中 0%"},    {500, 1000, 50, L"下载中 50%"},
        {999, 1000, 99, L"下载中 99%"},  {1000, 1000, 100, L"下载中 100%"},
        {700, 0, 0, L"下载中 0%"},       // unknown total
        {3000000000LL, 6000000000LL, 50, L"下载中 50%"},  // beyond 32 bits
    };
    for (const Case& c : cases) {
        const TaskSnapshot t = task(Downloading, c.received, c.total);
        const CardButtonLook look = cardButtonLook(&t, true, false);
        EXPECT_EQ(look.percent, c.percent) << c.received << "/" << c.total;
        EXPECT_EQ(look.label, c.label);
    }
}

TEST(StateTexts, DownloadRowStatusByState) {
    using namespace palette;
    struct Case {
        uint32_t state;
        bool isArchive;
        int retries;
        uint32_t speed;
        const wchar_t* text;
        uint32_t rgb;
        uint32_t signature = SignatureUnchecked;
        bool unverified = false;
        const wchar_t* host = L"";  // where the bytes come from, named only while they come
    };
    const Case cases[] = {
        {Downloading, false, 0, 1536, L"512 KB / 1.0 MB · 1 KB/s", kTextTertiary},
        {Downloading, false, 0, 0, L"512 KB / 1.0 MB · ", kTextTertiary},  // no speed yet: the line ends in " · "
        {Downloading, false, 2, 2097152, L"512 KB / 1.0 MB · 2.0 MB/s · 网络波动，正在重试", kTextTertiary},
        {Downloading, false, 1, 0, L"512 KB / 1.0 MB ·  · 网络波动，正在重试 · 来源：m.example:8080", kTextTertiary,
         SignatureUnchecked, false, L"m.example:8080"},
        {Verifying, false, 0, 0, L"正在校验文件...", kTextTertiary, SignatureUnchecked, false, L"m.example"},
        {Paused, false, 2, 2097152, L"512 KB / 1.0 MB · 已暂停", kTextTertiary},  // no speed, no retry note
        {Completed, false, 0, 0, L"下载完成", kTextSuccess},
        {Completed, true, 0, 0, L"下载成功 · 压缩包已保存", kTextSuccess},
        {Failed, false, 0, 0, L"下载失败：磁盘空间不足", kTextError},
        {Cancelled, false, 0, 0, L"已取消", kTextTertiary},
        {Installed, false, 0, 0, L"安装完成", kTextSuccess},
        {Installing, false, 0, 0, L"正在安装，请稍候...", kTextSuccess},
        {InstallCancelled, false, 0, 0, L"安装已取消，可点击右侧按钮重新安装", kTextError},
        {InstallQueued, false, 0, 0, L"等待安装，当前的安装结束后自动开始 · 发布者：星河软件", kTextTertiary,
         SignatureValid},
        // Who signed an installer, once it was checked.
        {Completed, false, 0, 0, L"下载完成 · 发布者：星河软件", kTextSuccess, SignatureValid},
        {Completed, false, 0, 0, L"下载完成 · 未签名 · 未校验", kTextWarning, SignatureUnsigned, true},
        {Completed, false, 0, 0, L"下载完成 · 签名未受信任", kTextSuccess, SignatureUntrusted},
        {Completed, false, 0, 0, L"下载完成 · 签名无效，已禁止安装", kTextError, SignatureBroken},
        {Completed, true, 0, 0, L"下载成功 · 压缩包已保存", kTextSuccess, SignatureUnchecked, true},
        {Installing, false, 0, 0, L"正在安装，请稍候... · 发布者：星河软件", kTextSuccess, SignatureValid},
        {Installed, false, 0, 0, L"安装完成 · 未签名", kTextSuccess, SignatureUnsigned},
    };
    for (const Case& c : cases) {
        TaskSnapshot t = task(c.state, 524288, 1048576);
        t.signature = c.signature;
        t.publisher = c.signature == SignatureValid ? L"星河软件" : L"";
        t.unverified = c.unverified;
        t.isArchive = c.isArchive;
        t.retryCount = c.retries;
        t.speed = c.speed;
        t.error.fault = DownloadFault::NoSpace;
        t.sourceHost = c.host;
        const ColouredText status = downloadRowStatus(t);
        EXPECT_EQ(status.text, c.text) << c.state;
        EXPECT_EQ(status.rgb, c.rgb) << c.state;
    }
}

TEST(StateTexts, DownloadRowTitleWarnsOfADigestMismatchOnlyWhenCompleted) {
    TaskSnapshot t = task(Completed);
    t.md5Ok = false;
    EXPECT_EQ(downloadRowTitle(t).text, L"星河笔记  (MD5 校验不一致)");
    EXPECT_EQ(downloadRowTitle(t).rgb, palette::kTextError);
    t.state = Installed;
    EXPECT_EQ(downloadRowTitle(t).text, L"星河笔记");
    EXPECT_EQ(downloadRowTitle(t).rgb, palette::kTextPrimary);
    t.state = Completed;
    t.md5Ok = true;
    EXPECT_EQ(downloadRowTitle(t).text, L"星河笔记");
    t.signature = SignatureBroken;
    EXPECT_EQ(downloadRowTitle(t).text, L"星河笔记  (签名无效)");
    EXPECT_EQ(downloadRowTitle(t).rgb, palette::kTextError);
}

TEST(StateTexts, DownloadRowButtonsAndBarsByState) {
    struct Case {
        uint32_t state;
        bool isArchive;
        std::vector<RowButton> buttons;
        RowBarFill bar;
    };
    const RowButton cancel{HitKind::RowCancel, L"取消", RowSlot::Primary, false};
    const RowButton pause{HitKind::RowPause, L"暂停", RowSlot::Second, false};
    const RowButton resume{HitKind::RowResume, L"继续", RowSlot::Second, true};
    const RowButton install{HitKind::RowInstall, L"安装", RowSlot::Primary, true};
    const RowButton folder{HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Second, false};
    const RowButton wideFolder{HitKind::RowOpenFolder, L"打开文件夹", RowSlot::Wide, false};
    const RowButton retry{HitKind::RowRetry, L"重试", RowSlot::Primary, true};
    const Case cases[] = {
        {Downloading, false, {cancel, pause}, RowBarFill::Progress},
        {Verifying, false, {cancel}, RowBarFill::None},
        {Paused, false, {cancel, resume}, RowBarFill::Progress},  // the bar keeps what was received
        {Completed, false, {install, folder}, RowBarFill::Finished},
        {Completed, true, {wideFolder}, RowBarFill::Finished},
        {InstallCancelled, false, {install, folder}, RowBarFill::Finished},
        {InstallCancelled, true, {wideFolder}, RowBarFill::Finished},
        {Failed, false, {retry}, RowBarFill::Failed},
        {Cancelled, false, {retry}, RowBarFill::None},
        {Installed, false, {wideFolder}, RowBarFill::Finished},
        {Installing, false, {wideFolder}, RowBarFill::Finished},  // no cancel while the installer runs
        {InstallQueued, false, {wideFolder}, RowBarFill::Finished},
    };
    for (const Case& c : cases) {
        TaskSnapshot t = task(c.state);
        t.isArchive = c.isArchive;
        const std::vector<RowButton> buttons = downloadRowButtons(t);
        ASSERT_EQ(buttons.size(), c.buttons.size()) << c.state;
        for (size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i].kind, c.buttons[i].kind) << c.state;
            EXPECT_STREQ(buttons[i].label, c.buttons[i].label) << c.state;
            EXPECT_EQ(buttons[i].slot, c.buttons[i].slot) << c.state;
            EXPECT_EQ(buttons[i].primary, c.buttons[i].primary) << c.state;
        }
        EXPECT_EQ(downloadRowBarFill(t), c.bar) << c.state;
    }
}

TEST(StateTexts, OfflineNoticeShowsTheCataloguesLocalTime) {
    const struct {
        int64_t utcMs;
        int32_t offsetMinutes;
        const wchar_t* text;
    } cases[] = {
        {1796711400000, 480, L"离线模式 · 目录更新于 2026-12-08 14:30"},  // 06:30 UTC in UTC+8
        {1796711400000, 0, L"离线模式 · 目录更新于 2026-12-08 06:30"},
        {1796711400000, -420, L"离线模式 · 目录更新于 2026-12-07 23:30"},  // the day before
        {1798732800000, 480, L"离线模式 · 目录更新于 2027-01-01 00:00"},   // into the new year
        {1709251199000, 0, L"离线模式 · 目录更新于 2024-02-29 23:59"},     // leap day, seconds dropped
        {1709251199000, 1, L"离线模式 · 目录更新于 2024-03-01 00:00"},
        {951868800000 - 60000, 0, L"离线模式 · 目录更新于 2000-02-29 23:59"},
        {253402300740000, 0, L"离线模式 · 目录更新于 9999-12-31 23:59"},
        {253402300740000, 60, L"离线模式"},  // past what four digits hold
        {0, 480, L"离线模式"},                 // never confirmed: no date to show
        {-1, 0, L"离线模式"},
        {60000, -5, L"离线模式"},  // before 1970 in local time
    };
    for (const auto& c : cases)
        EXPECT_EQ(offlineNotice(c.utcMs, c.offsetMinutes), c.text) << c.utcMs << " at " << c.offsetMinutes;
}

TEST(StateTexts, HeadingsAndMetaLines) {
    EXPECT_EQ(catalogueHeading(L"常用软件", 12, true), L"常用软件 · 12 款");
    EXPECT_EQ(catalogueHeading(L"", 0, false), L"暂无分类");
    EXPECT_EQ(catalogueHeading(L"", 0, true), L" · 0 款");  // a selection that matches no category
    EXPECT_EQ(searchHeading(L"xhbj", 3), L"搜索“xhbj” · 3 款");
    EXPECT_EQ(searchHeading(L"星河 笔记", 0), L"搜索“星河 笔记” · 0 款");
    EXPECT_EQ(downloadPageHeading(0), L"下载管理 · 0 个任务");
    EXPECT_EQ(downloadPageHeading(7), L"下载管理 · 7 个任务");

    EXPECT_EQ(cardMetaLine(0, 0), L"");
    EXPECT_EQ(cardMetaLine(-5, 0), L"");
    EXPECT_EQ(cardMetaLine(1572864, 0), L"1.5 MB");
    // Mid-month at noon UTC is the same day in every time zone.
    const int64_t june15 = 1718452800000LL;
    EXPECT_EQ(cardMetaLine(1572864, june15), L"1.5 MB · 06-15更新");
    EXPECT_EQ(cardMetaLine(0, june15), L"06-15更新");
}

// A query too wide for the heading is cut at its end, never in the middle of a character, so the
// count stays in view.
TEST(StateTexts, ASearchHeadingIsCutToFitAndKeepsItsCount) {
    const auto tenPerCharacter = [](const std::wstring& text) { return static_cast<int>(text.size()) * 10; };
    const std::wstring pair = L"\U0001F600";  // one character, two UTF-16 units
    struct Case {
        std::wstring query;
        int maxWidth;
        std::wstring heading;
    };
    const Case cases[] = {
        {L"abcdef", 160, L"搜索“abcdef” · 3 款"},  // 16 units: fits exactly
        {L"abcdef", 159, L"搜索“abcd…” · 3 款"},
        {L"abcdef", 10, L"搜索“…” · 3 款"},  // nothing left to cut
        {L"ab" + pair + L"cd", 150, L"搜索“ab" + pair + L"…” · 3 款"},
        {L"ab" + pair + L"cd", 149, L"搜索“ab…” · 3 款"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fittedSearchHeading(c.query, 3, c.maxWidth, tenPerCharacter), c.heading) << c.maxWidth;
}

TEST(StateTexts, NoticeStatusLines) {
    using namespace palette;
    struct Case {
        NoticeFacts facts;
        const wchar_t* status;
        uint32_t rgb;
        const wchar_t* publisher;
    };
    const auto facts = [](bool verified, bool isArchive, bool unverified, uint32_t signature) {
        NoticeFacts f;
        f.verified = verified;
        f.isArchive = isArchive;
        f.unverified = unverified;
        f.signature = signature;
        f.publisher = signature == SignatureValid || signature == SignatureBroken ? L"星河软件" : L"";
        return f;
    };
    const Case cases[] = {
        {facts(true, false, false, SignatureUnchecked), L"下载完成，已打开安装向导", kTextSecondary, L""},
        {facts(true, true, false, SignatureUnchecked), L"下载成功，压缩包已保存", kTextSecondary, L""},
        {facts(false, false, false, SignatureUnchecked), L"下载完成，校验不一致，请谨慎安装", kTextWarning, L""},
        {facts(false, true, false, SignatureUnchecked), L"下载成功，压缩包已保存", kTextWarning, L""},
        {facts(true, false, false, SignatureValid), L"下载完成，已打开安装向导", kTextSecondary, L"发布者：星河软件"},
        {facts(true, false, false, SignatureUnsigned), L"下载完成，已打开安装向导", kTextSecondary, L"未签名"},
        {facts(true, false, true, SignatureUnsigned), L"下载完成，无法校验，未自动安装", kTextWarning, L"未签名"},
        {facts(true, false, false, SignatureBroken), L"下载完成，签名无效，已禁止安装", kTextWarning, L""},
        {facts(false, false, false, SignatureBroken), L"下载完成，校验不一致，请谨慎安装", kTextWarning, L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(noticeStatusLine(c.facts).text, c.status);
        EXPECT_EQ(noticeStatusLine(c.facts).rgb, c.rgb) << c.status;
        EXPECT_EQ(noticePublisherLine(c.facts).text, c.publisher) << c.status;
    }
    NoticeFacts silent = facts(true, false, false, SignatureValid);
    silent.silent = true;
    EXPECT_EQ(noticeStatusLine(silent).text, L"下载完成，已开始安装");
    silent.installStarted = false;
    EXPECT_EQ(noticeStatusLine(silent).text, L"下载完成，尚未安装");
    EXPECT_EQ(namedFew({L"甲", L"乙", L"丙"}), L"「甲」、「乙」、「丙」");
    EXPECT_EQ(namedFew({L"甲", L"乙", L"丙", L"丁", L"戊"}), L"「甲」、「乙」、「丙」等 5 款");
}

TEST(StateTexts, AFailedInstallOffersItsWizardAndARestartIsSaid) {
    TaskSnapshot task;
    task.name = L"星河笔记";
    task.state = InstallFailed;
    task.installerExitCode = 1603;
    EXPECT_EQ(downloadRowStatus(task).text, L"安装失败（错误码 1603）");
    EXPECT_EQ(cardButtonLook(&task, true, false).label, L"重新安装");
    EXPECT_EQ(std::wstring(downloadRowButtons(task).at(0).label), L"重新安装");
    task.state = Installed;
    task.restartNeeded = true;
    EXPECT_EQ(downloadRowStatus(task).text, L"安装完成，重启后生效");
    task.state = InstallQueued;
    task.waitsForRestart = true;
    EXPECT_EQ(downloadRowStatus(task).text, L"重启后继续");
    // A package whose digest did not match offers only a new download, on the card and the row.
    task.state = Completed;
    task.md5Ok = false;
    EXPECT_EQ(cardButtonLook(&task, true, false).label, L"重新下载");
    ASSERT_EQ(downloadRowButtons(task).size(), 1u);
    EXPECT_EQ(downloadRowButtons(task)[0].kind, HitKind::RowRetry);
    // A paused download whose package the catalogue no longer lists goes on only as a new download.
    task.state = Paused;
    EXPECT_EQ(downloadRowButtons(task, true)[1].kind, HitKind::RowResume);
    EXPECT_EQ(downloadRowButtons(task, false)[1].kind, HitKind::RowRetry);
    EXPECT_EQ(std::wstring(downloadRowButtons(task, false)[1].label), L"重新下载");
}

}  // namespace

#include "app/tray.h"

#include <gtest/gtest.h>

namespace {

using updates::Updatable;

TEST(TrayNotice, AnAutomaticBatchNamesWhatItInstalledAndWhatWaitsForAClick) {
    const std::vector<Updatable> four = {{1, L"甲", L"2"}, {2, L"乙", L"2"}, {3, L"丙", L"2"}, {4, L"丁", L"2"}};
    const std::vector<Updatable> one = {{5, L"戊", L"3"}};
    const TrayNotice both = autoUpdateNotice(four, one);
    EXPECT_EQ(both.title, L"已自动升级 4 款");
    EXPECT_EQ(both.text, L"「甲」、「乙」、「丙」 等\n1 款升级已下载，点击安装");
    EXPECT_EQ(autoUpdateNotice({}, one).title + autoUpdateNotice({}, one).text, L"1 款升级已下载，点击安装「戊」");
    EXPECT_TRUE(autoUpdateNotice({}, {}).title.empty());
}

}  // namespace

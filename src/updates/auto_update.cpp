#include "updates/auto_update.h"

namespace updates {

AutoInstall autoInstallFor(const PackageFacts& facts) {
    if (!facts.digestsMatch || facts.signatureBroken || facts.publisherRefused) return AutoInstall::Refused;
    // Only bytes a SHA-256 vouched for run unasked, and only without a window.
    if (facts.isArchive || !facts.sha256Given || !facts.silent) return AutoInstall::AwaitClick;
    return AutoInstall::Install;
}

AutoStart autoStartVerdict(const StartFacts& facts) {
    if (!facts.confirmed) return AutoStart::NotThisCheck;
    if (facts.onBattery && facts.batteryPercent >= 0 && facts.batteryPercent < kLowestBatteryPercent)
        return AutoStart::WaitForPower;
    const uint64_t idleNeeded = static_cast<uint64_t>(facts.idleMinutes > 0 ? facts.idleMinutes : 0) * 60 * 1000;
    return facts.idleMs >= idleNeeded ? AutoStart::Now : AutoStart::WaitForIdle;
}

std::wstring namedApps(const std::vector<Updatable>& apps) {
    std::wstring text;
    for (size_t i = 0; i < apps.size() && i < 3; ++i) text += (i ? L"、「" : L"「") + apps[i].name + L"」";
    return apps.size() > 3 ? text + L" 等" : text;
}

Notice autoUpdateNotice(const std::vector<Updatable>& installed, const std::vector<Updatable>& downloaded) {
    const std::wstring waiting =
        downloaded.empty() ? std::wstring() : std::to_wstring(downloaded.size()) + L" 款升级已下载，点击安装";
    if (installed.empty()) return {waiting, namedApps(downloaded)};
    Notice notice{L"已自动升级 " + std::to_wstring(installed.size()) + L" 款", namedApps(installed)};
    if (!waiting.empty()) notice.text += L"\n" + waiting;
    return notice;
}

}  // namespace updates

#include "updates/auto_update.h"

namespace updates {

AutoInstall autoInstallFor(const PackageFacts& facts) {
    if (!facts.digestsMatch || facts.signatureBroken || facts.publisherRefused) return AutoInstall::Refused;
    // Only bytes a SHA-256 vouched for run unasked, and only without a window.
    if (facts.isArchive || !facts.sha256Given || !facts.silent) return AutoInstall::AwaitClick;
    return AutoInstall::Install;
}

AutoStart autoStartVerdict(const StartFacts& facts) {
    if (!facts.confirmed || facts.metered) return AutoStart::NotThisCheck;
    if (facts.onBattery && facts.batteryPercent >= 0 && facts.batteryPercent < kLowestBatteryPercent)
        return AutoStart::WaitForPower;
    const uint64_t idleNeeded = static_cast<uint64_t>(facts.idleMinutes > 0 ? facts.idleMinutes : 0) * 60 * 1000;
    return facts.idleMs >= idleNeeded ? AutoStart::Now : AutoStart::WaitForIdle;
}

}  // namespace updates

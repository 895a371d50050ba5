#pragma once
// Automatic updates: which downloaded updates install unattended, when the program's own batch may
// start, and what its one notice says. Pure rules; the facts (the package's, the user's idle time,
// the battery, the check's answer) are handed in.
#include <cstdint>
#include <string>
#include <vector>

#include "updates/update_checks.h"

namespace updates {

// A downloaded update's package, as its task knows it.
struct PackageFacts {
    bool sha256Given = false;       // the catalogue gave the package's SHA-256
    bool digestsMatch = false;      // every digest the catalogue gave matched the bytes
    bool silent = false;            // its installer would run without a window (the 静默安装 setting included)
    bool signatureBroken = false;   // its installer's signature does not hold
    bool publisherRefused = false;  // the catalogue pins a publisher its signature does not carry
    bool isArchive = false;         // nothing to run: the user unpacks it
};

enum class AutoInstall {
    Install,     // its installer runs now, without a window
    AwaitClick,  // downloaded; its 安装 button on the updates page waits for the user
    Refused,     // never installed: the bytes or their signer are not the catalogue's
};
AutoInstall autoInstallFor(const PackageFacts& facts);

struct StartFacts {
    bool confirmed = false;  // the service confirmed the catalogue in this check (a fresh answer or a 304)
    uint64_t idleMs = 0;     // since the user last used the keyboard or the mouse
    int idleMinutes = 0;     // the autoUpdateIdleMinutes setting: 0 means any time
    bool onBattery = false;
    int batteryPercent = -1;  // -1 when the system does not know
    bool metered = false;     // the connection is metered and the checkOnMetered setting is off
};

enum class AutoStart {
    Now,
    NotThisCheck,  // the cached catalogue alone (nothing is installed on its word), or a metered connection
    WaitForIdle,   // the user is at the machine: look again later
    WaitForPower,  // on battery below 30 %: look again later
};
AutoStart autoStartVerdict(const StartFacts& facts);
// How long a batch that may not start yet waits before the next look.
constexpr uint32_t kAutoStartRetryMs = 60 * 1000;
constexpr int kLowestBatteryPercent = 30;

}  // namespace updates

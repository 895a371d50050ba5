#pragma once
// When the program checks for updates on its own, and which updatable apps its notice names: pure
// rules with the clock handed in, and the announced apps kept in the cache folder so that a restart
// announces nothing twice.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace updates {

// Milliseconds until the next check: `hours` after the last one began (lastCheckMs), 0 when one is
// due now or none ran yet in this run (lastCheckMs 0).
uint64_t msUntilNextCheck(uint64_t nowMs, uint64_t lastCheckMs, int hours);

// A check may run now: never on a metered connection unless allowed.
inline bool mayCheck(bool metered, bool checkOnMetered) { return !metered || checkOnMetered; }
// What the system's connection cost flags (NLM_CONNECTION_COST_*) say: metered when it is charged by
// use, roams, is congested, or is at or near its data limit. Unknown cost counts as not metered.
bool meteredCost(uint32_t costFlags);

struct Updatable {
    int32_t id = 0;
    std::wstring name;
    std::wstring version;  // the catalogue's, which the update brings
};

// The apps a notice has named, each at the version it named.
using Announced = std::map<int32_t, std::wstring>;

// The updatable apps no notice named at this version, in the order given.
std::vector<Updatable> toAnnounce(const std::vector<Updatable>& updatable, const Announced& announced);
// Adds what a notice named.
void markAnnounced(Announced& announced, const std::vector<Updatable>& named);

// The file's text and back; a file that is not what this writes gives an empty map.
std::string announcedText(const Announced& announced);
Announced parseAnnounced(const std::string& text);

// The kept file in the cache folder; empty when it is missing or unreadable.
Announced loadAnnounced();
bool saveAnnounced(const Announced& announced);

}  // namespace updates

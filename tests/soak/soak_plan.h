#pragma once
// Random fault scripts for the soak test, and what each must lead to. Pure logic: the same seed gives
// the same plans on every machine.
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// splitmix64: small, fast and fully specified, so a seed reproduces a run anywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, bound); 0 when bound is 0.
    uint64_t below(uint64_t bound);
    int64_t between(int64_t low, int64_t high);  // both ends included
    bool percent(uint32_t chance);

private:
    uint64_t state_;
};

// What a download must end in, given its script.
enum class Expect {
    Completes,          // at most 12 failed attempts and 4 failed probes: the file arrives whole
    ProbesExhausted,    // five failed probes
    HtmlProbe,          // the probe is answered with an HTML page
    Refused,            // the first transfer attempt gets a 4xx that is not worth retrying
    AttemptsExhausted,  // every one of the 13 transfer attempts fails
};

const char* expectName(Expect expect);

struct Package {
    int32_t appId = 0;
    int64_t size = 0;
    std::string md5;
};

struct Plan {
    int32_t appId = 0;
    int64_t sizeHint = 0;      // what the catalogue tells startDownload: the size, or 0 as if it had none
    std::string md5;           // the catalogue digest, or empty as if it had none
    int32_t expiringUses = 0;  // each download link serves this many requests; 0: links never expire
    std::vector<std::string> faults;  // JSON objects, consumed in order by the package file requests
    Expect expect = Expect::Completes;
    int probes = 1;         // probe requests the download makes (failed ones included)
    int transfers = -1;     // transfer requests it makes over one connection; -1 when the script leaves it open
    bool ranged = false;    // the probe gets its 206 with the size: the transfer may use several connections
    std::string summary;    // one line for reports

    std::string faultsJson() const;
};

// The plan of download number `index` of a run with `seed`; plans do not depend on the run's size.
Plan makePlan(uint64_t seed, uint64_t index, const Package& package);

}  // namespace soak

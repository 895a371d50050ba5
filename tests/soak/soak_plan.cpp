#include "soak_plan.h"

#include <algorithm>
#include <string>
#include <utility>

namespace soak {

uint64_t Random::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t Random::below(uint64_t bound) {
    if (bound == 0) return 0;
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;  // reject the uneven top so that all values are equally likely
    uint64_t value;
    do {
        value = next();
    } while (value >= limit);
    return value % bound;
}

int64_t Random::between(int64_t low, int64_t high) {
    return high <= low ? low : low + static_cast<int64_t>(below(static_cast<uint64_t>(high - low) + 1));
}

bool Random::percent(uint32_t chance) { return below(100) < chance; }

const char* expectName(Expect expect) {
    switch (expect) {
        case Expect::Completes: return "completes";
        case Expect::ProbesExhausted: return "fails: five probes fail";
        case Expect::HtmlProbe: return "fails: HTML probe";
        case Expect::Refused: return "fails: refused with 4xx";
        case Expect::AttemptsExhausted: return "fails: 13 attempts fail";
    }
    return "?";
}

std::string Plan::faultsJson() const {
    std::string out = "[";
    for (size_t i = 0; i < faults.size(); ++i) out += (i ? ", " : "") + faults[i];
    return out + "]";
}

namespace {

// How the transfer runs after the probe, which decides which faults the engine can recognise.
enum class Mode {
    Ranged,        // the probe got its 206: resumable transfers of the true size
    WholeTrue,     // plain GETs of a size known to be right
    WholeShort,    // plain GETs; the probe claimed a size smaller than the file
    WholeUnknown,  // plain GETs; no size from the catalogue or the probe
    WholeLong,     // plain GETs; the probe claimed a size larger than the file: no answer can ever do
};

std::string num(int64_t value) { return std::to_string(value); }

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
}

std::string status(int code, int64_t repeat = 1) {
    return "{\"status\": " + num(code) + (repeat > 1 ? ", \"repeat\": " + num(repeat) : std::string()) + "}";
}

int retryableStatus(Random& random) {
    static const int kCodes[] = {500, 502, 503, 504, 429, 408};
    return kCodes[random.below(6)];
}

int probeFailureStatus(Random& random) {
    static const int kCodes[] = {500, 502, 503, 504, 429, 408, 404, 403};
    return kCodes[random.below(8)];
}

std::string cut(Random& random, int64_t after) {
    return std::string("{\"") + (random.percent(70) ? "dropAfter" : "resetAfter") + "\": " + num(after) + "}";
}

// A stall or a delay that ends long before the client's time-outs.
std::string harmless(Random& random, int64_t size) {
    if (random.percent(50)) return "{\"delayMs\": " + num(random.between(20, 300)) + "}";
    return "{\"stallAfter\": " + num(random.below(static_cast<uint64_t>(size))) + ", \"stallMs\": " +
           num(random.between(100, 1200)) + "}";
}

// Faults that may cost one attempt each in this mode, never more. A Content-Length that lies short
// of the body, or a 200 page in place of the file, can only be seen through when the size is known
// to be right.
std::string failing(Random& random, Mode mode, int64_t size, int64_t& budget) {
    const bool sizeIsTrue = mode == Mode::Ranged || mode == Mode::WholeTrue;
    for (;;) {
        switch (random.below(9)) {
            case 0:
            case 1:
                --budget;
                return cut(random, static_cast<int64_t>(random.below(static_cast<uint64_t>(size))));
            case 2:
            case 3: {
                const int64_t repeat = random.between(1, budget < 3 ? budget : 3);
                budget -= repeat;
                return status(retryableStatus(random), repeat);
            }
            case 4:
                // A link that answers 404 or 410 once (not yet or no longer there).
                --budget;
                return status(random.percent(50) ? 404 : 410);
            case 5:
                --budget;
                if (random.percent(50)) return "{\"ignoreRange\": true}";
                return "{\"ignoreRange\": true, \"dropAfter\": " + num(random.below(static_cast<uint64_t>(size))) + "}";
            case 6:
                --budget;
                return "{\"rangeStart\": " + num(random.below(static_cast<uint64_t>(size))) + "}";
            case 7:
                if (sizeIsTrue) {
                    --budget;
                    return "{\"contentLength\": " + num(random.below(static_cast<uint64_t>(2 * size))) + "}";
                }
                if (mode == Mode::WholeUnknown) {
                    --budget;
                    return "{\"contentLength\": " + num(random.between(size + 1, 2 * size)) + "}";
                }
                continue;
            default:
                if (!sizeIsTrue) continue;
                --budget;
                return random.percent(50) ? "{\"html\": true}" : "{\"body\": \"<html>busy</html>\", \"contentType\": \"text/html\"}";
        }
    }
}

// A fault that fails every attempt it meets, whatever was written before.
std::string certainFailure(Random& random, Mode mode, int64_t size) {
    switch (random.below(mode == Mode::Ranged ? 4 : 3)) {
        case 0:
        case 1:
            return status(retryableStatus(random));
        case 2:
            return cut(random, 0);
        default:
            return "{\"rangeStart\": " + num(random.between(1, size - 1)) + "}";
    }
}

}  // namespace

Plan makePlan(uint64_t seed, uint64_t index, const Package& package) {
    Random random(seed ^ (index + 1) * 0xD1B54A32D192ED03ull);
    random.next();
    Plan plan;
    plan.appId = package.appId;
    const int64_t size = package.size;

    const uint64_t roll = random.below(100);
    plan.expect = roll < 68   ? Expect::Completes
                  : roll < 80 ? Expect::AttemptsExhausted
                  : roll < 88 ? Expect::ProbesExhausted
                  : roll < 94 ? Expect::HtmlProbe
                              : Expect::Refused;
    plan.md5 = random.percent(85) ? package.md5 : std::string();
    plan.expiringUses = random.percent(25) ? static_cast<int32_t>(random.between(1, 3)) : 0;
    std::vector<std::string> notes;

    // Failed probes first: each is retried, five end the download.
    int probeFailures = plan.expect == Expect::ProbesExhausted ? 5 : random.percent(30) ? static_cast<int>(random.between(1, 4)) : 0;
    if (plan.expect != Expect::Completes && plan.expect != Expect::ProbesExhausted && probeFailures > 3) probeFailures = 3;
    for (int left = probeFailures; left > 0;) {
        const int64_t repeat = random.between(1, left);
        plan.faults.push_back(status(probeFailureStatus(random), repeat));
        left -= static_cast<int>(repeat);
    }
    plan.probes = std::min(probeFailures + 1, 5);
    if (probeFailures) notes.push_back(num(probeFailures) + " failed probes");
    if (plan.expect == Expect::ProbesExhausted || plan.expect == Expect::HtmlProbe) {
        if (plan.expect == Expect::HtmlProbe) plan.faults.push_back("{\"html\": true}");
        plan.transfers = 0;
        plan.sizeHint = random.percent(80) ? size : 0;
        plan.summary = join(notes);
        return plan;
    }

    // The answer of the probe that gets through decides how the transfer runs.
    Mode mode = Mode::Ranged;
    bool noHint = random.percent(15);
    const uint64_t answer = random.below(100);
    if (plan.expect == Expect::AttemptsExhausted && answer < 30) {
        mode = Mode::WholeLong;
        plan.faults.push_back("{\"ignoreRange\": true, \"contentLength\": " + num(random.between(size + 1, 2 * size)) + "}");
        notes.push_back("probe claims too large a size");
    } else if (answer < 40) {
        plan.faults.push_back("{}");
        notes.push_back("plain probe");
    } else if (answer < 48) {
        plan.faults.push_back("{\"delayMs\": " + num(random.between(20, 400)) + "}");
        notes.push_back("delayed probe");
    } else if (answer < 56) {
        plan.faults.push_back("{\"stallAfter\": 0, \"stallMs\": " + num(random.between(100, 800)) + "}");
        notes.push_back("stalled probe");
    } else if (answer < 62) {
        plan.faults.push_back("{\"contentLength\": " + num(random.below(static_cast<uint64_t>(2 * size))) + "}");
        notes.push_back("probe with a wrong Content-Length");
    } else if (answer < 76) {
        mode = Mode::WholeTrue;
        plan.faults.push_back("{\"ignoreRange\": true}");
        notes.push_back("probe ignores Range");
    } else if (answer < 84) {
        mode = Mode::WholeShort;
        plan.faults.push_back("{\"ignoreRange\": true, \"contentLength\": " + num(random.between(size / 2, size - 1)) + "}");
        notes.push_back("probe ignores Range and claims too small a size");
    } else {
        noHint = random.percent(50);
        mode = noHint ? Mode::WholeUnknown : Mode::WholeTrue;
        plan.faults.push_back("{\"rangeStart\": " + num(random.between(1, size - 1)) + "}");
        notes.push_back("probe answered from a wrong offset");
    }
    plan.sizeHint = noHint ? 0 : size;  // an ignored Range still tells the size through Content-Length
    plan.ranged = mode == Mode::Ranged;

    std::vector<std::string> transfer;
    if (plan.expect == Expect::Refused) {
        static const int kRefusals[] = {400, 401, 405, 409, 451};
        transfer.push_back(status(kRefusals[random.below(5)]));
        plan.transfers = 1;
    } else if (plan.expect == Expect::AttemptsExhausted) {
        plan.transfers = 13;
        if (mode != Mode::WholeLong)
            for (int64_t i = 0, n = random.between(13, 15); i < n; ++i) transfer.push_back(certainFailure(random, mode, size));
    } else {
        // At most 12 failed attempts; an expiring link can add one more failure after each.
        int64_t budget = random.between(0, plan.expiringUses ? 5 : 12);
        std::vector<std::string> faults;
        while (budget > 0) faults.push_back(failing(random, mode, size, budget));
        for (int64_t i = 0, n = random.between(0, 3); i < n; ++i)
            faults.insert(faults.begin() + static_cast<std::ptrdiff_t>(random.below(faults.size() + 1)), harmless(random, size));
        transfer = std::move(faults);
    }
    plan.faults.insert(plan.faults.end(), transfer.begin(), transfer.end());
    notes.push_back(num(static_cast<int64_t>(transfer.size())) + " transfer faults");
    if (plan.expiringUses) notes.push_back("links expire after " + num(plan.expiringUses) + " uses");
    if (!plan.sizeHint) notes.push_back("no catalogue size");
    if (plan.md5.empty()) notes.push_back("no catalogue MD5");
    plan.summary = join(notes);
    return plan;
}

}  // namespace soak

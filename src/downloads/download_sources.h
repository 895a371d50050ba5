#pragma once
// Where a download's bytes come from: the service's download route first, then the catalogue's
// mirrors in their order; when a connection leaves one for the next, when it comes back, and which
// source downloads alone after the file failed its digest. Pure logic: the job tells what happened
// and asks where to go next.
#include <cstdint>
#include <string>
#include <vector>

#include "net/http_client.h"

// A source that delivers no byte for this long, while the speed cap would let bytes through, is left.
constexpr uint32_t kSourceStallMs = 15000;

// Whether a request's failure is its source's: it refused the connection, answered 5xx or 404,
// redirected where no request follows (to http from https, or round in circles), or went silent (no
// byte for the stall time; under Wine a read that times out may end the body as if it were whole).
// Other failures (a cut, a 429) are retried where they happened.
bool sourceLetDown(HttpResult result, int32_t status, bool silent);

// The host a source's URL names, with its port when that is not its scheme's own.
std::wstring sourceHost(const std::string& url);

// One connection's place among the sources.
struct SourceCursor {
    int source = 0;
    std::vector<bool> left;  // the sources it left in this round
};

struct SourceMove {
    bool left = false;    // the connection goes on at another source, or starts a new round
    uint32_t waitMs = 0;  // before the next request
    bool endsAloneRun = false;  // the source downloading alone let it down: the file goes to the next
};

enum class MismatchStep {
    DownloadAgain,  // start the file over from the sources as they stand now
    Keep,           // the only source there is: the file stays, flagged as not matching
    Fail,           // no source is left to try: the task fails and the file is deleted
};

class DownloadSources {
public:
    // Mirrors that are not absolute http(s) URLs are dropped. Without any digest only the route is
    // used: bytes from several hosts with nothing to check them against are never mixed. From an
    // https route an http mirror needs a SHA-256 digest; an MD5 alone does not vouch for it.
    DownloadSources(const std::string& route, const std::vector<std::string>& mirrors, const std::string& md5,
                    const std::string& sha256);

    size_t count() const { return urls_.size(); }
    const std::string& url(int source) const { return urls_[static_cast<size_t>(source)]; }
    // Where a connection starts: the first source it may use, nothing left yet.
    SourceCursor firstCursor() const;
    // After a failed request (failedAttempts counts it): a source that let the connection down is
    // left for the next one in order at once; once every other source failed in this round, a new
    // round starts from the first with the retry wait. Any other failure stays with the wait. A source
    // downloading alone that lets the connection down ends its run (see leaveAloneRun).
    SourceMove afterFailure(SourceCursor& cursor, bool letDown, int failedAttempts) const;
    // Bytes of `source` went into the file; -1: bytes of an earlier run, from sources unknown.
    void noteBytes(int source);
    // After the file's digest differed. Bytes of one source alone: that source is not used again.
    // Mixed bytes: each source that gave some downloads the file again alone, in order.
    MismatchStep afterMismatch();
    // The source downloading alone let its run down: it is not asked again, and the file starts over
    // from the next source still to download alone, or fails when none is left.
    MismatchStep leaveAloneRun();

private:
    bool usable(size_t source) const;
    MismatchStep nextAloneRun();

    std::vector<std::string> urls_;
    std::vector<bool> excluded_;     // its bytes alone failed the digest
    std::vector<bool> contributed_;  // its bytes are in the file now
    bool unknownBytes_ = false;
    bool aloneRuns_ = false;         // after mixed bytes failed: one source at a time
    std::vector<bool> aloneQueue_;   // the sources still to download alone
    int pinned_ = -1;                // the source of the current alone run
};

#pragma once
// What the workers of one transfer share, and how each request of theirs went. Only the download job
// uses it.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "downloads/download_decision.h"
#include "downloads/download_sources.h"
#include "downloads/live_progress.h"
#include "downloads/segment_plan.h"
#include "downloads/task.h"

// A worker without a segment fills the whole file: its size is unknown, or ranges do not work.
constexpr size_t kNoSegment = static_cast<size_t>(-1);

enum class PartResult {
    Done,       // the range is in the file
    Stopped,    // the task was cancelled or paused, or another worker's failure ended the transfer
    GaveUp,     // every attempt failed: the range goes back to the others
    Failed,     // a failure no other connection can get past (a refusal, a disk that cannot write)
};

struct Transfer {
    int64_t end = -1;         // last byte of the file; -1 while unknown
    bool useRange = false;
    bool acceptFull = true;   // a whole-file answer from offset 0 counts: one connection fills the file
    bool clip = false;        // writes stop at their segment's end, which a steal may move
    int64_t minimumSteal = 0;
    std::atomic<bool> stop{false};
    // A segment's range was answered with the whole file: the server's ranges cannot be relied on
    // after all, and one connection takes the file from its first byte instead.
    std::atomic<bool> wholeOffered{false};
    // The source downloading alone let a connection down: every worker stops, and the file goes on to
    // the next source.
    std::atomic<bool> aloneRunEnded{false};
    // Guarded by the task's segmentsMutex, as its segments are.
    std::vector<SegmentClaim> claims;
    int running = 0;
    bool wholeDone = false;   // the worker without a segment filled the file
    DownloadError failure;    // why the transfer ended for every worker
    DownloadError gaveUp;     // why the last worker to give up its range did so
    std::condition_variable changed;
    // Where each write is noted as it lands, in the task's slot (guarded by the task's segmentsMutex as
    // the counts are).
    LiveProgress* live = nullptr;
};

// Where one worker writes: its segment (kNoSegment: the whole file) and how far it got.
struct PartCursor {
    size_t segment = kNoSegment;
    int64_t start = 0;     // the first byte of its range
    int64_t position = 0;  // the next byte it writes
    SourceCursor sources;  // where its requests go; the worker's own, from one range to the next
};

// How one request of a worker went.
struct Attempt {
    HttpResponse response;
    AttemptVerdict verdict;
    bool askedDownloadUrl = false;     // it asked the download URL, not a final URL noted before
    int source = 0;                    // the source it asked
    bool letDown = false;              // its source refused, failed or went silent (sourceLetDown)
    DWORD writeError = ERROR_SUCCESS;  // why a write failed
};

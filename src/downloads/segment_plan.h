#pragma once
// How a download is split into ranges that several connections fill at once, and how ranges move
// between connections: one that has finished its range takes a range nobody fills, or else the upper
// half of the largest range no writer has reached yet; one that gives up hands its range back.
// Pure logic: the engine calls it under the task's segmentsMutex.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "downloads/task.h"

struct SegmentRules {
    int64_t minimumSize = 8LL << 20;   // a smaller file comes over one connection
    int64_t minimumSteal = 1LL << 20;  // a range with fewer bytes not yet started stays with its connection
};

// Who fills a segment, and the first byte of it that no writer has started writing.
struct SegmentClaim {
    int owner = -1;  // worker number; -1 while nobody fills it
    int64_t next = 0;
};

// `count` ranges of near-equal length covering [0, size); the earlier ones take the odd bytes.
std::vector<Segment> planSegments(int64_t size, int count);
// One claim per segment, nobody's yet, each from its first byte not written.
std::vector<SegmentClaim> claimsFor(const std::vector<Segment>& segments);
bool segmentDone(const Segment& segment);
bool allSegmentsDone(const std::vector<Segment>& segments);
int64_t writtenBytes(const std::vector<Segment>& segments);

// Work for `worker`, which has none: the unfilled segment nobody owns with the most bytes left, or
// else the upper half of the owned range with the most bytes not yet started (at least
// `minimumSteal`), split off into a new segment. False when there is neither.
bool assignWork(std::vector<Segment>& segments, std::vector<SegmentClaim>& claims, int worker, int64_t minimumSteal,
                size_t& taken);
// Whether `worker`, which found no work, may yet get some: no range is free now, but another worker
// still fills one that it may give up.
bool workMayComeBack(const std::vector<Segment>& segments, const std::vector<SegmentClaim>& claims, int worker);
// The worker of `segment` gives up: the bytes it has not written are free for the others.
void giveBack(const std::vector<Segment>& segments, std::vector<SegmentClaim>& claims, size_t segment);

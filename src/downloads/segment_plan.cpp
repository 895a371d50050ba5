#include "downloads/segment_plan.h"

std::vector<Segment> planSegments(int64_t size, int count) {
    std::vector<Segment> segments;
    if (size <= 0 || count < 1) return segments;
    if (count > size) count = static_cast<int>(size);
    const int64_t length = size / count;
    const int64_t odd = size % count;
    int64_t start = 0;
    for (int i = 0; i < count; ++i) {
        Segment segment;
        segment.start = start;
        segment.end = start + length + (i < odd ? 1 : 0) - 1;
        segments.push_back(segment);
        start = segment.end + 1;
    }
    return segments;
}

std::vector<SegmentClaim> claimsFor(const std::vector<Segment>& segments) {
    std::vector<SegmentClaim> claims(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) claims[i].next = segments[i].start + segments[i].written;
    return claims;
}

bool segmentDone(const Segment& segment) { return segment.end >= 0 && segment.start + segment.written > segment.end; }

bool allSegmentsDone(const std::vector<Segment>& segments) {
    for (const Segment& segment : segments)
        if (!segmentDone(segment)) return false;
    return true;
}

int64_t writtenBytes(const std::vector<Segment>& segments) {
    int64_t sum = 0;
    for (const Segment& segment : segments) sum += segment.written;
    return sum;
}

bool assignWork(std::vector<Segment>& segments, std::vector<SegmentClaim>& claims, int worker, int64_t minimumSteal,
                size_t& taken) {
    // Bytes no writer has started, by segment; an owned range loses them to a thief, a free one is taken whole.
    const auto left = [&](size_t i) { return segments[i].end - claims[i].next + 1; };
    size_t freeBest = segments.size(), ownedBest = segments.size();
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].end < 0 || left(i) <= 0 || claims[i].owner == worker) continue;
        size_t& best = claims[i].owner < 0 ? freeBest : ownedBest;
        if (best == segments.size() || left(i) > left(best)) best = i;
    }
    if (freeBest < segments.size()) {
        claims[freeBest].owner = worker;
        taken = freeBest;
        return true;
    }
    if (ownedBest == segments.size() || left(ownedBest) < minimumSteal || left(ownedBest) < 2) return false;
    // The owner keeps the lower half (and the odd byte), which its connection is already reading.
    const int64_t from = claims[ownedBest].next + (left(ownedBest) + 1) / 2;
    Segment upper;
    upper.start = from;
    upper.end = segments[ownedBest].end;
    segments[ownedBest].end = from - 1;
    segments.push_back(upper);
    SegmentClaim claim;
    claim.owner = worker;
    claim.next = from;
    claims.push_back(claim);
    taken = segments.size() - 1;
    return true;
}

bool workMayComeBack(const std::vector<Segment>& segments, const std::vector<SegmentClaim>& claims, int worker) {
    bool othersFilling = false;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segmentDone(segments[i])) continue;
        if (claims[i].owner < 0) return false;  // free now: no need to wait for it
        if (claims[i].owner != worker) othersFilling = true;
    }
    return othersFilling;
}

void giveBack(const std::vector<Segment>& segments, std::vector<SegmentClaim>& claims, size_t segment) {
    claims[segment].owner = -1;
    claims[segment].next = segments[segment].start + segments[segment].written;
}

#include "downloads/download_sources.h"

#include <optional>

#include "base/text_convert.h"
#include "downloads/download_decision.h"

namespace {

bool startsWithNoCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// An absolute http(s) URL with a host; nothing else can stand for the package.
std::optional<UrlParts> absoluteHttpUrl(const std::string& url) {
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) return std::nullopt;
    std::optional<UrlParts> parts = splitUrl(utf8ToWide(url));
    if (!parts || parts->host.empty()) return std::nullopt;
    return parts;
}

}  // namespace

bool sourceLetDown(HttpResult result, int32_t status, bool silent) {
    if (silent) return true;
    switch (result) {
        case HttpResult::ConnectFailed:
        case HttpResult::SendFailed:
        case HttpResult::RedirectFailed: return true;
        case HttpResult::HttpError: return status >= 500 || status == 404;
        default: return false;
    }
}

std::wstring sourceHost(const std::string& url) {
    const std::optional<UrlParts> parts = splitUrl(utf8ToWide(url));
    if (!parts) return std::wstring();
    const bool defaultPort = parts->port == (parts->secure ? 443 : 80);
    return defaultPort ? parts->host : parts->host + L":" + std::to_wstring(parts->port);
}

DownloadSources::DownloadSources(const std::string& route, const std::vector<std::string>& mirrors,
                                 const std::string& md5, const std::string& sha256)
    : urls_{route} {
    if (!md5.empty() || !sha256.empty()) {
        const bool secureRoute = startsWithNoCase(route, "https://");
        for (const std::string& mirror : mirrors) {
            const std::optional<UrlParts> parts = absoluteHttpUrl(mirror);
            if (parts && (parts->secure || !secureRoute || !sha256.empty())) urls_.push_back(mirror);
        }
    }
    excluded_.assign(urls_.size(), false);
    contributed_.assign(urls_.size(), false);
    aloneQueue_.assign(urls_.size(), false);
}

bool DownloadSources::usable(size_t source) const {
    return !excluded_[source] && (pinned_ < 0 || static_cast<int>(source) == pinned_);
}

SourceCursor DownloadSources::firstCursor() const {
    SourceCursor cursor;
    cursor.left.assign(count(), false);
    for (size_t s = 0; s < count(); ++s) {
        if (usable(s)) {
            cursor.source = static_cast<int>(s);
            break;
        }
    }
    return cursor;
}

SourceMove DownloadSources::afterFailure(SourceCursor& cursor, bool letDown, int failedAttempts) const {
    SourceMove move;
    move.waitMs = retryWaitMs(failedAttempts);
    // With one source there is nowhere to go: its failures keep the rules of a single download.
    if (!letDown || count() == 1) return move;
    if (pinned_ >= 0) {
        move.endsAloneRun = true;
        return move;
    }
    move.left = true;
    cursor.left.resize(count(), false);
    cursor.left[static_cast<size_t>(cursor.source)] = true;
    for (size_t step = 1; step < count(); ++step) {
        const size_t next = (static_cast<size_t>(cursor.source) + step) % count();
        if (usable(next) && !cursor.left[next]) {
            cursor.source = static_cast<int>(next);
            move.waitMs = 0;
            return move;
        }
    }
    // Every source it may use failed in this round: the next round starts from the first, after the wait.
    cursor = firstCursor();
    return move;
}

void DownloadSources::noteBytes(int source) {
    if (source < 0 || static_cast<size_t>(source) >= count()) {
        unknownBytes_ = true;
    } else {
        contributed_[static_cast<size_t>(source)] = true;
    }
}

MismatchStep DownloadSources::afterMismatch() {
    if (count() == 1) return MismatchStep::Keep;
    size_t givers = 0, giver = 0;
    for (size_t s = 0; s < count(); ++s) {
        if (contributed_[s]) {
            ++givers;
            giver = s;
        }
    }
    if (givers == 1 && !unknownBytes_) {
        excluded_[giver] = true;
    } else if (!aloneRuns_) {
        aloneRuns_ = true;
        // Bytes of an earlier run may have come from any source.
        aloneQueue_ = unknownBytes_ ? std::vector<bool>(count(), true) : contributed_;
    }
    contributed_.assign(count(), false);
    unknownBytes_ = false;
    if (!aloneRuns_) {
        for (size_t s = 0; s < count(); ++s)
            if (usable(s)) return MismatchStep::DownloadAgain;
        return MismatchStep::Fail;
    }
    return nextAloneRun();
}

MismatchStep DownloadSources::leaveAloneRun() {
    if (pinned_ < 0) return MismatchStep::Fail;
    excluded_[static_cast<size_t>(pinned_)] = true;
    contributed_.assign(count(), false);
    unknownBytes_ = false;
    return nextAloneRun();
}

MismatchStep DownloadSources::nextAloneRun() {
    pinned_ = -1;
    for (size_t s = 0; s < count(); ++s) {
        if (aloneQueue_[s] && !excluded_[s]) {
            aloneQueue_[s] = false;
            pinned_ = static_cast<int>(s);
            return MismatchStep::DownloadAgain;
        }
    }
    return MismatchStep::Fail;
}

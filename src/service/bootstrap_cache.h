#pragma once
// The last good bootstrap kept in the local cache, so a start shows the catalogue before the network
// answers and a start without the service still has one. The body is stored as received; a small
// side file holds its validators for the conditional refresh and the time the service last vouched
// for it. Nothing read back is trusted: a body whose size disagrees with the side file is dropped.
#include <cstdint>
#include <optional>
#include <string>

struct BootstrapStamp {
    std::string etag;          // the ETag the body came with, verbatim; empty when none
    std::string lastModified;  // the Last-Modified it came with, verbatim; empty when none
    int64_t confirmedAtMs = 0; // when the service last sent it or answered 304 for it, ms since 1970 UTC
};

struct CachedBootstrap {
    std::string body;
    BootstrapStamp stamp;
};

// The cached body with its stamp; nullopt when there is none or it is inconsistent (then both files
// are removed). Bodies above 8 MiB are never stored, so nothing larger is read.
std::optional<CachedBootstrap> readCachedBootstrap();
// Stores the body, then its stamp; the stamp names the body's size, so a body replaced without its
// stamp (a crash between the two) is not used with the wrong validators.
bool storeCachedBootstrap(const std::string& body, const BootstrapStamp& stamp);
// Rewrites the stamp of the body already stored (after a 304).
bool storeBootstrapStamp(const BootstrapStamp& stamp, size_t bodyBytes);
void forgetCachedBootstrap();

// The side file's text and its reading back; pure.
std::string bootstrapStampText(const BootstrapStamp& stamp, size_t bodyBytes);
bool parseBootstrapStamp(const std::string& text, BootstrapStamp& stamp, size_t& bodyBytes);

#pragma once
// The last good bootstrap kept in the local cache, so a start shows the catalogue before the network
// answers and a start without the service still has one. The body is stored as received; a small
// side file holds its validators for the conditional refresh and the time the service last vouched
// for it, and a snapshot of the records made from it (see catalogue_snapshot.h) lets a start skip
// parsing it. Nothing read back is trusted: a body whose size, checksum or SHA-256 disagrees with the
// side file is dropped.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct Catalogue;

struct BootstrapStamp {
    std::string etag;          // the ETag the body came with, verbatim; empty when none
    std::string lastModified;  // the Last-Modified it came with, verbatim; empty when none
    int64_t confirmedAtMs = 0; // when the service last sent it or answered 304 for it, ms since 1970 UTC
    uint64_t bodyChecksum = 0; // qb::checksum64 of the body; 0 in a side file written before there was one
    std::string source;        // the server and channel it came from (bootstrapSource); empty in an old side file
    std::string bodySha256;    // the body's SHA-256, lowercase hex; empty in an old side file (never trusted)
};

// What a cached bootstrap is tied to: another server's or channel's copy is never shown or sent.
std::string bootstrapSource(const std::wstring& server, const std::wstring& channel);
// The body's SHA-256 as the side file names it.
std::string bodySha256Of(const std::string& body);

// The side file alone: the stamp and the size of the body it names.
struct StoredStamp {
    BootstrapStamp stamp;
    size_t bodyBytes = 0;
};

struct CachedBootstrap {
    std::string body;
    BootstrapStamp stamp;
};

// The side file; nullopt when there is none or it does not parse.
std::optional<StoredStamp> readBootstrapStamp();
// The cached body with its stamp; nullopt when there is none or it is inconsistent (then the files are
// removed): its size, checksum and SHA-256 must be those the side file names, and a side file that
// names no SHA-256 counts as inconsistent. Bodies above 8 MiB are never stored, so nothing larger is read.
std::optional<CachedBootstrap> readCachedBootstrap();
// Stores the body, then its stamp (with the body's checksum and SHA-256); the stamp names the body's size and
// checksum, so a body replaced without its stamp (a crash between the two) is not used with the
// wrong validators.
bool storeCachedBootstrap(const std::string& body, const BootstrapStamp& stamp);
// Rewrites the stamp of the body already stored (after a 304).
bool storeBootstrapStamp(const BootstrapStamp& stamp, size_t bodyBytes);
void forgetCachedBootstrap();

// The records of the stored body, read from its snapshot; null when there is no snapshot of that
// body (a damaged one is removed).
std::unique_ptr<Catalogue> readCachedCatalogue(const StoredStamp& stored);
// Writes the snapshot of the lists parsed from the body with that checksum.
bool storeCachedCatalogue(const Catalogue& lists, uint64_t bodyChecksum);

// The side file's text and its reading back; pure.
std::string bootstrapStampText(const BootstrapStamp& stamp, size_t bodyBytes);
bool parseBootstrapStamp(const std::string& text, BootstrapStamp& stamp, size_t& bodyBytes);

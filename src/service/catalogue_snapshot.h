#pragma once
// The records of the last good bootstrap, kept beside it in a compact binary form: reading 5 000 apps
// back this way takes a few milliseconds where parsing the JSON again takes a hundred or more, so a
// start shows the cached catalogue almost as soon as the process runs. A snapshot names the bootstrap
// body it was made from (by checksum) and carries a checksum of its own; one that does not match, is
// cut short or holds impossible counts is never used, and the JSON copy is parsed instead.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "service/catalogue.h"

// The snapshot's bytes for these lists, made from the body whose checksum is bodyChecksum.
std::string catalogueSnapshotBytes(const Catalogue& lists, uint64_t bodyChecksum);
// The lists back, or null when the bytes are not a whole, undamaged snapshot of that body.
std::unique_ptr<Catalogue> readCatalogueSnapshot(const char* data, size_t size, uint64_t bodyChecksum);

#pragma once
// Marks a finished download as coming from the internet, the documented way (the shell's attachment
// services, as browsers do), so SmartScreen and the shell treat it accordingly.
#include <windows.h>
#include <shobjidl.h>

#include <string>

// Asks the attachment services to save the zone of `path` with `sourceUrl` as its origin. Where the
// platform has no such service (Wine) nothing is written and the result is false; the caller goes on
// either way. Never writes a stream of its own: where streams do not exist that would become a stray
// file beside the download.
bool markDownloadedFromInternet(const std::wstring& path, const std::wstring& sourceUrl);
// The same with the service object given (tests pass their own).
bool markDownloadedFromInternet(IAttachmentExecute& attachments, const std::wstring& path,
                                const std::wstring& sourceUrl);

#pragma once
// Tells the service that an installer was started; fire and forget.
#include <cstdint>
#include <string>

bool reportInstall(const std::wstring& server, int32_t appId, const std::wstring& channel);
// The exact JSON body of a report.
std::string installReportBody(int32_t appId, const std::wstring& channel);
// Sends the report from a worker thread, so the caller never waits on the network; false when no
// thread could be started (the report is then not sent).
bool reportInstallInBackground(const std::wstring& server, int32_t appId, const std::wstring& channel);

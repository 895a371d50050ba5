#pragma once
// What an app card's action button (or a row's retry button) does for one catalogue record.
#include <cstdint>
#include <string>

struct AppInfo;

void onAppAction(const AppInfo* app);
// server + "/api/client/download/" + id + "?channel=" + percent-encoded channel, in UTF-8.
std::string downloadUrlFor(const std::wstring& server, int32_t appId, const std::wstring& channel);

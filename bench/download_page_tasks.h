#pragma once
// The download page's 20 tasks for the paint benchmark.
#include <string>

#include "model/app_state.h"

// Starts downloads of apps 1 to 20 of the bench catalogue and holds them in eight states: five
// transfers stalled at 10 % to 90 % and one after a retry, completed installers and archives, a
// wrong digest, failed, cancelled, installed, installing and install-cancelled. False on a set-up failure.
bool setUpDownloadPage(const std::wstring& server, AppState& app);

#pragma once
// What changed between two trees the window published, as the events accessibility clients hear.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "access/access_tree.h"

enum class AccessChange { Focus, Name, State, Value };

struct AccessEvent {
    AccessChange change;
    std::wstring id;  // the node it is about
};

// The last tenth of progress announced per node: a download is announced at most every 10 %.
using ProgressAnnounced = std::map<std::wstring, int>;

// Events from before (null for the first tree) to after: the focus moved to another node; a node kept
// its id but changed its name, its states (but focus) or its value. A node with progress is announced
// only when it reaches another tenth (or stops or starts being busy).
std::vector<AccessEvent> accessEvents(const AccessTree* before, const AccessTree& after, ProgressAnnounced& announced);

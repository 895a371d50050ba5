#include "access/access_events.h"

namespace {

// A node with progress changes its name or value every percent; only a new tenth is news.
bool progressIsNews(const AccessNode& node, ProgressAnnounced& announced) {
    const int tenth = node.percent / 10;
    const auto found = announced.find(node.id);
    if (found != announced.end() && found->second == tenth) return false;
    announced[node.id] = tenth;
    return true;
}

}  // namespace

std::vector<AccessEvent> accessEvents(const AccessTree* before, const AccessTree& after, ProgressAnnounced& announced) {
    std::vector<AccessEvent> events;
    const auto focusedId = [](const AccessTree& tree) {
        return tree.focused < 0 ? std::wstring() : tree.nodes[static_cast<size_t>(tree.focused)].id;
    };
    if (after.focused >= 0 && (!before || focusedId(*before) != focusedId(after)))
        events.push_back({AccessChange::Focus, focusedId(after)});
    if (!before) {
        // What a first tree shows is no news: its progress counts from here.
        for (const AccessNode& node : after.nodes)
            if (node.percent >= 0) announced[node.id] = node.percent / 10;
        return events;
    }
    for (const AccessNode& node : after.nodes) {
        const int was = before->find(node.id);
        if (was < 0) continue;
        const AccessNode& old = before->nodes[static_cast<size_t>(was)];
        const bool stateChanged = (old.states & ~AccessFocused) != (node.states & ~AccessFocused);
        const bool progress = node.percent >= 0 && (old.name != node.name || old.value != node.value);
        if (stateChanged) events.push_back({AccessChange::State, node.id});
        if (progress) {
            if (stateChanged || progressIsNews(node, announced))
                events.push_back({node.role == AccessRole::ProgressBar ? AccessChange::Value : AccessChange::Name,
                                  node.id});
        } else if (old.name != node.name) {
            events.push_back({AccessChange::Name, node.id});
        } else if (old.value != node.value) {
            events.push_back({AccessChange::Value, node.id});
        }
    }
    return events;
}

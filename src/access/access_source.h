#pragma once
// What the window publishes for accessibility clients: the newest tree of what it shows, and stable
// numbers for the nodes' ids (events name a node by its number). Clients' objects hold it, so it
// outlives the window; once the window is gone it holds no tree and they answer "disconnected".
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "access/access_tree.h"
#include "base/dpi_scale.h"

class AccessSource {
public:
    explicit AccessSource(HWND hwnd) : hwnd_(hwnd) {}

    HWND window() const { return hwnd_; }
    // Any thread: the newest tree, or null once the window is gone.
    std::shared_ptr<const AccessTree> tree() const;
    // Window thread: tree is what the window shows now, in units of its scale; origin is its client
    // area's top-left on screen.
    void publish(std::shared_ptr<const AccessTree> tree, POINT origin, qb::DpiScale scale = {});
    void disconnect();
    // Window thread: the window moved; the tree stays as it was painted.
    void moveTo(POINT origin);
    POINT origin() const;
    qb::DpiScale scale() const;

    // A node's number for events and child ids: negative, the same for the same id as long as this lives.
    long numberOf(const std::wstring& id);
    std::wstring idOfNumber(long number) const;

    // Posts what a client asked the window to do; false when the node does nothing.
    bool press(const AccessNode& node) const;
    bool takeFocus(const AccessNode& node) const;
    // Asks the window to scroll a node's view to offset.
    bool scrollTo(const AccessNode& node, int offset) const;

private:
    HWND hwnd_;
    mutable std::mutex lock_;
    std::shared_ptr<const AccessTree> tree_;
    POINT origin_{};
    qb::DpiScale scale_;
    std::map<std::wstring, long> numbers_;
    std::vector<std::wstring> ids_;
};

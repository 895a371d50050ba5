#include "access/access_source.h"

#include "base/window_messages.h"

std::shared_ptr<const AccessTree> AccessSource::tree() const {
    std::lock_guard<std::mutex> hold(lock_);
    return tree_;
}

void AccessSource::publish(std::shared_ptr<const AccessTree> tree, POINT origin, qb::DpiScale scale) {
    std::lock_guard<std::mutex> hold(lock_);
    tree_ = std::move(tree);
    origin_ = origin;
    scale_ = scale;
}

qb::DpiScale AccessSource::scale() const {
    std::lock_guard<std::mutex> hold(lock_);
    return scale_;
}

void AccessSource::disconnect() {
    std::lock_guard<std::mutex> hold(lock_);
    tree_.reset();
}

void AccessSource::moveTo(POINT origin) {
    std::lock_guard<std::mutex> hold(lock_);
    origin_ = origin;
}

POINT AccessSource::origin() const {
    std::lock_guard<std::mutex> hold(lock_);
    return origin_;
}

long AccessSource::numberOf(const std::wstring& id) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = numbers_.find(id);
    if (found != numbers_.end()) return found->second;
    ids_.push_back(id);
    const long number = -static_cast<long>(ids_.size());
    numbers_.emplace(id, number);
    return number;
}

std::wstring AccessSource::idOfNumber(long number) const {
    std::lock_guard<std::mutex> hold(lock_);
    const size_t at = static_cast<size_t>(-static_cast<int64_t>(number)) - 1;
    return number < 0 && at < ids_.size() ? ids_[at] : std::wstring();
}

bool AccessSource::press(const AccessNode& node) const {
    if (node.kind == HitKind::None) return false;
    return ::PostMessageW(hwnd_, WM_QB_ACCESS_PRESS, packIdAndGeneration(node.param, static_cast<uint32_t>(node.kind)),
                          0) != FALSE;
}

bool AccessSource::takeFocus(const AccessNode& node) const {
    if (!node.focus) return false;
    const uint32_t where = static_cast<uint32_t>(node.focus->region) | static_cast<uint32_t>(node.focus->part) << 8;
    return ::PostMessageW(hwnd_, WM_QB_ACCESS_FOCUS, packIdAndGeneration(node.focus->index, where), 0) != FALSE;
}

bool AccessSource::scrollTo(const AccessNode& node, int offset) const {
    if (node.scrollMax < 0) return false;
    const auto region = static_cast<uint32_t>(node.scrollRegion);
    return ::PostMessageW(hwnd_, WM_QB_ACCESS_SCROLL, packIdAndGeneration(offset, region), 0) != FALSE;
}

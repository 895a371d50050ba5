#include "downloads/install_batch.h"

void InstallBatch::add(int32_t appId, const std::wstring& name, BatchOutcome outcome) {
    for (const BatchItem& item : items)
        if (item.appId == appId) return;
    BatchItem item;
    item.appId = appId;
    item.name = name;
    item.outcome = outcome;
    items.push_back(std::move(item));
}

bool InstallBatch::settle(int32_t appId, BatchOutcome outcome) {
    for (BatchItem& item : items) {
        if (item.appId != appId || item.outcome != BatchOutcome::Pending) continue;
        item.outcome = outcome;
        return true;
    }
    return false;
}

bool InstallBatch::follow(const std::map<int32_t, TaskSnapshot>& tasks) {
    bool ended = false;
    for (BatchItem& item : items) {
        if (item.outcome != BatchOutcome::Pending) continue;
        const auto found = tasks.find(item.appId);
        const TaskSnapshot* task = found == tasks.end() ? nullptr : &found->second;
        if (task && (task->state == Installing || task->state == InstallQueued)) item.installStarted = true;
        // Not started yet: its download is on its way into the list.
        if (!task && !item.taskSeen) continue;
        item.outcome = batchOutcomeOf(item, task);
        if (task) item.lastState = task->state;
        item.taskSeen = item.taskSeen || task;
        ended = ended || item.outcome != BatchOutcome::Pending;
    }
    return ended;
}

bool InstallBatch::finished() const {
    for (const BatchItem& item : items)
        if (item.outcome == BatchOutcome::Pending) return false;
    return true;
}

std::vector<int32_t> InstallBatch::notYetInstalling() const {
    std::vector<int32_t> ids;
    for (const BatchItem& item : items)
        if (item.outcome == BatchOutcome::Pending && item.lastState != Installing) ids.push_back(item.appId);
    return ids;
}

BatchOutcome batchOutcomeOf(const BatchItem& item, const TaskSnapshot* task) {
    // A task cleared from the list ended as it last stood.
    const uint32_t state = task ? task->state : item.lastState;
    switch (state) {
        case Installed: return task && task->installerFailed ? BatchOutcome::Failed : BatchOutcome::Done;
        case Cancelled: return BatchOutcome::Skipped;
        case Failed:
        case InstallFailed:
        case InstallCancelled: return BatchOutcome::Failed;
        case InstallQueued:
            // An installer restarts the machine: the batch ends there, and the rest waits for the restart.
            return task && task->waitsForRestart ? BatchOutcome::Skipped : BatchOutcome::Pending;
        case Completed:
            if (!task) return BatchOutcome::Failed;
            if (!task->md5Ok || task->signature == SignatureBroken) return BatchOutcome::Failed;
            // Nothing vouches for it: the user installs it on a click of their own, after a question.
            if (task->unverified || task->isArchive) return BatchOutcome::Skipped;
            // Its installer ran and registered nothing.
            return item.installStarted ? BatchOutcome::Failed : BatchOutcome::Pending;
        default: return task ? BatchOutcome::Pending : BatchOutcome::Failed;
    }
}

std::wstring namedFew(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < 3; ++i) text += (i ? L"、「" : L"「") + names[i] + L"」";
    if (names.size() > 3) text += L"等 " + std::to_wstring(names.size()) + L" 款";
    return text;
}

BatchSummary batchSummary(const InstallBatch& batch) {
    std::vector<std::wstring> skipped, failed;
    size_t done = 0;
    for (const BatchItem& item : batch.items) {
        if (item.outcome == BatchOutcome::Done) ++done;
        if (item.outcome == BatchOutcome::Skipped) skipped.push_back(item.name);
        if (item.outcome == BatchOutcome::Failed) failed.push_back(item.name);
    }
    BatchSummary summary;
    summary.title = (batch.kind == BatchKind::Update ? L"已升级 " : L"已安装 ") + std::to_wstring(done) + L" 款";
    if (!skipped.empty()) summary.skipped = L"已跳过：" + namedFew(skipped);
    if (!failed.empty()) summary.failed = L"失败：" + namedFew(failed);
    return summary;
}

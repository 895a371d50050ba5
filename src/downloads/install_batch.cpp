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
            if (!task->md5Ok || task->signature == SignatureBroken || task->publisherVerdict == PublisherVerdict::Refused)
                return BatchOutcome::Failed;
            // Nothing vouches for it: the user installs it on a click of their own, after a question.
            if (task->unverified || task->isArchive) return BatchOutcome::Skipped;
            // Its installer ran and registered nothing.
            return item.installStarted ? BatchOutcome::Failed : BatchOutcome::Pending;
        default: return task ? BatchOutcome::Pending : BatchOutcome::Failed;
    }
}

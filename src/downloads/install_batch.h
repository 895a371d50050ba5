#pragma once
// A batch of unattended installs (全部升级, an imported list): which apps it holds and how each ended,
// for the one summary the user sees when the last has ended (batchSummary in render/state_texts.h).
// Pure bookkeeping over task snapshots.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "downloads/task.h"

enum class BatchKind { Update, Import };
enum class BatchOutcome { Pending, Done, Skipped, Failed };

struct BatchItem {
    int32_t appId = 0;
    std::wstring name;
    BatchOutcome outcome = BatchOutcome::Pending;
    bool installStarted = false;  // its installer was seen queued or running
    bool taskSeen = false;        // its download task was seen in the list
    uint32_t lastState = Downloading;
};

struct InstallBatch {
    BatchKind kind = BatchKind::Update;
    std::vector<BatchItem> items;
    bool stopping = false;  // 停止: what has not started installing is skipped
    bool starting = false;    // its apps are being added and started: following them waits
    bool followOwed = false;  // an item ended meanwhile: follow once they have all started

    bool active() const { return !items.empty(); }
    // Adds an app that takes part; one already in the batch is not added twice.
    void add(int32_t appId, const std::wstring& name, BatchOutcome outcome = BatchOutcome::Pending);
    // Ends an item as the window decided (a running app skipped, a stop); false when it had ended.
    bool settle(int32_t appId, BatchOutcome outcome);
    // Moves pending items on by their tasks' states; true when one ended.
    bool follow(const std::map<int32_t, TaskSnapshot>& tasks);
    bool finished() const;
    // Items that have not started installing yet: what 停止 skips.
    std::vector<int32_t> notYetInstalling() const;
};

// Where a pending item stands by its task's state (null: the task has left the list).
BatchOutcome batchOutcomeOf(const BatchItem& item, const TaskSnapshot* task);

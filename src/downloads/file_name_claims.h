#pragma once
// File names: a task owns its final and partial path from the moment it is named until it is gone, so
// two tasks never share a ".part" file or replace each other's download. The names are the task's
// identity's paths, written under its pathMutex.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "downloads/task.h"

class FileNameClaims {
public:
    // Names the task `fileName` in `folder`, or the first free "name (n)" of it, with its ".part". Without
    // lookOnDisk only the other tasks' names count: a name for the window thread to show until the
    // task's worker names it again in the folder (claimIn).
    void claim(const std::shared_ptr<Task>& task, const std::wstring& folder, const std::wstring& fileName,
               bool lookOnDisk = true);
    // Names the task again in `folder`, from its file name, looking on disk.
    void claimIn(const std::shared_ptr<Task>& task, const std::wstring& folder);
    // The final name follows the content: ".exe", ".msi" or the archive's extension.
    void claimSniffed(const std::shared_ptr<Task>& task, const std::wstring& extension);
    // Reserves the names anew after the partial name was found taken on disk.
    void claimAgain(const std::shared_ptr<Task>& task);
    // Takes the next free final name after the current one was found taken on disk; false when none is left.
    bool claimNextFinal(const std::shared_ptr<Task>& task);
    // Claims the task's final and partial path exactly as they are, taking over the predecessor's claims
    // (if any); false when another living task holds either.
    bool claimRecorded(const std::shared_ptr<Task>& task, const Task* predecessor);

private:
    std::wstring reserve(const std::shared_ptr<Task>& task, const std::wstring& folder, const std::wstring& fileName,
                         bool withPartial, bool lookOnDisk = true);
    bool isFree(const Task& task, const std::wstring& path, bool withPartial, bool lookOnDisk);
    void release(const Task& task, const std::wstring& path);

    std::mutex mutex_;
    std::multimap<std::wstring, std::weak_ptr<Task>> claimed_;  // upper-cased path -> owner
};

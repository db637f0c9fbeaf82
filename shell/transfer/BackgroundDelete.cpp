// Letting a tree go where it delays nobody. A tree a transfer no longer needs (the save
// before last) first takes a name no other tree can have, in one rename, and is then
// deleted on a thread of its own. A program killed meanwhile leaves a folder of that
// name, which is never taken for data and which the next transfer to that destination
// deletes in the same way. Two PCs may delete one such leftover at once: what the other
// has deleted already counts as deleted.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr wchar_t kMark[] = L".deleting-";

// One thread deletes the trees handed to it, in turn, for the whole process.
class Deleter {
public:
    // Never destroyed: at exit a delete still running is simply cut short, and its
    // leftover goes at the next start.
    static Deleter& Instance() {
        static Deleter* deleter = new Deleter;
        return *deleter;
    }

    void Add(const std::wstring& destination, const std::wstring& folder, std::function<void()> after) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Job& job : queue_)
            if (job.folder == folder && !after) return;  // a leftover already on its way
        queue_.push_back({FoldedName(destination), folder, std::move(after)});
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        changed_.notify_all();
    }

    bool WaitIdle(DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return queue_.empty(); });
    }

    void WaitFor(const std::wstring& destination) {
        const std::wstring key = FoldedName(destination);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return std::none_of(queue_.begin(), queue_.end(), [&](const Job& job) { return job.destination == key; });
        });
    }

private:
    struct Job {
        std::wstring destination;  // folded
        std::wstring folder;
        std::function<void()> after;
    };

    // The job stays first in the queue while it runs, so that waiting for it sees it.
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !queue_.empty(); });
            const Job job = queue_.front();
            lock.unlock();
            RemoveTreeBestEffort(job.folder);
            if (job.after) job.after();
            lock.lock();
            queue_.pop_front();
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::thread thread_;
};

// What follows the mark: hex digits and one dash, as LetGoName makes them.
bool IsLetGoTail(const std::wstring& tail) {
    if (tail.empty() || tail.size() > 40) return false;
    return std::all_of(tail.begin(), tail.end(),
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || c == L'-'; });
}

}  // namespace

std::string LetGoName(const std::string& destination) {
    static std::atomic<unsigned> counter{0};
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    char unique[64];
    std::snprintf(unique, sizeof unique, "%08lx%08lx-%lx%x", now.dwHighDateTime, now.dwLowDateTime,
                  GetCurrentProcessId(), counter++ & 0xfff);
    return destination + Narrow(kMark) + unique;
}

bool IsLetGoFolder(const std::string& destination, const std::wstring& folder) {
    const std::wstring prefix = FoldedName(Widen(destination) + kMark);
    if (folder.size() <= prefix.size() || FoldedName(folder.substr(0, prefix.size())) != prefix) return false;
    return IsLetGoTail(folder.substr(prefix.size()));
}

void DeleteInBackground(const std::string& destination, const std::string& folder, std::function<void()> after) {
    Deleter::Instance().Add(Widen(destination), Widen(folder), std::move(after));
}

void WaitForBackgroundWorkOn(const std::string& destination) { Deleter::Instance().WaitFor(Widen(destination)); }

void DeleteLeftoversInBackground(const std::string& destination) {
    const std::wstring wide = Widen(destination);
    const std::wstring parent = wide.substr(0, wide.find_last_of(L"\\/") + 1);
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(LongPathForm(wide + kMark + L"*").c_str(), &found));
    if (!search) return;
    do {
        const std::wstring folder = parent + found.cFileName;
        // The pattern may match through short names: only the exact form counts.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLetGoFolder(destination, folder))
            Deleter::Instance().Add(wide, folder, nullptr);
    } while (FindNextFileW(search.Get(), &found));
}

bool WaitForBackgroundDeletes(DWORD timeoutMs) { return Deleter::Instance().WaitIdle(timeoutMs); }

// Putting the new tree on disk before a name calls it verified: a rename can reach the
// disk before the data it names, so after a power cut a "verified" tree could hold empty
// or cut-short files. Like Git for Windows, everything is written first and then flushed
// in one pass, which costs far less than flushing each file as it is written.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

// A flush waits mostly for the disk (under Wine for its server too): a few at once finish
// sooner, even on two cores (measured by the transfer benchmark: about 1.4 x with four).
constexpr size_t kFlushThreads = 4;

// Every file flushed; the index of the first (in the list) that failed, and its outcome,
// or files.size() when none did. After a failure the rest may be left unflushed.
size_t FlushFiles(const std::vector<std::wstring>& files, FileOpResult& failure) {
    std::mutex guard;
    size_t first = files.size();
    std::atomic<bool> stop{false};
    const auto work = [&](size_t offset, size_t step) {
        for (size_t i = offset; i < files.size() && !stop; i += step) {
            const FileOpResult flushed = FlushFile(files[i]);
            if (flushed) continue;
            std::lock_guard<std::mutex> lock(guard);
            if (i < first) {
                first = i;
                failure = flushed;
            }
            stop = true;
        }
    };
    const size_t threads = std::min(kFlushThreads, files.size() / 64 + 1);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work, t, threads);
    work(0, threads);
    for (auto& helper : helpers) helper.join();
    return first;
}

}  // namespace

bool FlushTree(const std::string& root, std::vector<TreeEntry>& entries, Messages& messages,
               const std::set<std::wstring>& onDisk) {
    std::string problem;
    if (!ListTree(Widen(root), entries, problem)) return Fail(messages, kCopyWording.title, problem);
    return FlushListedTree(root, entries, messages, onDisk);
}

bool FlushListedTree(const std::string& root, const std::vector<TreeEntry>& entries, Messages& messages,
                     const std::set<std::wstring>& onDisk) {
    const std::wstring top = Widen(root);
    std::vector<std::wstring> files;
    for (const auto& entry : entries)
        if (!entry.folder && (onDisk.empty() || !onDisk.count(FoldedName(entry.relative))))
            files.push_back(JoinPath(top, entry.relative));
    FileOpResult failure;
    const size_t failed = FlushFiles(files, failure);
    if (failed < files.size())
        return Fail(messages, kCopyWording.title,
                    "Cannot put on disk: " + Narrow(files[failed]) + " (" +
                        SystemErrorName(static_cast<int32_t>(failure.error)) + ")");
    // The names in each folder; parents come before their contents in the listing. A file
    // system that cannot flush a folder keeps its entries as durably as it does anyway.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->folder) FlushFolder(JoinPath(top, it->relative));
    FlushFolder(top);
    return true;
}

void FlushParentOf(const std::string& name) {
    const std::string path = FullPathOf(name);
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return;
    // "C:\Data" lives in "C:\", not in "C:".
    const std::string parent = path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
    FlushFolder(Widen(parent));
}

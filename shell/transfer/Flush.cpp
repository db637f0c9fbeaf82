// Putting the new tree on disk before a name calls it verified: a rename can reach the
// disk before the data it names, so after a power cut a "verified" tree could hold empty
// or cut-short files. Like Git for Windows, everything is written first and then flushed
// in one pass, which costs far less than flushing each file as it is written.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/ParallelWork.h"
#include "shell/Wintools.h"

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
    std::vector<DWORD> errors(files.size(), ERROR_SUCCESS);
    const size_t failed = ForEachInParallel(files.size(), kFileWorkThreads, [&](size_t i) {
        const FileOpResult flushed = FlushFile(files[i]);
        errors[i] = flushed.error;
        return flushed.ok;
    });
    if (failed < files.size())
        return Fail(messages, kCopyWording.title,
                    "Cannot put on disk: " + Narrow(files[failed]) + " (" +
                        SystemErrorName(static_cast<int32_t>(errors[failed])) + ")");
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

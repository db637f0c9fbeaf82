// Putting the next tree on disk before a name calls it whole: a rename can reach the
// disk before the data it names, so after a power cut a "whole" tree could hold empty or
// cut-short files. Like Git for Windows, everything is written first and then flushed in
// one pass, several files at a time. Only what the transfer wrote needs it: the files the
// save kept were on disk already.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/ParallelWork.h"
#include "shell/Wintools.h"

#include <algorithm>

namespace {

size_t Depth(const std::wstring& relative) {
    return relative.empty() ? 0 : 1 + std::count(relative.begin(), relative.end(), L'\\');
}

bool FlushFiles(const std::vector<std::wstring>& files, Messages& messages) {
    std::vector<DWORD> errors(files.size(), ERROR_SUCCESS);
    const size_t failed = ForEachInParallel(files.size(), kFileWorkThreads, [&](size_t i) {
        const FileOpResult flushed = FlushFile(files[i]);
        errors[i] = flushed.error;
        return flushed.ok;
    });
    if (failed == files.size()) return true;
    return Fail(messages, kCopyWording.title,
                "Cannot put on disk: " + Narrow(files[failed]) + " (" +
                    SystemErrorName(static_cast<int32_t>(errors[failed])) + ")");
}

// Deepest first, the root last. A file system that cannot flush a folder keeps its
// entries as durably as it does anyway.
void FlushFolders(const std::wstring& root, std::vector<std::wstring> folders) {
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return Depth(a) > Depth(b); });
    for (const auto& folder : folders)
        if (!folder.empty()) FlushFolder(JoinPath(root, folder));
    FlushFolder(root);
}

}  // namespace

bool FlushBuilt(const std::string& root, const Built& built, Messages& messages) {
    const std::wstring top = Widen(root);
    std::vector<std::wstring> files;
    for (const auto& relative : built.writtenFiles) files.push_back(JoinPath(top, relative));
    if (!FlushFiles(files, messages)) return false;
    std::vector<std::wstring> folders;
    for (const auto& touched : built.touchedFolders) folders.push_back(touched.second);
    FlushFolders(top, folders);
    return true;
}

bool FlushTree(const std::string& root, std::vector<TreeEntry>& entries, Messages& messages) {
    const std::wstring top = Widen(root);
    std::string problem;
    if (!ListTree(top, entries, problem)) return Fail(messages, kCopyWording.title, problem);
    std::vector<std::wstring> files, folders;
    for (const auto& entry : entries) (entry.folder ? folders : files).push_back(entry.folder ? entry.relative : JoinPath(top, entry.relative));
    if (!FlushFiles(files, messages)) return false;
    FlushFolders(top, folders);
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

bool NameWhenWhole(const std::wstring& building, const std::string& name, bool built, Messages& messages,
                   const char* title, TransferProgress* progress) {
    std::vector<TreeEntry> flushed;
    bool named = built && FlushTree(Narrow(building), flushed, messages);
    // A cancel while the files went to disk is still the user's word; from the name on
    // it is refused, and the progress display says so.
    if (named && progress && !progress->BeginSwitch()) named = Fail(messages, title, kCopyWording.cancelledText);
    if (named && !MoveFileExW(LongPathForm(building).c_str(), LongPathForm(Widen(name)).c_str(), MOVEFILE_WRITE_THROUGH))
        named = Fail(messages, title,
                     "Cannot name the copy " + name + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")");
    if (!named) {
        RemoveTreeDirect(building);
        return false;
    }
    FlushParentOf(name);
    return true;
}

// The check of the next tree: a copy call that reported success is no proof (a full disk
// can cut a file short), so only what is found on disk counts. Only the folders the build
// touched are listed again; the others are as the save's listing found them a moment
// ago. And the record that lets a later repair tell a next tree that is still whole from
// one that a crash has left partial.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/ParallelWork.h"
#include "shell/Wintools.h"

#include <cstdio>

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b) { return TimeValue(a) == TimeValue(b); }

// Files, bytes and the fingerprint (names, kinds, sizes, times) of a tree, as one text:
// a partial tree differs in at least one of them.
std::string RecordOf(const std::vector<TreeEntry>& entries) {
    uint64_t files = 0, bytes = 0;
    for (const auto& entry : entries) {
        if (entry.folder) continue;
        ++files;
        bytes += entry.size;
    }
    char text[160];
    std::snprintf(text, sizeof text, "files %llu\r\nbytes %llu\r\nfingerprint %016llx\r\n",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long long>(TreeFingerprint(entries)));
    return text;
}

bool ReadRecord(const std::string& path, std::string& content) {
    KernelHandle file(CreateFileW(LongPathForm(Widen(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char buffer[512];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return false;
    content.assign(buffer, read);
    return true;
}

// The save's entries by the folded name of the folder that holds them.
std::map<std::wstring, std::vector<const TreeEntry*>> ByFolder(const std::vector<TreeEntry>& entries) {
    std::map<std::wstring, std::vector<const TreeEntry*>> byFolder;
    for (const auto& entry : entries) byFolder[ParentOf(FoldedName(entry.relative))].push_back(&entry);
    return byFolder;
}

}  // namespace

bool ListNext(const TransferNames& names, const TreeLook* save, const Built& built, std::vector<TreeEntry>& next,
              Messages& messages) {
    const std::wstring root = Widen(names.next);
    std::string problem;
    if (!save) {
        if (ListTree(root, next, problem)) return true;
        return Fail(messages, kCopyWording.title, problem);
    }
    // The touched folders listed again, several at once.
    std::vector<std::wstring> touched;
    for (const auto& folder : built.touchedFolders) touched.push_back(folder.second);
    std::vector<std::vector<TreeEntry>> listed(touched.size());
    std::vector<std::string> problems(touched.size());
    const size_t failed = ForEachInParallel(touched.size(), kListingThreads, [&](size_t i) {
        return ListOneFolder(root, touched[i], listed[i], problems[i]);
    });
    if (failed < touched.size()) return Fail(messages, kCopyWording.title, problems[failed]);
    std::map<std::wstring, std::vector<const TreeEntry*>> byFolder = ByFolder(save->entries);
    for (size_t i = 0; i < touched.size(); ++i) {
        auto& entries = byFolder[FoldedName(touched[i])];
        entries.clear();
        for (const auto& entry : listed[i]) entries.push_back(&entry);
    }
    // Walked from the root: parents before their contents, as a listing gives them.
    next.clear();
    std::vector<std::wstring> folders{L""};
    for (size_t f = 0; f < folders.size(); ++f) {
        for (const TreeEntry* entry : byFolder[folders[f]]) {
            next.push_back(*entry);
            if (entry->folder && !IsLink(*entry)) folders.push_back(FoldedName(entry->relative));
        }
    }
    return true;
}

bool VerifyNext(const TreeLook& source, const std::vector<TreeEntry>& next, Messages& messages) {
    std::map<std::wstring, const TreeEntry*> byName;
    for (const auto& entry : next) byName[FoldedName(entry.relative)] = &entry;
    const std::wstring sourceRoot = Widen(source.root);
    for (const auto& entry : source.entries) {
        const auto found = byName.find(FoldedName(entry.relative));
        const std::string path = Narrow(JoinPath(sourceRoot, entry.relative));
        if (found == byName.end() || found->second->folder != entry.folder || found->second->relative != entry.relative)
            return Fail(messages, kCopyWording.title, "Not copied: " + path);
        const TreeEntry& made = *found->second;
        if (made.size != entry.size) return Fail(messages, kCopyWording.title, "Copied with a different size: " + path);
        if ((made.attributes & kKeptAttributes) != (entry.attributes & kKeptAttributes) ||
            (!entry.folder && !SameTime(made.written, entry.written)))
            return Fail(messages, kCopyWording.title, "Copied with other times or attributes: " + path);
        byName.erase(found);
    }
    if (!byName.empty())
        return Fail(messages, kCopyWording.title,
                    "Not in the source: " + Narrow(JoinPath(Widen(source.root), byName.begin()->second->relative)));
    return true;
}

bool WriteCheckRecord(const TransferNames& names, const std::vector<TreeEntry>& entries, Messages& messages) {
    // The switch right after puts the folder's names on disk.
    const FileOpResult written = WriteFileDurably(Widen(names.check), RecordOf(entries), FolderFlush::ByCaller);
    if (written) return true;
    return Fail(messages, kCopyWording.title,
                "Cannot write " + names.check + " (" + SystemErrorName(static_cast<int32_t>(written.error)) + ")");
}

bool NextIsWhole(const TransferNames& names) {
    std::string recorded;
    if (!ReadRecord(names.check, recorded)) return false;
    std::vector<TreeEntry> entries;
    std::string problem;
    return ListTree(Widen(names.next), entries, problem) && RecordOf(entries) == recorded;
}

void RemoveCheckRecord(const TransferNames& names) {
    RemoveOneFile(DurableTempName(Widen(names.check)));
    RemoveOneFile(Widen(names.check));
}

bool CopyMatchesListing(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot, const std::wstring& copy,
                        Messages& messages, const char* title) {
    std::string difference;
    if (CopyMatchesSource(source, sourceRoot, copy, true, difference)) return true;
    return Fail(messages, title, difference);
}

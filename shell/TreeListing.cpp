#include "shell/TreeListing.h"

#include "shell/Handles.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

bool IsDots(const wchar_t* name) { return !lstrcmpW(name, L".") || !lstrcmpW(name, L".."); }

std::string CannotRead(const std::wstring& folder, DWORD error) {
    return "Cannot read folder: " + Narrow(folder) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")";
}

TreeEntry MakeEntry(const std::wstring& relative, const wchar_t* name, DWORD attributes) {
    TreeEntry entry;
    entry.relative = relative.empty() ? name : JoinPath(relative, name);
    entry.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.attributes = attributes;
    return entry;
}

FILETIME AsFileTime(const LARGE_INTEGER& time) {
    return {static_cast<DWORD>(time.LowPart), static_cast<DWORD>(time.HighPart)};
}

// A listing cut short by anything but its end is not a listing of the folder.
bool ListedToTheEnd(const std::wstring& folder, DWORD error, std::string& problem) {
    if (error == ERROR_NO_MORE_FILES) return true;
    problem = CannotRead(folder, error);
    SetLastError(error);
    return false;
}

// The file systems that cannot list file IDs and change times (FAT through some
// redirectors, older servers) answer the first query with one of these.
bool NotSupported(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_LEVEL ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// One folder through FindFirstFileW: names, sizes, times and attributes only.
bool FindInFolder(const std::wstring& folder, const std::wstring& relative, std::vector<TreeEntry>& entries,
                  std::string& problem) {
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW(LongPathForm(JoinPath(folder, L"*")).c_str(), &data));
    if (!search) {
        const DWORD error = GetLastError();
        // An empty folder has no "." on some file systems: that is no error.
        const DWORD attributes = GetFileAttributesW(LongPathForm(folder).c_str());
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    do {
        if (IsDots(data.cFileName)) continue;
        TreeEntry entry = MakeEntry(relative, data.cFileName, data.dwFileAttributes);
        entry.size = entry.folder ? 0 : (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.written = data.ftLastWriteTime;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.Get(), &data));
    return ListedToTheEnd(folder, GetLastError(), problem);
}

// Appends the entries of one block of FILE_ID_BOTH_DIR_INFO records.
void TakeBlock(const unsigned char* block, const std::wstring& relative, std::vector<TreeEntry>& entries) {
    for (;;) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(block);
        const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (!IsDots(name.c_str())) {
            TreeEntry entry = MakeEntry(relative, name.c_str(), info->FileAttributes);
            entry.size = entry.folder ? 0 : static_cast<uint64_t>(info->EndOfFile.QuadPart);
            entry.written = AsFileTime(info->LastWriteTime);
            entry.fileId = static_cast<uint64_t>(info->FileId.QuadPart);
            entry.changed = AsFileTime(info->ChangeTime);
            entries.push_back(std::move(entry));
        }
        if (!info->NextEntryOffset) return;
        block += info->NextEntryOffset;
    }
}

// Lists one folder into `entries`, with file IDs and change times in the same pass
// (as cheap as FindFirstFileW); where the file system cannot, without them.
bool ListFolder(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& entries,
                std::string& problem) {
    const std::wstring folder = relative.empty() ? root : JoinPath(root, relative);
    NoteFileCall(folder);
    KernelHandle handle(CreateFileW(LongPathForm(folder).c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        const DWORD error = GetLastError();
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));  // 8-byte aligned records
    for (bool first = true;; first = false) {
        if (!GetFileInformationByHandleEx(handle.Get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                          buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            const DWORD error = GetLastError();
            if (first && NotSupported(error)) return FindInFolder(folder, relative, entries, problem);
            // An empty folder has no "." on some file systems: that is no error.
            if (first && error == ERROR_FILE_NOT_FOUND) return true;
            return ListedToTheEnd(folder, error, problem);
        }
        TakeBlock(reinterpret_cast<const unsigned char*>(buffer.data()), relative, entries);
    }
}

// The folders of a tree listed several at a time: on a share each folder costs a round
// trip or more, and a server answers many at once. Each folder's entries are kept apart
// and put together at the end, parents before their contents, as a plain walk gives them.
class ParallelLister {
public:
    ParallelLister(const std::wstring& root, Links links) : root_(root), links_(links) {}

    bool List(std::vector<TreeEntry>& entries, std::string& problem) {
        Add(L"");
        std::vector<std::thread> helpers;
        for (size_t t = 1; t < kListingThreads; ++t) helpers.emplace_back([this] { Work(); });
        Work();
        for (auto& helper : helpers) helper.join();
        if (failed_) {
            problem = problem_;
            SetLastError(error_);
            return false;
        }
        Assemble(entries);
        return true;
    }

private:
    void Add(const std::wstring& relative) {
        folders_[FoldedName(relative)];
        pending_.push_back(relative);
    }

    bool Descends(const TreeEntry& entry) const { return entry.folder && (links_ == Links::Enter || !IsLink(entry)); }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !pending_.empty() || busy_ == 0 || failed_; });
            if (failed_ || pending_.empty()) return;
            const std::wstring relative = pending_.back();
            pending_.pop_back();
            ++busy_;
            lock.unlock();
            std::vector<TreeEntry> listed;
            std::string problem;
            const bool ok = ListFolder(root_, relative, listed, problem);
            const DWORD error = GetLastError();
            lock.lock();
            --busy_;
            if (!ok && !failed_) {
                failed_ = true;
                problem_ = problem;
                error_ = error;
            }
            for (const auto& entry : listed)
                if (Descends(entry)) Add(entry.relative);
            folders_[FoldedName(relative)] = std::move(listed);
            changed_.notify_all();
        }
    }

    // The root's entries, then each folder's entries after the entry that names it.
    void Assemble(std::vector<TreeEntry>& entries) {
        entries = std::move(folders_[L""]);
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!Descends(entries[i])) continue;
            auto found = folders_.find(FoldedName(entries[i].relative));
            if (found == folders_.end()) continue;
            for (auto& entry : found->second) entries.push_back(std::move(entry));
            folders_.erase(found);
        }
    }

    const std::wstring root_;
    const Links links_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::wstring> pending_;
    std::map<std::wstring, std::vector<TreeEntry>> folders_;  // by folded relative name
    size_t busy_ = 0;
    bool failed_ = false;
    std::string problem_;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

bool ListTree(const std::wstring& root, std::vector<TreeEntry>& entries, std::string& problem, Links links) {
    entries.clear();
    NoteFileCall(root);
    const DWORD attributes = GetFileAttributesW(LongPathForm(root).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        problem = CannotRead(root, error);
        SetLastError(error);
        return false;
    }
    return ParallelLister(root, links).List(entries, problem);
}

bool ListOneFolder(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& entries,
                   std::string& problem) {
    entries.clear();
    return ListFolder(root, relative, entries, problem);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') return folder + L"\\" + name;
    return folder + name;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "\\?\..." (any length) or "\\.\..." (a device): never rewritten.
bool HasDevicePrefix(const std::wstring& path) {
    return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
           IsSeparator(path[3]);
}

// The parts of `path` from `start` on, with "." dropped and ".." taking the part before
// it, never one of the first `fixed` (a share's server and name).
std::vector<std::wstring> ResolvedParts(const std::wstring& path, size_t start, size_t fixed) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (size_t i = start; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) {
            part += path[i];
            continue;
        }
        if (part == L"..") {
            if (parts.size() > fixed) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        part.clear();
    }
    return parts;
}

}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
    if (HasDevicePrefix(path)) return path;
    std::wstring form;
    std::vector<std::wstring> parts;
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
        form = L"\\\\?\\" + path.substr(0, 2);
        parts = ResolvedParts(path, 3, 0);
    } else if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        form = L"\\\\?\\UNC";
        parts = ResolvedParts(path, 2, 2);
    } else {
        return path;
    }
    for (const auto& part : parts) form += L"\\" + part;
    // A drive's root keeps its separator ("\\?\C:" would name the volume itself), and so
    // does a folder given with one.
    if (parts.empty() || IsSeparator(path.back())) form += L'\\';
    return form;
}

std::wstring FoldedName(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

bool CopyMatchesSource(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot,
                       const std::wstring& copyRoot, bool exact, std::string& difference,
                       std::vector<TreeEntry>* copyListing) {
    std::vector<TreeEntry> listed;
    std::vector<TreeEntry>& copied = copyListing ? *copyListing : listed;
    copied.clear();
    if (!ListTree(copyRoot, copied, difference)) return false;
    std::map<std::wstring, const TreeEntry*> byName;
    for (const auto& entry : copied) byName[FoldedName(entry.relative)] = &entry;

    for (const auto& entry : source) {
        const auto found = byName.find(FoldedName(entry.relative));
        const std::wstring sourcePath = JoinPath(sourceRoot, entry.relative);
        if (found == byName.end() || found->second->folder != entry.folder) {
            difference = "Not copied: " + Narrow(sourcePath);
            return false;
        }
        if (found->second->size != entry.size) {
            difference = "Copied with a different size: " + Narrow(sourcePath);
            return false;
        }
        byName.erase(found);
    }
    if (exact && !byName.empty()) {
        difference = "Not in the source: " + Narrow(JoinPath(copyRoot, byName.begin()->second->relative));
        return false;
    }
    return true;
}

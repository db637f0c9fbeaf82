// Making the next tree out of the save, as the plan says: the entries that differ are
// taken out into the undo folder (one rename each, nothing copied), the new folders are
// made, and the files that differ are written, from the destination's own side where it
// holds them (on a server the server copies them) and otherwise from the source. Several
// files are written at a time. A file copied is looked at again: one that changed while
// it was copied is copied again.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/ParallelWork.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

// How often a source file that keeps changing is copied before the transfer gives up.
constexpr int kCopyAttempts = 3;

// One file's bytes, counted into the progress record as they are copied.
struct FileCount {
    TransferProgress* progress = nullptr;
    uint64_t counted = 0;  // bytes of this file added so far, over all attempts

    void CountUpTo(uint64_t bytes) {
        if (bytes <= counted) return;
        if (progress) progress->AddDone(0, bytes - counted);
        counted = bytes;
    }
    bool Cancelled() const { return progress && progress->Cancelled(); }
};

DWORD CALLBACK CountBytes(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                          HANDLE, HANDLE, LPVOID data) {
    auto* count = static_cast<FileCount*>(data);
    count->CountUpTo(static_cast<uint64_t>(transferred.QuadPart));
    return count->Cancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// A file as it is now, in the terms of a listing.
bool FileNow(const std::wstring& path, TreeEntry& now) {
    NoteFileCall(path);
    KernelHandle file(CreateFileW(LongPathForm(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic{};
    if (!file || !GetFileInformationByHandle(file.Get(), &info) ||
        !GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic))
        return false;
    now.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    now.written = info.ftLastWriteTime;
    now.attributes = info.dwFileAttributes;
    now.fileId = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    now.changed = {static_cast<DWORD>(basic.ChangeTime.LowPart), static_cast<DWORD>(basic.ChangeTime.HighPart)};
    return true;
}

// Still the file the listing saw: nothing written to it since (where the file system
// keeps change times and file IDs, also no write that put the times back).
bool StillAsListed(const TreeEntry& listed, const TreeEntry& now) {
    return now.size == listed.size && TimeValue(now.written) == TimeValue(listed.written) &&
           (!listed.fileId || now.fileId == listed.fileId) &&
           (!TimeValue(listed.changed) || TimeValue(now.changed) == TimeValue(listed.changed));
}

class Builder {
public:
    Builder(TreeLook& source, const TreeLook* ownSide, const TransferNames& names, TransferProgress* progress,
            TransferFigures& figures, Built& built)
        : source_(source),
          ownSide_(ownSide),
          next_(Widen(names.next)),
          undo_(Widen(names.undo)),
          progress_(progress),
          figures_(figures),
          built_(built) {}

    bool Build(const Plan& plan, Messages& messages) {
        if (progress_) progress_->SetTotal(plan.files, plan.bytes);
        figures_.filesKept = plan.keptFiles;
        figures_.bytesKept = plan.keptBytes;
        TraceStage("transfer: take out");
        if (!TakeOut(plan.moves, messages)) return false;
        TraceStage("transfer: write");
        if (!MakeNewFolders(plan.newFolders, messages) || !Place(plan.placements, messages)) return false;
        SetFolderAttributes(plan.attributes);
        return true;
    }

private:
    // The folder that holds `relative` changed.
    void Touch(const std::wstring& relative) { TouchFolder(ParentOf(relative)); }
    void TouchFolder(const std::wstring& folder) {
        std::lock_guard<std::mutex> lock(recording_);
        built_.touchedFolders[FoldedName(folder)] = folder;
    }

    bool Cancelled() const { return progress_ && progress_->Cancelled(); }

    static bool CancelledCopy(Messages& messages) {
        return Fail(messages, kCopyWording.title, kCopyWording.cancelledText);
    }

    static bool Failed(Messages& messages, const std::string& what, const std::wstring& path, DWORD error) {
        return Fail(messages, kCopyWording.title,
                    what + Narrow(path) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")");
    }

    // Into the undo folder under the same relative names: the folders that hold them
    // first, then one rename each, several at a time.
    bool TakeOut(const std::vector<Plan::Entry>& moves, Messages& messages) {
        if (moves.empty()) return true;
        if (!MakeUndoFolders(moves, messages)) return false;
        std::vector<DWORD> errors(moves.size(), ERROR_SUCCESS);
        const size_t failed = ForEachInParallel(moves.size(), kFileWorkThreads, [&](size_t i) {
            const FileOpResult moved = MoveEntry(JoinPath(next_, moves[i].relative), JoinPath(undo_, moves[i].relative));
            errors[i] = moved.error;
            if (moved) Touch(moves[i].relative);
            return moved.ok;
        });
        if (failed < moves.size())
            return Failed(messages, "Cannot take out of the backup: ", JoinPath(next_, moves[failed].relative),
                          errors[failed]);
        figures_.entriesTakenOut = moves.size();
        return true;
    }

    // The undo folder and the folders that will hold what is taken out, each made once,
    // parents first.
    bool MakeUndoFolders(const std::vector<Plan::Entry>& moves, Messages& messages) {
        std::map<std::wstring, std::wstring> folders;  // by folded name, sorted parents first
        for (const auto& entry : moves)
            for (std::wstring folder = ParentOf(entry.relative); !folder.empty(); folder = ParentOf(folder))
                folders[FoldedName(folder)] = folder;
        std::vector<std::wstring> ordered{L""};
        for (const auto& folder : folders) ordered.push_back(folder.second);
        std::sort(ordered.begin(), ordered.end(), [](const std::wstring& a, const std::wstring& b) {
            return std::count(a.begin(), a.end(), L'\\') + !a.empty() < std::count(b.begin(), b.end(), L'\\') + !b.empty();
        });
        for (const auto& folder : ordered) {
            const std::wstring path = folder.empty() ? undo_ : JoinPath(undo_, folder);
            const FileOpResult made = MakeFolder(path);
            if (!made && made.error != ERROR_ALREADY_EXISTS)
                return Failed(messages, "Cannot make the folder ", path, made.error);
        }
        return true;
    }

    bool MakeNewFolders(const std::vector<std::wstring>& folders, Messages& messages) {
        for (const auto& relative : folders) {
            const FileOpResult made = MakeFolder(JoinPath(next_, relative));
            if (!made) return Failed(messages, "Cannot make the folder ", JoinPath(next_, relative), made.error);
            Touch(relative);
            TouchFolder(relative);
        }
        return true;
    }

    // Several at a time; after a failure the messages are those of the first file in
    // the listing that failed.
    bool Place(const std::vector<Plan::Placement>& placements, Messages& messages) {
        std::vector<Messages> failures(placements.size());
        const size_t failed = ForEachInParallel(placements.size(), kFileWorkThreads, [&](size_t i) {
            if (Cancelled()) return CancelledCopy(failures[i]);
            return PlaceOne(placements[i], failures[i]);
        });
        if (failed < placements.size()) {
            messages.insert(messages.end(), failures[failed].begin(), failures[failed].end());
            return false;
        }
        if (Cancelled()) return CancelledCopy(messages);
        return true;
    }

    bool PlaceOne(const Plan::Placement& placement, Messages& messages) {
        TreeEntry& entry = source_.entries[placement.source];
        const std::wstring to = JoinPath(next_, entry.relative);
        FileCount count;
        count.progress = progress_;
        Touch(entry.relative);
        {
            std::lock_guard<std::mutex> lock(recording_);
            built_.writtenFiles.push_back(entry.relative);
        }
        if (placement.ownSide && CopiedOnOwnSide(*placement.ownSide, to, count)) return Placed(entry, false, count);
        if (count.Cancelled()) return CancelledCopy(messages);
        return CopiedFromSource(entry, to, count, messages) && Placed(entry, true, count);
    }

    // From the destination's present tree, as long as it still is the file listed; else
    // nothing is left of the attempt and the file comes from the source.
    bool CopiedOnOwnSide(const TreeEntry& there, const std::wstring& to, FileCount& count) {
        const std::wstring from = JoinPath(Widen(ownSide_->root), there.relative);
        const FileOpResult copied = CopyOneFile(from, to, CountBytes, &count);
        TreeEntry now;
        if (copied && FileNow(from, now) && StillAsListed(there, now)) return true;
        RemoveOneFile(to);
        return false;
    }

    bool CopiedFromSource(TreeEntry& entry, const std::wstring& to, FileCount& count, Messages& messages) {
        const std::wstring from = JoinPath(Widen(source_.root), entry.relative);
        for (int attempt = 1;; ++attempt) {
            const FileOpResult copied = CopyOneFile(from, to, CountBytes, &count);
            if (!copied) {
                RemoveOneFile(to);
                if (copied.cancelled || count.Cancelled()) return CancelledCopy(messages);
                return Failed(messages, "Cannot copy file: ", from, copied.error);
            }
            TreeEntry now;
            if (!FileNow(from, now)) {
                const DWORD error = GetLastError();
                RemoveOneFile(to);
                return Failed(messages, "Cannot read file: ", from, error);
            }
            if (StillAsListed(entry, now)) return true;
            // Written while it was copied: the copy may hold neither the old nor the new.
            RemoveOneFile(to);
            FollowChange(entry, now);
            if (attempt == kCopyAttempts)
                return Fail(messages, kCopyWording.title,
                            "The file kept changing while it was being copied: " + Narrow(from));
        }
    }

    // The source's entry as the file now is; it carries a token of its own.
    void FollowChange(TreeEntry& entry, const TreeEntry& now) {
        entry.size = now.size;
        entry.written = now.written;
        entry.attributes = now.attributes;
        entry.fileId = now.fileId;
        entry.changed = now.changed;
        std::lock_guard<std::mutex> lock(recording_);
        if (!source_.identity.keepsChangeTimes || !now.fileId || !TimeValue(now.changed))
            source_.tokens.erase(FoldedName(entry.relative));
        else
            source_.tokens[FoldedName(entry.relative)] = {source_.identity.volume, now.fileId, TimeValue(now.changed)};
    }

    // The file is in the next tree: it counts whole, whatever the copy reported on the way.
    bool Placed(const TreeEntry& entry, bool fromSource, FileCount& count) {
        count.CountUpTo(entry.size);
        if (progress_) progress_->AddDone(1, 0);
        std::lock_guard<std::mutex> lock(recording_);
        (fromSource ? figures_.filesFromSource : figures_.filesOnOwnSide)++;
        (fromSource ? figures_.bytesFromSource : figures_.bytesOnOwnSide) += entry.size;
        return true;
    }

    // Folder attributes as the source has them (files carry theirs through the copy).
    void SetFolderAttributes(const std::vector<Plan::FolderAttributes>& changes) {
        for (const auto& change : changes) {
            SetFileAttributesW(LongPathForm(JoinPath(next_, change.relative)).c_str(),
                               change.after ? change.after : FILE_ATTRIBUTE_NORMAL);
            Touch(change.relative);
        }
    }

    TreeLook& source_;
    const TreeLook* ownSide_;
    const std::wstring next_, undo_;
    TransferProgress* progress_;
    TransferFigures& figures_;
    Built& built_;
    std::mutex recording_;  // the figures, the touched folders and the source's tokens, from every thread
};

}  // namespace

bool BuildNext(TreeLook& source, const TreeLook* ownSide, const Plan& plan, const TransferNames& names,
               TransferProgress* progress, TransferFigures& figures, Built& built, Messages& messages) {
    return Builder(source, ownSide, names, progress, figures, built).Build(plan, messages);
}

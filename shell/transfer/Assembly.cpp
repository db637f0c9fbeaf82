// Assembling the new tree at the incoming name from the previous tree and the source:
// only what changed crosses from the source; the rest is copied on the destination's
// own side, or hard-linked to the previous tree's file where the caller allows it. Every
// file is counted into the progress record as it is placed, and the
// user's cancel is looked at between files and, through the copy's progress routine,
// inside each one.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

namespace {

// Attributes belong to the file, which every link shares, and deleting an old tree clears
// them: a file that has any is copied, never linked.
bool MayLink(const TreeEntry& entry) { return !(entry.attributes & kKeptAttributes); }

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

class Assembler {
public:
    Assembler(const std::string& source, const TransferNames& names, const TransferOptions& options,
              TransferProgress* progress, TransferFigures& figures, std::set<std::wstring>& linked,
              Messages& messages)
        : sourceRoot_(Widen(source)),
          previousRoot_(Widen(names.destination)),
          saveRoot_(Widen(names.save)),
          target_(Widen(names.incoming)),
          link_(options.linkUnchanged),
          progress_(progress),
          figures_(figures),
          linked_(linked),
          messages_(messages) {}

    bool Assemble(const std::vector<TreeEntry>& sourceEntries, const std::map<std::wstring, TreeEntry>& unchanged,
                  const SaveMatches& inSave) {
        if (!MakeFolders(sourceEntries)) return false;
        for (const auto& entry : sourceEntries) {
            if (entry.folder) continue;
            if (Cancelled()) return CancelledCopy();
            const std::wstring name = FoldedName(entry.relative);
            if (LinkFromSave(entry, name, inSave)) continue;
            const auto found = unchanged.find(name);
            if (!Place(entry, found == unchanged.end() ? nullptr : &found->second)) return false;
        }
        if (Cancelled()) return CancelledCopy();
        CopyFolderAttributes(sourceEntries);
        return true;
    }

private:
    bool Cancelled() const { return progress_ && progress_->Cancelled(); }

    bool CancelledCopy() { return Fail(messages_, kCopyWording.title, kCopyWording.cancelledText); }

    bool MakeFolders(const std::vector<TreeEntry>& sourceEntries) {
        FileOpResult made = MakeFolder(target_);
        for (auto entry = sourceEntries.begin(); made && entry != sourceEntries.end(); ++entry)
            if (entry->folder) made = MakeFolder(JoinPath(target_, entry->relative));
        if (made) return true;
        messages_.push_back(FailureMessage(kCopyWording, made));
        return false;
    }

    // The save before last goes at the switch: its name for the file is the only other one
    // the new tree's file then has, and only until that tree is deleted.
    bool LinkFromSave(const TreeEntry& entry, const std::wstring& name, const SaveMatches& inSave) {
        const auto found = inSave.files.find(name);
        if (found == inSave.files.end() || !MayLink(entry)) return false;
        const std::wstring to = JoinPath(target_, entry.relative);
        const std::wstring saved = JoinPath(saveRoot_, found->second.relative);
        if (!Platform().createHardLink(LongPathForm(to).c_str(), LongPathForm(saved).c_str(), nullptr)) return false;
        ++figures_.filesLinked;
        figures_.bytesLinked += entry.size;
        if (!inSave.writtenSince.count(name)) linked_.insert(name);
        FileCount count;
        count.progress = progress_;
        return Placed(entry, count);
    }

    // The file from the previous tree when it is there unchanged, else from the source.
    bool Place(const TreeEntry& entry, const TreeEntry* before) {
        const std::wstring to = JoinPath(target_, entry.relative);
        FileCount count;
        count.progress = progress_;
        if (before) {
            const std::wstring previous = JoinPath(previousRoot_, before->relative);
            // FAT and exFAT refuse links, and so may a server: then the file is copied.
            if (link_ && MayLink(entry) && Platform().createHardLink(LongPathForm(to).c_str(), LongPathForm(previous).c_str(), nullptr)) {
                ++figures_.filesLinked;
                figures_.bytesLinked += entry.size;
                linked_.insert(FoldedName(entry.relative));
                return Placed(entry, count);
            }
            const FileOpResult local = CopyOneFile(previous, to, CountBytes, &count);
            if (local) {
                ++figures_.filesFromBackup;
                figures_.bytesFromBackup += entry.size;
                return Placed(entry, count);
            }
            if (local.cancelled || Cancelled()) return CancelledCopy();
            // When in doubt the file comes from the source, over whatever the local copy left.
            SetFileAttributesW(LongPathForm(to).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(LongPathForm(to).c_str());
        }
        const std::wstring from = JoinPath(sourceRoot_, entry.relative);
        const FileOpResult crossed = CopyOneFile(from, to, CountBytes, &count);
        if (!crossed) {
            if (crossed.cancelled || Cancelled()) return CancelledCopy();
            return Fail(messages_, kCopyWording.title,
                        "Cannot copy file: " + Narrow(from) + " (" +
                            SystemErrorName(static_cast<int32_t>(crossed.error)) + ")");
        }
        ++figures_.filesFromSource;
        figures_.bytesFromSource += entry.size;
        return Placed(entry, count);
    }

    // The file is in the new tree: it counts whole, whatever the copy reported on the way.
    bool Placed(const TreeEntry& entry, FileCount& count) {
        count.CountUpTo(entry.size);
        if (progress_) progress_->AddDone(1, 0);
        return true;
    }

    // Folder attributes as the source has them (files carry theirs through the copy).
    void CopyFolderAttributes(const std::vector<TreeEntry>& sourceEntries) {
        for (const auto& entry : sourceEntries)
            if (entry.folder && (entry.attributes & kKeptAttributes))
                SetFileAttributesW(LongPathForm(JoinPath(target_, entry.relative)).c_str(),
                                   entry.attributes & kKeptAttributes);
    }

    const std::wstring sourceRoot_, previousRoot_, saveRoot_, target_;
    const bool link_;
    TransferProgress* progress_;
    TransferFigures& figures_;
    std::set<std::wstring>& linked_;
    Messages& messages_;
};

}  // namespace

bool AssembleIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                      const std::map<std::wstring, TreeEntry>& unchanged, const SaveMatches& inSave,
                      const TransferNames& names, const TransferOptions& options, TransferProgress* progress,
                      TransferFigures& figures, std::set<std::wstring>& linked, Messages& messages) {
    return Assembler(source, names, options, progress, figures, linked, messages)
        .Assemble(sourceEntries, unchanged, inSave);
}

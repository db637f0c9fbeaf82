// Assembling the new tree at the incoming name from the previous tree and the source:
// only what changed crosses from the source; the rest is copied on the destination's
// own side, or hard-linked to the previous tree's file where the caller allows it. Several
// files are placed at a time. Every file is counted into the progress record as it is
// placed, and the user's cancel is looked at between files and, through the copy's
// progress routine, inside each one.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/ParallelWork.h"
#include "shell/Wintools.h"

#include <mutex>

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
              TransferProgress* progress, TransferFigures& figures, std::set<std::wstring>& linked)
        : sourceRoot_(Widen(source)),
          previousRoot_(Widen(names.destination)),
          saveRoot_(Widen(names.save)),
          target_(Widen(names.incoming)),
          link_(options.linkUnchanged),
          progress_(progress),
          figures_(figures),
          linked_(linked) {}

    // The files are placed several at a time; after a failure the messages are those of
    // the first file in the listing that failed.
    bool Assemble(const std::vector<TreeEntry>& sourceEntries, const std::map<std::wstring, TreeEntry>& unchanged,
                  const SaveMatches& inSave, Messages& messages) {
        if (!MakeFolders(sourceEntries, messages)) return false;
        std::vector<const TreeEntry*> files;
        for (const auto& entry : sourceEntries)
            if (!entry.folder) files.push_back(&entry);
        std::vector<Messages> failures(files.size());
        const size_t failed = ForEachInParallel(files.size(), kFileWorkThreads, [&](size_t i) {
            const TreeEntry& entry = *files[i];
            if (Cancelled()) return CancelledCopy(failures[i]);
            const std::wstring name = FoldedName(entry.relative);
            if (LinkFromSave(entry, name, inSave)) return true;
            const auto found = unchanged.find(name);
            return Place(entry, found == unchanged.end() ? nullptr : &found->second, failures[i]);
        });
        if (failed < files.size()) {
            messages.insert(messages.end(), failures[failed].begin(), failures[failed].end());
            return false;
        }
        if (Cancelled()) return CancelledCopy(messages);
        CopyFolderAttributes(sourceEntries);
        return true;
    }

private:
    enum class From { Source, Backup, Link };

    bool Cancelled() const { return progress_ && progress_->Cancelled(); }

    static bool CancelledCopy(Messages& messages) {
        return Fail(messages, kCopyWording.title, kCopyWording.cancelledText);
    }

    bool MakeFolders(const std::vector<TreeEntry>& sourceEntries, Messages& messages) {
        FileOpResult made = MakeFolder(target_);
        for (auto entry = sourceEntries.begin(); made && entry != sourceEntries.end(); ++entry)
            if (entry->folder) made = MakeFolder(JoinPath(target_, entry->relative));
        if (made) return true;
        messages.push_back(FailureMessage(kCopyWording, made));
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
        FileCount count;
        count.progress = progress_;
        return Placed(entry, From::Link, !inSave.writtenSince.count(name), count);
    }

    // The file from the previous tree when it is there unchanged, else from the source.
    bool Place(const TreeEntry& entry, const TreeEntry* before, Messages& messages) {
        const std::wstring to = JoinPath(target_, entry.relative);
        FileCount count;
        count.progress = progress_;
        if (before) {
            const std::wstring previous = JoinPath(previousRoot_, before->relative);
            // FAT and exFAT refuse links, and so may a server: then the file is copied.
            if (link_ && MayLink(entry) &&
                Platform().createHardLink(LongPathForm(to).c_str(), LongPathForm(previous).c_str(), nullptr))
                return Placed(entry, From::Link, true, count);
            const FileOpResult local = CopyOneFile(previous, to, CountBytes, &count);
            if (local) return Placed(entry, From::Backup, false, count);
            if (local.cancelled || Cancelled()) return CancelledCopy(messages);
            // When in doubt the file comes from the source, over whatever the local copy left.
            SetFileAttributesW(LongPathForm(to).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(LongPathForm(to).c_str());
        }
        const std::wstring from = JoinPath(sourceRoot_, entry.relative);
        const FileOpResult crossed = CopyOneFile(from, to, CountBytes, &count);
        if (!crossed) {
            if (crossed.cancelled || Cancelled()) return CancelledCopy(messages);
            return Fail(messages, kCopyWording.title,
                        "Cannot copy file: " + Narrow(from) + " (" +
                            SystemErrorName(static_cast<int32_t>(crossed.error)) + ")");
        }
        return Placed(entry, From::Source, false, count);
    }

    // The file is in the new tree: it counts whole, whatever the copy reported on the way.
    // `onDisk`: a link to a file whose data is on disk already.
    bool Placed(const TreeEntry& entry, From from, bool onDisk, FileCount& count) {
        count.CountUpTo(entry.size);
        if (progress_) progress_->AddDone(1, 0);
        std::lock_guard<std::mutex> lock(counting_);
        switch (from) {
            case From::Source:
                ++figures_.filesFromSource;
                figures_.bytesFromSource += entry.size;
                break;
            case From::Backup:
                ++figures_.filesFromBackup;
                figures_.bytesFromBackup += entry.size;
                break;
            case From::Link:
                ++figures_.filesLinked;
                figures_.bytesLinked += entry.size;
                break;
        }
        if (onDisk) linked_.insert(FoldedName(entry.relative));
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
    std::mutex counting_;  // the figures and the linked names, from every thread
    TransferFigures& figures_;
    std::set<std::wstring>& linked_;
};

}  // namespace

bool AssembleIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                      const std::map<std::wstring, TreeEntry>& unchanged, const SaveMatches& inSave,
                      const TransferNames& names, const TransferOptions& options, TransferProgress* progress,
                      TransferFigures& figures, std::set<std::wstring>& linked, Messages& messages) {
    return Assembler(source, names, options, progress, figures, linked)
        .Assemble(sourceEntries, unchanged, inSave, messages);
}

// Copies a folder tree over another, keeping the previous tree as "<destination>.saved".
// The steps, in order: put right what an interrupted transfer left; list the source, the
// destination (or take the listing an earlier step made) and the save, once each; decide
// what differs; make the save into the next tree, with its journal and undo folder;
// put what was written on disk, check it, record it; switch names. A failure puts the
// save back as it was, and an interruption leaves what RepairTransfer reads. Nothing here
// shows a window: the messages of a failure go back in the result.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/SystemTexts.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <memory>
#include <set>

namespace {

bool CopyFailed(Messages& messages) { return Fail(messages, kCopyStepFailed.title, kCopyStepFailed.message); }

// The user's cancel, taken before the switch began: the boxes of any cancelled copy.
bool CancelledCopy(Messages& messages) {
    Fail(messages, kCopyWording.title, kCopyWording.cancelledText);
    return CopyFailed(messages);
}

// The destination cannot become the save: nothing is touched.
bool DestinationRefused(DWORD error, Messages& messages) {
    messages.push_back({kRenameWording.title, SystemErrorName(static_cast<int32_t>(error))});
    return Fail(messages, kRenameFolderTitle, kRenameFailedText);
}

class TreeTransfer {
public:
    TreeTransfer(const std::string& source, const std::string& destination, TransferProgress* progress,
                 const TransferOptions& options, TransferResult& result)
        : sourcePath_(source),
          names_(destination),
          progress_(progress),
          options_(options),
          result_(result),
          messages_(result.messages) {}

    bool Run() {
        // Checked first: with a trailing separator even the repair would look inside the data.
        if (names_.EndsInSeparator()) return DestinationRefused(ERROR_INVALID_NAME, messages_);
        if (!PutRight()) return false;
        if (!beside_.destination) return DestinationRefused(ERROR_FILE_NOT_FOUND, messages_);
        TraceStage("transfer: list source");
        auto source = std::make_shared<TreeLook>();
        if (!ReadSource(sourcePath_, names_, *source, messages_)) return CopyFailed(messages_);
        result_.sourceFingerprint = TreeFingerprint(source->entries);
        TraceStage("transfer: look at the destination");
        const TreeLook* present = LookAtPresentTree();
        // Rotating an equal tree in would only push the last real change out of the save.
        if (present && SameTree(*source, *present)) {
            // Nothing to switch; a cancel that came before this end still counts.
            if (progress_ && !progress_->BeginSwitch()) return CancelledCopy();
            result_.changedNothing = true;
            result_.source = TreeSeen(source);
            return true;
        }
        TraceStage("transfer: look at the save");
        if (beside_.save && !LookAtTree(names_.save, names_.saveManifest, Links::Keep, save_, problem_)) {
            Fail(messages_, kCopyWording.title, problem_);
            return CopyFailed(messages_);
        }
        const bool saveHoldsLinks =
            beside_.save && std::any_of(save_.entries.begin(), save_.entries.end(), [](const TreeEntry& e) { return IsLink(e); });
        const TreeLook* save = beside_.save && !saveHoldsLinks ? &save_ : nullptr;
        Plan plan = MakePlan(*source, save, present);
        if (saveHoldsLinks) plan.saveAside = FreeAsideName(names_);
        if (options_.history) plan.historyId = historyId_ = NewHistoryId();
        if (!StartNext(plan, *source)) return false;
        std::vector<TreeEntry> next;
        if (!MakeNext(plan, *source, save, present, next)) {
            GiveBack();
            return CopyFailed(messages_);
        }
        result_.sourceFingerprint = TreeFingerprint(source->entries);
        // The history entry is whole before the record calls the next tree whole: a repair
        // that finishes this switch finds it ready.
        const bool historyKept = options_.history && PrepareHistory(plan, *source, save, present);
        TraceStage("transfer: check record");
        if (!WriteCheckRecord(names_, next, messages_)) {
            GiveBack();
            return CopyFailed(messages_);
        }
        // Too late to cancel from here on; a cancel that came first is taken.
        if (progress_ && !progress_->BeginSwitch()) {
            GiveBack();
            return CancelledCopy();
        }
        if (options_.beforeSwitch && !options_.beforeSwitch(result_.sourceFingerprint)) {
            result_.stoppedBeforeSwitch = true;
            GiveBack();
            return false;
        }
        if (!SwitchNext(plan.saveAside)) return false;
        FinishSwitch(historyKept, !plan.moves.empty());
        result_.source = TreeSeen(source);
        TraceStage("transfer: done");
        return true;
    }

private:
    // Whatever an interrupted transfer left is put right before anything else.
    bool PutRight() {
        TraceStage("transfer: look beside");
        // Not even the folder that holds it can be read: the destination cannot become the save.
        if (!LookBeside(names_, beside_, problem_)) return DestinationRefused(GetLastError(), messages_);
        // A data folder gone by mistake is told about by the repair, too.
        if (!beside_.Traces() && (beside_.destination || !beside_.save)) return true;
        TraceStage("transfer: repair");
        RepairResult repair = RepairTransfer(names_.destination);
        if (!repair.ok) {
            messages_ = std::move(repair.messages);
            return false;
        }
        return LookBeside(names_, beside_, problem_) || DestinationRefused(GetLastError(), messages_);
    }

    // The destination's tree as an earlier step saw it while it is still that tree, else
    // listed now; null when it cannot be listed (then every file comes from the source).
    const TreeLook* LookAtPresentTree() {
        const TreeSeen* seen = options_.destinationSeen;
        if (seen && seen->Known() && LookAgain(names_.destination, *seen) == SeenAgain::Same) return seen->Look();
        std::string problem;
        return LookAtTree(names_.destination, names_.manifest, Links::Keep, present_, problem) ? &present_ : nullptr;
    }

    // The save takes the next tree's name and the journal is written, or an empty next
    // tree is made after a journal that says so: the journal comes before any change.
    bool StartNext(const Plan& plan, const TreeLook& source) {
        TraceStage("transfer: start the next tree");
        if (plan.fresh) {
            if (!WriteJournal(names_, plan, source, messages_)) return CopyFailed(messages_);
            if (const FileOpResult made = MakeFolder(Widen(names_.next)); !made) {
                messages_.push_back(FailureMessage(kCopyWording, made));
                RemoveUndoTraces(names_);
                return CopyFailed(messages_);
            }
            return true;
        }
        if (!RenameFolder(names_.save, names_.next, messages_))
            return Fail(messages_, kRenameSaveTitle, kRenameFailedText);
        if (WriteJournal(names_, plan, source, messages_)) return true;
        GiveBack();
        return CopyFailed(messages_);
    }

    // Built, on disk, checked, with its manifest; `next` is the tree as checked.
    bool MakeNext(const Plan& plan, TreeLook& source, const TreeLook* save, const TreeLook* present,
                  std::vector<TreeEntry>& next) {
        Built built;
        TreeIdentity identity = save ? save->identity : TreeIdentity{};
        if (!BuildNext(source, present, plan, names_, progress_, result_.figures, built, messages_)) return false;
        TraceStage("transfer: flush");
        if (!FlushBuilt(names_.next, built, messages_)) return false;
        TraceStage("transfer: verify");
        if (!ListNext(names_, save, built, next, messages_) || !VerifyNext(source, next, messages_)) return false;
        TraceStage("transfer: record");
        if (!save && !IdentifyTree(names_.next, identity))
            return Fail(messages_, kCopyWording.title, "Cannot read folder: " + names_.next);
        generation_ = NewGeneration();
        if (WriteManifest(names_.nextManifest, identity, generation_, next, source.tokens)) return true;
        return Fail(messages_, kCopyWording.title,
                    "Cannot write " + names_.nextManifest + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")");
    }

    bool CancelledCopy() {
        Fail(messages_, kCopyWording.title, kCopyWording.cancelledText);
        return CopyFailed(messages_);
    }

    bool SwitchNext(const std::string& saveAside) {
        TraceStage("transfer: switch");
        switch (SwitchIn(names_, saveAside, messages_)) {
            case Switched::Done: return true;
            case Switched::NotDone:
                GiveBack();
                return false;
            case Switched::Stuck: return false;  // the next start's repair finishes the switch
        }
        return false;
    }

    // The save back as it was. Should even that fail, the next repair does it.
    void GiveBack() {
        TraceStage("transfer: put the save back");
        TakeBackNext(names_, messages_);
        if (!historyId_.empty()) DropHistoryEntry(names_, historyId_);
    }

    // The period's entry in the history, ready but for the undo folder, before the switch.
    bool PrepareHistory(const Plan& plan, const TreeLook& source, const TreeLook* save, const TreeLook* present) {
        TraceStage("transfer: history entry");
        const HistoryAuthor& author = *options_.history;
        HistoryRecord record;
        record.id = historyId_;
        record.began = author.began;
        GetSystemTimeAsFileTime(&record.ended);
        record.user = author.user;
        record.pc = author.pc;
        record.made = generation_;
        record.base = save ? save->generation : 0;
        record.fingerprint = result_.sourceFingerprint;
        const std::vector<HistoryChange> changes = ChangesAgainst(source, present);
        for (const auto& change : changes) (change.kind == 'A' ? record.added : change.kind == 'R' ? record.removed : record.changed)++;
        record.incrementBytes = save ? TakenOutBytes(plan, *save) : 0;
        for (const auto& entry : source.entries) record.treeBytes += entry.size;
        return PrepareHistoryEntry(names_, record, changes);
    }

    // What the undo folder holds: each file taken out, and all that a folder taken out held.
    static uint64_t TakenOutBytes(const Plan& plan, const TreeLook& save) {
        std::set<std::wstring> folders;
        uint64_t bytes = 0;
        for (const auto& move : plan.moves) {
            if (move.folder) folders.insert(FoldedName(move.relative) + L"\\");
            else if (const TreeEntry* entry = save.Find(FoldedName(move.relative))) bytes += entry->size;
        }
        for (const auto& entry : save.entries) {
            const std::wstring name = FoldedName(entry.relative);
            for (const auto& folder : folders)
                if (!entry.folder && name.compare(0, folder.size(), folder) == 0) bytes += entry.size;
        }
        return bytes;
    }

    // The traces of a switch that went as planned go, or, for a copy back that keeps its
    // history, go into its entry; then the history keeps what its settings say.
    void FinishSwitch(bool historyKept, bool undoFolder) {
        if (!historyKept) {
            RemoveSwitchTraces(names_, undoFolder);
            return;
        }
        TraceStage("transfer: keep history");
        KeepHistoryEntry(names_, historyId_, false);
        PruneHistory(names_, options_.history->retention);
        TraceStage("transfer: history kept");
    }

    const std::string sourcePath_;
    const TransferNames names_;
    TransferProgress* progress_;
    const TransferOptions& options_;
    TransferResult& result_;
    Messages& messages_;
    Beside beside_;
    TreeLook present_, save_;
    std::string problem_;
    uint64_t generation_ = 0;  // of the next tree
    std::string historyId_;     // of the history entry this transfer makes
};

}  // namespace

bool Fail(Messages& messages, const std::string& title, const std::string& text) {
    messages.push_back({title, text});
    return false;
}

TransferResult TransferTree(const std::string& source, const std::string& destination, TransferProgress* progress,
                            const TransferOptions& options) {
    TransferResult result;
    result.ok = TreeTransfer(source, destination, progress, options, result).Run();
    result.cancelled = !result.ok && progress && progress->Cancelled();
    return result;
}

// Putting right a transfer that was interrupted, before anything else touches the folder.
// What lies beside the destination tells how far it got: a next tree that is whole and
// matches its check record finishes the switch; any other is put back into the save as
// the journal says it was. Only these traces of the program's own make a repair: a data
// folder that is simply gone is not replaced by its save.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

namespace {

// ---- What an earlier version left -------------------------------------------------------
// It built a whole copy as ".incoming", named it ".complete" with a ".complete.check"
// record once checked, moved the save to ".2delete", switched by renames, and deleted
// the old save, in the background as ".deleting-<hex>" folders.

bool CompleteCopyWhole(const TransferNames& names) {
    TransferNames earlier(names.destination);
    earlier.next = names.complete;
    earlier.check = names.completeCheck;
    return NextIsWhole(earlier);
}

enum class Step { Done, Failed, Again };
Step LookAgainUnless(bool failed) { return failed ? Step::Failed : Step::Again; }

class EarlierRepair {
public:
    EarlierRepair(const TransferNames& names, Messages& messages) : names_(names), messages_(messages) {}

    // One step towards a destination and perhaps a save; the destination is back before
    // anything is deleted.
    Step RepairStep() {
        const bool destination = Exists(names_.destination), save = Exists(names_.save),
                   oldSave = Exists(names_.oldSave), incoming = Exists(names_.incoming),
                   complete = Exists(names_.complete), check = Exists(names_.completeCheck);
        if (complete && !CompleteWhole())
            return incoming ? Remove(names_.incoming) : Rename(names_.complete, names_.incoming);
        if (complete) {
            if (destination && save) return oldSave ? Remove(names_.oldSave) : Rename(names_.save, names_.oldSave);
            if (destination) return Rename(names_.destination, names_.save);
            return Rename(names_.complete, names_.destination);
        }
        if (!destination && save) return Rename(names_.save, names_.destination);
        if (!destination && oldSave) return Rename(names_.oldSave, names_.destination);
        if (oldSave && !save) return Rename(names_.oldSave, names_.save);
        if (oldSave) return Remove(names_.oldSave);
        if (incoming) return Remove(names_.incoming);
        if (check) {
            RemoveOneFile(DurableTempName(Widen(names_.completeCheck)));
            return LookAgainUnless(!RemoveOneFile(Widen(names_.completeCheck)).ok);
        }
        return Step::Done;
    }

private:
    static bool Exists(const std::string& path) { return PathExists(Widen(path)); }

    bool CompleteWhole() {
        if (!completeChecked_) completeWhole_ = CompleteCopyWhole(names_);
        completeChecked_ = true;
        return completeWhole_;
    }

    Step Rename(const std::string& from, const std::string& to) {
        const bool renamed = RenameFolder(from, to, messages_);
        if (renamed) FlushParentOf(names_.destination);
        return LookAgainUnless(!renamed);
    }

    Step Remove(const std::string& folder) {
        const FileOpResult removed = RemoveTreeDirect(Widen(folder));
        if (!removed) messages_.push_back(FailureMessage(kDeleteWording, removed));
        return LookAgainUnless(!removed.ok);
    }

    const TransferNames& names_;
    Messages& messages_;
    bool completeChecked_ = false, completeWhole_ = false;
};

// ---- What this version leaves -------------------------------------------------------------

// Each manifest beside the tree it names, after a switch cut short between its renames
// and the manifests' moves: a lost manifest would make the next copy take every file. The
// next tree's manifest outlives its folder only when the switch was done (putting the save
// back deletes it first), and the destination's moves away before it moves in.
void SettleManifests(const TransferNames& names) {
    const auto move = [](const std::string& from, const std::string& to) {
        MoveFileExW(LongPathForm(Widen(from)).c_str(), LongPathForm(Widen(to)).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    };
    if (!PathExists(Widen(names.next)) && PathExists(Widen(names.nextManifest))) {
        if (PathExists(Widen(names.manifest))) move(names.manifest, names.saveManifest);
        move(names.nextManifest, names.manifest);
    }
    for (const std::string& file : {names.manifest, names.saveManifest})
        RemoveOneFile(DurableTempName(Widen(file)));
}

// What the journal says of the history entry a switch was to keep; empty for none.
std::string HistoryIdInJournal(const TransferNames& names) {
    Journal journal;
    return ReadJournal(names.journal, journal) ? journal.historyId : "";
}

// After a switch the entry is kept, else it goes; then the rest of the traces go.
void SettleHistoryAndTraces(const TransferNames& names, const std::string& historyId) {
    if (!historyId.empty()) {
        if (HistoryEntrySwitched(names, historyId)) KeepHistoryEntry(names, historyId, true);
        else DropHistoryEntry(names, historyId);
    }
    RemoveUndoTraces(names);
}

// The next tree is whole: the switch the transfer began is finished.
bool FinishSwitch(const TransferNames& names, const Beside& is, Messages& messages) {
    const std::string saveAside = SaveAsideInJournal(names);
    if (!saveAside.empty() && is.destination && is.save) {
        if (!RenameFolder(names.save, saveAside, messages)) return false;
        FlushParentOf(names.destination);
    } else if (is.destination && is.save) {
        // A save that came back meanwhile (an earlier version's transfer): the next tree
        // is older than what is there now and goes.
        const std::string historyId = HistoryIdInJournal(names);
        if (!TakeBackNext(names, messages)) return false;
        if (!historyId.empty()) DropHistoryEntry(names, historyId);
        return true;
    }
    if (is.destination && !RenameFolder(names.destination, names.save, messages)) return false;
    if (!RenameFolder(names.next, names.destination, messages)) return false;
    FlushParentOf(names.destination);
    SettleManifests(names);
    SettleHistoryAndTraces(names, HistoryIdInJournal(names));
    if (!saveAside.empty()) RemoveTreeDirect(Widen(saveAside));
    return true;
}

bool RepairNext(const TransferNames& names, const Beside& is, Messages& messages) {
    if (NextIsWhole(names)) return FinishSwitch(names, is, messages);
    // The switch had moved the destination's tree to the save's name: it comes back first.
    if (!is.destination && is.save && !RenameFolder(names.save, names.destination, messages)) return false;
    const std::string historyId = HistoryIdInJournal(names);
    if (!TakeBackNext(names, messages)) return false;
    if (!historyId.empty()) DropHistoryEntry(names, historyId);
    return true;
}

}  // namespace

bool RepairEarlierVersion(const TransferNames& names, const Beside& is, Messages& messages) {
    for (const std::string& folder : is.letGo) RemoveTreeBestEffort(Widen(folder));
    if (!is.incoming && !is.complete && !is.completeCheck && !is.oldSave) return true;
    // Each step removes one left-over or makes one rename; a handful always suffices.
    EarlierRepair repair(names, messages);
    Step step = Step::Again;
    for (int n = 0; n < 12 && step == Step::Again; ++n) step = repair.RepairStep();
    return step == Step::Done;
}

bool TransferInterrupted(const std::string& destination) {
    const TransferNames names(destination);
    Beside is;
    std::string problem;
    return !names.EndsInSeparator() && LookBeside(names, is, problem) && is.Traces();
}

namespace {

bool FolderLost(const TransferNames& names, const Beside& is, Message& message) {
    if (names.EndsInSeparator() || is.Traces() || is.destination || !is.save) return false;
    message = {"Repairing interrupted transfer", "The data folder " + names.destination +
                                                     " is missing. Its last backup is " + names.save +
                                                     "; nothing was replaced."};
    return true;
}

}  // namespace

bool DataFolderLost(const std::string& destination, Message& message) {
    const TransferNames names(destination);
    Beside is;
    std::string problem;
    return !names.EndsInSeparator() && LookBeside(names, is, problem) && FolderLost(names, is, message);
}

RepairResult RepairTransfer(const std::string& destination) {
    RepairResult result;
    const TransferNames names(destination);
    if (names.EndsInSeparator()) {
        result.ok = true;
        return result;
    }
    Beside is;
    std::string problem;
    if (!LookBeside(names, is, problem)) {
        Fail(result.messages, "Repairing interrupted transfer", problem);
        return result;
    }
    // A folder deleted or moved by mistake is the user's to find, not ours to replace.
    Message lost;
    if (FolderLost(names, is, lost)) {
        result.messages.push_back(lost);
        return result;
    }
    if (!is.Traces()) {
        result.ok = true;
        return result;
    }
    bool ok = RepairEarlierVersion(names, is, result.messages) && LookBeside(names, is, problem);
    if (ok && is.next)
        ok = RepairNext(names, is, result.messages);
    else if (ok) {
        // A switch or a putting back that was done, but for its traces.
        SettleManifests(names);
        SettleHistoryAndTraces(names, HistoryIdInJournal(names));
    }
    result.ok = ok;
    if (!ok)
        Fail(result.messages, "Repairing interrupted transfer",
             "Could not put right an interrupted transfer to " + names.destination);
    return result;
}

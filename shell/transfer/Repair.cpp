// Putting right a transfer that was interrupted. The switch to a new tree is a fixed
// series of renames, so the folders present tell how far it got: a verified copy
// (".complete" that still matches its record) is switched in, anything else goes back to
// the last whole tree. Only these traces of the program's own make a repair: a data
// folder that is simply gone is not replaced by its save.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

namespace {

struct Present {
    explicit Present(const TransferNames& names)
        : destination(PathExists(Widen(names.destination))),
          save(PathExists(Widen(names.save))),
          oldSave(PathExists(Widen(names.oldSave))),
          incoming(PathExists(Widen(names.incoming))),
          complete(PathExists(Widen(names.complete))),
          check(CheckRecordPresent(names)) {}
    // What only an interrupted transfer leaves.
    bool Traces() const { return incoming || complete || oldSave || check; }
    bool destination, save, oldSave, incoming, complete, check;
};

enum class Step { Done, Failed, Again };

// After one step that worked, the repair looks again; one that failed ends it.
Step LookAgainUnless(bool failed) { return failed ? Step::Failed : Step::Again; }

class Repairer {
public:
    Repairer(const TransferNames& names, Messages& messages) : names_(names), messages_(messages) {}

    // One step towards the normal form: a destination, perhaps a save, nothing else. The
    // destination is back before anything is deleted, so that a repair cut short still
    // leaves traces for the next one.
    Step RepairStep() {
        const Present is(names_);
        if (is.complete && !CompleteWhole()) {
            // Not verified any more: it loses the name in one rename, and goes with the incoming.
            return is.incoming ? Remove(names_.incoming) : Rename(names_.complete, names_.incoming);
        }
        if (is.complete) {
            // A verified copy finishes the switch the interrupted transfer began.
            if (is.destination && is.save)
                return is.oldSave ? RemoveOldSave() : Rename(names_.save, names_.oldSave);
            if (is.destination) return Rename(names_.destination, names_.save);
            return Rename(names_.complete, names_.destination);
        }
        if (!is.destination && is.save) return Rename(names_.save, names_.destination);
        if (!is.destination && is.oldSave) return Rename(names_.oldSave, names_.destination);
        if (is.oldSave && !is.save) return Rename(names_.oldSave, names_.save);
        if (is.oldSave) return RemoveOldSave();
        if (is.incoming) return Remove(names_.incoming);
        if (is.check) {
            RemoveCheckRecord(names_);
            return LookAgainUnless(CheckRecordPresent(names_));
        }
        return Step::Done;
    }

private:
    // Listed once: the copy does not change while the repair works.
    bool CompleteWhole() {
        if (!completeChecked_) completeWhole_ = CompleteIsWhole(names_);
        completeChecked_ = true;
        return completeWhole_;
    }

    Step Rename(const std::string& from, const std::string& to) {
        const bool renamed = RenameFolder(from, to, messages_);
        if (renamed) FlushParentOf(names_.destination);
        return LookAgainUnless(!renamed);
    }

    // The save before last is let go. When it cannot be deleted (a file another program
    // holds, a link the system cannot remove) it is moved out of the way under a name of
    // its own, so that it never stops a transfer; the user deletes it when they like.
    Step RemoveOldSave() {
        const FileOpResult removed = RemoveTreeDirect(Widen(names_.oldSave));
        if (removed) return Step::Again;
        for (int n = 2; n < 100; ++n) {
            const std::wstring aside = Widen(names_.oldSave + "-" + std::to_string(n));
            if (PathExists(aside)) continue;
            if (!MoveFileExW(LongPathForm(Widen(names_.oldSave)).c_str(), LongPathForm(aside).c_str(), 0)) break;
            FlushParentOf(names_.destination);
            return Step::Again;
        }
        messages_.push_back(FailureMessage(kDeleteWording, removed));
        return Step::Failed;
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

}  // namespace

bool TransferInterrupted(const std::string& destination) {
    const TransferNames names(destination);
    if (names.EndsInSeparator()) return false;
    return Present(names).Traces();
}

bool DataFolderLost(const std::string& destination, Message& message) {
    const TransferNames names(destination);
    const Present is(names);
    if (names.EndsInSeparator() || is.Traces() || is.destination || !is.save) return false;
    message = {"Repairing interrupted transfer", "The data folder " + names.destination +
                                                     " is missing. Its last backup is " + names.save +
                                                     "; nothing was replaced."};
    return true;
}

RepairResult RepairTransfer(const std::string& destination) {
    RepairResult result;
    const TransferNames names(destination);
    // A folder deleted or moved by mistake is the user's to find, not ours to replace.
    Message lost;
    if (DataFolderLost(destination, lost)) {
        result.messages.push_back(lost);
        return result;
    }
    if (names.EndsInSeparator() || !Present(names).Traces()) {
        result.ok = true;
        return result;
    }
    // Each step removes one left-over or makes one rename; a handful always suffices.
    Repairer repairer(names, result.messages);
    Step step = Step::Again;
    for (int n = 0; n < 12 && step == Step::Again; ++n) step = repairer.RepairStep();
    result.ok = step == Step::Done;
    if (!result.ok)
        Fail(result.messages, "Repairing interrupted transfer",
             "Could not put right an interrupted transfer to " + names.destination);
    return result;
}

// Copies a folder tree over another, keeping the previous tree as "<destination>.saved".
// The new tree is built beside the destination and verified before renames switch it
// in, so a failure leaves the destination and its save as they were, and an
// interruption leaves folders that RepairTransfer can read.
#include "shell/TransferNames.h"
#include "shell/TreeCopy.h"
#include "shell/Wintools.h"

namespace {

constexpr char kRenameFailed[] = "Error occuried during rename";

bool CopyFailed() { return ShowErrorMessage(nullptr, "Copying", "Error occuried during filecopy"); }

// The destination cannot become the save: nothing is touched.
bool DestinationRefused(DWORD error) {
    ShowErrorMessage(nullptr, "renaming", SystemErrorName(static_cast<int32_t>(error)));
    return ShowErrorMessage(nullptr, "Renaming folder to save", kRenameFailed);
}

// The source listed whole; an empty source never replaces a destination that holds data.
bool ReadSource(const char* source, const TransferNames& names, std::vector<TreeEntry>& entries) {
    if (!source || !*source) return ShowErrorMessage(nullptr, "Copying", "No source folder given");
    std::string problem;
    if (!ListTree(Widen(source), entries, problem)) return ShowErrorMessage(nullptr, "Copying", problem.c_str());
    std::vector<TreeEntry> destinationEntries;
    if (entries.empty() && (!ListTree(Widen(names.destination), destinationEntries, problem) ||
                            !destinationEntries.empty())) {
        const std::string text = std::string("The source folder is empty: ") + source +
                                 "\nNothing was copied, so that " + names.destination + " keeps its data.";
        return ShowErrorMessage(nullptr, "Copying", text.c_str());
    }
    return true;
}

// The new tree at the incoming name, checked against the source listing.
bool BuildIncoming(const char* source, const std::vector<TreeEntry>& sourceEntries, const TransferNames& names) {
    const std::wstring incoming = Widen(names.incoming);
    std::string difference;
    if (!AssembleCopy(source, sourceEntries, Widen(names.destination), incoming)) return false;
    if (CopyMatchesSource(sourceEntries, Widen(source), incoming, true, difference)) return true;
    return ShowErrorMessage(nullptr, "Copying", difference.c_str());
}

bool Rename(const std::string& from, const std::string& to) { return RenameTree(from.c_str(), to.c_str()); }

struct Move {
    const std::string& from;
    const std::string& to;
    const char* failureTitle;
};

// A failed rename is undone by the renames before it, in reverse, and the new copy goes;
// what cannot be undone here is left in a state that the next repair finishes.
bool SwitchIn(const TransferNames& names) {
    std::vector<Move> moves{{names.incoming, names.complete, "Renaming new copy to folder"}};
    if (PathExists(names.save.c_str())) moves.push_back({names.save, names.oldSave, "Renaming save to old save"});
    moves.push_back({names.destination, names.save, "Renaming folder to save"});
    moves.push_back({names.complete, names.destination, "Renaming new copy to folder"});
    for (size_t done = 0; done < moves.size(); ++done) {
        if (Rename(moves[done].from, moves[done].to)) continue;
        // The first move only named the copy as verified: it needs no undoing.
        for (size_t undo = done; undo-- > 1;) Rename(moves[undo].to, moves[undo].from);
        RemoveTreeDirect(Widen(names.incoming), true);
        RemoveTreeDirect(Widen(names.complete), true);
        return ShowErrorMessage(nullptr, moves[done].failureTitle, kRenameFailed);
    }
    // The new tree is in place: the save before last goes. Should that fail, the next
    // transfer's repair removes it before anything else.
    RemoveTreeDirect(Widen(names.oldSave), true);
    return true;
}

}  // namespace

bool TransferTree(const char* source, const char* destination) {
    LastTransferFigures() = TransferFigures{};
    const TransferNames names(destination);
    // Checked first: with a trailing separator even the repair would look inside the data.
    if (names.EndsInSeparator()) return DestinationRefused(ERROR_INVALID_NAME);
    if (!RepairTransfer(destination)) return false;
    // The destination must be there to become the save.
    if (!PathExists(names.destination.c_str())) return DestinationRefused(GetLastError());

    std::vector<TreeEntry> sourceEntries;
    if (!ReadSource(source, names, sourceEntries)) return CopyFailed();
    LastTransferFigures().sourceFingerprint = TreeFingerprint(sourceEntries);
    if (!BuildIncoming(source, sourceEntries, names)) {
        RemoveTreeDirect(Widen(names.incoming), true);
        return CopyFailed();
    }
    return SwitchIn(names);
}

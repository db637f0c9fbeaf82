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

// The destination must be there to become the save: nothing else is touched without it.
bool DestinationUsable(const TransferNames& names) {
    DWORD error = ERROR_SUCCESS;
    if (names.EndsInSeparator()) error = ERROR_INVALID_NAME;
    else if (!PathExists(names.destination.c_str())) error = GetLastError();
    if (error == ERROR_SUCCESS) return true;
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

// A failed rename is undone by the renames before it, in reverse; what cannot be undone
// here is left in a state that the next repair finishes.
bool SwitchIn(const TransferNames& names) {
    if (!Rename(names.incoming, names.complete)) {
        RemoveTreeDirect(Widen(names.incoming), true);
        return ShowErrorMessage(nullptr, "Renaming new copy to folder", kRenameFailed);
    }
    const bool hadSave = PathExists(names.save.c_str());
    if (hadSave && !Rename(names.save, names.oldSave)) {
        RemoveTreeDirect(Widen(names.complete), true);
        return ShowErrorMessage(nullptr, "Renaming save to old save", kRenameFailed);
    }
    if (!Rename(names.destination, names.save)) {
        if (hadSave) Rename(names.oldSave, names.save);
        RemoveTreeDirect(Widen(names.complete), true);
        return ShowErrorMessage(nullptr, "Renaming folder to save", kRenameFailed);
    }
    if (!Rename(names.complete, names.destination)) {
        Rename(names.save, names.destination);
        if (hadSave) Rename(names.oldSave, names.save);
        RemoveTreeDirect(Widen(names.complete), true);
        return ShowErrorMessage(nullptr, "Renaming new copy to folder", kRenameFailed);
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
    if (names.EndsInSeparator()) return DestinationUsable(names);
    if (!RepairTransfer(destination)) return false;
    if (!DestinationUsable(names)) return false;

    std::vector<TreeEntry> sourceEntries;
    if (!ReadSource(source, names, sourceEntries)) return CopyFailed();
    LastTransferFigures().sourceFingerprint = TreeFingerprint(sourceEntries);
    if (!BuildIncoming(source, sourceEntries, names)) {
        RemoveTreeDirect(Widen(names.incoming), true);
        return CopyFailed();
    }
    return SwitchIn(names);
}

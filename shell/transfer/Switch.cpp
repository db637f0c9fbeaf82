// The switch: renames that put the verified tree in the destination's place and keep the
// previous one as the save, and their undo when one of them fails.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/SystemTexts.h"
#include "shell/Wintools.h"

namespace {


struct Move {
    const std::string& from;
    const std::string& to;
    const char* failureTitle;
};

// The new copy after a failed switch. A delete can be cut short, so the copy first loses
// its verified name in one rename: a partial tree under ".incoming" is never used. One
// that cannot be renamed stays whole, with its record, for the next repair to finish.
void DropNewCopy(const TransferNames& names, Messages& messages) {
    if (PathExists(Widen(names.complete))) {
        if (PathExists(Widen(names.incoming)) && !RemoveTreeDirect(Widen(names.incoming))) return;
        if (!RenameFolder(names.complete, names.incoming, messages)) return;
    }
    RemoveCheckRecord(names);
    RemoveTreeDirect(Widen(names.incoming));
}

}  // namespace

bool RenameFolder(const std::string& from, const std::string& to, Messages& messages) {
    const FileOpResult renamed = RenameTreeAnyLength(from, to);
    if (!renamed) messages.push_back(FailureMessage(kRenameWording, renamed));
    return renamed.ok;
}

// A failed rename is undone by the renames before it, in reverse, and the new copy goes;
// what cannot be undone here is left in a state that the next repair finishes.
bool SwitchIn(const TransferNames& names, std::string& letGo, Messages& messages) {
    std::vector<Move> moves{{names.incoming, names.complete, kRenameCopyTitle}};
    if (PathExists(Widen(names.save))) moves.push_back({names.save, names.oldSave, kRenameSaveTitle});
    moves.push_back({names.destination, names.save, kRenameFolderTitle});
    moves.push_back({names.complete, names.destination, kRenameCopyTitle});
    for (size_t done = 0; done < moves.size(); ++done) {
        if (RenameFolder(moves[done].from, moves[done].to, messages)) continue;
        // The first move only named the copy as verified: it needs no undoing.
        for (size_t undo = done; undo-- > 1;) RenameFolder(moves[undo].to, moves[undo].from, messages);
        DropNewCopy(names, messages);
        FlushParentOf(names.destination);
        return Fail(messages, moves[done].failureTitle, kRenameFailedText);
    }
    // The new tree is in place, and that is on disk before anything is let go.
    FlushParentOf(names.destination);
    RemoveCheckRecord(names);
    // The old save takes a name that is never a trace of a switch, in one rename, and goes
    // where it delays nobody; a kill meanwhile leaves that name for the next transfer.
    if (!letGo.empty() && PathExists(Widen(names.oldSave)) && RenameTreeAnyLength(names.oldSave, letGo)) return true;
    letGo.clear();
    // The save before last goes. Should that fail, the next transfer's repair removes it
    // before anything else.
    RemoveTreeDirect(Widen(names.oldSave));
    return true;
}

// The switch: two renames put the whole, checked next tree in the destination's place and
// keep the destination's tree as the save; the manifests follow their trees. A failed
// rename is undone by the one before it.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/SystemTexts.h"
#include "shell/Wintools.h"

namespace {

// A manifest names its tree's root: one left in the wrong place is ignored, never wrong.
void MoveManifest(const std::string& from, const std::string& to) {
    if (!MoveFileExW(LongPathForm(Widen(from)).c_str(), LongPathForm(Widen(to)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        RemoveOneFile(Widen(to));
}

}  // namespace

bool RenameFolder(const std::string& from, const std::string& to, Messages& messages) {
    const FileOpResult renamed = RenameTreeAnyLength(from, to);
    if (!renamed) {
        messages.push_back(FailureMessage(kRenameWording, renamed));
        SetLastError(renamed.error);
    }
    return renamed.ok;
}

void MoveManifestsAfterSwitch(const TransferNames& names) {
    MoveManifest(names.manifest, names.saveManifest);
    MoveManifest(names.nextManifest, names.manifest);
}

Switched SwitchIn(const TransferNames& names, const std::string& saveAside, Messages& messages) {
    if (!saveAside.empty() && !RenameFolder(names.save, saveAside, messages)) {
        Fail(messages, kRenameSaveTitle, kRenameFailedText);
        return Switched::NotDone;
    }
    const auto saveBack = [&] { return saveAside.empty() || RenameFolder(saveAside, names.save, messages); };
    if (!RenameFolder(names.destination, names.save, messages)) {
        const bool undone = saveBack();
        Fail(messages, kRenameFolderTitle, kRenameFailedText);
        return undone ? Switched::NotDone : Switched::Stuck;
    }
    if (!RenameFolder(names.next, names.destination, messages)) {
        const bool undone = RenameFolder(names.save, names.destination, messages) && saveBack();
        FlushParentOf(names.destination);
        Fail(messages, kRenameCopyTitle, kRenameFailedText);
        return undone ? Switched::NotDone : Switched::Stuck;
    }
    // The new tree is in place, and that is on disk before anything is let go.
    FlushParentOf(names.destination);
    MoveManifestsAfterSwitch(names);
    // The save that went aside goes, unless a link in it will not (then it stays, whole,
    // for the user to delete).
    if (!saveAside.empty()) RemoveTreeDirect(Widen(saveAside));
    return Switched::Done;
}

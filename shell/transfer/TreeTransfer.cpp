// Copies a folder tree over another, keeping the previous tree as "<destination>.saved".
// The new tree is built beside the destination and verified before renames switch it
// in, so a failure leaves the destination and its save as they were, and an
// interruption leaves folders that RepairTransfer can read. Nothing here shows a window:
// the messages of a failure go back in the result.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/SystemTexts.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

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

void SetTotals(const std::vector<TreeEntry>& sourceEntries, TransferProgress* progress) {
    if (!progress) return;
    uint64_t files = 0, bytes = 0;
    for (const auto& entry : sourceEntries) {
        if (entry.folder) continue;
        ++files;
        bytes += entry.size;
    }
    progress->SetTotal(files, bytes);
}

// The steps in order; each failing one has told why in `result.messages`.
bool Transfer(const std::string& source, const std::string& destination, TransferProgress* progress,
              const TransferOptions& options, TransferResult& result) {
    Messages& messages = result.messages;
    const TransferNames names(destination);
    // Checked first: with a trailing separator even the repair would look inside the data.
    if (names.EndsInSeparator()) return DestinationRefused(ERROR_INVALID_NAME, messages);
    TraceStage("transfer: repair");
    RepairResult repair = RepairTransfer(destination);
    if (!repair.ok) {
        messages = std::move(repair.messages);
        return false;
    }
    if (options.deleteOldSaveLater) {
        // The manifest of this process's last transfer here comes first.
        WaitForBackgroundWorkOn(destination);
        DeleteLeftoversInBackground(destination);
    }
    // The destination must be there to become the save.
    if (!PathExists(Widen(names.destination))) return DestinationRefused(GetLastError(), messages);

    // The manifest of the source's tree may still be on its way (its old save went after).
    WaitForBackgroundWorkOn(source);
    TraceStage("transfer: list source");
    std::vector<TreeEntry> sourceEntries;
    if (!ReadSource(source, names, sourceEntries, messages)) return CopyFailed(messages);
    result.sourceFingerprint = TreeFingerprint(sourceEntries);
    TraceStage("transfer: find changes");
    Changes changes = FindChanges(source, sourceEntries, names);
    // Rotating an equal tree in would only push the last real change out of the save.
    if (changes.nothing) {
        // Nothing to switch; a cancel that came before this end still counts.
        if (progress && !progress->BeginSwitch()) return CancelledCopy(messages);
        result.changedNothing = true;
        return true;
    }
    const SaveMatches inSave = options.linkFromOldSave ? FindInSave(sourceEntries, changes.tokens, names) : SaveMatches{};
    TraceStage("transfer: assemble");
    SetTotals(sourceEntries, progress);
    std::set<std::wstring> linked;
    std::vector<TreeEntry> incomingEntries;
    const bool assembled = AssembleIncoming(source, sourceEntries, changes.unchanged, inSave, names, options,
                                            progress, result.figures, linked, messages);
    TraceStage("transfer: verify");
    if (!assembled || !VerifyIncoming(source, sourceEntries, names, incomingEntries, messages)) {
        RemoveTreeDirect(Widen(names.incoming));
        return CopyFailed(messages);
    }
    TraceStage("transfer: list source again");
    ForgetMovedFiles(source, sourceEntries, changes.tokens);
    // Whole and on disk, with a record of what it holds, before a name calls it verified.
    TraceStage("transfer: flush");
    const auto dropIncoming = [&names] {
        RemoveCheckRecord(names);
        RemoveTreeDirect(Widen(names.incoming));
    };
    if (!FlushListedTree(names.incoming, incomingEntries, messages, linked) ||
        !WriteCheckRecord(names, incomingEntries, messages)) {
        dropIncoming();
        return CopyFailed(messages);
    }
    // A cancel counts until here; after it the display says it is too late.
    if (progress && !progress->BeginSwitch()) {
        dropIncoming();
        return CancelledCopy(messages);
    }
    if (options.beforeSwitch && !options.beforeSwitch(result.sourceFingerprint)) {
        dropIncoming();
        result.stoppedBeforeSwitch = true;
        return false;
    }
    TraceStage("transfer: switch");
    std::string letGo = options.deleteOldSaveLater ? LetGoName(destination) : "";
    if (!SwitchIn(names, letGo, messages)) return false;
    if (options.linkFromOldSave) KeepManifestWithSave(names);
    // Without a manifest the next transfer copies more, but the tree is whole: no failure.
    TreeIdentity tree;
    const bool identified = IdentifyTree(destination, tree);
    auto writeManifest = [names, tokens = std::move(changes.tokens), tree, identified] {
        if (identified) WriteManifest(names, tokens, tree);
    };
    // Deleting the old save moves the change times of the files linked to it: the
    // manifest is written once it is gone.
    if (letGo.empty())
        writeManifest();
    else
        DeleteInBackground(destination, letGo, std::move(writeManifest));
    TraceStage("transfer: done");
    return true;
}

}  // namespace

bool Fail(Messages& messages, const std::string& title, const std::string& text) {
    messages.push_back({title, text});
    return false;
}

TransferResult TransferTree(const std::string& source, const std::string& destination, TransferProgress* progress,
                            const TransferOptions& options) {
    TransferResult result;
    result.ok = Transfer(source, destination, progress, options, result);
    result.cancelled = !result.ok && progress && progress->Cancelled();
    return result;
}

// The tree transfer: copies a folder tree over another, keeping the previous tree as
// "<destination>.saved". This header is the module's only door.
//
// Nothing here shows a window: the transfer runs on a worker thread, and the window
// thread shows the messages of a failure afterwards, in order (ShowMessages).
#pragma once

#include "shell/Message.h"  // Message {title, text}, Messages

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Shared between the worker that transfers and the window that shows its progress;
// every member may be used from either thread.
class TransferProgress {
public:
    struct Counts {
        uint64_t filesDone = 0, filesTotal = 0;
        uint64_t bytesDone = 0, bytesTotal = 0;
    };
    void SetTotal(uint64_t files, uint64_t bytes);
    void AddDone(uint64_t files, uint64_t bytes);
    Counts Read() const;
    // The user's Cancel: the transfer ends through its usual failure path. Accepted until
    // the switch begins; false once it has (the new tree is being put in place).
    bool Cancel();
    bool Cancelled() const { return stage_ == kCancelled; }
    // The transfer is about to switch the new tree in: from now on a cancel is refused.
    // False when a cancel came first, and the transfer must then stop.
    bool BeginSwitch();
    bool SwitchBegun() const { return stage_ == kSwitching; }

private:
    enum Stage { kCopying, kCancelled, kSwitching };
    std::atomic<uint64_t> filesDone_{0}, filesTotal_{0}, bytesDone_{0}, bytesTotal_{0};
    // One word for both, so that a cancel and the switch's start cannot both win.
    std::atomic<int> stage_{kCopying};
};

// What a transfer moved: files and bytes read from the source (what crosses the network),
// copied from the destination's previous tree on its own side, and hard-linked to the
// previous tree's files (nothing written). Every file of the new tree is in one of the three.
struct TransferFigures {
    uint64_t filesFromSource = 0;
    uint64_t bytesFromSource = 0;
    uint64_t filesFromBackup = 0;
    uint64_t bytesFromBackup = 0;
    uint64_t filesLinked = 0;
    uint64_t bytesLinked = 0;
};

// How a transfer may build the new tree.
struct TransferOptions {
    // The destination's trees are never changed in place (the shared folder: only
    // transfers write there), so an unchanged file may be a hard link to the previous
    // tree's file where the file system allows: nothing is written for it.
    bool linkUnchanged = false;
    // Called on the worker once the new tree is whole, verified and on disk, just before
    // the renames that make it current; false stops the transfer, changing nothing, and
    // the result says so (stoppedBeforeSwitch). Not called when nothing changed: then
    // nothing is switched.
    std::function<bool(uint64_t sourceFingerprint)> beforeSwitch;
    // The save before last is renamed "<destination>.deleting-<unique>" in the switch and
    // deleted on a thread of its own (WaitForBackgroundDeletes), as are such leftovers of
    // earlier transfers found at the start; without this it is deleted before the
    // transfer returns.
    bool deleteOldSaveLater = false;
    // The save before last goes at the switch: a file it holds with the source's content
    // is hard-linked from it instead of copied (nothing written). The new tree then shares
    // files only with a tree about to be deleted, never with the save, so it may be
    // changed in place (the local side). The save's manifest is kept for this.
    bool linkFromOldSave = false;
};

struct TransferResult {
    bool ok = false;
    // The source equals the destination (names, sizes, times, attributes, and no file
    // written since the last transfer made it): nothing was copied or rotated.
    bool changedNothing = false;
    // Failed because the user (through the progress record) cancelled it.
    bool cancelled = false;
    // Failed because beforeSwitch said no: the new tree went, nothing was switched, and
    // `messages` is empty, so that the caller tells why in its own words.
    bool stoppedBeforeSwitch = false;
    uint64_t sourceFingerprint = 0;  // the source tree as it was copied
    TransferFigures figures;
    Messages messages;  // on failure: the boxes to show, in order
};

// Makes `destination` a copy of `source`, keeping the previous tree as ".saved". On
// failure the previous tree is whole under the destination, ".saved" or ".2delete".
TransferResult TransferTree(const std::string& source, const std::string& destination,
                            TransferProgress* progress = nullptr, const TransferOptions& options = {});

struct SetAsideResult {
    bool ok = false;
    std::string folder;  // where the tree was set aside
    Messages messages;
};
// A free name for setting `source` aside: "<source>.setaside-YYYYMMDD-hhmmss", with
// "-2", "-3"... when taken.
std::string FreeAsideFolder(const std::string& source);
// Copies the tree at `source` into the new folder `aside` beside it, which the program
// never deletes. The copy is built as "<aside>.incoming" and named only once it is whole
// and on disk, so a folder of the set-aside name is always whole. With `linkFiles` (a
// tree never changed in place) files are hard links where the file system allows.
SetAsideResult SetTreeAside(const std::string& source, const std::string& aside, bool linkFiles);

struct RepairResult {
    bool ok = false;
    Messages messages;
};
// Puts right a transfer to `destination` that was interrupted (program killed, power
// lost): afterwards the last whole tree is under the destination's name and ".saved" is
// the one before. ok when nothing was left to do or all was put right.
RepairResult RepairTransfer(const std::string& destination);
// A data folder that is gone while its ".saved" is there, with no trace of a transfer:
// deleted or moved by mistake, the user's to find, never replaced by the backup. True
// then, with the box that says so.
bool DataFolderLost(const std::string& destination, Message& message);
// Whether an interrupted transfer left its traces beside `destination`.
bool TransferInterrupted(const std::string& destination);

// The fingerprint of the tree at `folder`: relative names, kinds, sizes and last-write
// times, independent of listing order; the same as TransferResult::sourceFingerprint
// gives for that tree. Thumbs.db, desktop.ini, .DS_Store and "._" files, which Explorer
// and macOS leave in folders they show, do not count. False when the tree cannot be
// listed whole.
bool FingerprintFolder(const std::string& folder, uint64_t& fingerprint);

// Deletes, on a thread of its own, every "<destination>.deleting-<unique>" folder that a
// transfer killed while it let a tree go has left behind. Files another PC deletes at the
// same time count as deleted.
void DeleteLeftoversInBackground(const std::string& destination);
// Waits until the trees let go in the background are deleted (or could not all be); false
// when the time ran out first.
bool WaitForBackgroundDeletes(DWORD timeoutMs);

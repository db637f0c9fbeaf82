// The tree transfer: copies a folder tree over another, keeping the previous tree as
// "<destination>.saved". This header is the module's only door.
//
// The next tree is made out of the save before last, changing only what differs from
// the source, so that the work on each side follows what changed, not the size of the
// tree. No two trees it keeps share a file.
//
// Nothing here shows a window: the transfer runs on a worker thread, and the window
// thread shows the messages of a failure afterwards, in order (ShowMessages).
#pragma once

#include "shell/Message.h"  // Message {title, text}, Messages

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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

// What a transfer wrote: files and bytes read from the source (what crosses the network),
// copied from the destination's present tree on its own side, and left as the save held
// them. Every file of the new tree is in one of the three.
struct TransferFigures {
    uint64_t filesFromSource = 0;
    uint64_t bytesFromSource = 0;
    uint64_t filesOnOwnSide = 0;
    uint64_t bytesOnOwnSide = 0;
    uint64_t filesKept = 0;
    uint64_t bytesKept = 0;
    uint64_t entriesTakenOut = 0;  // files and folders of the save moved into the undo folder
};

struct TreeLook;
// A tree as a transfer listed it, for a later step of the same period: its listing, the
// content tokens of its files and its stamp (root folder and the generation its manifest
// names). Empty until a transfer fills it.
class TreeSeen {
public:
    TreeSeen() = default;
    explicit TreeSeen(std::shared_ptr<const TreeLook> look);
    bool Known() const { return look_ != nullptr; }
    // The fingerprint of the tree as it was listed (TreeFingerprint); 0 when unknown.
    uint64_t Fingerprint() const;
    const TreeLook* Look() const { return look_.get(); }

private:
    std::shared_ptr<const TreeLook> look_;
};

// How a transfer may go.
struct TransferOptions {
    // Called on the worker once the new tree is whole, verified and on disk, just before
    // the renames that make it current; false stops the transfer (stoppedBeforeSwitch)
    // and the save is put back. Not called when nothing changed: then nothing is switched.
    std::function<bool(uint64_t sourceFingerprint)> beforeSwitch;
    // The destination's present tree as the step that runs this transfer has just listed
    // it (the copy back's check of the share): taken instead of listing it again while it
    // is still that tree. Files copied from it are checked to be still as listed.
    const TreeSeen* destinationSeen = nullptr;
};

struct TransferResult {
    bool ok = false;
    // The source equals the destination (names, sizes, times, attributes, and no file
    // written since the last transfer made it): nothing was copied or rotated.
    bool changedNothing = false;
    // Failed because the user (through the progress record) cancelled it.
    bool cancelled = false;
    // Failed because beforeSwitch said no; the transfer added no messages of its own.
    bool stoppedBeforeSwitch = false;
    uint64_t sourceFingerprint = 0;  // the source tree as it was copied
    TreeSeen source;                 // the source as it was listed and copied
    TransferFigures figures;
    Messages messages;  // on failure: the boxes to show, in order
};

// Makes `destination` a copy of `source`, keeping the previous tree as ".saved". On
// failure the destination and its save are as they were.
TransferResult TransferTree(const std::string& source, const std::string& destination,
                            TransferProgress* progress = nullptr, const TransferOptions& options = {});

// The tree at `folder` listed whole, with what its files were made from; not Known when
// it cannot be listed.
TreeSeen SeeTree(const std::string& folder);
// Two looks at a tree found the same: the same names, kinds, sizes, times and attributes,
// and no file written in between (each file's content token). Files that Explorer and
// macOS leave in folders someone looked at do not count.
bool SameAsSeen(const TreeSeen& now, const TreeSeen& before);
// Whether the tree at `folder` is still the very tree `seen` listed (its root folder and
// the generation its manifest names; where it had no generation, its fingerprint): a
// cheap look that tells a tree switched in since, not a file written in place. Unreadable
// when it cannot be looked at: that is never taken as unchanged.
enum class SeenAgain { Same, Changed, Unreadable };
SeenAgain LookAgain(const std::string& folder, const TreeSeen& seen);

struct SetAsideResult {
    bool ok = false;
    std::string folder;  // where the tree was set aside
    Messages messages;
};
// A free name for setting `source` aside: "<source>.setaside-YYYYMMDD-hhmmss", with
// "-2", "-3"... when taken.
std::string FreeAsideFolder(const std::string& source);
// Copies the tree at `source`, every file, into the new folder `aside` beside it, which
// the program never deletes: files of its own, safe to open. The copy is built as
// "<aside>.incoming" and named only once it is whole and on disk.
SetAsideResult SetTreeAside(const std::string& source, const std::string& aside);

struct RepairResult {
    bool ok = false;
    Messages messages;
};
// Puts right a transfer to `destination` that was interrupted (program killed, power
// lost): afterwards the last whole tree is under the destination's name and ".saved" is
// the one before, exactly as it was. ok when nothing was left to do or all was put right.
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

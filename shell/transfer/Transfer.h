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
#include <vector>

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

// ---- History: who worked when, what changed, and any earlier version back ---------------
// Beside the shared data folder, "<shared>.history" keeps a log of the periods whose copy
// back switched a tree in, and of the events around them; and for each such period what
// its copy back took out of the tree it made its new tree from (its increment). From the
// data, its save and the increments, the tree after any kept period is made again. Only
// the lock holder writes there.

struct HistoryRetention {
    int periods = 30;       // the increments of at least the last this many periods,
    int days = 14;          // and of every period this recent,
    int sizePercent = 100;  // but never more, all together, than this share of the tree's size
};

// Who makes a copy back's history entry, when the transfer is to make one.
struct HistoryAuthor {
    std::string user, pc;
    FILETIME began{};  // when the period began, UTC
    HistoryRetention retention;
};

enum class HistoryKind { Period, Event };
struct HistoryRecord {
    std::string id;  // unique, sorts by time
    HistoryKind kind = HistoryKind::Period;
    FILETIME began{}, ended{};  // UTC; an event has only `ended`
    std::string user, pc;
    std::string text;  // an event: what happened, in words
    // A period: the generation of the tree it switched in, of the tree its increment leads
    // back to (0: none), and the fingerprint of its tree.
    uint64_t made = 0, base = 0, fingerprint = 0;
    uint64_t added = 0, changed = 0, removed = 0;  // files, against the tree before
    uint64_t incrementBytes = 0, treeBytes = 0;
    bool incrementKept = false;  // its increment is still there
};
struct HistoryChange {
    char kind = 'C';  // 'A' added, 'C' changed, 'R' removed
    uint64_t size = 0;
    std::wstring name;  // relative to the data folder
};

// "<shared>.history"
std::string HistoryFolder(const std::string& shared);
// The records, newest first. A share without history has none; a record cut short by a
// crash is left out. False when the history cannot be read.
bool ReadHistory(const std::string& shared, std::vector<HistoryRecord>& records, std::string& problem);
// The files a period added, changed and removed.
bool ReadHistoryChanges(const std::string& shared, const HistoryRecord& period, std::vector<HistoryChange>& changes,
                        std::string& problem);
// Adds an event (its id is filled in, and `ended` when it is not given). Only under the
// lock.
bool RecordHistoryEvent(const std::string& shared, HistoryRecord event, std::string& problem);

struct RestoreResult {
    bool ok = false;
    std::string folder;  // where the copy is
    Messages messages;
};
// The shared tree as `period` left it, made anew from the share's trees and increments in
// a new folder beside `beside` ("<beside>.version-YYYYMMDD-hhmmss", the period's end in
// local time), built under that name plus ".incoming" and named only once it is whole,
// checked and on disk. Nothing on the share is written.
RestoreResult RestoreVersion(const std::string& shared, const HistoryRecord& period, const std::string& beside,
                             TransferProgress* progress = nullptr);

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
    // A copy back to the share: its switch keeps what it took out, and the period's record,
    // in the history beside the destination. A history that cannot be written never stops
    // the copy.
    const HistoryAuthor* history = nullptr;
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

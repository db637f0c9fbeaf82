// The concerns the tree transfer is made of, one file each. Private to this folder:
// callers see only Transfer.h. Every step appends what went wrong to `messages`, in the
// order the boxes are to be shown, and returns false; none shows anything.
#pragma once

#include "shell/TreeListing.h"
#include "shell/transfer/Names.h"
#include "shell/transfer/Transfer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// Appends the message and returns false, so that a step fails and tells in one line.
bool Fail(Messages& messages, const std::string& title, const std::string& text);

// ---- Listing.cpp: the source as the transfer reads it ----------------------------------
// The source listed whole into `entries`; refused when it cannot be, and when it is empty
// while the destination holds data (an empty source never replaces data).
bool ReadSource(const std::string& source, const TransferNames& names, std::vector<TreeEntry>& entries,
                Messages& messages);
// Relative names, kinds, sizes and last-write times, independent of listing order. The
// files that Explorer and macOS leave in folders they show are not counted.
uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries);

// ---- Manifest.cpp: what each file of a tree was made from -------------------------------
// A file's content as one file (volume, file ID) held it at one change time. A copy that a
// transfer makes carries the token of the file it was made from, for as long as neither
// is written; any other file carries its own. Equal tokens mean equal content, whatever
// the sizes and times say, and no clock is ever compared.
inline uint64_t TimeValue(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

struct ContentToken {
    uint32_t volume = 0;
    uint64_t fileId = 0;
    uint64_t changed = 0;
    bool operator==(const ContentToken& o) const {
        return volume == o.volume && fileId == o.fileId && changed == o.changed;
    }
};
using ContentTokens = std::map<std::wstring, ContentToken>;  // by FoldedName of the relative name

// The tokens the files of the tree at `root` (listed as `entries`) carry now: a file still
// as the manifest beside the tree recorded it carries the recorded token, any other its
// own. None at all where the file system keeps no change times.
ContentTokens CurrentTokens(const std::string& root, const std::vector<TreeEntry>& entries);
// Which tree a manifest is about, and whether the volume keeps change times.
struct TreeIdentity {
    uint32_t volume = 0;
    uint64_t root = 0;
    bool keepsChangeTimes = false;
};
bool IdentifyTree(const std::string& root, TreeIdentity& identity);
// Records beside names.destination, for the tree `tree` (IdentifyTree), the token each of
// its files was given (by name; a file without one carries its own). It may come later
// than the switch (once the old save is deleted, which moves the change times of files
// linked to it): nothing is written when the destination holds another tree by then.
// False when it was not written: the next transfer then trusts less and copies more.
bool WriteManifest(const TransferNames& names, const ContentTokens& given, const TreeIdentity& tree);
// Once the destination's tree has become the save, its manifest goes with it (the
// save's manifest is "<save>.manifest"); the save before last's goes.
void KeepManifestWithSave(const TransferNames& names);

// ---- Changes.cpp: what changed since the destination's tree was made ------------------
struct Changes {
    ContentTokens tokens;                         // the source's files, as they are now
    std::map<std::wstring, TreeEntry> unchanged;  // by folded name: the destination's equal file
    bool nothing = false;                         // the destination is the source already
};
// A source file is unchanged only where the destination's file has its name, size,
// last-write time and attributes and the same content token; without tokens, all changed.
Changes FindChanges(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names);
// The files of the source that the destination's save holds with equal content (as
// FindChanges decides), by folded name, and of those the ones written since a transfer
// made them: their data may not be on disk yet.
struct SaveMatches {
    std::map<std::wstring, TreeEntry> files;
    std::set<std::wstring> writtenSince;
};
SaveMatches FindInSave(const std::vector<TreeEntry>& sourceEntries, const ContentTokens& sourceTokens,
                       const TransferNames& names);
// Lists the source again and drops the tokens of files that moved meanwhile: their copy
// may hold neither the old content nor the new.
void ForgetMovedFiles(const std::string& source, const std::vector<TreeEntry>& sourceEntries, ContentTokens& tokens);

// ---- Assembly.cpp: the new tree at the incoming name -----------------------------------
// Builds a copy of the source at names.incoming (which must not exist): files of
// `unchanged` are taken from the destination's present tree on its own side (hard-linked
// with options.linkUnchanged where the file system allows, else copied), the rest cross
// from the source. Counts every file placed into `progress` (may be null) and `figures`,
// and stops at its cancel.
// `linked` receives the folded names of the files hard-linked whose data is on disk already.
// Files of `inSave` are hard-linked from the save first, where they may be.
bool AssembleIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                      const std::map<std::wstring, TreeEntry>& unchanged, const SaveMatches& inSave,
                      const TransferNames& names, const TransferOptions& options, TransferProgress* progress,
                      TransferFigures& figures, std::set<std::wstring>& linked, Messages& messages);

// ---- Verify.cpp: the check of the copy ---------------------------------------------------
// The incoming tree holds exactly the entries of the source listing, files with their sizes.
// `incomingEntries` receives the incoming tree as it was listed for the check: nothing but
// the transfer writes there, so the flush and the check record take it as it is.
bool VerifyIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names, std::vector<TreeEntry>& incomingEntries, Messages& messages);

// The record beside a complete copy (names.check) of what it holds, written once the
// incoming tree is verified and on disk, from its listing: a complete copy that no longer
// matches it (cut short by a delete, a crash) is never switched in.
bool WriteCheckRecord(const TransferNames& names, const std::vector<TreeEntry>& entries, Messages& messages);
// The complete copy holds what its record says; false without a record.
bool CompleteIsWhole(const TransferNames& names);
bool CheckRecordPresent(const TransferNames& names);
void RemoveCheckRecord(const TransferNames& names);

// ---- Flush.cpp: the new tree on disk before a name calls it verified ---------------------
// Every file of the tree at `root` flushed, then its folders, deepest first, the root last
// (written all, then flushed in one pass: far cheaper than file by file). `entries` is the
// tree as it was flushed.
// Files named (folded) in `onDisk` are links to a kept tree's file: only their names,
// which the folder flushes carry, are new.
bool FlushTree(const std::string& root, std::vector<TreeEntry>& entries, Messages& messages,
               const std::set<std::wstring>& onDisk = {});
// The same for a tree listed already as `entries`.
bool FlushListedTree(const std::string& root, const std::vector<TreeEntry>& entries, Messages& messages,
                     const std::set<std::wstring>& onDisk = {});
// The renames made in the folder that holds `path`, put on disk where the file system can.
void FlushParentOf(const std::string& path);

// ---- Switch.cpp: the renames that put the verified tree in place -----------------------
// One rename (through the shell where the paths fit it); its failure ("renaming" and the
// error) is appended.
bool RenameFolder(const std::string& from, const std::string& to, Messages& messages);
// Incoming -> complete, save -> old save, destination -> save, complete -> destination,
// then the old save goes. A failed rename is undone by the renames before it, in reverse,
// and the new copy loses its verified name before it is deleted.
// With `letGo` the save before last is renamed to that name at the end instead of being
// deleted; `letGo` is cleared when there was none or it could not be renamed (and was
// deleted in place).
bool SwitchIn(const TransferNames& names, std::string& letGo, Messages& messages);

// ---- BackgroundDelete.cpp: trees let go where the delete delays nobody -----------------
// "<destination>.deleting-<unique>": a name no other tree of the program has.
std::string LetGoName(const std::string& destination);
// Whether `folder` is such a name for `destination` (exactly, not through a short name).
bool IsLetGoFolder(const std::string& destination, const std::wstring& folder);
// Deletes the tree on the process's delete thread, then calls `after` there (may be empty);
// what is gone already counts as deleted. Work for one destination is done in turn.
void DeleteInBackground(const std::string& destination, const std::string& folder, std::function<void()> after);
// Waits until the work handed over for `destination` is done.
void WaitForBackgroundWorkOn(const std::string& destination);

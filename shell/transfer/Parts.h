// The concerns the tree transfer is made of, one file each. Private to this folder:
// callers see only Transfer.h. Every step appends what went wrong to `messages`, in the
// order the boxes are to be shown, and returns false; none shows anything.
//
// A transfer makes the next tree out of the save (the tree before the destination's),
// changing only what differs from the source, and then switches names: the next tree
// becomes the destination, the destination the save. What it takes out of the save goes
// into an undo folder, and a journal written before the first change says what it adds,
// so that a failure, or the repair after a kill, puts the save back exactly as it was.
#pragma once

#include "shell/TreeListing.h"
#include "shell/transfer/Names.h"
#include "shell/transfer/Transfer.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// Appends the message and returns false, so that a step fails and tells in one line.
bool Fail(Messages& messages, const std::string& title, const std::string& text);

// ---- Manifest.cpp: what each file of a tree was made from ------------------------------
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

// Which tree a manifest is about, and whether the volume keeps change times.
struct TreeIdentity {
    uint32_t volume = 0;
    uint64_t root = 0;
    bool keepsChangeTimes = false;
};
bool IdentifyTree(const std::string& root, TreeIdentity& identity);

// The manifest beside a tree: the tree's root folder and generation, and for each file
// as the transfer that made the tree left it (file ID, change time), its token.
struct Manifest {
    struct Recorded {
        uint64_t fileId = 0;
        uint64_t changed = 0;
        ContentToken token;
    };
    uint32_t volume = 0;
    uint64_t root = 0;
    uint64_t generation = 0;  // new with each tree a transfer makes; 0 from earlier versions
    std::map<std::wstring, Recorded> files;  // by folded name
};
// The manifest as written, or false: a torn or foreign file vouches for no file.
bool ReadManifest(const std::string& path, Manifest& manifest);
// Its first lines only: which tree and generation it is about.
bool ReadManifestStamp(const std::string& path, Manifest& stamp);
// The tokens the files of a tree (`entries`) carry: a file still as `manifest` recorded it
// carries the recorded token, any other its own. None at all where the volume keeps no
// change times.
ContentTokens TokensOf(const TreeIdentity& tree, const std::vector<TreeEntry>& entries, const Manifest* manifest);
// A manifest for the tree `tree` as listed in `entries`, each file with its token in
// `tokens`, written whole or not at all.
bool WriteManifest(const std::string& path, const TreeIdentity& tree, uint64_t generation,
                   const std::vector<TreeEntry>& entries, const ContentTokens& tokens);
uint64_t NewGeneration();

// ---- Listing.cpp: a tree as the transfer looks at it ------------------------------------
struct TreeLook {
    std::string root;
    TreeIdentity identity;
    uint64_t generation = 0;  // of the manifest that vouched for it; 0 for none
    std::vector<TreeEntry> entries;
    ContentTokens tokens;

    // Rebuilt after the entries change.
    void Index();
    const TreeEntry* Find(const std::wstring& foldedName) const;
    const ContentToken* TokenOf(const std::wstring& foldedName) const;

private:
    std::map<std::wstring, size_t> index_;
};
// Lists the tree at `root` whole, with its identity and the tokens that the manifest at
// `manifestPath` vouches for (none when it names another tree).
bool LookAtTree(const std::string& root, const std::string& manifestPath, Links links, TreeLook& look,
                std::string& problem);
// The source as the transfer reads it; refused when it cannot be listed, and when it is
// empty while the destination holds data (an empty source never replaces data).
bool ReadSource(const std::string& source, const TransferNames& names, TreeLook& look, Messages& messages);
// Files that Explorer (thumbnail caches, folder settings) and macOS (Finder settings,
// resource forks on foreign volumes) write into folders someone merely looked at.
bool IsLitter(const TreeEntry& entry);
// Relative names, kinds, sizes and last-write times, independent of listing order. The
// files that Explorer and macOS leave in folders they show are not counted.
uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries);
// The relative name of the folder that holds `relative` ("" for the root).
std::wstring ParentOf(const std::wstring& relative);

// ---- Plan.cpp: what the next tree needs --------------------------------------------------
// Same name, size, last-write time, attributes and content token: the same file.
bool SameFile(const TreeEntry& a, const ContentToken* aToken, const TreeEntry& b, const ContentToken* bToken);
// The destination holds the source already: nothing to copy, nothing to rotate.
bool SameTree(const TreeLook& source, const TreeLook& destination);

struct Plan {
    struct Entry {
        std::wstring relative;
        bool folder = false;
    };
    // A file of the next tree that is written: the source's entry, and a file of the
    // destination's own side with the same content to copy from (null: from the source).
    struct Placement {
        size_t source = 0;
        const TreeEntry* ownSide = nullptr;
    };
    struct FolderAttributes {
        std::wstring relative;
        bool made = false;  // a new folder: it has no attributes to put back
        DWORD before = 0;
        DWORD after = 0;
    };
    bool fresh = false;                     // no save to start from: the next tree starts empty
    // A save that holds a link (junction, symbolic link) is never worked in: a rename of a
    // link can move what it points to (Wine). It stays whole and goes under this name at
    // the switch ("<destination>.2delete-<n>"), deleted if it can be.
    std::string saveAside;
    std::string historyId;  // the history entry this transfer makes, when it makes one
    std::vector<Entry> moves;               // entries of the save taken out, a folder with all it holds
    std::vector<std::wstring> newFolders;   // folders made, parents first
    std::vector<Placement> placements;      // files written, in the source's order
    std::vector<FolderAttributes> attributes;  // folders whose attributes change, new ones included
    uint64_t files = 0, bytes = 0;          // written
    uint64_t keptFiles = 0, keptBytes = 0;  // left as the save holds them
};
// The next tree made out of `save` (null: from nothing): what is taken out, made and
// written so that it holds the source. A file the save holds with the source's content is
// kept; one written is copied from `ownSide` (the destination's tree) where that holds it.
Plan MakePlan(const TreeLook& source, const TreeLook* save, const TreeLook* ownSide);

// ---- Undo.cpp: the journal of the next tree, and putting the save back ----------------
struct Journal {
    bool fresh = false;     // the next tree was made empty: undoing it is deleting it
    std::string saveAside;  // where the save goes at the switch; empty when it stays
    std::string historyId;  // the history entry the switch keeps the undo folder in; empty for none
    std::vector<Plan::Entry> takenOut;  // parents first
    std::vector<Plan::Entry> added;     // parents first
    std::vector<std::pair<std::wstring, DWORD>> attributes;  // folders of the save, as they were
};
std::string JournalText(const Plan& plan, const TreeLook& source);
// The journal as written, or false: one cut short was never the word (it is written
// whole before anything changes), and without it nothing was changed.
bool ReadJournal(const std::string& path, Journal& journal);
// A small file of the program's own, whole.
bool ReadText(const std::string& path, std::string& content);
// Written, and on disk, before the first change to the next tree.
bool WriteJournal(const TransferNames& names, const Plan& plan, const TreeLook& source, Messages& messages);
// Puts the next tree back as the journal says the save was, and gives it back the save's
// name (a fresh one, or one whose save has come back meanwhile, goes). Then the journal,
// the undo folder, the check record and the next tree's manifest go. Each step may be
// cut short and done again.
bool TakeBackNext(const TransferNames& names, Messages& messages);
// What a finished switch or take-back leaves: the journal, the undo folder, the check
// record and the next tree's manifest, with what a write cut short left of them.
void RemoveUndoTraces(const TransferNames& names);
// After a switch that went as planned: the undo folder (when it has one), the journal and
// the check record; nothing else can be there.
void RemoveSwitchTraces(const TransferNames& names, bool undoFolder);
// The name the journal gave a save that goes aside at the switch; empty for none.
std::string SaveAsideInJournal(const TransferNames& names);
// A free "<destination>.2delete-<n>" for a tree moved out of the way.
std::string FreeAsideName(const TransferNames& names);

// ---- Build.cpp: the next tree made from the save -----------------------------------------
struct Built {
    std::map<std::wstring, std::wstring> touchedFolders;  // the folders changed: by folded name, the name
    std::vector<std::wstring> writtenFiles;  // relative names
};
// Carries out the plan in names.next, counting written files into `progress` (may be null)
// and `figures`, and stopping at its cancel. A source file that changed while it was
// copied is copied again, and its entry in `source` follows it.
bool BuildNext(TreeLook& source, const TreeLook* ownSide, const Plan& plan, const TransferNames& names,
               TransferProgress* progress, TransferFigures& figures, Built& built, Messages& messages);

// ---- Flush.cpp: the next tree on disk before a name calls it whole ---------------------
// The files written, then the folders changed, deepest first, and the tree's own folder.
bool FlushBuilt(const std::string& root, const Built& built, Messages& messages);
// Every file of the tree at `root` and its folders (a set-aside, made whole).
bool FlushTree(const std::string& root, std::vector<TreeEntry>& entries, Messages& messages);
// The renames made in the folder that holds `path`, put on disk where the file system can.
void FlushParentOf(const std::string& path);
// A copy built under `building` takes the name `name` once it is on disk, file by file;
// one that cannot (or `built` false, or a cancel in `progress` before the name) goes, with
// its messages under `title`.
bool NameWhenWhole(const std::wstring& building, const std::string& name, bool built, Messages& messages,
                   const char* title, TransferProgress* progress = nullptr);

// ---- Verify.cpp: the check of the next tree ------------------------------------------
// The next tree as it is now: the folders the build touched listed again, the rest as the
// save's listing has them (all listed when there was no save).
bool ListNext(const TransferNames& names, const TreeLook* save, const Built& built, std::vector<TreeEntry>& next,
              Messages& messages);
// The next tree holds exactly the source's entries: names, kinds, sizes, times, attributes.
bool VerifyNext(const TreeLook& source, const std::vector<TreeEntry>& next, Messages& messages);
// The record (names.check) of what a whole next tree holds, written once it is verified and
// on disk: a next tree that no longer matches it (a crash, a delete) is never switched in.
bool WriteCheckRecord(const TransferNames& names, const std::vector<TreeEntry>& entries, Messages& messages);
bool NextIsWhole(const TransferNames& names);
void RemoveCheckRecord(const TransferNames& names);
// A copy the same as its source listing, files with the same sizes (set-asides).
bool CopyMatchesListing(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot, const std::wstring& copy,
                        Messages& messages, const char* title);

// ---- Switch.cpp: the renames that put the next tree in place ----------------------------
// One rename of a tree (through the shell where the paths fit it); its failure ("renaming"
// and the error) is appended.
bool RenameFolder(const std::string& from, const std::string& to, Messages& messages);
enum class Switched { Done, NotDone, Stuck };
// Destination -> save, next -> destination, and the manifests with them; the undo traces
// are the caller's. NotDone: nothing was renamed (undone), the next tree is as built.
// Stuck: the destination could not be put back; the next tree is whole and the repair
// finishes.
Switched SwitchIn(const TransferNames& names, const std::string& saveAside, Messages& messages);
// The manifests follow the trees once the next tree has the destination's name.
void MoveManifestsAfterSwitch(const TransferNames& names);

// ---- Beside.cpp: what lies beside the destination --------------------------------------
struct Beside {
    bool destination = false, save = false, next = false, undo = false, journal = false, check = false,
         nextManifest = false;
    bool temporaries = false;  // a file written aside before its rename ("<name>.new")
    // Left by earlier versions.
    bool incoming = false, complete = false, completeCheck = false, oldSave = false;
    std::vector<std::string> letGo;  // "<destination>.deleting-<hex>" folders, deleted in the background once

    bool Traces() const {
        return next || undo || journal || check || nextManifest || temporaries || incoming || complete ||
               completeCheck || oldSave || !letGo.empty();
    }
};
// One look at the folder that holds the destination (a single directory query on a
// share). False when it cannot be read.
bool LookBeside(const TransferNames& names, Beside& beside, std::string& problem);

// ---- History.cpp: the history beside the share's data -----------------------------------
struct HistoryNames {
    explicit HistoryNames(const std::string& destination)
        : folder(HistoryFolder(destination)), log(folder + "\\periods.log") {}
    std::string Entry(const std::string& id) const { return folder + "\\" + id; }
    std::string Incoming(const std::string& id) const { return Entry(id) + ".incoming"; }
    std::string folder;
    std::string log;  // one line per record; a line cut short by a crash is left out
};
std::string NewHistoryId();
// The files `source` adds, changes and removes against `present` (null: not known).
std::vector<HistoryChange> ChangesAgainst(const TreeLook& source, const TreeLook* present);
// Before the switch: the entry under its working name, with the record (its own copy, for
// the repair), the changes and the journal. False when none could be made: the copy goes
// on without.
bool PrepareHistoryEntry(const TransferNames& names, const HistoryRecord& record,
                         const std::vector<HistoryChange>& changes);
// After the switch: the undo folder goes into the entry, which takes its own name, and the
// record into the log; then the journal and the check record go. Each step may be cut
// short and done again: `afterKill` looks first whether the log has the record already.
void KeepHistoryEntry(const TransferNames& names, const std::string& id, bool afterKill);
// An entry whose switch was not done goes.
void DropHistoryEntry(const TransferNames& names, const std::string& id);
// Whether the destination holds the tree the entry's record says its switch made.
bool HistoryEntrySwitched(const TransferNames& names, const std::string& id);
// The oldest increments beyond what `retention` keeps go (and records past the last
// thousand), under the lock.
void PruneHistory(const TransferNames& names, const HistoryRetention& retention);

// ---- Repair.cpp -----------------------------------------------------------------------
// What an earlier version of the program left: its copies being made or checked and its
// save before last. Ends with the destination and its save, as that version would.
bool RepairEarlierVersion(const TransferNames& names, const Beside& is, Messages& messages);

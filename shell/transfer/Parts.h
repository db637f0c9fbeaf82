// The concerns the tree transfer is made of, one file each. Private to this folder:
// callers see only Transfer.h. Every step appends what went wrong to `messages`, in the
// order the boxes are to be shown, and returns false; none shows anything.
#pragma once

#include "shell/TreeListing.h"
#include "shell/transfer/Names.h"
#include "shell/transfer/Transfer.h"

#include <string>
#include <vector>

// Appends the message and returns false, so that a step fails and tells in one line.
bool Fail(Messages& messages, const std::string& title, const std::string& text);

// ---- Listing.cpp: the source as the transfer reads it ----------------------------------
// The source listed whole into `entries`; refused when it cannot be, and when it is empty
// while the destination holds data (an empty source never replaces data).
bool ReadSource(const std::string& source, const TransferNames& names, std::vector<TreeEntry>& entries,
                Messages& messages);
// Relative names, kinds, sizes and last-write times, independent of listing order.
uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries);

// ---- Assembly.cpp: the new tree at the incoming name -----------------------------------
// Builds a copy of the source at names.incoming (which must not exist): files that the
// previous tree at the destination holds unchanged (same name, size, last-write time and
// attributes) are copied there on the destination's own side, the rest cross from the
// source. Counts every file placed into `progress` (may be null) and `figures`, and stops
// at its cancel.
bool AssembleIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                      const TransferNames& names, TransferProgress* progress, TransferFigures& figures,
                      Messages& messages);

// ---- Verify.cpp: the check of the copy ---------------------------------------------------
// The incoming tree holds exactly the entries of the source listing, files with their sizes.
bool VerifyIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names, Messages& messages);

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
bool FlushTree(const std::string& root, std::vector<TreeEntry>& entries, Messages& messages);
// The renames made in the folder that holds `path`, put on disk where the file system can.
void FlushParentOf(const std::string& path);

// ---- Switch.cpp: the renames that put the verified tree in place -----------------------
// One rename through the shell; its failure ("renaming" and the error) is appended.
bool RenameFolder(const std::string& from, const std::string& to, Messages& messages);
// Incoming -> complete, save -> old save, destination -> save, complete -> destination,
// then the old save goes. A failed rename is undone by the renames before it, in reverse,
// and the new copy loses its verified name before it is deleted.
bool SwitchIn(const TransferNames& names, Messages& messages);

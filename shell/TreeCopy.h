// The pieces the tree transfer is built from, shared by its files in this folder.
#pragma once

#include "shell/TreeListing.h"

#include <string>
#include <utility>
#include <vector>

// The shell's copy of everything inside `source` into the existing folder `destination`.
// Reports its own failure or the user's cancel in a box.
bool ShellCopyContents(const char* source, const char* destination);
// The shell's copy of single files, each to its own full destination path, in one
// operation (so one progress display and one Cancel). Reports as above.
bool ShellCopyFiles(const std::vector<std::pair<std::wstring, std::wstring>>& files);

// Deletes a tree with everything in it, read-only entries included, without the shell
// (whose delete costs as much as a copy). Unless `quiet`, a failure shows "Deleting" and
// the system error. A missing folder counts as deleted.
bool RemoveTreeDirect(const std::wstring& folder, bool quiet);

// The copy at `copyRoot` holds every entry of the source listing, files with the same
// size; with `exact`, nothing else either. Otherwise `difference` names the first
// difference.
bool CopyMatchesSource(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot,
                       const std::wstring& copyRoot, bool exact, std::string& difference);

// Builds a copy of the source tree at `target` (which must not exist): files that the
// previous tree at `previous` holds unchanged (same name, size, last-write time and
// attributes) are copied from there; the rest come from the source through the shell.
bool AssembleCopy(const char* source, const std::vector<TreeEntry>& sourceEntries, const std::wstring& previous,
                  const std::wstring& target);

bool PathExistsW(const std::wstring& path);

// Assembling a new copy from the previous tree and the source: only what changed
// crosses from the source; the rest is copied on the destination's own side.
#include "shell/TreeCopy.h"
#include "shell/Wintools.h"

#include <map>

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Only an exact match may stand in for the source's file.
bool Unchanged(const TreeEntry& source, const TreeEntry* previous) {
    return previous && !previous->folder && previous->size == source.size &&
           SameTime(previous->written, source.written) &&
           (previous->attributes & kKeptAttributes) == (source.attributes & kKeptAttributes);
}

std::map<std::wstring, const TreeEntry*> FilesByName(const std::vector<TreeEntry>& entries) {
    std::map<std::wstring, const TreeEntry*> files;
    for (const auto& entry : entries)
        if (!entry.folder) files[FoldedName(entry.relative)] = &entry;
    return files;
}

// The previous tree's files; none when it cannot be listed whole (then all is copied).
std::vector<TreeEntry> PreviousFiles(const std::wstring& previous) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (previous.empty() || !ListTree(previous, entries, problem)) entries.clear();
    return entries;
}

bool MakeFolders(const std::vector<TreeEntry>& sourceEntries, const std::wstring& target) {
    if (!CreateDirectoryW(target.c_str(), nullptr))
        return ShowErrorMessage(nullptr, "Copying", SystemErrorName(static_cast<int32_t>(GetLastError())));
    for (const auto& entry : sourceEntries) {
        if (!entry.folder) continue;
        if (!CreateDirectoryW(JoinPath(target, entry.relative).c_str(), nullptr))
            return ShowErrorMessage(nullptr, "Copying", SystemErrorName(static_cast<int32_t>(GetLastError())));
    }
    return true;
}

// Folder attributes as the source has them (files carry theirs through the copy).
void CopyFolderAttributes(const std::vector<TreeEntry>& sourceEntries, const std::wstring& target) {
    for (const auto& entry : sourceEntries)
        if (entry.folder && (entry.attributes & kKeptAttributes))
            SetFileAttributesW(JoinPath(target, entry.relative).c_str(), entry.attributes & kKeptAttributes);
}

}  // namespace

TransferFigures& LastTransferFigures() {
    static TransferFigures figures;
    return figures;
}

bool AssembleCopy(const char* source, const std::vector<TreeEntry>& sourceEntries, const std::wstring& previous,
                  const std::wstring& target) {
    TransferFigures& figures = LastTransferFigures();
    const std::vector<TreeEntry> previousEntries = PreviousFiles(previous);
    const auto previousFiles = FilesByName(previousEntries);
    const std::wstring sourceRoot = Widen(source);

    if (!MakeFolders(sourceEntries, target)) return false;
    std::vector<std::pair<std::wstring, std::wstring>> fromSource;
    uint64_t bytesFromSource = 0;
    for (const auto& entry : sourceEntries) {
        if (entry.folder) continue;
        const auto found = previousFiles.find(FoldedName(entry.relative));
        const TreeEntry* before = found == previousFiles.end() ? nullptr : found->second;
        const std::wstring to = JoinPath(target, entry.relative);
        // When in doubt (no match, or the local copy fails), the file comes from the source.
        if (Unchanged(entry, before) && CopyFileW(JoinPath(previous, before->relative).c_str(), to.c_str(), TRUE)) {
            ++figures.filesFromBackup;
            figures.bytesFromBackup += entry.size;
            continue;
        }
        fromSource.emplace_back(JoinPath(sourceRoot, entry.relative), to);
        bytesFromSource += entry.size;
    }

    // Nothing to take from the previous tree: one copy of the whole source, as ever.
    const bool whole = figures.filesFromBackup == 0 && !fromSource.empty();
    if (!(whole ? ShellCopyContents(source, Narrow(target).c_str()) : ShellCopyFiles(fromSource))) return false;
    figures.filesFromSource = fromSource.size();
    figures.bytesFromSource = bytesFromSource;
    CopyFolderAttributes(sourceEntries, target);
    return true;
}

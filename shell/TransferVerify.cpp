// The check that a copy holds the whole source: the shell reports success for copies
// that skipped files, so only what is found on disk counts.
#include "shell/TreeCopy.h"

#include <map>

bool CopyMatchesSource(const std::vector<TreeEntry>& source, const std::wstring& sourceRoot,
                       const std::wstring& copyRoot, bool exact, std::string& difference) {
    std::vector<TreeEntry> copied;
    if (!ListTree(copyRoot, copied, difference)) return false;
    std::map<std::wstring, const TreeEntry*> byName;
    for (const auto& entry : copied) byName[FoldedName(entry.relative)] = &entry;

    for (const auto& entry : source) {
        const auto found = byName.find(FoldedName(entry.relative));
        const std::wstring sourcePath = JoinPath(sourceRoot, entry.relative);
        if (found == byName.end() || found->second->folder != entry.folder) {
            difference = "Not copied: " + Narrow(sourcePath);
            return false;
        }
        if (found->second->size != entry.size) {
            difference = "Copied with a different size: " + Narrow(sourcePath);
            return false;
        }
        byName.erase(found);
    }
    if (exact && !byName.empty()) {
        difference = "Not in the source: " + Narrow(JoinPath(copyRoot, byName.begin()->second->relative));
        return false;
    }
    return true;
}

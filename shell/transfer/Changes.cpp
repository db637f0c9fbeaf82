// What changed between the source and the destination's present tree. Equal names,
// sizes, times and attributes are no proof: some programs put a file's times back after
// writing it. A file counts as unchanged only when both sides also carry the same content
// token (Manifest.cpp), which a write always breaks.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool SameKeptAttributes(const TreeEntry& a, const TreeEntry& b) {
    return (a.attributes & kKeptAttributes) == (b.attributes & kKeptAttributes);
}

const ContentToken* TokenOf(const ContentTokens& tokens, const std::wstring& foldedName) {
    const auto found = tokens.find(foldedName);
    return found == tokens.end() ? nullptr : &found->second;
}

bool SameFile(const TreeEntry& source, const ContentToken* sourceToken, const TreeEntry& previous,
              const ContentToken* previousToken) {
    return !previous.folder && previous.size == source.size && SameTime(previous.written, source.written) &&
           SameKeptAttributes(previous, source) && sourceToken && previousToken && *sourceToken == *previousToken;
}

std::map<std::wstring, const TreeEntry*> ByName(const std::vector<TreeEntry>& entries) {
    std::map<std::wstring, const TreeEntry*> byName;
    for (const auto& entry : entries) byName[FoldedName(entry.relative)] = &entry;
    return byName;
}

}  // namespace

Changes FindChanges(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names) {
    Changes changes;
    changes.tokens = CurrentTokens(source, sourceEntries);
    std::vector<TreeEntry> previous;
    std::string problem;
    // A destination that cannot be listed whole gives nothing: then all is copied.
    if (!ListTree(Widen(names.destination), previous, problem)) return changes;
    const ContentTokens previousTokens = CurrentTokens(names.destination, previous);
    const auto previousByName = ByName(previous);

    bool same = previous.size() == sourceEntries.size();
    for (const auto& entry : sourceEntries) {
        const std::wstring name = FoldedName(entry.relative);
        const auto found = previousByName.find(name);
        if (found == previousByName.end()) {
            same = false;
            continue;
        }
        const TreeEntry& before = *found->second;
        // A name whose letter case changed is carried, though its content may come from here.
        if (before.relative != entry.relative || before.folder != entry.folder) same = false;
        if (entry.folder) {
            if (!before.folder || !SameKeptAttributes(before, entry)) same = false;
        } else if (SameFile(entry, TokenOf(changes.tokens, name), before, TokenOf(previousTokens, name))) {
            changes.unchanged[name] = before;
        } else {
            same = false;
        }
    }
    changes.nothing = same;
    return changes;
}

void ForgetMovedFiles(const std::string& source, const std::vector<TreeEntry>& sourceEntries, ContentTokens& tokens) {
    std::vector<TreeEntry> now;
    std::string problem;
    if (!ListTree(Widen(source), now, problem)) {
        tokens.clear();
        return;
    }
    const auto nowByName = ByName(now);
    for (const auto& entry : sourceEntries) {
        if (entry.folder) continue;
        const std::wstring name = FoldedName(entry.relative);
        const auto found = nowByName.find(name);
        if (found == nowByName.end() || found->second->fileId != entry.fileId ||
            !SameTime(found->second->changed, entry.changed) || found->second->size != entry.size ||
            !SameTime(found->second->written, entry.written))
            tokens.erase(name);
    }
}

SaveMatches FindInSave(const std::vector<TreeEntry>& sourceEntries, const ContentTokens& sourceTokens,
                       const TransferNames& names) {
    SaveMatches matches;
    std::vector<TreeEntry> saved;
    std::string problem;
    TreeIdentity tree;
    // A save that cannot be listed whole gives nothing.
    if (!IdentifyTree(names.save, tree) || !ListTree(Widen(names.save), saved, problem)) return matches;
    const ContentTokens savedTokens = CurrentTokens(names.save, saved);
    const auto savedByName = ByName(saved);
    for (const auto& entry : sourceEntries) {
        if (entry.folder) continue;
        const std::wstring name = FoldedName(entry.relative);
        const auto found = savedByName.find(name);
        if (found == savedByName.end()) continue;
        const TreeEntry& before = *found->second;
        const ContentToken* token = TokenOf(savedTokens, name);
        // A link would be linked as itself, not as the file it points to.
        if (IsLink(before) || !SameFile(entry, TokenOf(sourceTokens, name), before, token)) continue;
        matches.files[name] = before;
        // Its own token: a program wrote it, and the system may still hold the data.
        if (*token == ContentToken{tree.volume, before.fileId, TimeValue(before.changed)})
            matches.writtenSince.insert(name);
    }
    return matches;
}

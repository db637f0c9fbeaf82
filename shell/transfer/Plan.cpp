// What the next tree needs: which entries of the save stay, which are taken out, which
// folders are made and which files written. Equal names, sizes, times and attributes are
// no proof: some programs put a file's times back after writing it. A file stays only
// when both sides also carry the same content token (Manifest.cpp), which a write always
// breaks.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool SameKeptAttributes(const TreeEntry& a, const TreeEntry& b) {
    return (a.attributes & kKeptAttributes) == (b.attributes & kKeptAttributes);
}

// The same entry on both sides, letter case included; a link is never the same as
// anything (what it points to is not the save's to keep).
bool SameEntry(const TreeEntry& source, const ContentToken* sourceToken, const TreeEntry& other,
               const ContentToken* otherToken) {
    if (source.relative != other.relative || source.folder != other.folder || IsLink(other)) return false;
    if (source.folder) return SameKeptAttributes(source, other);
    return SameFile(source, sourceToken, other, otherToken);
}

enum class Fate { Stays, TakenOut, GoesWithFolder };

class Planner {
public:
    Planner(const TreeLook& source, const TreeLook* save, const TreeLook* ownSide)
        : source_(source), save_(save), ownSide_(ownSide) {}

    Plan Make() {
        plan_.fresh = save_ == nullptr;
        if (save_)
            for (const auto& entry : save_->entries) DecideSaveEntry(entry);
        for (size_t i = 0; i < source_.entries.size(); ++i) PlaceSourceEntry(i);
        return std::move(plan_);
    }

private:
    // Parents come before their contents: a folder's fate is known when its entries come.
    void DecideSaveEntry(const TreeEntry& entry) {
        const std::wstring name = FoldedName(entry.relative);
        const auto parent = fates_.find(ParentOf(name));
        if (parent != fates_.end() && parent->second != Fate::Stays) {
            fates_[name] = Fate::GoesWithFolder;
            return;
        }
        const TreeEntry* wanted = source_.Find(name);
        const bool stays = wanted && Stays(*wanted, entry, name);
        fates_[name] = stays ? Fate::Stays : Fate::TakenOut;
        if (!stays) {
            plan_.moves.push_back({entry.relative, entry.folder});
            return;
        }
        if (entry.folder && !SameKeptAttributes(*wanted, entry))
            plan_.attributes.push_back({entry.relative, false, entry.attributes & kKeptAttributes,
                                        wanted->attributes & kKeptAttributes});
        if (!entry.folder) {
            ++plan_.keptFiles;
            plan_.keptBytes += entry.size;
        }
    }

    // A folder that keeps its name stays, whatever its attributes: only those change.
    bool Stays(const TreeEntry& wanted, const TreeEntry& entry, const std::wstring& name) const {
        if (wanted.folder && entry.folder) return wanted.relative == entry.relative && !IsLink(entry);
        return SameEntry(wanted, source_.TokenOf(name), entry, save_->TokenOf(name));
    }

    void PlaceSourceEntry(size_t i) {
        const TreeEntry& entry = source_.entries[i];
        const std::wstring name = FoldedName(entry.relative);
        const auto fate = fates_.find(name);
        if (fate != fates_.end() && fate->second == Fate::Stays) return;
        if (entry.folder) {
            plan_.newFolders.push_back(entry.relative);
            if (entry.attributes & kKeptAttributes)
                plan_.attributes.push_back({entry.relative, true, 0, entry.attributes & kKeptAttributes});
            return;
        }
        plan_.placements.push_back({i, OwnSideCopy(entry, name)});
        ++plan_.files;
        plan_.bytes += entry.size;
    }

    // A file of the destination's present tree with the source's content: copied on that
    // side instead of crossing from the source.
    const TreeEntry* OwnSideCopy(const TreeEntry& entry, const std::wstring& name) const {
        if (!ownSide_) return nullptr;
        const TreeEntry* there = ownSide_->Find(name);
        if (!there || there->folder || IsLink(*there)) return nullptr;
        return SameFile(entry, source_.TokenOf(name), *there, ownSide_->TokenOf(name)) ? there : nullptr;
    }

    const TreeLook& source_;
    const TreeLook* save_;
    const TreeLook* ownSide_;
    std::map<std::wstring, Fate> fates_;  // the save's entries, by folded name
    Plan plan_;
};

}  // namespace

bool SameFile(const TreeEntry& a, const ContentToken* aToken, const TreeEntry& b, const ContentToken* bToken) {
    return !a.folder && !b.folder && a.size == b.size && SameTime(a.written, b.written) && SameKeptAttributes(a, b) &&
           aToken && bToken && *aToken == *bToken;
}

bool SameTree(const TreeLook& source, const TreeLook& destination) {
    if (source.entries.size() != destination.entries.size()) return false;
    for (const auto& entry : source.entries) {
        const std::wstring name = FoldedName(entry.relative);
        const TreeEntry* there = destination.Find(name);
        if (!there || !SameEntry(entry, source.TokenOf(name), *there, destination.TokenOf(name))) return false;
    }
    return true;
}

Plan MakePlan(const TreeLook& source, const TreeLook* save, const TreeLook* ownSide) {
    return Planner(source, save, ownSide).Make();
}

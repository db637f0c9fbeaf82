// What a transfer saw of a tree, kept for a later step of the same period, and the cheap
// look that tells whether the tree is still that one: its root folder and the generation
// its manifest names change with every tree a transfer switches in.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

TreeSeen::TreeSeen(std::shared_ptr<const TreeLook> look) : look_(std::move(look)) {}

uint64_t TreeSeen::Fingerprint() const { return look_ ? TreeFingerprint(look_->entries) : 0; }

TreeSeen SeeTree(const std::string& folder) {
    auto look = std::make_shared<TreeLook>();
    std::string problem;
    const TransferNames names(folder);
    if (!LookAtTree(folder, names.EndsInSeparator() ? "" : names.manifest, Links::Enter, *look, problem)) return {};
    return TreeSeen(look);
}

namespace {

std::map<std::wstring, const TreeEntry*> WithoutLitter(const TreeLook& look) {
    std::map<std::wstring, const TreeEntry*> entries;
    for (const auto& entry : look.entries)
        if (!IsLitter(entry)) entries[FoldedName(entry.relative)] = &entry;
    return entries;
}

}  // namespace

bool SameAsSeen(const TreeSeen& now, const TreeSeen& before) {
    if (!now.Known() || !before.Known()) return false;
    const auto a = WithoutLitter(*now.Look()), b = WithoutLitter(*before.Look());
    if (a.size() != b.size()) return false;
    for (const auto& [name, entry] : a) {
        const auto other = b.find(name);
        if (other == b.end()) return false;
        const TreeEntry& e = *entry;
        const TreeEntry& o = *other->second;
        if (e.relative != o.relative || e.folder != o.folder ||
            (e.attributes & kKeptAttributes) != (o.attributes & kKeptAttributes))
            return false;
        if (e.folder) continue;
        const ContentToken* t = now.Look()->TokenOf(name);
        const ContentToken* u = before.Look()->TokenOf(name);
        if (e.size != o.size || TimeValue(e.written) != TimeValue(o.written) || (t && u && !(*t == *u)) || (!t != !u))
            return false;
    }
    return true;
}

SeenAgain LookAgain(const std::string& folder, const TreeSeen& seen) {
    TreeIdentity now;
    if (!IdentifyTree(folder, now)) return SeenAgain::Unreadable;
    const TreeLook* look = seen.Look();
    if (!look || now.volume != look->identity.volume || now.root != look->identity.root) return SeenAgain::Changed;
    if (look->generation) {
        Manifest stamp;
        const TransferNames names(folder);
        return !names.EndsInSeparator() && ReadManifestStamp(names.manifest, stamp) && stamp.root == now.root &&
                       stamp.generation == look->generation
                   ? SeenAgain::Same
                   : SeenAgain::Changed;
    }
    // A tree no manifest of ours names (an earlier version made it): its listing tells.
    uint64_t fingerprint = 0;
    if (!FingerprintFolder(folder, fingerprint)) return SeenAgain::Unreadable;
    return fingerprint == seen.Fingerprint() ? SeenAgain::Same : SeenAgain::Changed;
}

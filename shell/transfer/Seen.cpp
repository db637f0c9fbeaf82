// What a transfer saw of a tree, kept for a later step of the same period, and the cheap
// look that tells whether the tree is still that one: its root folder and the generation
// its manifest names change with every tree a transfer switches in.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

TreeSeen::TreeSeen(std::shared_ptr<const TreeLook> look) : look_(std::move(look)) {}

uint64_t TreeSeen::Fingerprint() const { return look_ ? TreeFingerprint(look_->entries) : 0; }

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

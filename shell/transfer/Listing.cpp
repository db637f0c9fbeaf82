// Trees as the transfer looks at them: listed whole once, with the content tokens their
// manifest vouches for; and the fingerprint of a tree.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

#include <algorithm>

namespace {

void Mix(uint64_t& hash, const void* bytes, size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        hash ^= p[i];
        hash *= 1099511628211ull;  // FNV-1a
    }
}

std::string CannotRead(const std::string& folder) {
    return "Cannot read folder: " + folder + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")";
}

}  // namespace

bool IsLitter(const TreeEntry& entry) {
    if (entry.folder) return false;
    const size_t separator = entry.relative.find_last_of(L"\\/");
    const std::wstring name = FoldedName(separator == std::wstring::npos ? entry.relative : entry.relative.substr(separator + 1));
    return name == L"THUMBS.DB" || name == L"DESKTOP.INI" || name == L".DS_STORE" || name.rfind(L"._", 0) == 0;
}

void TreeLook::Index() {
    index_.clear();
    for (size_t i = 0; i < entries.size(); ++i) index_[FoldedName(entries[i].relative)] = i;
}

const TreeEntry* TreeLook::Find(const std::wstring& foldedName) const {
    const auto found = index_.find(foldedName);
    return found == index_.end() ? nullptr : &entries[found->second];
}

const ContentToken* TreeLook::TokenOf(const std::wstring& foldedName) const {
    const auto found = tokens.find(foldedName);
    return found == tokens.end() ? nullptr : &found->second;
}

bool LookAtTree(const std::string& root, const std::string& manifestPath, Links links, TreeLook& look,
                std::string& problem) {
    look = TreeLook{};
    look.root = root;
    if (!IdentifyTree(root, look.identity)) {
        problem = CannotRead(root);
        return false;
    }
    if (!ListTree(Widen(root), look.entries, problem, links)) return false;
    Manifest manifest;
    const bool vouches = !manifestPath.empty() && ReadManifest(manifestPath, manifest) &&
                         manifest.volume == look.identity.volume && manifest.root == look.identity.root;
    look.generation = vouches ? manifest.generation : 0;
    look.tokens = TokensOf(look.identity, look.entries, vouches ? &manifest : nullptr);
    look.Index();
    return true;
}

bool ReadSource(const std::string& source, const TransferNames& names, TreeLook& look, Messages& messages) {
    if (source.empty()) return Fail(messages, "Copying", "No source folder given");
    const TransferNames sourceNames(source);
    // "X\" would name a file inside the tree: such a tree has no manifest.
    const std::string manifest = sourceNames.EndsInSeparator() ? "" : sourceNames.manifest;
    std::string problem;
    if (!LookAtTree(source, manifest, Links::Enter, look, problem)) return Fail(messages, "Copying", problem);
    if (!look.entries.empty()) return true;
    std::vector<TreeEntry> destinationEntries;
    if (ListOneFolder(Widen(names.destination), L"", destinationEntries, problem) && destinationEntries.empty())
        return true;
    return Fail(messages, "Copying",
                "The source folder is empty: " + source + "\nNothing was copied, so that " + names.destination +
                    " keeps its data.");
}

uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries) {
    std::vector<const TreeEntry*> sorted;
    sorted.reserve(entries.size());
    for (const auto& e : entries)
        if (!IsLitter(e)) sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(),
              [](const TreeEntry* a, const TreeEntry* b) { return FoldedName(a->relative) < FoldedName(b->relative); });
    uint64_t hash = 14695981039346656037ull;
    for (const TreeEntry* e : sorted) {
        Mix(hash, e->relative.data(), e->relative.size() * sizeof(wchar_t));
        const wchar_t end = 0;
        Mix(hash, &end, sizeof end);
        const unsigned char kind = e->folder ? 1 : 0;
        Mix(hash, &kind, 1);
        if (!e->folder) {
            Mix(hash, &e->size, sizeof e->size);
            Mix(hash, &e->written, sizeof e->written);
        }
    }
    return hash;
}

std::wstring ParentOf(const std::wstring& relative) {
    const size_t cut = relative.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : relative.substr(0, cut);
}

bool FingerprintFolder(const std::string& folder, uint64_t& fingerprint) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(Widen(folder), entries, problem)) return false;
    fingerprint = TreeFingerprint(entries);
    return true;
}

// The source as the transfer reads it, and the fingerprint of a tree.
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

// Files that Explorer (thumbnail caches, folder settings) and macOS (Finder settings,
// resource forks on foreign volumes) write into folders someone merely looked at.
bool IsLitter(const TreeEntry& entry) {
    if (entry.folder) return false;
    const size_t separator = entry.relative.find_last_of(L"\\/");
    const std::wstring name = FoldedName(separator == std::wstring::npos ? entry.relative : entry.relative.substr(separator + 1));
    return name == L"THUMBS.DB" || name == L"DESKTOP.INI" || name == L".DS_STORE" || name.rfind(L"._", 0) == 0;
}

}  // namespace

bool ReadSource(const std::string& source, const TransferNames& names, std::vector<TreeEntry>& entries,
                Messages& messages) {
    if (source.empty()) return Fail(messages, "Copying", "No source folder given");
    std::string problem;
    if (!ListTree(Widen(source), entries, problem)) return Fail(messages, "Copying", problem);
    std::vector<TreeEntry> destinationEntries;
    if (entries.empty() && (!ListTree(Widen(names.destination), destinationEntries, problem) ||
                            !destinationEntries.empty()))
        return Fail(messages, "Copying",
                    "The source folder is empty: " + source + "\nNothing was copied, so that " + names.destination +
                        " keeps its data.");
    return true;
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

bool FingerprintFolder(const std::string& folder, uint64_t& fingerprint) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(Widen(folder), entries, problem)) return false;
    fingerprint = TreeFingerprint(entries);
    return true;
}

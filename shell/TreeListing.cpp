#include "shell/TreeListing.h"

#include "forms/Handles.h"
#include "shell/Wintools.h"

#include <algorithm>

namespace {

bool IsDots(const wchar_t* name) { return !lstrcmpW(name, L".") || !lstrcmpW(name, L".."); }

std::string CannotRead(const std::wstring& folder, DWORD error) {
    return "Cannot read folder: " + Narrow(folder) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")";
}

// Lists one folder into `entries`; subfolders are queued in `pending`.
bool ListFolder(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& entries,
                std::vector<std::wstring>& pending, std::string& problem) {
    const std::wstring folder = relative.empty() ? root : JoinPath(root, relative);
    WIN32_FIND_DATAW data;
    forms::FindHandle search(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
    if (!search) {
        const DWORD error = GetLastError();
        // An empty folder has no "." on some file systems: that is no error.
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    do {
        if (IsDots(data.cFileName)) continue;
        TreeEntry entry;
        entry.relative = relative.empty() ? data.cFileName : JoinPath(relative, data.cFileName);
        entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.folder ? 0 : (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.written = data.ftLastWriteTime;
        entry.attributes = data.dwFileAttributes;
        if (entry.folder) pending.push_back(entry.relative);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.Get(), &data));
    // A listing cut short by anything but its end is not a listing of the folder.
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        problem = CannotRead(folder, error);
        SetLastError(error);
        return false;
    }
    return true;
}

void Mix(uint64_t& hash, const void* bytes, size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        hash ^= p[i];
        hash *= 1099511628211ull;  // FNV-1a
    }
}

}  // namespace

bool ListTree(const std::wstring& root, std::vector<TreeEntry>& entries, std::string& problem) {
    entries.clear();
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        problem = CannotRead(root, error);
        SetLastError(error);
        return false;
    }
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
        const std::wstring relative = pending.back();
        pending.pop_back();
        if (!ListFolder(root, relative, entries, pending, problem)) return false;
    }
    return true;
}

uint64_t TreeFingerprint(const std::vector<TreeEntry>& entries) {
    std::vector<const TreeEntry*> sorted;
    sorted.reserve(entries.size());
    for (const auto& e : entries) sorted.push_back(&e);
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

bool FingerprintFolder(const char* folder, uint64_t& fingerprint) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(Widen(folder ? folder : ""), entries, problem)) return false;
    fingerprint = TreeFingerprint(entries);
    return true;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return L"";
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n, nullptr, nullptr);
    return narrow;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') return folder + L"\\" + name;
    return folder + name;
}

std::wstring FoldedName(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

// The manifest beside a tree: for each file as the transfer that made the tree left it
// (file ID, change time), the content token it was given. A file still so carries that
// token; one written since (its change time moves, even when a program puts the
// last-write time back) carries its own. The manifest names the tree's root folder and a
// generation new with each tree, so one left beside another tree is ignored, and a later
// step can tell the tree it listed from one switched in since.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace {

constexpr char kFirstLine[] = "Carvelund manifest 2";
constexpr char kEarlierFirstLine[] = "Carvelund manifest 1";  // no generation

// FAT and exFAT keep no change time: a file written there with its time put back would
// look untouched.
bool KeepsChangeTimes(const wchar_t* fileSystem) {
    std::wstring name(fileSystem);
    for (auto& c : name) c = static_cast<wchar_t>(towupper(c));
    return !name.empty() && name.rfind(L"FAT", 0) != 0 && name != L"EXFAT";
}

// At most `limit` bytes from the start of the file.
bool ReadFileStart(const std::string& path, size_t limit, std::string& content) {
    const std::wstring wide = Widen(path);
    NoteFileCall(wide);
    KernelHandle file(CreateFileW(LongPathForm(wide).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 256 * 1024 * 1024) return false;
    content.assign(std::min<size_t>(static_cast<size_t>(size.QuadPart), limit), '\0');
    DWORD read = 0;
    return content.empty() ||
           (::ReadFile(file.Get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr) &&
            read == content.size());
}

// Reads `count` hexadecimal numbers separated by blanks from `line` at `at`.
bool Numbers(const std::string& line, size_t& at, uint64_t* values, int count) {
    for (int i = 0; i < count; ++i) {
        const char* start = line.c_str() + at;
        char* end = nullptr;
        values[i] = std::strtoull(start, &end, 16);
        if (end == start || *end != ' ') return false;
        at += static_cast<size_t>(end - start) + 1;
    }
    return true;
}

// The first two lines: the format and the tree.
bool ReadHeader(const std::vector<std::string>& lines, Manifest& manifest) {
    if (lines.size() < 2) return false;
    const bool current = lines[0] == kFirstLine;
    if (!current && lines[0] != kEarlierFirstLine) return false;
    uint64_t tree[3] = {};
    size_t at = 5;
    if (lines[1].rfind("tree ", 0) != 0 || !Numbers(lines[1] + " ", at, tree, current ? 3 : 2)) return false;
    manifest.volume = static_cast<uint32_t>(tree[0]);
    manifest.root = tree[1];
    manifest.generation = tree[2];
    return true;
}

// Whole lines only: the last one ends too.
bool SplitLines(const std::string& content, std::vector<std::string>& lines, bool wholeOnly) {
    for (size_t at = 0; at < content.size();) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos) return !wholeOnly;
        lines.push_back(content.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

uint64_t Mixed(uint64_t x) {  // splitmix64's finish
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

}  // namespace

bool IdentifyTree(const std::string& root, TreeIdentity& identity) {
    const std::wstring wide = Widen(root);
    NoteFileCall(wide);
    KernelHandle folder(CreateFileW(LongPathForm(wide).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !GetFileInformationByHandle(folder.Get(), &info)) return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    identity.volume = info.dwVolumeSerialNumber;
    identity.root = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    wchar_t fileSystem[MAX_PATH + 1] = L"";
    identity.keepsChangeTimes = GetVolumeInformationByHandleW(folder.Get(), nullptr, 0, nullptr, nullptr, nullptr,
                                                              fileSystem, MAX_PATH + 1) &&
                                KeepsChangeTimes(fileSystem);
    return identity.root != 0;
}

bool ReadManifest(const std::string& path, Manifest& manifest) {
    std::string content;
    std::vector<std::string> lines;
    if (!ReadFileStart(path, SIZE_MAX, content) || !SplitLines(content, lines, true) || lines.size() < 3 ||
        !ReadHeader(lines, manifest))
        return false;
    const size_t files = lines.size() - 3;
    if (lines.back() != "end " + std::to_string(files)) return false;
    manifest.files.clear();
    for (size_t i = 2; i < lines.size() - 1; ++i) {
        uint64_t v[5];
        size_t at = 0;
        if (!Numbers(lines[i], at, v, 5) || at >= lines[i].size()) return false;
        manifest.files[FoldedName(FromUtf8(lines[i].substr(at)))] = {v[0], v[1], {static_cast<uint32_t>(v[2]), v[3], v[4]}};
    }
    return true;
}

bool ReadManifestStamp(const std::string& path, Manifest& stamp) {
    std::string content;
    std::vector<std::string> lines;
    return ReadFileStart(path, 256, content) && SplitLines(content, lines, false) && ReadHeader(lines, stamp);
}

ContentTokens TokensOf(const TreeIdentity& tree, const std::vector<TreeEntry>& entries, const Manifest* manifest) {
    ContentTokens tokens;
    if (!tree.keepsChangeTimes) return tokens;
    const bool vouches = manifest && manifest->volume == tree.volume && manifest->root == tree.root;
    for (const auto& entry : entries) {
        const uint64_t changed = TimeValue(entry.changed);
        if (entry.folder || !entry.fileId || !changed) continue;
        const std::wstring name = FoldedName(entry.relative);
        const auto recorded = vouches ? manifest->files.find(name) : manifest->files.end();
        if (vouches && recorded != manifest->files.end() && recorded->second.fileId == entry.fileId &&
            recorded->second.changed == changed)
            tokens[name] = recorded->second.token;
        else
            tokens[name] = {tree.volume, entry.fileId, changed};
    }
    return tokens;
}

bool WriteManifest(const std::string& path, const TreeIdentity& tree, uint64_t generation,
                   const std::vector<TreeEntry>& entries, const ContentTokens& tokens) {
    std::string content = std::string(kFirstLine) + "\ntree " + Hex(tree.volume) + " " + Hex(tree.root) + " " +
                          Hex(generation) + "\n";
    size_t files = 0;
    for (const auto& entry : entries) {
        const auto token = tokens.find(FoldedName(entry.relative));
        if (entry.folder || token == tokens.end() || !entry.fileId || !TimeValue(entry.changed)) continue;
        content += Hex(entry.fileId) + " " + Hex(TimeValue(entry.changed)) + " " + Hex(token->second.volume) + " " +
                   Hex(token->second.fileId) + " " + Hex(token->second.changed) + " " + Utf8(entry.relative) + "\n";
        ++files;
    }
    content += "end " + std::to_string(files) + "\n";
    // Written just before the switch, which puts the folder's names on disk.
    return WriteFileDurably(Widen(path), content, FolderFlush::ByCaller).ok;
}

uint64_t NewGeneration() {
    static std::atomic<uint64_t> counter{0};
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    const uint64_t generation = Mixed(TimeValue(now) ^ Mixed(uint64_t(GetCurrentProcessId()) << 32 ^ counter++) ^
                                      Mixed(static_cast<uint64_t>(ticks.QuadPart)));
    return generation ? generation : 1;
}
